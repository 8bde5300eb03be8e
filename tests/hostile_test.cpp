// huemill given hostile input and hostile places: it must never crash,
// read stale or unset memory, lose a listing or leave a partial one.
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sstream>

#include "support.hpp"

namespace {

namespace fs = std::filesystem;
using namespace huemill_test;
using Hostile = ScratchFolder;

TEST_F(Hostile, NamesWithSpacesAndNonAsciiCharacters) {
    const std::string name = "my sky \xC3\xA9t\xC3\xA9 \xE2\x98\x80";  // "my sky été ☀" in UTF-8
    const std::string bytes = palette_bytes(1, {{0xC0FFEE, 0, 1}});
    write_file(fs::u8path(name + ".pal"), bytes);
    const auto run = huemill({name + ".pal"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(read_file(fs::u8path(name + ".pal.c")), expected_listing(bytes));
}

#ifndef _WIN32
TEST_F(Hostile, EndlessOrHugeInputIsReadOnlyAsFarAsAPaletteGoes) {
    fs::create_symlink("/dev/zero", "zero.pal");
    const auto endless = huemill({"zero.pal"});
    EXPECT_EQ(endless.status, 0) << endless.err;
    EXPECT_EQ(read_file("zero.pal.c"), declaration + "\n");

    std::string head = pattern(23 + 4096);
    head[22] = 2;
    write_file("huge.pal", head);
    std::error_code too_big;
    fs::resize_file("huge.pal", 10ULL << 30U, too_big);
    if (too_big) {
        GTEST_SKIP() << "this file system cannot hold a 10 GB file: " << too_big.message();
    }
    // A reader that reads on is stopped at its 100th read, not after 10 GB.
    const std::vector<std::string> strace = traced(
        {"-o", "../trace", "-e", "trace=openat,readv", "-e", "inject=readv:signal=KILL:when=100"});
    if (strace.empty()) {
        GTEST_SKIP() << "strace is missing, or the program runs under a wrapper";
    }
    const auto run = huemill({"huge.pal"}, strace);
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(read_file("huge.pal.c"), expected_listing(head));
    // What was read of it: the bytes every read of its descriptor returned.
    std::string descriptor = "none";
    std::size_t bytes_read = 0;
    for (const TraceLine& line : read_trace("../trace")) {
        if (line.call == "openat" && line.path() == "huge.pal") {
            descriptor = line.result();
        } else if (line.call == "readv" && line.first_argument() == descriptor) {
            bytes_read += std::stoul(line.result());
        }
    }
    EXPECT_EQ(bytes_read, 23U + 4096);
}

TEST_F(Hostile, EachListingGoesBesideThePaletteItWasMadeFrom) {
    // cur leads to d1 until the run waits on the FIFO d1/f.pal, then to d2.
    const std::string one = palette_bytes(1, {{1, 1, 1}});
    const std::string two = palette_bytes(1, {{2, 2, 2}});
    fs::create_directories("d1");
    fs::create_directories("d2");
    write_file("d1/a.pal", one);
    ASSERT_EQ(mkfifo("d1/f.pal", 0644), 0);
    write_file("d1/b.pal", one);
    write_file("d1/b.pal.c", old_listing);
    write_file("d2/b.pal", two);
    write_file("d2/b.pal.c", old_listing);
    // After d2/b.pal.c is replaced, /proc/self/cwd is still the folder the
    // run started in, not d2.
    write_file("y.pal", one);
    write_file("d2/y.pal", two);
    fs::create_directory_symlink("d1", "cur");
    const auto run =
        huemill({"cur/a.pal", "cur/f.pal", "cur/b.pal", "/proc/self/cwd/y.pal"}, {}, [&] {
            EXPECT_TRUE(feed_fifo("d1/f.pal", two, [] {
                fs::create_directory_symlink("d2", "next");
                fs::rename("next", "cur");
            }));
        });
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(read_file("d1/a.pal.c"), expected_listing(one));
    EXPECT_EQ(read_file("d1/f.pal.c"), expected_listing(two));
    EXPECT_EQ(read_file("d1/b.pal.c"), old_listing);
    EXPECT_EQ(read_file("d2/b.pal.c"), expected_listing(two));
    EXPECT_EQ(read_file("y.pal.c"), expected_listing(one));
    EXPECT_EQ(files_left(), (Files{"cur", "d1", "d1/a.pal", "d1/a.pal.c", "d1/b.pal", "d1/b.pal.c",
                                   "d1/f.pal", "d1/f.pal.c", "d2", "d2/b.pal", "d2/b.pal.c",
                                   "d2/y.pal", "y.pal", "y.pal.c"}));
}

TEST_F(Hostile, NoPaletteIsLostWhereTheFileSystemFoldsCase) {
    // FAT through FUSE gives each spelling of a name its own inode number,
    // so identities cannot tell that SKY.PAL.C is sky.pal.c; NTFS through
    // lowntfs-3g, ignoring case, folds letters beyond ASCII too.
    struct Mount {
        const char* folder;
        const char* needs;
        const char* commands;  // run in the scratch folder
    };
    const Mount fat = {
        "fat", "fusefat and mkfs.vfat (Debian: fusefat, dosfstools)",
        "mkfs.vfat -C ../fat.img 2048 && mkdir fat && fusefat -o rw+ ../fat.img fat"};
    const Mount ntfs = {"ntfs", "lowntfs-3g and mkntfs (Debian: ntfs-3g)",
                        "truncate -s 8M ../ntfs.img && mkntfs -F -q -f ../ntfs.img && "
                        "mkdir ntfs && lowntfs-3g -o ignore_case ../ntfs.img ntfs"};
    const std::string nine = palette_bytes(9, std::vector<Rgb>(9, {9, 9, 9}));
    const std::string refused = ": not converted" + text_line_end;
    const std::string later = ", given later as a palette" + refused;
    // Each run in the mounted folder, holding before; it says err and
    // leaves after, whatever stood there before.
    const struct {
        const Mount& on;
        const char* what;
        Contents before;
        std::vector<std::string> args;
        std::string err;
        Contents after;
    } rows[] = {
        // clang-format off
        {fat, "its own listing, in other case", {{"sky.pal.c", nine}}, {"fat/SKY.PAL.C"},
         "fat/SKY.PAL.C: its listing fat/SKY.pal.c would replace it" + refused,
         {{"sky.pal.c", nine}}},
        {fat, "... with -o", {{"sun.pal.c", nine}}, {"-o", "fat", "fat/SUN.PAL.C"},
         "fat/SUN.PAL.C: its listing fat/SUN.pal.c would replace it" + refused,
         {{"sun.pal.c", nine}}},
        {fat, "a later palette in other case", {{"sea.act", nine}, {"SEA.PAL.C", nine}},
         {"fat/sea.act", "fat/SEA.PAL.C"},
         "fat/sea.act: its listing fat/sea.pal.c would replace fat/SEA.PAL.C" + later,
         {{"SEA.PAL.C", nine}}},
        {fat, "... with -o", {{"sub/dew.pal", nine}, {"Dew.Pal.c", nine}},
         {"-o", "fat", "fat/sub/dew.pal", "fat/Dew.Pal.c"},
         "fat/sub/dew.pal: its listing fat/dew.pal.c would replace fat/Dew.Pal.c" + later,
         {{"Dew.Pal.c", nine}}},
        {fat, "two inputs, one listing", {{"a/Fog.pal", nine}, {"b/fog.pal", nine}, {"m/", ""}},
         {"--strict", "-o", "fat/m", "fat/a/Fog.pal", "fat/b/fog.pal"},
         "fat/b/fog.pal: its listing fat/m/fog.pal.c would replace the one made from "
         "fat/a/Fog.pal in this run" + refused,
         {{"m/Fog.pal.c", expected_listing(nine)}}},
        {fat, "another palette's listing, in other case", {{"dawn.pal", nine}, {"DAWN.PAL.C", ""}},
         {"fat/dawn.pal"}, "", {{"dawn.pal.c", expected_listing(nine)}}},
        {ntfs, "a later palette in other case, beyond ASCII",
         {{"\xC3\x84.act", nine}, {"\xC3\xA4.pal.c", nine}},
         {"ntfs/\xC3\x84.act", "ntfs/\xC3\xA4.pal.c"},
         "ntfs/\xC3\x84.act: its listing ntfs/\xC3\x84.pal.c would replace ntfs/\xC3\xA4.pal.c" + later,
         {{"\xC3\xA4.pal.c", nine}}},
        // clang-format on
    };
    std::string skipped;
    for (const Mount* mount : {&fat, &ntfs}) {
        if (!shell(std::string("(") + mount->commands + " && mountpoint -q " + mount->folder +
                   ") >/dev/null 2>&1")) {
            skipped += std::string(mount->folder) + " needs " + mount->needs + ", and FUSE. ";
            continue;
        }
        const fs::path root = mount->folder;
        for (const auto& row : rows) {
            if (&row.on != mount) {
                continue;
            }
            for (const auto& entry : fs::directory_iterator(root)) {
                fs::remove_all(entry.path());
            }
            for (const auto& [name, bytes] : row.before) {
                fs::create_directories((root / fs::u8path(name)).parent_path());
                if (name.back() != '/') {
                    write_file(root / fs::u8path(name), bytes);
                }
            }
            const auto run = huemill(row.args);
            EXPECT_EQ(run.status, row.err.empty() ? 0 : 1) << row.what;
            EXPECT_EQ(run.err, row.err.empty() ? "" : "huemill: " + row.err) << row.what;
            for (const auto& [name, bytes] : row.after) {
                EXPECT_EQ(read_file(root / fs::u8path(name)), bytes) << row.what << ": " << name;
            }
        }
        shell(std::string("fusermount -u ") + mount->folder);
    }
    if (!skipped.empty()) {
        GTEST_SKIP() << "not run: " << skipped;
    }
}

TEST_F(Hostile, PermissionDeniedIsReportedForInputAndListing) {
    if (!can_run_unprivileged()) {
        GTEST_SKIP() << "running as root and setpriv is missing: cannot drop privileges";
    }
    write_file("locked.pal", palette_bytes(0, {}));
    fs::permissions("locked.pal", fs::perms::none);
    const auto unreadable = huemill({"locked.pal"}, unprivileged_launcher());
    EXPECT_EQ(unreadable.status, 1);
    EXPECT_EQ(unreadable.err, failure_message("locked.pal", EACCES));

    fs::create_directory("shut");
    write_file("shut/sky.pal", palette_bytes(0, {}));
    const auto read_and_search = fs::perms::owner_read | fs::perms::owner_exec |
                                 fs::perms::others_read | fs::perms::others_exec;
    fs::permissions("shut", read_and_search);
    const auto unwritable = huemill({"shut/sky.pal"}, unprivileged_launcher());
    fs::permissions("shut", fs::perms::owner_all);
    EXPECT_EQ(unwritable.status, 1);
    EXPECT_EQ(unwritable.err,
              failure_message("shut/sky.pal.c", EACCES, "cannot create a file in shut/"));
    EXPECT_EQ(files_left(), (Files{"locked.pal", "shut", "shut/sky.pal"}));

    // Started in a folder it may not search: an absolute path needs it
    // not, even where its listing is replaced; a relative one fails as the
    // system says. Where the run must go into the listing's folder to name
    // its attributes, it cannot come back, and says so for every path that
    // depends on the current folder.
    const fs::path here = fs::current_path();
    const fs::path open = here.parent_path() / "open";
    fs::create_directory(open);
    fs::permissions(open, fs::perms::all);
    write_file(open / "sky.pal", palette_bytes(0, {}));
    struct Way {
        std::vector<std::string> launcher;
        std::string later;
        std::string err;
    };
    std::vector<Way> ways = {{{}, "locked.pal", failure_message("locked.pal", EACCES)}};
    const std::string cannot_come_back = ": Cannot open the folder huemill started in";
    if (!from_inside().empty()) {  // only root may hide /proc/self/fd
        for (const std::string later : {"locked.pal", "/proc/self/cwd/locked.pal"}) {
            ways.push_back({from_inside(), later, "huemill: " + later + cannot_come_back + "\n"});
        }
    }
    for (const Way& way : ways) {
        write_file(open / "sky.pal.c", old_listing);
        fs::permissions(open / "sky.pal.c", fs::perms::all);
        std::vector<std::string> launcher = way.launcher;
        for (const std::string& word : unprivileged_launcher()) {
            launcher.push_back(word);
        }
        // Given back through the folder above, which the run may search.
        fs::permissions(here, fs::perms::owner_read | fs::perms::owner_write);
        const auto unsearchable = huemill({(open / "sky.pal").string(), way.later}, launcher);
        fs::permissions(here, fs::perms::owner_all);
        EXPECT_EQ(unsearchable.status, 1) << way.later;
        EXPECT_EQ(unsearchable.err, way.err);
        EXPECT_EQ(read_file(open / "sky.pal.c"), declaration + "\n") << way.later;
    }
}
#endif

}  // namespace
