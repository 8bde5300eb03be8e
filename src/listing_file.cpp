// Replacing a listing in one step: a temporary file beside it, written
// completely, then renamed over the listing's name.
#include "listing_file.hpp"

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>

#include "palette.hpp"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <process.h>
#include <sys/stat.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#endif

namespace huemill {
namespace {

#ifdef _WIN32
constexpr std::string_view folder_separators = "/\\";
#else
constexpr std::string_view folder_separators = "/";
#endif

// The longest file name (one path component) that common file systems take.
constexpr std::size_t longest_file_name = 255;

// Six characters that no other temporary file of this run has had, and that
// another process is unlikely to pick: drawn from a generator seeded with
// the process id and the time. Creation refuses a name that exists anyway.
std::string unique_suffix() {
    static std::uint64_t state =
        static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()) ^
#ifdef _WIN32
        static_cast<std::uint64_t>(_getpid()) << 32U;
#else
        static_cast<std::uint64_t>(getpid()) << 32U;
#endif
    // splitmix64: every call a new, well-mixed value.
    state += 0x9E3779B97F4A7C15U;
    std::uint64_t bits = state;
    bits = (bits ^ (bits >> 30U)) * 0xBF58476D1CE4E5B9U;
    bits = (bits ^ (bits >> 27U)) * 0x94D049BB133111EBU;
    bits ^= bits >> 31U;
    // Lower case and digits only: Windows names ignore case.
    constexpr std::string_view alphabet = "0123456789abcdefghijklmnopqrstuvwxyz";
    std::string suffix(6, '0');
    for (char& c : suffix) {
        c = alphabet[static_cast<std::size_t>(bits % alphabet.size())];
        bits /= alphabet.size();
    }
    return suffix;
}

// How many times a taken temporary name is tried again with another suffix.
constexpr int creation_attempts = 100;

// What stands at a listing's name, as far as replacing it goes: error is 0
// where nothing does or a file that may be replaced, else the errno that
// says why it may not; a regular file's permission bits are to be kept.
struct Standing {
    int error;
    bool keeps_mode;
    unsigned mode;
};

#ifdef _WIN32

// The errno closest to a Windows error, for the one message huemill prints.
int errno_of(DWORD error) {
    switch (error) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
            return ENOENT;
        case ERROR_ACCESS_DENIED:
        case ERROR_SHARING_VIOLATION:
        case ERROR_LOCK_VIOLATION:
            return EACCES;
        case ERROR_DISK_FULL:
        case ERROR_HANDLE_DISK_FULL:
            return ENOSPC;
        case ERROR_FILENAME_EXCED_RANGE:
            return ENAMETOOLONG;
        case ERROR_INVALID_NAME:
            return EINVAL;
        default:
            return EIO;
    }
}

// name in UTF-16, for the calls whose narrow forms stop at 260 characters.
// Narrow names are in the process's code page, which the manifest makes
// UTF-8.
std::wstring wide(const std::string& name) {
    const int size = MultiByteToWideChar(CP_ACP, 0, name.c_str(), -1, nullptr, 0);
    std::wstring result(static_cast<std::size_t>(size > 0 ? size : 1), L'\0');
    MultiByteToWideChar(CP_ACP, 0, name.c_str(), -1, result.data(), size);
    return result;
}

// Held while a temporary file exists. The console's Ctrl-C handler takes it
// and never gives it back, so the process ends only between listings.
SRWLOCK listing_in_progress = SRWLOCK_INIT;

BOOL WINAPI end_between_listings(DWORD /*event*/) {
    AcquireSRWLockExclusive(&listing_in_progress);
    return FALSE;  // the default handler then ends the process as Ctrl-C does
}

void begin_listing() { AcquireSRWLockExclusive(&listing_in_progress); }
void end_listing() { ReleaseSRWLockExclusive(&listing_in_progress); }
void announce_temporary(const char* /*temporary*/) {}

Standing look_at(const std::string& name) {
    const DWORD attributes = GetFileAttributesW(wide(name).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        const DWORD error = GetLastError();
        return {error == ERROR_FILE_NOT_FOUND ? 0 : errno_of(error), false, 0};
    }
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        return {EISDIR, false, 0};
    }
    return {(attributes & FILE_ATTRIBUTE_READONLY) != 0 ? EACCES : 0, false, 0};
}

int create_temporary(const std::string& temporary, const Standing& /*standing*/) {
    return _open(temporary.c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY | _O_NOINHERIT,
                 _S_IREAD | _S_IWRITE);
}

int keep_permission_bits(int /*descriptor*/, const Standing& /*standing*/) { return 0; }

int write_some(int descriptor, const char* bytes, std::size_t size) {
    return _write(descriptor, bytes, static_cast<unsigned>(size));
}

int close_descriptor(int descriptor) { return _close(descriptor); }

int move_over(const std::string& temporary, const std::string& name) {
    if (MoveFileExW(wide(temporary).c_str(), wide(name).c_str(), MOVEFILE_REPLACE_EXISTING) == 0) {
        return errno_of(GetLastError());
    }
    return 0;
}

#else

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

