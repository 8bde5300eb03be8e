// huemill: turns each palette file named on the command line into a listing
// beside it, in order, and stops at the first file it cannot convert.
#include <cerrno>
#include <map>
#include <new>
#include <string>
#include <string_view>

#include "listing_file.hpp"
#include "message.hpp"
#include "palette.hpp"
#include "platform.hpp"

namespace {

using huemill::platform::Stream;

constexpr int exit_converted = 0;
constexpr int exit_failed = 1;
constexpr int exit_usage = 2;

constexpr char usage_text[] = "\nUsage:  huemill file1.pal [file2.pal, file3.pal ...]\n";
constexpr char version_text[] = "huemill " HUEMILL_VERSION "\n";

// For a window that would close before the usage text could be read.
constexpr char double_clicked_text[] =
    "huemill is a command-line program: run it from Command Prompt or PowerShell,\n"
    "with the names of palette files. Press a key to close this window.\n";

// Writes "huemill: NAME: " and then text, which ends the line, on
// standard error, with name shown as a message may show it.
void say(const std::string& name, const std::string& text) {
    std::string line = "huemill: ";
    huemill::append_printable(line, name);
    line.append(": ").append(text).append("\n");
    huemill::platform::write_text(Stream::error, line);
}

// Reports on standard error, in one line, that name failed with error, and
// why in detail where there is more to say.
void report(const std::string& name, int error, const std::string& detail = "") {
    std::string reason = huemill::platform::describe(error);
    if (!detail.empty()) {
        reason.append(" (");
        huemill::append_printable(reason, detail);
        reason.append(")");
    }
    say(name, reason);
}

// Warns on standard error, in one line, that what was read from name is
// not a whole palette, where it is not: the listing is made all the same.
void warn_if_not_a_palette(const char* name, const huemill::ReadResult& palette) {
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
    say(name, "warning: " + warning);
}

// The listings the run has made, each with the input it was made from.
// A listing is known by the part of its name that its input's argument
// holds (all but listing_suffix): both are arguments, which last for the
// run, so nothing is copied.
using ListingsMade = std::map<std::string_view, const char*>;

// Warns on standard error, in one line, that input's listing, name,
// replaced one that the run had made from another input (or the same one
// given twice), and notes that it was made from input.
void warn_if_made_before(const char* input, const std::string& name, ListingsMade& made) {
    const std::string_view kept(input, name.size() - huemill::listing_suffix.size());
    const auto [earlier, first] = made.try_emplace(kept, input);
    if (!first) {
        std::string warning = "warning: its listing ";
        huemill::append_printable(warning, name);
        warning.append(" replaces the one made from ");
        huemill::append_printable(warning, earlier->second);
        say(input, warning + " in this run");
        earlier->second = input;
    }
}

// Reports why the listing name could not be replaced.
int listing_failed(const std::string& name, const huemill::ListingOutcome& outcome) {
    std::string detail;
    if (outcome.folder_refused) {
        const std::string folder = name.substr(0, huemill::platform::file_name_start(name));
        detail = "cannot create a file in " + (folder.empty() ? "the current folder" : folder);
    } else if (outcome.error == huemill::platform::error_owner_not_kept) {
        detail = "cannot keep its owner";
    } else if (!outcome.left_behind.empty()) {
        detail = outcome.left_behind + " is left";
    }
    report(name, outcome.error, detail);
    return exit_failed;
}

// Reports that memory ran out while name was converted, even where the
// message itself finds none: then without the name.
int out_of_memory(const std::string& name) {
    try {
        report(name, ENOMEM);
    } catch (const std::bad_alloc&) {
        huemill::platform::write_text(Stream::error, "huemill: Cannot allocate memory\n");
    }
    return exit_failed;
}

// Writes text on standard output and returns status, or says where
// standard output would not take it; a reader that went away (a closed
// pipe) is no news.
int answer(const char* text, int status) {
    const int error = huemill::platform::write_text(Stream::output, text);
    if (error != 0 && error != EPIPE) {
        report("standard output", error);
    }
    return status;
}

// Writes the usage text, where no file was named.
int usage() {
    answer(usage_text, exit_usage);
    if (huemill::platform::console_closes_with_the_run()) {
        huemill::platform::write_text(Stream::output, double_clicked_text);
        huemill::platform::wait_for_a_key();
    }
    return exit_usage;
}

// The buffers every conversion uses in turn, owned by main for the run.
struct Buffers {
    huemill::HeaderBlock header;
    huemill::RecordArea records;
    huemill::ListingText text;
    std::string listing_name;
};

// Converts the palette named input into its listing, through the run's
// buffers and listing in progress, and says what needs saying. Returns
// exit_converted, or exit_failed once it has said why.
int convert(const char* input, Buffers& buffers, huemill::platform::Listing& listing,
            ListingsMade& made) {
    const huemill::ReadResult palette =
        huemill::read_palette(listing, input, buffers.header, buffers.records);
    if (palette.error != 0) {
        report(input, palette.error);
        return exit_failed;
    }
    std::string& name = buffers.listing_name;
    huemill::listing_name(input, name);
    const std::size_t size =
        huemill::format_listing(palette.entry_count, buffers.records, buffers.text);
    const huemill::ListingOutcome outcome =
        huemill::replace_listing(listing, name, buffers.text.data(), size);
    if (outcome.error == huemill::platform::error_listing_is_input) {
        std::string refusal = "its listing ";
        if (name != input) {
            huemill::append_printable(refusal, name);
            refusal.append(" ");
        }
        say(input, refusal + "would replace it: not converted");
        return exit_failed;
    }
    warn_if_not_a_palette(input, palette);
    if (outcome.error != 0) {
        return listing_failed(name, outcome);
    }
    warn_if_made_before(input, name, made);
    return exit_converted;
}

}  // namespace

int main(int argc, char* argv[]) {
    huemill::platform::prepare_process();
    if (argc < 2) {
        return usage();
    }
    char** arguments = huemill::platform::utf8_arguments(argc, argv);
    // Alone, these are what every command-line tool answers; anywhere
    // else, and as ./--help, they name files.
    if (argc == 2 && std::string_view(arguments[1]) == "--help") {
        return answer(usage_text, exit_converted);
    }
    if (argc == 2 && std::string_view(arguments[1]) == "--version") {
        return answer(version_text, exit_converted);
    }
    // In static storage, so that the stack holds only small things.
    static Buffers buffers;
    const huemill::platform::ListingHandle listing = huemill::platform::new_listing();
    ListingsMade made;
    for (int i = 1; i < argc; ++i) {
        try {
            if (const int status = convert(arguments[i], buffers, *listing, made)) {
                return status;
            }
        } catch (const std::bad_alloc&) {
            return out_of_memory(arguments[i]);
        }
    }
    return exit_converted;
}
