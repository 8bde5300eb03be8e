// Names on Windows: UTF-8 inside huemill, UTF-16 at the system's door, and
// the long form that lets a path pass the classic 260-character limit.
#ifndef HUEMILL_WINDOWS_PATHS_HPP
#define HUEMILL_WINDOWS_PATHS_HPP

#include <string>
#include <string_view>

namespace huemill::windows {

// text, UTF-8, in UTF-16; bytes that are not UTF-8 become U+FFFD.
std::wstring utf16(std::string_view text);

// text, UTF-16, in UTF-8; a lone surrogate becomes U+FFFD.
std::string utf8(std::wstring_view text);

// The name to hand the wide file calls for path (UTF-8): path itself, in
// UTF-16, where its full form is shorter than 260 characters, so that it
// means what it always meant; otherwise that full form (made absolute
// against the current folder, or the drive's, with '/' turned into '\',
// and "." and ".." resolved, as the system resolves a short path) in the
// \\?\ form (\\?\UNC\server\share\... for a UNC path), which every Windows
// since 2000 takes up to 32,767 characters long, long-path setting or not.
// A path that already starts with \\?\ or \\.\ is left as it is.
std::wstring system_path(std::string_view path);

// Whether Windows takes a file of this name (no folder part) for a device,
// wherever it stands: CON, PRN, AUX, NUL, COM0 to COM9, LPT0 to LPT9 (the
// digit may also be a superscript 1, 2 or 3), CONIN$ and CONOUT$, in any
// case, followed by spaces or by a dot and anything.
bool is_reserved_device_name(std::string_view file_name);

}  // namespace huemill::windows

#endif
