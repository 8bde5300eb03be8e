// huemill: turns each palette file named on the command line into a listing
// beside it, in order, and stops at the first file it cannot convert.
#include <cstdio>
#include <cstring>
#include <string>

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

// Reports on standard error that name failed with error, in the one form
// huemill has, and gives the exit status of a failed run.
int fail(const char* name, int error) {
    std::fprintf(stderr, "huemill: %s: %s\n", name, std::strerror(error));
    return exit_failed;
}

// Creates the listing file name, writes the listing into it and closes it.
// Returns 0, or the errno of the first failure; a listing that was created
// but not completely written is removed, so none is left looking complete.
int create_listing(const std::string& name, unsigned entry_count,
                   const huemill::RecordArea& records, huemill::ListingText& text) {
    std::FILE* file = std::fopen(name.c_str(), "wb");
    if (file == nullptr) {
        return huemill::failure_errno();
    }
    // The writer hands over the whole listing in one call; a stream buffer
    // would only copy it and split the write.
    std::setvbuf(file, nullptr, _IONBF, 0);
    int error = huemill::write_listing(file, entry_count, records, text);
    if (std::fclose(file) != 0 && error == 0) {
        error = huemill::failure_errno();
    }
    if (error != 0) {
        std::remove(name.c_str());
    }
    return error;
}

}  // namespace

int main(int argc, char* argv[]) {
    if (argc < 2) {
        std::fputs(usage_text, stdout);
        return exit_usage;
    }
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
        const int error = create_listing(listing, palette.entry_count, records, text);
        if (error != 0) {
            return fail(listing.c_str(), error);
        }
    }
    return exit_converted;
}
