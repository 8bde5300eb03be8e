// Text as names hold it: UTF-8 (on Windows WTF-8, which may hold a lone
// surrogate), decoded one character at a time, and compared ignoring case
// as file systems that fold case compare it. Calls nothing: the portable
// code and each system's layer both stand on it.
#ifndef HUEMILL_UNICODE_HPP
#define HUEMILL_UNICODE_HPP

#include <cstddef>
#include <string>
#include <string_view>

namespace huemill {

// The length (2 to 4) of the well-formed UTF-8 character of a code point
// from U+0080 on at the start of text, and that code point, into
// code_point; 0 where none starts there: a stray, overlong or too large
// sequence, or a surrogate unless surrogates is set (WTF-8 holds a lone
// one so).
std::size_t utf8_character(std::string_view text, char32_t& code_point, bool surrogates = false);

// Appends code_point to text as UTF-8 (a surrogate as its three bytes,
// as WTF-8 holds one).
void append_utf8(std::string& text, char32_t code_point);

// c in lower case where it is an ASCII letter.
constexpr char ascii_lower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// Whether a and b are one name but for the case of ASCII letters.
bool equal_ignoring_case(std::string_view a, std::string_view b);

// code_point as Unicode's simple case folding has it (CaseFolding.txt, C
// and S): the one code point every case of a letter folds to, so that
// "Ä" and "ä" fold alike, and "ẞ" and "ß"; any other code point as it is.
char32_t fold_case(char32_t code_point);

// name without the dots and spaces it ends in, as Windows drops them when
// it opens a file ("sky.pal.c. ." is sky.pal.c).
constexpr std::string_view without_trailing_dots(std::string_view name) {
    return name.substr(0, name.find_last_not_of(". ") + 1);  // npos + 1 is 0
}

// Puts into folded the name name (UTF-8, or WTF-8 where surrogates) as a
// file system that ignores case compares it: each character case-folded,
// bytes that are no UTF-8 as they are, and where trailing is set, the dots
// and spaces it ends in dropped, as Windows drops them. Two names that a
// system takes for one fold to one string. Allocates only where folded
// has no room.
void fold_name(std::string_view name, std::string& folded, bool surrogates, bool trailing);

}  // namespace huemill

#endif
