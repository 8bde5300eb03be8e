// huemill's hooks on Linux for access control (see platform.hpp): whether a
// listing may be replaced, and the old listing's owner, group, permission
// bits and access ACL given to its replacement, as the system stores them
// (Linux's extended attributes), without ever letting anyone use the
// replacement whom the old listing shut out.
//
// The old listing (status, write access, ACL, user.* attributes) is read
// once its name is looked at, before the temporary file exists. The
// temporary file of a replaced listing is made for its owner alone, and
// what the folder gave it (a group, an ACL inherited from a default one)
// is read from its own descriptor: nothing is predicted from an earlier
// look at the folder, which may have changed since. Only then is it given
// the old listing's owner, group, ACL and bits, the ACL or bits last.
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "linux/access_rules.hpp"
#include "linux/layer.hpp"
#include "linux/xattrat.hpp"

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

// Reads into value, from its byte at on, what read gives: given a buffer
// and its size it fills the buffer, and given none it returns the size it
// needs (llistxattr and lgetxattr work so). Asks again where the value grew
// in between. Returns 0 or the error.
template <typename Read>
int read_sized(Read read, std::string& value, std::size_t at = 0) {
    for (;;) {
        errno = 0;
        const ssize_t size = read(nullptr, 0);
        if (size >= 0) {
            value.resize(at + static_cast<std::size_t>(size));
            const ssize_t got = size == 0 ? 0 : read(value.data() + at, value.size() - at);
            if (got >= 0) {
                value.resize(at + static_cast<std::size_t>(got));
                return 0;
            }
        }
        if (errno != ERANGE) {
            return failure_errno();
        }
    }
}

bool unsupported(int error) { return error == ENOTSUP || error == EOPNOTSUPP; }

ssize_t list_at(int folder, const char* file, char* names, std::size_t size) {
#ifdef SYS_listxattrat
    return syscall(SYS_listxattrat, folder, file, AT_SYMLINK_NOFOLLOW, names, size);
#else
    errno = ENOSYS;
    return -1;
#endif
}

ssize_t get_at(int folder, const char* file, const char* name, char* value, std::size_t size) {
#ifdef SYS_getxattrat
    // The value's place and size go in a structure of the kernel's.
    struct {
        std::uint64_t value;
        std::uint32_t size;
        std::uint32_t flags;
    } where{reinterpret_cast<std::uintptr_t>(value),
            static_cast<std::uint32_t>(std::min<std::size_t>(size, UINT32_MAX)), 0};
    return syscall(SYS_getxattrat, folder, file, AT_SYMLINK_NOFOLLOW, name, &where, sizeof where);
#else
    errno = ENOSYS;
    return -1;
#endif
}

// Whether /proc/self/fd/N names folder, the descriptor N, as the way
// through /proc needs.
bool proc_names(int folder) {
    struct stat by_descriptor {
    }, by_name{};
    const std::string name = "/proc/self/fd/" + std::to_string(folder);
    return fstat(folder, &by_descriptor) == 0 && stat(name.c_str(), &by_name) == 0 &&
           by_descriptor.st_dev == by_name.st_dev && by_descriptor.st_ino == by_name.st_ino;
}

// The path that names the old listing for a call that takes one: its file
// name in the start folder, the current one; else through /proc where that
// works; else its file name from inside its folder, made the current one.
// Sets path, or returns the error that keeps the folder from being
// entered.
int path_of(Listing& listing, const char*& path) {
    System& system = listing.system;
    if (listing.folder.descriptor != AT_FDCWD && system.proc_fd == Works::unknown) {
        system.proc_fd = proc_names(listing.folder.descriptor) ? Works::yes : Works::no;
    }
    if (listing.folder.descriptor != AT_FDCWD && system.proc_fd == Works::yes) {
        if (listing.attribute_path.empty()) {
            listing.attribute_path =
                "/proc/self/fd/" + std::to_string(listing.folder.descriptor) + "/" + listing.file;
        }
        path = listing.attribute_path.c_str();
        return 0;
    }
    path = listing.file.c_str();
    return enter_folder(listing);
}

