// Messages: huemill's one line on standard error, "huemill: NAME: REASON",
// with the name as a message may show it (on one line, and unable to drive
// or reorder what a terminal shows), and the UTF-8 that it is read as.
#ifndef HUEMILL_MESSAGE_HPP
#define HUEMILL_MESSAGE_HPP

#include <string>
#include <string_view>

#include "platform.hpp"

namespace huemill {

// Whose names a message shows: a POSIX system's (Linux), bytes in which a
// backslash is a character like any other; or Windows', WTF-8 in which a
// backslash separates folders.
enum class NameSystem { posix, windows };
constexpr NameSystem this_system =
    platform::backslash_separates_folders ? NameSystem::windows : NameSystem::posix;

// Appends text to line with every character that could break the line,
// drive the terminal, show as nothing or as a blank, escaped: line ends
// and tabs as \n, \r and \t; other control bytes, DEL and bytes that are
// not UTF-8 as \xHH; a backslash as \\ where it is no folder separator
// (not on Windows); C1 controls, every default-ignorable code point, line
// and paragraph separators, interlinear annotation characters, every space
// but U+0020 and the Braille blank as \uHHHH, past U+FFFF as \UHHHHHHHH,
// and so, in a Windows name, a lone surrogate. Where a backslash separates
// folders (Windows) and so cannot be escaped, every escape is written
// <U+HHHH> instead (<0xHH> for a byte), which no name there can hold.
// Every other character, UTF-8 included, passes as it is, so that two
// names that differ are shown differently. Letters of other scripts that
// look alike, and a character composed or decomposed, are not told apart.
// system says whose name text is; this one's, unless a test asks.
void append_printable(std::string& line, std::string_view text, NameSystem system = this_system);

// Whether append_printable shows the character code_point escaped in a
// name of system.
bool shown_escaped(char32_t code_point, NameSystem system = this_system);

// error in words, for a message: huemill's own errors (platform.hpp) in
// words of its own, every other in the system's ("No such file or
// directory").
std::string describe(int error);

// Appends to lines "huemill: NAME: ", then text and a line end, with name
// shown printable.
void append_line(std::string& lines, std::string_view name, std::string_view text);

// Writes one such line on standard error.
void say(std::string_view name, std::string_view text);

// Says on standard error, in one line, that name failed with error, and
// why in detail, in brackets, where there is more to say.
void report(std::string_view name, int error, std::string_view detail = "");

}  // namespace huemill

#endif
