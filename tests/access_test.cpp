// A replaced listing keeps who may use it: its permission bits, its access
// ACL, its group, and for root its owner, whatever the folder's default ACL
// or the creation mask, and its temporary file is never open to anyone the
// old listing shuts out. Where the group cannot be kept, no one who changes
// class gains; where root may not keep the owner or override access, the
// old listing stays. A listing that changes between looks is no failure. A
// new listing gets what any new file gets.
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cstdlib>
#include <functional>
#include <sstream>

#include "support.hpp"

namespace {

namespace fs = std::filesystem;
using namespace huemill_test;

// Whether the user setpriv's options name may open path for reading.
bool may_read(const std::string& user, const std::string& path) {
    return shell("setpriv " + user + " cat " + path + " > /dev/null 2>&1");
}

// The temporary file in folder, once one is there; empty where none came
// within two seconds.
std::string temporary_in(const std::string& folder) {
    for (int wait = 0; wait < 1000; ++wait) {
        for (const auto& entry : fs::directory_iterator(folder)) {
            if (entry.path().filename().string().find(".huemill-") != std::string::npos) {
                return entry.path().string();
            }
        }
        usleep(2000);
    }
    return "";
}

using Launcher = std::vector<std::string>;
const Launcher as_runner;  // whoever runs the tests, root or not

// One old listing, the run that replaces it, and what the new listing must
// have: what a reference copy of the old one has, after expected.
struct Case {
    const char* what;
    const char* folder_setup;  // on the folder $d
    const char* setup;         // on the old listing $f; empty: there is none
    const Launcher& runner;
    // setpriv's options for a user the old listing shuts out, who must
    // not open the temporary file while it exists, nor the new listing;
    // where set, the temporary file is checked to be its owner's alone
    // while it exists, by its mode, root or not.
    const char* shut_out;
    const char* inject;    // what strace injects, where something does
    int status;            // 0, or 1 with the old listing kept
    int error;             // the failure's reason
    const char* detail;    // and its note
    const char* expected;  // on a copy $f of the old listing, or the touched file $f
    // Where set, done to $d while the run waits on a palette it reads
    // from a FIFO there, after replacing a listing in $d and before x's.
    const char* midrun = "";
    // Where set, done to $d while the run is held just before it
    // creates x's temporary file.
    const char* at_create = "";
    // How the run names the old listing's extended attributes: through
    // the folder's descriptor, where the kernel can; else through /proc
    // (strace can fail only calls it knows, which the newer ones are
    // not to the strace of Debian 12); else from inside the folder.
    const Launcher& way = as_runner;
    // Where set, a palette in the folder the run started in, converted
    // after x by a relative name: the run must be back in that folder.
    const char* then = "";
};

// Whether the file at path is open to its owner alone: no group class
// bits (which an ACL's mask sets) and no others.
bool owners_alone(const std::string& path) {
    struct stat status {};
    return stat(path.c_str(), &status) == 0 && (status.st_mode & 077U) == 0;
}

class Access : public ScratchFolder {
protected:
    // Checks each row in a folder of its own; says which could not be run
    // here (they need strace) as the test's skip, once the rest ran.
    template <std::size_t count>
    void check(const Case (&rows)[count]) {
        std::string skipped;
        for (std::size_t number = 0; number < count; ++number) {
            check(rows[number], "case" + std::to_string(number + 1), skipped);
        }
        if (!skipped.empty()) {
            GTEST_SKIP() << "strace is missing, or the program runs under a wrapper: not run: "
                         << skipped;
        }
    }

