// Feeds arbitrary bytes to the reader as the start of a palette file, in
// memory, formats the listing, and checks it line by line against the bytes
// themselves: the declaration, exactly entry-count record lines of the
// writer's form holding the values at the records' offsets (zero past the
// end of the bytes), a closing line end, and nothing else. Reading files
// and writing listings are the tests' part.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

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

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // Kept across runs, as the program keeps them across files.
    static huemill::HeaderBlock header;
    static huemill::RecordArea records;
    static huemill::ListingText text;
    // As a read puts them: into the header, then the records.
    const std::size_t in_header = std::min(size, header.size());
    std::copy(data, data + in_header, header.begin());
    std::copy(data + in_header, data + in_header + std::min(size - in_header, records.size()),
              records.begin());
    const unsigned entry_count = huemill::complete_palette(size, header, records);
    check(entry_count == (size > 22 ? data[22] : 0U), "entry count is byte 22");

    const std::size_t listing_size = huemill::format_listing(entry_count, records, text);
    std::string_view listing(text.data(), listing_size);
    check(listing.substr(0, huemill::declaration_line.size()) == huemill::declaration_line,
          "declaration line");
    listing.remove_prefix(huemill::declaration_line.size());
    for (std::size_t k = 0; k < entry_count; ++k) {
        const std::size_t offset = 23 + 16 * k;
        check(take_field(listing, "\nr: ") == value_at(data, size, offset), "red");
        check(take_field(listing, ", g: ") == value_at(data, size, offset + 4), "green");
        check(take_field(listing, ", b: ") == value_at(data, size, offset + 8), "blue");
    }
    check(listing == "\n", "closing line end and nothing after it");
    return 0;
}
