// UTF-8 decoded and encoded, and names folded as file systems that ignore
// case fold them (see unicode.hpp).
#include "unicode.hpp"

#include <algorithm>
#include <iterator>
#include <string>

namespace huemill {
namespace {

// A run of code points that fold by adding delta: every one from first to
// last, or every other one (stride 2).
struct FoldRun {
    char32_t first, last;
    int delta;
    unsigned stride;
};
constexpr FoldRun fold_runs[] = {
#include "case_folding.inc"
};

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

bool equal_ignoring_case(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return ascii_lower(x) == ascii_lower(y);
           });
}

void append_utf8(std::string& text, char32_t code_point) {
    if (code_point < 0x80) {
        text += static_cast<char>(code_point);
        return;
    }
    constexpr unsigned lead[] = {0, 0xC0, 0xE0, 0xF0};
    const unsigned extra = code_point < 0x800 ? 1 : code_point < 0x10000 ? 2 : 3;
    text += static_cast<char>(lead[extra] | code_point >> (6 * extra));
    for (unsigned shift = 6 * extra; shift > 0;) {
        shift -= 6;
        text += static_cast<char>(0x80U | (code_point >> shift & 0x3FU));
    }
}

char32_t fold_case(char32_t code_point) {
    if (code_point < 0x80) {
        return static_cast<char32_t>(ascii_lower(static_cast<char>(code_point)));
    }
    const auto after =
        std::upper_bound(std::begin(fold_runs), std::end(fold_runs), code_point,
                         [](char32_t point, const FoldRun& run) { return point < run.first; });
    if (after == std::begin(fold_runs)) {
        return code_point;
    }
    const FoldRun& run = *std::prev(after);
    if (code_point > run.last || (code_point - run.first) % run.stride != 0) {
        return code_point;
    }
    return static_cast<char32_t>(static_cast<long>(code_point) + run.delta);
}

void fold_name(std::string_view name, std::string& folded, bool surrogates, bool trailing) {
    if (trailing) {
        name = without_trailing_dots(name);
    }
    // Names in ASCII alone, the most, in one pass.
    if (std::all_of(name.begin(), name.end(),
                    [](char c) { return static_cast<unsigned char>(c) < 0x80; })) {
        folded.assign(name);
        for (char& c : folded) {
            c = ascii_lower(c);
        }
        return;
    }
    folded.clear();
    while (!name.empty()) {
        char32_t code_point = static_cast<unsigned char>(name.front());
        std::size_t length = 1;
        if (code_point >= 0x80) {
            length = utf8_character(name, code_point, surrogates);
        }
        if (length == 0) {
            folded += name.front();
            length = 1;
        } else {
            append_utf8(folded, fold_case(code_point));
        }
        name.remove_prefix(length);
    }
}

}  // namespace huemill
