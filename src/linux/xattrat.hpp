// The numbers of listxattrat and getxattrat, which Linux 6.13 added, where
// the C library has no name for them yet: the same on x86-64, i386 and
// arm64. Elsewhere SYS_listxattrat stays undefined, and huemill names
// attributes as on an older kernel. The tests' launcher that refuses the
// two calls (tests/no_xattrat.cpp) takes their numbers from here too.
#ifndef HUEMILL_LINUX_XATTRAT_HPP
#define HUEMILL_LINUX_XATTRAT_HPP

#include <sys/syscall.h>

#if !defined(SYS_listxattrat) && \
    ((defined(__x86_64__) && !defined(__ILP32__)) || defined(__i386__) || defined(__aarch64__))
#define SYS_getxattrat 464
#define SYS_listxattrat 465
#endif

#endif
