// huemill's hooks on Windows (see platform.hpp): wide calls only, UTF-16
// arguments, console output in characters, and a temporary file that
// Windows itself removes if the process ends before it becomes the listing.
#include "platform.hpp"

#include <windows.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <vector>

#include "windows/paths.hpp"

// Every argument is a file name: keep the C runtime from expanding "*.pal".
extern "C" {
int _dowildcard = 0;

// The C runtime's own reading of the command line, in UTF-16: msvcrt.dll
// exports it, and MinGW's start-up code calls it for wmain programs.
struct huemill_startup_info {
    int new_mode;
};
int __cdecl __wgetmainargs(int* argc, wchar_t*** argv, wchar_t*** environment, int expand_wildcards,
                           huemill_startup_info* startup);
}

namespace huemill::platform {
namespace {

using windows::system_path;

// A listing name that Windows would take for a device.
constexpr int reserved_device_error = INT_MIN;

// ERROR_DISK_QUOTA_EXCEEDED, which MinGW's headers lack.
constexpr DWORD error_disk_quota_exceeded = 1295;

// Windows errors a file tool meets, in words: as an errno value where one
// says the same (so that messages read as on other systems), else in words
// of huemill's own.
struct Reason {
    DWORD code;
    int error;          // the errno value, or 0
    const char* words;  // where error is 0
};
constexpr Reason reasons[] = {
    {ERROR_FILE_NOT_FOUND, ENOENT, nullptr},
    {ERROR_PATH_NOT_FOUND, ENOENT, nullptr},
    {ERROR_INVALID_DRIVE, 0, "No such drive"},
    {ERROR_ACCESS_DENIED, EACCES, nullptr},
    {ERROR_NETWORK_ACCESS_DENIED, EACCES, nullptr},
    {ERROR_SHARING_VIOLATION, 0, "In use by another program"},
    {ERROR_LOCK_VIOLATION, 0, "Locked by another program"},
    {ERROR_DISK_FULL, ENOSPC, nullptr},
    {ERROR_HANDLE_DISK_FULL, ENOSPC, nullptr},
    {error_disk_quota_exceeded, 0, "Disk quota exceeded"},
    {ERROR_FILENAME_EXCED_RANGE, ENAMETOOLONG, nullptr},
    {ERROR_FILE_EXISTS, EEXIST, nullptr},
    {ERROR_ALREADY_EXISTS, EEXIST, nullptr},
    {ERROR_DIRECTORY, ENOTDIR, nullptr},
    {ERROR_INVALID_NAME, 0, "Not a valid file name"},
    {ERROR_BAD_PATHNAME, 0, "Not a valid file name"},
    {ERROR_WRITE_PROTECT, 0, "The medium is write-protected"},
    {ERROR_NOT_READY, 0, "The device is not ready"},
    {ERROR_NOT_SAME_DEVICE, 0, "Not on the same drive"},
    {ERROR_BAD_NETPATH, 0, "Network path not found"},
    {ERROR_BAD_NET_NAME, 0, "Network name not found"},
    {ERROR_NETNAME_DELETED, 0, "The network name is no longer available"},
    {ERROR_UNEXP_NET_ERR, 0, "Unexpected network error"},
    {ERROR_DEV_NOT_EXIST, 0, "The device is no longer available"},
    {ERROR_NOT_SUPPORTED, 0, "Not supported by this file system"},
    {ERROR_INVALID_FUNCTION, 0, "Not supported by this file system"},
    {ERROR_CANT_RESOLVE_FILENAME, 0, "Too many levels of symbolic links"},
    {ERROR_CRC, EIO, nullptr},
    {ERROR_READ_FAULT, EIO, nullptr},
    {ERROR_WRITE_FAULT, EIO, nullptr},
    {ERROR_GEN_FAILURE, EIO, nullptr},
    {ERROR_SECTOR_NOT_FOUND, EIO, nullptr},
    {ERROR_IO_DEVICE, EIO, nullptr},
    {ERROR_BROKEN_PIPE, EPIPE, nullptr},
    {ERROR_NO_DATA, EPIPE, nullptr},
    {ERROR_NOT_ENOUGH_MEMORY, ENOMEM, nullptr},
    {ERROR_OUTOFMEMORY, ENOMEM, nullptr},
};

const Reason* reason_for(DWORD code) {
    const auto found = std::find_if(std::begin(reasons), std::end(reasons),
                                    [code](const Reason& reason) { return reason.code == code; });
    return found != std::end(reasons) ? found : nullptr;
}

// The error for a Windows error code: its errno value where it has one,
// else the code itself, negated, for describe().
int error_of(DWORD code) {
    const Reason* reason = reason_for(code);
    if (reason != nullptr && reason->error != 0) {
        return reason->error;
    }
    return code == 0 ? EIO : -static_cast<int>(code);
}

int last_error() { return error_of(GetLastError()); }

// Another program (a virus scanner, an indexer, an editor) holding the file
// for a moment: worth trying again.
bool held_by_another_program(DWORD code) {
    return code == ERROR_ACCESS_DENIED || code == ERROR_SHARING_VIOLATION ||
           code == ERROR_LOCK_VIOLATION;
}

// Calls attempt, which returns 0 or a Windows error code, until it succeeds,
// fails for a reason other than another program holding the file, or about
// a second has passed. Returns what the last call returned.
template <typename Attempt>
DWORD retrying(Attempt attempt) {
    constexpr ULONGLONG patience_ms = 1000;
    const ULONGLONG start = GetTickCount64();
    DWORD pause_ms = 1;
    for (;;) {
        const DWORD code = attempt();
        if (code == 0 || !held_by_another_program(code) ||
            GetTickCount64() - start >= patience_ms) {
            return code;
        }
        Sleep(pause_ms);
        pause_ms = std::min<DWORD>(pause_ms * 2, 100);
    }
}

// The listing in progress, from begin_listing to end_listing.
struct Listing {
    std::string name;
    std::wstring target;                 // name, as the wide calls take it
    std::string temporary;               // its temporary file's path, once created
    std::wstring temporary_path;         // that, as the wide calls take it
    HANDLE file = INVALID_HANDLE_VALUE;  // the temporary file, while open
    bool marked = false;                 // the temporary file goes when its handle closes
};
Listing listing;

// Marks file to be removed when its last handle closes, or clears the
// mark. Returns whether that worked.
bool set_delete_on_close(HANDLE file, bool remove) {
    FILE_DISPOSITION_INFO disposition{};
    disposition.DeleteFile = remove ? TRUE : FALSE;
    return SetFileInformationByHandle(file, FileDispositionInfo, &disposition,
                                      sizeof disposition) != 0;
}

// Renames the open file to target, replacing what stands there. Returns 0 or
// the Windows error code.
DWORD rename_open_file(HANDLE file, const std::wstring& target) {
    // FILE_RENAME_INFO ends in the name; it is given its NUL as well.
    std::vector<unsigned char> buffer(sizeof(FILE_RENAME_INFO) + target.size() * sizeof(wchar_t));
    auto* rename = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
    rename->ReplaceIfExists = TRUE;
    rename->RootDirectory = nullptr;
    rename->FileNameLength = static_cast<DWORD>(target.size() * sizeof(wchar_t));
    std::memcpy(rename->FileName, target.c_str(), (target.size() + 1) * sizeof(wchar_t));
    if (SetFileInformationByHandle(file, FileRenameInfo, rename,
                                   static_cast<DWORD>(buffer.size())) != 0) {
        return 0;
    }
    const DWORD code = GetLastError();
    if (code != ERROR_INVALID_PARAMETER && code != ERROR_NOT_SUPPORTED &&
        code != ERROR_INVALID_FUNCTION) {
        return code;
    }
    // Some network file systems rename only by name. The file stays open
    // meanwhile: it was opened to let others delete and rename it.
    return MoveFileExW(listing.temporary_path.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING) !=
                   0
               ? 0
               : GetLastError();
}

void close_temporary() {
    if (listing.file != INVALID_HANDLE_VALUE) {
        CloseHandle(listing.file);
        listing.file = INVALID_HANDLE_VALUE;
    }
}

// Writes all of text to handle, a console or not. Returns 0 or the error.
int write_all_to(HANDLE handle, const std::string& text) {
    DWORD mode = 0;
    if (GetConsoleMode(handle, &mode) != 0) {
        // A console shows characters, whatever its code page.
        const std::wstring wide = windows::utf16(text);
        for (std::size_t done = 0; done < wide.size();) {
            DWORD written = 0;
            const auto chunk = static_cast<DWORD>(std::min<std::size_t>(wide.size() - done, 8192));
            if (WriteConsoleW(handle, wide.data() + done, chunk, &written, nullptr) == 0 ||
                written == 0) {
                return last_error();
            }
            done += written;
        }
        return 0;
    }
    for (std::size_t done = 0; done < text.size();) {
        DWORD written = 0;
        const auto chunk = static_cast<DWORD>(std::min<std::size_t>(text.size() - done, 1U << 20U));
        if (WriteFile(handle, text.data() + done, chunk, &written, nullptr) == 0 || written == 0) {
            return last_error();
        }
        done += written;
    }
    return 0;
}

}  // namespace

void prepare_process() {
    // A drive without its medium fails the call rather than asking the
    // user, in a window, to insert one.
    SetErrorMode(SEM_FAILCRITICALERRORS);
    // Nothing else: a temporary file removes itself however the process
    // ends, so Ctrl-C, Ctrl-Break and closing the console end it at once.
}

char** utf8_arguments(int argc, char* argv[]) {
    static std::vector<std::string> arguments;
    static std::vector<char*> pointers;
    int count = 0;
    wchar_t** wide = nullptr;
    wchar_t** environment = nullptr;
    huemill_startup_info startup{0};
    if (__wgetmainargs(&count, &wide, &environment, 0, &startup) < 0 || count != argc) {
        return argv;  // the bytes the C runtime gave are all there is
    }
    for (int i = 0; i < count; ++i) {
        arguments.push_back(windows::utf8(wide[i]));
    }
    for (std::string& argument : arguments) {
        pointers.push_back(argument.data());
    }
    pointers.push_back(nullptr);
    return pointers.data();
}

unsigned long process_id() { return GetCurrentProcessId(); }

int write_text(Stream stream, std::string_view text) {
    const HANDLE handle =
        GetStdHandle(stream == Stream::output ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE);
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE) {
        return EBADF;
    }
    std::string lines;
    for (const char c : text) {
        if (c == '\n') {
            lines += '\r';
        }
        lines += c;
    }
    return write_all_to(handle, lines);
}

