// One file's conversion: its palette read in its folder, its listing made
// there or in the output folder, and what needs saying said.
#include "conversion.hpp"

#include <algorithm>
#include <cerrno>
#include <new>
#include <tuple>

#include "listing_file.hpp"
#include "message.hpp"
#include "palette.hpp"

namespace huemill {
namespace {

IdentityKey key_of(const platform::FileIdentity& identity) {
    return {identity.device, identity.number};
}

bool name_before(std::string_view a, std::string_view b) {
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        return ascii_lower(x) < ascii_lower(y);
    });
}

bool named_as_a_listing(std::string_view file_name) {
    return file_name.size() >= listing_suffix.size() &&
           equal_ignoring_case(file_name.substr(file_name.size() - listing_suffix.size()),
                               listing_suffix);
}

// The first argument after index that names standing, what stands at a
// listing's name file_name, so that replacing it would lose that input
// before its turn; nullptr where none does. Only arguments whose file name
// is file_name, but for case, are looked at.
const char* later_input_at(Run& run, int index, std::string_view file_name,
                           const platform::FileIdentity& standing) {
    const auto& inputs = run.listing_named_inputs;
    const auto [first, last] = std::equal_range(
        inputs.begin(), inputs.end(), std::make_pair(file_name, 0),
        [](const auto& a, const auto& b) { return name_before(a.first, b.first); });
    for (auto input = first; input != last; ++input) {
        const char* argument = run.arguments[input->second];
        if (input->second > index &&
            platform::same_file(platform::identity_of(*run.system, argument), standing)) {
            return argument;
        }
    }
    return nullptr;
}

// The buffers every conversion uses in turn, for the run: in static
// storage, so that the stack holds only small things.
struct Buffers {
    HeaderBlock header;
    RecordArea records;
    ListingText text;
    std::string table;  // the listing as a C table, where one is made
    std::string listing_name;
    std::string warnings;  // the lines to write once the listing is made or failed
    std::string doubt;     // the first of them, as --strict says it
};
Buffers buffers;

// Notes a doubt about input's palette: as a warning, said once the listing
// is made or failed, and as the failure --strict makes of it (the first
// one's). warning goes on as the listing is made anyway; strict says why
// it is not.
void doubt(const char* input, const std::string& what, std::string_view warning,
           std::string_view strict) {
    append_line(buffers.warnings, input, "warning: " + what + std::string(warning));
    if (buffers.doubt.empty()) {
        buffers.doubt = what + std::string(strict) + ": not converted";
    }
}

// Notes the doubt that what was read from input is not a whole palette,
// where it is not.
void doubt_palette(const char* input, const ReadResult& palette) {
    if (palette.is_listing) {
        doubt(input, "it is itself a listing", ", read as a palette", "");
    } else if (palette.size < header_size) {
        doubt(input,
              "only " + std::to_string(palette.size) + " bytes, shorter than a palette's " +
                  std::to_string(header_size) + "-byte header",
              ": listed with no records", "");
    } else if (const unsigned held = records_held(palette.size); held < palette.entry_count) {
        doubt(input,
              "holds " + std::to_string(held) + " of the " + std::to_string(palette.entry_count) +
                  (palette.entry_count == 1 ? " record" : " records") + " its header lists",
              "; the rest are listed as zero", "");
    }
}

// Says that input is not converted, as its listing would replace the
// palette it names, by that name or as the argument replaced.
bool refuse(const char* input, const std::string& name, const char* replaced) {
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
    return false;
}

// Says why the listing name could not be replaced.
bool listing_failed(const std::string& name, const ListingOutcome& outcome) {
    std::string detail;
    if (outcome.folder_refused) {
        const std::string folder = name.substr(0, file_name_start(name));
        detail = "cannot create a file in " + (folder.empty() ? "the current folder" : folder);
    } else if (outcome.error == platform::error_owner_not_kept) {
        detail = "cannot keep its owner";
    } else if (!outcome.left_behind.empty()) {
        detail = outcome.left_behind + " is left";
    }
    report(name, outcome.error, detail);
    return false;
}

// Writes the warnings, where memory allows: once a listing is made, only a
// warning may be lost, never the truth of its status.
void say_warnings() {
    try {
        platform::write_text(platform::Stream::error, buffers.warnings);
    } catch (const std::bad_alloc&) {
    }
}

}  // namespace

int start(Run& run, const Options& options, int count, char** arguments) {
    run.options = options;
    run.count = count;
    run.arguments = arguments;
    run.system = platform::start_run();
    if (const char* folder = options.output_dir) {
        const std::string_view name(folder);
        if (name.empty()) {
            return ENOENT;
        }
        // Named as a folder part is: ending in a separator.
        run.output_name = name;
        if (file_name_start(run.output_name) != run.output_name.size()) {
            run.output_name += '/';
        }
        if (const int error = platform::open_folder(*run.system, run.output_name, run.output)) {
            return error;
        }
    }
    for (int i = options.first_file + 1; i < count; ++i) {  // the first is no later one
        const std::string_view argument(arguments[i]);
        const std::string_view file_name = argument.substr(file_name_start(argument));
        if (named_as_a_listing(file_name)) {
            run.listing_named_inputs.emplace_back(file_name, i);
        }
    }
    std::stable_sort(run.listing_named_inputs.begin(), run.listing_named_inputs.end(),
                     [](const auto& a, const auto& b) { return name_before(a.first, b.first); });
    return 0;
}

