// Nothing lost, whatever happens: a listing name holds its old content or
// the complete new listing, inputs are never touched, and no temporary file
// is left behind, through failed calls, signals, links and limits.
#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include "support.hpp"

#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>
#endif

namespace {

// Whether this build, the program's included, runs under AddressSanitizer.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool address_sanitizer = true;
#elif defined(__has_feature)
constexpr bool address_sanitizer = __has_feature(address_sanitizer);
#else
constexpr bool address_sanitizer = false;
#endif

namespace fs = std::filesystem;
using namespace huemill_test;
using Replace = ScratchFolder;

TEST_F(Replace, ReadOnlyListingIsNotReplaced) {
    write_file("a.pal", sample_palette);
    write_file("b.pal", sample_palette);
    write_file("b.pal.c", old_listing);
    fs::permissions("b.pal.c",
                    fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    if (!can_run_unprivileged()) {
        GTEST_SKIP() << "running as root and setpriv is missing: cannot drop privileges";
    }
    // The folder must let whoever runs huemill create the other listing.
    fs::permissions(".", fs::perms::all);
    const auto read_only = huemill({"a.pal", "b.pal"}, unprivileged_launcher());
    EXPECT_EQ(read_only.status, 1);
    EXPECT_EQ(read_only.err, failure_message("b.pal.c", EACCES));
    EXPECT_EQ(read_file("b.pal.c"), old_listing);
#ifndef _WIN32
    if (!unprivileged_launcher().empty()) {
        // Above, root's file refused nobody; now nobody's own file does.
        ASSERT_EQ(chown("b.pal.c", 65534, 65534), 0);
        const auto own = huemill({"b.pal"}, unprivileged_launcher());
        EXPECT_EQ(own.status, 1);
        EXPECT_EQ(own.err, failure_message("b.pal.c", EACCES));
        EXPECT_EQ(read_file("b.pal.c"), old_listing);
    }
#endif
    fs::permissions("b.pal.c", fs::perms::owner_all);
    EXPECT_EQ(files_left(), (Files{"a.pal", "a.pal.c", "b.pal", "b.pal.c"}));
}

TEST_F(Replace, MessagesStayOneLineWhateverTheName) {
    // Each name, and how it shows on Linux and on Windows, where a
    // backslash separates folders and escapes are written <U+...>.
    const struct {
        std::string name, on_linux, on_windows;
    } names[] = {
        {"a\nb\x1B[31m.pal", "a\\nb\\x1B[31m.pal", "a<U+000A>b<U+001B>[31m.pal"},
        {"tab\there\r\x7F.pal", "tab\\there\\r\\x7F.pal", "tab<U+0009>here<U+000D><U+007F>.pal"},
        // Invisible: a soft hyphen, a zero-width space, line and paragraph
        // separators, a word joiner and a byte order mark.
        {"sky\xC2\xAD\xE2\x80\x8B\xE2\x80\xA8\xE2\x80\xA9\xE2\x81\xA0\xEF\xBB\xBF.pal",
         "sky\\u00AD\\u200B\\u2028\\u2029\\u2060\\uFEFF.pal",
         "sky<U+00AD><U+200B><U+2028><U+2029><U+2060><U+FEFF>.pal"},
        // U+009B is CSI to a terminal; U+202E and U+2066 reorder what follows.
        {"csi\xC2\x9B"
         "31m\xE2\x80\xAElap.\xE2\x81\xA6x",
         "csi\\u009B31m\\u202Elap.\\u2066x", "csi<U+009B>31m<U+202E>lap.<U+2066>x"},
        // Ignorable or blank: a tag letter A, a variation selector, a
        // combining grapheme joiner, Hangul fillers, a Mongolian variation
        // selector, the Braille blank, a no-break, an en and a narrow
        // no-break space.
        {"t\xF3\xA0\x81\x81v\xEF\xB8\x8F"
         "c\xCD\x8Fh\xE1\x85\x9F\xE3\x85\xA4m\xE1\xA0\x8B"
         "b\xE2\xA0\x80s\xC2\xA0\xE2\x80\x82\xE2\x80\xAF.pal",
         "t\\U000E0041v\\uFE0Fc\\u034Fh\\u115F\\u3164m\\u180Bb\\u2800s\\u00A0\\u2002\\u202F.pal",
         "t<U+E0041>v<U+FE0F>c<U+034F>h<U+115F><U+3164>m<U+180B>b<U+2800>s<U+00A0><U+2002>"
         "<U+202F>.pal"},
        // A backslash: on Linux part of the name, which must not read as a
        // line end; on Windows a folder separator, never part of a name.
        {"\xC3\xA9t\xC3\xA9\\nb.pal", "\xC3\xA9t\xC3\xA9\\\\nb.pal", "\xC3\xA9t\xC3\xA9\\nb.pal"},
        {"a\\u202E.pal", "a\\\\u202E.pal", "a\\u202E.pal"},
        {"a\xE2\x80\xAE.pal", "a\\u202E.pal", "a<U+202E>.pal"},
#ifndef _WIN32
        // Windows names are UTF-16: every one converts to UTF-8.
        {"raw\x9B"
         "31m\xFF\xC0\xAF\xED\xA0\x80\xE2\x80.pal",
         "raw\\x9B31m\\xFF\\xC0\\xAF\\xED\\xA0\\x80\\xE2\\x80.pal", ""},
#endif
    };
    for (const auto& row : names) {
#ifdef _WIN32
        const std::string& shown = row.on_windows;
#else
        const std::string& shown = row.on_linux;
#endif
        const auto run = huemill({row.name});
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.err.rfind("huemill: " + shown + ": ", 0), 0U) << run.err;
        EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
    }
}

#ifndef _WIN32

// The permission bits of path.
unsigned mode_of(const std::string& path) {
    struct stat status {};
    EXPECT_EQ(lstat(path.c_str(), &status), 0) << path;
    return status.st_mode & 07777U;
}

TEST_F(Replace, WhatStandsAtTheNameIsReplacedNotWrittenThrough) {
    for (const char* input : {"hard.pal", "soft.pal", "dangling.pal", "aside.pal", "fifo.pal",
                              "private.pal", "open.pal"}) {
        write_file(input, sample_palette);
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
        EXPECT_EQ(read_file(input), sample_palette) << input;
        EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(name))) << name;
        EXPECT_EQ(read_file(name), sample_listing) << name;
    }
    EXPECT_EQ(read_file("target.c"), old_listing);
    EXPECT_FALSE(fs::exists("elsewhere.txt"));
    EXPECT_EQ(mode_of("private.pal.c"), 0600U);
    EXPECT_EQ(mode_of("open.pal.c"), 0666U);
}

