// What the run knows of the files it reads and makes, and the one rule it
// keeps with it: a listing never replaces a palette of the run, nor one
// made before it, without the run knowing.
#include "run.hpp"

#include <algorithm>
#include <cerrno>

#include "unicode.hpp"

namespace huemill {
namespace {

IdentityKey key_of(const platform::FileIdentity& identity) {
    return {identity.device, identity.number};
}

// Whether a file named file_name could be a listing's file: its name ends
// in ".pal.c" as folded (no character outside ASCII folds to one of those
// letters), but for the dots and spaces Windows drops. A cheap look before
// any name is folded.
bool may_be_a_listing(std::string_view file_name) {
    if (platform::names_drop_trailing_dots) {
        file_name = without_trailing_dots(file_name);
    }
    return file_name.size() >= listing_suffix.size() &&
           equal_ignoring_case(file_name.substr(file_name.size() - listing_suffix.size()),
                               listing_suffix);
}

// Whether other, a path as named (an argument, or a listing made), names
// the file that stands at listing's name, where their file names fold to
// one: their folders are one (by the paths as named, or else by identity)
// and the names are spelled alike, or the system ignores case, or the
// folder does not hold both spellings (a file system that takes one for
// the other, and gives each its own identity: FAT through FUSE).
bool same_place(Run& run, const ListingPlace& listing, std::string_view other) {
    const std::size_t listing_start = file_name_start(listing.name);
    const std::size_t other_start = file_name_start(other);
    const std::string_view other_folder = other.substr(0, other_start);
    if (listing.name.substr(0, listing_start) != other_folder) {
        const std::string path(other_folder.empty() ? "." : other_folder);
        platform::FileIdentity there;
        // A folder the system cannot look at is no listing's: reading from
        // it fails.
        platform::identity_of(*run.system, path.c_str(), "", there);
        if (!platform::same_file(there, platform::folder_identity(listing.folder))) {
            return false;
        }
    }
    const std::string_view listing_file = listing.name.substr(listing_start);
    const std::string_view other_file = other.substr(other_start);
    return listing_file == other_file || platform::names_ignore_case ||
           !(platform::holds_as_spelled(listing.folder, listing_file) &&
             platform::holds_as_spelled(listing.folder, other_file));
}

// Learns run.to_read: one look at each argument after the one at index,
// as reading will reach it (the ones before are read, and a later listing
// asks of none before its own). Returns 0, or the error that keeps the
// system from saying where one is, with failed set to that argument.
int learn_palettes_to_read(Run& run, int index, const char*& failed) {
    PalettesToRead& to_read = run.to_read;
    to_read.by_identity.clear();
    to_read.by_name.clear();
    const int first = index + 1;
    std::vector<platform::NamedPath> paths;
    for (int i = first; i < run.count; ++i) {
        const std::string_view path(run.arguments[i]);
        paths.push_back({run.arguments[i], path.substr(file_name_start(path))});
    }
    std::vector<platform::FileIdentity> identities;
    std::size_t failed_at = 0;
    if (const int error = platform::learn_paths(*run.system, paths, identities, failed_at)) {
        failed = paths[failed_at].path;
        return error;
    }
    for (std::size_t at = 0; at < paths.size(); ++at) {
        const int i = first + static_cast<int>(at);
        if (identities[at].known) {
            to_read.by_identity.emplace_back(key_of(identities[at]), i);
        }
        if (may_be_a_listing(paths[at].file_name)) {
            to_read.by_name.emplace(folded(run, paths[at].file_name), i);
        }
    }
    std::sort(to_read.by_identity.begin(), to_read.by_identity.end());
    to_read.learned = true;
    return 0;
}

}  // namespace

int start(Run& run, const Options& options, int count, char** arguments) {
    run.options = options;
    run.arguments = arguments;
    run.count = count;
    run.system = platform::start_system();
    seed(run.buffers.temporary);
    run.made.reserve(static_cast<std::size_t>(count));
    if (const char* folder = options.output_dir) {
        const std::string_view name(folder);
        if (name.empty()) {
            return ENOENT;
        }
        // Named as a folder part is: ending in a separator.
        run.output_name = name;
        if (file_name_start(run.output_name) != run.output_name.size()) {
            run.output_name += '/';
        }
        return platform::hold_folder(*run.system, run.output_name, run.output);
    }
    return 0;
}

void made_listing_name(const Run& run, std::string_view input, std::string& name) {
    if (run.output) {
        name.assign(run.output_name).append(stem_of(input)).append(listing_suffix);
    } else {
        listing_name(input, name);
    }
}

const std::string& folded(Run& run, std::string_view name) {
    fold_name(name, run.buffers.folded, platform::names_in_wtf8,
              platform::names_drop_trailing_dots);
    return run.buffers.folded;
}

bool replaces_palette(Run& run, std::string_view path, const platform::FileIdentity& palette,
                      const ListingPlace& listing) {
    if (platform::same_file(palette, listing.standing) && palette.links <= 1) {
        return true;
    }
    const std::string_view file = path.substr(file_name_start(path));
    if (!may_be_a_listing(file)) {
        return false;
    }
    return folded(run, file) == listing.folded && same_place(run, listing, path);
}

int palette_to_read_at(Run& run, int index, const ListingPlace& listing, const char*& later) {
    later = nullptr;
    if (!run.to_read.learned) {
        if (const int error = learn_palettes_to_read(run, index, later)) {
            return error;
        }
    }
    const auto& by_identity = run.to_read.by_identity;
    if (listing.standing.known) {
        const auto same = std::upper_bound(by_identity.begin(), by_identity.end(),
                                           std::make_pair(key_of(listing.standing), index));
        if (same != by_identity.end() && same->first == key_of(listing.standing)) {
            later = run.arguments[same->second];
            return 0;
        }
    }
    if (run.to_read.by_name.empty()) {
        return 0;
    }
    const auto [first, last] = run.to_read.by_name.equal_range(std::string(listing.folded));
    for (auto named = first; named != last && later == nullptr; ++named) {
        if (named->second > index && same_place(run, listing, run.arguments[named->second])) {
            later = run.arguments[named->second];
        }
    }
    return 0;
}

Run::ListingsMade::iterator listing_made_at(Run& run, const ListingPlace& listing) {
    run.buffers.folded.assign(listing.folded);  // the key, with no copy of its own
    const auto [first, last] = run.made.equal_range(run.buffers.folded);
    std::string name;
    for (auto made = first; made != last; ++made) {
        made_listing_name(run, made->second, name);
        if (same_place(run, listing, name)) {
            return made;
        }
    }
    return run.made.end();
}

}  // namespace huemill
