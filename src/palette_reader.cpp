// Reading one palette file into the header block and the record area.
#include <algorithm>

#include "palette.hpp"
#include "platform.hpp"

namespace huemill {

unsigned complete_palette(std::size_t size, HeaderBlock& header, RecordArea& records) {
    const std::size_t in_header = std::min(size, header_size);
    std::fill(header.begin() + static_cast<std::ptrdiff_t>(in_header), header.end(), 0);
    const std::size_t in_records = std::min(size - in_header, record_area_size);
    std::fill(records.begin() + static_cast<std::ptrdiff_t>(in_records), records.end(), 0);
    return header[entry_count_offset];
}

ReadResult read_palette(const platform::Folder& folder, const char* file_name, HeaderBlock& header,
                        RecordArea& records) {
    ReadResult read;
    read.error = platform::read_file(folder, file_name, {header.data(), header.size()},
                                     {records.data(), records.size()}, read.size, read.identity);
    if (read.error != 0) {
        return read;
    }
    // The declaration line runs from the header into the records.
    const std::string_view line = declaration_line;
    read.is_listing = read.size >= line.size() &&
                      std::equal(header.begin(), header.end(), line.begin()) &&
                      std::equal(line.begin() + header_size, line.end(), records.begin());
    read.entry_count = complete_palette(read.size, header, records);
    return read;
}

}  // namespace huemill
