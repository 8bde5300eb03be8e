#include "message.hpp"

#include <algorithm>
#include <cerrno>

#include "palette.hpp"
#include "platform.hpp"
#include "unicode.hpp"

namespace huemill {
namespace {

// Characters that a terminal acts on, or shows as nothing or as a blank,
// so that two names would read alike: C1 controls; every character
// Unicode holds default-ignorable (Default_Ignorable_Code_Point, Unicode
// 15.1: the soft hyphen, joiners, the bidirectional controls, variation
// selectors, fillers, tag characters and the rest); line and paragraph
// separators and the interlinear annotation characters; every space but
// U+0020, and the Braille blank.
struct Range {
    char32_t first, last;
};
// clang-format off
constexpr Range shown_as_code_points[] = {
    {0x0080, 0x00A0},    // C1 controls; no-break space
    {0x00AD, 0x00AD},    // soft hyphen
    {0x034F, 0x034F},    // combining grapheme joiner
    {0x061C, 0x061C},    // Arabic letter mark
    {0x115F, 0x1160},    // Hangul choseong and jungseong fillers
    {0x1680, 0x1680},    // Ogham space mark
    {0x17B4, 0x17B5},    // Khmer inherent vowels
    {0x180B, 0x180F},    // Mongolian variation selectors and vowel separator
    {0x2000, 0x200F},    // spaces, zero-width characters, directional marks
    {0x2028, 0x202F},    // line and paragraph separators, embeddings, narrow no-break space
    {0x205F, 0x206F},    // medium mathematical space, word joiner, invisible operators, isolates
    {0x2800, 0x2800},    // Braille pattern blank
    {0x3000, 0x3000},    // ideographic space
    {0x3164, 0x3164},    // Hangul filler
    {0xFE00, 0xFE0F},    // variation selectors
    {0xFEFF, 0xFEFF},    // zero-width no-break space, the byte order mark
    {0xFFA0, 0xFFA0},    // halfwidth Hangul filler
    {0xFFF0, 0xFFFB},    // unassigned, interlinear annotation characters
    {0x1BCA0, 0x1BCA3},  // shorthand format controls
    {0x1D173, 0x1D17A},  // musical symbol formats
    {0xE0000, 0xE0FFF},  // tag characters, variation selectors 17 to 256
};
// clang-format on

bool shown_as_code_point(char32_t code_point) {
    for (const Range& range : shown_as_code_points) {
        if (code_point >= range.first && code_point <= range.last) {
            return true;
        }
    }
    return code_point >= 0xD800 && code_point <= 0xDFFF;  // a lone surrogate, in WTF-8
}

// Appends value in hexadecimal, in at least digits digits.
void append_hex(std::string& line, char32_t value, unsigned digits) {
    unsigned shift = 4 * (digits - 1);
    while (shift + 4 < 32 && (value >> (shift + 4)) != 0) {
        shift += 4;
    }
    for (;; shift -= 4) {
        line += upper_hex_digits[(value >> shift) & 0xFU];
        if (shift == 0) {
            break;
        }
    }
}

// Appends the escape of a byte that is no part of a character.
void append_byte_escape(std::string& line, unsigned char byte, bool in_brackets) {
    line += in_brackets ? "<0x" : "\\x";
    append_hex(line, byte, 2);
    if (in_brackets) {
        line += '>';
    }
}

// Appends the escape of code_point: <U+XXXX> in brackets; else \n, \t, \r
// and \\ for those, \xHH for other ASCII, \uXXXX up to U+FFFF and
// \UXXXXXXXX past it.
void append_escape(std::string& line, char32_t code_point, bool in_brackets) {
    if (in_brackets) {
        line += "<U+";
        append_hex(line, code_point, 4);
        line += '>';
    } else if (code_point == '\n' || code_point == '\t' || code_point == '\r' ||
               code_point == '\\') {
        line += '\\';
        line += code_point == '\n'   ? 'n'
                : code_point == '\t' ? 't'
                : code_point == '\r' ? 'r'
                                     : '\\';
    } else if (code_point < 0x80) {
        append_byte_escape(line, static_cast<unsigned char>(code_point), false);
    } else {
        line += code_point <= 0xFFFF ? "\\u" : "\\U";
        append_hex(line, code_point, code_point <= 0xFFFF ? 4 : 8);
    }
}

}  // namespace

bool shown_escaped(char32_t code_point, NameSystem system) {
    return code_point < 0x20 || code_point == 0x7F ||
           (code_point == '\\' && system == NameSystem::posix) || shown_as_code_point(code_point);
}

void append_printable(std::string& line, std::string_view text, NameSystem system) {
    // Where a backslash separates folders, no escape may start with one:
    // escapes are written in angle brackets, which no name there can hold.
    // A lone surrogate can be part of a name there.
    const bool windows = system == NameSystem::windows;
    // Most names are printable ASCII throughout: taken a run at a time.
    const auto plain = [](char c) { return c >= 0x20 && c < 0x7F && c != '\\'; };
    while (!text.empty()) {
        const std::size_t run = static_cast<std::size_t>(
            std::find_if_not(text.begin(), text.end(), plain) - text.begin());
        line.append(text.substr(0, run));
        text.remove_prefix(run);
        if (text.empty()) {
            break;
        }
        const auto byte = static_cast<unsigned char>(text.front());
        std::size_t length = 1;
        char32_t code_point = byte;
        if (byte >= 0x80) {
            length = utf8_character(text, code_point, windows);
        }
        if (length == 0) {
            append_byte_escape(line, byte, windows);
            length = 1;
        } else if (shown_escaped(code_point, system)) {
            append_escape(line, code_point, windows);
        } else {
            line.append(text.substr(0, length));
        }
        text.remove_prefix(length);
    }
}

std::string describe(int error) {
    switch (error) {
        case platform::error_reserved_device:
            return "Windows reserves this name for a device";
        case platform::error_owner_not_kept:
            return platform::system_words(EPERM);
        case platform::error_start_folder:
            return "Cannot open the folder huemill started in";
        default:
            return platform::system_words(error);
    }
}

void append_line(std::string& lines, std::string_view name, std::string_view text) {
    lines.append("huemill: ");
    append_printable(lines, name);
    lines.append(": ").append(text).append("\n");
}

void say(std::string_view name, std::string_view text) {
    std::string line;
    append_line(line, name, text);
    platform::write_text(platform::Stream::error, line);
}

void report(std::string_view name, int error, std::string_view detail) {
    std::string reason = describe(error);
    if (!detail.empty()) {
        reason.append(" (");
        append_printable(reason, detail);
        reason.append(")");
    }
    say(name, reason);
}

}  // namespace huemill
