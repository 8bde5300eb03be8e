// The names huemill hands Windows' wide calls: short paths as they are,
// long ones in the \\?\ form that has no 260-character limit.
#include <filesystem>

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
        // UTF-8 arrives as UTF-16.
        {"\xC3\xA9t\xC3\xA9.pal", L"\u00E9t\u00E9.pal"},
    };
    for (const auto& [path, expected] : cases) {
        EXPECT_EQ(system_path(path), expected) << path;
    }
}

TEST(WindowsDeviceName, OnlyTheSystemsDeviceNamesAreReserved) {
    for (const char* device : {"NUL", "nul.pal.c", "Con .pal.c", "aux", "PRN.x", "COM1.pal.c",
                               "lpt9.pal.c", "COM0", "COM\xC2\xB9.pal.c", "CONOUT$.pal.c"}) {
        EXPECT_TRUE(huemill::windows::is_reserved_device_name(device)) << device;
    }
    for (const char* file : {"NULL.pal.c", "nul_.pal.c", "xnul.pal.c", "COM10.pal.c", "COM.pal.c",
                             "LPTA.pal.c", ".nul", "CONIN.pal.c", "sky.pal.c"}) {
        EXPECT_FALSE(huemill::windows::is_reserved_device_name(file)) << file;
    }
}

}  // namespace
