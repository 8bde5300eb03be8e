// huemill: turns each palette file named on the command line into a listing
// beside it, in order, and stops at the first file it cannot convert.
#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <new>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "listing_file.hpp"
#include "message.hpp"
#include "palette.hpp"
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

// Appends to lines "huemill: NAME: ", then text and a line end, with name
// shown as a message may show it.
void append_line(std::string& lines, std::string_view name, std::string_view text) {
    lines.append("huemill: ");
    huemill::append_printable(lines, name);
    lines.append(": ").append(text).append("\n");
}

// Writes one such line on standard error.
void say(std::string_view name, std::string_view text) {
    std::string line;
    append_line(line, name, text);
    platform::write_text(Stream::error, line);
}

// Reports on standard error, in one line, that name failed with error, and
// why in detail where there is more to say.
void report(std::string_view name, int error, std::string_view detail = "") {
    std::string reason = huemill::describe(error);
    if (!detail.empty()) {
        reason.append(" (");
        huemill::append_printable(reason, detail);
        reason.append(")");
    }
    say(name, reason);
}

// Appends to warnings the line that warns that what was read from name is
// not a whole palette, where it is not: the listing is made all the same.
void warn_if_not_a_palette(std::string& warnings, const char* name,
                           const huemill::ReadResult& palette) {
    std::string warning;
    if (palette.is_listing) {
        warning = "it is itself a listing, read as a palette";
    } else if (palette.size < huemill::header_size) {
        warning = "only " + std::to_string(palette.size) + " bytes, shorter than a palette's " +
                  std::to_string(huemill::header_size) + "-byte header: listed with no records";
    } else if (const unsigned held = huemill::records_held(palette.size);
               held < palette.entry_count) {
        warning = "holds " + std::to_string(held) + " of the " +
                  std::to_string(palette.entry_count) +
                  (palette.entry_count == 1 ? " record" : " records") +
                  " its header lists; the rest are listed as zero";
    } else {
        return;
    }
    append_line(warnings, name, "warning: " + warning);
}

// The listings the run has made, each known by its file's identity (so
// however its argument named it), with the input it was made from, which
// lasts for the run as every argument does.
using IdentityKey = std::pair<std::uint64_t, std::uint64_t>;
using ListingsMade = std::map<IdentityKey, const char*>;

IdentityKey key_of(const platform::FileIdentity& identity) {
    return {identity.device, identity.number};
}

// What the run notes of the listings it has made: the notes, and one made
// beforehand, so that noting a listing once it is made needs no memory.
struct Notes {
    ListingsMade made;
    ListingsMade::node_type spare;
};

// Makes sure notes has a note to spare.
void prepare_note(Notes& notes) {
    if (notes.spare.empty()) {
        ListingsMade one;
        one.emplace(IdentityKey(), nullptr);
        notes.spare = one.extract(one.begin());
    }
}

// Notes that input's listing, of identity made, replaced the earlier one
// (where earlier is not made.end()). Allocates nothing.
void note_made(Notes& notes, const platform::FileIdentity& made, const char* input,
               ListingsMade::iterator earlier) {
    if (earlier != notes.made.end()) {
        notes.made.erase(earlier);  // replaced: that file is gone
    }
    if (!made.known) {
        return;
    }
    notes.spare.key() = key_of(made);
    notes.spare.mapped() = input;
    auto noted = notes.made.insert(std::move(notes.spare));
    if (!noted.inserted) {
        noted.position->second = input;
        notes.spare = std::move(noted.node);
    }
}

// The arguments whose file names a listing could have, by those names, to
// find which ones a listing would replace: every listing's name ends in
// ".pal.c", whatever the case of the file system (empty for a run of one
// file, and for the usual run of palettes that are no listings).
using InputsByName = std::vector<std::pair<std::string_view, int>>;

char lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool name_before(std::string_view a, std::string_view b) {
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(),
                                        [](char x, char y) { return lower(x) < lower(y); });
}

