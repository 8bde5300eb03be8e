// huemill's hooks on Linux for files (see platform.hpp): palettes read
// through a descriptor, and each listing's temporary file made, written and
// renamed relative to the listing's folder, held open.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform.hpp"

namespace huemill::platform {

std::size_t file_name_start(std::string_view path) {
    // npos + 1 is 0: a path without a separator is all file name.
    return path.rfind('/') + 1;
}

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

int begin_listing(Listing& listing, const std::string& name) {
    const std::size_t file_start = file_name_start(name);
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
    listing.replaces_file = true;
    return look_at_access(listing);
}

int create_temporary(Listing& listing, const std::string& file_name) {
    listing.temporary = file_name;
    const mode_t mode = listing.replaces_file ? listing.old.st_mode & 0777U : 0666;
    listing.descriptor = openat(listing.folder, listing.temporary.c_str(),
                                O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
    return listing.descriptor < 0 ? failure_errno() : 0;
}

int write_temporary(Listing& listing, const char* bytes, std::size_t size, std::size_t& written) {
    errno = 0;
    const ssize_t count = write(listing.descriptor, bytes, size);
    if (count <= 0) {
        return failure_errno();
    }
    written = static_cast<std::size_t>(count);
    return 0;
}

int commit(Listing& listing) {
    // Some systems report a failed write only when the file is closed.
    errno = 0;
    const int closed = close(listing.descriptor);
    listing.descriptor = -1;
    if (closed != 0) {
        return failure_errno();
    }
    return renameat(listing.folder, listing.temporary.c_str(), listing.folder,
                    listing.file.c_str()) != 0
               ? failure_errno()
               : 0;
}

int discard(Listing& listing) {
    if (listing.descriptor >= 0) {
        close(listing.descriptor);
        listing.descriptor = -1;
    }
    return unlinkat(listing.folder, listing.temporary.c_str(), 0) != 0 ? failure_errno() : 0;
}

void end_listing(Listing& listing) {
    if (listing.folder != AT_FDCWD) {
        close(listing.folder);
        listing.folder = AT_FDCWD;
    }
}

}  // namespace huemill::platform