std::string describe(int error) {
    if (error == reserved_device_error) {
        return "Windows reserves this name for a device";
    }
    if (error >= 0) {
        return std::strerror(error);
    }
    const auto code = static_cast<DWORD>(-error);
    if (const Reason* reason = reason_for(code)) {
        return reason->words;
    }
    // One the table does not know: the system's own words, in one line.
    wchar_t* words = nullptr;
    const DWORD size =
        FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                           FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_MAX_WIDTH_MASK,
                       nullptr, code, 0, reinterpret_cast<wchar_t*>(&words), 0, nullptr);
    std::string text = size > 0 ? windows::utf8(std::wstring_view(words, size)) : "";
    LocalFree(words);
    while (!text.empty() && (text.back() == ' ' || text.back() == '.')) {
        text.pop_back();
    }
    return text.empty() ? "Windows error " + std::to_string(code) : text;
}

int read_start(const char* path, unsigned char* bytes, std::size_t size, std::size_t& got) {
    got = 0;
    const std::wstring name = system_path(path);
    const HANDLE file = CreateFileW(name.c_str(), GENERIC_READ,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        const DWORD code = GetLastError();
        const DWORD attributes = GetFileAttributesW(name.c_str());
        const bool folder =
            attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        return folder ? EISDIR : error_of(code);
    }
    int error = 0;
    while (got < size) {
        DWORD count = 0;
        if (ReadFile(file, bytes + got, static_cast<DWORD>(size - got), &count, nullptr) == 0) {
            const DWORD code = GetLastError();
            // A pipe ends when its writer closes it.
            error = code == ERROR_BROKEN_PIPE || code == ERROR_HANDLE_EOF ? 0 : error_of(code);
            break;
        }
        if (count == 0) {
            break;
        }
        got += count;
    }
    CloseHandle(file);
    return error;
}