bool named_as_a_listing(std::string_view file_name) {
    const std::string_view suffix = huemill::listing_suffix;
    return file_name.size() >= suffix.size() &&
           std::equal(suffix.begin(), suffix.end(), file_name.end() - suffix.size(),
                      [](char x, char y) { return x == lower(y); });
}

InputsByName inputs_by_name(int argc, char** arguments) {
    InputsByName inputs;
    for (int i = 2; i < argc; ++i) {  // the first is no later one
        const std::string_view argument(arguments[i]);
        const std::string_view file_name = argument.substr(huemill::file_name_start(argument));
        if (named_as_a_listing(file_name)) {
            inputs.emplace_back(file_name, i);
        }
    }
    std::stable_sort(inputs.begin(), inputs.end(),
                     [](const auto& a, const auto& b) { return name_before(a.first, b.first); });
    return inputs;
}

// The first argument after index that names standing, what stands at a
// listing's name file_name, so that replacing it would lose that input
// before its turn; nullptr where none does. Only arguments whose file name
// is file_name, but for case, are looked at.
const char* later_input_at(platform::Run& run, char** arguments, const InputsByName& inputs,
                           int index, std::string_view file_name,
                           const platform::FileIdentity& standing) {
    const auto [first, last] = std::equal_range(
        inputs.begin(), inputs.end(), std::make_pair(file_name, 0),
        [](const auto& a, const auto& b) { return name_before(a.first, b.first); });
    for (auto input = first; input != last; ++input) {
        if (input->second > index &&
            platform::same_file(platform::identity_of(run, arguments[input->second]), standing)) {
            return arguments[input->second];
        }
    }
    return nullptr;
}

// Reports why the listing name could not be replaced.
int listing_failed(const std::string& name, const huemill::ListingOutcome& outcome) {
    std::string detail;
    if (outcome.folder_refused) {
        const std::string folder = name.substr(0, huemill::file_name_start(name));
        detail = "cannot create a file in " + (folder.empty() ? "the current folder" : folder);
    } else if (outcome.error == platform::error_owner_not_kept) {
        detail = "cannot keep its owner";
    } else if (!outcome.left_behind.empty()) {
        detail = outcome.left_behind + " is left";
    }
    report(name, outcome.error, detail);
    return exit_failed;
}

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
            report(name, ENOMEM);
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
        report("standard output", error);
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

// The buffers every conversion uses in turn, owned by main for the run.
struct Buffers {
    huemill::HeaderBlock header;
    huemill::RecordArea records;
    huemill::ListingText text;
    std::string listing_name;
    std::string warnings;  // the lines to write once the listing is made or failed
};

// Says that input is not converted, as its listing would replace the
// palette it names, by that name or as the argument replaced.
int refuse(const char* input, const std::string& name, const char* replaced) {
    std::string refusal = "its listing ";
    if (name != input) {
        huemill::append_printable(refusal, name);
        refusal.append(" ");
    }
    refusal.append("would replace ");
    if (replaced == input) {
        refusal.append("it");
    } else {
        huemill::append_printable(refusal, replaced);
        refusal.append(", given later as a palette");
    }
    say(input, refusal + ": not converted");
    return exit_failed;
}

