// huemill run as a program, in a fresh folder: exit status, standard output,
// standard error, and every file it leaves behind.
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <map>

#include "support.hpp"

namespace {

namespace fs = std::filesystem;
using namespace huemill_test;

// Standard output is a text stream: on Windows both line ends become CR LF.
const std::string usage =
    text_line_end + "Usage:  huemill file1.pal [file2.pal, file3.pal ...]" + text_line_end;

using Cli = ScratchFolder;

TEST_F(Cli, EveryCommandLineGetsItsAnswer) {
    using Contents = std::map<std::string, std::string>;
    const std::string other = palette_bytes(1, {{9, 9, 9}});
    const std::string enoent = std::strerror(ENOENT);
    const std::string refused = ": its listing would replace it: not converted";
    const std::string made_twice = ": warning: its listing sky.pal.c replaces the one made from ";
    const std::string nine = palette_bytes(9, std::vector<Rgb>(9, {9, 9, 9}));
    // Each run in a folder holding before (a name ending in '/' is a
    // folder); its messages each end a line, and it leaves before as it was
    // and made besides.
    const struct {
        const char* what;
        std::vector<std::string> args;
        Contents before;
        int status;
        std::string out;
        std::vector<std::string> err = {};
        Contents made = {};
    } rows[] = {
        {"no file", {}, {}, 2, usage, {}, {}},
        {"--help alone", {"--help"}, {}, 0, usage, {}, {}},
        {"--version alone", {"--version"}, {}, 0, "huemill " HUEMILL_VERSION + text_line_end},
        {"--help among files",
         {"--help", "a"},
         {{"a", sample_palette}},
         1,
         "",
         {"--help: " + enoent},
         {}},
        {"./--help",
         {"./--help"},
         {{"--help", sample_palette}},
         0,
         "",
         {},
         {{"--help.pal.c", sample_listing}}},
        {"-h", {"-h"}, {}, 1, "", {"-h: " + enoent}, {}},
        {"-", {"-"}, {{"-", sample_palette}}, 0, "", {}, {{"-.pal.c", sample_listing}}},
        {"its own listing",
         {"sky.pal.c"},
         {{"sky.pal.c", sample_palette}},
         1,
         "",
         {"sky.pal.c" + refused}},
        {"the same, named otherwise, after a palette",
         {"a", "./sky.pal.c", "c"},
         {{"a", sample_palette}, {"sky.pal.c", sample_palette}, {"c", sample_palette}},
         1,
         "",
         {"./sky.pal.c" + refused},
         {{"a.pal.c", sample_listing}}},
        {"three inputs with one listing name: the last one's stays",
         {"sky.pal", "sky.old.pal", "sky.act"},
         {{"sky.pal", sample_palette}, {"sky.old.pal", sample_palette}, {"sky.act", other}},
         0,
         "",
         {"sky.old.pal" + made_twice + "sky.pal in this run",
          "sky.act" + made_twice + "sky.old.pal in this run"},
         {{"sky.pal.c", declaration + "\nr: 9, g: 9, b: 9\n"}}},
        {"a missing input: the run ends there",
         {"a.pal", "missing.pal", "c.pal"},
         {{"a.pal", sample_palette}, {"c.pal", sample_palette}},
         1,
         "",
         {"missing.pal: " + enoent},
         {{"a.pal.c", sample_listing}}},
        {"an input in a folder that does not exist, named as given",
         {"a.pal", "nowhere/sky.pal"},
         {{"a.pal", sample_palette}},
         1,
         "",
         {"nowhere/sky.pal: " + enoent},
         {{"a.pal.c", sample_listing}}},
        {"a folder as input: the run ends there",
         {"a.pal", "folder.pal", "a.pal"},
         {{"a.pal", sample_palette}, {"folder.pal/", ""}},
         1,
         "",
         {"folder.pal: " + std::string(std::strerror(EISDIR))},
         {{"a.pal.c", sample_listing}}},
        {"a folder at a listing's name: the run ends there",
         {"a.pal", "b.pal", "a.pal"},
         {{"a.pal", sample_palette}, {"b.pal", sample_palette}, {"b.pal.c/", ""}},
         1,
         "",
         {"b.pal.c: " + std::string(std::strerror(EISDIR))},
         {{"a.pal.c", sample_listing}}},
        {"a listing that would replace a palette given later",
         {"sky.act", "sky.pal.c"},
         {{"sky.act", sample_palette}, {"sky.pal.c", nine}},
         1,
         "",
         {"sky.act: its listing sky.pal.c would replace sky.pal.c, given later as a palette: not "
          "converted"}},
        {"one listing by two paths to its folder",
         {"d/sky.pal", "./d//sky.act"},
         {{"d/sky.pal", sample_palette}, {"d/sky.act", other}},
         0,
         "",
         {"./d//sky.act: warning: its listing ./d//sky.pal.c replaces the one made from d/sky.pal "
          "in this run"},
         {{"d/sky.pal.c", declaration + "\nr: 9, g: 9, b: 9\n"}}},
#ifdef _WIN32
        {"one listing by either separator",
         {"d/sky.pal", "d\\sky.act"},
         {{"d/sky.pal", sample_palette}, {"d/sky.act", other}},
         0,
         "",
         {"d\\sky.act: warning: its listing d\\sky.pal.c replaces the one made from d/sky.pal in "
          "this run"},
         {{"d/sky.pal.c", declaration + "\nr: 9, g: 9, b: 9\n"}}},
#else
        {"one listing by an absolute path, through the folder the run started in",
         {"d/sky.pal", "/proc/self/cwd/d/sky.act"},
         {{"d/sky.pal", sample_palette}, {"d/sky.act", other}},
         0,
         "",
         {"/proc/self/cwd/d/sky.act: warning: its listing /proc/self/cwd/d/sky.pal.c replaces the "
          "one made from d/sky.pal in this run"},
         {{"d/sky.pal.c", declaration + "\nr: 9, g: 9, b: 9\n"}}},
        {"a listing whose name differs from its palette's only in case, on a file system that "
         "tells them apart",
         {"SKY.PAL.C"},
         {{"SKY.PAL.C", sample_palette}, {"SKY.pal.c", old_listing}},
         0,
         "",
         {},
         {{"SKY.pal.c", sample_listing}}},
#endif
    };
    for (const auto& row : rows) {
        for (const auto& entry : fs::directory_iterator(".")) {
            fs::remove_all(entry.path());
        }
        for (const auto& [name, bytes] : row.before) {
            if (fs::path(name).has_parent_path()) {
                fs::create_directories(fs::path(name).parent_path());
            }
            if (name.back() != '/') {
                write_file(name, bytes);
            }
        }
        const auto run = huemill(row.args);
        EXPECT_EQ(run.status, row.status) << row.what;
        EXPECT_EQ(run.out, row.out) << row.what;
        std::string err;
        for (const std::string& line : row.err) {
            err += "huemill: " + line + text_line_end;
        }
        EXPECT_EQ(run.err, err) << row.what;
        Contents after = row.before;
        for (const auto& [name, bytes] : row.made) {
            after[name] = bytes;
        }
        Contents left;
        for (const std::string& name : files_left()) {
            if (!fs::is_directory(name)) {
                left[name] = read_file(name);
            } else if (row.before.count(name + "/") != 0) {
                left[name + "/"] = "";
            }
        }
        EXPECT_EQ(left, after) << row.what;
    }
#ifndef _WIN32
    // A link to the listing, given as the palette: the listing is the
    // palette, and would replace it.
    write_file("dawn.pal.c", sample_palette);
    fs::create_symlink("dawn.pal.c", "dawn.pal");
    const auto linked = huemill({"dawn.pal"});
    EXPECT_EQ(linked.status, 1);
    EXPECT_EQ(linked.err,
              "huemill: dawn.pal: its listing dawn.pal.c would replace it: not converted\n");
    EXPECT_EQ(read_file("dawn.pal.c"), sample_palette);
#endif
}

TEST_F(Cli, ConvertsEveryArgumentBesideItAndExits0) {
    fs::create_directories("art");
    write_file("a.pal", sample_palette);
    write_file("art/b.act", palette_bytes(0, {}));
    write_file("c", palette_bytes(1, {{1, 2, 3}}));
    const auto run = huemill({"a.pal", "art/b.act", "c"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(read_file("a.pal.c"), sample_listing);
    EXPECT_EQ(read_file("art/b.pal.c"), declaration + "\n");
    EXPECT_EQ(read_file("c.pal.c"), declaration + "\nr: 1, g: 2, b: 3\n");
    EXPECT_EQ(files_left(),
              (Files{"a.pal", "a.pal.c", "art", "art/b.act", "art/b.pal.c", "c", "c.pal.c"}));
}

TEST_F(Cli, ListingStaysInTheArgumentsFolder) {
    fs::create_directories("sub.d");
    fs::create_directories("deep/er");
    write_file("sub.d/sky.pal", sample_palette);
    write_file("deep/sky.pal", sample_palette);
    write_file(".hidden.pal", sample_palette);
    fs::current_path("deep/er");
    const auto run = huemill({"../../sub.d/sky.pal", "./../sky.pal", "../../.hidden.pal"});
    fs::current_path("../..");
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(read_file("sub.d/sky.pal.c"), sample_listing);
    EXPECT_EQ(read_file("deep/sky.pal.c"), sample_listing);
    EXPECT_EQ(read_file(".hidden.pal.c"), sample_listing);
    EXPECT_EQ(files_left(),
              (Files{".hidden.pal", ".hidden.pal.c", "deep", "deep/er", "deep/sky.pal",
                     "deep/sky.pal.c", "sub.d", "sub.d/sky.pal", "sub.d/sky.pal.c"}));
}

TEST_F(Cli, WildcardIsAFileNameNotAPattern) {
    write_file("a.pal", sample_palette);
    const auto missing = huemill({"*.pal"});
    EXPECT_EQ(missing.status, 1);
#ifdef _WIN32
    // '*' is not a name character there.
    EXPECT_EQ(missing.err, "huemill: *.pal: Not a valid file name" + text_line_end);
#else
    EXPECT_EQ(missing.err, failure_message("*.pal", ENOENT));
#endif
    EXPECT_EQ(files_left(), Files{"a.pal"});
#ifndef _WIN32  // '*' cannot be part of a Windows file name
    write_file("*.pal", sample_palette);
    EXPECT_EQ(huemill({"*.pal"}).status, 0);
    EXPECT_EQ(files_left(), (Files{"*.pal", "*.pal.c", "a.pal"}));
#endif
}

TEST_F(Cli, BackslashSeparatesFoldersOnlyWhereTheSystemSaysSo) {
    // On Windows "art.d\\sky.pal" is sky.pal in folder art.d, and its listing
    // goes beside it; elsewhere it is one file name, whose stem is "art".
#ifdef _WIN32
    fs::create_directory("art.d");
    const std::string listing_name = "art.d\\sky.pal.c";
    const Files left{"art.d", "art.d/sky.pal", "art.d/sky.pal.c"};
#else
    const std::string listing_name = "art.pal.c";
    const Files left{"art.d\\sky.pal", "art.pal.c"};
#endif
    write_file("art.d\\sky.pal", sample_palette);
    const auto run = huemill({"art.d\\sky.pal"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(read_file(listing_name), sample_listing);
    EXPECT_EQ(files_left(), left);
}

TEST_F(Cli, PaletteBytesAreBinaryAndListingLinesEndInLfOnly) {
    // 0x1A ends a text-mode read on Windows, and CR LF would become LF.
    const std::string bytes = palette_bytes(2, {{0x0A0D1A00U, 0x1A0D0A1AU, 0x0D0A}, {0x1A, 0, 0}});
    write_file("ctrl.pal", bytes + "\x1A\r\n");
    const auto run = huemill({"ctrl.pal"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(read_file("ctrl.pal.c"),
              declaration + "\nr: A0D1A00, g: 1A0D0A1A, b: D0A\nr: 1A, g: 0, b: 0\n");
}

TEST_F(Cli, ExistingListingIsReplacedWhole) {
    write_file("sky.pal", palette_bytes(0, {}));
    write_file("sky.pal.c", std::string(20000, 'z'));
    EXPECT_EQ(huemill({"sky.pal"}).status, 0);
    EXPECT_EQ(read_file("sky.pal.c"), declaration + "\n");
}

#ifdef _WIN32  // on Linux, Replace.AnyListingPathTheSystemTakesWorks
TEST_F(Cli, LongPathsHaveNoFixedLimit) {
    std::string folder;
    for (int i = 0; i < 40; ++i) {
        folder += "folder" + std::to_string(i) + "/";
    }
    fs::create_directories(folder);
    const std::string input = folder + "sky.pal";
    ASSERT_GT(input.size(), 300U);
    write_file(input, sample_palette);
    const auto run = huemill({input});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(read_file(folder + "sky.pal.c"), sample_listing);
}
#endif

#ifndef _WIN32
TEST_F(Cli, NameTheSystemRefusesIsReportedNotTruncated) {
    const std::string longest(249, 'n');  // 249 + ".pal.c" is 255, the limit
    write_file(longest + ".x", sample_palette);
    write_file(longest + "n.x", sample_palette);
    const auto run = huemill({longest + ".x", longest + "n.x"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, failure_message(longest + "n.pal.c", ENAMETOOLONG));
    EXPECT_EQ(read_file(longest + ".pal.c"), sample_listing);
    EXPECT_EQ(files_left().size(), 3U);
}

#endif

TEST_F(Cli, ManyFilesInOneRun) {
    // Half in a folder. With few descriptors allowed, a run that leaves one
    // open per file (an input's, a listing's or a folder's) fails long
    // before the last.
    fs::create_directory("sub");
    std::vector<std::string> args;
    for (int i = 0; i < 600; ++i) {
        args.push_back((i % 2 == 0 ? "p" : "sub/p") + std::to_string(i) + ".pal");
        write_file(args.back(), palette_bytes(1, {{static_cast<std::uint32_t>(i), 0, 0}}));
    }
    std::vector<std::string> few_descriptors;
#ifndef _WIN32
    if (!under_wrapper()) {
        few_descriptors = {"prlimit", "--nofile=16"};
    }
#endif
    const auto run = huemill(args, few_descriptors);
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(files_left().size(), 1201U);
    EXPECT_EQ(read_file("sub/p599.pal.c"), declaration + "\nr: 257, g: 0, b: 0\n");
}

}  // namespace
