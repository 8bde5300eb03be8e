// Helpers for huemill's tests: palette bytes, scratch folders, and running
// the built program with its output captured.
#ifndef HUEMILL_TESTS_SUPPORT_HPP
#define HUEMILL_TESTS_SUPPORT_HPP

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace huemill_test {

using Rgb = std::array<std::uint32_t, 3>;
using Files = std::set<std::string>;
// Files by name, each with the bytes it holds; a name ending in '/' is a
// folder.
using Contents = std::map<std::string, std::string>;

// The bytes of a palette file: a header of filler bytes with entry_count at
// byte 22, then one 16-byte record per entry of records (the fourth value of
// each filled with 0xEE).
std::string palette_bytes(unsigned entry_count, const std::vector<Rgb>& records);

void write_file(const std::filesystem::path& path, const std::string& bytes);
std::string read_file(const std::filesystem::path& path);

// The declaration line every listing opens with.
inline const std::string declaration = "const unsigned short master_Palette[256]={\n";

// A palette of two records, one of them with every bit of its red value
// set, and its listing.
inline const std::string sample_palette =
    palette_bytes(2, {{0x1F, 0, 0xAB}, {0xFFFFFFFFU, 0x10, 0x0}});
inline const std::string sample_listing =
    declaration + "\nr: 1F, g: 0, b: AB\nr: FFFFFFFF, g: 10, b: 0\n";

// The listing of the palette file that starts with bytes, worked out here
// byte by byte rather than by the code under test.
std::string expected_listing(const std::string& bytes);

// size bytes of a pattern that repeats only every 256 bytes.
std::string pattern(std::size_t size);

// What a listing name held before a run, unlike any listing.
inline const std::string old_listing = "an older listing, complete in its own day\n";

// A line end as it reaches a file through a text-mode standard stream:
// the C runtime on Windows writes CR LF.
#ifdef _WIN32
inline const std::string text_line_end = "\r\n";
#else
inline const std::string text_line_end = "\n";
#endif

// The one line huemill writes on standard error when name failed with
// error, with what it adds in brackets where it has more to say.
std::string failure_message(const std::string& name, int error, const std::string& detail = "");

// Whether the program can be run as a user without privileges: always
// where the tests run as one, and as root where setpriv is installed.
bool can_run_unprivileged();

// The launcher (see ScratchFolder::huemill) that does so: nothing to add
// where the tests run unprivileged, setpriv to run as nobody as root.
std::vector<std::string> unprivileged_launcher();

#ifndef _WIN32
// Runs command with sh in the current folder; true where it succeeded.
bool shell(const std::string& command);

// Whether tool is installed: it answers --version.
bool installed(const std::string& tool);

// Whether the program runs under a wrapper (HUEMILL_TEST_WRAPPER, such as
// valgrind), which needs descriptors, memory and files of its own.
bool under_wrapper();

// Launchers (see ScratchFolder::huemill) that make the program name
// extended attributes as on older systems: through /proc, where the calls
// Linux 6.13 added fail (or getxattrat alone, where get_alone); from
// inside a listing's folder, where /proc/self/fd is hidden too, which only
// root may do (empty for anyone else).
std::vector<std::string> through_proc(bool get_alone = false);
std::vector<std::string> from_inside();
#endif

#ifdef _WIN32
// Starts the built huemill with args in the current folder, with nowhere to
// write, and returns its process handle without waiting (null where it
// could not start).
void* start_huemill(const std::vector<std::string>& args);
#endif

#ifndef _WIN32
// A launcher (see ScratchFolder::huemill) that runs the program under
// strace with options, LeakSanitizer off (it cannot check a process being
// traced); empty where strace is missing or the program runs under a
// wrapper already.
std::vector<std::string> traced(const std::vector<std::string>& options);

// What decides who may use the file at path, in one line to compare: its
// mode, owner and group, and its access ACL as stored.
std::string access_of(const std::string& path);

// One line of what strace wrote (-o): a call with its arguments and what it
// returned, or a note of a signal or of the end.
struct TraceLine {
    std::string text;
    std::string call;  // the call's name, empty for a note

    std::string first_argument() const;  // as written: "AT_FDCWD", "3"
    std::string path() const;            // the first quoted argument, or ""
    std::string result() const;          // what it returned: "3", "-1 ENOENT (...)"
    bool failed() const;
    bool creates_file() const;  // an openat that creates its file where none is
};

// The lines strace wrote into the file at path.
std::vector<TraceLine> read_trace(const std::string& path);

// Which call of openat, counted from 1, creates a file, in the trace at
// path; 0 where none does.
int creating_openat(const std::string& path);

// Waits until a reader opens the FIFO at fifo (huemill, reading it as a
// palette), then calls meanwhile, writes bytes and closes it. False where
// no reader came within five seconds.
bool feed_fifo(const std::string& fifo, const std::string& bytes,
               const std::function<void()>& meanwhile);
#endif

// What one run of huemill did.
struct RunResult {
    int status;
    std::string out;
    std::string err;
};

// A test in a fresh, empty folder of its own that is the current directory
// while the test runs, and is removed with everything in it afterwards.
class ScratchFolder : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Runs the built huemill with args in the scratch folder. On POSIX
    // systems it is started through launcher (a command and its arguments)
    // where one is given, and through the command in the environment
    // variable HUEMILL_TEST_WRAPPER (valgrind, say) where that is set.
    RunResult huemill(const std::vector<std::string>& args,
                      const std::vector<std::string>& launcher = {}) const;

#ifndef _WIN32
    // The same, calling meanwhile once the program has started, and waiting
    // for the program only after it returns.
    RunResult huemill(const std::vector<std::string>& args,
                      const std::vector<std::string>& launcher,
                      const std::function<void()>& meanwhile) const;
#endif

    // Empties the scratch folder, then makes contents in it, and the
    // folders their names pass through.
    void lay_out(const Contents& contents) const;

    // Every file, folder and link now in the scratch folder, as relative
    // paths with '/' between folders.
    Files files_left() const;

#ifndef _WIN32
    // The program huemill() runs: the one built, unless a test names
    // another build of it.
    std::string program_;
#endif

private:
    std::filesystem::path root_;  // holds the folder and the captured output
    std::filesystem::path previous_directory_;
};

}  // namespace huemill_test

#endif
