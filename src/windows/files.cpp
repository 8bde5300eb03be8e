// huemill's hooks on Windows for files (see platform.hpp): wide calls only,
// and a temporary file that Windows itself removes if the process ends
// before it becomes the listing.
#include <windows.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <cwchar>
#include <utility>
#include <vector>

#include "windows/layer.hpp"
#include "windows/paths.hpp"

namespace huemill::platform {
namespace {

using windows::system_path;

// Another program (a virus scanner, an indexer, an editor) holding the file
// for a moment: worth trying again.
bool held_by_another_program(DWORD code) {
    return code == ERROR_SHARING_VIOLATION || code == ERROR_LOCK_VIOLATION;
}

// What a refusal to replace target (ERROR_ACCESS_DENIED, which Windows gives
// alike for a file another program holds open and for one this user may not
// replace) was: ERROR_SHARING_VIOLATION where another program holds it,
// which may pass; else ERROR_ACCESS_DENIED, a real denial (an ACL). A file
// this user may open for deleting is held by another program even where
// that one lets others delete it (indexers and scanners do), since Windows
// still will not rename over a file open anywhere.
DWORD why_refused(const std::wstring& target) {
    const HANDLE probe =
        CreateFileW(target.c_str(), DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, 0, nullptr);
    if (probe != INVALID_HANDLE_VALUE) {
        CloseHandle(probe);
        return ERROR_SHARING_VIOLATION;
    }
    const DWORD code = GetLastError();
    // Gone meanwhile: the next attempt may well succeed.
    return held_by_another_program(code) || code == ERROR_FILE_NOT_FOUND ? ERROR_SHARING_VIOLATION
                                                                         : ERROR_ACCESS_DENIED;
}

// Whether the drive path is on may report a failed write only when the file
// is flushed or closed, as a network drive's redirector may: anything but a
// drive of this machine's own, or one that cannot be told.
bool reports_late(const std::wstring& path) {
    std::wstring root(path.size() + 1, L'\0');
    if (GetVolumePathNameW(path.c_str(), root.data(), static_cast<DWORD>(root.size())) == 0) {
        return true;
    }
    root.resize(std::wcslen(root.c_str()));
    const UINT type = GetDriveTypeW(root.c_str());
    return type != DRIVE_FIXED && type != DRIVE_REMOVABLE && type != DRIVE_RAMDISK &&
           type != DRIVE_CDROM;
}

// Calls attempt, which returns 0 or a Windows error code, until it succeeds,
// fails for a reason other than another program holding the file, or about
// a second has passed, or where interruptible, Ctrl-C or its kin came
// meanwhile. Returns what the last call returned.
template <typename Attempt>
DWORD retrying(bool interruptible, Attempt attempt) {
    constexpr ULONGLONG patience_ms = 1000;
    const ULONGLONG start = GetTickCount64();
    DWORD pause_ms = 1;
    for (;;) {
        const DWORD code = attempt();
        if (code == 0 || !held_by_another_program(code) ||
            GetTickCount64() - start >= patience_ms || (interruptible && interruption_pending())) {
            return code;
        }
        Sleep(pause_ms);
        pause_ms = std::min<DWORD>(pause_ms * 2, 100);
    }
}

// Marks file to be removed when its last handle closes, or clears the
// mark. Returns whether that worked.
bool set_delete_on_close(HANDLE file, bool remove) {
    FILE_DISPOSITION_INFO disposition{};
    disposition.DeleteFile = remove ? TRUE : FALSE;
    return SetFileInformationByHandle(file, FileDispositionInfo, &disposition,
                                      sizeof disposition) != 0;
}

// Fills listing.rename_info with the request that renames a file to the
// listing's target, replacing what stands there: made before the temporary
// file exists, so that nothing needs memory between its create and its
// rename.
void prepare_rename(Listing& listing) {
    const std::wstring& target = listing.target;
    // FILE_RENAME_INFO ends in the name; it is given its NUL as well.
    std::vector<unsigned char>& buffer = listing.rename_info;
    buffer.assign(sizeof(FILE_RENAME_INFO) + target.size() * sizeof(wchar_t), 0);
    auto* rename = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
    rename->ReplaceIfExists = TRUE;
    rename->RootDirectory = nullptr;
    rename->FileNameLength = static_cast<DWORD>(target.size() * sizeof(wchar_t));
    std::memcpy(rename->FileName, target.c_str(), (target.size() + 1) * sizeof(wchar_t));
}

// Renames the listing's open temporary file to its target, replacing what
// stands there. Returns 0 or the Windows error code.
DWORD rename_temporary(Listing& listing) {
    if (SetFileInformationByHandle(listing.file, FileRenameInfo, listing.rename_info.data(),
                                   static_cast<DWORD>(listing.rename_info.size())) != 0) {
        return 0;
    }
    const DWORD code = GetLastError();
    if (code != ERROR_INVALID_PARAMETER && code != ERROR_NOT_SUPPORTED &&
        code != ERROR_INVALID_FUNCTION) {
        return code;
    }
    // Some network file systems rename only by name. The file stays open
    // meanwhile: it was opened to let others delete and rename it.
    const BOOL moved = MoveFileExW(listing.temporary_path.c_str(), listing.target.c_str(),
                                   MOVEFILE_REPLACE_EXISTING);
    return moved != 0 ? 0 : GetLastError();
}

FileIdentity identity_from(const BY_HANDLE_FILE_INFORMATION& info) {
    return {true, info.dwVolumeSerialNumber,
            static_cast<std::uint64_t>(info.nFileIndexHigh) << 32U | info.nFileIndexLow,
            info.nNumberOfLinks};
}

// The identity of the file open as file.
FileIdentity identity_of_handle(HANDLE file) {
    BY_HANDLE_FILE_INFORMATION info{};
    return GetFileInformationByHandle(file, &info) != 0 ? identity_from(info) : FileIdentity();
}

// The identity of what stands at path: itself where it is a link, or
// where following, what it leads to. Sets code to why not, where not.
FileIdentity identity_at(const std::wstring& path, bool following, DWORD& code) {
    const DWORD link = following ? 0 : FILE_FLAG_OPEN_REPARSE_POINT;
    const HANDLE standing = CreateFileW(
        path.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
        nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | link, nullptr);
    if (standing == INVALID_HANDLE_VALUE) {
        code = GetLastError();
        return {};
    }
    const FileIdentity identity = identity_of_handle(standing);
    CloseHandle(standing);
    code = identity.known ? 0 : GetLastError();
    return identity;
}

FileIdentity identity_at(const std::wstring& path, bool following) {
    DWORD code = 0;
    return identity_at(path, following, code);
}

// Reads from file into part until it is full or the file ends, and sets
// got to how many arrived. Returns 0 or the error.
int read_into(HANDLE file, Bytes part, std::size_t& got) {
    while (got < part.size) {
        DWORD count = 0;
        if (ReadFile(file, part.data + got, static_cast<DWORD>(part.size - got), &count, nullptr) ==
            0) {
            const DWORD code = GetLastError();
            // A pipe ends when its writer closes it.
            return code == ERROR_BROKEN_PIPE || code == ERROR_HANDLE_EOF ? 0 : error_of(code);
        }
        if (count == 0) {
            break;
        }
        got += count;
    }
    return 0;
}

void close_temporary(Listing& listing) {
    if (listing.file != nullptr) {
        CloseHandle(listing.file);
        listing.file = nullptr;
    }
}

}  // namespace

int write_all(void* file, std::string_view bytes) {
    while (!bytes.empty()) {
        DWORD written = 0;
        const auto chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size(), 1U << 30U));
        if (WriteFile(file, bytes.data(), chunk, &written, nullptr) == 0) {
            return last_error();
        }
        if (written == 0) {
            return EIO;
        }
        bytes.remove_prefix(written);
    }
    return 0;
}

