/* Prints how many colours the sample palette has and its first, and
 * whether dawn.pal, which the build made of it, holds the same: from u8
 * tables huemill made of both, which show.c and palettes.c share. */
#include <stdio.h>

#include "dawn.pal.c"
#include "sky.pal.c"

int same_colours(const struct huemill_palette_u8 *a, const struct huemill_palette_u8 *b);

int main(void) {
    printf("%d colours; the first: red %X, green %X, blue %X; dawn: %s\n", palette_sky.count,
           (unsigned)palette_sky.colors[0][0], (unsigned)palette_sky.colors[0][1],
           (unsigned)palette_sky.colors[0][2],
           same_colours(&palette_sky, &palette_dawn) ? "the same" : "others");
    return 0;
}
