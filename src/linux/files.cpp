// huemill's hooks on Linux for files (see platform.hpp): palettes read
// through a descriptor, and each listing's temporary file made, written and
// renamed in the listing's folder, which the run makes its current folder.
//
// A listing's file and its temporary file are named by their file names
// alone, relative to the current folder, as GNU fts works through a tree:
// each call looks up one name rather than a whole path, a path never meets
// the system's limit, and the temporary file, the rename and every look at
// the old listing stay in the same folder even if it is renamed meanwhile.
// Palettes are named, as given, relative to the folder the run started in.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform.hpp"

namespace huemill::platform {
namespace {

// The folder the run started in: AT_FDCWD until the run first leaves it for
// a listing's folder, then held open.
int start_folder = AT_FDCWD;

// Makes the folder that folder_name names (relative to the start folder,
// "" for the start folder itself) the current one, where it is not already,
// and forgets what was learned of the one before. Returns 0 or the error.
int enter_folder(Listing& listing, std::string_view folder_name) {
    if (folder_name == listing.folder_name) {
        return 0;
    }
    if (start_folder == AT_FDCWD) {
        start_folder = open(".", O_PATH | O_DIRECTORY | O_CLOEXEC);
        if (start_folder < 0) {
            start_folder = AT_FDCWD;
            return failure_errno();
        }
    }
    listing.folder_learned = false;
    const bool relative = folder_name.empty() || folder_name.front() != '/';
    if (relative && !listing.folder_name.empty()) {
        if (fchdir(start_folder) != 0) {
            return failure_errno();
        }
        listing.folder_name.clear();
    }
    if (!folder_name.empty()) {
        const std::string path(folder_name);
        if (chdir(path.c_str()) != 0) {
            return failure_errno();
        }
        listing.folder_name = path;
    }
    return 0;
}

// How often the old listing is looked at again where it changed between
// two looks.
constexpr int looks = 3;

}  // namespace

std::size_t file_name_start(std::string_view path) {
    // npos + 1 is 0: a path without a separator is all file name.
    return path.rfind('/') + 1;
}

int read_start(const char* path, unsigned char* bytes, std::size_t size, std::size_t& got) {
    got = 0;
    const int descriptor = openat(start_folder, path, O_RDONLY | O_NOCTTY | O_CLOEXEC);
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
    listing.file.assign(name, file_start);
    listing.replaces_file = false;
    listing.made_private = false;
    if (const int error = enter_folder(listing, std::string_view(name).substr(0, file_start))) {
        return error;
    }
    int error = 0;
    for (int look = 0; look < looks; ++look) {
        if (lstat(listing.file.c_str(), &listing.old) != 0) {
            return errno == ENOENT ? 0 : failure_errno();
        }
        if (S_ISDIR(listing.old.st_mode)) {
            return EISDIR;
        }
        if (!S_ISREG(listing.old.st_mode)) {
            return 0;  // a link, FIFO, socket or device: the name is simply taken
        }
        error = look_at_access(listing);
        if (error == ENOENT) {
            return 0;  // gone since its status: a new listing
        }
        if (error != ENODATA) {
            break;  // else an attribute it had is gone: look again
        }
    }
    listing.replaces_file = error == 0;
    return error;
}

int create_temporary(Listing& listing, const std::string& file_name) {
    listing.temporary = file_name;
    listing.descriptor =
        open(listing.temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
             temporary_mode(listing));
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
    return rename(listing.temporary.c_str(), listing.file.c_str()) != 0 ? failure_errno() : 0;
}

int discard(Listing& listing) {
    if (listing.descriptor >= 0) {
        close(listing.descriptor);
        listing.descriptor = -1;
    }
    // Where it is not there, nothing is left.
    return unlink(listing.temporary.c_str()) != 0 && errno != ENOENT ? failure_errno() : 0;
}

void end_listing(Listing& listing) {
    // The run stays in the folder for the next listing, which is often in it.
    if (listing.descriptor >= 0) {
        close(listing.descriptor);
        listing.descriptor = -1;
    }
}

}  // namespace huemill::platform
