// One file's conversion: its palette read in its folder, its listing made
// there or in the output folder, and what needs saying said.
#include "conversion.hpp"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <new>

#include "listing_file.hpp"
#include "message.hpp"
#include "palette.hpp"

namespace huemill {
namespace {

// Notes in buffers a doubt about input's palette: as a warning, said once
// the listing is made or failed, and as the failure --strict makes of it
// (the first one's). warning goes on as the listing is made anyway; strict
// says why it is not.
void doubt(Buffers& buffers, const char* input, const std::string& what, std::string_view warning,
           std::string_view strict) {
    append_line(buffers.warnings, input, "warning: " + what + std::string(warning));
    if (buffers.doubt.empty()) {
        buffers.doubt = what + std::string(strict) + ": not converted";
    }
}

// Notes the doubt that what was read from input is not a whole palette,
// where it is not.
void doubt_palette(Buffers& buffers, const char* input, const ReadResult& palette) {
    if (palette.is_listing) {
        doubt(buffers, input, "it is itself a listing", ", read as a palette", "");
    } else if (palette.size < header_size) {
        doubt(buffers, input,
              "only " + std::to_string(palette.size) + " bytes, shorter than a palette's " +
                  std::to_string(header_size) + "-byte header",
              ": listed with no records", "");
    } else if (const unsigned held = records_held(palette.size); held < palette.entry_count) {
        // Bytes of the next record's values, which its line shows too.
        const std::size_t next =
            palette.size - std::min(palette.size, header_size + held * record_size);
        std::string what =
            "holds " + std::to_string(held) + " of the " + std::to_string(palette.entry_count) +
            (palette.entry_count == 1 ? " record" : " records") + " its header lists";
        if (next > 0) {
            what +=
                " and " + std::to_string(next) + (next == 1 ? " byte" : " bytes") + " of the next";
        }
        doubt(buffers, input, what,
              next > 0 ? "; what it lacks is listed as zero" : "; the rest are listed as zero", "");
    }
}

// Says that input is not converted, as its listing, named name, would
// replace the palette it names, by that name or as the argument replaced.
void refuse(const char* input, std::string_view name, const char* replaced) {
    std::string refusal = "its listing ";
    if (name != input) {
        append_printable(refusal, name);
        refusal.append(" ");
    }
    refusal.append("would replace ");
    if (replaced == input) {
        refusal.append("it");
    } else {
        append_printable(refusal, replaced);
        refusal.append(", given later as a palette");
    }
    say(input, refusal + ": not converted");
}

// Says why the listing named name could not be replaced, with the
// temporary file in names where it is left.
void listing_failed(const std::string& name, const ListingOutcome& outcome,
                    const TemporaryNames& names) {
    const std::string folder = name.substr(0, file_name_start(name));
    std::string detail;
    if (outcome.folder_refused) {
        detail = "cannot create a file in " + (folder.empty() ? "the current folder" : folder);
    } else if (outcome.error == platform::error_owner_not_kept) {
        detail = "cannot keep its owner";
    } else if (outcome.left_behind) {
        detail = folder + names.current + " is left";
    }
    report(name, outcome.error, detail);
}

// Writes the warnings, where memory allows: once a listing is made, only a
// warning may be lost, never the truth of its status.
void say_warnings(const Buffers& buffers) {
    try {
        platform::write_text(platform::Stream::error, buffers.warnings);
    } catch (const std::bad_alloc&) {
    }
}

}  // namespace

// Reads the palette into the run's buffers, in the folder its argument
// names. Returns whether it could, having said why not.
bool Conversion::read(ReadResult& palette) {
    const std::string_view path(input_);
    const std::size_t file_start = file_name_start(path);
    // A path that ends in a separator names the folder itself.
    const char* file = file_start > 0 && file_start == path.size() ? "." : input_ + file_start;
    palette.error = platform::open_folder(*run_.system, path.substr(0, file_start), folder_);
    if (palette.error == 0) {
        palette = read_palette(*folder_, file, run_.buffers.header, run_.buffers.records);
    }
    if (palette.error != 0) {
        huemill::report(input_, palette.error);
        return false;
    }
    return true;
}

// Names the listing, in the output folder or beside its palette, and makes
// its text: the listing's lines, or with --format=c a table. Returns
// whether it could, having said why not (a value the table's type cannot
// hold).
bool Conversion::make_text(const ReadResult& palette) {
    Buffers& buffers = run_.buffers;
    const Options& options = run_.options;
    const std::string_view path(input_);
    made_listing_name(run_, path, buffers.listing_name);
    listing_file_ = buffers.listing_name;
    listing_file_.remove_prefix(file_name_start(listing_file_));
    folded_ = folded(run_, listing_file_);
    if (options.format == Format::listing) {
        text_ = buffers.listing_text.data();
        size_ = format_listing(palette.entry_count, buffers.records, buffers.listing_text);
        return true;
    }
    table_name_ = options.table_name != nullptr ? options.table_name : table_name(stem_of(path));
    std::uint32_t value_bits = 0;
    size_ = format_table(palette.entry_count, buffers.records, path.substr(file_name_start(path)),
                         table_name_, options.table, buffers.table_text, value_bits);
    Misfit misfit;
    if (!fits(palette.entry_count, buffers.records, options.table.type, value_bits, misfit)) {
        constexpr const char* channels[] = {"red", "green", "blue"};
        char value[16];
        std::snprintf(value, sizeof value, "0x%lX", static_cast<unsigned long>(misfit.value));
        say(input_, "record " + std::to_string(misfit.record) + " has " + channels[misfit.channel] +
                        " " + value + ", more than a " +
                        std::string(type_name(options.table.type)) + " holds: not converted");
        return false;
    }
    text_ = buffers.table_text.data();  // where formatting left it
    return true;
}

// Looks at what stands at the listing's name: refuses a listing that would
// replace its own palette, or a later argument's, having said so (returns
// false), and else sets error to what keeps the name from being replaced.
bool Conversion::look(int index, const ReadResult& palette, int& error) {
    const std::string& name = run_.buffers.listing_name;
    platform::Folder& folder = run_.output ? *run_.output : *folder_;
    platform::Standing standing = platform::Standing::nothing;
    platform::FileIdentity identity;
    error =
        platform::begin_listing(*run_.system, folder, listing_file_, listing_, standing, identity);
    earlier_ = run_.made.end();
    if (error == 0 && standing != platform::Standing::nothing) {
        const ListingPlace place{folder, name, folded_, identity};
        if (replaces_palette(run_, input_, palette.identity, place)) {
            refuse(input_, name, input_);
            return false;
        }
        const char* later = nullptr;
        if (const int failed = palette_to_read_at(run_, index, place, later)) {
            huemill::report(input_, failed,
                            "cannot look at " + std::string(later) + ", given later as a palette");
            return false;
        }
        if (later != nullptr) {
            refuse(input_, name, later);
            return false;
        }
        earlier_ = listing_made_at(run_, place);
    }
    if (error == 0 && standing == platform::Standing::folder) {
        error = EISDIR;
    }
    if (error == 0 && standing == platform::Standing::file) {
        error = platform::look_to_replace(*listing_);
    }
    return true;
}

// Notes the doubt that the listing replaces one the run made before.
void Conversion::doubt_made_before() {
    if (earlier_ == run_.made.end()) {
        return;
    }
    std::string made = "its listing ";
    append_printable(made, run_.buffers.listing_name);
    std::string from = " the one made from ";
    append_printable(from, earlier_->second);
    doubt(run_.buffers, input_, made, " replaces" + from + " in this run",
          " would replace" + from + " in this run");
}

// Notes the doubt that the table has the name of one made before into
// another listing.
void Conversion::doubt_table_name() {
    same_table_ = table_name_.empty() ? run_.tables.end() : run_.tables.find(table_name_);
    // Where the table is in the listing this one replaces, that says it.
    if (same_table_ == run_.tables.end() ||
        (earlier_ != run_.made.end() && earlier_->second == same_table_->second)) {
        return;
    }
    std::string from = " the name of the one made from ";
    append_printable(from, same_table_->second);
    doubt(run_.buffers, input_, "its table " + table_name_, " has" + from + " in this run",
          " would have" + from + " in this run");
}

// Makes the notes the run keeps of the listing once it is made, so that
// keeping them needs no memory then.
void Conversion::make_notes() {
    note_ = run_.notes.extract(run_.notes.emplace(folded_, input_));
    if (!table_name_.empty() && same_table_ == run_.tables.end()) {
        Run::Tables tables;
        tables.emplace(table_name_, input_);
        new_table_ = tables.extract(tables.begin());
    }
}

std::optional<Conversion> Conversion::prepare(Run& run, int index) {
    Conversion conversion(run, run.arguments[index]);
    const char* input = conversion.input_;
    Buffers& buffers = run.buffers;
    buffers.warnings.clear();
    buffers.doubt.clear();
    ReadResult palette;
    if (!conversion.read(palette)) {
        return std::nullopt;
    }
    if (!conversion.make_text(palette)) {
        return std::nullopt;
    }
    int error = 0;
    if (!conversion.look(index, palette, error)) {
        return std::nullopt;
    }
    doubt_palette(buffers, input, palette);
    conversion.doubt_made_before();
    conversion.doubt_table_name();
    if (error != 0) {
        say_warnings(buffers);
        ListingOutcome outcome;
        outcome.error = error;
        listing_failed(buffers.listing_name, outcome, buffers.temporary);
        return std::nullopt;
    }
    if (run.options.strict && !buffers.doubt.empty()) {
        say(input, buffers.doubt);
        return std::nullopt;
    }
    conversion.make_notes();
    make_room(buffers.temporary, conversion.listing_file_);
    return conversion;
}

void Conversion::commit() noexcept {
    outcome_ = replace_listing(*listing_, listing_file_, text_, size_, run_.buffers.temporary);
    if (outcome_.error != 0) {
        return;
    }
    // The listing it replaced, if the run made it, is gone.
    if (earlier_ != run_.made.end()) {
        run_.made.erase(earlier_);
    }
    run_.made.insert(std::move(note_));
    if (same_table_ != run_.tables.end()) {
        same_table_->second = input_;
    } else if (!new_table_.empty()) {
        run_.tables.insert(std::move(new_table_));
    }
}

bool Conversion::report() const {
    say_warnings(run_.buffers);
    if (outcome_.error != 0) {
        listing_failed(run_.buffers.listing_name, outcome_, run_.buffers.temporary);
        return false;
    }
    return true;
}

bool convert(Run& run, int index) {
    std::optional<Conversion> conversion = Conversion::prepare(run, index);
    if (!conversion) {
        return false;
    }
    conversion->commit();
    return conversion->report();
}

}  // namespace huemill