    // Checks row in folder; adds it to skipped where it needs strace,
    // which is not here.
    void check(const Case& row, const std::string& folder, std::string& skipped);
};

void Access::check(const Case& row, const std::string& folder, std::string& skipped) {
    const bool root = geteuid() == 0;
    const std::string name = folder + "/x.pal.c";
    const std::string reference = folder + "-reference";
    // Lays out folder d and the old listing in it.
    const auto lay_out = [&](const std::string& d) {
        fs::remove_all(d);
        fs::create_directory(d);
        // nobody may create files there.
        ASSERT_TRUE(shell("chmod 777 " + d));
        if (*row.folder_setup != '\0') {
            ASSERT_TRUE(shell("d=" + d + "; " + row.folder_setup)) << row.what;
        }
        if (*row.setup != '\0') {
            write_file(d + "/x.pal.c", old_listing);
            ASSERT_TRUE(shell("f=" + d + "/x.pal.c; " + row.setup)) << row.what;
        }
        write_file(d + "/x.pal", sample_palette);
        if (*row.midrun != '\0') {
            write_file(d + "/a.pal", sample_palette);
            write_file(d + "/a.pal.c", old_listing);
            ASSERT_EQ(mkfifo((d + "/f.pal").c_str(), 0644), 0);
        }
    };
    lay_out(reference);
    if (*row.expected != '\0') {
        ASSERT_TRUE(shell("f=" + reference + "/x.pal.c; " + row.expected)) << row.what;
    }
    lay_out(folder);
    std::vector<std::string> args = {folder + "/x.pal"};
    if (*row.midrun != '\0') {
        args.insert(args.begin(), {folder + "/a.pal", folder + "/f.pal"});
    }
    if (*row.then != '\0') {
        write_file(row.then, sample_palette);
        args.push_back(row.then);
    }
    // strace, where one is wanted, starts the way and the runner: as
    // root, it can reach the program wherever the tests were built.
    Launcher strace;
    const auto launcher = [&] {
        Launcher command = strace;
        command.insert(command.end(), row.way.begin(), row.way.end());
        command.insert(command.end(), row.runner.begin(), row.runner.end());
        return command;
    };
    bool got_in = false;
    std::function<void()> meanwhile = [] {};
    if (*row.midrun != '\0') {
        meanwhile = [&] {
            EXPECT_TRUE(feed_fifo(folder + "/f.pal", sample_palette, [&] {
                EXPECT_TRUE(shell("d=" + folder + "; " + row.midrun)) << row.what;
            })) << row.what;
        };
    } else if (*row.shut_out != '\0' || *row.inject != '\0' || *row.at_create != '\0') {
        strace = traced({"-o", "../trace", "-e", "trace=openat,llistxattr,lgetxattr"});
        if (strace.empty()) {
            skipped += std::string(skipped.empty() ? "" : "; ") + row.what;
            return;
        }
    }
    if (*row.inject != '\0') {
        strace.insert(strace.end(), {"-e", std::string("inject=") + row.inject});
    } else if (!strace.empty()) {
        const auto clean = huemill(args, launcher());
        ASSERT_EQ(clean.status, 0) << row.what << ": " << clean.err;
        const std::string create = std::to_string(creating_openat("../trace"));
        ASSERT_NE(create, "0") << row.what;
        lay_out(folder);
        if (*row.at_create != '\0') {
            // Held for 1.5 s as it is about to create the file, and the
            // folder changed half way: the run has long since looked at
            // everything it looks at before the create.
            strace.insert(strace.end(), {"-e", "inject=openat:delay_enter=1500000:when=" + create});
            meanwhile = [&] {
                usleep(750000);
                EXPECT_TRUE(shell("d=" + folder + "; " + row.at_create)) << row.what;
            };
        } else {
            // Held right after the create: who may open the file then
            // keeps it open, and reads the listing once written.
            ASSERT_TRUE(!root || may_read(row.shut_out, folder + "/x.pal")) << row.what;
            strace.insert(strace.end(), {"-e", "inject=openat:delay_exit=400000:when=" + create});
            meanwhile = [&] {
                const std::string temporary = temporary_in(folder);
                EXPECT_NE(temporary, "") << row.what;
                got_in = !temporary.empty() &&
                         (!owners_alone(temporary) || (root && may_read(row.shut_out, temporary)));
            };
        }
    }
    const auto run = huemill(args, launcher(), meanwhile);
    EXPECT_FALSE(got_in) << row.what << ": the temporary file was open to one shut out";
    EXPECT_EQ(run.status, row.status) << row.what << ": " << run.err;
    EXPECT_EQ(run.err, row.status == 0 ? "" : failure_message(name, row.error, row.detail))
        << row.what;
    EXPECT_EQ(read_file(name), row.status == 0 ? sample_listing : old_listing) << row.what;
    EXPECT_EQ(access_of(name), access_of(reference + "/x.pal.c")) << row.what;
    if (*row.shut_out != '\0' && root) {
        EXPECT_FALSE(may_read(row.shut_out, name)) << row.what;
    }
    if (*row.then != '\0') {
        EXPECT_EQ(read_file(std::string(row.then) + ".c"), sample_listing) << row.what;
    }
}

const char* const daemon = "--reuid=1 --regid=1 --clear-groups";
const char* const in_root_group = "--reuid=1001 --regid=0 --clear-groups";
const char* const in_nobody_group = "--reuid=1002 --regid=65534 --clear-groups";
const char* const in_daemon_group = "--reuid=1003 --regid=1 --clear-groups";
const char* const in_staff_and_nobody_group = "--reuid=1004 --regid=65534 --groups=50";
const Launcher proc = through_proc();
const Launcher get_refused = through_proc(true);
const Launcher inside = from_inside();

TEST_F(Access, ListingReplacedByItsOwnerKeepsWhoMayUseIt) {
    if (!installed("setfacl")) {
        GTEST_SKIP() << "needs setfacl (Debian: acl) to set ACLs";
    }
    const Case cases[] = {
        {"an ACL with a named entry and no rights for the group", "",
         "chmod 600 $f && setfacl -m u:daemon:rw $f", as_runner, in_root_group, "", 0, 0, "", ""},
        {"no ACL, in a folder whose default ACL grants a user it shuts out and narrows the bits",
         "setfacl -d -m u::rw,u:daemon:r,g::-,o::- $d", "setfacl -b $f && chmod 640 $f", as_runner,
         daemon, "", 0, 0, "", ""},
        {"bits wider than the creation mask lets a new file be", "", "chmod 666 $f", as_runner, "",
         "", 0, 0, "", ""},
        {"setuid, which a listing does not keep", "", "chmod 4755 $f", as_runner, "", "", 0, 0, "",
         "chmod u-s $f"},
        {"a default ACL given to the folder mid-run", "", "chmod 640 $f", as_runner, daemon, "", 0,
         0, "", "", "setfacl -d -m u::rw,u:daemon:r,g::r,o::- $d"},
        {"a new listing in a folder with a default ACL: what any new file gets",
         "setfacl -d -m u::rw,u:daemon:r,g::r,o::- $d", "", as_runner, "", "", 0, 0, "",
         "touch $f"},
        {"gone between its status and its attributes: a new listing", "", "chmod 640 $f", as_runner,
         "", "llistxattr:error=ENOENT", 0, 0, "", "rm $f && touch $f", "", "", proc},
        {"its ACL gone between the list and the read: looked at again", "",
         "chmod 640 $f && setfacl -m u:daemon:r $f", as_runner, "",
         "lgetxattr:error=ENODATA:when=1", 0, 0, "", "", "", "", proc},
        {"a default ACL given to the folder as the temporary file is created", "", "chmod 640 $f",
         as_runner, "", "", 0, 0, "", "", "", "setfacl -d -m u::rw,u:daemon:r,g::r,o::- $d"},
        {"an ACL, named through /proc", "", "chmod 640 $f && setfacl -m u:daemon:r $f", as_runner,
         "", "", 0, 0, "", "", "", "", proc},
        {"an ACL, its value read through /proc where getxattrat alone is refused", "",
         "chmod 640 $f && setfacl -m u:daemon:r $f", as_runner, "", "", 0, 0, "", "", "", "",
         get_refused},
    };
    check(cases);
}

TEST_F(Access, ReplacedListingKeepsWhoMayUseIt) {
    if (geteuid() != 0 || !installed("setfacl") || !installed("setpriv")) {
        GTEST_SKIP() << "needs root, setfacl (Debian: acl) and setpriv to set owners and ACLs";
    }
    // nobody, with the supplementary group 100 (users) as well.
    const Launcher nobody = {"setpriv", "--reuid=65534", "--regid=65534", "--groups=100"};
    const Launcher root_without_chown = {"setpriv", "--bounding-set=-chown"};
    const Launcher root_without_override = {"setpriv", "--bounding-set=-dac_override"};
    const Case cases[] = {
        {"another owner and group, kept by root", "", "chown daemon:daemon $f && chmod 640 $f",
         as_runner, in_root_group, "", 0, 0, "", ""},
        {"a group nobody belongs to, kept, where new files get nobody's own", "chgrp 65534 $d",
         "chown nobody:100 $f && chmod 640 $f", nobody, in_nobody_group, "", 0, 0, "", ""},
        {"a group nobody is in but not its own, in a folder of that group without setgid: kept",
         "chgrp 100 $d", "chown nobody:100 $f && chmod 640 $f", nobody, in_nobody_group, "", 0, 0,
         "", ""},
        {"a group nobody is not in: the new group and others get what both had", "",
         "chown nobody:daemon $f && chmod 664 $f", nobody, "", "", 0, 0, "",
         "chgrp 65534 $f && chmod 644 $f"},
        {"a group nobody is not in, shut out while others may read: it stays out", "",
         "chown nobody:daemon $f && chmod 604 $f", nobody, in_daemon_group, "", 0, 0, "",
         "chgrp 65534 $f && chmod 600 $f"},
        {"the same with an ACL, whose other entry counts too", "",
         "chown nobody:daemon $f && chmod 604 $f && setfacl -m u:daemon:r $f", nobody,
         in_daemon_group, "", 0, 0, "", "chgrp 65534 $f && setfacl -n -m g::-,o::- $f"},
        {"a group nobody is not in, shut out by the mask while others may read: it stays out", "",
         "chown nobody:daemon $f && chmod 644 $f && setfacl -m m::- $f", nobody, in_daemon_group,
         "", 0, 0, "", "chgrp 65534 $f && setfacl -n -m g::-,o::- $f"},
        {"a named group with no rights: its members in the new group stay out", "",
         "chown nobody:daemon $f && chmod 644 $f && setfacl -m g:staff:- $f", nobody,
         in_staff_and_nobody_group, "", 0, 0, "", "chgrp 65534 $f && setfacl -n -m g::- $f"},
        {"a setgid group given to the folder mid-run", "", "chmod 640 $f", as_runner,
         in_daemon_group, "", 0, 0, "", "", "chgrp daemon $d && chmod g+s $d"},
        {"root that may not change owners: another user's listing is kept", "",
         "chown 1001:3000 $f && chmod 664 $f", root_without_chown, "", "", 1, EPERM,
         "cannot keep its owner", ""},
        {"root that may not override access: a read-only listing is kept", "",
         "chown 1001:1001 $f && chmod 444 $f", root_without_override, "", "", 1, EACCES, "", ""},
        {"a setgid group given to the folder as the temporary file is created", "", "chmod 640 $f",
         as_runner, "", "", 0, 0, "", "", "", "chgrp daemon $d && chmod g+s $d"},
        {"an ACL, named from inside the folder", "", "chmod 640 $f && setfacl -m u:daemon:r $f",
         as_runner, "", "", 0, 0, "", "", "", "", inside, "then.pal"},
    };
    check(cases);
}

TEST_F(Access, UserAttributesComeAlongWhereTheSystemAllows) {
    // Named every way, and where getxattrat alone is refused, which is not
    // taken for listxattrat's answer.
    fs::create_directory("d");
    for (const Launcher& way : {as_runner, proc, through_proc(true)}) {
        write_file("d/x.pal", sample_palette);
        write_file("d/x.pal.c", old_listing);
        if (setxattr("d/x.pal.c", "user.origin", "palette shop", 12, 0) != 0) {
            GTEST_SKIP() << "this file system keeps no user.* attributes";
        }
        const auto run = huemill({"d/x.pal"}, way);
        EXPECT_EQ(run.status, 0) << run.err;
        std::string value(64, '\0');
        value.resize(static_cast<std::size_t>(std::max<ssize_t>(
            0, getxattr("d/x.pal.c", "user.origin", value.data(), value.size()))));
        EXPECT_EQ(value, "palette shop") << (way.empty() ? "" : way.back());
    }
}

}  // namespace
