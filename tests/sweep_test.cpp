// Nothing lost at any moment: each call a run makes of the file system, in
// turn, fails or is met by a signal (strace injects it), and then every
// file left is checked: inputs untouched, each listing name holding its old
// content and access or the complete listing, no stray file, and no file
// removed that the run did not own.
#include <sys/stat.h>
#include <sys/xattr.h>

#include <cstdlib>
#include <cstring>
#include <map>
#include <sstream>

#include "support.hpp"

namespace {

namespace fs = std::filesystem;
using namespace huemill_test;
using Replace = ScratchFolder;

const std::string& palette = sample_palette;
const std::string& listing = sample_listing;

// One call of a clean traced run: its name as strace gives it, its count
// among calls of that name, and what an injected error there must do.
struct Call {
    std::string name;
    int count;
    bool creates_temporary;  // the exclusive create of a temporary file
    bool may_fail_quietly;   // closing what was only read, a user.* attribute
};

// The calls of a clean run that touch files, from its first input to its
// last rename.
std::vector<Call> file_calls(const std::string& trace) {
    static const std::set<std::string> file_related = {
        "openat",     "open",      "read",      "write",      "close",        "newfstatat",
        "fstat",      "lstat",     "faccessat", "faccessat2", "rename",       "renameat",
        "renameat2",  "unlink",    "unlinkat",  "fchmod",     "fchown",       "llistxattr",
        "flistxattr", "lgetxattr", "fgetxattr", "fsetxattr",  "fremovexattr", "lseek"};
    std::vector<Call> calls;
    std::map<std::string, int> seen;
    std::map<std::string, std::string> opened;  // descriptor: the line that opened it
    bool started = false;
    std::size_t last_rename = 0;
    std::istringstream lines(trace);
    for (std::string line; std::getline(lines, line);) {
        const std::string name = line.substr(0, line.find('('));
        const int count = ++seen[name];
        started = started || (name == "openat" && line.find("\"a.pal\"") != std::string::npos);
        if (!started || file_related.count(name) == 0) {
            continue;
        }
        const std::string result = line.substr(line.rfind("= ") + 2);
        const bool creates = name == "openat" && line.find("O_CREAT") != std::string::npos;
        if (name == "openat") {
            opened[result] = line;
        }
        bool quiet = line.find("\"user.") != std::string::npos;
        if (name == "close") {
            const std::string& open_line = opened[line.substr(6, line.find(')') - 6)];
            quiet = open_line.find("O_RDONLY") != std::string::npos ||
                    open_line.find("O_PATH") != std::string::npos;
        }
        calls.push_back({name, count, creates, quiet});
        if (name.rfind("rename", 0) == 0) {
            last_rename = calls.size();
        }
    }
    // What follows is the process ending, which may make calls of its own
    // (a sanitizer's leak check, say).
    calls.resize(last_rename);
    return calls;
}

// The first line of trace that removes a file the run had not created, or
// had already renamed or removed; empty where there is none. A signal
// handler may only ever remove the run's own temporary file.
std::string removal_not_owned(const std::string& trace) {
    std::set<std::string> owned;
    std::istringstream lines(trace);
    for (std::string line; std::getline(lines, line);) {
        const std::size_t quote = line.find('"');
        if (quote == std::string::npos) {
            continue;
        }
        const std::string path = line.substr(quote + 1, line.find('"', quote + 1) - quote - 1);
        const bool succeeded = line.find(") = -1 ") == std::string::npos;
        if (line.rfind("openat(", 0) == 0 && line.find("O_CREAT") != std::string::npos) {
            if (succeeded) {
                owned.insert(path);
            }
        } else if (line.rfind("rename", 0) == 0) {
            if (succeeded) {
                owned.erase(path);
            }
        } else if (line.rfind("unlink", 0) == 0) {
            if (owned.erase(path) == 0) {
                return line;
            }
        }
    }
    return "";
}

TEST_F(Replace, FaultOrSignalAtEveryFileCallLosesNothing) {
    if (std::getenv("HUEMILL_TEST_WRAPPER") != nullptr ||
        std::system("strace -V > /dev/null 2>&1") != 0) {
        GTEST_SKIP() << "strace is missing, or the program runs under a wrapper";
    }
    // Three conversions, the second over a listing with access of its own,
    // the third in a folder, then an input named like its listing.
    const std::vector<std::string> args = {"a.pal", "b.pal", "sub/c.pal", "self.pal.c"};
    const std::map<std::string, std::string> inputs = {
        {"a.pal", palette}, {"b.pal", palette}, {"sub/c.pal", palette}};
    const std::map<std::string, std::string> before = {{"b.pal.c", old_listing},
                                                       {"self.pal.c", palette}};
    const bool acl = std::system("setfacl --version > /dev/null 2>&1") == 0;
    const auto lay_out = [&] {
        for (const auto& entry : fs::directory_iterator(".")) {
            fs::remove_all(entry.path());
        }
        fs::create_directory("sub");
        for (const auto& [name, bytes] : inputs) {
            write_file(name, bytes);
        }
        for (const auto& [name, bytes] : before) {
            write_file(name, bytes);
        }
        chmod("b.pal.c", 0640);
        setxattr("b.pal.c", "user.origin", "sweep", 5, 0);
        if (acl) {
            ASSERT_EQ(std::system("setfacl -m u:daemon:r b.pal.c"), 0);
        }
    };
    // LeakSanitizer cannot check a process that is being traced.
    const std::vector<std::string> strace = {"strace", "-qq", "-E", "ASAN_OPTIONS=detect_leaks=0"};
    const auto traced = [&](std::vector<std::string> options) {
        options.insert(options.begin(), strace.begin(), strace.end());
        return options;
    };
    lay_out();
    const std::string access_before = access_of("b.pal.c");
    const auto clean = huemill(args, traced({"-o", "../trace"}));
    ASSERT_EQ(clean.status, 0) << clean.err;
    const std::string clean_trace = read_file("../trace");
    const auto calls = file_calls(clean_trace);
    ASSERT_GE(calls.size(), 4U * 8);
    // Each temporary file is made only where no file has its name, and not
    // through a link there.
    int creates = 0;
    std::istringstream clean_lines(clean_trace);
    for (std::string line; std::getline(clean_lines, line);) {
        if (line.find(".huemill-") != std::string::npos &&
            line.find("O_CREAT") != std::string::npos) {
            ++creates;
            EXPECT_NE(line.find("O_EXCL"), std::string::npos) << line;
            EXPECT_NE(line.find("O_NOFOLLOW"), std::string::npos) << line;
        }
    }
    EXPECT_EQ(creates, 4);

    const std::vector<std::string> faults = {"error=EIO", "signal=KILL", "signal=INT",
                                             "signal=TERM", "signal=HUP"};
    // A create that meets another process's file: another name is tried;
    // and a signal as it fails: that file is not the run's to remove.
    const std::vector<std::string> create_faults = {"error=EEXIST", "error=EEXIST:signal=INT"};
    for (const Call& listed : calls) {
        const std::string& call = listed.name;
        const int count = listed.count;
        std::vector<std::string> call_faults = faults;
        if (listed.creates_temporary) {
            call_faults.insert(call_faults.end(), create_faults.begin(), create_faults.end());
        }
        for (const std::string& fault : call_faults) {
            lay_out();
            const std::string injected =
                call == "write" && fault == "error=EIO" ? "error=ENOSPC" : fault;
            const auto run = huemill(
                args,
                traced({"-o", "../trace", "-e",
                        "trace=" + call + ",openat,rename,renameat,renameat2,unlink,unlinkat", "-e",
                        "inject=" + call + ":" + injected + ":when=" + std::to_string(count)}));
            const std::string where = call + " #" + std::to_string(count) + " " + injected;
            for (const auto& [name, bytes] : inputs) {
                EXPECT_EQ(read_file(name), bytes) << where << ": input " << name;
            }
            int temporaries = 0;
            for (const std::string& name : files_left()) {
                if (name.find(".huemill-") != std::string::npos) {
                    ++temporaries;
                    continue;
                }
                const bool existed = before.count(name) != 0;
                const bool listing_name =
                    name.size() > 2 && name.compare(name.size() - 2, 2, ".c") == 0;
                ASSERT_TRUE(inputs.count(name) != 0 || listing_name || name == "sub")
                    << where << ": stray " << name;
                if (listing_name) {
                    const std::string content = read_file(name);
                    EXPECT_TRUE(content == listing || (existed && content == before.at(name)))
                        << where << ": " << name << " holds " << content.size() << " bytes";
                }
            }
            EXPECT_EQ(access_of("b.pal.c"), access_before) << where;
            EXPECT_EQ(removal_not_owned(read_file("../trace")), "") << where;
            if (fault == "signal=KILL") {
                EXPECT_LE(temporaries, 1) << where;
            } else {
                EXPECT_EQ(temporaries, 0) << where;
            }
            if (injected == "error=EEXIST") {
                EXPECT_EQ(run.status, 0) << where << ": " << run.err;
            } else if (injected.rfind("error=", 0) == 0 &&
                       injected.find("signal=") == std::string::npos && !listed.may_fail_quietly) {
                EXPECT_EQ(run.status, 1) << where << ": an error nobody hears of";
            }
            if (run.status == 1) {
                EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1)
                    << where << ": " << run.err;
                EXPECT_EQ(run.err.rfind("huemill: ", 0), 0U) << where << ": " << run.err;
            } else if (run.status == 0) {
                EXPECT_EQ(run.err, "") << where;
                for (const char* name : {"a.pal.c", "b.pal.c", "sub/c.pal.c", "self.pal.c"}) {
                    EXPECT_EQ(read_file(name), listing) << where << ": " << name;
                }
            } else {
                const char* signal_name = sigabbrev_np(run.status - 128);
                EXPECT_TRUE(signal_name != nullptr &&
                            fault.find("signal=" + std::string(signal_name)) != std::string::npos)
                    << where << ": status " << run.status;
            }
        }
    }
}

}  // namespace
