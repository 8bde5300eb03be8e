#include "linux/access_rules.hpp"

#include <cstddef>

namespace huemill::platform {
namespace {

// The tags of an ACL's entries, as stored: a 4-byte header, then 8-byte
// entries of tag, permissions and id, little-endian.
enum AclTag : unsigned {
    owning_group = 0x04,
    named_group = 0x08,
    mask = 0x10,
    others = 0x20,
};
constexpr std::size_t acl_header_size = 4;
constexpr std::size_t acl_entry_size = 8;

unsigned tag_of(const std::string& acl, std::size_t entry) {
    return static_cast<unsigned char>(acl[entry]) |
           static_cast<unsigned>(static_cast<unsigned char>(acl[entry + 1])) << 8U;
}

}  // namespace

mode_t creation_mode(bool replaces) { return replaces ? 0600 : 0666; }

Chown chown_to_keep(uid_t user, const Holder& old, const Holder& given) {
    if (user == 0 && old.owner != 0) {
        return Chown::owner_and_group;
    }
    return given.group == old.group ? Chown::none : Chown::group;
}

mode_t narrow_bits(mode_t bits) {
    const mode_t both = (bits >> 3U) & bits & 07U;
    return (bits & ~static_cast<mode_t>(077)) | both << 3U | both;
}

void narrow_acl(std::string& acl) {
    unsigned masked = 07, group = 07, other = 07, every_named_group = 07;
    for (std::size_t entry = acl_header_size; entry + acl_entry_size <= acl.size();
         entry += acl_entry_size) {
        const unsigned rights = static_cast<unsigned char>(acl[entry + 2]) & 07U;
        switch (tag_of(acl, entry)) {
            case mask:
                masked = rights;
                break;
            case owning_group:
                group = rights;
                break;
            case others:
                other = rights;
                break;
            case named_group:
                every_named_group &= rights;
                break;
            default:
                break;
        }
    }
    const unsigned as_others = group & masked & other;
    const unsigned as_group = as_others & every_named_group & masked;
    for (std::size_t entry = acl_header_size; entry + acl_entry_size <= acl.size();
         entry += acl_entry_size) {
        const unsigned tag = tag_of(acl, entry);
        if (tag == owning_group || tag == others) {
            acl[entry + 2] = static_cast<char>(tag == owning_group ? as_group : as_others);
            acl[entry + 3] = 0;
        }
    }
}

Opening opening(mode_t old_bits, bool old_acl, bool group_kept, mode_t given_bits, bool inherited) {
    Opening open;
    open.bits = group_kept ? old_bits : narrow_bits(old_bits);
    if (old_acl) {
        open.set_acl = true;
        open.narrow_acl = !group_kept;
        return open;
    }
    open.remove_inherited = inherited;
    open.set_bits = inherited || given_bits != open.bits;
    return open;
}

}  // namespace huemill::platform
