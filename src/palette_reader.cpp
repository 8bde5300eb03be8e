// Reading one palette file into the header block and the record area.
#include <algorithm>
#include <cerrno>
#include <cstdio>

#include "palette.hpp"

namespace huemill {

int failure_errno() { return errno != 0 ? errno : EIO; }

ReadResult read_palette(const char* path, HeaderBlock& header, RecordArea& records) {
    std::FILE* file = std::fopen(path, "rb");
    if (file == nullptr) {
        return {failure_errno(), 0};
    }
    // Unbuffered, a single fread becomes read calls straight into
    // file_bytes that ask for no more than it holds: one for a large file,
    // two (the second meeting end of file) for a palette of usual size.
    std::setvbuf(file, nullptr, _IONBF, 0);
    std::array<unsigned char, header_size + record_area_size> file_bytes{};
    errno = 0;
    // Fewer bytes than asked for is a short file, not a failure.
    const bool failed =
        std::fread(file_bytes.data(), 1, file_bytes.size(), file) < file_bytes.size() &&
        std::ferror(file) != 0;
    const int error = failed ? failure_errno() : 0;
    std::fclose(file);  // opened for reading only: closing loses nothing
    if (error != 0) {
        return {error, 0};
    }
    const auto records_start = file_bytes.begin() + header_size;
    std::copy(file_bytes.begin(), records_start, header.begin());
    std::copy(records_start, file_bytes.end(), records.begin());
    return {0, header[entry_count_offset]};
}

}  // namespace huemill
