// The listing's text: its declaration line and record lines, or a C table.
#include <algorithm>
#include <iterator>

#if defined(__SSE2__) && defined(__x86_64__)
#include <emmintrin.h>
#endif

#include "message.hpp"
#include "palette.hpp"

namespace huemill {
namespace {

char* put_text(char* out, std::string_view text) {
    return std::copy(text.begin(), text.end(), out);
}

// Writes number in decimal at out and returns the end of it.
char* put_decimal(char* out, std::size_t number) {
    char digits[20];
    char* first = std::end(digits);
    do {
        *--first = static_cast<char>('0' + number % 10);
        number /= 10;
    } while (number != 0);
    return std::copy(first, std::end(digits), out);
}

// How many hexadecimal digits value has without leading zeros: 1 to 8.
// One instruction on x86 (bsr or lzcnt); value | 1 keeps zero defined.
std::size_t hex_digit_count(std::uint32_t value) {
    return 8 - static_cast<std::size_t>(__builtin_clz(value | 1U)) / 4;
}

// A listing holds up to 765 values, and writing them is the bulk of
// huemill's own work: each value's eight upper-case hexadecimal digits are
// made as one 64-bit word, the most significant digit in its lowest byte.
// Two ways make them: a table of the digit pairs of every byte, which
// every processor runs (the 32-bit Windows program's, as i686 has no SSE2
// by default), and SSE2 where every processor of the target has it.

// The two digits of every byte value, the first in the lower byte.
constexpr std::array<std::uint16_t, 256> hex_pairs = [] {
    std::array<std::uint16_t, 256> pairs{};
    for (std::size_t byte = 0; byte < 256; ++byte) {
        pairs[byte] =
            static_cast<std::uint16_t>(static_cast<unsigned>(upper_hex_digits[byte >> 4U]) |
                                       static_cast<unsigned>(upper_hex_digits[byte & 0xFU]) << 8U);
    }
    return pairs;
}();

// The digits of value, looked up in pairs.
std::uint64_t hex_digits(std::uint32_t value) {
    return std::uint64_t{hex_pairs[value >> 24U]} |
           std::uint64_t{hex_pairs[value >> 16U & 0xFFU]} << 16U |
           std::uint64_t{hex_pairs[value >> 8U & 0xFFU]} << 32U |
           std::uint64_t{hex_pairs[value & 0xFFU]} << 48U;
}

// The digits of record k's red, green and blue values, into digits, from
// the table.
void record_digits_by_table(const RecordArea& records, std::size_t k, std::uint64_t (&digits)[3]) {
    digits[0] = hex_digits(record_red(records, k));
    digits[1] = hex_digits(record_green(records, k));
    digits[2] = hex_digits(record_blue(records, k));
}

#if defined(__SSE2__) && defined(__x86_64__)

// The same with SSE2, which every x86-64 processor has: all 24 digits at
// once, each byte split into its two digits, each value's bytes put most
// significant first, and each digit turned into its character.
void record_digits_by_sse2(const RecordArea& records, std::size_t k, std::uint64_t (&digits)[3]) {
    // Record k and the 4 bytes after its blue value, which are its own.
    const __m128i values =
        _mm_loadu_si128(reinterpret_cast<const __m128i*>(records.data() + k * record_size));
    const __m128i nibble = _mm_set1_epi8(0x0F);
    const __m128i high = _mm_and_si128(_mm_srli_epi16(values, 4), nibble);
    const __m128i low = _mm_and_si128(values, nibble);
    const auto characters = [](__m128i pairs) {
        // Digits of bytes 0 to 3 of a value: reversed to 3 to 0.
        pairs = _mm_shufflehi_epi16(_mm_shufflelo_epi16(pairs, 0x1B), 0x1B);
        const __m128i letter = _mm_cmpgt_epi8(pairs, _mm_set1_epi8(9));
        return _mm_add_epi8(_mm_add_epi8(pairs, _mm_set1_epi8('0')),
                            _mm_and_si128(letter, _mm_set1_epi8('A' - '0' - 10)));
    };
    const __m128i red_green = characters(_mm_unpacklo_epi8(high, low));
    const __m128i blue = characters(_mm_unpackhi_epi8(high, low));
    digits[0] = static_cast<std::uint64_t>(_mm_cvtsi128_si64(red_green));
    digits[1] =
        static_cast<std::uint64_t>(_mm_cvtsi128_si64(_mm_unpackhi_epi64(red_green, red_green)));
    digits[2] = static_cast<std::uint64_t>(_mm_cvtsi128_si64(blue));
}

constexpr auto fastest_record_digits = record_digits_by_sse2;

#else

constexpr auto fastest_record_digits = record_digits_by_table;

#endif

// Writes value, whose digits are digits, without leading zeros ("0" for
// zero) at out and returns the end of it. Always stores eight bytes, which
// later text overwrites (ListingText leaves room past the longest listing).
char* put_hex(char* out, std::uint64_t digits, std::uint32_t value) {
    const std::size_t count = hex_digit_count(value);
    const std::uint64_t shown = digits >> (8 * (8 - count));
    // Unrolled, the eight byte stores merge into one.
#pragma GCC unroll 8
    for (std::size_t i = 0; i < 8; ++i) {
        out[i] = static_cast<char>(shown >> (8 * i) & 0xFFU);
    }
    return out + count;
}

// What stands around each record's three values: a listing's record line
// is "\nr: 1F, g: 0, b: AB", a table's record "    {0x1F, 0x0, 0xAB}",
// with ",\n" between records. (Each part is a constant, so every copy of
// one is a store or two, not a call.)
struct RecordForm {
    std::string_view between;  // after every record but the last
    std::string_view red;      // before the red value
    std::string_view green;    // between red and green
    std::string_view blue;     // between green and blue
    std::string_view after;    // after blue
};
constexpr RecordForm listing_record{"", "\nr: ", ", g: ", ", b: ", ""};
constexpr RecordForm table_record{",\n", "    {0x", ", 0x", ", 0x", "}"};

using RecordDigits = void (*)(const RecordArea&, std::size_t, std::uint64_t (&)[3]);

// Writes the first count records at out, in form, their digits made by
// record_digits, and returns the end of them; into value_bits, every bit
// any value has. Stores up to 7 bytes past that end (see put_hex).
template <const RecordForm& form, RecordDigits record_digits>
char* put_records(char* out, std::size_t count, const RecordArea& records,
                  std::uint32_t& value_bits) {
    std::uint32_t bits = 0;  // a local: the text's stores could alias value_bits
    for (std::size_t k = 0; k < count; ++k) {
        const std::uint32_t red = record_red(records, k);
        const std::uint32_t green = record_green(records, k);
        const std::uint32_t blue = record_blue(records, k);
        bits |= red | green | blue;
        std::uint64_t digits[3];
        record_digits(records, k, digits);
        if (k != 0) {
            out = put_text(out, form.between);
        }
        out = put_text(out, form.red);
        out = put_hex(out, digits[0], red);
        out = put_text(out, form.green);
        out = put_hex(out, digits[1], green);
        out = put_text(out, form.blue);
        out = put_hex(out, digits[2], blue);
        out = put_text(out, form.after);
    }
    value_bits = bits;
    return out;
}

// What a table's values are, by their type: in TableType's order.
struct TypeFacts {
    std::string_view option;       // its name as --type takes it; "" for unsigned long
    std::string_view element;      // the C type of each value
    std::string_view struct_name;  // the struct a shared table of it is
    std::string_view guard;        // ... and the macro that keeps a file from declaring it twice
    std::uint32_t most;            // the largest value it holds
};
constexpr TypeFacts type_facts[] = {
    {"", "unsigned long", "huemill_palette", "HUEMILL_PALETTE", 0xFFFFFFFFU},
    {"u8", "uint8_t", "huemill_palette_u8", "HUEMILL_PALETTE_U8", 0xFFU},
    {"u16", "uint16_t", "huemill_palette_u16", "HUEMILL_PALETTE_U16", 0xFFFFU},
    {"u32", "uint32_t", "huemill_palette_u32", "HUEMILL_PALETTE_U32", 0xFFFFFFFFU},
};
static_assert(std::size(type_facts) == static_cast<std::size_t>(TableType::u32) + 1,
              "one row for each type");

const TypeFacts& facts_of(TableType type) { return type_facts[static_cast<std::size_t>(type)]; }

// Writes at out what a shared table of values of type facts named name,
// of rows records, says before its records: its struct, declared once,
// its declaration, and where HUEMILL_DEFINE_TABLES is, the start of its
// records. Returns the end of it.
char* put_shared_head(char* out, const TypeFacts& facts, std::string_view name, std::size_t rows) {
    out = put_text(put_text(put_text(out, "#ifndef "), facts.guard), "\n#define ");
    out = put_text(put_text(put_text(out, facts.guard), "\nstruct "), facts.struct_name);
    out = put_text(put_text(put_text(out, " {\n    int count;\n    const "), facts.element),
                   " (*colors)[3];\n};\n#endif\n");
    out = put_text(out, "#ifdef __cplusplus\nextern \"C\" {\n#endif\nextern const struct ");
    out = put_text(put_text(put_text(put_text(out, facts.struct_name), " "), name), ";\n");
    out = put_text(
        put_text(put_text(out, "#ifdef HUEMILL_DEFINE_TABLES\nstatic const "), facts.element),
        " huemill_colors_");
    return put_text(put_decimal(put_text(put_text(out, name), "["), rows), "][3] = {\n");
}

// The listing of the first entry_count records, into text, its digits made
// by record_digits; its length in bytes.
template <RecordDigits record_digits>
std::size_t format_with(unsigned entry_count, const RecordArea& records, ListingText& text) {
    const std::size_t count = std::min<std::size_t>(entry_count, max_entry_count);
    char* out = put_text(text.data(), declaration_line);
    std::uint32_t value_bits = 0;
    out = put_records<listing_record, record_digits>(out, count, records, value_bits);
    *out++ = '\n';
    return static_cast<std::size_t>(out - text.data());
}

}  // namespace

std::string_view type_name(TableType type) { return facts_of(type).option; }

bool fits(unsigned entry_count, const RecordArea& records, TableType type, std::uint32_t value_bits,
          Misfit& misfit) {
    const std::uint32_t most = facts_of(type).most;
    if (value_bits <= most) {
        return true;  // as for every table of unsigned long or u32
    }
    const std::size_t count = std::min<std::size_t>(entry_count, max_entry_count);
    for (std::size_t k = 0; k < count; ++k) {
        for (int channel = 0; channel < 3; ++channel) {
            const std::uint32_t value =
                little_endian_at(records, k * record_size + 4 * static_cast<std::size_t>(channel));
            if (value > most) {
                misfit = {k, channel, value};
                return false;
            }
        }
    }
    return true;
}

std::size_t format_table(unsigned entry_count, const RecordArea& records,
                         std::string_view palette_file, std::string_view name,
                         const TableForm& form, std::string& text, std::uint32_t& value_bits) {
    const std::size_t count = std::min<std::size_t>(entry_count, max_entry_count);
    const std::size_t rows = std::max<std::size_t>(count, 1);  // C has no empty array
    // The comment says where it came from, shown as a message shows a
    // name: a file name holds no '/', so it cannot end the comment.
    std::string shown;
    append_printable(shown, palette_file);
    // Room for the fixed text, the file's name, the table's four times,
    // each record's line (42 bytes at most), and the 7 bytes past the last
    // that put_hex may store; kept from one table to the next.
    const std::size_t room = 1024 + shown.size() + 4 * name.size() + rows * 42;
    if (text.size() < room) {
        text.resize(room);
    }
    const TypeFacts& facts = facts_of(form.type);
    char* out = put_text(text.data(), "/* Made by huemill from ");
    out = put_text(put_text(out, shown), ". */\n");
    if (form.type != TableType::unsigned_long) {
        out = put_text(out, "#include <stdint.h>\n");
    }
    if (!form.shared) {
        out = put_text(out, "static const struct {\n    int count;\n    ");
        out = put_text(put_text(out, facts.element), " colors[");
        out = put_text(put_decimal(out, rows), "][3];\n} ");
        out = put_text(put_text(out, name), " = {");
        out = put_text(put_decimal(out, count), ", {\n");
    } else {
        out = put_shared_head(out, facts, name, rows);
    }
    out = put_records<table_record, fastest_record_digits>(out, count, records, value_bits);
    if (count == 0) {
        out = put_text(out, "    {0x0, 0x0, 0x0}");
    }
    if (!form.shared) {
        return static_cast<std::size_t>(put_text(out, "\n}};\n") - text.data());
    }
    out = put_text(out, "\n};\nconst struct ");
    out = put_text(put_text(put_text(out, facts.struct_name), " "), name);
    out = put_text(put_text(put_decimal(put_text(out, " = {"), count), ", huemill_colors_"), name);
    out = put_text(out, "};\n#endif\n#ifdef __cplusplus\n}\n#endif\n");
    return static_cast<std::size_t>(out - text.data());
}

std::size_t format_listing(unsigned entry_count, const RecordArea& records, ListingText& text) {
    return format_with<fastest_record_digits>(entry_count, records, text);
}

std::size_t format_listing_by_table(unsigned entry_count, const RecordArea& records,
                                    ListingText& text) {
    return format_with<record_digits_by_table>(entry_count, records, text);
}

}  // namespace huemill
