// Feeds arbitrary bytes to the name escaper as a name, as Linux and as
// Windows show names, and checks what a message would show: one line of
// UTF-8 in which no character drives a terminal or shows as nothing, and
// from which the name can be read back exactly, so that two names that
// differ never read alike. (On Windows '<' and '>' are no name
// characters; names that hold them are checked as Linux shows them only.)
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "message.hpp"
#include "unicode.hpp"

namespace {

using huemill::NameSystem;

void check(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "name check failed: %s\n", what);
        std::abort();
    }
}

// The value of the count hexadecimal digits at the front of text, which it
// passes; aborts where they are not there.
char32_t take_hex(std::string_view& text, std::size_t count) {
    check(text.size() >= count, "hex digits");
    char32_t value = 0;
    for (std::size_t i = 0; i < count; ++i) {
        const char c = text[i];
        const bool decimal = c >= '0' && c <= '9';
        check(decimal || (c >= 'A' && c <= 'F'), "upper-case hex digit");
        value = value * 16 + static_cast<char32_t>(decimal ? c - '0' : c - 'A' + 10);
    }
    text.remove_prefix(count);
    return value;
}

// The name shown, read back: every escape undone.
std::string read_back(std::string_view shown, NameSystem system) {
    std::string name;
    while (!shown.empty()) {
        const char c = shown.front();
        shown.remove_prefix(1);
        if (system == NameSystem::posix && c == '\\') {
            check(!shown.empty(), "an escape after a backslash");
            const char kind = shown.front();
            shown.remove_prefix(1);
            if (kind == 'x') {
                name += static_cast<char>(take_hex(shown, 2));
            } else if (kind == 'u' || kind == 'U') {
                huemill::append_utf8(name, take_hex(shown, kind == 'u' ? 4 : 8));
            } else {
                check(kind == 'n' || kind == 't' || kind == 'r' || kind == '\\', "a known escape");
                name += kind == 'n' ? '\n' : kind == 't' ? '\t' : kind == 'r' ? '\r' : '\\';
            }
        } else if (system == NameSystem::windows && c == '<') {
            const bool byte = shown.substr(0, 2) == "0x";
            check(byte || shown.substr(0, 2) == "U+", "<0x or <U+");
            shown.remove_prefix(2);
            const std::size_t digits = shown.find('>');
            check(digits != std::string_view::npos && digits >= (byte ? 2 : 4), "an escape's end");
            const char32_t value = take_hex(shown, digits);
            shown.remove_prefix(1);
            if (byte) {
                name += static_cast<char>(value);
            } else {
                huemill::append_utf8(name, value);
            }
        } else {
            name += c;
        }
    }
    return name;
}

// Checks name as system shows it.
void check_shown(std::string_view name, NameSystem system) {
    std::string shown;
    huemill::append_printable(shown, name, system);
    for (std::string_view rest = shown; !rest.empty();) {
        char32_t code_point = static_cast<unsigned char>(rest.front());
        std::size_t length = 1;
        if (code_point >= 0x80) {
            length = huemill::utf8_character(rest, code_point);
            check(length != 0, "UTF-8");
        }
        check(!huemill::shown_escaped(code_point, system) || code_point == '\\',
              "no character that is shown escaped");
        rest.remove_prefix(length);
    }
    check(read_back(shown, system) == name, "the name read back");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view name(reinterpret_cast<const char*>(data), size);
    check_shown(name, NameSystem::posix);
    if (name.find_first_of("<>") == std::string_view::npos) {
        check_shown(name, NameSystem::windows);
    }
    return 0;
}
