// Names on Windows: UTF-8 inside huemill, UTF-16 at the system's door, and
// the long form that lets a path pass the classic 260-character limit.
#ifndef HUEMILL_WINDOWS_PATHS_HPP
#define HUEMILL_WINDOWS_PATHS_HPP

#include <string>
#include <string_view>

namespace huemill::windows {

// text, WTF-8, in UTF-16: UTF-8, where a lone surrogate (U+D800 to U+DFFF,
// which a Windows name may hold) stands as its own three bytes. Bytes that
// are neither become U+FFFD.
std::wstring utf16(std::string_view text);

// The same, appended to wide: where wide has room for it, with no memory.
void append_utf16(std::wstring& wide, std::string_view text);

// text, UTF-16, in WTF-8: a lone surrogate is kept, so that utf16 gives
// back exactly text, and any name Windows holds can be named again.
std::string utf8(std::wstring_view text);

// How much of text, at most most units, goes out in one piece without
// ending inside a surrogate pair (never nothing where most is above 1).
std::size_t whole_characters(std::wstring_view text, std::size_t most);

// The name to hand the wide file calls for path (UTF-8): path itself, in
// UTF-16, where its full form is shorter than 260 characters, so that it
// means what it always meant; otherwise that full form (made absolute
// against the current folder, or the drive's, with '/' turned into '\',
// and "." and ".." resolved, as the system resolves a short path) in the
// \\?\ form (\\?\UNC\server\share\... for a UNC path), which every Windows
// since 2000 takes up to 32,767 characters long, long-path setting or not.
// A path that starts with \\?\ or \\.\, written exactly so, is left as it
// is. A device path written with other slashes (//?/ or //./) is one that
// Windows normalises, so it is treated as any other path.
std::wstring system_path(std::string_view path);

// The folder that folder names (a path up to its last separator, or ""
// for the current folder) made absolute as system_path makes a long path,
// ending in '\', in the \\?\ form: a name of any length appended to it is
// a path the wide calls take.
std::wstring literal_folder(std::string_view folder);

// Whether Windows takes a file of this name (no folder part, nor drive) for
// a device, wherever it stands: CON, PRN, AUX, NUL, COM0 to COM9, LPT0 to
// LPT9 (the digit may also be a superscript 1, 2 or 3), CONIN$ and CONOUT$,
// in any case, followed by spaces, or by a dot or a colon and anything.
bool is_reserved_device_name(std::string_view file_name);

}  // namespace huemill::windows

#endif