bool convert(Run& run, int index) {
    const char* input = run.arguments[index];
    const std::string_view path(input);
    const std::size_t file_start = file_name_start(path);
    // A path that ends in a separator names the folder itself.
    const char* file = file_start > 0 && file_start == path.size() ? "." : input + file_start;
    platform::FolderHandle folder;
    ReadResult palette;
    palette.error = platform::open_folder(*run.system, path.substr(0, file_start), folder);
    if (palette.error == 0) {
        palette = read_palette(*folder, file, buffers.header, buffers.records);
    }
    if (palette.error != 0) {
        report(input, palette.error);
        return false;
    }

    // The listing: its name, its folder, and its text.
    std::string& name = buffers.listing_name;
    if (run.output) {
        name.assign(run.output_name).append(stem_of(path)).append(listing_suffix);
    } else {
        listing_name(path, name);
    }
    const std::string listing_file = name.substr(file_name_start(name));
    platform::Folder& listing_folder = run.output ? *run.output : *folder;
    const char* text = buffers.text.data();
    std::size_t size = 0;
    std::string table;
    if (run.options.format == Format::c) {
        table = table_name(stem_of(path));
        format_table(palette.entry_count, buffers.records, path.substr(file_start), table,
                     buffers.table);
        text = buffers.table.data();
        size = buffers.table.size();
    } else {
        size = format_listing(palette.entry_count, buffers.records, buffers.text);
    }

    // What stands at its name, and whether it may be replaced.
    platform::ListingHandle listing;
    platform::Standing standing = platform::Standing::nothing;
    platform::FileIdentity standing_identity;
    ListingOutcome outcome;
    outcome.error = platform::begin_listing(*run.system, listing_folder, listing_file, listing,
                                            standing, standing_identity);
    if (outcome.error == 0 && standing != platform::Standing::nothing) {
        if (replaces_its_palette(run.output ? nullptr : folder.get(), {file, palette.identity},
                                 {listing_file, standing_identity})) {
            return refuse(input, name, input);
        }
        if (const char* later = later_input_at(run, index, listing_file, standing_identity)) {
            return refuse(input, name, later);
        }
    }
    if (outcome.error == 0 && standing == platform::Standing::folder) {
        outcome.error = EISDIR;
    }
    if (outcome.error == 0 && standing == platform::Standing::file) {
        outcome.error = platform::look_to_replace(*listing);
    }

    // What is said of a listing, and the notes of it, are made before the
    // listing is: once it is, nothing can fail that would call it failed.
    buffers.warnings.clear();
    buffers.doubt.clear();
    doubt_palette(input, palette);
    auto earlier = run.made.end();
    if (standing != platform::Standing::nothing) {
        earlier = run.made.find(key_of(standing_identity));
    }
    if (earlier != run.made.end()) {
        std::string made = "its listing ";
        append_printable(made, name);
        std::string from = " the one made from ";
        append_printable(from, earlier->second);
        doubt(input, made, " replaces" + from + " in this run",
              " would replace" + from + " in this run");
    }
    auto same_table = run.tables.end();
    bool new_table = false;
    if (!table.empty()) {
        std::tie(same_table, new_table) = run.tables.try_emplace(table, IdentityKey(), input);
        const bool same_listing = standing != platform::Standing::nothing &&
                                  same_table->second.first == key_of(standing_identity);
        if (!new_table && !same_listing) {
            std::string from = " the name of the one made from ";
            append_printable(from, same_table->second.second);
            doubt(input, "its table " + table, " has" + from + " in this run",
                  " would have" + from + " in this run");
        }
    }
    if (run.spare.empty()) {
        Run::ListingsMade one;
        one.emplace(IdentityKey(), nullptr);
        run.spare = one.extract(one.begin());
    }

    if (outcome.error == 0 && run.options.strict && !buffers.doubt.empty()) {
        if (new_table) {
            run.tables.erase(same_table);
        }
        say(input, buffers.doubt);
        return false;
    }
    if (outcome.error == 0) {
        outcome = replace_listing(*listing, name, text, size);
    }
    if (outcome.error != 0) {
        if (new_table) {
            run.tables.erase(same_table);
        }
        say_warnings();
        return listing_failed(name, outcome);
    }
    // Noted without memory: the listing it replaced, if the run made it,
    // is gone; the spare note becomes this one's.
    if (earlier != run.made.end()) {
        run.made.erase(earlier);
    }
    if (outcome.made.known) {
        run.spare.key() = key_of(outcome.made);
        run.spare.mapped() = input;
        auto noted = run.made.insert(std::move(run.spare));
        if (!noted.inserted) {
            noted.position->second = input;
            run.spare = std::move(noted.node);
        }
    }
    if (same_table != run.tables.end()) {
        same_table->second = {key_of(outcome.made), input};
    }
    say_warnings();
    return true;
}

}  // namespace huemill
