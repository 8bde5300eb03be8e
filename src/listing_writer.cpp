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

// Writes value in upper-case hexadecimal, without leading zeros ("0" for
// zero), at out and returns the end of what it wrote.
char* put_hex(char* out, std::uint32_t value) {
    char digits[8];
    int count = 0;
    do {
        digits[count++] = "0123456789ABCDEF"[value & 0xFU];
        value >>= 4U;
    } while (value != 0);
    return std::reverse_copy(digits, digits + count, out);
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
