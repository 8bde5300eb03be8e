// Nothing lost at any moment: each call a run makes of the file system, in
// turn, fails or is met by a signal (strace injects it), and then every
// file left is checked: inputs untouched, listings complete in argument
// order and each of the others holding its old content and access, no
// stray file, and no file removed that the run did not own; and the run
// ended by that signal, only once the listing in progress was complete.
#include <sys/resource.h>
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

// Whether a line of trace opens the run's first input: what comes before
// is the process starting, which a sanitizer may do with more calls in one
// run than in another.
bool opens_first_input(const TraceLine& line) {
    return line.call == "openat" && line.path() == "a.pal";
}

// One call of a clean traced run that touches files: its name as strace
// gives it, its count among calls of that name, the same since the run
// opened its first input, and whether it is the exclusive create of a
// temporary file.
struct Call {
    std::string name;
    int count;
    int from_start;
    bool creates_temporary;
};

// The calls of a clean run that touch files, from its first input to its
// last rename.
std::vector<Call> file_calls(const std::vector<TraceLine>& trace) {
    static const std::set<std::string> file_related = {
        "openat",     "open",      "readv",     "write",      "close",     "newfstatat",
        "fstat",      "lstat",     "faccessat", "faccessat2", "rename",    "renameat",
        "renameat2",  "unlink",    "unlinkat",  "fchmod",     "fchown",    "llistxattr",
        "flistxattr", "lgetxattr", "getxattr",  "fgetxattr",  "fsetxattr", "fremovexattr",
        "lseek",      "chdir",     "fchdir"};
    std::vector<Call> calls;
    std::map<std::string, int> seen;
    std::map<std::string, int> seen_from_start;
    bool started = false;
    std::size_t last_rename = 0;
    for (const TraceLine& line : trace) {
        const int count = ++seen[line.call];
        started = started || opens_first_input(line);
        if (!started || file_related.count(line.call) == 0) {
            continue;
        }
        calls.push_back({line.call, count, ++seen_from_start[line.call], line.creates_file()});
        if (line.call.rfind("rename", 0) == 0) {
            last_rename = calls.size();
        }
    }
    // What follows is the process ending, which may make calls of its own
    // (a sanitizer's leak check, say).
    calls.resize(last_rename);
    return calls;
}

// Where a fault injected at the count-th call of name met a run, read from
// that run's own trace, which holds those calls, every openat, rename and
// rt_sigprocmask.
struct Landing {
    int from_start = 0;  // its count since the first input; 0 where it came before that
    bool creates_temporary = false;
    bool may_fail_quietly = false;      // closing what was only read, a user.* attribute
    std::size_t renamed_before = 0;     // listings renamed into place before the call
    std::size_t renamed_when_free = 0;  // ... by the time a signal there can end the run
    std::string after_free;             // the first call made after then: a signal's run makes none
};

// Signals are held from a SIG_BLOCK to the SIG_SETMASK after it: one that
// arrives in between ends the run only there.
Landing landing(const std::vector<TraceLine>& trace, const std::string& name, int count) {
    Landing at;
    std::map<std::string, std::string> opened;  // descriptor: the line that opened it
    bool held = false;
    bool started = false;
    int seen = 0;
    int seen_from_start = 0;
    std::size_t renamed = 0;
    for (const TraceLine& line : trace) {
        if (line.call.empty()) {
            continue;  // a signal, or the end
        }
        if (at.from_start != 0 && !held) {
            at.after_free = line.text;
            break;
        }
        if (line.call == "openat") {
            opened[line.result()] = line.text;
        }
        if (line.call == "rt_sigprocmask") {
            held = line.first_argument() == "SIG_BLOCK" ||
                   (held && line.first_argument() != "SIG_SETMASK");
        }
        started = started || opens_first_input(line);
        seen_from_start += started && line.call == name ? 1 : 0;
        if (line.call == name && ++seen == count) {
            at.from_start = started ? seen_from_start : 0;
            at.renamed_before = renamed;
            at.creates_temporary = line.creates_file();
            // A user.* attribute is read and written by name.
            at.may_fail_quietly = name.find("etxattr") != std::string::npos &&
                                  line.text.find(", \"user.") != std::string::npos;
            if (name == "close") {
                const std::string& open_line = opened[line.first_argument()];
                at.may_fail_quietly = open_line.find("O_RDONLY") != std::string::npos ||
                                      open_line.find("O_PATH") != std::string::npos;
            }
        }
        if (line.call.rfind("rename", 0) == 0 && !line.failed()) {
            ++renamed;
        }
        at.renamed_when_free = renamed;
    }
    return at;
}

