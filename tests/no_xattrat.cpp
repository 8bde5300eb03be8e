// Runs a command as on Linux before 6.13, where listxattrat and getxattrat
// do not exist: a seccomp filter makes both fail with ENOSYS (with
// --getxattrat, that one alone), for the command and everything it starts.
// strace cannot fail calls it has no name for, so the tests use this to
// take huemill's other ways of naming extended attributes.
// Usage: no_xattrat [--getxattrat] COMMAND [ARGUMENT...]
#include <linux/audit.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <string_view>

#include "linux/xattrat.hpp"

namespace {

#if defined(__x86_64__)
constexpr unsigned this_arch = AUDIT_ARCH_X86_64;
#elif defined(__i386__)
constexpr unsigned this_arch = AUDIT_ARCH_I386;
#elif defined(__aarch64__)
constexpr unsigned this_arch = AUDIT_ARCH_AARCH64;
#endif

}  // namespace

int main(int argc, char* argv[]) {
    const bool get_alone = argc > 1 && std::string_view(argv[1]) == "--getxattrat";
    char** command = argv + (get_alone ? 2 : 1);
    if (*command == nullptr) {
        std::fprintf(stderr, "usage: no_xattrat [--getxattrat] COMMAND [ARGUMENT...]\n");
        return 2;
    }
    const unsigned listed = get_alone ? SYS_getxattrat : SYS_listxattrat;
    sock_filter filter[] = {
        // Calls of another architecture's numbering pass.
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, arch)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, this_arch, 1, 0),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, SYS_getxattrat, 2, 0),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, listed, 1, 0),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | ENOSYS),
    };
    const sock_fprog program = {static_cast<unsigned short>(sizeof filter / sizeof filter[0]),
                                filter};
    if (prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0 ||
        prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program) != 0) {
        std::perror("no_xattrat: seccomp");
        return 127;
    }
    execvp(command[0], command);
    std::perror("no_xattrat: exec");
    return 127;
}
