// huemill's hooks on Linux and other POSIX systems (see platform.hpp): file
// descriptors, calls relative to the listing's folder, the old listing's
// access control carried over as the system stores it (Linux's extended
// attributes), and signal handlers that remove a temporary file this run
// created and still owns.
#include "platform.hpp"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>

namespace huemill::platform {
namespace {

// errno after a failed call, or EIO where the call left it unset, so that a
// failure is never mistaken for success.
int failure_errno() { return errno != 0 ? errno : EIO; }

// The user this process acts as, asked once.
uid_t effective_user() {
    static const uid_t user = geteuid();
    return user;
}

// The access ACL as the system stores it: copying these bytes copies the
// ACL, with no library needed.
constexpr char acl_attribute[] = "system.posix_acl_access";

// The listing in progress, from begin_listing to end_listing.
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
Listing listing;

// --- Signals --------------------------------------------------------------
//
// The handler removes the temporary file announced to it. A temporary file
// is announced as it is created and withdrawn as it is renamed or removed,
// and the caught signals are held back from just before it is created to
// just after that: so the handler only ever removes a file this run has
// created and not yet renamed or removed, and a signal arriving meanwhile
// waits at most for one listing's write.

sigset_t caught_signals;
sigset_t signals_before;  // the mask to go back to when they are let through
bool holding_signals = false;
std::atomic<int> announced_folder{AT_FDCWD};
std::atomic<const char*> announced_temporary{nullptr};
static_assert(std::atomic<const char*>::is_always_lock_free, "read safely in a signal handler");

extern "C" void remove_temporary_and_end(int signal_number) {
    if (const char* temporary = announced_temporary.load()) {
        unlinkat(announced_folder.load(), temporary, 0);
    }
    // Ended by the signal itself, so that the caller sees what ended it.
    signal(signal_number, SIG_DFL);
    raise(signal_number);
}

void hold_signals() {
    sigprocmask(SIG_BLOCK, &caught_signals, &signals_before);
    holding_signals = true;
}

// Withdraws the temporary file from the handler and lets the signals held
// back through, so that one of them ends the process only now.
void withdraw_and_allow_signals() {
    announced_temporary = nullptr;
    if (holding_signals) {
        holding_signals = false;
        sigprocmask(SIG_SETMASK, &signals_before, nullptr);
    }
}

// --- Access control -------------------------------------------------------

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
// meanwhile; on a system without /proc it is the listing's name. Returns 0
// or the error.
template <typename Read>
int read_old_listing(Read read, std::string& value) {
    const std::string path =
        listing.folder == AT_FDCWD
            ? listing.file
            : "/proc/self/fd/" + std::to_string(listing.folder) + "/" + listing.file;
    int error = read_sized(
        [&](char* buffer, std::size_t size) { return read(path.c_str(), buffer, size); }, value);
    if (error == ENOENT && listing.folder != AT_FDCWD) {
        error =
            read_sized([&](char* buffer,
                           std::size_t size) { return read(listing.name.c_str(), buffer, size); },
                       value);
    }
    return error;
}

// The value of the old listing's extended attribute name. Returns 0 or the
// error.
int read_attribute(const char* name, std::string& value) {
    return read_old_listing(
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
int list_attributes() {
    const int error =
        read_old_listing([](const char* path, char* buffer,
                            std::size_t size) { return llistxattr(path, buffer, size); },
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
int temporary_has_acl(bool& has_acl) {
    std::string names;
    const int error = read_sized(
        [](char* buffer, std::size_t size) { return flistxattr(listing.descriptor, buffer, size); },
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
int keep_owner_and_group(const struct stat& now) {
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
int keep_acl(bool group_kept, const struct stat& now, mode_t mode, bool& mode_set) {
    if (names_include(listing.attributes, acl_attribute)) {
        std::string acl;
        if (const int error = read_attribute(acl_attribute, acl)) {
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
    if (const int error = temporary_has_acl(inherited)) {
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
void copy_user_attributes() {
    std::string value;
    for (std::size_t at = 0; at < listing.attributes.size();) {
        const std::string name(next_name(listing.attributes, at));
        if (name.rfind("user.", 0) == 0 && read_attribute(name.c_str(), value) == 0) {
            fsetxattr(listing.descriptor, name.c_str(), value.data(), value.size(), 0);
        }
    }
}

// Whether this user may write to the old listing, which is then replaced;
// otherwise errno says why not. Its owner's write bit decides for its
// owner (an ACL never narrows the owner's rights), and root may write
// anything; only for others does the system have to say.
bool may_write_old_listing() {
    if (effective_user() == listing.old.st_uid) {
        errno = EACCES;
        return (listing.old.st_mode & S_IWUSR) != 0;
    }
    return effective_user() == 0 ||
           faccessat(listing.folder, listing.file.c_str(), W_OK, AT_EACCESS) == 0;
}

// --- Output ---------------------------------------------------------------

// Writes all of bytes to descriptor. Returns 0 or the error.
int write_all_to(int descriptor, std::string_view bytes) {
    while (!bytes.empty()) {
        errno = 0;
        const ssize_t written = write(descriptor, bytes.data(), bytes.size());
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            return failure_errno();
        }
        bytes.remove_prefix(static_cast<std::size_t>(written));
    }
    return 0;
}

}  // namespace

void prepare_process() {
    // A closed pipe or a file-size limit fails the write, which is then
    // reported, instead of ending the process.
    signal(SIGPIPE, SIG_IGN);
    signal(SIGXFSZ, SIG_IGN);
    // Each signal's disposition is read before anything is installed, so
    // one ignored at start (nohup, a background job) is never caught.
    sigemptyset(&caught_signals);
    for (const int signal_number : {SIGINT, SIGTERM, SIGHUP}) {
        struct sigaction current {};
        if (sigaction(signal_number, nullptr, &current) == 0 && current.sa_handler != SIG_IGN) {
            sigaddset(&caught_signals, signal_number);
        }
    }
    struct sigaction removing {};
    removing.sa_handler = remove_temporary_and_end;
    removing.sa_mask = caught_signals;
    for (const int signal_number : {SIGINT, SIGTERM, SIGHUP}) {
        if (sigismember(&caught_signals, signal_number) == 1) {
            sigaction(signal_number, &removing, nullptr);
        }
    }
}

char** utf8_arguments(int /*argc*/, char* argv[]) { return argv; }

unsigned long process_id() { return static_cast<unsigned long>(getpid()); }

int write_text(Stream stream, std::string_view text) {
    return write_all_to(stream == Stream::output ? STDOUT_FILENO : STDERR_FILENO, text);
}

std::string describe(int error) { return std::strerror(error); }

int read_start(const char* path, unsigned char* bytes, std::size_t size, std::size_t& got) {
    got = 0;
    const int descriptor = open(path, O_RDONLY | O_NOCTTY | O_CLOEXEC);
    if (descriptor < 0) {
        return failure_errno();
    }
    int error = 0;
    while (got < size) {
        errno = 0;
        const ssize_t count = read(descriptor, bytes + got, size - got);
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count < 0) {
            error = failure_errno();
        }
        if (count <= 0) {
            break;
        }
        got += static_cast<std::size_t>(count);
    }
    close(descriptor);  // opened for reading only: closing loses nothing
    return error;
}

std::string_view folder_separators() { return "/"; }

int begin_listing(const std::string& name) {
    const std::size_t file_start = name.find_last_of(folder_separators()) + 1;
    listing.name = name;
    listing.file.assign(name, file_start);
    listing.replaces_file = false;
    if (file_start > 0) {
        // The temporary file's name is relative to the folder, so it never
        // meets the limit on paths, and it and the rename stay in the folder
        // even if the folder is renamed meanwhile.
        listing.folder = open(name.substr(0, file_start).c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
        if (listing.folder < 0) {
            listing.folder = AT_FDCWD;
            return failure_errno();
        }
    }
    if (fstatat(listing.folder, listing.file.c_str(), &listing.old, AT_SYMLINK_NOFOLLOW) != 0) {
        return errno == ENOENT ? 0 : failure_errno();
    }
    if (S_ISDIR(listing.old.st_mode)) {
        return EISDIR;
    }
    if (!S_ISREG(listing.old.st_mode)) {
        return 0;  // a link, FIFO, socket or device: the name is simply taken
    }
    if (!may_write_old_listing()) {
        return failure_errno();
    }
    listing.replaces_file = true;
    return list_attributes();
}

int create_temporary(const std::string& file_name) {
    listing.temporary = file_name;
    const mode_t mode = listing.replaces_file ? listing.old.st_mode & 0777U : 0666;
    hold_signals();
    listing.descriptor = openat(listing.folder, listing.temporary.c_str(),
                                O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
    if (listing.descriptor < 0) {
        const int error = failure_errno();
        withdraw_and_allow_signals();
        return error;
    }
    announced_folder = listing.folder;
    announced_temporary = listing.temporary.c_str();
    return 0;
}

int carry_over() {
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
    int error = keep_owner_and_group(now);
    const bool group_kept = error == 0;
    if (error == EPERM) {
        // The group this user may give it is another: it gets no access.
        mode &= ~static_cast<mode_t>(070);
        error = 0;
    }
    bool mode_set = false;
    if (error == 0) {
        error = keep_acl(group_kept, now, mode, mode_set);
    }
    if (error == 0 && !mode_set && fchmod(listing.descriptor, mode) != 0) {
        error = failure_errno();
    }
    if (error == 0) {
        copy_user_attributes();
    }
    return error;
}

int write_temporary(const char* bytes, std::size_t size, std::size_t& written) {
    errno = 0;
    const ssize_t count = write(listing.descriptor, bytes, size);
    if (count <= 0) {
        return failure_errno();
    }
    written = static_cast<std::size_t>(count);
    return 0;
}

int commit() {
    // Some systems report a failed write only when the file is closed.
    errno = 0;
    const int closed = close(listing.descriptor);
    listing.descriptor = -1;
    if (closed != 0) {
        return failure_errno();
    }
    if (renameat(listing.folder, listing.temporary.c_str(), listing.folder, listing.file.c_str()) !=
        0) {
        return failure_errno();
    }
    withdraw_and_allow_signals();
    return 0;
}

int discard() {
    if (listing.descriptor >= 0) {
        close(listing.descriptor);
        listing.descriptor = -1;
    }
    const int error =
        unlinkat(listing.folder, listing.temporary.c_str(), 0) != 0 ? failure_errno() : 0;
    withdraw_and_allow_signals();
    return error;
}

void end_listing() {
    withdraw_and_allow_signals();
    if (listing.folder != AT_FDCWD) {
        close(listing.folder);
        listing.folder = AT_FDCWD;
    }
}

}  // namespace huemill::platform
