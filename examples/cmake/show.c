/* Prints how many colours the sample palette has, and its first, from the
 * table huemill made of it. */
#include <stdio.h>

#include "sky.pal.c"

int main(void) {
    printf("%d colours; the first: red %lX, green %lX, blue %lX\n", palette_sky.count,
           palette_sky.colors[0][0], palette_sky.colors[0][1], palette_sky.colors[0][2]);
    return 0;
}
