// The palette file's layout, the buffers it is read into, and the three
// steps of a conversion: read a palette (palette_reader.cpp), name its
// listing (listing_name.cpp), make the listing's text (listing_text.cpp).
#ifndef HUEMILL_PALETTE_HPP
#define HUEMILL_PALETTE_HPP

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform.hpp"

namespace huemill {

// A palette file: a 23-byte header whose byte 22 is the entry count, then
// 16-byte records of red, green and blue as little-endian 32-bit values
// (and 4 bytes nothing reads).
constexpr std::size_t header_size = 23;
constexpr std::size_t entry_count_offset = 22;
constexpr std::size_t record_size = 16;
constexpr std::size_t record_area_size = 4096;
constexpr std::size_t max_entry_count = 255;

// The file's bytes 0 to 22; byte 22 is the entry count.
using HeaderBlock = std::array<unsigned char, header_size>;

// The file's bytes from 23 on: byte j of the area is the file's byte 23 + j.
using RecordArea = std::array<unsigned char, record_area_size>;

// What every listing's name ends in, after the part it keeps of its
// argument (stem.h, which the build's function shares).
constexpr std::string_view listing_suffix = ".pal.c";

// The digits a listing writes its values in, upper case; messages use
// them too, for the characters they show escaped.
constexpr char upper_hex_digits[] = "0123456789ABCDEF";

// The longest listing: the declaration line, 255 record lines of three
// 8-digit values, and the closing line end.
constexpr std::string_view declaration_line = "const unsigned short master_Palette[256]={\n";
constexpr std::size_t max_record_line_size = std::string_view("\nr: , g: , b: ").size() + 3 * 8;
constexpr std::size_t listing_capacity =
    declaration_line.size() + max_entry_count * max_record_line_size + 1;

// Room for one listing's text, formatted before it is written, and for the
// 7 bytes past its end that the formatting may store and then overwrite.
using ListingText = std::array<char, listing_capacity + 7>;

// What reading one palette file gave: error is 0 and the rest says what
// was read, or error is the failure (see platform.hpp).
struct ReadResult {
    int error = 0;
    unsigned entry_count = 0;         // the header's byte 22
    std::size_t size = 0;             // the file's length, counted up to 23 + 4096 bytes
    bool is_listing = false;          // it begins with a listing's declaration line
    platform::FileIdentity identity;  // the file's, as it was read
};

// How many records the first size bytes of a palette file hold in full:
// each record's red, green and blue values, whatever its last 4 bytes.
inline unsigned records_held(std::size_t size) {
    constexpr std::size_t values_size = 12;
    if (size < header_size + values_size) {
        return 0;
    }
    return static_cast<unsigned>((size - header_size - values_size) / record_size + 1);
}

// The little-endian 32-bit value at offset in the record area, assembled
// byte by byte so that the host's own byte order never matters. (Compilers
// turn this into a single load where the host is little-endian.)
inline std::uint32_t little_endian_at(const RecordArea& records, std::size_t offset) {
    const unsigned char* bytes = records.data() + offset;
    return std::uint32_t{bytes[0]} | std::uint32_t{bytes[1]} << 8U |
           std::uint32_t{bytes[2]} << 16U | std::uint32_t{bytes[3]} << 24U;
}

// Record k's red, green and blue values, for k below 256.
inline std::uint32_t record_red(const RecordArea& records, std::size_t k) {
    return little_endian_at(records, k * record_size);
}
inline std::uint32_t record_green(const RecordArea& records, std::size_t k) {
    return little_endian_at(records, k * record_size + 4);
}
inline std::uint32_t record_blue(const RecordArea& records, std::size_t k) {
    return little_endian_at(records, k * record_size + 8);
}

// Completes a palette whose first size bytes were read into header and
// then records (at most 23 + 4096 count): zero wherever they ended sooner,
// so that a short file never shows an earlier one's bytes. Returns the
// entry count, the header's byte 22 (0 where the bytes end before it).
unsigned complete_palette(std::size_t size, HeaderBlock& header, RecordArea& records);

// Reads the palette file file_name in folder into header and records,
// which then hold the file's first 23 + 4096 bytes, zero wherever the file
// ends sooner. Reads sequentially, so pipes and devices work, and never
// more than those bytes, so a huge file costs what a small one does. Where
// the file cannot be opened, header and records are left as they were.
ReadResult read_palette(const platform::Folder& folder, const char* file_name, HeaderBlock& header,
                        RecordArea& records);

// Where the file name in path starts, after its folder part: after the last
// '/', and where a backslash separates folders (Windows) after the last '\'
// too, or after a drive's "C:" where neither follows it; 0 where path has
// no folder part. The one rule for splitting a path.
std::size_t file_name_start(std::string_view path);

// The stem of argument's file name (see file_name_start): up to its first
// '.' that is not its first character (stem.h).
std::string_view stem_of(std::string_view argument);

// Puts into listing the name of the listing for argument: its folder part
// unchanged, then its stem, then ".pal.c". Reuses listing's storage, so a
// run allocates only when a name grows.
void listing_name(std::string_view argument, std::string& listing);

// The name of the C table made for stem: "palette", then each run of ASCII
// letters and digits in stem after an underscore ("1up" gives palette_1up,
// "a-b c" palette_a_b_c, "ação" palette_a_o, "..." palette). A valid C and
// C++ identifier for every stem: no keyword starts so, nor any name a
// compiler keeps for itself (no two underscores together, none first).
std::string table_name(std::string_view stem);

// Why name cannot be a table's name, as given with --name; nullptr where it
// can: an identifier of ASCII letters, digits and '_' that C and C++ both
// take and neither keeps (no keyword of either, no '_' first, no "__"), and
// none of huemill's own (huemill_..., HUEMILL_...).
const char* why_no_table_name(std::string_view name);

// What a C table holds its values in: unsigned long, or an exact-width
// type of <stdint.h> (--type).
enum class TableType { unsigned_long, u8, u16, u32 };

// How a C table is made: its values' type, and whether it is shared by a
// program's source files (--extern): declared for every file that includes
// it, defined in the one that defines HUEMILL_DEFINE_TABLES first.
struct TableForm {
    TableType type = TableType::unsigned_long;
    bool shared = false;
};

// A value that a table's type cannot hold: record k's red (0), green (1)
// or blue (2).
struct Misfit {
    std::size_t record = 0;
    int channel = 0;
    std::uint32_t value = 0;
};

// The type's name, as --type takes it ("u8"), or "" for unsigned long.
std::string_view type_name(TableType type);

// Whether every value of the first entry_count records fits type, given
// value_bits, every bit any of them has (as format_table reports it);
// where one does not, misfit says which, the first.
bool fits(unsigned entry_count, const RecordArea& records, TableType type, std::uint32_t value_bits,
          Misfit& misfit);

// Puts into text the listing as a C table named name (--format=c) of the
// first entry_count records (at most 255), made from the palette file
// palette_file (its name, without a folder), in form, and returns its
// length in bytes (text may be longer: it keeps its room for the next),
// and into value_bits every bit any value has. By default:
//
//     /* Made by huemill from sky.pal. */
//     static const struct {
//         int count;
//         unsigned long colors[16][3];
//     } palette_sky = {16, {
//         {0xA, 0x28, 0x78},
//         ...
//     }};
//
// which compiles as C89 to C23 and C++98 to C++23, included into the
// source file that uses it; unsigned long holds every 32-bit value on
// every target. With a type, the values are that <stdint.h> type. Shared,
// every source file that includes it sees "extern const struct
// huemill_palette NAME;" (huemill_palette_u8 and so on with a type), a
// struct of count and colors, a pointer to the records, declared once in a
// file however many tables it includes; the file that defines
// HUEMILL_DEFINE_TABLES first gets the definitions too. A table of no
// records holds one of zeros, as C has no empty array, and count 0.
std::size_t format_table(unsigned entry_count, const RecordArea& records,
                         std::string_view palette_file, std::string_view name,
                         const TableForm& form, std::string& text, std::uint32_t& value_bits);

// Formats the listing of the first entry_count records (at most 255) into
// text and returns its length in bytes.
std::size_t format_listing(unsigned entry_count, const RecordArea& records, ListingText& text);

// The same, its digits made with the table the 32-bit Windows program uses
// (i686 has no SSE2 by default), which format_listing uses elsewhere only
// where SSE2 is missing: built everywhere, so that the tests check it on
// every machine against the other.
std::size_t format_listing_by_table(unsigned entry_count, const RecordArea& records,
                                    ListingText& text);

}  // namespace huemill

#endif
