// Nothing lost, whatever happens: a listing name holds its old content or
// the complete new listing, inputs are never touched, and no temporary file
// is left behind, through failed calls, signals, links and limits.
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>

#include "support.hpp"

#ifndef _WIN32
#include <sys/stat.h>
#endif

namespace {

namespace fs = std::filesystem;
using namespace huemill_test;
using Replace = ScratchFolder;

const std::string palette = palette_bytes(2, {{0x1F, 0, 0xAB}, {0xFFFFFFFFU, 0x10, 0x0}});
const std::string listing = declaration + "\nr: 1F, g: 0, b: AB\nr: FFFFFFFF, g: 10, b: 0\n";
const std::string old_listing = "an older listing, complete in its own day\n";

TEST_F(Replace, ReadOnlyListingAndDirectoryAreNotReplaced) {
    write_file("a.pal", palette);
    write_file("b.pal", palette);
    write_file("b.pal.c", old_listing);
    fs::permissions("b.pal.c",
                    fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    fs::create_directory("d.pal.c");
    write_file("d.pal", palette);
    const auto unprivileged = unprivileged_launcher();
    if (!unprivileged) {
        GTEST_SKIP() << "running as root and setpriv is missing: cannot drop privileges";
    }
    // The folder must let whoever runs huemill create the other listing.
    fs::permissions(".", fs::perms::all);
    const auto read_only = huemill({"a.pal", "b.pal"}, *unprivileged);
    EXPECT_EQ(read_only.status, 1);
    EXPECT_EQ(read_only.err, failure_message("b.pal.c", EACCES));
    EXPECT_EQ(read_file("b.pal.c"), old_listing);
    const auto directory = huemill({"d.pal"});
    EXPECT_EQ(directory.status, 1);
    EXPECT_EQ(directory.err, failure_message("d.pal.c", EISDIR));
    fs::permissions("b.pal.c", fs::perms::owner_all);
    EXPECT_EQ(files_left(), (Files{"a.pal", "a.pal.c", "b.pal", "b.pal.c", "d.pal", "d.pal.c"}));
}

TEST_F(Replace, MessagesStayOneLineWhateverTheName) {
    const std::pair<std::string, std::string> names[] = {
        {"a\nb\x1B[31m.pal", "a\\nb\\x1B[31m.pal"},
        {"tab\there\r\x7F.pal", "tab\\there\\r\\x7F.pal"},
        {"\xC3\xA9t\xC3\xA9 \\ ok.pal", "\xC3\xA9t\xC3\xA9 \\ ok.pal"},
    };
    for (const auto& [name, shown] : names) {
        const auto run = huemill({name});
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.err.rfind("huemill: " + shown + ": ", 0), 0U) << run.err;
        EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
    }
}

#ifndef _WIN32

bool is_temporary(const std::string& name) {
    return name.find(".huemill-") != std::string::npos && name.size() > 4 &&
           name.compare(name.size() - 4, 4, ".tmp") == 0;
}

// The permission bits of path.
unsigned mode_of(const std::string& path) {
    struct stat status {};
    EXPECT_EQ(lstat(path.c_str(), &status), 0) << path;
    return status.st_mode & 07777U;
}

TEST_F(Replace, WhatStandsAtTheNameIsReplacedNotWrittenThrough) {
    for (const char* input : {"hard.pal", "soft.pal", "dangling.pal", "aside.pal", "fifo.pal",
                              "private.pal", "open.pal"}) {
        write_file(input, palette);
    }
    fs::create_hard_link("hard.pal", "hard.pal.c");
    fs::create_symlink("soft.pal", "soft.pal.c");
    fs::create_symlink("elsewhere.txt", "dangling.pal.c");
    write_file("target.c", old_listing);
    fs::create_symlink("target.c", "aside.pal.c");
    ASSERT_EQ(mkfifo("fifo.pal.c", 0644), 0);
    write_file("private.pal.c", old_listing);
    chmod("private.pal.c", 0600);
    // Wider than the usual creation mask lets a new file be.
    write_file("open.pal.c", old_listing);
    chmod("open.pal.c", 0666);

    const auto run = huemill({"hard.pal", "soft.pal", "dangling.pal", "aside.pal", "fifo.pal",
                              "private.pal", "open.pal"});
    EXPECT_EQ(run.status, 0) << run.err;
    for (const char* input : {"hard.pal", "soft.pal", "dangling.pal", "aside.pal", "fifo.pal",
                              "private.pal", "open.pal"}) {
        const std::string name = std::string(input) + ".c";
        EXPECT_EQ(read_file(input), palette) << input;
        EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(name))) << name;
        EXPECT_EQ(read_file(name), listing) << name;
    }
    EXPECT_EQ(read_file("target.c"), old_listing);
    EXPECT_FALSE(fs::exists("elsewhere.txt"));
    EXPECT_EQ(mode_of("private.pal.c"), 0600U);
    EXPECT_EQ(mode_of("open.pal.c"), 0666U);
}

