// huemill's hooks on Linux for files (see platform.hpp): each palette read,
// and its listing made, in one folder, the one its argument names when its
// turn comes.
//
// The folder is opened once (as a descriptor, O_PATH) and every name after
// that is looked up in it alone: the palette, what stands at the listing's
// name, its extended attributes, the temporary file and the rename. So a
// folder renamed, or a link to it switched, while the run goes on never
// sends a listing elsewhere than beside the palette it was made from: GNU
// fts guards its walk against a swapped folder the same way. The current
// folder stays the start folder, but on a system that can name extended
// attributes neither through a folder's descriptor nor through /proc (see
// System).
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <unordered_map>
#include <vector>

#include "linux/access_rules.hpp"
#include "linux/layer.hpp"

namespace huemill::platform {
namespace {

// Whether path depends on the current folder: a relative path, or one
// through /proc, where /proc/self/cwd is the current folder.
bool depends_on_current_folder(std::string_view path) {
    return path.substr(0, 1) != "/" || path.substr(0, 6) == "/proc/";
}

FileIdentity identity_from(const struct stat& status) {
    return {true, static_cast<std::uint64_t>(status.st_dev),
            static_cast<std::uint64_t>(status.st_ino), static_cast<std::uint64_t>(status.st_nlink)};
}

// How often the old listing is looked at again where it changed between
// two looks.
constexpr int looks = 3;

}  // namespace

void SystemDeleter::operator()(System* system) const {
    if (system->start >= 0) {
        close(system->start);
    }
    delete system;
}

SystemHandle start_system() { return SystemHandle(new System()); }

void FolderDeleter::operator()(Folder* folder) const {
    if (folder->descriptor != AT_FDCWD) {
        close(folder->descriptor);
    }
    delete folder;
}

int open_folder(System& system, std::string_view path, FolderHandle& folder) {
    if (system.away && depends_on_current_folder(path)) {
        return error_start_folder;  // it was left, and cannot be gone back to
    }
    FolderHandle opened(new Folder());
    if (!path.empty()) {
        const std::string name(path);
        errno = 0;
        opened->descriptor = open(name.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
        if (opened->descriptor < 0) {
            opened->descriptor = AT_FDCWD;
            return failure_errno();
        }
    }
    folder = std::move(opened);
    return 0;
}

int hold_folder(System& system, std::string_view path, FolderHandle& folder) {
    return open_folder(system, path, folder);
}

FileIdentity folder_identity(const Folder& folder) {
    struct stat status {};
    return fstatat(folder.descriptor, ".", &status, 0) == 0 ? identity_from(status)
                                                            : FileIdentity();
}

bool holds_as_spelled(const Folder& folder, std::string_view file_name) {
    const int descriptor = openat(folder.descriptor, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR* entries = descriptor < 0 ? nullptr : fdopendir(descriptor);
    if (entries == nullptr) {
        if (descriptor >= 0) {
            close(descriptor);
        }
        return false;  // cannot tell: taken for the same file, which is kept
    }
    bool held = false;
    while (const dirent* entry = readdir(entries)) {
        if (file_name == entry->d_name) {
            held = true;
            break;
        }
    }
    closedir(entries);
    return held;
}

int identity_of(System& system, const char* path, std::string_view /*file_name*/,
                FileIdentity& identity) {
    identity = FileIdentity();
    if (system.away && depends_on_current_folder(path)) {
        return 0;  // reading it fails with error_start_folder
    }
    struct stat status {};
    errno = 0;
    if (stat(path, &status) == 0) {
        identity = identity_from(status);
        return 0;
    }
    const int error = failure_errno();
    const bool nothing_to_read = error == ENOENT || error == ENOTDIR || error == EACCES ||
                                 error == ELOOP || error == ENAMETOOLONG;
    return nothing_to_read ? 0 : error;
}

namespace {

// The file names of the paths of one folder, each with the indices of the
// paths that name it.
using NamesInFolder = std::unordered_map<std::string_view, std::vector<std::size_t>>;

// A folder's worth of paths is looked at in one read of the folder,
// rather than one look each, from this many on.
constexpr std::size_t many_in_folder = 4;

// Reads the folder that folder names ("" the current one) and takes out
// of names those whose entries are no link, nor of a type it cannot tell:
// each leads to the entry of its own name. Leaves names as they are where
// the folder cannot be read.
void take_out_plain_entries(std::string_view folder, NamesInFolder& names) {
    const std::string path(folder.empty() ? "." : folder);
    DIR* entries = opendir(path.c_str());
    if (entries == nullptr) {
        return;
    }
    while (const dirent* entry = readdir(entries)) {
        if (entry->d_type != DT_LNK && entry->d_type != DT_UNKNOWN) {
            names.erase(entry->d_name);
        }
    }
    closedir(entries);
}

}  // namespace

int learn_paths(System& system, const std::vector<NamedPath>& paths,
                std::vector<FileIdentity>& identities, std::size_t& failed) {
    identities.assign(paths.size(), FileIdentity());
    std::unordered_map<std::string_view, NamesInFolder> by_folder;
    for (std::size_t i = 0; i < paths.size(); ++i) {
        const std::string_view path(paths[i].path);
        const std::string_view folder = path.substr(0, path.size() - paths[i].file_name.size());
        by_folder[folder][paths[i].file_name].push_back(i);
    }
    for (auto& [folder, names] : by_folder) {
        if (names.size() >= many_in_folder && !(system.away && depends_on_current_folder(folder))) {
            take_out_plain_entries(folder, names);
        }
        for (const auto& [name, indices] : names) {
            for (const std::size_t i : indices) {
                if (const int error = identity_of(system, paths[i].path, name, identities[i])) {
                    failed = i;
                    return error;
                }
            }
        }
    }
    return 0;
}

int read_file(const Folder& folder, const char* file_name, Bytes first, Bytes second,
              std::size_t& got, FileIdentity& identity) {
    got = 0;
    errno = 0;
    const int descriptor = openat(folder.descriptor, file_name, O_RDONLY | O_NOCTTY | O_CLOEXEC);
    struct stat status {};
    int error = descriptor < 0 || fstat(descriptor, &status) != 0 ? failure_errno() : 0;
    identity = error == 0 ? identity_from(status) : FileIdentity();
    const std::size_t size = first.size + second.size;
    // A regular file is read to the size it had when opened, not on to a
    // read that meets its end (a palette is shorter than size): unless it
    // says 0, as files in /proc do.
    const auto known_size = static_cast<std::size_t>(S_ISREG(status.st_mode) ? status.st_size : 0);
    while (error == 0 && got < size && (known_size == 0 || got < known_size)) {
        // What is left of each: a palette comes in one read.
        const std::size_t in_first = std::min(got, first.size);
        iovec parts[] = {{first.data + in_first, first.size - in_first},
                         {second.data + (got - in_first), second.size - (got - in_first)}};
        errno = 0;
        const ssize_t count = readv(descriptor, parts, 2);
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
    if (descriptor >= 0) {
        close(descriptor);  // opened for reading only: closing loses nothing
    }
    return error;
}

// The start folder is opened first, once, so that the run can go back to
// it; where it cannot be, the run stays away once it has left (see System).
int enter_folder(Listing& listing) {
    System& system = listing.system;
    if (listing.folder.descriptor == AT_FDCWD || listing.entered) {
        return 0;
    }
    if (system.start < 0 && !system.start_failed) {
        system.start = open(".", O_PATH | O_DIRECTORY | O_CLOEXEC);
        system.start_failed = system.start < 0;
    }
    errno = 0;
    if (fchdir(listing.folder.descriptor) != 0) {
        return failure_errno();
    }
    system.away = listing.entered = true;
    return 0;
}

void ListingDeleter::operator()(Listing* listing) const {
    if (listing->descriptor >= 0) {
        close(listing->descriptor);
    }
    System& system = listing->system;
    if (listing->entered && system.start >= 0 && fchdir(system.start) == 0) {
        system.away = false;
    }
    delete listing;
}

int begin_listing(System& system, Folder& folder, std::string_view file_name,
                  ListingHandle& listing, Standing& standing, FileIdentity& identity) {
    listing.reset(new Listing(system, folder, std::string(file_name)));
    struct stat& status = listing->old.status;
    errno = 0;
    if (fstatat(folder.descriptor, listing->file.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0) {
        standing = Standing::nothing;
        identity = FileIdentity();
        return errno == ENOENT ? 0 : failure_errno();
    }
    standing = S_ISREG(status.st_mode)   ? Standing::file
               : S_ISDIR(status.st_mode) ? Standing::folder
                                         : Standing::other;
    identity = identity_from(status);
    return 0;
}

int look_to_replace(Listing& listing) {
    int error = 0;
    for (int look = 0; look < looks; ++look) {
        struct stat& status = listing.old.status;
        if (look > 0) {
            errno = 0;
            if (fstatat(listing.folder.descriptor, listing.file.c_str(), &status,
                        AT_SYMLINK_NOFOLLOW) != 0) {
                return errno == ENOENT ? 0 : failure_errno();
            }
        }
        if (!S_ISREG(status.st_mode)) {
            return 0;  // no longer a file: the name is simply taken
        }
        error = look_at_old_listing(listing);
        if (error == ENOENT) {
            return 0;  // gone since its status: a new listing
        }
        if (error != ENODATA) {
            break;  // else an attribute it had is gone: look again
        }
    }
    listing.replaces = error == 0;
    return error;
}

int create_temporary(Listing& listing, const std::string& file_name) {
    listing.temporary = &file_name;
    errno = 0;
    listing.descriptor = openat(listing.folder.descriptor, file_name.c_str(),
                                O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                                creation_mode(listing.replaces));
    return listing.descriptor < 0 ? failure_errno() : 0;
}

int write_all(int descriptor, std::string_view bytes) {
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

int learn_temporary(Listing& listing) {
    errno = 0;
    return listing.replaces && fstat(listing.descriptor, &listing.given) != 0 ? failure_errno() : 0;
}

int write_temporary(Listing& listing, const char* bytes, std::size_t size) {
    return write_all(listing.descriptor, std::string_view(bytes, size));
}

int commit(Listing& listing) {
    // Some systems report a failed write only when the file is closed.
    errno = 0;
    const int closed = close(listing.descriptor);
    listing.descriptor = -1;
    if (closed != 0) {
        return failure_errno();
    }
    const int folder = listing.folder.descriptor;
    return renameat(folder, listing.temporary->c_str(), folder, listing.file.c_str()) != 0
               ? failure_errno()
               : 0;
}

int discard(Listing& listing) {
    if (listing.descriptor >= 0) {
        close(listing.descriptor);
        listing.descriptor = -1;
    }
    // Where it is not there, nothing is left.
    errno = 0;
    return unlinkat(listing.folder.descriptor, listing.temporary->c_str(), 0) != 0 &&
                   errno != ENOENT
               ? failure_errno()
               : 0;
}

}  // namespace huemill::platform
