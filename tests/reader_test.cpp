// The palette reader on real files: where the entry count and the records
// come from, and what a short, long or unreadable file gives.
#include <cerrno>

#include "palette.hpp"
#include "platform.hpp"
#include "support.hpp"

namespace {

using huemill::HeaderBlock;
using huemill::RecordArea;
using huemill_test::expected_listing;
using huemill_test::palette_bytes;
using huemill_test::pattern;
using huemill_test::Rgb;
using huemill_test::write_file;

class Reader : public huemill_test::ScratchFolder {
protected:
    HeaderBlock header{};
    RecordArea records{};
    huemill::platform::SystemHandle system = huemill::platform::start_system();
    huemill::platform::FolderHandle here;

    void SetUp() override {
        ScratchFolder::SetUp();
        ASSERT_EQ(huemill::platform::open_folder(*system, "", here), 0);
    }

    huemill::ReadResult read(const std::string& bytes) {
        write_file("in.pal", bytes);
        return huemill::read_palette(*here, "in.pal", header, records);
    }

    // The listing of what was read, as the run writes it.
    std::string listing(const huemill::ReadResult& result) {
        huemill::ListingText text;
        return std::string(text.data(), huemill::format_listing(result.entry_count, records, text));
    }
};

TEST_F(Reader, CountIsByte22AndRecordsStartAtOddOffset23) {
    std::string bytes(40, '\0');
    bytes[22] = 0x00;
    bytes[23] = 0x01;
    const auto result = read(bytes);
    EXPECT_EQ(result.error, 0);
    EXPECT_EQ(result.entry_count, 0U);
    EXPECT_EQ(huemill::record_red(records, 0), 1U);

    std::vector<huemill_test::Rgb> sixteen;
    for (std::uint32_t k = 0; k < 16; ++k) {
        sixteen.push_back({0x01020304U * (k + 1), k, 0xFFFFFFFFU - k});
    }
    const auto full = read(palette_bytes(0x10, sixteen));
    EXPECT_EQ(full.entry_count, 16U);
    for (std::size_t k = 0; k < 16; ++k) {
        EXPECT_EQ(huemill::record_red(records, k), sixteen[k][0]) << "record " << k;
        EXPECT_EQ(huemill::record_green(records, k), sixteen[k][1]) << "record " << k;
        EXPECT_EQ(huemill::record_blue(records, k), sixteen[k][2]) << "record " << k;
    }
}

TEST_F(Reader, EntryCountAbove127IsNotSignExtended) {
    EXPECT_EQ(read(palette_bytes(255, {})).entry_count, 255U);
    EXPECT_EQ(read(palette_bytes(128, {})).entry_count, 128U);
}

TEST_F(Reader, ShortFilesAfterAFullOneReadAsZerosNotStaleBytes) {
    // Each after a full palette, in the buffers it left, as a run reads one
    // file after another.
    const std::string full =
        palette_bytes(255, std::vector<Rgb>(255, {0xAAAAAAAAU, 0xBBBBBBBBU, 0xCCCCCCCCU}));
    const std::string two = palette_bytes(7, {{1, 2, 3}, {4, 5, 6}});
    std::vector<std::string> shorts;
    for (const std::size_t size : {0U, 1U, 22U, 23U, 24U, 23U + 16, 23U + 20}) {
        shorts.push_back(two.substr(0, size));
    }
    shorts.push_back(palette_bytes(9, {{1, 2, 3}}) + "\x07\x07\x07");  // 9 listed, 1 held
    for (const std::string& bytes : shorts) {
        const std::size_t size = bytes.size();
        ASSERT_EQ(read(full).error, 0);
        const auto result = read(bytes);
        ASSERT_EQ(result.error, 0) << size << " bytes";
        EXPECT_EQ(result.entry_count, size > 22 ? static_cast<unsigned char>(bytes[22]) : 0U)
            << size << " bytes";
        for (std::size_t i = 0; i < records.size(); ++i) {
            const std::size_t offset = 23 + i;
            const unsigned char expected =
                offset < size ? static_cast<unsigned char>(bytes[offset]) : 0;
            ASSERT_EQ(records[i], expected) << size << " bytes, record area byte " << i;
        }
        EXPECT_EQ(listing(result), expected_listing(bytes)) << size << " bytes";
    }
}

TEST_F(Reader, LongFileFillsTheRecordAreaAndNoMore) {
    std::string bytes = pattern(23 + 4096 + 5000);
    bytes[22] = static_cast<char>(255);
    const auto result = read(bytes);
    ASSERT_EQ(result.error, 0);
    for (std::size_t i = 0; i < records.size(); ++i) {
        ASSERT_EQ(records[i], static_cast<unsigned char>(bytes[23 + i])) << "byte " << i;
    }
    EXPECT_EQ(listing(result), expected_listing(bytes.substr(0, 23 + 4096)));
}

TEST_F(Reader, UnreadableInputReportsErrnoAndLeavesBuffersAlone) {
    header.fill(0xAA);
    records.fill(0xAA);
    const auto missing = huemill::read_palette(*here, "missing.pal", header, records);
    EXPECT_EQ(missing.error, ENOENT);

    std::filesystem::create_directory("folder.pal");
    const auto folder = huemill::read_palette(*here, "folder.pal", header, records);
    EXPECT_NE(folder.error, 0);

    EXPECT_EQ(header[22], 0xAA);
    EXPECT_EQ(records[4095], 0xAA);
}

}  // namespace
