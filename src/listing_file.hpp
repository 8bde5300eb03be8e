// The listing file's whole life: written into a temporary file beside its
// name, then renamed over that name in one step. Nothing else in huemill
// touches temporary names, and a listing name never holds anything but its
// old content or the complete new listing.
#ifndef HUEMILL_LISTING_FILE_HPP
#define HUEMILL_LISTING_FILE_HPP

#include <cstddef>
#include <string>
#include <string_view>

namespace huemill {

// Prepares this process for replacing listings. When SIGINT, SIGTERM or
// SIGHUP ends the run (on Windows: Ctrl-C, Ctrl-Break or closing the
// console), no temporary file is left; the process still ends as that
// signal ends it. A write past a file-size limit fails with EFBIG instead
// of ending the process. Call once, before the first listing; signals the
// caller's caller chose to ignore stay ignored.
void prepare_listing_files();

// Makes name hold exactly the size bytes at text. What stands at name is
// replaced, never written through: a symbolic or hard link, a FIFO or a
// device there is replaced by the listing, and what it led to is left alone.
// A regular file there keeps its permission bits, and is not replaced where
// this user may not write to it; a directory is not replaced either.
// Returns 0, or the errno of the first failure, in which case name holds
// what it held before and no temporary file remains.
int replace_listing(const std::string& name, const char* text, std::size_t size);

// The temporary file's name for the listing name: in the same folder, the
// listing's file name followed by ".huemill-", unique and ".tmp". Where that
// would pass the longest file name systems take (255 bytes), the listing's
// file name is cut short, never inside a UTF-8 character.
std::string temporary_listing_name(std::string_view name, std::string_view unique);

}  // namespace huemill

#endif
