/* Writes N palette files of 255 random records, DIR/p00000.pal and on, for
 * the benchmark: each value random, or with "bytes", each red, green and
 * blue a random byte, as most palettes hold them. The same seed gives the
 * same files. */
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>

static uint64_t state = 0x9E3779B97F4A7C15u;

static uint32_t next_random(void) {
    state ^= state << 13;
    state ^= state >> 7;
    state ^= state << 17;
    return (uint32_t)(state >> 32);
}

int main(int argc, char **argv) {
    if (argc != 3 && argc != 4) {
        fprintf(stderr, "usage: gen_palettes DIR N [bytes]\n");
        return 2;
    }
    const int bytes_only = argc == 4;
    const long count = strtol(argv[2], NULL, 10);
    unsigned char bytes[23 + 255 * 16];
    for (long n = 0; n < count; ++n) {
        for (size_t i = 0; i < 22; ++i) bytes[i] = 'H';
        bytes[22] = 255;
        for (size_t i = 23; i < sizeof bytes; ++i) {
            /* In each record, bytes 1 to 3 of red, green and blue. */
            const size_t at = (i - 23) % 16;
            const int high = at < 12 && at % 4 != 0;
            bytes[i] = bytes_only && high ? 0 : (unsigned char)next_random();
        }
        char name[4096];
        snprintf(name, sizeof name, "%s/p%05ld.pal", argv[1], n);
        FILE *file = fopen(name, "wb");
        if (file == NULL || fwrite(bytes, 1, sizeof bytes, file) != sizeof bytes ||
            fclose(file) != 0) {
            perror(name);
            return 1;
        }
    }
    return 0;
}
