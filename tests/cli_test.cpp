// huemill run as a program, in a fresh folder: exit status, standard output,
// standard error, and every file it leaves behind.
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <map>

#include "support.hpp"

namespace {

namespace fs = std::filesystem;
using namespace huemill_test;

// lines, each ending in a line end as standard output, a text stream,
// writes it: on Windows CR LF.
std::string lines(std::initializer_list<std::string> lines) {
    std::string text;
    for (const std::string& line : lines) {
        text += line + text_line_end;
    }
    return text;
}

const std::string usage = lines({"", "Usage:  huemill file1.pal [file2.pal, file3.pal ...]"});

// What a row expects of --help: its first line says what huemill does, and
// it names every option (checked so, not byte for byte).
const std::string help = "(the help)";

bool is_help(const std::string& out) {
    if (out.rfind("huemill turns palette files into listings", 0) != 0) {
        return false;
    }
    for (const char* option : {"--format=", "--output-dir=", "-o,", "--strict", "--keep-going",
                               "-k,", "--help", "-h,", "--version"}) {
        if (out.find(option) == std::string::npos) {
            return false;
        }
    }
    return true;
}

// The sample palette as a C table named name, of values of type (a
// <stdint.h> one included), made from the palette file file.
std::string sample_table(const std::string& file, const std::string& name = "palette_a",
                         const std::string& type = "unsigned long") {
    return "/* Made by huemill from " + file + ". */\n" +
           (type == "unsigned long" ? "" : "#include <stdint.h>\n") +
           "static const struct {\n"
           "    int count;\n"
           "    " +
           type +
           " colors[2][3];\n"
           "} " +
           name +
           " = {2, {\n"
           "    {0x1F, 0x0, 0xAB},\n"
           "    {0xFFFFFFFF, 0x10, 0x0}\n"
           "}};\n";
}

// The sample palette as a table shared by many source files (--extern).
const std::string shared_table =
    "/* Made by huemill from a. */\n"
    "#ifndef HUEMILL_PALETTE\n#define HUEMILL_PALETTE\n"
    "struct huemill_palette {\n    int count;\n    const unsigned long (*colors)[3];\n};\n"
    "#endif\n"
    "#ifdef __cplusplus\nextern \"C\" {\n#endif\n"
    "extern const struct huemill_palette palette_a;\n"
    "#ifdef HUEMILL_DEFINE_TABLES\n"
    "static const unsigned long huemill_colors_palette_a[2][3] = {\n"
    "    {0x1F, 0x0, 0xAB},\n    {0xFFFFFFFF, 0x10, 0x0}\n};\n"
    "const struct huemill_palette palette_a = {2, huemill_colors_palette_a};\n"
    "#endif\n#ifdef __cplusplus\n}\n#endif\n";

using Cli = ScratchFolder;

TEST_F(Cli, EveryCommandLineGetsItsAnswer) {
    const std::string other = palette_bytes(1, {{9, 9, 9}});
    const std::string enoent = std::strerror(ENOENT);
    const std::string refused = ": its listing would replace it: not converted";
    const std::string made_twice = ": warning: its listing sky.pal.c replaces the one made from ";
    const std::string nine = palette_bytes(9, std::vector<Rgb>(9, {9, 9, 9}));
    const std::string other_listing = declaration + "\nr: 9, g: 9, b: 9\n";
    const std::string one_short = sample_palette.substr(0, 30);
    const std::string strict_short =
        "s: holds 0 of the 2 records its header lists and 7 bytes of the next: not converted";
    const std::string unknown = ": unknown option (a file whose name starts with '-' is named ./";
    const std::string two = palette_bytes(2, {{1, 2, 3}, {4, 5, 6}});
    const std::string up_to_last_value = two.substr(0, 23 + 16 + 12);
    std::string one_listed = two.substr(0, 23);
    one_listed[22] = 1;
    // 0x1A ends a text-mode read on Windows, and CR LF would become LF.
    const std::string control =
        palette_bytes(2, {{0x0A0D1A00U, 0x1A0D0A1AU, 0x0D0A}, {0x1A, 0, 0}}) + "\x1A\r\n";
    const std::string whole = "the rest are listed as zero";
    const std::string short_header =
        "bytes, shorter than a palette's 23-byte header: listed with no "
        "records";
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
        // clang-format off
        {"no file", {}, {}, 2, usage, {}, {}},
        {"every argument, a listing beside it", {"a.pal", "art/b.act", "c"},
         {{"a.pal", sample_palette}, {"art/b.act", palette_bytes(0, {})},
          {"c", palette_bytes(1, {{1, 2, 3}})}}, 0, "", {},
         {{"a.pal.c", sample_listing}, {"art/b.pal.c", declaration + "\n"},
          {"c.pal.c", declaration + "\nr: 1, g: 2, b: 3\n"}}},
        {"bytes a text-mode read would change; listing lines end in LF alone", {"ctrl.pal"},
         {{"ctrl.pal", control}}, 0, "", {},
         {{"ctrl.pal.c", declaration + "\nr: A0D1A00, g: 1A0D0A1A, b: D0A\nr: 1A, g: 0, b: 0\n"}}},
        {"a long old listing, replaced whole", {"sky.pal"},
         {{"sky.pal", palette_bytes(0, {})}, {"sky.pal.c", std::string(20000, 'z')}}, 0, "", {},
         {{"sky.pal.c", declaration + "\n"}}},
        {"an empty file", {"x.pal"}, {{"x.pal", ""}}, 0, "",
         {"x.pal: warning: only 0 " + short_header}, {{"x.pal.c", declaration + "\n"}}},
        {"a file short of its header", {"x.pal"}, {{"x.pal", two.substr(0, 22)}}, 0, "",
         {"x.pal: warning: only 22 " + short_header}, {{"x.pal.c", declaration + "\n"}}},
        {"a header listing nothing", {"x.pal"}, {{"x.pal", palette_bytes(0, {})}}, 0, "", {},
         {{"x.pal.c", declaration + "\n"}}},
        {"a header alone", {"x.pal"}, {{"x.pal", one_listed}}, 0, "",
         {"x.pal: warning: holds 0 of the 1 record its header lists; " + whole},
         {{"x.pal.c", expected_listing(one_listed)}}},
        {"a palette up to its last value", {"x.pal"}, {{"x.pal", up_to_last_value}}, 0, "", {},
         {{"x.pal.c", expected_listing(up_to_last_value)}}},
        {"a palette one byte short of its last value", {"x.pal"},
         {{"x.pal", up_to_last_value.substr(0, 50)}}, 0, "",
         {"x.pal: warning: holds 1 of the 2 records its header lists and 11 bytes of the next; what "
          "it lacks is listed as zero"},
         {{"x.pal.c", expected_listing(up_to_last_value.substr(0, 50))}}},
        {"a whole palette", {"x.pal"}, {{"x.pal", two}}, 0, "", {},
         {{"x.pal.c", expected_listing(two)}}},
        {"a listing as a palette", {"x.pal"}, {{"x.pal", expected_listing(two)}}, 0, "",
         {"x.pal: warning: it is itself a listing, read as a palette"},
         {{"x.pal.c", expected_listing(expected_listing(two))}}},
        {"options but no file", {"--strict", "-k"}, {}, 2, usage, {}, {}},
        {"--help before a file", {"--help", "a"}, {{"a", sample_palette}}, 0, help},
        {"-h", {"-h"}, {}, 0, help},
        {"-kh: short options together", {"-kh"}, {}, 0, help},
        {"options anywhere: --help after a file", {"a", "--help"}, {{"a", sample_palette}}, 0,
         help},
        {"options anywhere: --format=c among the files, -o last",
         {"a", "--format=c", "d/a", "-o", "out"},
         {{"a", sample_palette}, {"d/a", sample_palette}, {"out/", ""}}, 0, "",
         {"d/a: warning: its listing out/a.pal.c replaces the one made from a in this run"},
         {{"out/a.pal.c", sample_table("a")}}},
        {"--type=u32, --name, --extern", {"--format=c", "--type=u32", "--name=sky_1", "a"},
         {{"a", sample_palette}}, 0, "", {}, {{"a.pal.c", sample_table("a", "sky_1", "uint32_t")}}},
        {"--extern", {"--format=c", "--extern", "a"}, {{"a", sample_palette}}, 0, "", {},
         {{"a.pal.c", shared_table}}},
        {"--type=u8: its largest value", {"--format=c", "--type=u8", "m"},
         {{"m", palette_bytes(1, {{0xFF, 0, 0x7F}})}}, 0, "", {},
         {{"m.pal.c", "/* Made by huemill from m. */\n#include <stdint.h>\nstatic const struct {\n"
                      "    int count;\n    uint8_t colors[1][3];\n} palette_m = {1, {\n"
                      "    {0xFF, 0x0, 0x7F}\n}};\n"}}},
        {"--type=u16: its largest value", {"m", "--type=u16", "--format=c"},
         {{"m", palette_bytes(1, {{0xFFFF, 0xFF, 0}})}}, 0, "", {},
         {{"m.pal.c", "/* Made by huemill from m. */\n#include <stdint.h>\nstatic const struct {\n"
                      "    int count;\n    uint16_t colors[1][3];\n} palette_m = {1, {\n"
                      "    {0xFFFF, 0xFF, 0x0}\n}};\n"}}},
        {"--type=u8: one past", {"--format=c", "--type=u8", "-k", "x", "a"},
         {{"x", palette_bytes(2, {{1, 2, 3}, {4, 0x100, 6}})}, {"x.pal.c", old_listing},
          {"a", sample_palette}},
         1, "", {"x: record 1 has green 0x100, more than a u8 holds: not converted",
                 "a: record 1 has red 0xFFFFFFFF, more than a u8 holds: not converted"}},
        {"--type=u16: one past", {"--format=c", "--type=u16", "x"},
         {{"x", palette_bytes(1, {{0, 0, 0x10000}})}}, 1, "",
         {"x: record 0 has blue 0x10000, more than a u16 holds: not converted"}},
        {"--type=x", {"--format=c", "--type=x", "a"}, {{"a", sample_palette}}, 2, "",
         {"--type=x: unknown type (u8, u16 or u32)"}},
        {"--type without --format=c", {"--type=u8", "a"}, {{"a", sample_palette}}, 2, "",
         {"--type=u8: an option of a C table: give --format=c too"}},
        {"--name for two files", {"--format=c", "--name=sky", "a", "b"}, {{"a", sample_palette}},
         2, "", {"--name=sky: names one table, and 2 files are named"}},
        {"--name that is no name, or is kept", {"--format=c", "--name=1up", "a"}, {}, 2, "",
         {"--name=1up: not a name C and C++ take: a letter, then letters, digits and '_'"}},
        {"... a keyword", {"--format=c", "--name", "class", "a"}, {}, 2, "",
         {"--name class: a keyword of C or C++"}},
        {"... '_' first or \"__\"", {"--format=c", "--name=a__b", "a"}, {}, 2, "",
         {"--name=a__b: C and C++ keep names with '_' first, or \"__\", for themselves"}},
        {"--version", {"--version"}, {}, 0, "huemill " HUEMILL_VERSION + text_line_end},
        {"--format=c", {"--format=c", "a"}, {{"a", sample_palette}}, 0, "", {},
         {{"a.pal.c", sample_table("a")}}},
        {"--format c, then --format=listing", {"--format", "c", "--format=listing", "a"},
         {{"a", sample_palette}}, 0, "", {}, {{"a.pal.c", sample_listing}}},
        {"-o DIR: each palette read in its folder, every listing into DIR",
         {"-o", "out", "a", "d/b.pal"},
         {{"a", sample_palette}, {"d/b.pal", sample_palette}, {"out/", ""}}, 0, "", {},
         {{"out/a.pal.c", sample_listing}, {"out/b.pal.c", sample_listing}}},
        {"-oDIR, --output-dir=DIR, --output-dir DIR/, and -k -- with a file named -k",
         {"-oout", "--output-dir=x", "--output-dir", "out/", "-k", "--", "-k"},
         {{"-k", sample_palette}, {"out/", ""}}, 0, "", {}, {{"out/-k.pal.c", sample_listing}}},
        {"-o: one listing from palettes of two folders", {"-o", "out", "a", "d/a"},
         {{"a", sample_palette}, {"d/a", other}, {"out/", ""}}, 0, "",
         {"d/a: warning: its listing out/a.pal.c replaces the one made from a in this run"},
         {{"out/a.pal.c", other_listing}}},
        {"-o into the palette's folder: its own listing is still refused", {"-o", ".", "sky.pal.c"},
         {{"sky.pal.c", sample_palette}}, 1, "",
         {"sky.pal.c: its listing ./sky.pal.c would replace it: not converted"}},
        {"-- ends the options: a file named -o", {"--", "-o"}, {{"-o", sample_palette}}, 0, "", {},
         {{"-o.pal.c", sample_listing}}},
        {"-k over a failure in the middle", {"-k", "a", "missing", "c"},
         {{"a", sample_palette}, {"c", sample_palette}}, 1, "", {"missing: " + enoent},
         {{"a.pal.c", sample_listing}, {"c.pal.c", sample_listing}}},
        {"--strict over a palette short of its records", {"--strict", "s", "a"},
         {{"s", one_short}, {"s.pal.c", old_listing}, {"a", sample_palette}}, 1, "",
         {strict_short}},
        {"--strict -k over each warning, and the rest converted",
         {"--strict", "-k", "s", "t", "u", "v", "sky.pal", "sky.act"},
         {{"s", one_short}, {"t", "tiny"}, {"u", sample_listing}, {"v", sample_palette},
          {"sky.pal", sample_palette}, {"sky.act", other}},
         1, "",
         {strict_short, "t: only 4 bytes, shorter than a palette's 23-byte header: not converted",
          "u: it is itself a listing: not converted",
          "sky.act: its listing sky.pal.c would replace the one made from sky.pal in this run: "
          "not converted"},
         {{"v.pal.c", sample_listing}, {"sky.pal.c", sample_listing}}},
        {"--format=c: two stems, one table name", {"--format=c", "a", "a+"},
         {{"a", sample_palette}, {"a+", sample_palette}}, 0, "",
         {"a+: warning: its table palette_a has the name of the one made from a in this run"},
         {{"a.pal.c", sample_table("a")}, {"a+.pal.c", sample_table("a+")}}},
        {"--format=c --strict: two stems, one table name", {"--format=c", "--strict", "a", "a+"},
         {{"a", sample_palette}, {"a+", sample_palette}}, 1, "",
         {"a+: its table palette_a would have the name of the one made from a in this run: "
          "not converted"},
         {{"a.pal.c", sample_table("a")}}},
        {"--format=c: no table name taken by a file --strict fails",
         {"--format=c", "--strict", "-k", "a+", "a"}, {{"a+", one_short}, {"a", sample_palette}},
         1, "", {"a+: holds 0 of the 2 records its header lists and 7 bytes of the next: not converted"},
         {{"a.pal.c", sample_table("a")}}},
        {"--format=c: no table name taken by a listing that cannot be made",
         {"--format=c", "-k", "d/a", "a"},
         {{"d/a", sample_palette}, {"d/a.pal.c/", ""}, {"a", sample_palette}}, 1, "",
         {"d/a.pal.c: " + std::string(std::strerror(EISDIR))}, {{"a.pal.c", sample_table("a")}}},
        {"an unknown option: nothing read", {"-x", "a"}, {{"a", sample_palette}}, 2, "",
         {"-x" + unknown + "-x, or after --)"}},
        {"an unknown long option", {"--frob=1", "a"}, {{"a", sample_palette}}, 2, "",
         {"--frob=1: unknown option --frob (a file whose name starts with '-' is named "
          "./--frob=1, or after --)"}},
        {"an unknown one among short ones", {"-kx", "a"}, {{"a", sample_palette}}, 2, "",
         {"-kx: unknown option -x (a file whose name starts with '-' is named ./-kx, "
          "or after --)"}},
        {"-o without its folder", {"-o"}, {}, 2, "", {"-o: needs a folder"}},
        {"--format without its value", {"--format"}, {}, 2, "",
         {"--format: needs a format, listing or c"}},
        {"--format=x", {"--format=x", "a"}, {{"a", sample_palette}}, 2, "",
         {"--format=x: unknown format (listing or c)"}},
        {"--strict=yes", {"--strict=yes", "a"}, {{"a", sample_palette}}, 2, "",
         {"--strict=yes: --strict takes no value"}},
        {"-o to a folder that is missing: nothing read", {"-o", "out", "a"},
         {{"a", sample_palette}}, 2, "", {"cannot use 'out' as the output folder: " + enoent}},
        {"-o to a file", {"-o", "a", "a"}, {{"a", sample_palette}}, 2, "",
         {"cannot use 'a' as the output folder: " + std::string(std::strerror(ENOTDIR))}},
        {"-o to no name", {"-o", "", "a"}, {{"a", sample_palette}}, 2, "",
         {"cannot use '' as the output folder: " + enoent}},
        {"./--help", {"./--help"}, {{"--help", sample_palette}}, 0, "", {},
         {{"--help.pal.c", sample_listing}}},
        {"-", {"-"}, {{"-", sample_palette}}, 0, "", {}, {{"-.pal.c", sample_listing}}},
        {"its own listing", {"sky.pal.c"}, {{"sky.pal.c", sample_palette}}, 1, "",
         {"sky.pal.c" + refused}},
        {"the same, named otherwise, after a palette", {"a", "./sky.pal.c", "c"},
         {{"a", sample_palette}, {"sky.pal.c", sample_palette}, {"c", sample_palette}}, 1, "",
         {"./sky.pal.c" + refused}, {{"a.pal.c", sample_listing}}},
        {"three inputs with one listing name: the last one's stays",
         {"sky.pal", "sky.old.pal", "sky.act"},
         {{"sky.pal", sample_palette}, {"sky.old.pal", sample_palette}, {"sky.act", other}}, 0, "",
         {"sky.old.pal" + made_twice + "sky.pal in this run",
          "sky.act" + made_twice + "sky.old.pal in this run"},
         {{"sky.pal.c", declaration + "\nr: 9, g: 9, b: 9\n"}}},
        {"*.pal: a name, not a pattern", {"*.pal"}, {{"a.pal", sample_palette}}, 1, "",
    #ifdef _WIN32  // '*' is not a name character there
         {"*.pal: Not a valid file name"}},
    #else
         {"*.pal: " + enoent}},
        {"a file named *.pal", {"*.pal"}, {{"*.pal", sample_palette}}, 0, "", {},
         {{"*.pal.c", sample_listing}}},
    #endif
        {"a missing input: the run ends there", {"a.pal", "missing.pal", "c.pal"},
         {{"a.pal", sample_palette}, {"c.pal", sample_palette}}, 1, "", {"missing.pal: " + enoent},
         {{"a.pal.c", sample_listing}}},
        {"an input in a folder that does not exist, named as given", {"a.pal", "nowhere/sky.pal"},
         {{"a.pal", sample_palette}}, 1, "", {"nowhere/sky.pal: " + enoent},
         {{"a.pal.c", sample_listing}}},
        {"a folder as input: the run ends there", {"a.pal", "folder.pal", "a.pal"},
         {{"a.pal", sample_palette}, {"folder.pal/", ""}}, 1, "",
         {"folder.pal: " + std::string(std::strerror(EISDIR))}, {{"a.pal.c", sample_listing}}},
        {"a folder at a listing's name: the run ends there", {"a.pal", "b.pal", "a.pal"},
         {{"a.pal", sample_palette}, {"b.pal", sample_palette}, {"b.pal.c/", ""}}, 1, "",
         {"b.pal.c: " + std::string(std::strerror(EISDIR))}, {{"a.pal.c", sample_listing}}},
        {"a listing that would replace a palette given later", {"sky.act", "sky.pal.c"},
         {{"sky.act", sample_palette}, {"sky.pal.c", nine}}, 1, "",
         {"sky.act: its listing sky.pal.c would replace sky.pal.c, given later as a palette: "
          "not converted"}},
        {"one listing by two paths to its folder", {"d/sky.pal", "./d//sky.act"},
         {{"d/sky.pal", sample_palette}, {"d/sky.act", other}}, 0, "",
         {"./d//sky.act: warning: its listing ./d//sky.pal.c replaces the one made from "
          "d/sky.pal in this run"},
         {{"d/sky.pal.c", declaration + "\nr: 9, g: 9, b: 9\n"}}},
        #ifdef _WIN32
        {"a backslash separates folders", {"art.d\\sky.pal"}, {{"art.d/sky.pal", sample_palette}},
         0, "", {}, {{"art.d/sky.pal.c", sample_listing}}},
        {"a later palette named in other case", {"sky.act", "SKY.pal.c"},
         {{"sky.act", sample_palette}, {"sky.pal.c", nine}}, 1, "",
         {"sky.act: its listing sky.pal.c would replace SKY.pal.c, given later as a palette: "
          "not converted"}},
        {"... with a trailing dot", {"sky.act", "sky.pal.c."},
         {{"sky.act", sample_palette}, {"sky.pal.c", nine}}, 1, "",
         {"sky.act: its listing sky.pal.c would replace sky.pal.c., given later as a palette: "
          "not converted"}},
        {"... with trailing dots and spaces", {"sky.act", "sky.pal.c. ."},
         {{"sky.act", sample_palette}, {"sky.pal.c", nine}}, 1, "",
         {"sky.act: its listing sky.pal.c would replace sky.pal.c. ., given later as a palette: "
          "not converted"}},
        {"one listing by either separator", {"d/sky.pal", "d\\sky.act"},
         {{"d/sky.pal", sample_palette}, {"d/sky.act", other}}, 0, "",
         {"d\\sky.act: warning: its listing d\\sky.pal.c replaces the one made from d/sky.pal "
          "in this run"},
         {{"d/sky.pal.c", declaration + "\nr: 9, g: 9, b: 9\n"}}},
        #else
        {"a backslash is part of a name", {"art.d\\sky.pal"}, {{"art.d\\sky.pal", sample_palette}},
         0, "", {}, {{"art.pal.c", sample_listing}}},
        {"one listing by an absolute path, through the folder the run started in",
         {"d/sky.pal", "/proc/self/cwd/d/sky.act"},
         {{"d/sky.pal", sample_palette}, {"d/sky.act", other}}, 0, "",
         {"/proc/self/cwd/d/sky.act: warning: its listing /proc/self/cwd/d/sky.pal.c replaces "
          "the one made from d/sky.pal in this run"},
         {{"d/sky.pal.c", declaration + "\nr: 9, g: 9, b: 9\n"}}},
        {"a listing whose name differs from its palette's only in case, on a file system that "
         "tells them apart",
         {"SKY.PAL.C"}, {{"SKY.PAL.C", sample_palette}, {"SKY.pal.c", old_listing}}, 0, "", {},
         {{"SKY.pal.c", sample_listing}}},
        #endif
        // clang-format on
    };
    for (const auto& row : rows) {
        lay_out(row.before);
        const auto run = huemill(row.args);
        EXPECT_EQ(run.status, row.status) << row.what;
        if (row.out == help) {
            EXPECT_TRUE(is_help(run.out)) << row.what << ": " << run.out;
        } else {
            EXPECT_EQ(run.out, row.out) << row.what;
        }
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
    // A link to the listing, given as the palette, now or later (among
    // enough others that their folder is read once): the listing is the
    // palette, and would replace it.
    write_file("dawn.pal.c", sample_palette);
    fs::create_symlink("dawn.pal.c", "dawn.pal");
    write_file("dawn.act", sample_palette);
    for (const auto& args :
         {std::vector<std::string>{"dawn.pal"}, {"dawn.act", "a", "b", "dawn.pal"}}) {
        const auto linked = huemill(args);
        EXPECT_EQ(linked.status, 1);
        EXPECT_EQ(linked.err, "huemill: " + args[0] + ": its listing dawn.pal.c would replace " +
                                  (args.size() == 1 ? "it" : "dawn.pal, given later as a palette") +
                                  ": not converted\n");
        EXPECT_EQ(read_file("dawn.pal.c"), sample_palette);
    }
#endif
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

#ifndef _WIN32
TEST_F(Cli, CTablesCompileAsCAndCppAndHoldEveryValue) {
    // Counts 0, 1, 16 and 255, values 0 and 0xFFFFFFFF among others, stems
    // that are no identifiers; each listing included as the manual says:
    // static tables into one source file, and --extern tables into two,
    // which share one copy, and one function takes every table.
    const struct {
        std::string stem, table;
        unsigned count;
    } palettes[] = {{"1up", "palette_1up", 0},
                    {"int", "palette_int", 1},
                    {"class", "palette_class", 16},
                    {"a\xC3\xA7\xC3\xA3o", "palette_a_o", 255},
                    {"a-b c", "palette_a_b_c", 2}};
    std::string includes, calls, shared_calls, expected;
    std::vector<std::string> args = {"--format=c"};
    for (const auto& palette : palettes) {
        std::vector<Rgb> records;
        for (std::uint32_t k = 0; k < std::max(palette.count, 1U); ++k) {
            records.push_back({k * 0x01010101U, 0xFFFFFFFFU - k, k % 2 == 0 ? 0 : 0x80000000U});
        }
        write_file(fs::u8path(palette.stem + ".pal"), palette_bytes(palette.count, records));
        args.push_back(palette.stem + ".pal");
        includes += "#include \"" + palette.stem + ".pal.c\"\n";
        calls += "    show(\"" + palette.table + "\", " + palette.table + ".count, " +
                 palette.table + ".colors);\n";
        shared_calls += "    show_both(\"" + palette.table + "\", &" + palette.table + ", &" +
                        palette.table + ");\n";
        for (std::uint32_t k = 0; k < palette.count; ++k) {
            char line[80];
            std::snprintf(line, sizeof line, "%s %X %X %X\n", palette.table.c_str(), records[k][0],
                          records[k][1], records[k][2]);
            expected += line;
        }
    }
    const std::string show =
        "void show(const char *name, int count, const unsigned long (*colors)[3]) {\n"
        "    int i;\n"
        "    for (i = 0; i < count; ++i) {\n"
        "        printf(\"%s %lX %lX %lX\\n\", name, colors[i][0], colors[i][1], colors[i][2]);\n"
        "    }\n"
        "}\n";
    const auto made = huemill(args);
    ASSERT_EQ(made.status, 0) << made.err;
    fs::create_directory("shared");
    args.insert(args.end(), {"--extern", "-o", "shared"});
    const auto made_shared = huemill(args);
    ASSERT_EQ(made_shared.status, 0) << made_shared.err;
    write_file("show.c", "#include <stdio.h>\n" + includes + "static " + show +
                             "int main(void) {\n" + calls + "    return 0;\n}\n");
    // Where the tables are defined, a function of any two of them, and one
    // that only reads them.
    write_file("shared/main.c", "#include <stdio.h>\n#define HUEMILL_DEFINE_TABLES\n" + includes +
                                    "void show_both(const char *name, const struct huemill_palette "
                                    "*a, const struct huemill_palette *b);\n"
                                    "int main(void) {\n" +
                                    shared_calls + "    return 0;\n}\n");
    write_file("shared/both.c",
               "#include <stdio.h>\n" + includes + show +
                   "void show_both(const char *name, const struct huemill_palette *a, const struct "
                   "huemill_palette *b) {\n"
                   "    if (a == b) show(name, a->count, a->colors);\n}\n");
    // The oldest standard each compiler takes, and the newest by the name
    // every compiler since 2021 knows.
    int compiled = 0;
    for (const std::string compiler : {"gcc", "clang", "g++", "clang++"}) {
        if (!installed(compiler)) {
            continue;
        }
        const bool cpp = compiler.back() == '+';
        for (const std::string standard : {cpp ? "c++98" : "c89", cpp ? "c++2b" : "c2x"}) {
            const std::string how = compiler + (cpp ? " -x c++" : " -x c") + " -std=" + standard +
                                    " -Wall -Wextra -pedantic -Werror -Wno-missing-declarations";
            for (const std::string sources : {"show.c", "shared/main.c shared/both.c"}) {
                ASSERT_TRUE(shell(how + " -o show " + sources)) << how << " " << sources;
                ASSERT_TRUE(shell("./show > shown")) << how;
                EXPECT_EQ(read_file("shown"), expected) << how << " " << sources;
            }
            // One copy of each table: its records are in one object alone.
            EXPECT_TRUE(
                shell("test \"$(nm -C show | grep -c ' huemill_colors_palette_class$')\" = 1"))
                << how;
            ++compiled;
        }
    }
    EXPECT_GE(compiled, 4);  // gcc and g++ at the least
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