std::string_view folder_separators() { return "/\\"; }

int begin_listing(const std::string& name) {
    listing = Listing{};
    listing.name = name;
    if (windows::is_reserved_device_name(name.substr(name.find_last_of(folder_separators()) + 1))) {
        return reserved_device_error;
    }
    listing.target = system_path(name);
    const DWORD attributes = GetFileAttributesW(listing.target.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        const DWORD code = GetLastError();
        return code == ERROR_FILE_NOT_FOUND ? 0 : error_of(code);
    }
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        return EISDIR;
    }
    return (attributes & FILE_ATTRIBUTE_READONLY) != 0 ? EACCES : 0;
}

int create_temporary(const std::string& file_name) {
    listing.temporary.assign(listing.name, 0, listing.name.find_last_of(folder_separators()) + 1);
    listing.temporary += file_name;
    listing.temporary_path = system_path(listing.temporary);
    // DELETE access, to mark it and to rename it by its handle; others may
    // read it, and delete or rename it, but not write to it.
    listing.file = CreateFileW(listing.temporary_path.c_str(), GENERIC_WRITE | DELETE,
                               FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, CREATE_NEW,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
    if (listing.file == INVALID_HANDLE_VALUE) {
        return last_error();
    }
    // Where the mark does not take, discard removes the file by name.
    listing.marked = set_delete_on_close(listing.file, true);
    return 0;
}

int carry_over() { return 0; }  // a new file takes its folder's inherited access

int write_temporary(const char* bytes, std::size_t size, std::size_t& written) {
    DWORD count = 0;
    const auto chunk = static_cast<DWORD>(std::min<std::size_t>(size, 1U << 30U));
    if (WriteFile(listing.file, bytes, chunk, &count, nullptr) == 0) {
        return last_error();
    }
    if (count == 0) {
        return EIO;
    }
    written = count;
    return 0;
}

int commit() {
    const DWORD code = retrying([]() -> DWORD {
        // The mark comes off only for the rename itself, so that a process
        // killed at any other moment leaves no temporary file.
        if (listing.marked && !set_delete_on_close(listing.file, false)) {
            return GetLastError();
        }
        listing.marked = false;
        const DWORD renamed = rename_open_file(listing.file, listing.target);
        if (renamed != 0) {
            listing.marked = set_delete_on_close(listing.file, true);
        }
        return renamed;
    });
    if (code != 0) {
        return error_of(code);
    }
    // Renamed, the file is the listing; closing it cannot undo that.
    close_temporary();
    return 0;
}

int discard() {
    if (listing.file != INVALID_HANDLE_VALUE) {
        listing.marked = listing.marked || set_delete_on_close(listing.file, true);
        close_temporary();
        if (listing.marked) {
            return 0;  // gone with the handle, or when another program lets go
        }
    }
    const DWORD code = retrying([]() -> DWORD {
        return DeleteFileW(listing.temporary_path.c_str()) != 0 ? 0 : GetLastError();
    });
    return code == 0 || code == ERROR_FILE_NOT_FOUND ? 0 : error_of(code);
}

void end_listing() { close_temporary(); }

}  // namespace huemill::platform
