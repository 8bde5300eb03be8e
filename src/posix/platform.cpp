// huemill's hooks on POSIX systems (see platform.hpp): file descriptors,
// rename(2), and signal handlers that remove a temporary file in progress.
#include "platform.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>

namespace huemill::platform {
namespace {

// errno after a failed call, or EIO where the call left it unset, so that a
// failure is never mistaken for success.
int failure_errno() { return errno != 0 ? errno : EIO; }

// The listing in progress, from begin_listing to end_listing.
struct Listing {
    std::string name;
    std::string temporary;  // its temporary file's path, once created
    int descriptor = -1;    // the temporary file, while open
    bool keeps_mode = false;
    mode_t mode = 0;  // the permission bits of the file it replaces
};
Listing listing;

// The temporary file that may exist at this moment, for the signal handler
// to remove.
std::atomic<const char*> temporary_in_progress{nullptr};
static_assert(std::atomic<const char*>::is_always_lock_free, "read safely in a signal handler");

extern "C" void remove_temporary_and_end(int signal_number) {
    if (const char* temporary = temporary_in_progress.load()) {
        unlink(temporary);
    }
    // Ended by the signal itself, so that the caller sees what ended it.
    std::signal(signal_number, SIG_DFL);
    std::raise(signal_number);
}

// The permission bits a new file does not get: read once, when first needed.
mode_t creation_mask() {
    static const mode_t mask = [] {
        const mode_t current = umask(0);
        umask(current);
        return current;
    }();
    return mask;
}

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
    struct sigaction removing {};
    removing.sa_handler = remove_temporary_and_end;
    sigemptyset(&removing.sa_mask);
    for (const int signal_number : {SIGINT, SIGTERM, SIGHUP}) {
        struct sigaction previous {};
        sigaction(signal_number, &removing, &previous);
        // nohup and background jobs ignore these: so does huemill then.
        if (previous.sa_handler == SIG_IGN) {
            sigaction(signal_number, &previous, nullptr);
        }
    }
    std::signal(SIGXFSZ, SIG_IGN);
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
    listing.name = name;
    listing.keeps_mode = false;
    struct stat standing {};
    if (lstat(name.c_str(), &standing) != 0) {
        return errno == ENOENT ? 0 : failure_errno();
    }
    if (S_ISDIR(standing.st_mode)) {
        return EISDIR;
    }
    if (!S_ISREG(standing.st_mode)) {
        return 0;  // a link, FIFO, socket or device: the name is simply taken
    }
    if (faccessat(AT_FDCWD, name.c_str(), W_OK, AT_EACCESS) != 0) {
        return failure_errno();
    }
    listing.keeps_mode = true;
    listing.mode = standing.st_mode & 0777U;
    return 0;
}

int create_temporary(const std::string& file_name) {
    temporary_in_progress = nullptr;
    listing.temporary.assign(listing.name, 0, listing.name.find_last_of(folder_separators()) + 1);
    listing.temporary += file_name;
    // Announced before it exists, so that no moment passes with the file
    // there and a signal handler unaware of it.
    temporary_in_progress = listing.temporary.c_str();
    listing.descriptor =
        open(listing.temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
             listing.keeps_mode ? listing.mode : 0666);
    if (listing.descriptor < 0) {
        const int error = failure_errno();
        temporary_in_progress = nullptr;
        return error;
    }
    return 0;
}

int carry_over() {
    // The creation mask may have narrowed the bits the file was created with.
    if (!listing.keeps_mode || (listing.mode & creation_mask()) == 0) {
        return 0;
    }
    return fchmod(listing.descriptor, listing.mode) != 0 ? failure_errno() : 0;
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
    return rename(listing.temporary.c_str(), listing.name.c_str()) != 0 ? failure_errno() : 0;
}

int discard() {
    if (listing.descriptor >= 0) {
        close(listing.descriptor);
        listing.descriptor = -1;
    }
    return unlink(listing.temporary.c_str()) != 0 ? failure_errno() : 0;
}

void end_listing() { temporary_in_progress = nullptr; }

}  // namespace huemill::platform