// Reads into value, from its byte at on, what the old listing's attributes
// give when asked as read_at asks (through the folder's descriptor, with a
// call that works only where at_call does) or else as read_path asks
// (through a path, see path_of). Returns 0 or the error.
template <typename ReadAt, typename ReadPath>
int read_attributes(Listing& listing, Works& at_call, ReadAt read_at, ReadPath read_path,
                    std::string& value, std::size_t at) {
    if (listing.folder.descriptor != AT_FDCWD && at_call != Works::no) {
        const int error = read_sized(
            [&](char* buffer, std::size_t size) {
                return read_at(listing.folder.descriptor, listing.file.c_str(), buffer, size);
            },
            value, at);
        // An older kernel has no such call, and a container's filter may
        // refuse one it does not know.
        if (error != ENOSYS && error != EPERM) {
            at_call = Works::yes;
            return error;
        }
        at_call = Works::no;
    }
    const char* path = nullptr;
    if (const int error = path_of(listing, path)) {
        return error;
    }
    return read_sized([&](char* buffer, std::size_t size) { return read_path(path, buffer, size); },
                      value, at);
}

// The names of the old listing's extended attributes, each ending in NUL,
// into names. Returns 0 or the error; a file system without them has none.
int list_attributes(Listing& listing, std::string& names) {
    const int error = read_attributes(
        listing, listing.system.list_at, list_at,
        [](const char* path, char* buffer, std::size_t size) {
            return llistxattr(path, buffer, size);
        },
        names, 0);
    if (unsupported(error)) {
        names.clear();
        return 0;
    }
    return error;
}

// The value of the old listing's extended attribute name, into value from
// its byte at on. Returns 0 or the error.
int read_attribute(Listing& listing, const char* name, std::string& value, std::size_t at = 0) {
    return read_attributes(
        listing, listing.system.get_at,
        [name](int folder, const char* file, char* buffer, std::size_t size) {
            return get_at(folder, file, name, buffer, size);
        },
        [name](const char* path, char* buffer, std::size_t size) {
            return lgetxattr(path, name, buffer, size);
        },
        value, at);
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

// The owner, group and bits of the file of status.
Holder holder_of(const struct stat& status) {
    return {status.st_uid, status.st_gid, status.st_mode & 0777U};
}

// Gives the private temporary file the old listing's owner where root
// replaces another user's listing (or fails: a listing never changes owner
// under root), and its group where it got another and this user may give
// it that one. Sets group_kept. Returns 0, error_owner_not_kept, or another
// error.
int keep_owner_and_group(const Listing& listing, bool& group_kept) {
    const struct stat& old = listing.old.status;
    group_kept = true;
    switch (chown_to_keep(effective_user(), holder_of(old), holder_of(listing.given))) {
        case Chown::none:
            return 0;
        case Chown::owner_and_group:
            if (fchown(listing.descriptor, old.st_uid, old.st_gid) == 0) {
                return 0;
            }
            return errno == EPERM ? error_owner_not_kept : failure_errno();
        case Chown::group:
            if (fchown(listing.descriptor, static_cast<uid_t>(-1), old.st_gid) == 0) {
                return 0;
            }
            if (errno != EPERM) {
                return failure_errno();
            }
            group_kept = false;  // this user is not in that group
            return 0;
    }
    return 0;
}

// Reads the values of the old listing's user.* attributes, among names,
// into listing.old.user_attributes. They are the user's own notes on the
// file, not what decides access: one that cannot be read is not copied.
void read_user_attributes(Listing& listing, std::string_view names) {
    std::string& kept = listing.old.user_attributes;
    kept.clear();
    for (std::size_t at = 0; at < names.size();) {
        const std::string_view name = next_name(names, at);
        if (name.substr(0, 5) != "user.") {
            continue;
        }
        const std::size_t start = kept.size();
        kept.append(name).append(1, '\0').append(sizeof(std::size_t), '\0');
        const std::size_t value_at = kept.size();
        if (read_attribute(listing, std::string(name).c_str(), kept, value_at) != 0) {
            kept.resize(start);
            continue;
        }
        const std::size_t size = kept.size() - value_at;
        std::memcpy(&kept[value_at - sizeof size], &size, sizeof size);
    }
}

// Gives the temporary file the old listing's user.* attributes, where the
// system allows. Allocates nothing.
void copy_user_attributes(const Listing& listing) {
    const std::string& kept = listing.old.user_attributes;
    for (std::size_t at = 0; at < kept.size();) {
        const char* name = kept.c_str() + at;
        at += std::strlen(name) + 1;
        std::size_t size = 0;
        std::memcpy(&size, kept.data() + at, sizeof size);
        at += sizeof size;
        fsetxattr(listing.descriptor, name, kept.data() + at, size, 0);
        at += size;
    }
}

// Whether this user may write to the old listing, which is then replaced:
// 0, or the error that says why not. Its owner's write bit decides for its
// owner (an ACL never narrows the owner's rights); for anyone else, root
// included, the system says, as root may lack the right to override it.
int may_write_old_listing(const Listing& listing) {
    if (effective_user() == listing.old.status.st_uid) {
        return (listing.old.status.st_mode & S_IWUSR) != 0 ? 0 : EACCES;
    }
    errno = 0;
    return faccessat(listing.folder.descriptor, listing.file.c_str(), W_OK, AT_EACCESS) == 0
               ? 0
               : failure_errno();
}

}  // namespace