// The first line of trace that installs a handler for a signal other than
// a fault the process raises itself (a sanitizer may handle those); empty
// where there is none. Signals are held, never caught.
std::string handler_installed(const std::vector<TraceLine>& trace) {
    static const std::set<std::string> faults = {"SIGSEGV", "SIGBUS",  "SIGFPE",
                                                 "SIGILL",  "SIGTRAP", "SIGSYS"};
    for (const TraceLine& line : trace) {
        const std::size_t handler = line.text.find(", {sa_handler=");
        if (line.call != "rt_sigaction" || handler == std::string::npos) {
            continue;
        }
        const std::string installed = line.text.substr(handler + 14, 7);
        if (faults.count(line.first_argument()) == 0 && installed != "SIG_DFL" &&
            installed != "SIG_IGN") {
            return line.text;
        }
    }
    return "";
}

// The first line of trace that removes a file the run had not created, or
// had already renamed or removed; empty where there is none: a run removes
// nothing but its own temporary file.
std::string removal_not_owned(const std::vector<TraceLine>& trace) {
    std::set<std::string> owned;
    for (const TraceLine& line : trace) {
        if (line.creates_file()) {
            if (!line.failed()) {
                owned.insert(line.path());
            }
        } else if (line.call.rfind("rename", 0) == 0) {
            if (!line.failed()) {
                owned.erase(line.path());
            }
        } else if (line.call.rfind("unlink", 0) == 0) {
            if (owned.erase(line.path()) == 0) {
                return line.text;
            }
        }
    }
    return "";
}

// What one injected run does: strace's injection, and what the run must
// come to: ended by that signal, or by none.
struct Fault {
    std::string inject;
    int signal;             // the signal that ends the run, or 0
    bool ignored_at_start;  // SIGHUP under nohup: never acted on
};

