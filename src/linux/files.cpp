// huemill's hooks on Linux for files (see platform.hpp): each palette read,
// and its listing made, in one folder, the one its argument names when its
// turn comes.
//
// The folder is opened once for the listing (as a descriptor, O_PATH) and
// every name after that is looked up in it alone: the palette, what stands
// at the listing's name, its extended attributes, the temporary file and
// the rename. So a folder renamed, or a link to it switched, while the run
// goes on never sends a listing elsewhere than beside the palette it was
// made from: GNU fts guards its walk against a swapped folder the same
// way. The current folder stays the start folder, but on a system that
// can name extended attributes neither through a folder's descriptor nor
// through /proc (see AttributeWay).
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "linux/listing.hpp"

namespace huemill::platform {
namespace {

// Closes the listing's folder, where one was opened for it.
void close_folder(Listing& listing) {
    if (listing.folder != AT_FDCWD) {
        close(listing.folder);
        listing.folder = AT_FDCWD;
    }
}

// Goes back to the start folder after a listing that entered its own.
void leave_folder(Listing& listing) {
    RunFolder& run = listing.run;
    if (listing.entered && run.start >= 0 && fchdir(run.start) == 0) {
        run.away = false;
    }
    listing.entered = false;
}

// Whether path depends on the current folder: a relative path, or one
// through /proc, where /proc/self/cwd is the current folder.
bool depends_on_current_folder(std::string_view path) {
    return path.substr(0, 1) != "/" || path.substr(0, 6) == "/proc/";
}

// Whether the file at the listing's name, of status, is the palette read
// for it, so that replacing it would lose the palette: named as the
// palette was, or its only name. (A hard link of the palette's beside it
// is replaced like any other; the palette keeps its own name.)
bool is_the_input(const Listing& listing, const struct stat& status) {
    return status.st_dev == listing.input.st_dev && status.st_ino == listing.input.st_ino &&
           (status.st_nlink <= 1 || listing.file == listing.input_file);
}

// How often the old listing is looked at again where it changed between
// two looks.
constexpr int looks = 3;

}  // namespace

// The start folder is opened first, once, so that the run can go back to
// it. Where it cannot be, a listing named relative to it fails; one named
// by an absolute path needs it not, and goes on, and an argument after it
// that needs the start folder fails then.
int enter_folder(Listing& listing) {
    RunFolder& run = listing.run;
    if (listing.folder == AT_FDCWD || listing.entered) {
        return 0;
    }
    if (run.start < 0 && !run.start_failed) {
        run.start = open(".", O_PATH | O_DIRECTORY | O_CLOEXEC);
        run.start_failed = run.start < 0;
    }
    if (run.start < 0 && listing.named_from_start) {
        return error_start_folder;
    }
    if (fchdir(listing.folder) != 0) {
        return failure_errno();
    }
    run.away = listing.entered = true;
    return 0;
}

ListingHandle new_listing() { return ListingHandle(new Listing()); }

void ListingDeleter::operator()(Listing* listing) const { delete listing; }

std::size_t file_name_start(std::string_view path) {
    // npos + 1 is 0: a path without a separator is all file name.
    return path.rfind('/') + 1;
}

int read_start(Listing& listing, const char* path, unsigned char* bytes, std::size_t size,
               std::size_t& got) {
    got = 0;
    close_folder(listing);
    const std::string_view whole(path);
    const std::size_t file_start = file_name_start(whole);
    listing.named_from_start = depends_on_current_folder(whole);
    if (listing.named_from_start && listing.run.away) {
        return error_start_folder;  // it was left, and cannot be gone back to
    }
    if (file_start > 0) {
        listing.folder_name.assign(whole, 0, file_start);
        listing.folder = open(listing.folder_name.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
        if (listing.folder < 0) {
            listing.folder = AT_FDCWD;
            return failure_errno();
        }
    }
    // A path that ends in '/' names the folder itself.
    const char* file = file_start > 0 && path[file_start] == '\0' ? "." : path + file_start;
    listing.input_file = file;
    const int descriptor = openat(listing.folder, file, O_RDONLY | O_NOCTTY | O_CLOEXEC);
    int error = descriptor < 0 || fstat(descriptor, &listing.input) != 0 ? failure_errno() : 0;
    while (error == 0 && got < size) {
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
    if (descriptor >= 0) {
        close(descriptor);  // opened for reading only: closing loses nothing
    }
    if (error != 0) {
        close_folder(listing);
    }
    return error;
}

int begin_listing(Listing& listing, const std::string& name) {
    listing.file.assign(name, file_name_start(name));
    listing.replaces = false;
    int error = 0;
    for (int look = 0; look < looks; ++look) {
        struct stat& status = listing.old.status;
        errno = 0;
        if (fstatat(listing.folder, listing.file.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0) {
            return errno == ENOENT ? 0 : failure_errno();
        }
        if (is_the_input(listing, status)) {
            return error_listing_is_input;
        }
        if (S_ISDIR(status.st_mode)) {
            return EISDIR;
        }
        if (!S_ISREG(status.st_mode)) {
            return 0;  // a link, FIFO, socket or device: the name is simply taken
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
    listing.temporary = file_name;
    errno = 0;
    listing.descriptor =
        openat(listing.folder, listing.temporary.c_str(),
               O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, creation_mode(listing));
    return listing.descriptor < 0 ? failure_errno() : 0;
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
    // Where it is not there, nothing is left.
    errno = 0;
    return unlinkat(listing.folder, listing.temporary.c_str(), 0) != 0 && errno != ENOENT
               ? failure_errno()
               : 0;
}

void end_listing(Listing& listing) {
    if (listing.descriptor >= 0) {
        close(listing.descriptor);
        listing.descriptor = -1;
    }
    leave_folder(listing);
    close_folder(listing);
}

}  // namespace huemill::platform