int look_at_old_listing(Listing& listing) {
    OldListing& old = listing.old;
    old.acl.clear();
    old.user_attributes.clear();
    if (const int error = may_write_old_listing(listing)) {
        return error;
    }
    if (const int error = list_attributes(listing, old.attribute_names)) {
        return error;
    }
    if (names_include(old.attribute_names, acl_attribute)) {
        if (const int error = read_attribute(listing, acl_attribute, old.acl)) {
            return error;
        }
    }
    // Made now, in case the group cannot be kept: copy_metadata finds no
    // memory.
    old.narrowed_acl = old.acl;
    narrow_acl(old.narrowed_acl);
    read_user_attributes(listing, old.attribute_names);
    return 0;
}

int copy_metadata(Listing& listing) {
    if (!listing.replaces) {
        return 0;  // a new listing gets what any new file gets
    }
    bool group_kept = true;
    if (const int error = keep_owner_and_group(listing, group_kept)) {
        return error;
    }
    copy_user_attributes(listing);
    // Whether the file inherited an ACL from its folder matters only where
    // the old listing had none to set in its place.
    const OldListing& old = listing.old;
    bool inherited = false;
    if (old.acl.empty()) {
        errno = 0;
        inherited = fgetxattr(listing.descriptor, acl_attribute, nullptr, 0) >= 0;
        if (!inherited && errno != ENODATA && !unsupported(errno)) {
            return failure_errno();
        }
    }
    const Opening open = opening(old.status.st_mode & 0777U, !old.acl.empty(), group_kept,
                                 listing.given.st_mode & 0777U, inherited);
    // Last, what opens the file to others.
    if (open.set_acl) {
        const std::string& acl = open.narrow_acl ? old.narrowed_acl : old.acl;
        return fsetxattr(listing.descriptor, acl_attribute, acl.data(), acl.size(), 0) != 0
                   ? failure_errno()
                   : 0;
    }
    if (open.remove_inherited && fremovexattr(listing.descriptor, acl_attribute) != 0) {
        return failure_errno();
    }
    return open.set_bits && fchmod(listing.descriptor, open.bits) != 0 ? failure_errno() : 0;
}

}  // namespace huemill::platform
