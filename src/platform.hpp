// What huemill asks of the system it runs on. The portable code (every file
// of src/ outside linux/ and windows/) calls the system only through these
// hooks; each system implements them in a folder of its own, linux/ and
// windows/, one file per concern, which calls nothing of the portable code
// but unicode.hpp, and nothing of a system's own (its headers, types or
// state) is seen here.
//
// An error is an int: 0 for none, otherwise an errno value or, on Windows, a
// code of that system's own that has no errno equivalent. Portable code
// compares errors only with the errno values a hook's contract names, and
// shows them to people only through describe().
#ifndef HUEMILL_PLATFORM_HPP
#define HUEMILL_PLATFORM_HPP

#include <climits>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace huemill::platform {

// Whether names come from the system in UTF-16 and are held in WTF-8
// (Windows), where a lone surrogate can be part of a name; whether a
// backslash separates folders (Windows), so that no name holds one;
// whether the system takes two names that differ only in case for one
// (Windows); and whether it drops the dots and spaces a name ends in when
// it opens it (Windows: "sky.pal.c." is sky.pal.c).
#ifdef _WIN32
constexpr bool names_in_wtf8 = true;
constexpr bool backslash_separates_folders = true;
constexpr bool names_ignore_case = true;
constexpr bool names_drop_trailing_dots = true;
#else
constexpr bool names_in_wtf8 = false;
constexpr bool backslash_separates_folders = false;
constexpr bool names_ignore_case = false;
constexpr bool names_drop_trailing_dots = false;
#endif

// Errors of huemill's own, beside errno values and system codes.
// A listing name that Windows takes for a device.
constexpr int error_reserved_device = INT_MIN;
// A listing whose replacement root may not give its owner (Linux: root
// without CAP_CHOWN); describe() says "Operation not permitted".
constexpr int error_owner_not_kept = INT_MIN + 1;
// A path that depends on the current folder, where the run left the folder
// it started in and cannot go back (Linux, see begin_listing).
constexpr int error_start_folder = INT_MIN + 2;

// What tells one file from another: the device (Windows: the volume) and
// the file's number on it, and how many names it has. known is false where
// the system could not say.
struct FileIdentity {
    bool known = false;
    std::uint64_t device = 0;
    std::uint64_t number = 0;
    std::uint64_t links = 0;
};

// Whether a and b are known to be one file.
inline bool same_file(const FileIdentity& a, const FileIdentity& b) {
    return a.known && b.known && a.device == b.device && a.number == b.number;
}

// What stands at a name.
enum class Standing { nothing, file, folder, other };

// --- The process ------------------------------------------------------------

// Prepares the process before anything else runs, once. Afterwards no write
// ends the process: a closed pipe or a file-size limit makes the write fail
// instead (Linux: SIGPIPE and SIGXFSZ are ignored). Installs no signal
// handler; on Windows it installs the console control handler that
// hold_interruptions relies on.
void prepare_process();

// The arguments as UTF-8, converted, where that is needed, into kept.
struct Arguments {
    std::vector<std::string> texts;
    std::vector<char*> pointers;  // to each of texts, then nullptr
};

// The arguments as UTF-8, argv[0] first: argv itself where the system gives
// arguments as bytes, and on Windows the command line as the system holds
// it, in UTF-16, converted into kept, which must outlive them. Never
// expands wildcards. argc stays the count.
char** utf8_arguments(int argc, char* argv[], Arguments& kept);

// This process's id: no other process running has the same.
unsigned long process_id();

