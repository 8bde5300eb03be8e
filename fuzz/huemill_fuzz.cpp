// Feeds arbitrary bytes to the reader as a palette file, writes the listing,
// and checks it line by line against the bytes themselves: the declaration,
// exactly entry-count record lines of the writer's form holding the values
// at the records' offsets (zero past the end of the bytes), a closing line
// end, and nothing else.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "listing_file.hpp"
#include "palette.hpp"

namespace {

void check(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "listing check failed: %s\n", what);
        std::abort();
    }
}

// The little-endian value at offset of the input, zero where it ends sooner.
std::uint32_t value_at(const std::uint8_t* data, std::size_t size, std::size_t offset) {
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < 4; ++i) {
        if (offset + i < size) {
            value |= std::uint32_t{data[offset + i]} << (8 * i);
        }
    }
    return value;
}

// Takes "PREFIX" then upper-case hex without leading zeros from the front of
// text, and returns the value; aborts if text does not start that way.
std::uint32_t take_field(std::string_view& text, std::string_view prefix) {
    check(text.substr(0, prefix.size()) == prefix, "field prefix");
    text.remove_prefix(prefix.size());
    std::size_t digits = 0;
    std::uint64_t value = 0;
    while (digits < text.size()) {
        const char c = text[digits];
        const bool decimal = c >= '0' && c <= '9';
        if (!decimal && !(c >= 'A' && c <= 'F')) {
            break;
        }
        value = value * 16 + static_cast<unsigned>(decimal ? c - '0' : c - 'A' + 10);
        ++digits;
    }
    check(digits >= 1 && digits <= 8, "one to eight hex digits");
    check(digits == 1 || text[0] != '0', "no leading zero");
    text.remove_prefix(digits);
    return static_cast<std::uint32_t>(value);
}

// This process's scratch files, the palette fed in and the listing made,
// removed when the fuzzer exits.
struct ScratchFiles {
    std::string palette;
    std::string listing;
    ~ScratchFiles() {
        std::remove(palette.c_str());
        std::remove(listing.c_str());
    }
};

const ScratchFiles& scratch() {
    static const std::string stem = "/tmp/huemill_fuzz_" + std::to_string(getpid());
    static const ScratchFiles files{stem + ".pal", stem + ".pal.c"};
    return files;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string& palette_path = scratch().palette;
    const std::string& listing_path = scratch().listing;
    std::FILE* input = std::fopen(palette_path.c_str(), "wb");
    check(input != nullptr, "scratch palette opens");
    check(std::fwrite(data, 1, size, input) == size && std::fclose(input) == 0,
          "scratch palette written");

    // Kept across runs, as the program keeps them across files.
    static huemill::HeaderBlock header;
    static huemill::RecordArea records;
    static huemill::ListingText text;
    const huemill::ReadResult palette =
        huemill::read_palette(palette_path.c_str(), header, records);
    check(palette.error == 0, "a regular file reads");
    check(palette.entry_count == (size > 22 ? data[22] : 0U), "entry count is byte 22");

    const std::size_t listing_size = huemill::format_listing(palette.entry_count, records, text);
    check(huemill::replace_listing(listing_path, text.data(), listing_size).error == 0,
          "listing written");
    std::string written(huemill::listing_capacity + 1, '\0');
    std::FILE* back = std::fopen(listing_path.c_str(), "rb");
    check(back != nullptr, "listing reopens");
    written.resize(std::fread(written.data(), 1, written.size(), back));
    std::fclose(back);

    std::string_view listing = written;
    check(listing.substr(0, huemill::declaration_line.size()) == huemill::declaration_line,
          "declaration line");
    listing.remove_prefix(huemill::declaration_line.size());
    for (std::size_t k = 0; k < palette.entry_count; ++k) {
        const std::size_t offset = 23 + 16 * k;
        check(take_field(listing, "\nr: ") == value_at(data, size, offset), "red");
        check(take_field(listing, ", g: ") == value_at(data, size, offset + 4), "green");
        check(take_field(listing, ", b: ") == value_at(data, size, offset + 8), "blue");
    }
    check(listing == "\n", "closing line end and nothing after it");
    return 0;
}
