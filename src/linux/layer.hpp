// What the Linux layer keeps for the run, for a folder and for one
// listing, and what its files share: files.cpp reads palettes and makes
// listings, and writes whatever is written; access.cpp looks at who may use
// a listing, by the rules of access_rules.cpp; process.cpp holds signals
// and writes messages. Portable code sees only the names (platform.hpp).
#ifndef HUEMILL_LINUX_LAYER_HPP
#define HUEMILL_LINUX_LAYER_HPP

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <string>
#include <string_view>
#include <utility>

#include "platform.hpp"

namespace huemill::platform {

// Whether a way of naming extended attributes works here: found out the
// first time a listing needs it.
enum class Works { unknown, yes, no };

// What lives for the run. The current folder is the one the run started
// in, and every argument is taken relative to it, unless the attributes
// must be named from inside a listing's folder: then the run goes back to
// the start folder after that listing, and where it cannot, no later
// argument that depends on the current folder is converted.
struct System {
    // How the old listing's extended attributes are named where it stands
    // in a folder other than the start folder, chosen for each call: with
    // the calls Linux 6.13 added, through the folder's descriptor; else
    // through /proc/self/fd/N, the descriptor's name in /proc; else, where
    // /proc is not there either, from inside the folder, made the current
    // one for that listing's length.
    Works list_at = Works::unknown;  // listxattrat
    Works get_at = Works::unknown;   // getxattrat
    Works proc_fd = Works::unknown;
    int start = -1;             // the start folder, opened the first time the run leaves it
    bool start_failed = false;  // ... or not, where it could not be
    bool away = false;          // the current folder is not the start folder
};

// One argument's folder, opened (O_PATH) once for its palette and its
// listing; AT_FDCWD for the start folder.
struct Folder {
    int descriptor = AT_FDCWD;
};

// What stands at a listing's name, where it is a regular file that is
// replaced: looked at before the temporary file exists, so that nothing
// needs to be read, or memory found, once it does.
struct OldListing {
    struct stat status {};
    std::string attribute_names;  // its extended attributes', each ending in NUL
    std::string acl;              // its access ACL as stored, or empty for none
    std::string narrowed_acl;     // ... narrowed, for where its group is not kept
    // Its user.* attributes, each as its name, a NUL, its value's size (a
    // std::size_t as the host stores it) and its value.
    std::string user_attributes;
};

// One listing, from begin_listing until its handle goes.
struct Listing {
    Listing(System& its_system, const Folder& its_folder, std::string file_name)
        : system(its_system), folder(its_folder), file(std::move(file_name)) {}

    System& system;
    const Folder& folder;
    std::string file;                        // its file name within the folder
    bool replaces = false;                   // a regular file stands at the name, and is replaced:
    OldListing old;                          // ... what it has
    std::string attribute_path;              // the old listing's name in /proc, where named so
    bool entered = false;                    // its folder was made the current one
    const std::string* temporary = nullptr;  // the temporary file's name within the folder
    int descriptor = -1;                     // the temporary file, while open
    struct stat given {};                    // what the temporary file was given when created
};

// errno after a failed call, or EIO where the call left it unset, so that a
// failure is never mistaken for success.
inline int failure_errno() { return errno != 0 ? errno : EIO; }

// files.cpp: writes all of bytes to descriptor, going on where a write
// takes only part or is interrupted. Returns 0 or the error.
int write_all(int descriptor, std::string_view bytes);

// files.cpp: makes the listing's folder the current one for the rest of
// the listing, where it is not the start folder (see System). Returns 0 or the
// error.
int enter_folder(Listing& listing);

// access.cpp: whether this user may replace the regular file standing at
// the listing's name (its status in listing.old), and all that
// copy_metadata will need of it. Returns 0; ENOENT where the file is gone;
// ENODATA where an attribute it listed was gone when read (look again); or
// the error that says why not (EACCES: it may not be written).
int look_at_old_listing(Listing& listing);

}  // namespace huemill::platform

#endif
