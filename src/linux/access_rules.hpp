// The rules that decide who may use a replaced listing, as pure functions
// of what the old listing had and what its temporary file was given: no
// system call and no state, so that a table test checks them as any user.
// access.cpp asks the system for what they decide.
#ifndef HUEMILL_LINUX_ACCESS_RULES_HPP
#define HUEMILL_LINUX_ACCESS_RULES_HPP

#include <sys/types.h>

#include <string>

namespace huemill::platform {

// A file's owner, group and permission bits (no setuid, setgid or sticky
// bit, which do not suit a listing, which is text).
struct Holder {
    uid_t owner;
    gid_t group;
    mode_t bits;
};

// The mode a temporary file is created with: what any new file gets for a
// new listing; for its owner alone where it replaces one, so that nothing
// its folder gives it (a group, a default ACL) opens it to anyone the old
// listing shuts out before it is set right.
mode_t creation_mode(bool replaces);

// What a replacement needs to be given, of the old listing's owner and
// group, where it was made by user and given what given says: root keeps
// another user's listing that user's, with its group; anyone else gives it
// the old group where it got another (which the system allows only where
// the user belongs to it).
enum class Chown { none, group, owner_and_group };
Chown chown_to_keep(uid_t user, const Holder& old, const Holder& given);

// Where the old listing's group cannot be kept, the replacement has another
// owning group, and users change class: the old group's members who are in
// no other named class count as others, and the new group's members count
// as its owning group, whatever they counted as before (the old owning
// group, a named group, or others). So that no one gains, others get only
// what both the old owning group (through the mask) and others had, and the
// owning group only what every one of those classes had, each named group
// (through the mask) included. Named users, named groups and the mask keep
// their entries. narrow_bits applies the rule to bits alone, narrow_acl to
// an access ACL as Linux stores it (system.posix_acl_access), in place.
mode_t narrow_bits(mode_t bits);
void narrow_acl(std::string& acl);

// What is done last, to open the replacement to others once its owner and
// group are right: the old listing's ACL set, which sets the bits with it
// and replaces any the file inherited; or else the ACL it inherited
// removed, and then the old bits set where the file has others.
struct Opening {
    bool set_acl = false;           // set the old listing's ACL
    bool narrow_acl = false;        // ... as narrow_acl narrows it
    bool remove_inherited = false;  // remove the ACL the file inherited
    bool set_bits = false;          // set bits, after that
    mode_t bits = 0;
};

// The opening of a replacement whose old listing had old_bits and, where
// old_acl, an access ACL, where its group is kept or not, and which was
// given given_bits and, where inherited, an ACL from its folder.
Opening opening(mode_t old_bits, bool old_acl, bool group_kept, mode_t given_bits, bool inherited);

}  // namespace huemill::platform

#endif
