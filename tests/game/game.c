/* Prints the first red of the palette sky.pal of the target's own. */
#include <stdio.h>

#include "sky.pal.c"

int main(void) {
    printf("%lX\n", palette_sky.colors[0][0]);
    return 0;
}
