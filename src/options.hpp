// The command line: options and file names, in the manner of GNU's
// programs: options count wherever they stand, until "--".
#ifndef HUEMILL_OPTIONS_HPP
#define HUEMILL_OPTIONS_HPP

#include <string>

#include "palette.hpp"

namespace huemill {

// What a listing is written as: the listing (the default), or a C table a
// program can include.
enum class Format { listing, c };

// What the options ask for.
struct Options {
    Format format = Format::listing;
    TableForm table;                   // with --format=c, how the table is made
    const char* table_name = nullptr;  // ... and its name, where one was given
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

// Reads the options among arguments (argc of them, argv[0] the program's
// name) into options: --name=value and --name value alike, short options
// alone or together (-kh, -oDIR, -o DIR), wherever they stand until "--",
// which ends them. Every other argument, "-" and every one after "--"
// included, is a file name: arguments is put in the order options, then
// file names as they came, from options.first_file on. Returns true, or
// false with error saying why not (options of a C table without
// --format=c, a --name for more than one file, or one no table may have).
bool read_options(int argc, char** arguments, Options& options, CommandLineError& error);

// What huemill writes where no file is named, and what --help writes.
extern const char usage_text[];
extern const char help_text[];

}  // namespace huemill

#endif
