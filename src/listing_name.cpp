// The listing's name, and its table's: both made from the palette's stem.
#include <algorithm>

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

}  // namespace huemill
