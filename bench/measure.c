/* Runs a program over files and prints what it cost its children:
 *   measure batch PROGRAM FILE...   one run over all the files
 *   measure single PROGRAM FILE...  one run per file, as a build rule would
 *   measure memory PROGRAM FILE...  one run over all the files, started by
 *                                   fork rather than posix_spawn
 * Output: wall seconds, CPU seconds (user + system of the children), and the
 * largest peak resident set of any child in KiB. A failed run fails.
 *
 * posix_spawn starts children cheaply by sharing this process's memory until
 * the exec, and Linux then counts this process's resident set in the
 * child's peak; a forked child only brings the few pages it copies. So the
 * timings use posix_spawn, and the memory figure uses fork. */
#include <spawn.h>
#include <stdio.h>
#include <string.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

extern char **environ;

static double seconds(struct timeval t) { return (double)t.tv_sec + (double)t.tv_usec / 1e6; }

static int run(char **argv, int by_fork, double *cpu, long *peak_kib) {
    pid_t child;
    if (by_fork) {
        child = fork();
        if (child == 0) {
            execv(argv[0], argv);
            _exit(127);
        }
        if (child < 0) return -1;
    } else if (posix_spawn(&child, argv[0], NULL, NULL, argv, environ) != 0) {
        return -1;
    }
    int status;
    struct rusage usage;
    if (wait4(child, &status, 0, &usage) != child) return -1;
    *cpu += seconds(usage.ru_utime) + seconds(usage.ru_stime);
    if (usage.ru_maxrss > *peak_kib) *peak_kib = usage.ru_maxrss;
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? 0 : -1;
}

int main(int argc, char **argv) {
    const char *mode = argc > 1 ? argv[1] : "";
    if (argc < 4 || (strcmp(mode, "batch") != 0 && strcmp(mode, "single") != 0 &&
                     strcmp(mode, "memory") != 0)) {
        fprintf(stderr, "usage: measure batch|single|memory PROGRAM FILE...\n");
        return 2;
    }
    double cpu = 0;
    long peak_kib = 0;
    struct timespec start, end;
    clock_gettime(CLOCK_MONOTONIC, &start);
    if (strcmp(mode, "single") == 0) {
        for (int i = 3; i < argc; ++i) {
            char *single[] = {argv[2], argv[i], NULL};
            if (run(single, 0, &cpu, &peak_kib) != 0) return 1;
        }
    } else if (run(argv + 2, strcmp(mode, "memory") == 0, &cpu, &peak_kib) != 0) {
        return 1;
    }
    clock_gettime(CLOCK_MONOTONIC, &end);
    const double wall =
        (double)(end.tv_sec - start.tv_sec) + (double)(end.tv_nsec - start.tv_nsec) / 1e9;
    printf("%.6f %.6f %ld\n", wall, cpu, peak_kib);
    return 0;
}
