// One file's conversion, from its palette to its listing, and what the run
// keeps while it converts one file after another.
#ifndef HUEMILL_CONVERSION_HPP
#define HUEMILL_CONVERSION_HPP

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "options.hpp"
#include "platform.hpp"

namespace huemill {

// A file's identity, as the notes of the run key it.
using IdentityKey = std::pair<std::uint64_t, std::uint64_t>;

// What lives for the run: the options, the system's state, the folder
// every listing goes to where one was named, and what the run has made.
struct Run {
    Options options;
    char** arguments = nullptr;  // the file names, from options.first_file to count
    int count = 0;
    platform::RunHandle system;
    platform::FolderHandle output;  // with --output-dir: that folder
    std::string output_name;        // ... as named, ending in a separator

    // The arguments whose file names a listing could have (every listing's
    // ends in ".pal.c"), by those names, to find which ones a listing would
    // replace.
    std::vector<std::pair<std::string_view, int>> listing_named_inputs;

    // The listings made, by their files' identities (so however an argument
    // named them), with the input each was made from; and one note made
    // beforehand, so that noting a listing once it is made needs no memory.
    using ListingsMade = std::map<IdentityKey, const char*>;
    ListingsMade made;
    ListingsMade::node_type spare;

    // With --format=c, the names of the tables made, with the listing each
    // went to and the input it was made from.
    std::map<std::string, std::pair<IdentityKey, const char*>> tables;
};

// Makes run ready for options and the count arguments: the system's state,
// the output folder, and what it learns of the file names. Returns 0 or
// the error that keeps the output folder from being opened.
int start(Run& run, const Options& options, int count, char** arguments);

// Converts the palette that run.arguments[index] names into its listing,
// and says on standard error what needs saying: a failure in one line, and
// what is doubtful about a palette as warnings (with --strict, as the
// failure). Returns whether the listing was made.
bool convert(Run& run, int index);

}  // namespace huemill

#endif
