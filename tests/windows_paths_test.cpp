// The names huemill hands Windows' wide calls: short paths as they are,
// long ones in the \\?\ form that has no 260-character limit.
#include <filesystem>

#include "message.hpp"
#include "support.hpp"
#include "windows/paths.hpp"

namespace {

using huemill::windows::system_path;
using WindowsPath = huemill_test::ScratchFolder;

TEST_F(WindowsPath, LongPathsTakeTheLiteralFormAbsoluteAndResolved) {
    const std::wstring here = std::filesystem::current_path().wstring();
    const std::string drive = {static_cast<char>(here[0]), ':'};  // here's drive, relative
    const std::string n(250, 'n');
    const std::wstring w(250, L'n');
    const std::string n254(254, 'n');
    const std::wstring w255(255, L'n');
    const std::pair<std::string, std::wstring> cases[] = {
        // Short enough: left to the system, which resolves it as always.
        {"sky.pal", L"sky.pal"},
        {"a/b\\..\\c.pal", L"a/b\\..\\c.pal"},
        {"C:\\a\\" + n254, L"C:\\a\\" + std::wstring(254, L'n')},  // 259 characters
        // Too long: made absolute, '/' turned into '\', '.' and '..' resolved.
        {"C:\\a\\" + n254 + "n", L"\\\\?\\C:\\a\\" + w255},  // 260 characters
        {n + "/" + n, L"\\\\?\\" + here + L"\\" + w + L"\\" + w},
        {"./" + n + "/../" + n + "/./x.pal", L"\\\\?\\" + here + L"\\" + w + L"\\x.pal"},
        {drive + n + "\\" + n, L"\\\\?\\" + here + L"\\" + w + L"\\" + w},
        {"C:/" + n + "\\" + n, L"\\\\?\\C:\\" + w + L"\\" + w},
        {"\\\\server\\share\\" + n + "/" + n, L"\\\\?\\UNC\\server\\share\\" + w + L"\\" + w},
        {"//server/share/" + n + "/" + n, L"\\\\?\\UNC\\server\\share\\" + w + L"\\" + w},
        // Already literal or a device: taken as it stands.
        {"\\\\?\\C:\\" + n + "/" + n + "/..", L"\\\\?\\C:\\" + w + L"/" + w + L"/.."},
        {"\\\\.\\pipe\\" + n + n, L"\\\\.\\pipe\\" + w + w},
        // A device path with other slashes is normalised, as any other.
        {"//?/C:/sky.pal", L"//?/C:/sky.pal"},
        {"//?/C:/" + n + "/../" + n + "/" + n, L"\\\\?\\C:\\" + w + L"\\" + w},
        {"//./C:/" + n + "/" + n, L"\\\\?\\C:\\" + w + L"\\" + w},
        // UTF-8 arrives as UTF-16.
        {"\xC3\xA9t\xC3\xA9.pal", L"\u00E9t\u00E9.pal"},
    };
    for (const auto& [path, expected] : cases) {
        EXPECT_EQ(system_path(path), expected) << path;
    }
}

TEST(WindowsDeviceName, OnlyTheSystemsDeviceNamesAreReserved) {
    for (const char* device :
         {"NUL", "nul.pal.c", "Con .pal.c", "aux", "PRN.x", "COM1.pal.c", "lpt9.pal.c", "COM0",
          "COM\xC2\xB9.pal.c", "CONOUT$.pal.c", "nul:", "nul:.pal", "NUL :x", "aux.pal"}) {
        EXPECT_TRUE(huemill::windows::is_reserved_device_name(device)) << device;
    }
    for (const char* file : {"NULL.pal.c", "nul_.pal.c", "xnul.pal.c", "COM10.pal.c", "COM.pal.c",
                             "LPTA.pal.c", ".nul", "CONIN.pal.c", "sky.pal.c", ":nul", "nulx:"}) {
        EXPECT_FALSE(huemill::windows::is_reserved_device_name(file)) << file;
    }
}

TEST(WindowsText, NamesGoToWtf8AndBackUnchangedAndPairsAreNeverSplit) {
    // The UTF-16 of names at the edges, its WTF-8 (a lone surrogate as its
    // own three bytes), and how it shows in a message.
    const struct {
        std::wstring wide;
        std::string wtf8;
        std::string shown;
    } cases[] = {
        {L"sky.pal", "sky.pal", "sky.pal"},
        {L"\u00E9t\u00E9", "\xC3\xA9t\xC3\xA9", "\xC3\xA9t\xC3\xA9"},
        {L"\xD83C\xDFA8.pal", "\xF0\x9F\x8E\xA8.pal", "\xF0\x9F\x8E\xA8.pal"},  // a pair
        {L"a\xD800.pal", "a\xED\xA0\x80.pal", "a<U+D800>.pal"},                 // lone high
        {L"a\xDFFF.pal", "a\xED\xBF\xBF.pal", "a<U+DFFF>.pal"},                 // lone low
        {L"\xDC00\xD83C", "\xED\xB0\x80\xED\xA0\xBC", "<U+DC00><U+D83C>"},      // at the ends
        {L"\xD83C\xD83C\xDFA8", "\xED\xA0\xBC\xF0\x9F\x8E\xA8", "<U+D83C>\xF0\x9F\x8E\xA8"},
    };
    for (const auto& row : cases) {
        EXPECT_EQ(huemill::windows::utf8(row.wide), row.wtf8) << row.shown;
        EXPECT_EQ(huemill::windows::utf16(row.wtf8), row.wide) << row.shown;
        std::string line;
        huemill::append_printable(line, row.wtf8);
        EXPECT_EQ(line, row.shown);
    }
    // Bytes that are neither UTF-8 nor a surrogate are replaced.
    EXPECT_EQ(huemill::windows::utf16("a\xFF\xC0\xAF"), L"a\xFFFD\xFFFD\xFFFD");

    // A console takes text in pieces; a piece never ends inside a pair.
    const std::wstring pair_at_8192 = std::wstring(8191, L'x') + L"\xD83C\xDFA8";
    EXPECT_EQ(huemill::windows::whole_characters(pair_at_8192, 8192), 8191U);
    EXPECT_EQ(huemill::windows::whole_characters(pair_at_8192, 8193), 8193U);
    EXPECT_EQ(huemill::windows::whole_characters(std::wstring(8191, L'x') + L"\xD800x", 8192),
              8192U);  // a lone high surrogate goes as it is
    EXPECT_EQ(huemill::windows::whole_characters(L"ab", 8192), 2U);
}

}  // namespace