// --- Interruptions ----------------------------------------------------------
// What would end the run from outside waits while a listing is being
// replaced, so that it never ends the process with a temporary file there:
// from hold_interruptions, just before the temporary file is created, to
// allow_interruptions, just after it is renamed or removed. One that arrived
// meanwhile then ends the process as it would have at once; outside that
// window it ends the process at once (a palette read that hangs can still be
// interrupted).
//
// Linux: every signal whose default action ends the process, real-time
// signals included, is held back (blocked), but SIGKILL and SIGSTOP, which
// cannot be, and SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGTRAP and SIGSYS, which a
// fault of the process itself raises. A held signal ends the process by its
// own default action and status. A signal ignored when huemill started stays
// ignored.
//
// Windows: Ctrl-C and Ctrl-Break end the run with STATUS_CONTROL_C_EXIT
// (0xC000013A), as they end any console program, and every one of them
// waits, the second and later ones too; closing the console, log-off and
// shutdown end it too, within the seconds Windows allows.
// TerminateProcess cannot be held back: the temporary file is marked to go
// when its handle closes (see create_temporary).

void hold_interruptions();
void allow_interruptions();

// --- Messages ---------------------------------------------------------------

enum class Stream { output, error };

// Writes text (UTF-8 with LF line ends) to standard output or standard
// error, all of it, unbuffered. On Windows every line ends in CR LF, and a
// console gets the text as characters, so that every name reads as typed.
// Returns 0 or the error that stopped it.
int write_text(Stream stream, std::string_view text);

// The system's words for error, where it is not one of huemill's own
// (see message.hpp's describe): "No such file or directory".
std::string system_words(int error);

// Whether huemill's console was made for it alone and closes as the run
// ends, as when huemill.exe is double-clicked: on Windows, where standard
// input and output are that console and no other process is attached to
// it. Never on Linux.
bool console_closes_with_the_run();

// Waits until a key is pressed in that console. Does nothing on Linux.
void wait_for_a_key();

// --- The run ----------------------------------------------------------------

// What a system keeps for the whole run (Linux: how extended attributes are
// named, and the start folder where the run must leave it; Windows: what it
// learned of the last folder's drive). Defined by each system's layer, and
// seen here only by name.
struct System;
struct SystemDeleter {
    void operator()(System* system) const;
};
using SystemHandle = std::unique_ptr<System, SystemDeleter>;

// The system's state for a run, made before its first palette is read and
// held to its end.
SystemHandle start_system();

// --- Folders ----------------------------------------------------------------

// One folder, opened for one use: a palette read there and its listing made
// there, or the folder every listing goes to. Linux holds it open, so that
// every name in it is found in it even where it is renamed, or a link to it
// switched, meanwhile; Windows names it by its path. Closed as it goes out
// of scope.
struct Folder;
struct FolderDeleter {
    void operator()(Folder* folder) const;
};
using FolderHandle = std::unique_ptr<Folder, FolderDeleter>;

// Opens the folder that path names, where every later name is looked up;
// "" is the folder the run started in. Returns 0 or the error (Linux:
// error_start_folder where path depends on the current folder and the run
// could not go back to the one it started in).
int open_folder(System& system, std::string_view path, FolderHandle& folder);

// The same, for a folder held for the whole run: the folder every listing
// goes to. Windows holds it open, so that no other program may rename or
// remove it until the run ends.
int hold_folder(System& system, std::string_view path, FolderHandle& folder);

// The folder's identity; not known where the system cannot say.
FileIdentity folder_identity(const Folder& folder);

// Whether the folder holds an entry of exactly the name file_name, spelled
// as it is (not only one that its file system takes for it, ignoring case).
// Reads the whole folder: for the rare name that needs it.
bool holds_as_spelled(const Folder& folder, std::string_view file_name);

// Sets identity to that of the file at path, whose file name is file_name,
// as reading it would reach it: through links. Returns 0, also where
// reading it would find nothing to read (nothing there, a folder on the
// way that is not one or may not be searched, a loop of links): identity
// is not known then; or the error that keeps the system from saying.
int identity_of(System& system, const char* path, std::string_view file_name,
                FileIdentity& identity);

// A path to learn of, and its file name (the part after its folder's).
struct NamedPath {
    const char* path;
    std::string_view file_name;
};

