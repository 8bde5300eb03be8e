// What huemill asks of the system it runs on. The portable code (main.cpp,
// palette_reader.cpp, listing_writer.cpp, listing_file.cpp and message.cpp)
// calls the system only through these hooks; each system implements them
// in a folder of its own, linux/ and windows/, one file per concern, and
// nothing of a system's own (its headers, types or state) is seen here.
//
// An error is an int: 0 for none, otherwise an errno value or, on Windows, a
// code of that system's own that has no errno equivalent. Portable code
// compares errors only with the errno values a hook's contract names, and
// shows them to people only through describe().
#ifndef HUEMILL_PLATFORM_HPP
#define HUEMILL_PLATFORM_HPP

#include <climits>
#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

namespace huemill::platform {

// Whether names come from the system in UTF-16 and are held in WTF-8
// (Windows), where a lone surrogate can be part of a name; and whether a
// backslash separates folders (Windows), so that no name holds one.
#ifdef _WIN32
constexpr bool names_in_wtf8 = true;
constexpr bool backslash_separates_folders = true;
#else
constexpr bool names_in_wtf8 = false;
constexpr bool backslash_separates_folders = false;
#endif

// Errors of huemill's own, beside errno values and system codes.
// A listing name that Windows takes for a device.
constexpr int error_reserved_device = INT_MIN;
// A listing whose replacement root may not give its owner (Linux: root
// without CAP_CHOWN); describe() says "Operation not permitted".
constexpr int error_owner_not_kept = INT_MIN + 1;
// A relative path where the folder the run started in, which the run left
// for a listing's folder, could not be opened to go back to (Linux).
constexpr int error_start_folder = INT_MIN + 2;
// A listing whose name is the very palette it was made from, which it
// would replace.
constexpr int error_listing_is_input = INT_MIN + 3;

// --- The run's listing --------------------------------------------------------

// What a system keeps of the listing in progress, and of the folders the
// run has been in: defined by each system's layer, and seen here only by
// name.
struct Listing;
struct ListingDeleter {
    void operator()(Listing* listing) const;
};
using ListingHandle = std::unique_ptr<Listing, ListingDeleter>;

// The run's one Listing, made before its first palette is read: main holds
// it to the end of the run and lends it to every listing in turn.
ListingHandle new_listing();

// --- The process ------------------------------------------------------------

// Prepares the process before anything else runs, once. Afterwards no write
// ends the process: a closed pipe or a file-size limit makes the write fail
// instead (Linux: SIGPIPE and SIGXFSZ are ignored). Installs no signal
// handler; on Windows it installs the console control handler that
// hold_interruptions relies on.
void prepare_process();

// The arguments as UTF-8, argv[0] first: argv itself where the system gives
// arguments as bytes, and on Windows the command line as the system holds
// it, in UTF-16, converted. Never expands wildcards. argc stays the count.
char** utf8_arguments(int argc, char* argv[]);

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
// (0xC000013A), as they end any console program; closing the console,
// log-off and shutdown end it too, within the seconds Windows allows.
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

// error in words, for a message: "No such file or directory".
std::string describe(int error);

// Whether huemill's console was made for it alone and closes as the run
// ends, as when huemill.exe is double-clicked: on Windows, where standard
// input and output are that console and no other process is attached to
// it. Never on Linux.
bool console_closes_with_the_run();

// Waits until a key is pressed in that console. Does nothing on Linux.
void wait_for_a_key();

// --- Names ------------------------------------------------------------------

// Where the file name in path starts, after its folder part: after the last
// '/' (Windows: '/' or '\', or a drive's "C:" where neither follows it), or
// 0 where path has no folder part. The one rule for splitting a path.
std::size_t file_name_start(std::string_view path);

// --- Palettes ---------------------------------------------------------------

// Reads the file at path from its start into bytes until size bytes are
// there or the file ends, and sets got to how many arrived. Reads nothing
// past size. Returns 0 or the error; EISDIR where path is a folder, and on
// Windows error_reserved_device, before anything is opened, where its file
// name is one Windows takes for a device. Where it succeeds, the folder
// path names now becomes listing's: the listing made from these bytes, whose
// name has the same folder part, goes there (Linux: even where that folder
// is renamed, or a link to it switched, meanwhile).
int read_start(Listing& listing, const char* path, unsigned char* bytes, std::size_t size,
               std::size_t& got);

// --- The listing in progress ------------------------------------------------
// One listing at a time goes through these hooks, in this order, each given
// the run's one Listing: read_start (above), begin_listing, then
// create_temporary until it succeeds or gives up, then copy_metadata,
// write_temporary and commit, and where any of those fails, discard;
// end_listing always comes last.

// Starts replacing the listing at name, in the folder read_start opened for
// its palette, and looks at what stands there.
// Returns 0 where nothing does, or where a file does that this user may
// replace; otherwise the error that says why not: EISDIR for a folder,
// EACCES for a file that may not be written, error_listing_is_input where
// it is the palette read_start read, by that name or, where the palette has
// no other name, by any.
int begin_listing(Listing& listing, const std::string& name);

// Creates the temporary file, named file_name, in the listing's folder,
// only where no file of that name exists, for writing, as what the folder
// gives a new file now decides (Linux: its group and any default ACL,
// looked at just before). Returns 0, EEXIST
// where the name is taken (try another), ENAMETOOLONG where the folder
// takes no name that long (try a shorter one), EACCES, EPERM or EROFS
// where the folder refuses a new file, or another error. Windows marks the
// file to be removed when its handle closes, so that it goes however the
// process ends, until commit.
int create_temporary(Listing& listing, const std::string& file_name);

// Gives the temporary file the metadata of the listing it replaces, where
// one stands at the name: what decides who may use it (its owner where
// root replaces it, its group, permission bits and access ACL) and its
// user.* attributes. Returns 0, error_owner_not_kept, or another error.
// Until it returns, the temporary file is open to no one the old listing
// shuts out. Does nothing on Windows, where a new file takes its folder's
// inherited access.
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

// Ends the listing begun by begin_listing, whatever happened to it.
void end_listing(Listing& listing);

}  // namespace huemill::platform

#endif