// Converts the palette that arguments[index] names into its listing,
// through the run's buffers, and says what needs saying. Returns
// exit_converted, or exit_failed once it has said why.
int convert(platform::Run& run, char** arguments, int index, const InputsByName& inputs,
            Buffers& buffers, Notes& notes) {
    const char* input = arguments[index];
    const std::string_view path(input);
    const std::size_t file_start = huemill::file_name_start(path);
    // A path that ends in a separator names the folder itself.
    const char* file = file_start > 0 && file_start == path.size() ? "." : input + file_start;
    platform::FolderHandle folder;
    huemill::ReadResult palette;
    palette.error = platform::open_folder(run, path.substr(0, file_start), folder);
    if (palette.error == 0) {
        palette = huemill::read_palette(*folder, file, buffers.header, buffers.records);
    }
    if (palette.error != 0) {
        report(input, palette.error);
        return exit_failed;
    }
    std::string& name = buffers.listing_name;
    huemill::listing_name(path, name);
    const std::string listing_file = name.substr(file_start);
    const std::size_t size =
        huemill::format_listing(palette.entry_count, buffers.records, buffers.text);

    platform::ListingHandle listing;
    platform::Standing standing = platform::Standing::nothing;
    platform::FileIdentity standing_identity;
    huemill::ListingOutcome outcome;
    outcome.error =
        platform::begin_listing(run, *folder, listing_file, listing, standing, standing_identity);
    if (outcome.error == 0 && standing != platform::Standing::nothing) {
        if (huemill::replaces_its_palette(*folder, {file, palette.identity},
                                          {listing_file, standing_identity})) {
            return refuse(input, name, input);
        }
        if (const char* later =
                later_input_at(run, arguments, inputs, index, listing_file, standing_identity)) {
            return refuse(input, name, later);
        }
    }
    if (outcome.error == 0 && standing == platform::Standing::folder) {
        outcome.error = EISDIR;
    }
    if (outcome.error == 0 && standing == platform::Standing::file) {
        outcome.error = platform::look_to_replace(*listing);
    }
    // What is said of a listing, and the note of it, are made before the
    // listing is: once it is, nothing can fail that would call it failed.
    std::string& warnings = buffers.warnings;
    warnings.clear();
    warn_if_not_a_palette(warnings, input, palette);
    auto earlier = notes.made.end();
    if (standing != platform::Standing::nothing) {
        earlier = notes.made.find(key_of(standing_identity));
    }
    if (earlier != notes.made.end()) {
        std::string warning = "warning: its listing ";
        huemill::append_printable(warning, name);
        warning.append(" replaces the one made from ");
        huemill::append_printable(warning, earlier->second);
        append_line(warnings, input, warning + " in this run");
    }
    prepare_note(notes);
    if (outcome.error == 0) {
        outcome = huemill::replace_listing(*listing, name, buffers.text.data(), size);
    }
    if (outcome.error == 0) {
        note_made(notes, outcome.made, input, earlier);
    }
    try {
        platform::write_text(Stream::error, warnings);
    } catch (const std::bad_alloc&) {
        // Only the warnings are lost: the listing is what it is.
    }
    return outcome.error == 0 ? exit_converted : listing_failed(name, outcome);
}

// The run: answers --help and --version, and converts every file named,
// in order, to the first that fails. Sets current to the argument being
// converted.
int run(int argc, char* argv[], const char*& current) {
    if (argc < 2) {
        return usage();
    }
    char** arguments = platform::utf8_arguments(argc, argv);
    // Alone, these are what every command-line tool answers; anywhere
    // else, and as ./--help, they name files.
    if (argc == 2 && std::string_view(arguments[1]) == "--help") {
        return answer(usage_text, exit_converted);
    }
    if (argc == 2 && std::string_view(arguments[1]) == "--version") {
        return answer(version_text, exit_converted);
    }
    reserve = std::malloc(reserve_size);
    if (reserve == nullptr) {
        return out_of_memory(nullptr);  // with nothing to throw an exception with
    }
    std::set_new_handler(out_of_memory_handler);
    // In static storage, so that the stack holds only small things.
    static Buffers buffers;
    const platform::RunHandle run = platform::start_run();
    const InputsByName inputs = inputs_by_name(argc, arguments);
    Notes notes;
    for (int i = 1; i < argc; ++i) {
        current = arguments[i];
        if (const int status = convert(*run, arguments, i, inputs, buffers, notes)) {
            return status;
        }
    }
    return exit_converted;
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
