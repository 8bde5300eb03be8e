// What lives for the run: the options, the system's state, the buffers
// every conversion uses in turn, and what the run knows of the files it
// reads and makes, so that no listing replaces a palette it is still to
// read, and two inputs that make one listing are told of.
#ifndef HUEMILL_RUN_HPP
#define HUEMILL_RUN_HPP

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "listing_file.hpp"
#include "options.hpp"
#include "palette.hpp"
#include "platform.hpp"

namespace huemill {

// A file's identity, as the run keeps it.
using IdentityKey = std::pair<std::uint64_t, std::uint64_t>;

// What every conversion uses in turn, kept for the run, so that a run
// allocates only where a name or a table grows.
struct Buffers {
    HeaderBlock header;        // the palette file's header, as read
    RecordArea records;        // ... and its records
    ListingText listing_text;  // the listing, as lines
    std::string table_text;    // ... or as a C table
    std::string listing_name;
    std::string folded;    // a name folded, to look it up
    std::string warnings;  // the lines said once the listing is made or failed
    std::string doubt;     // the first of them, as --strict says it
    TemporaryNames temporary;
};

// The palettes the run is still to read, to tell whether a listing would
// replace one: each argument's identity as reading will reach it (through
// links), and the arguments whose file names could be a listing's, by
// those names folded. Learned once, of the arguments after the first
// listing that would replace a file.
struct PalettesToRead {
    bool learned = false;
    std::vector<std::pair<IdentityKey, int>> by_identity;  // sorted
    std::multimap<std::string, int> by_name;
};

struct Run {
    Options options;
    char** arguments = nullptr;  // the file names, from options.first_file to count
    int count = 0;
    platform::SystemHandle system;
    platform::FolderHandle output;  // with --output-dir: that folder
    std::string output_name;        // ... as named, ending in a separator
    PalettesToRead to_read;

    // The listings made, by their file names folded, each with the input
    // it was made from (which names it: see made_listing_name). Room is
    // made for a note of every file, so that noting one needs no memory.
    using ListingsMade = std::unordered_multimap<std::string, const char*>;
    ListingsMade made;
    ListingsMade notes;  // where each note is made, and taken out, ready

    // With --format=c, the names of the tables made, each with the input
    // whose listing holds it.
    using Tables = std::map<std::string, const char*>;
    Tables tables;

    Buffers buffers;
};

// Makes run ready for options and the count arguments: the system's state
// and the output folder. Returns 0 or the error that keeps the output
// folder from being opened.
int start(Run& run, const Options& options, int count, char** arguments);

// name folded into run.buffers.folded, as this system's file names
// compare where case is ignored (see fold_name).
const std::string& folded(Run& run, std::string_view name);

// Puts into name the name of the listing made from the argument input,
// its folder part as named: beside the palette, or in the output folder.
// Reuses name's storage.
void made_listing_name(const Run& run, std::string_view input, std::string& name);

// A listing about to be made, and what stands at its name: the name as
// made (its folder part as named), in folder, that name's file name
// folded, and what stands there.
struct ListingPlace {
    const platform::Folder& folder;
    std::string_view name;
    std::string_view folded;
    platform::FileIdentity standing;
};

// Whether making listing would lose the palette the argument path names,
// read as palette: it stands at the listing's name as the palette's only
// name, or by the name the palette was read by (by identity, or on a file
// system that takes one spelling of a name for another, by the folder's
// own spelling). A hard link of the palette's under the listing's name is
// replaced like any other: the palette keeps its own name.
bool replaces_palette(Run& run, std::string_view path, const platform::FileIdentity& palette,
                      const ListingPlace& listing);

// Sets later to the first argument after index that names what stands at
// listing's name, so that making it would lose that palette before its
// turn; nullptr where none does. Returns 0, or the error that keeps the
// system from saying where the argument later names is.
int palette_to_read_at(Run& run, int index, const ListingPlace& listing, const char*& later);

// The note of the listing made earlier in this run that stands at
// listing's name, or run.made.end().
Run::ListingsMade::iterator listing_made_at(Run& run, const ListingPlace& listing);

}  // namespace huemill

#endif