// The same for each of paths, into identities, in order, but that where a
// path's last part is no link, and so leads to the entry of its own name,
// the system may leave its identity not known, to spare a look at each:
// Linux reads a folder that many paths name once instead. Returns 0, or
// the error that keeps the system from saying, with failed set to that
// path's index.
int learn_paths(System& system, const std::vector<NamedPath>& paths,
                std::vector<FileIdentity>& identities, std::size_t& failed);

// --- Palettes ---------------------------------------------------------------

// Room for bytes to be read into.
struct Bytes {
    unsigned char* data;
    std::size_t size;
};

// Reads the file file_name in folder from its start into first, then into
// second, until both are full or the file ends, and sets got to how many
// arrived in all, and identity to the file's. Reads nothing past them.
// Returns 0 or the error; EISDIR where it is a folder, and on Windows
// error_reserved_device, before anything is opened, where the name is one
// Windows takes for a device.
int read_file(const Folder& folder, const char* file_name, Bytes first, Bytes second,
              std::size_t& got, FileIdentity& identity);

// --- The listing in progress ------------------------------------------------
// One listing at a time goes through these hooks, in this order: begin_listing,
// then where it is to be replaced look_to_replace, then create_temporary
// until it succeeds or gives up, then learn_temporary, copy_metadata,
// write_temporary and commit, and where any of those fails, discard. The
// listing ends, whatever happened to it, as its handle goes out of scope.

// What a system keeps of one listing, from begin_listing to its end.
struct Listing;
struct ListingDeleter {
    void operator()(Listing* listing) const;
};
using ListingHandle = std::unique_ptr<Listing, ListingDeleter>;

// Starts a listing named file_name in folder, into listing, and looks at
// what stands at that name now: what it is, and its identity (a link
// itself, not what it leads to). Returns 0, or the error that says why the
// name cannot be looked at (Windows: error_reserved_device).
int begin_listing(System& system, Folder& folder, std::string_view file_name,
                  ListingHandle& listing, Standing& standing, FileIdentity& identity);

// Looks at the file that stands at the listing's name, to be replaced, for
// all that copy_metadata will need of it. Returns 0, also where it turns
// out to be gone (the listing is a new one then), or the error that says
// why it may not be replaced: EACCES where this user may not write to it.
int look_to_replace(Listing& listing);

// Creates the temporary file, named file_name, in the listing's folder,
// only where no file of that name exists, for writing: for its owner alone
// where it replaces a file. file_name stays as it is until the listing
// ends or create_temporary is called again. Returns 0, EEXIST where the
// name is taken (try another), ENAMETOOLONG where the folder takes no name
// that long (try a shorter one), EACCES, EPERM or EROFS where the folder
// refuses a new file, or another error. Windows marks the file to be
// removed when its handle closes, so that it goes however the process
// ends, until commit.
//
// From here to the listing's end no hook allocates memory: whatever they
// need was found by begin_listing and look_to_replace.
int create_temporary(Listing& listing, const std::string& file_name);

// Reads what the temporary file of a listing that replaces another got
// when it was created (Linux: its owner, group and bits), for
// copy_metadata. Returns 0 or the error.
int learn_temporary(Listing& listing);

// Gives the temporary file the metadata of the listing it replaces, where
// one stands at the name: what decides who may use it (its owner where
// root replaces it, its group, permission bits and access ACL, in place of
// any ACL the file inherited from its folder) and its user.* attributes.
// Returns 0, error_owner_not_kept, or another error. Until it returns, the
// temporary file is open to no one the old listing shuts out. Windows gives
// it nothing: a new file takes its folder's inherited access.
int copy_metadata(Listing& listing);

// Writes all size bytes at bytes into the temporary file. Returns 0 or the
// error.
int write_temporary(Listing& listing, const char* bytes, std::size_t size);

// Makes the temporary file, complete, the listing: in one step, under the
// listing's name. Returns 0, after which no temporary file remains, or the
// error, after which the listing's name holds what it held before and the
// temporary file is still there to discard.
int commit(Listing& listing);

// Removes the temporary file. Returns 0, also where it is not there, or the
// error that kept it.
int discard(Listing& listing);

}  // namespace huemill::platform

#endif
