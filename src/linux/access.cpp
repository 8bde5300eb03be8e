// huemill's hooks on Linux for access control (see platform.hpp): whether a
// listing may be replaced, and the old listing's owner, group, permission
// bits and access ACL given to its replacement, as the system stores them
// (Linux's extended attributes), without ever letting anyone use the
// replacement whom the old listing shut out.
//
// Everything is looked at before the temporary file exists: the old
// listing (status, write access, attribute names, ACL) for each listing,
// and its folder (the group and any default ACL a new file gets there)
// once per folder per run. Where a new file there would get exactly the
// old listing's owner, group and no ACL, the temporary file is made with
// the old listing's bits at once; otherwise it is made for its owner
// alone, and widened last, once its owner, group and ACL are right.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <string_view>

#include "platform.hpp"

namespace huemill::platform {
namespace {

// The user and group this process acts as, asked once.
uid_t effective_user() {
    static const uid_t user = geteuid();
    return user;
}
gid_t effective_group() {
    static const gid_t group = getegid();
    return group;
}

// The creation mask, asked once, and only where a listing is replaced.
mode_t creation_mask() {
    static const mode_t mask = [] {
        const mode_t current = umask(0);
        umask(current);
        return current;
    }();
    return mask;
}

// The access ACL and a folder's default ACL as the system stores them:
// copying these bytes copies the ACL, with no library needed.
constexpr char acl_attribute[] = "system.posix_acl_access";
constexpr char default_acl_attribute[] = "system.posix_acl_default";

// What a private temporary file is made with: for its owner alone.
constexpr mode_t private_mode = 0600;

// Reads into value what read gives: given a buffer and its size it fills
// the buffer, and given none it returns the size it needs (llistxattr and
// getxattr work so). Asks again where the value grew in between. Returns 0
// or the error.
template <typename Read>
int read_sized(Read read, std::string& value) {
    for (;;) {
        errno = 0;
        const ssize_t size = read(nullptr, 0);
        if (size == 0) {
            value.clear();
            return 0;
        }
        if (size > 0) {
            value.resize(static_cast<std::size_t>(size));
            const ssize_t got = read(value.data(), value.size());
            if (got >= 0) {
                value.resize(static_cast<std::size_t>(got));
                return 0;
            }
        }
        if (errno != ERANGE) {
            return failure_errno();
        }
    }
}

bool unsupported(int error) { return error == ENOTSUP || error == EOPNOTSUPP; }

// The value of the old listing's extended attribute name. Returns 0 or the
// error.
int read_attribute(const Listing& listing, const char* name, std::string& value) {
    return read_sized(
        [&](char* buffer, std::size_t size) {
            return lgetxattr(listing.file.c_str(), name, buffer, size);
        },
        value);
}

// The name in names (extended attribute names, each ending in NUL) that
// starts at at; moves at past it.
std::string_view next_name(std::string_view names, std::size_t& at) {
    const std::size_t end = std::min(names.find('\0', at), names.size());
    const std::string_view name = names.substr(at, end - at);
    at = end + 1;
    return name;
}

bool names_include(std::string_view names, std::string_view name) {
    for (std::size_t at = 0; at < names.size();) {
        if (next_name(names, at) == name) {
            return true;
        }
    }
    return false;
}

// The names of the old listing's extended attributes, into
// listing.attributes. Returns 0 or the error; a file system without them
// has none.
int list_attributes(Listing& listing) {
    const int error =
        read_sized([&](char* buffer,
                       std::size_t size) { return llistxattr(listing.file.c_str(), buffer, size); },
                   listing.attributes);
    if (unsupported(error)) {
        listing.attributes.clear();
        return 0;
    }
    return error;
}

// Learns what every new file in the listing's folder (the current one)
// gets, the same for the whole run: its group (the folder's where the
// folder is setgid, or where it is the user's own group, whatever the file
// system's rule; else not certain), and whether it inherits the folder's
// default ACL. Returns 0 or the error.
int learn_folder(Listing& listing) {
    struct stat folder {};
    if (stat(".", &folder) != 0) {
        return failure_errno();
    }
    listing.new_group = folder.st_gid;
    listing.new_group_known = (folder.st_mode & S_ISGID) != 0 || folder.st_gid == effective_group();
    errno = 0;
    const int error = getxattr(".", default_acl_attribute, nullptr, 0) >= 0 ? 0 : failure_errno();
    if (error != 0 && error != ENODATA && !unsupported(error)) {
        return error;
    }
    listing.folder_gives_acl = error == 0;
    listing.folder_learned = true;
    return 0;
}

// The offset in acl (as stored: a 4-byte header, then 8-byte entries of
// tag, permissions and id, little-endian) of its entry of tag, or 0 where
// it has none.
std::size_t acl_entry(const std::string& acl, unsigned tag) {
    for (std::size_t entry = 4; entry + 8 <= acl.size(); entry += 8) {
        const unsigned entry_tag = static_cast<unsigned char>(acl[entry]) |
                                   static_cast<unsigned>(static_cast<unsigned char>(acl[entry + 1]))
                                       << 8U;
        if (entry_tag == tag) {
            return entry;
        }
    }
    return 0;
}

// Where the old listing's group cannot be kept, its members count as
// others on the new one: so no one who changes class may gain, the owning
// group and others get only what both had. In mode, and in acl where the
// old listing had one (its ACL_GROUP_OBJ and ACL_OTHER entries).
void narrow_group_and_others(mode_t& mode, std::string& acl) {
    const mode_t both = (mode >> 3U) & mode & 07U;
    mode = (mode & ~static_cast<mode_t>(077)) | both << 3U | both;
    constexpr unsigned owning_group = 0x04, others = 0x20;
    const std::size_t group_entry = acl_entry(acl, owning_group);
    const std::size_t others_entry = acl_entry(acl, others);
    if (group_entry != 0 && others_entry != 0) {
        const char shared = static_cast<char>(acl[group_entry + 2] & acl[others_entry + 2]);
        acl[group_entry + 2] = acl[others_entry + 2] = shared;
    }
}

// Gives the private temporary file the old listing's owner where root
// replaces another user's listing (or fails: a listing never changes
// owner under root), and its group where this user may. Sets group_kept.
// Returns 0, error_owner_not_kept, or another error.
int keep_owner_and_group(const Listing& listing, bool& group_kept) {
    group_kept = true;
    if (effective_user() == 0 && listing.old.st_uid != 0) {
        if (fchown(listing.descriptor, listing.old.st_uid, listing.old.st_gid) == 0) {
            return 0;
        }
        return errno == EPERM ? error_owner_not_kept : failure_errno();
    }
    if (listing.new_group_known && listing.new_group == listing.old.st_gid) {
        return 0;
    }
    if (fchown(listing.descriptor, static_cast<uid_t>(-1), listing.old.st_gid) == 0) {
        return 0;
    }
    if (errno != EPERM) {
        return failure_errno();
    }
    group_kept = false;  // this user is not in that group
    return 0;
}

// Copies the old listing's user.* attributes, where the system allows: they
// are the user's own notes on the file, not what decides access.
void copy_user_attributes(const Listing& listing) {
    std::string value;
    for (std::size_t at = 0; at < listing.attributes.size();) {
        const std::string name(next_name(listing.attributes, at));
        if (name.rfind("user.", 0) == 0 && read_attribute(listing, name.c_str(), value) == 0) {
            fsetxattr(listing.descriptor, name.c_str(), value.data(), value.size(), 0);
        }
    }
}

// Whether this user may write to the old listing, which is then replaced;
// otherwise errno says why not. Its owner's write bit decides for its
// owner (an ACL never narrows the owner's rights); for anyone else, root
// included, the system says, as root may lack the right to override it.
bool may_write_old_listing(const Listing& listing) {
    if (effective_user() == listing.old.st_uid) {
        errno = EACCES;
        return (listing.old.st_mode & S_IWUSR) != 0;
    }
    return faccessat(AT_FDCWD, listing.file.c_str(), W_OK, AT_EACCESS) == 0;
}

}  // namespace

int look_at_access(Listing& listing) {
    listing.acl.clear();
    if (!may_write_old_listing(listing)) {
        return failure_errno();
    }
    if (const int error = list_attributes(listing)) {
        return error;
    }
    if (names_include(listing.attributes, acl_attribute)) {
        if (const int error = read_attribute(listing, acl_attribute, listing.acl)) {
            return error;
        }
    }
    return listing.folder_learned ? 0 : learn_folder(listing);
}

mode_t temporary_mode(Listing& listing) {
    if (!listing.replaces_file) {
        return 0666;  // what any new file gets
    }
    listing.made_private = !listing.acl.empty() || listing.folder_gives_acl ||
                           !listing.new_group_known || listing.new_group != listing.old.st_gid ||
                           listing.old.st_uid != effective_user();
    return listing.made_private ? private_mode : listing.old.st_mode & 0777U;
}

int carry_over(Listing& listing) {
    if (!listing.replaces_file) {
        return 0;  // a new listing gets what any new file gets
    }
    // The permission bits only: setuid, setgid and sticky do not suit a
    // listing, which is text.
    mode_t mode = listing.old.st_mode & 0777U;
    if (!listing.made_private) {
        // Made with these bits, less what the creation mask took away.
        copy_user_attributes(listing);
        const bool narrowed = (mode & ~creation_mask()) != mode;
        return narrowed && fchmod(listing.descriptor, mode) != 0 ? failure_errno() : 0;
    }
    bool group_kept = true;
    if (const int error = keep_owner_and_group(listing, group_kept)) {
        return error;
    }
    std::string acl = listing.acl;
    if (!group_kept) {
        narrow_group_and_others(mode, acl);
    }
    copy_user_attributes(listing);
    // Last, what opens the file to others: the ACL, which sets the bits
    // with it, or the bits, without any ACL the folder gave.
    if (!acl.empty()) {
        return fsetxattr(listing.descriptor, acl_attribute, acl.data(), acl.size(), 0) != 0
                   ? failure_errno()
                   : 0;
    }
    if (listing.folder_gives_acl && fremovexattr(listing.descriptor, acl_attribute) != 0 &&
        errno != ENODATA) {
        return failure_errno();
    }
    const bool as_made = !listing.folder_gives_acl && mode == (private_mode & ~creation_mask());
    return !as_made && fchmod(listing.descriptor, mode) != 0 ? failure_errno() : 0;
}

}  // namespace huemill::platform
