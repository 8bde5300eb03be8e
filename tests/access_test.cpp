// A replaced listing keeps who may use it: its permission bits, its access
// ACL, its group, and for root its owner, whatever the folder's default ACL
// or the creation mask; a group that cannot be kept gets no access. A new
// listing gets what any new file gets.
#include <sys/xattr.h>

#include <cstdlib>

#include "support.hpp"

namespace {

namespace fs = std::filesystem;
using namespace huemill_test;
using Access = ScratchFolder;

const std::string& palette = sample_palette;
const std::string& listing = sample_listing;

// Runs command with sh in the current folder; true where it succeeded.
bool shell(const std::string& command) { return std::system(command.c_str()) == 0; }

TEST_F(Access, ReplacedListingKeepsWhoMayUseIt) {
    if (geteuid() != 0 || !shell("setfacl --version > /dev/null 2>&1") ||
        !unprivileged_launcher() || unprivileged_launcher()->empty()) {
        GTEST_SKIP() << "needs root, setfacl (Debian: acl) and setpriv to set owners and ACLs";
    }
    // nobody, with the supplementary group 100 (users) as well.
    const std::vector<std::string> nobody = {"setpriv", "--reuid=65534", "--regid=65534",
                                             "--groups=100"};
    struct Case {
        const char* what;
        const char* folder_setup;  // on the folder $d
        const char* setup;         // on the old listing $f; empty: there is none
        bool as_nobody;
        const char* expected;  // on a copy $f of the old listing, or the touched file $f
    };
    const Case cases[] = {
        {"an ACL with a named entry and no rights for the group", "",
         "chmod 600 $f && setfacl -m u:daemon:rw $f", false, ""},
        {"no ACL, in a folder whose default ACL would give one and narrow the bits",
         "setfacl -d -m u::rw,u:daemon:rw,g::-,o::- $d", "setfacl -b $f && chmod 644 $f", false,
         ""},
        {"bits wider than the creation mask lets a new file be", "", "chmod 666 $f", false, ""},
        {"another owner and group, kept by root", "", "chown daemon:daemon $f && chmod 640 $f",
         false, ""},
        {"setuid, which a listing does not keep", "", "chmod 4755 $f", false, "chmod u-s $f"},
        {"a group nobody belongs to, kept", "", "chown nobody:100 $f && chmod 640 $f", true, ""},
        {"a group nobody does not belong to: no rights for the group nobody gives it", "",
         "chown nobody:daemon $f && chmod 664 $f", true, "chgrp 65534 $f && chmod g= $f"},
        {"the same with an ACL", "",
         "chown nobody:daemon $f && chmod 660 $f && setfacl -m u:daemon:r $f", true,
         "chgrp 65534 $f && setfacl -n -m g::- $f"},
        {"a new listing in a folder with a default ACL: what any new file gets",
         "setfacl -d -m u::rw,u:daemon:r,g::r,o::- $d", "", false, "touch $f"},
    };
    int number = 0;
    for (const Case& row : cases) {
        const std::string folder = "case" + std::to_string(++number);
        const std::string old_listing = folder + "/x.pal.c";
        const std::string reference = folder + "-reference";
        fs::create_directory(folder);
        fs::create_directory(reference);
        // nobody may create files in both.
        ASSERT_TRUE(shell("chmod 777 " + folder + " " + reference));
        for (const std::string& d : {folder, reference}) {
            if (*row.folder_setup != '\0') {
                ASSERT_TRUE(shell("d=" + d + "; " + row.folder_setup)) << row.what;
            }
            if (*row.setup != '\0') {
                write_file(d + "/x.pal.c", old_listing);
                ASSERT_TRUE(shell("f=" + d + "/x.pal.c; " + row.setup)) << row.what;
            }
        }
        if (*row.expected != '\0') {
            ASSERT_TRUE(shell("f=" + reference + "/x.pal.c; " + row.expected)) << row.what;
        }
        write_file(folder + "/x.pal", palette);
        const auto run = huemill({old_listing.substr(0, old_listing.size() - 2)},
                                 row.as_nobody ? nobody : std::vector<std::string>{});
        EXPECT_EQ(run.status, 0) << row.what << ": " << run.err;
        EXPECT_EQ(read_file(old_listing), listing) << row.what;
        EXPECT_EQ(access_of(old_listing), access_of(reference + "/x.pal.c")) << row.what;
    }
}

TEST_F(Access, UserAttributesComeAlongWhereTheSystemAllows) {
    write_file("x.pal", palette);
    write_file("x.pal.c", old_listing);
    if (setxattr("x.pal.c", "user.origin", "palette shop", 12, 0) != 0) {
        GTEST_SKIP() << "this file system keeps no user.* attributes";
    }
    const auto run = huemill({"x.pal"});
    EXPECT_EQ(run.status, 0) << run.err;
    std::string value(64, '\0');
    value.resize(static_cast<std::size_t>(
        std::max<ssize_t>(0, getxattr("x.pal.c", "user.origin", value.data(), value.size()))));
    EXPECT_EQ(value, "palette shop");
}

}  // namespace
