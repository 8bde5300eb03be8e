// huemill's hooks on Windows for the process and its console (see
// platform.hpp): UTF-16 arguments, Ctrl-C and its kin held back while a
// listing is being replaced, and messages a console shows as characters.
#include <windows.h>

#include <atomic>
#include <vector>

#include "windows/layer.hpp"
#include "windows/paths.hpp"

// Every argument is a file name: keep the C runtime from expanding "*.pal".
extern "C" {
int _dowildcard = 0;

// The C runtime's own reading of the command line, in UTF-16: msvcrt.dll
// exports it, and MinGW's start-up code calls it for wmain programs.
struct huemill_startup_info {
    int new_mode;
};
int __cdecl __wgetmainargs(int* argc, wchar_t*** argv, wchar_t*** environment, int expand_wildcards,
                           huemill_startup_info* startup);
}

namespace huemill::platform {
namespace {

// --- Interruptions ----------------------------------------------------------
//
// Windows runs the console control handler in a thread of its own, at any
// moment. The handler and the run share one word and nothing else: no lock,
// no event, no call that waits for the other side. Whoever learns from it
// that the run is to end ends the process at once, with TerminateProcess,
// which stops every other thread wherever it is and runs nothing after:
// ExitProcess would run the C runtime's exit handlers, which free memory
// and so wait forever for the heap's lock where a stopped thread held it.
// There is nothing to flush: messages are written unbuffered, and the
// temporary file goes with its handle.
//   - the run, when it leaves the listing in progress and finds the
//     handler came meanwhile (interrupted), or when it would start one
//     and finds the handler came before;
//   - the handler, only where the run does not within a moment of an event
//     that came while no listing was in progress (idle): a palette read
//     from a pipe that nothing writes to may never end.
// Every event waits while a listing is in progress, the second Ctrl-C and
// later ones too. So no order in which the two meet leaves either waiting
// on the other, and the thread that ends the process is nearly always the
// run's, at a moment it holds no lock of the system's, while the
// handlers' threads wait in Sleep, holding none either. (Under wine, a
// Ctrl-C that comes while the process is being ended starts a thread from
// a signal handler, which waits forever for a lock that a thread stopped
// by the ending held.)

enum RunState : int { idle, replacing, interrupted };
std::atomic<int> run_state{idle};
static_assert(std::atomic<int>::is_always_lock_free, "shared with the handler's thread");

[[noreturn]] void end_interrupted() {
    TerminateProcess(GetCurrentProcess(), STATUS_CONTROL_C_EXIT);
    ExitProcess(STATUS_CONTROL_C_EXIT);  // never reached: ends the process at the least
}

// How long the handler gives a run between listings to end itself: it
// starts the next listing, and so ends, within a palette's read.
constexpr DWORD moment_ms = 200;

BOOL WINAPI on_console_event(DWORD /*event*/) {
    if (run_state.exchange(interrupted) == idle) {
        Sleep(moment_ms);
        end_interrupted();
    }
    // The run ends the process as the listing in progress is complete or
    // gone. Returning would end it at once for closing the console,
    // log-off and shutdown, and end this thread for Ctrl-C: it waits
    // instead, holding nothing, until the run ends the process or Windows
    // loses patience (about 5 seconds for those three).
    for (;;) {
        Sleep(INFINITE);
    }
}

// Writes all of text to handle, a console or not. Returns 0 or the error.
int write_all_to(HANDLE handle, const std::string& text) {
    DWORD mode = 0;
    if (GetConsoleMode(handle, &mode) != 0) {
        // A console shows characters, whatever its code page.
        const std::wstring wide = windows::utf16(text);
        for (std::size_t done = 0; done < wide.size();) {
            DWORD written = 0;
            const auto chunk = static_cast<DWORD>(
                windows::whole_characters(std::wstring_view(wide).substr(done), 8192));
            if (WriteConsoleW(handle, wide.data() + done, chunk, &written, nullptr) == 0 ||
                written == 0) {
                return last_error();
            }
            done += written;
        }
        return 0;
    }
    return write_all(handle, text);
}

}  // namespace

void prepare_process() {
    // A drive without its medium fails the call rather than asking the
    // user, in a window, to insert one.
    SetErrorMode(SEM_FAILCRITICALERRORS);
    // Installed once, before anything is replaced, and never touched again:
    // a handler may run under a lock that SetConsoleCtrlHandler takes too
    // (wine's does).
    SetConsoleCtrlHandler(on_console_event, TRUE);
}

void hold_interruptions() {
    int expected = idle;
    if (!run_state.compare_exchange_strong(expected, replacing)) {
        end_interrupted();  // the handler came first, and is ending the process
    }
}

bool interruption_pending() { return run_state.load() == interrupted; }

void allow_interruptions() {
    if (run_state.exchange(idle) == interrupted) {
        end_interrupted();
    }
}

char** utf8_arguments(int argc, char* argv[], Arguments& kept) {
    int count = 0;
    wchar_t** wide = nullptr;
    wchar_t** environment = nullptr;
    huemill_startup_info startup{0};
    if (__wgetmainargs(&count, &wide, &environment, 0, &startup) < 0 || count != argc) {
        return argv;  // the bytes the C runtime gave are all there is
    }
    for (int i = 0; i < count; ++i) {
        kept.texts.push_back(windows::utf8(wide[i]));
    }
    for (std::string& argument : kept.texts) {
        kept.pointers.push_back(argument.data());
    }
    kept.pointers.push_back(nullptr);
    return kept.pointers.data();
}

unsigned long process_id() { return GetCurrentProcessId(); }

bool console_closes_with_the_run() {
    DWORD processes[2];
    DWORD mode = 0;
    return GetConsoleProcessList(processes, 2) == 1 &&
           GetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), &mode) != 0 &&
           GetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), &mode) != 0;
}

void wait_for_a_key() {
    const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    INPUT_RECORD record{};
    DWORD read = 0;
    while (ReadConsoleInputW(input, &record, 1, &read) != 0 && read == 1) {
        if (record.EventType == KEY_EVENT && record.Event.KeyEvent.bKeyDown) {
            return;
        }
    }
}

int write_text(Stream stream, std::string_view text) {
    const HANDLE handle =
        GetStdHandle(stream == Stream::output ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE);
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE) {
        return EBADF;
    }
    std::string lines;
    for (const char c : text) {
        if (c == '\n') {
            lines += '\r';
        }
        lines += c;
    }
    return write_all_to(handle, lines);
}

}  // namespace huemill::platform