TEST_F(Replace, FileSizeLimitFailsTheWriteAndLosesNothing) {
    if (std::system("prlimit --version > /dev/null 2>&1") != 0) {
        GTEST_SKIP() << "prlimit is missing";
    }
    const std::vector<Rgb> wide(255, {0xFFFFFFFFU, 0xFFFFFFFFU, 0xFFFFFFFFU});
    const std::string big = palette_bytes(255, wide);
    write_file("a.pal", palette);
    write_file("big.pal", big);
    write_file("big.pal.c", old_listing);
    write_file("c.pal", palette);
    write_file("input.pal.c", big);
    // Larger than a small listing, smaller than a full one.
    const std::vector<std::string> limited = {"prlimit", "--fsize=1744"};
    const auto run = huemill({"a.pal", "big.pal", "c.pal"}, limited);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, failure_message("big.pal.c", EFBIG));
    EXPECT_EQ(read_file("a.pal.c"), listing);
    EXPECT_EQ(read_file("big.pal.c"), old_listing);

    const auto itself = huemill({"input.pal.c"}, limited);
    EXPECT_EQ(itself.status, 1);
    EXPECT_EQ(itself.err, failure_message("input.pal.c", EFBIG));
    EXPECT_EQ(read_file("input.pal.c"), big);
    EXPECT_EQ(files_left(),
              (Files{"a.pal", "a.pal.c", "big.pal", "big.pal.c", "c.pal", "input.pal.c"}));
}

TEST_F(Replace, UsageThatCannotBeWrittenIsReported) {
    const auto run = huemill({}, {"sh", "-c", "exec \"$0\" \"$@\" > /dev/full"});
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.err, failure_message("standard output", ENOSPC));
}

// The calls of a clean run that touch files, from its first input to its last
// rename: each as strace names it, with its count among calls of that name.
std::vector<std::pair<std::string, int>> file_calls(const std::string& trace) {
    static const std::set<std::string> file_related = {
        "openat", "open",      "read",      "write",    "close",  "newfstatat", "lstat",
        "fstat",  "faccessat", "access",    "rename",   "unlink", "fchmod",     "faccessat2",
        "lseek",  "renameat",  "renameat2", "unlinkat", "umask"};
    std::vector<std::pair<std::string, int>> calls;
    std::map<std::string, int> seen;
    bool started = false;
    std::size_t last_rename = 0;
    std::istringstream lines(trace);
    for (std::string line; std::getline(lines, line);) {
        const std::string call = line.substr(0, line.find('('));
        const int count = ++seen[call];
        started = started || (call == "openat" && line.find("\"a.pal\"") != std::string::npos);
        if (started && file_related.count(call) != 0) {
            calls.emplace_back(call, count);
            if (call == "rename") {
                last_rename = calls.size();
            }
        }
    }
    // What follows is the process ending, which may make calls of its own
    // (a sanitizer's leak check, say).
    calls.resize(last_rename);
    return calls;
}