void begin_listing() {}
void end_listing() { temporary_in_progress = nullptr; }
void announce_temporary(const char* temporary) { temporary_in_progress = temporary; }

// The permission bits a new file does not get: read once, when first needed.
mode_t creation_mask() {
    static const mode_t mask = [] {
        const mode_t current = umask(0);
        umask(current);
        return current;
    }();
    return mask;
}

Standing look_at(const std::string& name) {
    struct stat standing {};
    if (lstat(name.c_str(), &standing) != 0) {
        return {errno == ENOENT ? 0 : failure_errno(), false, 0};
    }
    if (S_ISDIR(standing.st_mode)) {
        return {EISDIR, false, 0};
    }
    if (!S_ISREG(standing.st_mode)) {
        return {0, false, 0};  // a link, FIFO, socket or device: the name is simply taken
    }
    if (faccessat(AT_FDCWD, name.c_str(), W_OK, AT_EACCESS) != 0) {
        return {failure_errno(), false, 0};
    }
    return {0, true, standing.st_mode & 0777U};
}

int create_temporary(const std::string& temporary, const Standing& standing) {
    return open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                standing.keeps_mode ? standing.mode : 0666);
}

// Gives the new listing the bits of the one it replaces where the creation
// mask narrowed them. Returns 0 or the errno.
int keep_permission_bits(int descriptor, const Standing& standing) {
    if (!standing.keeps_mode || (standing.mode & creation_mask()) == 0) {
        return 0;
    }
    return fchmod(descriptor, standing.mode) != 0 ? failure_errno() : 0;
}

int write_some(int descriptor, const char* bytes, std::size_t size) {
    return static_cast<int>(write(descriptor, bytes, size));
}

int close_descriptor(int descriptor) { return close(descriptor); }

int move_over(const std::string& temporary, const std::string& name) {
    return rename(temporary.c_str(), name.c_str()) != 0 ? failure_errno() : 0;
}

#endif

// Writes all size bytes at bytes to descriptor. Returns 0 or the errno.
int write_all(int descriptor, const char* bytes, std::size_t size) {
    while (size > 0) {
        errno = 0;
        const int written = write_some(descriptor, bytes, size);
        if (written <= 0) {
            if (errno == EINTR) {
                continue;
            }
            return failure_errno();
        }
        bytes += written;
        size -= static_cast<std::size_t>(written);
    }
    return 0;
}

// Creates the temporary file for name, writes text into it, closes it and
// renames it over name. Returns 0 or the errno of the first failure, after
// which temporary names the file left to remove, if there is one.
int write_and_rename(const std::string& name, std::string& temporary, const char* text,
                     std::size_t size) {
    const Standing standing = look_at(name);
    if (standing.error != 0) {
        return standing.error;
    }
    int descriptor = -1;
    for (int attempt = 0; attempt < creation_attempts && descriptor < 0; ++attempt) {
        announce_temporary(nullptr);
        temporary = temporary_listing_name(name, unique_suffix());
        // Announced before it exists, so that no moment passes with the file
        // there and a signal handler unaware of it.
        announce_temporary(temporary.c_str());
        descriptor = create_temporary(temporary, standing);
        if (descriptor < 0 && errno != EEXIST) {
            break;
        }
    }
    if (descriptor < 0) {
        const int error = failure_errno();
        temporary.clear();
        return error;
    }
    int error = keep_permission_bits(descriptor, standing);
    if (error == 0) {
        error = write_all(descriptor, text, size);
    }
    // Some systems report a failed write only when the file is closed.
    errno = 0;
    if (close_descriptor(descriptor) != 0 && error == 0) {
        error = failure_errno();
    }
    return error != 0 ? error : move_over(temporary, name);
}

}  // namespace

std::string temporary_listing_name(std::string_view name, std::string_view unique) {
    constexpr std::string_view infix = ".huemill-";
    constexpr std::string_view extension = ".tmp";
    const std::size_t suffix_size = infix.size() + unique.size() + extension.size();
    // npos + 1 is 0: a name without a separator is all file name.
    const std::size_t file_start = name.find_last_of(folder_separators) + 1;
    std::size_t file_end = name.size();
    if (file_end - file_start + suffix_size > longest_file_name) {
        file_end = file_start + longest_file_name - suffix_size;
        // Back up to the first byte of a UTF-8 character, not into one.
        while (file_end > file_start &&
               (static_cast<unsigned char>(name[file_end]) & 0xC0U) == 0x80U) {
            --file_end;
        }
    }
    std::string temporary;
    temporary.reserve(file_end + suffix_size);
    temporary.append(name.substr(0, file_end)).append(infix).append(unique).append(extension);
    return temporary;
}

void prepare_listing_files() {
#ifdef _WIN32
    SetConsoleCtrlHandler(end_between_listings, TRUE);
#else
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
#endif
}

int replace_listing(const std::string& name, const char* text, std::size_t size) {
    std::string temporary;
    begin_listing();
    const int error = write_and_rename(name, temporary, text, size);
    if (error != 0 && !temporary.empty()) {
        std::remove(temporary.c_str());
    }
    end_listing();
    return error;
}

}  // namespace huemill
