/* Compares two palettes: one function for every table huemill makes with
 * --type=u8 --extern, which are all one type. */
#include <string.h>

#include "sky.pal.c"

int same_colours(const struct huemill_palette_u8 *a, const struct huemill_palette_u8 *b) {
    return a->count == b->count && memcmp(a->colors, b->colors, (size_t)a->count * 3) == 0;
}
