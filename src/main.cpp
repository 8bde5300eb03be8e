// huemill: turns each palette file named on the command line into a listing
// beside it, in order, and stops at the first file it cannot convert.
#include <cstdio>
#include <cstring>
#include <string>

#include "listing_file.hpp"
#include "palette.hpp"

#ifdef __MINGW32__
// Every argument is a file name: keep the C runtime from expanding "*.pal".
extern "C" {
int _dowildcard = 0;
}
#endif

namespace {

constexpr int exit_converted = 0;
constexpr int exit_failed = 1;
constexpr int exit_usage = 2;

constexpr char usage_text[] = "\nUsage:  huemill file1.pal [file2.pal, file3.pal ...]\n";

// Appends name to line with its control bytes escaped, so that a message
// stays one line and a name cannot drive the terminal. Other bytes pass as
// they are, so UTF-8 names read as they should.
void append_printable(std::string& line, const char* name) {
    for (const char* at = name; *at != '\0'; ++at) {
        const auto byte = static_cast<unsigned char>(*at);
        if (byte >= 0x20 && byte != 0x7F) {
            line += *at;
        } else if (byte == '\n') {
            line += "\\n";
        } else if (byte == '\t') {
            line += "\\t";
        } else if (byte == '\r') {
            line += "\\r";
        } else {
            constexpr char digits[] = "0123456789ABCDEF";
            line += {'\\', 'x', digits[byte >> 4U], digits[byte & 0xFU]};
        }
    }
}

// Reports on standard error, in one line, that name failed with error.
void report(const char* name, int error) {
    std::string line = "huemill: ";
    append_printable(line, name);
    line.append(": ").append(std::strerror(error)).append("\n");
    std::fputs(line.c_str(), stderr);
}

int fail(const char* name, int error) {
    report(name, error);
    return exit_failed;
}

// Writes the usage text, and says so where standard output would not take it.
int usage() {
    std::fputs(usage_text, stdout);
    if (std::fflush(stdout) != 0) {
        report("standard output", huemill::failure_errno());
    }
    return exit_usage;
}

}  // namespace

int main(int argc, char* argv[]) {
    if (argc < 2) {
        return usage();
    }
    huemill::prepare_listing_files();
    // One set of buffers serves every file in turn.
    huemill::HeaderBlock header;
    huemill::RecordArea records;
    huemill::ListingText text;
    std::string listing;
    for (int i = 1; i < argc; ++i) {
        const huemill::ReadResult palette = huemill::read_palette(argv[i], header, records);
        if (palette.error != 0) {
            return fail(argv[i], palette.error);
        }
        huemill::listing_name(argv[i], listing);
        const std::size_t size = huemill::format_listing(palette.entry_count, records, text);
        const int error = huemill::replace_listing(listing, text.data(), size);
        if (error != 0) {
            return fail(listing.c_str(), error);
        }
    }
    return exit_converted;
}
