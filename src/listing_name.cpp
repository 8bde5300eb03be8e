// The listing's name, and its table's: both made from the palette's stem.
#include <algorithm>
#include <iterator>

#include "palette.hpp"
#include "platform.hpp"
#include "stem.h"

namespace huemill {

std::size_t file_name_start(std::string_view path) {
    constexpr bool windows = platform::backslash_separates_folders;
    // npos + 1 is 0: a path without a separator is all file name.
    const std::size_t after_separator = path.find_last_of(windows ? "/\\" : "/") + 1;
    // "C:sky.pal" is sky.pal in drive C's current folder.
    const bool drive = windows && path.size() >= 2 && path[1] == ':' &&
                       ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z'));
    return std::max<std::size_t>(after_separator, drive ? 2 : 0);
}

static_assert(listing_suffix == HUEMILL_LISTING_SUFFIX, "one suffix, shared with the build");

std::string_view stem_of(std::string_view argument) {
    const std::string_view file = argument.substr(file_name_start(argument));
    return file.substr(0, huemill_stem_length(file.data(), file.size()));
}

void listing_name(std::string_view argument, std::string& listing) {
    const std::string_view stem = stem_of(argument);
    listing.assign(argument.substr(0, file_name_start(argument)));
    listing.append(stem).append(listing_suffix);
}

std::string table_name(std::string_view stem) {
    std::string name = "palette";
    bool in_word = false;
    for (const char c : stem) {
        const bool letter_or_digit =
            (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
        if (letter_or_digit && !in_word) {
            name += '_';
        }
        if (letter_or_digit) {
            name += c;
        }
        in_word = letter_or_digit;
    }
    return name;
}

const char* why_no_table_name(std::string_view name) {
    // The keywords of C23 and C++23, and C++'s other spellings of operators.
    // clang-format off
    static constexpr std::string_view keywords[] = {
        "alignas", "alignof", "and", "and_eq", "asm", "auto", "bitand", "bitor", "bool", "break",
        "case", "catch", "char", "char8_t", "char16_t", "char32_t", "class", "compl", "concept",
        "const", "consteval", "constexpr", "constinit", "const_cast", "continue", "co_await",
        "co_return", "co_yield", "decltype", "default", "delete", "do", "double", "dynamic_cast",
        "else", "enum", "explicit", "export", "extern", "false", "float", "for", "friend", "goto",
        "if", "inline", "int", "long", "mutable", "namespace", "new", "noexcept", "not", "not_eq",
        "nullptr", "operator", "or", "or_eq", "private", "protected", "public", "register",
        "reinterpret_cast", "requires", "restrict", "return", "short", "signed", "sizeof",
        "static", "static_assert", "static_cast", "struct", "switch", "template", "this",
        "thread_local", "throw", "true", "try", "typedef", "typeid", "typename", "typeof",
        "typeof_unqual", "union", "unsigned", "using", "virtual", "void", "volatile", "wchar_t",
        "while", "xor", "xor_eq"};
    // clang-format on
    const auto letter = [](char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); };
    const auto digit = [](char c) { return c >= '0' && c <= '9'; };
    if (name.empty() || !(letter(name[0]) || name[0] == '_') ||
        !std::all_of(name.begin(), name.end(),
                     [&](char c) { return letter(c) || digit(c) || c == '_'; })) {
        return "not a name C and C++ take: a letter, then letters, digits and '_'";
    }
    if (name[0] == '_' || name.find("__") != std::string_view::npos) {
        return "C and C++ keep names with '_' first, or \"__\", for themselves";
    }
    if (std::find(std::begin(keywords), std::end(keywords), name) != std::end(keywords)) {
        return "a keyword of C or C++";
    }
    if (name.substr(0, 8) == "huemill_" || name.substr(0, 8) == "HUEMILL_") {
        return "huemill keeps names that start so for its own";
    }
    return nullptr;
}

}  // namespace huemill
