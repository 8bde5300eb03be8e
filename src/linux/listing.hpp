// What the Linux layer keeps of the listing in progress, and what its files
// share. Not for portable code, which sees only the struct's name.
#ifndef HUEMILL_LINUX_LISTING_HPP
#define HUEMILL_LINUX_LISTING_HPP

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <string>

namespace huemill::platform {

// The listing in progress, from begin_listing to end_listing: one for the
// whole run, each listing's state set up again by begin_listing.
struct Listing {
    std::string name;            // as given
    int folder = AT_FDCWD;       // its folder, held open, or AT_FDCWD for the current one
    std::string file;            // its file name within that folder
    std::string temporary;       // the temporary file's name within that folder
    int descriptor = -1;         // the temporary file, while open
    bool replaces_file = false;  // a regular file stands at the name...
    struct stat old {};          // ... with this status
    std::string attributes;      // ... and these extended attributes, NUL-separated
};

// errno after a failed call, or EIO where the call left it unset, so that a
// failure is never mistaken for success.
inline int failure_errno() { return errno != 0 ? errno : EIO; }

// Whether this user may replace the regular file at the listing's name, and
// what of its access carry_over will need: 0, or the error that says why
// not (EACCES where it may not be written). access.cpp.
int look_at_access(Listing& listing);

}  // namespace huemill::platform

#endif
