// The command line: options before the first file name, in the manner of
// POSIX's utility syntax and GNU's long options, then the file names.
#ifndef HUEMILL_OPTIONS_HPP
#define HUEMILL_OPTIONS_HPP

#include <string>

namespace huemill {

// What a listing is written as: the listing (the default), or a C table a
// program can include.
enum class Format { listing, c };

// What the options ask for.
struct Options {
    Format format = Format::listing;
    const char* output_dir = nullptr;  // the folder every listing goes to; nullptr: beside each
    bool strict = false;               // a warning fails its file
    bool keep_going = false;           // a file that fails does not end the run
    bool help = false;                 // answer --help, and nothing else
    bool version = false;              // answer --version, and nothing else
    int first_file = 0;                // the index of the first file name in the arguments
};

// Why a command line is not one huemill takes: what of it, as written, and
// why, for the one line "huemill: WHAT: WHY".
struct CommandLineError {
    std::string what;
    std::string why;
};

// Reads the options at the front of arguments (argc of them, argv[0] the
// program's name) into options: --name=value and --name value alike, short
// options alone or together (-kh, -oDIR, -o DIR), and "--" to end them.
// The first argument that does not start with '-', and "-" itself, is the
// first file name; every argument after it is one too. Returns true, or
// false with error saying why not.
bool read_options(int argc, char** arguments, Options& options, CommandLineError& error);

// What huemill writes where no file is named, and what --help writes.
extern const char usage_text[];
extern const char help_text[];

}  // namespace huemill

#endif
