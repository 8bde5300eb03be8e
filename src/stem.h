/* The stem of a palette's file name, which its listing is named after:
 * the name up to its first dot that is not its first character, so that
 * sky.old.pal and sky have the stem sky, and .hidden.pal has .hidden. A
 * listing is named its stem and ".pal.c".
 *
 * Written so that C and C++ both compile it. The CMake function
 * huemill_add_listings names listings by the same rule, written in CMake:
 * tests/listing_names.txt is a table of names both are checked against. */
#ifndef HUEMILL_STEM_H
#define HUEMILL_STEM_H

#include <stddef.h>

#define HUEMILL_LISTING_SUFFIX ".pal.c"

/* The length of the stem of file_name, a name of length bytes without a
 * folder part. */
static size_t huemill_stem_length(const char *file_name, size_t length) {
    size_t end = 1;
    if (length == 0) {
        return 0;
    }
    while (end < length && file_name[end] != '.') {
        ++end;
    }
    return end;
}

#endif
