// A name as a message may show it: on one line, and unable to drive or
// reorder what a terminal shows.
#ifndef HUEMILL_MESSAGE_HPP
#define HUEMILL_MESSAGE_HPP

#include <string>
#include <string_view>

namespace huemill {

// Appends text to line with every character that could break the line or
// drive the terminal escaped: line ends and tabs as \n, \r and \t; other
// control bytes, DEL and bytes that are not UTF-8 as \xHH; C1 controls
// (U+0080 to U+009F) and the bidirectional controls (U+061C, U+200E,
// U+200F, U+202A to U+202E, U+2066 to U+2069) as \uHHHH, and so, in a
// Windows name, a lone surrogate. Every other character, UTF-8 included,
// passes as it is.
void append_printable(std::string& line, std::string_view text);

}  // namespace huemill

#endif
