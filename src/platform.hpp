// What huemill asks of the system it runs on. The portable code (main.cpp,
// palette_reader.cpp, listing_file.cpp) calls the system only through these
// hooks; each system implements them in a folder of its own: posix/ and
// windows/.
//
// An error is an int: 0 for none, otherwise an errno value or, on Windows, a
// code of that system's own that has no errno equivalent. Portable code
// compares errors only with the errno values a hook's contract names, and
// shows them to people only through describe().
#ifndef HUEMILL_PLATFORM_HPP
#define HUEMILL_PLATFORM_HPP

#include <cstddef>
#include <string>
#include <string_view>

namespace huemill::platform {

// --- The process ------------------------------------------------------------

// Prepares the process before anything else runs, once. Afterwards no write
// ends the process (a closed pipe or a file-size limit makes the write
// fail instead), and the temporary file of a listing in progress is removed
// when the run is interrupted (POSIX: SIGINT, SIGTERM or SIGHUP, which then
// still end the process as they would have, unless they were ignored when
// huemill started; Windows: however the process ends).
void prepare_process();

// The arguments as UTF-8, argv[0] first: argv itself where the system gives
// arguments as bytes, and on Windows the command line as the system holds
// it, in UTF-16, converted. Never expands wildcards. argc stays the count.
char** utf8_arguments(int argc, char* argv[]);

// This process's id: no other process running has the same.
unsigned long process_id();

// --- Messages ---------------------------------------------------------------

enum class Stream { output, error };

// Writes text (UTF-8 with LF line ends) to standard output or standard
// error, all of it, unbuffered. A Windows console gets it as characters, so
// that every name reads as typed; elsewhere on Windows lines end in CR LF.
// Returns 0 or the error that stopped it.
int write_text(Stream stream, std::string_view text);

// error in words, for a message: "No such file or directory".
std::string describe(int error);

// --- Palettes ---------------------------------------------------------------

// Reads the file at path from its start into bytes until size bytes are
// there or the file ends, and sets got to how many arrived. Reads nothing
// past size. Returns 0 or the error; EISDIR where path is a folder.
int read_start(const char* path, unsigned char* bytes, std::size_t size, std::size_t& got);

// --- The listing in progress ------------------------------------------------
// One listing at a time goes through these hooks, in this order:
// begin_listing, then create_temporary until it succeeds or gives up, then
// carry_over, write_temporary and commit, and where any of those fails,
// discard; end_listing always comes last.

// The characters that separate folders in a file name: "/", or "/\" on
// Windows.
std::string_view folder_separators();

// Starts replacing the listing at name (a path, its folder part ending at
// its last separator) and looks at what stands there. Returns 0 where
// nothing does, or where a file does that this user may replace; otherwise
// the error that says why not: EISDIR for a folder, EACCES for a file that
// may not be written.
int begin_listing(const std::string& name);

// Creates the temporary file, named file_name, in the listing's folder,
// only where no file of that name exists, for writing. Returns 0, EEXIST
// where the name is taken (try another), ENAMETOOLONG where the folder
// takes no name that long (try a shorter one), or another error. Once it
// exists the temporary file is this process's: prepare_process's promise
// covers it until commit or discard.
int create_temporary(const std::string& file_name);

// Gives the temporary file what decides who may use the listing it
// replaces, where one stands at the name. Returns 0 or the error.
int carry_over();

// Writes up to size bytes into the temporary file and sets written to how
// many it took. Returns 0 (written may then be short of size), EINTR, or
// the error.
int write_temporary(const char* bytes, std::size_t size, std::size_t& written);

// Makes the temporary file, complete, the listing: in one step, under the
// listing's name. Returns 0, after which no temporary file remains, or the
// error, after which the listing's name holds what it held before and the
// temporary file is still there to discard.
int commit();

// Removes the temporary file. Returns 0, or the error that kept it.
int discard();

// Ends the listing begun by begin_listing, whatever happened to it.
void end_listing();

}  // namespace huemill::platform

#endif
