#include "message.hpp"

#include <cerrno>

#include "palette.hpp"
#include "platform.hpp"

namespace huemill {
namespace {

// Characters that a terminal acts on, or shows as nothing, so that two
// names would read alike: C1 controls, and format characters (the soft
// hyphen, the zero-width characters, line and paragraph separators, the
// bidirectional controls, the word joiner and invisible operators, the byte
// order mark and the interlinear annotation characters).
bool shown_as_code_point(char32_t code_point) {
    const auto in = [code_point](char32_t first, char32_t last) {
        return code_point >= first && code_point <= last;
    };
    return in(0x80, 0x9F) || code_point == 0xAD || code_point == 0x061C || code_point == 0x180E ||
           in(0x200B, 0x200F) || in(0x2028, 0x202E) || in(0x2060, 0x206F) || code_point == 0xFEFF ||
           in(0xFFF9, 0xFFFB);
}

bool is_surrogate(char32_t code_point) { return code_point >= 0xD800 && code_point <= 0xDFFF; }

void append_code_point(std::string& line, char32_t code_point) {
    line += "\\u";
    for (unsigned shift = 12;; shift -= 4) {
        line += upper_hex_digits[(code_point >> shift) & 0xFU];
        if (shift == 0) {
            break;
        }
    }
}

}  // namespace

std::size_t utf8_character(std::string_view text, char32_t& code_point, bool surrogates) {
    const auto byte = [&text](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned lead = byte(0);
    std::size_t length = 0;
    // The range the second byte must fall in, which rules out overlong
    // forms, code points past U+10FFFF and, unless asked for, surrogates.
    unsigned low = 0x80, high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        code_point = lead & 0x1FU;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        code_point = lead & 0x0FU;
        low = lead == 0xE0 ? 0xA0 : 0x80;
        high = lead == 0xED && !surrogates ? 0x9F : 0xBF;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        code_point = lead & 0x07U;
        low = lead == 0xF0 ? 0x90 : 0x80;
        high = lead == 0xF4 ? 0x8F : 0xBF;
    } else {
        return 0;
    }
    if (text.size() < length || byte(1) < low || byte(1) > high) {
        return 0;
    }
    for (std::size_t i = 1; i < length; ++i) {
        if ((byte(i) & 0xC0U) != 0x80U) {
            return 0;
        }
        code_point = code_point << 6U | (byte(i) & 0x3FU);
    }
    return length;
}

void append_printable(std::string& line, std::string_view text) {
    while (!text.empty()) {
        const auto byte = static_cast<unsigned char>(text.front());
        std::size_t length = 1;
        char32_t code_point = byte;
        if (byte >= 0x80) {
            // A lone surrogate can be part of a Windows name.
            length = utf8_character(text, code_point, platform::names_in_wtf8);
        }
        if (length == 0) {
            line += {'\\', 'x', upper_hex_digits[byte >> 4U], upper_hex_digits[byte & 0xFU]};
            length = 1;
        } else if (byte == '\n') {
            line += "\\n";
        } else if (byte == '\t') {
            line += "\\t";
        } else if (byte == '\r') {
            line += "\\r";
        } else if (byte == '\\' && !platform::backslash_separates_folders) {
            line += "\\\\";  // so that "a\\nb" never reads as "a", a line end and "b"
        } else if (byte < 0x20 || byte == 0x7F) {
            line += {'\\', 'x', upper_hex_digits[byte >> 4U], upper_hex_digits[byte & 0xFU]};
        } else if (shown_as_code_point(code_point) || is_surrogate(code_point)) {
            append_code_point(line, code_point);
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

}  // namespace huemill
