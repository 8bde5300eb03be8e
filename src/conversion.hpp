// One file's conversion, from its palette to its listing, in two phases,
// and what the run keeps while it converts one file after another.
#ifndef HUEMILL_CONVERSION_HPP
#define HUEMILL_CONVERSION_HPP

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "listing_file.hpp"
#include "options.hpp"
#include "palette.hpp"
#include "platform.hpp"

namespace huemill {

// A file's identity, as the notes of the run key it.
using IdentityKey = std::pair<std::uint64_t, std::uint64_t>;

// What every conversion uses in turn, kept for the run, so that a run
// allocates only where a name or a table grows.
struct Buffers {
    PaletteBytes palette;      // the palette file's first bytes, as read
    RecordArea records;        // ... and its records, as listed
    ListingText listing_text;  // the listing, as lines
    std::string table_text;    // ... or as a C table
    std::string listing_name;
    std::string warnings;  // the lines said once the listing is made or failed
    std::string doubt;     // the first of them, as --strict says it
    TemporaryNames temporary;
};

// What lives for the run: the options, the system's state, the folder
// every listing goes to where one was named, what the run has made, and
// the buffers.
struct Run {
    Options options;
    char** arguments = nullptr;  // the file names, from options.first_file on
    platform::SystemHandle system;
    platform::FolderHandle output;  // with --output-dir: that folder
    std::string output_name;        // ... as named, ending in a separator

    // The arguments whose file names a listing could have (every listing's
    // ends in ".pal.c"), by those names, to find which ones a listing would
    // replace.
    std::vector<std::pair<std::string_view, int>> listing_named_inputs;

    // The listings made, by their files' identities (so however an argument
    // named them), with the input each was made from.
    using ListingsMade = std::map<IdentityKey, const char*>;
    ListingsMade made;

    // With --format=c, the names of the tables made, with the listing each
    // went to and the input it was made from.
    using Tables = std::map<std::string, std::pair<IdentityKey, const char*>>;
    Tables tables;

    Buffers buffers;
};

// Makes run ready for options and the count arguments: the system's state,
// the output folder, and what it learns of the file names. Returns 0 or
// the error that keeps the output folder from being opened.
int start(Run& run, const Options& options, int count, char** arguments);

// One file's conversion, in two phases that this type keeps apart.
// prepare does everything that may fail or allocate: it reads the palette,
// names the listing and makes its text, looks at what stands at its name,
// decides whether it is refused, and makes ready what will be said of it
// and the notes the run will keep. commit then replaces the listing and
// notes it, and allocates nothing: once a listing is made, nothing can
// call it failed, and running out of memory never leaves a temporary file.
class Conversion {
public:
    // Prepares the conversion of the palette run.arguments[index] names;
    // nothing where it is not converted, having said why on standard error.
    static std::optional<Conversion> prepare(Run& run, int index);

    // Makes the listing, and notes it in the run where it is made.
    void commit() noexcept;

    // Says on standard error what needs saying once committed: warnings,
    // and why the listing was not made. Returns whether it was.
    bool report() const;

private:
    Conversion(Run& run, const char* input) : run_(run), input_(input) {}

    bool read(ReadResult& palette);
    void make_text(const ReadResult& palette);
    bool look(int index, const ReadResult& palette, int& error);
    void doubt_made_before();
    void doubt_table_name();
    void make_notes();

    Run& run_;
    const char* input_;
    platform::FolderHandle folder_;  // the palette's
    std::string_view listing_file_;  // the listing's name in its folder
    std::string table_name_;         // with --format=c, its table's name
    const char* text_ = nullptr;     // what the listing will hold
    std::size_t size_ = 0;
    platform::ListingHandle listing_;
    platform::FileIdentity standing_;      // what stands at its name, where anything does
    Run::ListingsMade::iterator earlier_;  // the note of that, where the run made it
    Run::ListingsMade::node_type note_;    // the note the listing will get
    Run::Tables::iterator same_table_;     // a table of its name, made before
    Run::Tables::node_type new_table_;     // ... or the note its table will get
    ListingOutcome outcome_;
};

// Converts the palette that run.arguments[index] names into its listing,
// and says on standard error what needs saying: a failure in one line, and
// what is doubtful about a palette as warnings (with --strict, as the
// failure). Returns whether the listing was made.
bool convert(Run& run, int index);

}  // namespace huemill

#endif
