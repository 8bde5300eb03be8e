// Replacing a listing in one step: a temporary file beside it, written
// completely, then made the listing. The system's part of each step is a
// hook of platform.hpp.
#include "listing_file.hpp"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>

#include "palette.hpp"
#include "platform.hpp"

namespace huemill {
namespace {

// How many temporary names are tried, where one is taken or too long.
constexpr int creation_attempts = 100;

// What a temporary file's name adds to its listing's name.
constexpr std::string_view temporary_infix = ".huemill-";
constexpr std::size_t unique_size = 6;
constexpr std::string_view temporary_extension = ".tmp";

// The shortest temporary name tried: one byte of the listing's name, then
// what is added.
constexpr std::size_t shortest_temporary_name =
    1 + temporary_infix.size() + unique_size + temporary_extension.size();

bool is_utf8_continuation(char byte) { return (static_cast<unsigned char>(byte) & 0xC0U) == 0x80U; }

// Puts six characters into unique that no other temporary file of this
// run has had, and that another process is unlikely to pick. Creation
// refuses a name that exists anyway.
void draw_unique(std::uint64_t& state, char (&unique)[unique_size]) {
    // splitmix64: every call a new, well-mixed value.
    state += 0x9E3779B97F4A7C15U;
    std::uint64_t bits = state;
    bits = (bits ^ (bits >> 30U)) * 0xBF58476D1CE4E5B9U;
    bits = (bits ^ (bits >> 27U)) * 0x94D049BB133111EBU;
    bits ^= bits >> 31U;
    // Lower case and digits only: Windows names ignore case.
    constexpr std::string_view alphabet = "0123456789abcdefghijklmnopqrstuvwxyz";
    for (char& c : unique) {
        c = alphabet[static_cast<std::size_t>(bits % alphabet.size())];
        bits /= alphabet.size();
    }
}

// Creates a temporary file for the listing file name listing_file, trying
// other names where one is taken or too long, each named in names.current.
// Returns 0 or the error.
int create_unique_temporary(platform::Listing& listing, std::string_view listing_file,
                            TemporaryNames& names) {
    std::size_t longest = longest_file_name;
    int error = EEXIST;
    for (int attempt = 0; attempt < creation_attempts; ++attempt) {
        char unique[unique_size];
        draw_unique(names.state, unique);
        temporary_file_name(names.current, listing_file, std::string_view(unique, unique_size),
                            longest);
        error = platform::create_temporary(listing, names.current);
        if (error == ENAMETOOLONG && names.current.size() / 2 > shortest_temporary_name) {
            // A file system that takes shorter names (eCryptfs: 143 bytes).
            longest = names.current.size() / 2;
        } else if (error != EEXIST) {
            break;
        }
    }
    return error;
}

}  // namespace

void seed(TemporaryNames& names) {
    names.state =
        static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()) ^
        static_cast<std::uint64_t>(platform::process_id()) << 32U;
}

void make_room(TemporaryNames& names, std::string_view listing_file) {
    names.current.reserve(std::min(
        listing_file.size() + temporary_infix.size() + unique_size + temporary_extension.size(),
        longest_file_name));
}

void temporary_file_name(std::string& temporary, std::string_view listing_file,
                         std::string_view unique, std::size_t longest) {
    const std::size_t added = temporary_infix.size() + unique.size() + temporary_extension.size();
    std::size_t kept = listing_file.size();
    if (kept + added > longest) {
        const std::size_t cut = longest > added ? longest - added : 1;
        kept = cut;
        // Back to the first byte of the UTF-8 character there, at most
        // three bytes back and never to nothing; bytes that are not UTF-8
        // are cut where they are.
        for (int back = 0; back < 3 && kept > 1 && is_utf8_continuation(listing_file[kept]);
             ++back) {
            --kept;
        }
        if (is_utf8_continuation(listing_file[kept])) {
            kept = cut;
        }
    }
    temporary.assign(listing_file.substr(0, kept))
        .append(temporary_infix)
        .append(unique)
        .append(temporary_extension);
}

ListingOutcome replace_listing(platform::Listing& listing, std::string_view listing_file,
                               const char* text, std::size_t size, TemporaryNames& names) noexcept {
    ListingOutcome outcome;
    // From just before the temporary file exists until just after it is
    // renamed or removed, nothing from outside ends the run: it waits for
    // the listing to be complete, or gone.
    platform::hold_interruptions();
    outcome.error = create_unique_temporary(listing, listing_file, names);
    if (outcome.error != 0) {
        // The folder's fault only where it refused; not for a limit on
        // descriptors, memory or an I/O error.
        outcome.folder_refused =
            outcome.error == EACCES || outcome.error == EPERM || outcome.error == EROFS;
        platform::allow_interruptions();
        return outcome;
    }
    outcome.error = platform::learn_temporary(listing);
    if (outcome.error == 0) {
        outcome.error = platform::copy_metadata(listing);
    }
    if (outcome.error == 0) {
        outcome.error = platform::write_temporary(listing, text, size);
    }
    if (outcome.error == 0) {
        outcome.error = platform::commit(listing);
    }
    if (outcome.error != 0) {
        outcome.left_behind = platform::discard(listing) != 0;
    }
    platform::allow_interruptions();
    return outcome;
}

}  // namespace huemill
