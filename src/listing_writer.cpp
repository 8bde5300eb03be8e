// The listing: its name and its text.
#include <algorithm>

#include "palette.hpp"
#include "platform.hpp"

namespace huemill {
namespace {

char* put_text(char* out, std::string_view text) {
    return std::copy(text.begin(), text.end(), out);
}

// The two upper-case hexadecimal digits of every byte value, the first in
// the lower byte. A listing holds up to 765 values, the bulk of huemill's
// own work, so digits are looked up in pairs rather than made one by one.
constexpr std::array<std::uint16_t, 256> hex_pairs = [] {
    constexpr char digits[] = "0123456789ABCDEF";
    std::array<std::uint16_t, 256> pairs{};
    for (std::size_t byte = 0; byte < 256; ++byte) {
        pairs[byte] = static_cast<std::uint16_t>(static_cast<unsigned>(digits[byte >> 4U]) |
                                                 static_cast<unsigned>(digits[byte & 0xFU]) << 8U);
    }
    return pairs;
}();

// How many hexadecimal digits value has without leading zeros: 1 to 8.
// One instruction on x86 (bsr or lzcnt); value | 1 keeps zero defined.
std::size_t hex_digit_count(std::uint32_t value) {
    return 8 - static_cast<std::size_t>(__builtin_clz(value | 1U)) / 4;
}

// Writes value in upper-case hexadecimal, without leading zeros ("0" for
// zero), at out and returns the end of it. Always stores eight bytes, which
// later text overwrites (ListingText leaves room past the longest listing).
char* put_hex(char* out, std::uint32_t value) {
    // All eight digits, the most significant in the lowest byte.
    const std::uint64_t digits = std::uint64_t{hex_pairs[value >> 24U]} |
                                 std::uint64_t{hex_pairs[value >> 16U & 0xFFU]} << 16U |
                                 std::uint64_t{hex_pairs[value >> 8U & 0xFFU]} << 32U |
                                 std::uint64_t{hex_pairs[value & 0xFFU]} << 48U;
    const std::size_t count = hex_digit_count(value);
    const std::uint64_t shown = digits >> (8 * (8 - count));
    // Unrolled, the eight byte stores merge into one.
#pragma GCC unroll 8
    for (std::size_t i = 0; i < 8; ++i) {
        out[i] = static_cast<char>(shown >> (8 * i) & 0xFFU);
    }
    return out + count;
}

}  // namespace

void listing_name(std::string_view argument, std::string& listing) {
    const std::size_t name_start = platform::file_name_start(argument);
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

}  // namespace huemill
