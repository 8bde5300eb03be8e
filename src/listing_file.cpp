// Replacing a listing in one step: a temporary file beside it, written
// completely, then made the listing. The system's part of each step is a
// hook of platform.hpp.
#include "listing_file.hpp"

#include <cerrno>
#include <chrono>
#include <cstdint>

#include "platform.hpp"

namespace huemill {
namespace {

// How many times a taken temporary name is tried again with another suffix.
constexpr int creation_attempts = 100;

// Six characters that no other temporary file of this run has had, and that
// another process is unlikely to pick: drawn from a generator seeded with
// the time and the process id. Creation refuses a name that exists anyway.
std::string unique_suffix() {
    static std::uint64_t state =
        static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()) ^
        static_cast<std::uint64_t>(platform::process_id()) << 32U;
    // splitmix64: every call a new, well-mixed value.
    state += 0x9E3779B97F4A7C15U;
    std::uint64_t bits = state;
    bits = (bits ^ (bits >> 30U)) * 0xBF58476D1CE4E5B9U;
    bits = (bits ^ (bits >> 27U)) * 0x94D049BB133111EBU;
    bits ^= bits >> 31U;
    // Lower case and digits only: Windows names ignore case.
    constexpr std::string_view alphabet = "0123456789abcdefghijklmnopqrstuvwxyz";
    std::string suffix(6, '0');
    for (char& c : suffix) {
        c = alphabet[static_cast<std::size_t>(bits % alphabet.size())];
        bits /= alphabet.size();
    }
    return suffix;
}

// Creates a temporary file for the listing file name listing_file and puts
// its name into temporary. Returns 0 or the error.
int create_temporary(std::string_view listing_file, std::string& temporary) {
    int error = EEXIST;
    for (int attempt = 0; attempt < creation_attempts && error == EEXIST; ++attempt) {
        temporary = temporary_file_name(listing_file, unique_suffix());
        error = platform::create_temporary(temporary);
    }
    return error;
}

// Writes all size bytes at bytes into the temporary file. Returns 0 or the
// error.
int write_all(const char* bytes, std::size_t size) {
    while (size > 0) {
        std::size_t written = 0;
        const int error = platform::write_temporary(bytes, size, written);
        if (error == EINTR) {
            continue;
        }
        if (error != 0) {
            return error;
        }
        bytes += written;
        size -= written;
    }
    return 0;
}

}  // namespace

std::size_t file_name_start(std::string_view name) {
    // npos + 1 is 0: a name without a separator is all file name.
    return name.find_last_of(platform::folder_separators()) + 1;
}

std::string temporary_file_name(std::string_view listing_file, std::string_view unique,
                                std::size_t longest) {
    constexpr std::string_view infix = ".huemill-";
    constexpr std::string_view extension = ".tmp";
    const std::size_t suffix_size = infix.size() + unique.size() + extension.size();
    std::size_t kept = listing_file.size();
    if (kept + suffix_size > longest) {
        kept = longest - suffix_size;
        // Back up to the first byte of a UTF-8 character, not into one.
        while (kept > 0 && (static_cast<unsigned char>(listing_file[kept]) & 0xC0U) == 0x80U) {
            --kept;
        }
    }
    std::string temporary;
    temporary.reserve(kept + suffix_size);
    temporary.append(listing_file.substr(0, kept)).append(infix).append(unique).append(extension);
    return temporary;
}

ListingOutcome replace_listing(const std::string& name, const char* text, std::size_t size) {
    ListingOutcome outcome;
    outcome.error = platform::begin_listing(name);
    if (outcome.error == 0) {
        const std::size_t file_start = file_name_start(name);
        std::string temporary;
        outcome.error = create_temporary(std::string_view(name).substr(file_start), temporary);
        if (outcome.error != 0) {
            outcome.folder_refused = true;
        } else {
            outcome.error = platform::carry_over();
            if (outcome.error == 0) {
                outcome.error = write_all(text, size);
            }
            if (outcome.error == 0) {
                outcome.error = platform::commit();
            }
            if (outcome.error != 0 && platform::discard() != 0) {
                outcome.left_behind = name.substr(0, file_start) + temporary;
            }
        }
    }
    platform::end_listing();
    return outcome;
}

}  // namespace huemill
