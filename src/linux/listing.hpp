// What the Linux layer keeps of the listing in progress, and what its files
// share. Not for portable code, which sees only the struct's name.
#ifndef HUEMILL_LINUX_LISTING_HPP
#define HUEMILL_LINUX_LISTING_HPP

#include <sys/stat.h>

#include <cerrno>
#include <string>

namespace huemill::platform {

// The listing in progress. The run keeps one from its first listing to its
// last: begin_listing sets up each listing's part anew, and keeps the
// folder's part while listings stay in the same folder. Every name in it is
// relative to that folder, the current one.
struct Listing {
    // The folder of the last listing, which is the current folder, and what
    // the run has learned there, the same for every new file.
    std::string folder_name;        // its path up to its last '/', "" for the start folder
    bool folder_learned = false;    // whether the three below are known
    bool folder_gives_acl = false;  // a new file there inherits its default ACL
    bool new_group_known = false;   // a new file's group there is certain: ...
    gid_t new_group = 0;            // ... this one

    // This listing.
    std::string file;            // its file name within the folder
    std::string temporary;       // the temporary file's name within the folder
    int descriptor = -1;         // the temporary file, while open
    bool replaces_file = false;  // a regular file stands at the name...
    struct stat old {};          // ... with this status,
    std::string attributes;      // ... these extended attributes, NUL-separated,
    std::string acl;             // ... and this access ACL as stored, or none
    bool made_private = false;   // the temporary file was made for its owner alone
};

// errno after a failed call, or EIO where the call left it unset, so that a
// failure is never mistaken for success.
inline int failure_errno() { return errno != 0 ? errno : EIO; }

// access.cpp: whether this user may replace the regular file standing at the
// listing's name, and all carry_over will need of it and of its folder.
// Returns 0; ENOENT where the file is gone, which makes the listing a new
// one; ENODATA where an attribute it listed was gone when read (look
// again); or the error that says why not (EACCES: it may not be written).
int look_at_access(Listing& listing);

// access.cpp: the mode to create the temporary file with. For a new
// listing, what any new file gets; for a replaced one, its bits where a new
// file there gets exactly its owner and group and no ACL, and otherwise
// private to its owner (made_private), to be widened only once it has the
// old listing's owner, group and ACL.
mode_t temporary_mode(Listing& listing);

}  // namespace huemill::platform

#endif