TEST_F(Replace, LimitsLoseNothing) {
    if (!installed("prlimit")) {
        GTEST_SKIP() << "prlimit is missing";
    }
    const std::vector<Rgb> wide(255, {0xFFFFFFFFU, 0xFFFFFFFFU, 0xFFFFFFFFU});
    const std::string big = palette_bytes(255, wide);
    write_file("a.pal", sample_palette);
    write_file("big.pal", big);
    write_file("big.pal.c", old_listing);
    write_file("c.pal", sample_palette);
    // Larger than a small listing, smaller than a full one.
    const std::vector<std::string> limited = {"prlimit", "--fsize=1744"};
    const auto run = huemill({"a.pal", "big.pal", "c.pal"}, limited);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, failure_message("big.pal.c", EFBIG));
    EXPECT_EQ(read_file("a.pal.c"), sample_listing);
    EXPECT_EQ(read_file("big.pal.c"), old_listing);

    // Out of descriptors at the create: not the folder's fault.
    std::string skipped;
    fs::create_directory("sub");
    write_file("sub/d.pal", sample_palette);
    write_file("sub/d.pal.c", old_listing);
    if (traced({}).empty()) {
        skipped += "out of descriptors: strace is missing, or the program runs under a wrapper. ";
    } else {
        ASSERT_EQ(huemill({"sub/d.pal"}, traced({"-o", "../trace", "-e", "trace=openat"})).status,
                  0);
        const std::string create = std::to_string(creating_openat("../trace"));
        write_file("sub/d.pal.c", old_listing);
        const auto descriptors =
            huemill({"sub/d.pal"}, traced({"-o", "/dev/null", "-e", "trace=openat", "-e",
                                           "inject=openat:error=EMFILE:when=" + create}));
        EXPECT_EQ(descriptors.status, 1);
        EXPECT_EQ(descriptors.err, failure_message("sub/d.pal.c", EMFILE));
        EXPECT_EQ(read_file("sub/d.pal.c"), old_listing);
    }

    // A stack of 16 KiB is enough: the buffers are not on it. (Sanitizers
    // and valgrind need more of their own.)
    if (under_wrapper() || address_sanitizer) {
        skipped += "a small stack: sanitizers and valgrind need more of their own. ";
    } else {
        const auto small_stack = huemill({"a.pal"}, {"prlimit", "--stack=16384"});
        EXPECT_EQ(small_stack.status, 0) << small_stack.err;
    }
    EXPECT_EQ(files_left(), (Files{"a.pal", "a.pal.c", "big.pal", "big.pal.c", "c.pal", "sub",
                                   "sub/d.pal", "sub/d.pal.c"}));
    if (!skipped.empty()) {
        GTEST_SKIP() << "not run: " << skipped;
    }
}

