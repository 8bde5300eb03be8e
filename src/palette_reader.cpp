// Reading one palette file into the record area.
#include <algorithm>

#include "palette.hpp"
#include "platform.hpp"

namespace huemill {

unsigned take_palette(const unsigned char* bytes, std::size_t size, RecordArea& records) {
    // Bytes a short file does not supply read as zero, never as an earlier
    // file's.
    const std::size_t in_header = std::min(size, header_size);
    const std::size_t in_records = std::min(size - in_header, record_area_size);
    const unsigned char* start = bytes + in_header;
    std::fill(std::copy(start, start + in_records, records.begin()), records.end(), 0);
    return size > entry_count_offset ? bytes[entry_count_offset] : 0;
}

ReadResult read_palette(const platform::Folder& folder, const char* file_name, PaletteBytes& bytes,
                        RecordArea& records) {
    ReadResult read;
    read.error = platform::read_file(folder, file_name, bytes.data(), bytes.size(), read.size,
                                     read.identity);
    if (read.error != 0) {
        return read;
    }
    read.is_listing = read.size >= declaration_line.size() &&
                      std::equal(declaration_line.begin(), declaration_line.end(), bytes.begin());
    read.entry_count = take_palette(bytes.data(), read.size, records);
    return read;
}

}  // namespace huemill