TEST_F(Replace, FaultOrSignalAtEveryFileCallLosesNothing) {
    if (traced({}).empty()) {
        GTEST_SKIP() << "strace is missing, or the program runs under a wrapper";
    }
    // SIGQUIT would leave a core file behind.
    const rlimit no_core{0, 0};
    ASSERT_EQ(setrlimit(RLIMIT_CORE, &no_core), 0);
    // Four conversions: a new listing, one over a listing with access of
    // its own, one over a listing in a folder, which the run enters, and a
    // new one in that folder; their listings, in argument order.
    const std::vector<std::string> args = {"a.pal", "b.pal", "sub/c.pal", "sub/d.pal"};
    const std::vector<std::string> listings = {"a.pal.c", "b.pal.c", "sub/c.pal.c", "sub/d.pal.c"};
    const Contents inputs = {{"a.pal", sample_palette},
                             {"b.pal", sample_palette},
                             {"sub/c.pal", sample_palette},
                             {"sub/d.pal", sample_palette}};
    const Contents before = {{"b.pal.c", old_listing}, {"sub/c.pal.c", old_listing}};
    const bool acl = installed("setfacl");
    const auto set_up = [&] {
        lay_out(inputs);
        for (const auto& [name, bytes] : before) {
            write_file(name, bytes);
        }
        chmod("b.pal.c", 0640);
        setxattr("b.pal.c", "user.origin", "sweep", 5, 0);
        if (acl) {
            ASSERT_EQ(std::system("setfacl -m u:daemon:r b.pal.c"), 0);
        }
    };
    // SIGHUP ignored from the start, as nohup leaves it.
    const auto under_nohup = [](std::vector<std::string> command) {
        command.insert(command.begin(), {"sh", "-c", "trap '' HUP; exec \"$@\"", "nohup"});
        return command;
    };
    set_up();
    const std::string access_before = access_of("b.pal.c");
    const auto clean = huemill(args, traced({"-o", "../trace"}));
    ASSERT_EQ(clean.status, 0) << clean.err;
    const std::vector<TraceLine> clean_trace = read_trace("../trace");
    const auto calls = file_calls(clean_trace);
    ASSERT_GE(calls.size(), 4U * 8);
    EXPECT_EQ(handler_installed(clean_trace), "");
    // Each temporary file is made only where no file has its name, and not
    // through a link there.
    int creates = 0;
    for (const TraceLine& line : clean_trace) {
        if (line.creates_file() && line.path().find(".huemill-") != std::string::npos) {
            ++creates;
            EXPECT_NE(line.text.find("O_EXCL"), std::string::npos) << line.text;
            EXPECT_NE(line.text.find("O_NOFOLLOW"), std::string::npos) << line.text;
        }
    }
    EXPECT_EQ(creates, 4);

    // 40 is a real-time signal.
    const std::vector<Fault> faults = {
        {"error=EIO", 0, false},         {"signal=KILL", SIGKILL, false},
        {"signal=INT", SIGINT, false},   {"signal=TERM", SIGTERM, false},
        {"signal=QUIT", SIGQUIT, false}, {"signal=ALRM", SIGALRM, false},
        {"signal=USR1", SIGUSR1, false}, {"signal=40", 40, false},
        {"signal=HUP", 0, true}};
    // A create that meets another process's file: another name is tried.
    const Fault name_taken = {"error=EEXIST", 0, false};
    for (const Call& listed : calls) {
        const std::string& call = listed.name;
        std::vector<Fault> call_faults = faults;
        if (listed.creates_temporary) {
            call_faults.push_back(name_taken);
        }
        for (const Fault& fault : call_faults) {
            const std::string injected =
                call == "write" && fault.inject == "error=EIO" ? "error=ENOSPC" : fault.inject;
            const std::string where = call + " #" + std::to_string(listed.count) + " " + injected;
            // strace counts calls from the process's start: where the start
            // took another number of calls than the clean run's, the fault
            // lands on another call, and the run is made again.
            RunResult run;
            std::vector<TraceLine> trace;
            Landing at;
            for (int attempt = 0; attempt < 3 && at.from_start != listed.from_start; ++attempt) {
                set_up();
                const std::vector<std::string> strace = traced(
                    {"-o", "../trace", "-e",
                     "trace=" + call +
                         ",openat,rename,renameat,renameat2,unlink,unlinkat,rt_sigprocmask",
                     "-e",
                     "inject=" + call + ":" + injected + ":when=" + std::to_string(listed.count)});
                run = huemill(args, fault.ignored_at_start ? under_nohup(strace) : strace);
                trace = read_trace("../trace");
                at = landing(trace, call, listed.count);
            }
            ASSERT_EQ(at.from_start, listed.from_start)
                << where << ": landed on another call; its trace:\n"
                << read_file("../trace");
            for (const auto& [name, bytes] : inputs) {
                EXPECT_EQ(read_file(name), bytes) << where << ": input " << name;
            }
            int temporaries = 0;
            for (const std::string& name : files_left()) {
                if (name.find(".huemill-") != std::string::npos) {
                    ++temporaries;
                } else {
                    ASSERT_TRUE(inputs.count(name) != 0 ||
                                std::count(listings.begin(), listings.end(), name) != 0 ||
                                name == "sub")
                        << where << ": stray " << name;
                }
            }
            // Listings are complete in argument order: the first ones are
            // new, and each of the rest holds what it held before.
            std::size_t complete = 0;
            while (complete < listings.size() && read_file(listings[complete]) == sample_listing) {
                ++complete;
            }
            for (std::size_t later = complete; later < listings.size(); ++later) {
                const std::string& name = listings[later];
                EXPECT_EQ(read_file(name), before.count(name) != 0 ? before.at(name) : "")
                    << where << ": " << name;
            }
            EXPECT_EQ(access_of("b.pal.c"), access_before) << where;
            EXPECT_EQ(removal_not_owned(trace), "") << where;
            if (fault.signal == SIGKILL) {
                // Killed as the call starts or as it returns.
                EXPECT_LE(temporaries, 1) << where;
                EXPECT_EQ(run.status, 128 + SIGKILL) << where;
                EXPECT_TRUE(complete == at.renamed_before || complete == at.renamed_before + 1)
                    << where << ": " << complete << " listings complete";
                continue;
            }
            EXPECT_EQ(temporaries, 0) << where;
            if (fault.signal != 0) {
                // Ended by that very signal, once the listing in progress is
                // complete or gone.
                EXPECT_EQ(run.status, 128 + fault.signal) << where << ": " << run.err;
                EXPECT_EQ(complete, at.renamed_when_free) << where << "; its trace:\n"
                                                          << read_file("../trace");
                EXPECT_EQ(at.after_free, "") << where << ": went on after it could end";
                EXPECT_EQ(run.err, "") << where;
                continue;
            }
            if (fault.ignored_at_start || (injected == "error=EEXIST" && at.creates_temporary) ||
                at.may_fail_quietly) {
                EXPECT_EQ(run.status, 0) << where << ": " << run.err;
            } else {
                EXPECT_EQ(run.status, 1) << where << ": an error nobody hears of";
            }
            if (run.status == 0) {
                EXPECT_EQ(run.err, "") << where;
                EXPECT_EQ(complete, listings.size()) << where;
            } else {
                EXPECT_EQ(complete, at.renamed_before) << where;
                EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1)
                    << where << ": " << run.err;
                EXPECT_EQ(run.err.rfind("huemill: ", 0), 0U) << where << ": " << run.err;
            }
        }
    }
}

}  // namespace