void SystemDeleter::operator()(System* system) const { delete system; }

SystemHandle start_system() { return SystemHandle(new System()); }

void FolderDeleter::operator()(Folder* folder) const {
    if (folder->held != nullptr) {
        CloseHandle(folder->held);
    }
    delete folder;
}

int open_folder(System& /*system*/, std::string_view path, FolderHandle& folder) {
    FolderHandle named(new Folder{std::string(path)});
    // Looked at without the separator it ends in, so that a file there is
    // told from nothing at all.
    std::string_view bare = path;
    while (bare.size() > 1 && (bare.back() == '/' || bare.back() == '\\') &&
           bare[bare.size() - 2] != ':') {
        bare.remove_suffix(1);
    }
    if (!bare.empty()) {
        const DWORD attributes = GetFileAttributesW(system_path(bare).c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES) {
            return last_error();
        }
        if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
            return ENOTDIR;
        }
    }
    folder = std::move(named);
    return 0;
}

int hold_folder(System& system, std::string_view path, FolderHandle& folder) {
    if (const int error = open_folder(system, path, folder)) {
        return error;
    }
    // Open to read its entries, which makes the sharing count, and shared
    // for all but deleting: a rename or removal of it is refused.
    folder->held = CreateFileW(system_path(path.empty() ? "." : path).c_str(), FILE_LIST_DIRECTORY,
                               FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                               FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (folder->held == INVALID_HANDLE_VALUE) {
        folder->held = nullptr;
        return last_error();
    }
    return 0;
}

FileIdentity folder_identity(const Folder& folder) {
    if (folder.held != nullptr) {
        return identity_of_handle(folder.held);
    }
    return identity_at(system_path(folder.name.empty() ? "." : folder.name), true);
}

// Windows never holds two names that differ only in case
// (names_ignore_case), so portable code never needs to ask.
bool holds_as_spelled(const Folder& /*folder*/, std::string_view /*file_name*/) { return false; }

int identity_of(System& /*system*/, const char* path, std::string_view file_name,
                FileIdentity& identity) {
    identity = FileIdentity();
    if (windows::is_reserved_device_name(file_name)) {
        return 0;  // reading it fails with error_reserved_device
    }
    DWORD code = 0;
    identity = identity_at(system_path(path), true, code);
    const bool nothing_to_read = code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND ||
                                 code == ERROR_ACCESS_DENIED || code == ERROR_INVALID_NAME ||
                                 code == ERROR_BAD_PATHNAME || code == ERROR_DIRECTORY ||
                                 code == ERROR_CANT_RESOLVE_FILENAME ||
                                 code == ERROR_FILENAME_EXCED_RANGE;
    return identity.known || nothing_to_read ? 0 : error_of(code);
}

int learn_paths(System& system, const std::vector<NamedPath>& paths,
                std::vector<FileIdentity>& identities, std::size_t& failed) {
    identities.assign(paths.size(), FileIdentity());
    for (std::size_t i = 0; i < paths.size(); ++i) {
        if (const int error =
                identity_of(system, paths[i].path, paths[i].file_name, identities[i])) {
            failed = i;
            return error;
        }
    }
    return 0;
}

int read_file(const Folder& folder, const char* file_name, Bytes first, Bytes second,
              std::size_t& got, FileIdentity& identity) {
    got = 0;
    identity = FileIdentity();
    // Opening it would open the device: a serial port may never answer.
    if (windows::is_reserved_device_name(file_name)) {
        return error_reserved_device;
    }
    const std::wstring name = system_path(folder.name + file_name);
    const HANDLE file = CreateFileW(name.c_str(), GENERIC_READ,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        const DWORD code = GetLastError();
        const DWORD attributes = GetFileAttributesW(name.c_str());
        const bool is_folder =
            attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        return is_folder ? EISDIR : error_of(code);
    }
    int error = 0;
    for (Bytes part : {first, second}) {
        std::size_t in_part = 0;
        error = read_into(file, part, in_part);
        got += in_part;
        if (error != 0 || in_part < part.size) {
            break;  // failed, or at its end
        }
    }
    identity = identity_of_handle(file);
    CloseHandle(file);
    return error;
}

void ListingDeleter::operator()(Listing* listing) const {
    close_temporary(*listing);
    delete listing;
}

int begin_listing(System& system, Folder& folder, std::string_view file_name,
                  ListingHandle& listing, Standing& standing, FileIdentity& identity) {
    standing = Standing::nothing;
    identity = FileIdentity();
    if (windows::is_reserved_device_name(file_name)) {
        return error_reserved_device;
    }
    listing.reset(new Listing(system, folder));
    listing->target = system_path(std::string(folder.name).append(file_name));
    prepare_rename(*listing);
    // Room for the temporary file's path, whatever name it is given: a
    // name of up to 255 bytes is up to 255 UTF-16 units.
    listing->temporary_folder = windows::literal_folder(folder.name);
    listing->temporary_path.reserve(listing->temporary_folder.size() + 256);
    if (!system.learned || system.learned_folder != folder.name) {
        system.learned_folder = folder.name;
        system.flush_first = reports_late(listing->target);
        system.learned = true;
    }
    const DWORD attributes = GetFileAttributesW(listing->target.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        const DWORD code = GetLastError();
        return code == ERROR_FILE_NOT_FOUND ? 0 : error_of(code);
    }
    standing = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0       ? Standing::folder
               : (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 ? Standing::other
                                                                  : Standing::file;
    identity = identity_at(listing->target, false);
    return 0;
}

int look_to_replace(Listing& listing) {
    const DWORD attributes = GetFileAttributesW(listing.target.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0
               ? EACCES
               : 0;
}

int create_temporary(Listing& listing, const std::string& file_name) {
    listing.temporary_path.assign(listing.temporary_folder);
    windows::append_utf16(listing.temporary_path, file_name);
    // DELETE access, to mark it and to rename it by its handle; others may
    // read it, and delete or rename it, but not write to it.
    const HANDLE file = CreateFileW(listing.temporary_path.c_str(), GENERIC_WRITE | DELETE,
                                    FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, CREATE_NEW,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return last_error();
    }
    listing.file = file;
    // Where the mark does not take, discard removes the file by name.
    listing.marked = set_delete_on_close(file, true);
    return 0;
}

int learn_temporary(Listing& /*listing*/) { return 0; }

int copy_metadata(Listing& /*listing*/) { return 0; }  // the folder's inherited access it is

int write_temporary(Listing& listing, const char* bytes, std::size_t size) {
    return write_all(listing.file, std::string_view(bytes, size));
}

int commit(Listing& listing) {
    // A network drive may tell of a failed write (its quota, the server's
    // full disk) only now: a short listing must not replace a good one.
    if (listing.system.flush_first && FlushFileBuffers(listing.file) == 0) {
        return last_error();
    }
    // Ctrl-C cuts the wait short: the listing is then given up.
    const DWORD code = retrying(true, [&listing]() -> DWORD {
        // The mark comes off only for the rename itself, so that a process
        // killed at any other moment leaves no temporary file.
        if (listing.marked && !set_delete_on_close(listing.file, false)) {
            return GetLastError();
        }
        listing.marked = false;
        DWORD renamed = rename_temporary(listing);
        if (renamed == ERROR_ACCESS_DENIED) {
            renamed = why_refused(listing.target);
        }
        if (renamed != 0) {
            listing.marked = set_delete_on_close(listing.file, true);
        }
        return renamed;
    });
    if (code != 0) {
        return error_of(code);
    }
    // Renamed, the file is the listing; closing it cannot undo that.
    close_temporary(listing);
    return 0;
}

int discard(Listing& listing) {
    if (listing.file != nullptr) {
        listing.marked = listing.marked || set_delete_on_close(listing.file, true);
        close_temporary(listing);
        if (listing.marked) {
            return 0;  // gone with the handle, or when another program lets go
        }
    }
    const DWORD code = retrying(false, [&listing]() -> DWORD {
        return DeleteFileW(listing.temporary_path.c_str()) != 0 ? 0 : GetLastError();
    });
    // Where it cannot be removed because it is not there, nothing is left.
    const bool gone = GetFileAttributesW(listing.temporary_path.c_str()) == INVALID_FILE_ATTRIBUTES;
    return code == 0 || gone ? 0 : error_of(code);
}

}  // namespace huemill::platform
