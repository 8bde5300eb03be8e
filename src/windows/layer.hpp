// What the Windows layer keeps for the run, for a folder and for one
// listing, and what its files share. Portable code sees only the names
// (platform.hpp).
#ifndef HUEMILL_WINDOWS_LAYER_HPP
#define HUEMILL_WINDOWS_LAYER_HPP

#include <windows.h>

#include <string>
#include <string_view>
#include <vector>

#include "platform.hpp"

namespace huemill::platform {

// What lives for the run: whether the drive of the last folder a listing
// was made in is one where a failed write may show only when the file is
// flushed (a network drive), asked once for each run of listings there.
struct System {
    std::string learned_folder;  // that folder's name, as given
    bool learned = false;
    bool flush_first = false;
};

// A folder, named by its path: Windows does not let a folder that holds an
// open file be renamed, nor one held open without leave to delete it.
struct Folder {
    std::string name;      // up to its last separator, as given; "" for the current folder
    void* held = nullptr;  // for the run's output folder, its handle (hold_folder)
};

// One listing, from begin_listing until its handle goes.
struct Listing {
    Listing(System& its_system, const Folder& its_folder)
        : system(its_system), folder(its_folder) {}

    System& system;
    const Folder& folder;
    std::wstring target;                     // its name, as the wide calls take it
    std::vector<unsigned char> rename_info;  // a FILE_RENAME_INFO to it, made beforehand
    std::wstring temporary_folder;           // the folder, as its temporary file's path starts
    std::wstring temporary_path;             // its temporary file's, once created, room made
    void* file = nullptr;                    // the temporary file's handle, while open
    bool marked = false;                     // the temporary file goes when its handle closes
};

// process.cpp: whether Ctrl-C or its kin came while the listing in
// progress is being replaced, and waits for it to end the run.
bool interruption_pending();

// files.cpp: writes all of bytes to file (a HANDLE), going on where a write
// takes only part. Returns 0 or the error.
int write_all(void* file, std::string_view bytes);

// The error for a Windows error code (a DWORD): its errno value where it
// has one, else a code system_words() knows. errors.cpp.
int error_of(unsigned long code);

// error_of(GetLastError()).
int last_error();

}  // namespace huemill::platform

#endif
