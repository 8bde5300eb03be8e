/* The I/O floor of a palette converter: for each argument, only the calls a
 * correct one must make. Open the argument's folder, so that the palette
 * and its listing are in the same one however the folder changes; in it,
 * open the palette; read until end of file or 23 + 4096 bytes; close. Then,
 * so that NAME.c changes in one step and keeps who may read it: look at
 * what stands at NAME.c, and where a file does, at its extended attributes
 * (where its ACL is); create a new temporary file beside it, for its owner
 * alone where it replaces one, and there read what the file was given (its
 * status and any inherited ACL) and give it the old bits; one write of the
 * largest listing's size; close; rename it over NAME.c; close the folder.
 * No formatting at all, and no copying of attributes it does not find: the
 * text written is made once, at start, and has the shape of a real listing
 * (storage may treat all-zero blocks more cheaply). Dynamically linked, as a
 * C program usually is. Extended attributes are named by whole paths,
 * which a correct converter could not do where a folder may change: the
 * floor is kinder than correctness. */
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

enum { input_limit = 23 + 4096, listing_size = 43 + 255 * 38 + 1 };

int main(int argc, char **argv) {
    static unsigned char input[input_limit];
    static char listing[listing_size];
    char name[4096];
    for (size_t at = 0; at < sizeof listing; ++at) {
        listing[at] = "\nr: 1F2E3D4C, g: 5B6A7988, b: 9AABBCCD"[at % 38];
    }
    for (int i = 1; i < argc; ++i) {
        size_t length = strlen(argv[i]);
        if (length + 3 > sizeof name) return 1;
        memcpy(name, argv[i], length);
        memcpy(name + length, ".c", 3);
        const char *slash = strrchr(argv[i], '/');
        const size_t file_start = slash ? (size_t)(slash - argv[i]) + 1 : 0;
        char folder_name[sizeof name];
        memcpy(folder_name, argv[i], file_start);
        folder_name[file_start] = '\0';
        const int folder = file_start ? open(folder_name, O_PATH | O_DIRECTORY) : AT_FDCWD;
        if (folder < 0 && folder != AT_FDCWD) return 1;
        int fd = openat(folder, argv[i] + file_start, O_RDONLY);
        if (fd < 0) return 1;
        size_t have = 0;
        ssize_t got;
        while (have < input_limit && (got = read(fd, input + have, input_limit - have)) > 0) {
            have += (size_t)got;
        }
        close(fd);
        const char *file = name + file_start;
        char temporary[sizeof name + 4];
        struct stat standing;
        int replaces = 0;
        if (fstatat(folder, file, &standing, AT_SYMLINK_NOFOLLOW) == 0) {
            char attributes[1024];
            if (S_ISDIR(standing.st_mode)) return 1;
            replaces = S_ISREG(standing.st_mode);
            if (replaces && llistxattr(name, attributes, sizeof attributes) < 0) return 1;
        }
        memcpy(temporary, file, length + 2 - file_start);
        memcpy(temporary + length + 2 - file_start, ".tmp", 5);
        fd = openat(folder, temporary, O_WRONLY | O_CREAT | O_EXCL, replaces ? 0600 : 0666);
        if (fd < 0) return 1;
        if (replaces) {
            struct stat given;
            if (fstat(fd, &given) != 0 ||
                (fgetxattr(fd, "system.posix_acl_access", NULL, 0) < 0 && errno != ENODATA) ||
                fchmod(fd, standing.st_mode & 0777) != 0) {
                return 1;
            }
        }
        if (write(fd, listing, sizeof listing) != (ssize_t)sizeof listing) return 1;
        close(fd);
        if (renameat(folder, temporary, folder, file) != 0) return 1;
        if (folder != AT_FDCWD) close(folder);
    }
    return 0;
}
