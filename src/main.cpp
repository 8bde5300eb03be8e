// huemill: turns each palette file named on the command line into a listing
// beside it (or in the folder -o names), in order, and stops at the first
// file it cannot convert (or with -k, goes on and says so in its status).
#include <cerrno>
#include <cstdlib>
#include <memory>
#include <new>
#include <string>

#include "conversion.hpp"
#include "message.hpp"
#include "options.hpp"
#include "platform.hpp"

namespace {

namespace platform = huemill::platform;
using platform::Stream;

constexpr int exit_converted = 0;
constexpr int exit_failed = 1;
constexpr int exit_usage = 2;

constexpr char version_text[] = "huemill " HUEMILL_VERSION "\n";

// For a window that would close before the usage text could be read.
constexpr char double_clicked_text[] =
    "huemill is a command-line program: run it from Command Prompt or PowerShell,\n"
    "with the names of palette files. Press a key to close this window.\n";

// Memory kept back, for as long as the run converts files, for the moment
// memory runs out: throwing std::bad_alloc needs some (the C++ runtime's
// own reserve may not have been made, where memory was short from the
// start), and so does the message that says so. Kept below the size the
// C library maps on its own, so that once given back it is there for the
// next allocation.
//
// The new-handler that gives it back is a function of no arguments, so it
// finds the reserve in static storage: the one state of the run kept
// there, as the signal masks of linux/process.cpp and the Ctrl-C state of
// windows/process.cpp are kept where their handlers find them.
class MemoryReserve {
public:
    MemoryReserve() { std::set_new_handler(give_back); }
    ~MemoryReserve() {
        std::set_new_handler(nullptr);
        std::free(block);
        block = nullptr;
    }
    MemoryReserve(const MemoryReserve&) = delete;
    MemoryReserve& operator=(const MemoryReserve&) = delete;

    // Makes the reserve where there is none (at the start, or given back
    // while a file was converted). Returns whether there is one.
    bool refill() {
        if (block == nullptr) {
            block = std::malloc(size);
        }
        return block != nullptr;
    }

private:
    // Gives the reserve back, and says so as an allocation that fails
    // says it.
    static void give_back() {
        std::free(block);
        block = nullptr;
        throw std::bad_alloc();
    }

    static constexpr std::size_t size = 64 * 1024;
    static inline void* block = nullptr;
};

// Reports that memory ran out while name (nullptr: no file) was converted,
// even where the message itself finds none: then without the name.
int out_of_memory(const char* name) {
    try {
        if (name != nullptr) {
            huemill::report(name, ENOMEM);
            return exit_failed;
        }
    } catch (const std::bad_alloc&) {
    }
    try {
        platform::write_text(Stream::error, "huemill: Cannot allocate memory\n");
    } catch (const std::bad_alloc&) {
    }
    return exit_failed;
}

// Writes text on standard output and returns status, or where standard
// output would not take it, says so and returns failed; a reader that went
// away (a closed pipe) is no news.
int answer(const char* text, int status, int failed) {
    const int error = platform::write_text(Stream::output, text);
    if (error != 0 && error != EPIPE) {
        huemill::report("standard output", error);
        return failed;
    }
    return status;
}

// Writes the usage text, where no file was named.
int usage() {
    answer(huemill::usage_text, exit_usage, exit_usage);
    if (platform::console_closes_with_the_run()) {
        platform::write_text(Stream::output, double_clicked_text);
        platform::wait_for_a_key();
    }
    return exit_usage;
}

// Converts every file named, in order, to the first that fails, or with
// --keep-going all of them. Sets current to the argument being converted.
int convert_all(int argc, char** arguments, const huemill::Options& options, const char*& current) {
    MemoryReserve reserve;
    if (!reserve.refill()) {
        return out_of_memory(nullptr);  // with nothing to throw an exception with
    }
    // Not make_unique, which would zero the buffers that every file writes
    // before it reads them: a fifth of a one-file run's instructions.
    const std::unique_ptr<huemill::Run> run(new huemill::Run);
    if (const int error = huemill::start(*run, options, argc, arguments)) {
        huemill::report("cannot use '" + std::string(options.output_dir) + "' as the output folder",
                        error);
        return exit_usage;
    }
    bool failed = false;
    for (int i = options.first_file; i < argc; ++i) {
        current = arguments[i];
        bool converted = false;
        if (!reserve.refill()) {
            out_of_memory(current);  // with nothing to throw an exception with
        } else {
            try {
                converted = huemill::convert(*run, i);
            } catch (const std::bad_alloc&) {
                out_of_memory(current);
            }
        }
        failed = failed || !converted;
        if (failed && !options.keep_going) {
            break;
        }
    }
    return failed ? exit_failed : exit_converted;
}

// Reads the options, answers --help and --version, and converts every
// file named, with the arguments as UTF-8 in kept where they need to be
// converted. Sets current to the argument being converted.
int run_command_line(int argc, char* argv[], platform::Arguments& kept, const char*& current) {
    if (argc < 2) {
        return usage();
    }
    char** arguments = platform::utf8_arguments(argc, argv, kept);
    huemill::Options options;
    huemill::CommandLineError wrong;
    if (!huemill::read_options(argc, arguments, options, wrong)) {
        huemill::say(wrong.what, wrong.why);
        return exit_usage;
    }
    if (options.help) {
        return answer(huemill::help_text, exit_converted, exit_failed);
    }
    if (options.version) {
        return answer(version_text, exit_converted, exit_failed);
    }
    if (options.first_file == argc) {
        return usage();
    }
    return convert_all(argc, arguments, options, current);
}

}  // namespace

int main(int argc, char* argv[]) {
    platform::prepare_process();
    platform::Arguments kept;  // outlives current, which points into it
    const char* current = nullptr;
    int status = exit_failed;
    try {
        status = run_command_line(argc, argv, kept, current);
    } catch (const std::bad_alloc&) {
        status = out_of_memory(current);
    }
    return status;
}
