// huemill's hooks on Linux for access control (see platform.hpp): whether a
// listing may be replaced, and the old listing's owner, group, permission
// bits and access ACL carried over to its replacement, as the system stores
// them (Linux's extended attributes).
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <string_view>

#include "platform.hpp"

namespace huemill::platform {
namespace {

// The user this process acts as, asked once.
uid_t effective_user() {
    static const uid_t user = geteuid();
    return user;
}

// The access ACL as the system stores it: copying these bytes copies the
// ACL, with no library needed.
constexpr char acl_attribute[] = "system.posix_acl_access";

// Reads into value what read gives: given a buffer and its size it fills
// the buffer, and given none it returns the size it needs (llistxattr,
// lgetxattr and flistxattr work so). Asks again where the value grew in
// between. Returns 0 or the error.
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

// Reads into value what read (llistxattr or lgetxattr, given a path) gives
// for the old listing. The path leads through the folder this run holds
// open, so that it names the same file even if the folder has been renamed
// meanwhile; where that fails (no /proc) it is the listing's name. Returns
// 0 or the error.
template <typename Read>
int read_old_listing(const Listing& listing, Read read, std::string& value) {
    const auto read_path = [&](const std::string& path) {
        return read_sized(
            [&](char* buffer, std::size_t size) { return read(path.c_str(), buffer, size); },
            value);
    };
    if (listing.folder == AT_FDCWD) {
        return read_path(listing.file);
    }
    const int error =
        read_path("/proc/self/fd/" + std::to_string(listing.folder) + "/" + listing.file);
    return error == 0 ? 0 : read_path(listing.name);
}

// The value of the old listing's extended attribute name. Returns 0 or the
// error.
int read_attribute(const Listing& listing, const char* name, std::string& value) {
    return read_old_listing(
        listing,
        [name](const char* path, char* buffer, std::size_t size) {
            return lgetxattr(path, name, buffer, size);
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
    const int error = read_old_listing(
        listing,
        [](const char* path, char* buffer, std::size_t size) {
            return llistxattr(path, buffer, size);
        },
        listing.attributes);
    if (error == ENOTSUP || error == EOPNOTSUPP) {
        listing.attributes.clear();
        return 0;
    }
    return error;
}

// Whether the temporary file has an access ACL, into has_acl: where it has
// no extended attribute at all, the usual case, one call tells. Returns 0
// or the error.
int temporary_has_acl(const Listing& listing, bool& has_acl) {
    std::string names;
    const int error =
        read_sized([&](char* buffer,
                       std::size_t size) { return flistxattr(listing.descriptor, buffer, size); },
                   names);
    if (error != 0 && error != ENOTSUP && error != EOPNOTSUPP) {
        return error;
    }
    has_acl = error == 0 && names_include(names, acl_attribute);
    return 0;
}

// Takes away in acl (as stored: a 4-byte header, then 8-byte entries of tag,
// permissions and id, little-endian) every right of the owning group.
void clear_owning_group(std::string& acl) {
    constexpr unsigned owning_group_tag = 0x04;  // ACL_GROUP_OBJ
    for (std::size_t entry = 4; entry + 8 <= acl.size(); entry += 8) {
        const unsigned tag = static_cast<unsigned char>(acl[entry]) |
                             static_cast<unsigned>(static_cast<unsigned char>(acl[entry + 1]))
                                 << 8U;
        if (tag == owning_group_tag) {
            acl[entry + 2] = acl[entry + 3] = '\0';
        }
    }
}

// Gives the temporary file the old listing's owner (where this user may
// set it: as root) and group (where this user belongs to it). Returns 0, or
// EPERM where the group cannot be kept, or another error.
int keep_owner_and_group(const Listing& listing, const struct stat& now) {
    const bool root = effective_user() == 0;
    if (now.st_gid == listing.old.st_gid && (!root || now.st_uid == listing.old.st_uid)) {
        return 0;
    }
    const uid_t owner = root ? listing.old.st_uid : static_cast<uid_t>(-1);
    return fchown(listing.descriptor, owner, listing.old.st_gid) != 0 ? failure_errno() : 0;
}

// Gives the temporary file the old listing's access ACL where it had one
// (without the owning group's rights where group_kept is false), and none
// where it had none. now is the temporary file's status; mode_set says
// whether its permission bits are now mode, or as the ACL sets them.
// Returns 0 or the error.
int keep_acl(const Listing& listing, bool group_kept, const struct stat& now, mode_t mode,
             bool& mode_set) {
    if (names_include(listing.attributes, acl_attribute)) {
        std::string acl;
        if (const int error = read_attribute(listing, acl_attribute, acl)) {
            return error;
        }
        if (!group_kept) {
            clear_owning_group(acl);
        }
        // The ACL sets the permission bits with it.
        mode_set = true;
        return fsetxattr(listing.descriptor, acl_attribute, acl.data(), acl.size(), 0) != 0
                   ? failure_errno()
                   : 0;
    }
    // The folder's default ACL may have given the file one, and with it
    // other bits.
    bool inherited = false;
    if (const int error = temporary_has_acl(listing, inherited)) {
        return error;
    }
    if (inherited && fremovexattr(listing.descriptor, acl_attribute) != 0) {
        return failure_errno();
    }
    mode_set = !inherited && (now.st_mode & 07777U) == mode;
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
// owner (an ACL never narrows the owner's rights), and root may write
// anything; only for others does the system have to say.
bool may_write_old_listing(const Listing& listing) {
    if (effective_user() == listing.old.st_uid) {
        errno = EACCES;
        return (listing.old.st_mode & S_IWUSR) != 0;
    }
    return effective_user() == 0 ||
           faccessat(listing.folder, listing.file.c_str(), W_OK, AT_EACCESS) == 0;
}

}  // namespace

int look_at_access(Listing& listing) {
    if (!may_write_old_listing(listing)) {
        return failure_errno();
    }
    return list_attributes(listing);
}

int carry_over(Listing& listing) {
    if (!listing.replaces_file) {
        return 0;  // a new listing gets what any new file gets
    }
    struct stat now {};
    if (fstat(listing.descriptor, &now) != 0) {
        return failure_errno();
    }
    // The permission bits only: setuid, setgid and sticky do not suit a
    // listing, which is text.
    mode_t mode = listing.old.st_mode & 0777U;
    int error = keep_owner_and_group(listing, now);
    const bool group_kept = error == 0;
    if (error == EPERM) {
        // The group this user may give it is another: it gets no access.
        mode &= ~static_cast<mode_t>(070);
        error = 0;
    }
    bool mode_set = false;
    if (error == 0) {
        error = keep_acl(listing, group_kept, now, mode, mode_set);
    }
    if (error == 0 && !mode_set && fchmod(listing.descriptor, mode) != 0) {
        error = failure_errno();
    }
    if (error == 0) {
        copy_user_attributes(listing);
    }
    return error;
}

}  // namespace huemill::platform