TEST_F(Replace, FaultOrSignalAtEveryFileCallLosesNothing) {
    if (std::getenv("HUEMILL_TEST_WRAPPER") != nullptr ||
        std::system("strace -V > /dev/null 2>&1") != 0) {
        GTEST_SKIP() << "strace is missing, or the program runs under a wrapper";
    }
    // Three conversions, the second over an existing listing, then an input
    // named like its listing.
    const std::vector<std::string> args = {"a.pal", "b.pal", "c.pal", "self.pal.c"};
    const std::map<std::string, std::string> inputs = {
        {"a.pal", palette}, {"b.pal", palette}, {"c.pal", palette}};
    const std::map<std::string, std::string> before = {{"b.pal.c", old_listing},
                                                       {"self.pal.c", palette}};
    const auto lay_out = [&] {
        for (const auto& entry : fs::directory_iterator(".")) {
            fs::remove(entry.path());
        }
        for (const auto& [name, bytes] : inputs) {
            write_file(name, bytes);
        }
        for (const auto& [name, bytes] : before) {
            write_file(name, bytes);
        }
    };
    // LeakSanitizer cannot check a process that is being traced.
    const std::vector<std::string> strace = {"strace", "-qq", "-E", "ASAN_OPTIONS=detect_leaks=0"};
    const auto traced = [&](std::vector<std::string> options) {
        options.insert(options.begin(), strace.begin(), strace.end());
        return options;
    };
    lay_out();
    const auto clean = huemill(args, traced({"-o", "../trace"}));
    ASSERT_EQ(clean.status, 0) << clean.err;
    const auto calls = file_calls(read_file("../trace"));
    ASSERT_GE(calls.size(), 4U * 8);

    const std::vector<std::string> faults = {"error=EIO", "signal=KILL", "signal=INT",
                                             "signal=TERM", "signal=HUP"};
    for (const auto& [call, count] : calls) {
        for (const std::string& fault : faults) {
            lay_out();
            const std::string injected =
                call == "write" && fault == "error=EIO" ? "error=ENOSPC" : fault;
            const auto run = huemill(args, traced({"-o", "/dev/null", "-e", "trace=" + call, "-e",
                                                   "inject=" + call + ":" + injected +
                                                       ":when=" + std::to_string(count)}));
            const std::string where = call + " #" + std::to_string(count) + " " + injected;
            for (const auto& [name, bytes] : inputs) {
                EXPECT_EQ(read_file(name), bytes) << where << ": input " << name;
            }
            int temporaries = 0;
            for (const std::string& name : files_left()) {
                if (is_temporary(name)) {
                    ++temporaries;
                    continue;
                }
                const bool existed = before.count(name) != 0;
                const bool listing_name =
                    name.size() > 2 && name.compare(name.size() - 2, 2, ".c") == 0;
                ASSERT_TRUE(inputs.count(name) != 0 || listing_name) << where << ": stray " << name;
                if (listing_name) {
                    const std::string content = read_file(name);
                    EXPECT_TRUE(content == listing || (existed && content == before.at(name)))
                        << where << ": " << name << " holds " << content.size() << " bytes";
                }
            }
            if (fault == "signal=KILL") {
                EXPECT_LE(temporaries, 1) << where;
            } else {
                EXPECT_EQ(temporaries, 0) << where;
            }
            if (run.status == 1) {
                EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1)
                    << where << ": " << run.err;
                EXPECT_EQ(run.err.rfind("huemill: ", 0), 0U) << where << ": " << run.err;
            } else if (run.status == 0) {
                EXPECT_EQ(run.err, "") << where;
                for (const char* name : {"a.pal.c", "b.pal.c", "c.pal.c", "self.pal.c"}) {
                    EXPECT_EQ(read_file(name), listing) << where << ": " << name;
                }
            } else {
                const char* signal_name = sigabbrev_np(run.status - 128);
                EXPECT_TRUE(signal_name != nullptr && fault == "signal=" + std::string(signal_name))
                    << where << ": status " << run.status;
            }
        }
    }
}

#endif

}  // namespace