TEST_F(Replace, EveryAllocationFailingInTurnIsOneLineAndLosesNothing) {
    if (under_wrapper() || address_sanitizer) {
        GTEST_SKIP() << "the program runs with an allocator of its own (a sanitizer's, "
                        "valgrind's): no allocator can be preloaded into it";
    }
    program_ = HUEMILL_DYNAMIC_PROGRAM;
    // A run that warns, makes one listing twice and replaces listings in
    // two folders, one with a user.* attribute to keep; the last input's
    // listing is the first's.
    const std::vector<std::string> args = {"a.pal", "short.pal", "sub/c.pal", "sub/c.act"};
    const std::vector<std::string> listings = {"a.pal.c", "short.pal.c", "sub/c.pal.c",
                                               "sub/c.pal.c"};
    const std::string short_palette = sample_palette.substr(0, 30);
    const std::string short_listing = declaration + "\nr: 1F, g: 0, b: 0\nr: 0, g: 0, b: 0\n";
    const std::string other = palette_bytes(1, {{7, 7, 7}});
    const std::vector<std::string> made = {sample_listing, short_listing, sample_listing,
                                           declaration + "\nr: 7, g: 7, b: 7\n"};
    const std::vector<std::string> warnings = {
        "huemill: short.pal: warning: holds 0 of the 2 records its header lists and 7 bytes of the "
        "next; what it lacks is listed as zero\n",
        "huemill: sub/c.act: warning: its listing sub/c.pal.c replaces the one made from "
        "sub/c.pal in this run\n"};
    const Contents before = {{"a.pal", sample_palette},    {"short.pal", short_palette},
                             {"short.pal.c", old_listing}, {"sub/c.pal", sample_palette},
                             {"sub/c.act", other},         {"sub/c.pal.c", old_listing}};
    const auto set_up = [&] {
        lay_out(before);
        setxattr("sub/c.pal.c", "user.origin", "sweep", 5, 0);
    };
    const auto failing = [&](unsigned long allocation) {
        setenv("LD_PRELOAD", HUEMILL_FAIL_ALLOCATION, 1);
        setenv("HUEMILL_TEST_FAIL_ALLOCATION", std::to_string(allocation).c_str(), 1);
        setenv("HUEMILL_TEST_ALLOCATIONS", "../allocations", 1);
        const RunResult run = huemill(args);
        unsetenv("LD_PRELOAD");
        unsetenv("HUEMILL_TEST_FAIL_ALLOCATION");
        unsetenv("HUEMILL_TEST_ALLOCATIONS");
        return run;
    };
    set_up();
    const RunResult clean = failing(0);
    ASSERT_EQ(clean.status, 0) << clean.err;
    ASSERT_EQ(clean.err, warnings[0] + warnings[1]);
    const unsigned long allocations = std::stoul(read_file("../allocations"));
    ASSERT_GT(allocations, 4U);
    for (unsigned long allocation = 1; allocation <= allocations; ++allocation) {
        const std::string where = "allocation " + std::to_string(allocation);
        set_up();
        const RunResult run = failing(allocation);
        // The listings made are complete, in argument order; the rest hold
        // what they held before: the state after the first few inputs.
        Contents state = {
            {"a.pal.c", ""}, {"short.pal.c", old_listing}, {"sub/c.pal.c", old_listing}};
        std::size_t complete = args.size() + 1;
        for (std::size_t inputs = 0; inputs <= args.size(); ++inputs) {
            if (inputs > 0) {
                state[listings[inputs - 1]] = made[inputs - 1];
            }
            if (std::all_of(state.begin(), state.end(), [](const auto& file) {
                    return read_file(file.first) == file.second;
                })) {
                complete = inputs;
            }
        }
        ASSERT_LE(complete, args.size()) << where << ": the listings are in no state a run leaves";
        for (const std::string& name : files_left()) {
            EXPECT_EQ(name.find(".huemill-"), std::string::npos)
                << where << ": " << name << " left";
        }
        if (run.status == 0) {
            // A warning may be lost, and nothing else.
            EXPECT_EQ(complete, args.size()) << where;
            EXPECT_TRUE(run.err == "" || run.err == warnings[0] || run.err == warnings[1] ||
                        run.err == warnings[0] + warnings[1])
                << where << ": " << run.err;
            continue;
        }
        // One line that says so, and for a listing that was not made.
        EXPECT_EQ(run.status, 1) << where << ": " << run.err;
        const std::size_t last_line = run.err.rfind('\n', run.err.size() - 2) + 1;
        const std::string said = run.err.substr(last_line);
        const std::string failed = complete < args.size() ? args[complete] : "none";
        const std::string its_listing = complete < args.size() ? listings[complete] : "none";
        EXPECT_TRUE(said == failure_message(failed, ENOMEM) ||
                    said == failure_message(its_listing, ENOMEM) ||
                    said == "huemill: Cannot allocate memory\n")
            << where << ", " << complete << " listings made: " << run.err;
    }
}

