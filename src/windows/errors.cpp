// Windows errors in the words huemill's messages use (see platform.hpp's
// system_words): an errno value where one says the same, so that messages
// read as on other systems, else words of huemill's own or the system's.
#include <windows.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "windows/layer.hpp"
#include "windows/paths.hpp"

namespace huemill::platform {
namespace {

// ERROR_DISK_QUOTA_EXCEEDED, which MinGW's headers lack.
constexpr DWORD error_disk_quota_exceeded = 1295;

// Windows errors a file tool meets, in words: as an errno value where one
// says the same, else in words of huemill's own.
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

}  // namespace

int error_of(unsigned long code) {
    const Reason* reason = reason_for(code);
    if (reason != nullptr && reason->error != 0) {
        return reason->error;
    }
    // Else the code itself, negated, for system_words().
    return code == 0 ? EIO : -static_cast<int>(code);
}

int last_error() { return error_of(GetLastError()); }

std::string system_words(int error) {
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

}  // namespace huemill::platform
