// What the Linux layer keeps of the run's listings, and what its files
// share: files.cpp reads palettes and makes listings, access.cpp looks at
// who may use them, process.cpp writes messages. Portable code sees only
// the name Listing (platform.hpp).
#ifndef HUEMILL_LINUX_LISTING_HPP
#define HUEMILL_LINUX_LISTING_HPP

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <string>
#include <string_view>

#include "platform.hpp"

namespace huemill::platform {

// What the run knows of the current folder, from its first listing to its
// last. Between listings it is the folder the run started in, so that each
// argument names what it named when the run began (/proc/self/cwd too). A
// listing that replaces a file in another folder makes that folder the
// current one while it is replaced, because extended attributes have no
// call that takes a folder's descriptor (before Linux 6.13): they are named
// relative to the current folder.
struct RunFolder {
    int start = -1;             // the start folder, opened the first time the run leaves it
    bool start_failed = false;  // ... or not, where it could not be
    bool away = false;          // the current folder is not the start folder
};

// What stands at a listing's name, where it is a regular file that is
// replaced: looked at before the temporary file exists, so that nothing
// needs to be read, or memory found, once it does.
struct OldListing {
    struct stat status {};
    std::string attribute_names;  // its extended attributes', each ending in NUL
    std::string acl;              // its access ACL as stored, or empty for none
    // Its user.* attributes, each as its name, a NUL, its value's size (a
    // std::size_t as the host stores it) and its value.
    std::string user_attributes;
};

// How the temporary file is created: decided by a look at its folder just
// before it is.
struct Creation {
    int error = 0;              // 0, or why the folder could not be looked at
    mode_t mode = 0666;         // the mode given to the create
    bool made_private = false;  // for its owner alone, until copy_metadata widens it
    bool inherits_acl = false;  // the folder gives it its default ACL
};

// The run's one listing in progress. RunFolder lives for the run; the rest
// belongs to one listing, from the read of its palette to end_listing.
struct Listing {
    RunFolder run;

    const char* input_file = "";    // its palette's file name within the folder
    struct stat input {};           // its palette's status, as read
    std::string folder_name;        // its path's folder part, "" for the start folder
    int folder = AT_FDCWD;          // that folder, opened for it; AT_FDCWD: the start folder
    bool named_from_start = false;  // its path is relative to the start folder
    bool entered = false;           // its folder was made the current one
    std::string file;               // its file name within its folder
    std::string temporary;          // the temporary file's name within its folder
    int descriptor = -1;            // the temporary file, while open
    bool replaces = false;          // a regular file stands at the name, and is replaced:
    OldListing old;                 // ... what it has,
    Creation creation;              // ... and how its replacement was created
};

// errno after a failed call, or EIO where the call left it unset, so that a
// failure is never mistaken for success.
inline int failure_errno() { return errno != 0 ? errno : EIO; }

// process.cpp: writes all of bytes to descriptor, going on where a write
// takes only part or is interrupted. Returns 0 or the error.
int write_all(int descriptor, std::string_view bytes);

// access.cpp: whether this user may replace the regular file standing at
// the listing's name (its status in listing.old), and, in its folder, the
// current one, all that copy_metadata will need of it. Returns 0; ENOENT where
// the file is gone, which makes the listing a new one; ENODATA where an
// attribute it listed was gone when read (look again); or the error that
// says why not (EACCES: it may not be written).
int look_at_old_listing(Listing& listing);

// access.cpp: how to create the temporary file, from a look at the current
// folder now. A new listing gets what any new file gets. A replaced one
// gets the old listing's bits where a new file there would get exactly its
// owner and group and no ACL; otherwise it is private to its owner.
Creation creation_for(const Listing& listing);

}  // namespace huemill::platform

#endif
