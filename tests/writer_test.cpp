// The listing writer, the listing name and its temporary name, in memory.

#include <sstream>

#include "listing_file.hpp"
#include "palette.hpp"
#include "support.hpp"
#include "unicode.hpp"

namespace {

// Lays out records in a record area the way a palette file holds them.
huemill::RecordArea area_of(const std::vector<huemill_test::Rgb>& records) {
    const std::string bytes = huemill_test::palette_bytes(0, records).substr(23);
    huemill::RecordArea area{};
    std::copy(bytes.begin(), bytes.end(), area.begin());
    return area;
}

std::string listing_of(unsigned entry_count, const huemill::RecordArea& area) {
    huemill::ListingText text;
    const std::size_t size = huemill::format_listing(entry_count, area, text);
    return std::string(text.data(), size);
}

TEST(ListingText, LargestListingFillsItsBufferExactly) {
    const std::vector<huemill_test::Rgb> widest(255, {0xFFFFFFFFU, 0xFFFFFFFFU, 0xFFFFFFFFU});
    std::string expected = huemill_test::declaration;
    for (int k = 0; k < 255; ++k) {
        expected += "\nr: FFFFFFFF, g: FFFFFFFF, b: FFFFFFFF";
    }
    expected += "\n";
    const std::string listing = listing_of(255, area_of(widest));
    EXPECT_EQ(listing, expected);
    EXPECT_EQ(listing.size(), huemill::listing_capacity);
}

TEST(ListingText, BothWaysOfMakingDigitsMatchPrintfOnExamplesEdgesAndRandomRecords) {
    // The 32-bit Windows program makes its digits from a table; nothing
    // else runs that code, so it is checked here, on every machine. Each
    // listing is compared with printf's "%X" of the record's values.
    const auto check = [](unsigned count, const std::vector<huemill_test::Rgb>& records) {
        const huemill::RecordArea area = area_of(records);
        const std::string expected =
            huemill_test::expected_listing(huemill_test::palette_bytes(count, records));
        huemill::ListingText text;
        const std::size_t size = huemill::format_listing_by_table(count, area, text);
        EXPECT_EQ(std::string(text.data(), size), expected) << count << " records";
        EXPECT_EQ(listing_of(count, area), expected) << count << " records";
    };
    // None listed: the declaration and a closing line end, 44 bytes.
    check(0, {{1, 2, 3}});
    EXPECT_EQ(listing_of(0, area_of({{1, 2, 3}})).size(), 44U);
    check(1, {{31, 0, 171}});
    check(2, {{0x10, 0xF00, 0xABCDEF}, {0x100000, 0x7, 0x0}});
    check(1, {{0xFFFFFFFFU, 0x80000000U, 0xDEADBEEFU}});  // never negative
    check(2, {{1, 1, 1}, {2, 2, 2}, {3, 3, 3}});          // exactly the count
    std::vector<std::uint32_t> edges = {0, 0xFFFFFFFFU, 0x7FFFFFFFU, 0x80000000U};
    for (unsigned shift = 0; shift < 32; shift += 4) {
        for (const std::uint32_t near : {0U, 1U, 0xFU}) {
            edges.push_back((1U << shift) + near - 1);
            edges.push_back(0xAU << shift);
        }
    }
    std::vector<huemill_test::Rgb> records;
    for (std::size_t i = 0; i < edges.size(); ++i) {
        records.push_back({edges[i], edges[(i + 1) % edges.size()], edges[(i + 7) % edges.size()]});
    }
    std::uint64_t state = 0x9E3779B97F4A7C15U;  // xorshift: the same records every run
    const auto next = [&state] {
        state ^= state << 13U;
        state ^= state >> 7U;
        state ^= state << 17U;
        return static_cast<std::uint32_t>(state >> 32U);
    };
    for (int round = 0; round < 40 && !::testing::Test::HasFailure(); ++round) {
        records.resize(edges.size());
        while (records.size() < 255) {
            // Values of every length, from one digit to eight.
            const auto value = [&] { return next() >> (next() % 32); };
            records.push_back({value(), value(), value()});
        }
        check(255, records);
    }
}

TEST(ListingName, KeepsTheFolderAndReplacesEverythingFromTheStemsDot) {
    // Linux separates folders with '/' alone; Windows with '\\' too, and a
    // drive's "C:".
    const struct {
        const char* argument;
        const char* on_linux;
        const char* on_windows;
    } cases[] = {
        {"sky.pal", "sky.pal.c", "sky.pal.c"},
        {"sky.act", "sky.pal.c", "sky.pal.c"},
        {"sky.old.pal", "sky.pal.c", "sky.pal.c"},
        {"art/sky.pal", "art/sky.pal.c", "art/sky.pal.c"},
        {"sub.d/sky.pal", "sub.d/sky.pal.c", "sub.d/sky.pal.c"},
        {"sky", "sky.pal.c", "sky.pal.c"},
        {"./sky.pal", "./sky.pal.c", "./sky.pal.c"},
        {"../sky.pal", "../sky.pal.c", "../sky.pal.c"},
        {".hidden.pal", ".hidden.pal.c", ".hidden.pal.c"},
        {"sky.pal.c", "sky.pal.c", "sky.pal.c"},
        {"/abs/.pal", "/abs/.pal.pal.c", "/abs/.pal.pal.c"},
        {"art.d\\sky.pal", "art.pal.c", "art.d\\sky.pal.c"},
        {"a.b\\c.d/sky.x", "a.b\\c.d/sky.pal.c", "a.b\\c.d/sky.pal.c"},
        {"C:\\art.old\\sky", "C:\\art.pal.c", "C:\\art.old\\sky.pal.c"},
        {"C:.hidden.pal", "C:.pal.c", "C:.hidden.pal.c"},
    };
    std::string listing = "previous name, longer than any above";
    for (const auto& row : cases) {
#ifdef _WIN32
        const std::string expected = row.on_windows;
#else
        const std::string expected = row.on_linux;
#endif
        huemill::listing_name(row.argument, listing);
        EXPECT_EQ(listing, expected) << "argument " << row.argument;
    }
}

TEST(ListingName, StemsAndTableNamesAreTheOnesTheBuildKeepsTo) {
    // The CMake function is checked against the same table (names.cmake).
    std::istringstream rows(huemill_test::read_file(HUEMILL_LISTING_NAMES));
    int checked = 0;
    for (std::string row; std::getline(rows, row);) {
        if (row.empty() || row[0] == '#') {
            continue;
        }
        const std::size_t tab = row.find('\t');
        const std::size_t second = row.find('\t', tab + 1);
        const std::string file = row.substr(0, tab);
        const std::string stem = row.substr(tab + 1, second - tab - 1);
        EXPECT_EQ(huemill::stem_of(file), stem) << file;
        EXPECT_EQ(huemill::table_name(stem), row.substr(second + 1)) << file;
        ++checked;
    }
    EXPECT_GE(checked, 10);
}

TEST(NameFolding, NamesASystemTakesForOneFoldToOne) {
    // name, where Windows drops the dots and spaces it ends in, folded.
    const struct {
        std::string name;
        bool windows;
        std::string folded;
    } rows[] = {
        {"SKY.Pal.C", false, "sky.pal.c"},
        {"\xC3\x84.PAL.C", false, "\xC3\xA4.pal.c"},                          // Ä
        {"\xE1\xBA\x9E\xCE\xA3\xCF\x82", false, "\xC3\x9F\xCF\x83\xCF\x83"},  // ẞΣς: ßσσ
        {"\xE2\x84\xAA\xD0\x94", false, "k\xD0\xB4"},                         // Kelvin sign, Д
        {"\xF0\x90\x90\x80", false, "\xF0\x90\x90\xA8"},    // Deseret, past U+FFFF
        {"\xC4\xB0\xC4\xB1i", false, "\xC4\xB0\xC4\xB1i"},  // İı: no simple fold
        {"\xFF\xC0!", false, "\xFF\xC0!"},                  // no UTF-8: as it is
        {"sky.pal.c. .", false, "sky.pal.c. ."},
        {"Sky.Pal.C. .", true, "sky.pal.c"},
        {"\xED\xA0\x80X.", true, "\xED\xA0\x80x"},  // a lone surrogate
    };
    std::string folded = "a longer name than any";
    for (const auto& row : rows) {
        huemill::fold_name(row.name, folded, row.windows, row.windows);
        EXPECT_EQ(folded, row.folded) << row.name;
    }
}

TEST(TemporaryName, StartsWithTheListingsNameAndFitsTheLongestFileName) {
    const std::string longest(255, 'n');
    // "\xC3\xA9" is one character, "é": a cut never splits it.
    const std::string accented = std::string(235, 'n') + "\xC3\xA9" + std::string(18, 'e');
    const std::string not_utf8(249, '\x80');  // continuation bytes only
    const struct {
        std::string name;
        std::size_t longest;
        std::string expected;
    } cases[] = {
        {"sky.pal.c", 255, "sky.pal.c.huemill-k3j9x0.tmp"},
        {longest, 255, longest.substr(0, 236) + ".huemill-k3j9x0.tmp"},
        {accented, 255, accented.substr(0, 235) + ".huemill-k3j9x0.tmp"},
        {not_utf8, 255, not_utf8.substr(0, 236) + ".huemill-k3j9x0.tmp"},
        {longest, 127, longest.substr(0, 108) + ".huemill-k3j9x0.tmp"},
        {"\xC3\xA9t\xC3\xA9", 20, "\xC3.huemill-k3j9x0.tmp"},  // never nothing of it
    };
    for (const auto& [name, limit, expected] : cases) {
        std::string temporary = "a longer name, which it replaces";
        huemill::temporary_file_name(temporary, name, "k3j9x0", limit);
        EXPECT_EQ(temporary, expected) << "listing " << name << ", at most " << limit;
        EXPECT_LE(temporary.size(), std::max<std::size_t>(limit, 20)) << "listing " << name;
    }
}

}  // namespace
