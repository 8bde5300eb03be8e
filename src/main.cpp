// huemill: turns each palette file named on the command line into a listing
// beside it, in order, and stops at the first file it cannot convert.
#include <string>

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

// Reports on standard error, in one line, that name failed with error, and
// why in detail where there is more to say.
void report(const std::string& name, int error, const std::string& detail = "") {
    std::string line = "huemill: ";
    huemill::append_printable(line, name);
    line.append(": ").append(huemill::platform::describe(error));
    if (!detail.empty()) {
        line.append(" (");
        huemill::append_printable(line, detail);
        line.append(")");
    }
    line.append("\n");
    huemill::platform::write_text(Stream::error, line);
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

// Writes the usage text, and says so where standard output would not take it.
int usage() {
    if (const int error = huemill::platform::write_text(Stream::output, usage_text)) {
        report("standard output", error);
    }
    return exit_usage;
}

}  // namespace

int main(int argc, char* argv[]) {
    huemill::platform::prepare_process();
    if (argc < 2) {
        return usage();
    }
    char** arguments = huemill::platform::utf8_arguments(argc, argv);
    // One set of buffers serves every file in turn.
    huemill::HeaderBlock header;
    huemill::RecordArea records;
    huemill::ListingText text;
    std::string listing_name;
    huemill::platform::Listing listing;  // the one in progress
    for (int i = 1; i < argc; ++i) {
        const huemill::ReadResult palette = huemill::read_palette(arguments[i], header, records);
        if (palette.error != 0) {
            report(arguments[i], palette.error);
            return exit_failed;
        }
        huemill::listing_name(arguments[i], listing_name);
        const std::size_t size = huemill::format_listing(palette.entry_count, records, text);
        const huemill::ListingOutcome outcome =
            huemill::replace_listing(listing, listing_name, text.data(), size);
        if (outcome.error != 0) {
            return listing_failed(listing_name, outcome);
        }
    }
    return exit_converted;
}
