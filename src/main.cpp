// huemill: turns each palette file named on the command line into a listing
// beside it (or in the folder -o names), in order, and stops at the first
// file it cannot convert (or with -k, goes on and says so in its status).
#include <cerrno>
#include <cstdlib>
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

constexpr char usage_text[] = "\nUsage:  huemill file1.pal [file2.pal, file3.pal ...]\n";
constexpr char version_text[] = "huemill " HUEMILL_VERSION "\n";

// For a window that would close before the usage text could be read.
constexpr char double_clicked_text[] =
    "huemill is a command-line program: run it from Command Prompt or PowerShell,\n"
    "with the names of palette files. Press a key to close this window.\n";

// Memory kept back for the moment memory runs out, from the start of the
// run: throwing std::bad_alloc needs some (the C++ runtime's own reserve
// may not have been made, where memory was short from the start), and so
// does the message that says so. Kept below the size the C library maps
// on its own, so that once given back it is there for the next allocation.
void* reserve = nullptr;
constexpr std::size_t reserve_size = 64 * 1024;

// Called where an allocation fails: gives the reserve back, and says so as
// an allocation that fails says it.
void out_of_memory_handler() {
    std::free(reserve);
    reserve = nullptr;
    throw std::bad_alloc();
}

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

// Writes text on standard output and returns status, or says where
// standard output would not take it; a reader that went away (a closed
// pipe) is no news.
int answer(const char* text, int status) {
    const int error = platform::write_text(Stream::output, text);
    if (error != 0 && error != EPIPE) {
        huemill::report("standard output", error);
    }
    return status;
}

// Writes the usage text, where no file was named.
int usage() {
    answer(usage_text, exit_usage);
    if (platform::console_closes_with_the_run()) {
        platform::write_text(Stream::output, double_clicked_text);
        platform::wait_for_a_key();
    }
    return exit_usage;
}

// Converts every file named, in order, to the first that fails, or with
// --keep-going all of them. Sets current to the argument being converted.
int convert_all(int argc, char** arguments, const huemill::Options& options, const char*& current) {
    huemill::Run run;
    if (const int error = huemill::start(run, options, argc, arguments)) {
        huemill::report(options.output_dir, error);
        return exit_usage;
    }
    bool failed = false;
    for (int i = options.first_file; i < argc; ++i) {
        current = arguments[i];
        bool converted = false;
        if (reserve == nullptr) {
            reserve = std::malloc(reserve_size);  // given back for a file before
        }
        if (reserve == nullptr) {
            out_of_memory(current);  // with nothing to throw an exception with
        } else {
            try {
                converted = huemill::convert(run, i);
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

// The run: reads the options, answers --help and --version, and converts
// every file named. Sets current to the argument being converted.
int run(int argc, char* argv[], const char*& current) {
    if (argc < 2) {
        return usage();
    }
    char** arguments = platform::utf8_arguments(argc, argv);
    huemill::Options options;
    huemill::CommandLineError wrong;
    if (!huemill::read_options(argc, arguments, options, wrong)) {
        huemill::say(wrong.what, wrong.why);
        return exit_usage;
    }
    if (options.help) {
        return answer(huemill::help_text, exit_converted);
    }
    if (options.version) {
        return answer(version_text, exit_converted);
    }
    if (options.first_file == argc) {
        return usage();
    }
    reserve = std::malloc(reserve_size);
    if (reserve == nullptr) {
        return out_of_memory(nullptr);  // with nothing to throw an exception with
    }
    std::set_new_handler(out_of_memory_handler);
    return convert_all(argc, arguments, options, current);
}

}  // namespace

int main(int argc, char* argv[]) {
    platform::prepare_process();
    const char* current = nullptr;
    int status = exit_failed;
    try {
        status = run(argc, argv, current);
    } catch (const std::bad_alloc&) {
        status = out_of_memory(current);
    }
    std::free(reserve);
    return status;
}
