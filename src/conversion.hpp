// One file's conversion, from its palette to its listing, in two phases.
#ifndef HUEMILL_CONVERSION_HPP
#define HUEMILL_CONVERSION_HPP

#include <optional>
#include <string>
#include <string_view>

#include "listing_file.hpp"
#include "palette.hpp"
#include "platform.hpp"
#include "run.hpp"

namespace huemill {

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
    bool make_text(const ReadResult& palette);
    bool look(int index, const ReadResult& palette, int& error);
    void doubt_made_before();
    void doubt_table_name();
    void make_notes();

    Run& run_;
    const char* input_;
    platform::FolderHandle folder_;  // the palette's
    std::string_view listing_file_;  // the listing's name in its folder
    std::string folded_;             // ... folded, as the run notes it
    std::string table_name_;         // with --format=c, its table's name
    const char* text_ = nullptr;     // what the listing will hold
    std::size_t size_ = 0;
    platform::ListingHandle listing_;
    Run::ListingsMade::iterator earlier_;  // the note of a listing made before at its name
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