TEST_F(Replace, AnyListingPathTheSystemTakesWorks) {
    // Folders of 200 characters, down to a listing path of 4,095 bytes,
    // the longest Linux takes; its temporary file's path is longer still.
    std::string folder;
    while (folder.size() + 201 + std::string("x.pal.c").size() <= 4095) {
        folder += std::string(200, 'f') + "/";
    }
    folder += std::string(4095 - folder.size() - std::string("/x.pal.c").size(), 'g') + "/";
    fs::create_directories(folder);
    ASSERT_EQ((folder + "x.pal.c").size(), 4095U);
    write_file(folder + "x", sample_palette);
    const auto run = huemill({folder + "x"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(read_file(folder + "x.pal.c"), sample_listing);

    // A file system that takes shorter names than 255 bytes: a shorter
    // temporary name is tried. The temporary file's create is found by
    // what it opens, in a clean run's trace: the calls before it differ
    // from build to build.
    const std::string name(240, 'n');
    write_file(name + ".pal", sample_palette);
    if (traced({}).empty()) {
        GTEST_SKIP() << "a file system of shorter names: strace is missing, or the program runs "
                        "under a wrapper";
    }
    ASSERT_EQ(huemill({name + ".pal"}, traced({"-o", "../trace", "-e", "trace=openat"})).status, 0);
    const std::string create = std::to_string(creating_openat("../trace"));
    fs::remove(name + ".pal.c");
    const auto shorter =
        huemill({name + ".pal"}, traced({"-o", "../trace", "-e", "trace=openat", "-e",
                                         "inject=openat:error=ENAMETOOLONG:when=" + create}));
    EXPECT_EQ(shorter.status, 0) << shorter.err;
    EXPECT_EQ(read_file(name + ".pal.c"), sample_listing);
    std::vector<std::size_t> tried;
    for (const TraceLine& line : read_trace("../trace")) {
        if (line.creates_file()) {
            tried.push_back(line.path().size());
        }
    }
    ASSERT_EQ(tried.size(), 2U);
    EXPECT_LT(tried[1], tried[0]);
}

TEST_F(Replace, TemporaryFileThatCannotBeRemovedIsNamed) {
    // As in a folder marked append-only (chattr +a): files may be created
    // there, but neither renamed nor removed.
    const std::vector<std::string> strace =
        traced({"-o", "/dev/null", "-e", "trace=rename,renameat,unlink,unlinkat", "-e",
                "inject=rename,renameat,unlink,unlinkat:error=EPERM"});
    if (strace.empty()) {
        GTEST_SKIP() << "strace is missing, or the program runs under a wrapper";
    }
    fs::create_directory("d");
    write_file("d/a.pal", sample_palette);
    write_file("d/a.pal.c", old_listing);
    const auto run = huemill({"d/a.pal"}, strace);
    EXPECT_EQ(run.status, 1);
    Files left = files_left();
    ASSERT_EQ(left.size(), 4U);  // d, d/a.pal, d/a.pal.c and the temporary file
    const std::string temporary = *std::next(left.begin(), 3);
    EXPECT_EQ(run.err, failure_message("d/a.pal.c", EPERM, temporary + " is left"));
    EXPECT_EQ(read_file("d/a.pal.c"), old_listing);
    EXPECT_EQ(read_file(temporary), sample_listing);
}

TEST_F(Replace, OutputThatCannotBeWrittenEndsWithAStatusNotASignal) {
    // A pipe whose reader is gone, as standard output or standard error.
    const auto closed_pipe = [](const char* stream) {
        return std::vector<std::string>{"perl", "-e",
                                        std::string("pipe(my $r, my $w) or die; close $r; open(") +
                                            stream + ", '>&', $w) or die; exec @ARGV or die"};
    };
    const struct {
        const char* what;
        std::vector<std::string> launcher;
        std::vector<std::string> args;
        int status;
        std::string err;
    } cases[] = {
        {"usage to a full disk",
         {"sh", "-c", "exec \"$0\" \"$@\" > /dev/full"},
         {},
         2,
         failure_message("standard output", ENOSPC)},
        {"--help to a full disk",
         {"sh", "-c", "exec \"$0\" \"$@\" > /dev/full"},
         {"--help"},
         1,
         failure_message("standard output", ENOSPC)},
        {"--version to a full disk",
         {"sh", "-c", "exec \"$0\" \"$@\" > /dev/full"},
         {"--version"},
         1,
         failure_message("standard output", ENOSPC)},
        // A reader that went away is no news.
        {"usage to a closed pipe", closed_pipe("STDOUT"), {}, 2, ""},
        // The limit stops the message too.
        {"usage past a file-size limit", {"prlimit", "--fsize=0"}, {}, 2, ""},
        {"a message to a closed pipe", closed_pipe("STDERR"), {"missing.pal"}, 1, ""},
    };
    std::string skipped;
    for (const auto& row : cases) {
        if (row.launcher.front() == "prlimit" && under_wrapper()) {
            skipped += row.what;  // valgrind, say, writes files of its own past the limit
            continue;
        }
        const auto run = huemill(row.args, row.launcher);
        EXPECT_EQ(run.status, row.status) << row.what;
        EXPECT_EQ(run.err, row.err) << row.what;
    }
    if (!skipped.empty()) {
        GTEST_SKIP() << "not run under a wrapper, which writes files of its own past the limit: "
                     << skipped;
    }
}

#endif

}  // namespace
