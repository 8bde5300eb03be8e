// Reading one palette file into the header block and the record area.
#include <algorithm>

#include "palette.hpp"
#include "platform.hpp"

namespace huemill {

ReadResult read_palette(const char* path, HeaderBlock& header, RecordArea& records) {
    // Read whole before anything is copied, so a failed read leaves header
    // and records as they were.
    std::array<unsigned char, header_size + record_area_size> file_bytes{};
    std::size_t got = 0;
    const int error = platform::read_start(path, file_bytes.data(), file_bytes.size(), got);
    if (error != 0) {
        return {error, 0};
    }
    // Bytes a short file does not supply stay zero.
    const auto records_start = file_bytes.begin() + header_size;
    std::copy(file_bytes.begin(), records_start, header.begin());
    std::copy(records_start, file_bytes.end(), records.begin());
    return {0, header[entry_count_offset]};
}

}  // namespace huemill
