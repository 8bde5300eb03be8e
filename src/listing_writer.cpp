// The listing: its file name and its text.
#include <algorithm>
#include <cerrno>
#include <cstdio>

#include "palette.hpp"

namespace huemill {
namespace {

char* put_text(char* out, std::string_view text) {
    return std::copy(text.begin(), text.end(), out);
}

// The eight upper-case hexadecimal digits of value as the bytes of a 64-bit
// number, the most significant digit in its lowest byte: the order they are
// written in. A listing holds up to 765 values, the bulk of huemill's own
// work, so the eight digits are worked out together rather than one by one.
std::uint64_t hex_digit_bytes(std::uint32_t value) {
    // Reverse the order of the nibbles...
    std::uint32_t reversed =
        value >> 24U | (value >> 8U & 0xFF00U) | (value << 8U & 0xFF0000U) | value << 24U;
    reversed = (reversed >> 4U & 0x0F0F0F0FU) | (reversed & 0x0F0F0F0FU) << 4U;
    // ...and spread them out, nibble k into byte k.
    std::uint64_t x = reversed;
    x = (x | x << 16U) & 0x0000FFFF0000FFFFU;
    x = (x | x << 8U) & 0x00FF00FF00FF00FFU;
    x = (x | x << 4U) & 0x0F0F0F0F0F0F0F0FU;
    // 0-9 become '0'-'9'; 10-15, which carry into bit 4 when 6 is added,
    // become 'A'-'F'.
    const std::uint64_t above_nine = (x + 0x0606060606060606U) >> 4U & 0x0101010101010101U;
    return x + 0x3030303030303030U + above_nine * 7U;
}

// Writes value in upper-case hexadecimal, without leading zeros ("0" for
// zero), at out and returns the end of it. Always stores eight bytes, which
// later text overwrites (ListingText leaves room past the longest listing).
char* put_hex(char* out, std::uint32_t value) {
    std::size_t count = 8;
    while (count > 1 && (value >> (4 * (count - 1))) == 0) {
        --count;
    }
    const std::uint64_t digits = hex_digit_bytes(value) >> (8 * (8 - count));
    // Unrolled, the eight byte stores merge into one.
#pragma GCC unroll 8
    for (std::size_t i = 0; i < 8; ++i) {
        out[i] = static_cast<char>(digits >> (8 * i) & 0xFFU);
    }
    return out + count;
}

}  // namespace

void listing_name(std::string_view argument, std::string& listing) {
    // npos + 1 is 0: an argument without a separator has no folder part.
    const std::size_t name_start = argument.find_last_of("/\\") + 1;
    // A leading dot belongs to the name (".hidden.pal" has stem ".hidden").
    const std::size_t stem_end = argument.find('.', name_start + 1);
    listing.assign(argument.substr(0, stem_end));
    listing.append(".pal.c");
}

std::size_t format_listing(unsigned entry_count, const RecordArea& records, ListingText& text) {
    const std::size_t count = std::min<std::size_t>(entry_count, max_entry_count);
    char* out = put_text(text.data(), declaration_line);
    for (std::size_t k = 0; k < count; ++k) {
        out = put_text(out, "\nr: ");
        out = put_hex(out, record_red(records, k));
        out = put_text(out, ", g: ");
        out = put_hex(out, record_green(records, k));
        out = put_text(out, ", b: ");
        out = put_hex(out, record_blue(records, k));
    }
    *out++ = '\n';
    return static_cast<std::size_t>(out - text.data());
}

int write_listing(std::FILE* file, unsigned entry_count, const RecordArea& records,
                  ListingText& text) {
    const std::size_t size = format_listing(entry_count, records, text);
    errno = 0;
    if (std::fwrite(text.data(), 1, size, file) != size) {
        return failure_errno();
    }
    return 0;
}

}  // namespace huemill
