// Reading one palette file into the header block and the record area.
#include <algorithm>

#include "palette.hpp"
#include "platform.hpp"

namespace huemill {

unsigned take_palette(const unsigned char* bytes, std::size_t size, HeaderBlock& header,
                      RecordArea& records) {
    // Bytes a short file does not supply read as zero, never as an earlier
    // file's.
    const std::size_t in_header = std::min(size, header_size);
    std::fill(std::copy(bytes, bytes + in_header, header.begin()), header.end(), 0);
    const std::size_t in_records = std::min(size - in_header, record_area_size);
    std::fill(std::copy(bytes + in_header, bytes + in_header + in_records, records.begin()),
              records.end(), 0);
    return header[entry_count_offset];
}

ReadResult read_palette(const platform::Folder& folder, const char* file_name, HeaderBlock& header,
                        RecordArea& records) {
    // Read whole before anything is taken, so a failed read leaves header
    // and records as they were. Static, as the run's buffers are: a small
    // stack is enough.
    static std::array<unsigned char, header_size + record_area_size> file_bytes;
    ReadResult read;
    read.error = platform::read_file(folder, file_name, file_bytes.data(), file_bytes.size(),
                                     read.size, read.identity);
    if (read.error != 0) {
        return read;
    }
    read.is_listing =
        read.size >= declaration_line.size() &&
        std::equal(declaration_line.begin(), declaration_line.end(), file_bytes.begin());
    read.entry_count = take_palette(file_bytes.data(), read.size, header, records);
    return read;
}

}  // namespace huemill
