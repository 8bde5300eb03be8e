// huemill at home on Windows, as far as wine can show it: names Windows
// keeps for devices, a listing another program holds open, and a run
// killed while its temporary file exists.
#include <windows.h>

#include <thread>
#include <vector>

#include "support.hpp"

namespace {

namespace fs = std::filesystem;
using namespace huemill_test;
using Windows = ScratchFolder;

TEST_F(Windows, DeviceNamesAreRefusedBeforeAnythingIsOpened) {
    fs::create_directory("sub");
    write_file("NULL.pal", sample_palette);  // a near miss: an ordinary name
    write_file("com10.pal", sample_palette);
    // Opened, AUX or COM1 may hang on a serial port and CON reads the
    // console; a drive, a colon or spaces do not make NUL another name.
    for (const std::string device : {"NUL", "nul.pal", "sub/Nul .x", "aux.pal", "com1.pal",
                                     "CON.pal", "Z:nul", "Z:nul.pal", "nul:", "nul:.pal"}) {
        const auto run = huemill({"NULL.pal", device, "com10.pal"});
        EXPECT_EQ(run.status, 1) << device;
        EXPECT_EQ(run.err, "huemill: " + device + ": Windows reserves this name for a device" +
                               text_line_end);
        EXPECT_EQ(files_left(), (Files{"NULL.pal", "NULL.pal.c", "com10.pal", "sub"})) << device;
    }
    EXPECT_EQ(huemill({"com10.pal"}).status, 0);
    EXPECT_EQ(read_file("com10.pal.c"), sample_listing);
}

// Opens path the way another program might, letting others share it as
// share says: an editor without letting anyone delete or rename it, an
// indexer or a virus scanner letting them.
HANDLE hold(const char* path, DWORD share) {
    return CreateFileA(path, GENERIC_READ, share, nullptr, OPEN_EXISTING, 0, nullptr);
}

TEST_F(Windows, ListingHeldByAnotherProgramIsWaitedForAWhile) {
    write_file("a.pal", sample_palette);
    const DWORD without_delete = FILE_SHARE_READ | FILE_SHARE_WRITE;
    const DWORD with_delete = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    for (const DWORD share : {without_delete, with_delete}) {
        const std::string how = share == with_delete ? "shared for delete" : "not for delete";
        // Held for a moment: huemill waits and succeeds.
        write_file("a.pal.c", old_listing);
        HANDLE held = hold("a.pal.c", share);
        ASSERT_NE(held, INVALID_HANDLE_VALUE) << how;
        std::thread release([held] {
            Sleep(700);
            CloseHandle(held);
        });
        const auto waited = huemill({"a.pal"});
        release.join();
        EXPECT_EQ(waited.status, 0) << how << ": " << waited.err;
        EXPECT_EQ(read_file("a.pal.c"), sample_listing) << how;

        // Held for good: huemill gives up, says why, and loses nothing.
        write_file("a.pal.c", old_listing);
        held = hold("a.pal.c", share);
        const auto gave_up = huemill({"a.pal"});
        CloseHandle(held);
        EXPECT_EQ(gave_up.status, 1) << how;
        EXPECT_EQ(gave_up.err, "huemill: a.pal.c: In use by another program" + text_line_end)
            << how;
        EXPECT_EQ(read_file("a.pal.c"), old_listing) << how;
        EXPECT_EQ(files_left(), (Files{"a.pal", "a.pal.c"})) << how;
    }

    HANDLE held = hold("a.pal.c", without_delete);
    // Killed while it waits, its temporary file there: Windows removes it.
    HANDLE process = start_huemill({"a.pal"});
    ASSERT_NE(process, nullptr);
    bool temporary_seen = false;
    for (int wait = 0; wait < 100 && !temporary_seen; ++wait) {
        Sleep(10);
        temporary_seen = files_left().size() == 3;
    }
    // Well into its wait, where it pauses 100 ms between attempts and its
    // file is marked but for the instant of each attempt; still short of
    // the second after which it gives up.
    Sleep(400);
    DWORD still = 0;
    GetExitCodeProcess(process, &still);
    EXPECT_EQ(still, STILL_ACTIVE) << "it gave up before it could be killed";
    TerminateProcess(process, 9);
    WaitForSingleObject(process, INFINITE);
    CloseHandle(process);
    CloseHandle(held);
    EXPECT_TRUE(temporary_seen);
    EXPECT_EQ(read_file("a.pal.c"), old_listing);
    EXPECT_EQ(files_left(), (Files{"a.pal", "a.pal.c"}));
}

TEST_F(Windows, OutputFolderIsHeldForTheRun) {
    // Another program's rename of the output folder is refused while the
    // run goes on: every listing lands in it, under its name.
    fs::create_directory("out");
    std::vector<std::string> args = {"-o", "out"};
    for (int i = 0; i < 300; ++i) {
        args.push_back("p" + std::to_string(i) + ".pal");
        write_file(args.back(), sample_palette);
    }
    HANDLE process = start_huemill(args);
    ASSERT_NE(process, nullptr);
    // Tried from the first listing on; it may pass once the run lets go
    // of the folder, with every listing made.
    int refused = 0;
    bool moved = false;
    while (!moved && WaitForSingleObject(process, 0) == WAIT_TIMEOUT) {
        if (fs::exists("out/p0.pal.c")) {
            moved = MoveFileW(L"out", L"moved") != 0;
            refused += moved ? 0 : 1;
        }
        Sleep(1);
    }
    WaitForSingleObject(process, INFINITE);
    DWORD status = 1;
    GetExitCodeProcess(process, &status);
    CloseHandle(process);
    EXPECT_GT(refused, 0) << "the run ended before a rename was tried";
    EXPECT_EQ(status, 0U);
    EXPECT_EQ(read_file(moved ? "moved/p299.pal.c" : "out/p299.pal.c"), sample_listing);
}

}  // namespace
