// What the Windows layer keeps of the listing in progress, and what its
// files share. Portable code sees only the name Listing (platform.hpp).
#ifndef HUEMILL_WINDOWS_LISTING_HPP
#define HUEMILL_WINDOWS_LISTING_HPP

#include <windows.h>

#include <string>
#include <string_view>
#include <vector>

#include "platform.hpp"

namespace huemill::platform {

// The listing in progress, from begin_listing to end_listing: one for the
// whole run, set up again by begin_listing for each listing but for what
// the run has learned of the folder, kept while listings stay in it.
struct Listing {
    // The folder of the last listing, and whether its drive is one where a
    // failed write may show only when the file is flushed (a network drive).
    std::string folder_name;      // up to its last separator; "" for the current folder
    bool folder_learned = false;  // whether the one below is known
    bool flush_first = false;

    // This listing.
    bool input_known = false;                // whether input holds its palette's identity:
    BY_HANDLE_FILE_INFORMATION input{};      // ... its volume and file index, as read
    std::string_view input_file;             // its palette's file name
    std::wstring target;                     // its name, as the wide calls take it
    std::vector<unsigned char> rename_info;  // a FILE_RENAME_INFO to it, made beforehand
    std::wstring temporary_path;             // its temporary file's, once created
    void* file = nullptr;                    // the temporary file's handle, while open
    bool marked = false;                     // the temporary file goes when its handle closes
};

// files.cpp: writes all of bytes to file (a HANDLE), going on where a write
// takes only part. Returns 0 or the error.
int write_all(void* file, std::string_view bytes);

// The error for a Windows error code (a DWORD): its errno value where it
// has one, else a code describe() knows. errors.cpp.
int error_of(unsigned long code);

// error_of(GetLastError()).
int last_error();

}  // namespace huemill::platform

#endif
