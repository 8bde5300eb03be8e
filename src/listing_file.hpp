// The listing file's whole life: written into a temporary file beside its
// name, then made that name in one step. Nothing else in huemill touches
// temporary names, and a listing name never holds anything but its old
// content or the complete new listing.
#ifndef HUEMILL_LISTING_FILE_HPP
#define HUEMILL_LISTING_FILE_HPP

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform.hpp"

namespace huemill {

// What replacing one listing came to.
struct ListingOutcome {
    int error = 0;                // 0, or the failure
    bool folder_refused = false;  // the failure: the folder refused a new file
    bool left_behind = false;     // the temporary file last named could not be removed
};

// The names a run gives its temporary files: six characters no other of
// its temporary files has had, drawn from a generator seeded with the time
// and the process id, and room for the name in use.
struct TemporaryNames {
    std::uint64_t state = 0;
    std::string current;  // the name last drawn, within the listing's folder
};

// Seeds names for a run.
void seed(TemporaryNames& names);

// Makes room in names for any temporary name of the listing whose file
// name is listing_file, so that drawing one needs no memory.
void make_room(TemporaryNames& names, std::string_view listing_file);

// Makes the listing whose file name is listing_file, begun and looked at
// with platform::begin_listing and look_to_replace, hold exactly the size
// bytes at text, through a temporary file named in names (room made for
// it). What stands at its name is replaced, never written through: a
// symbolic or hard link, a FIFO or a device there is replaced by the
// listing, and what it led to is left alone. A regular file there keeps
// what decides who may use it. On failure the name holds what it held
// before, and no temporary file remains unless left_behind says so: then
// names.current is its name. Allocates no memory.
ListingOutcome replace_listing(platform::Listing& listing, std::string_view listing_file,
                               const char* text, std::size_t size, TemporaryNames& names) noexcept;

// The longest file name (one path component) that common file systems take.
constexpr std::size_t longest_file_name = 255;

// Puts into temporary the temporary file's name, in the listing's folder,
// for the listing's file name: that name followed by ".huemill-", unique
// and ".tmp". Where that would pass longest bytes, the listing's name is
// cut short, but never to nothing, and never inside a UTF-8 character
// unless its first character alone is too long: then to its first byte.
// Allocates nothing where temporary has room for the name.
void temporary_file_name(std::string& temporary, std::string_view listing_file,
                         std::string_view unique, std::size_t longest = longest_file_name);

}  // namespace huemill

#endif
