// Who may use a replaced listing, as the rules decide it, with no system
// call: any user runs these. Access.ReplacedListingKeepsWhoMayUseIt checks,
// as root, that the system does what they decide.
#include <cstdint>
#include <initializer_list>

#include "linux/access_rules.hpp"
#include "support.hpp"

namespace {

using huemill::platform::Chown;
using huemill::platform::Holder;

// An access ACL as Linux stores it: a header, then each entry's tag,
// rights and id, little-endian.
enum Tag : std::uint16_t { owner = 1, user = 2, group = 4, named_group = 8, mask = 16, other = 32 };
struct Entry {
    Tag tag;
    unsigned rights;
    std::uint32_t id = 0xFFFFFFFFU;
};
std::string acl(std::initializer_list<Entry> entries) {
    std::string bytes("\x02\x00\x00\x00", 4);
    for (const Entry& entry : entries) {
        for (const std::uint32_t value :
             {std::uint32_t{entry.tag} | entry.rights << 16U, entry.id}) {
            for (unsigned shift = 0; shift < 32; shift += 8) {
                bytes += static_cast<char>(value >> shift & 0xFFU);
            }
        }
    }
    return bytes;
}

TEST(AccessRules, WhatTheReplacementGetsFollowsTheOldListingAndWhatItWasGiven) {
    const uid_t root = 0, runner = 1000, other_user = 1001;
    const gid_t runner_group = 100, staff = 50;
    const std::string named = acl({{owner, 6}, {user, 4, 1}, {group, 4}, {mask, 4}, {other, 0}});
    const struct {
        const char* what;
        uid_t user;
        Holder old;
        std::string old_acl;
        Holder given;
        bool group_kept;  // where the system was asked to give the old group
        bool inherited;
        Chown chown;
        std::string acl_set;  // "" where none is set
        bool remove_inherited;
        int bits;  // -1 where they are not set
    } rows[] = {
        // clang-format off
        {"the same group, no ACL: the old bits",
         runner, {runner, runner_group, 0644}, "", {runner, runner_group, 0600}, true, false,
         Chown::none, "", false, 0644},
        {"bits already the old ones: nothing to set",
         runner, {runner, runner_group, 0600}, "", {runner, runner_group, 0600}, true, false,
         Chown::none, "", false, -1},
        {"a group the runner is in but not its own, in a folder of that group without setgid: "
         "the file got the runner's group and is given the old one",
         runner, {runner, staff, 0640}, "", {runner, runner_group, 0600}, true, false,
         Chown::group, "", false, 0640},
        {"a group the runner is not in: group and others get what both had",
         runner, {runner, staff, 0664}, "", {runner, runner_group, 0600}, false, false,
         Chown::group, "", false, 0644},
        {"a group the runner is not in, shut out while others may read: it stays out",
         runner, {runner, staff, 0604}, "", {runner, runner_group, 0600}, false, false,
         Chown::group, "", false, -1},
        {"an ACL inherited from the folder, none before: removed, and the bits set",
         runner, {runner, runner_group, 0600}, "", {runner, runner_group, 0600}, true, true,
         Chown::none, "", true, 0600},
        {"an ACL with a named user and a mask, the group kept: set as it was",
         runner, {runner, runner_group, 0640}, named, {runner, runner_group, 0600}, true, true,
         Chown::none, named, false, -1},
        {"an ACL, the group lost: others keep what both group and others had",
         runner, {runner, staff, 0644}, acl({{owner, 6}, {user, 4, 1}, {group, 4}, {mask, 4}, {other, 4}}),
         {runner, runner_group, 0600}, false, false,
         Chown::group, acl({{owner, 6}, {user, 4, 1}, {group, 4}, {mask, 4}, {other, 4}}), false, -1},
        {"an ACL whose mask shuts the group out, the group lost: others are shut out too",
         runner, {runner, staff, 0604}, acl({{owner, 6}, {group, 4}, {mask, 0}, {other, 4}}),
         {runner, runner_group, 0600}, false, false,
         Chown::group, acl({{owner, 6}, {group, 0}, {mask, 0}, {other, 0}}), false, -1},
        {"an ACL with a named group without rights, the group lost: the new group gets none",
         runner, {runner, staff, 0644}, acl({{owner, 6}, {group, 4}, {named_group, 0, 50}, {mask, 4}, {other, 4}}),
         {runner, runner_group, 0600}, false, false,
         Chown::group, acl({{owner, 6}, {group, 0}, {named_group, 0, 50}, {mask, 4}, {other, 4}}), false, -1},
        {"root replacing another user's listing: its owner and group",
         root, {other_user, staff, 0640}, "", {root, root, 0600}, true, false,
         Chown::owner_and_group, "", false, 0640},
        {"root replacing its own, in a setgid folder of another group: the old group",
         root, {root, root, 0644}, "", {root, staff, 0600}, true, false,
         Chown::group, "", false, 0644},
        {"another user's listing this one may write: the group as it was, the file its own",
         runner, {other_user, runner_group, 0664}, "", {runner, runner_group, 0600}, true, false,
         Chown::none, "", false, 0664},
        // clang-format on
    };
    for (const auto& row : rows) {
        EXPECT_EQ(huemill::platform::chown_to_keep(row.user, row.old, row.given), row.chown)
            << row.what;
        const auto open = huemill::platform::opening(row.old.bits, !row.old_acl.empty(),
                                                     row.group_kept, row.given.bits, row.inherited);
        std::string acl = row.old_acl;
        if (open.narrow_acl) {
            huemill::platform::narrow_acl(acl);
        }
        EXPECT_EQ(open.set_acl ? acl : "", row.acl_set) << row.what;
        EXPECT_EQ(open.remove_inherited, row.remove_inherited) << row.what;
        EXPECT_EQ(open.set_bits ? static_cast<int>(open.bits) : -1, row.bits) << row.what;
    }
}

}  // namespace
