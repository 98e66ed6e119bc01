/* The baseline pixfold is measured against: the plainest copy a C programmer
 * would write. It reads the PPM header with fscanf, the raster with fread in
 * 1 MiB blocks, and writes 4 bytes per pixel (the samples and a zero byte; the
 * volume of e888) or 2 (e655's volume) with fwrite; with --alpha it also
 * writes 4 bytes per pixel to standard output (e888Alpha's volume). --raw uses
 * read and write with no stdio and no per-pixel work at all: the I/O limit.
 *
 *   plain_copy [--bytes 2|4] [--alpha] [--raw] ppmfile outfile
 */
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

enum { blockBytes = 1 << 20 };

static int rawCopy(FILE* input, const char* outputPath, long long rasterBytes, int bytesOut) {
    static unsigned char in[blockBytes];
    static unsigned char out[blockBytes / 3 * 4];
    long offset = ftell(input);
    int source = fileno(input);
    int target = open(outputPath, O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (target < 0 || lseek(source, offset, SEEK_SET) != offset) {
        return 1;
    }
    memset(out, 0, sizeof out);
    while (rasterBytes > 0) {
        size_t want = rasterBytes < blockBytes / 3 * 3 ? (size_t)rasterBytes : blockBytes / 3 * 3;
        ssize_t got = read(source, in, want);
        if (got <= 0) {
            return 1;
        }
        size_t outBytes = (size_t)got / 3 * (size_t)bytesOut;
        if (write(target, out, outBytes) != (ssize_t)outBytes) {
            return 1;
        }
        rasterBytes -= got;
    }
    return close(target);
}

int main(int argc, char** argv) {
    int bytesOut = 4;
    int alpha = 0;
    int raw = 0;
    int i = 1;
    for (; i < argc - 2; ++i) {
        if (strcmp(argv[i], "--alpha") == 0) {
            alpha = 1;
        } else if (strcmp(argv[i], "--raw") == 0) {
            raw = 1;
        } else if (strcmp(argv[i], "--bytes") == 0 && i + 1 < argc - 2) {
            bytesOut = atoi(argv[++i]) == 2 ? 2 : 4;
        } else {
            break;
        }
    }
    if (argc - i != 2) {
        fputs("usage: plain_copy [--bytes 2|4] [--alpha] [--raw] ppmfile outfile\n", stderr);
        return 1;
    }
    FILE* input = fopen(argv[i], "rb");
    int width = 0, height = 0, maxValue = 0;
    if (input == NULL || fscanf(input, "P6 %d %d %d", &width, &height, &maxValue) != 3 ||
        fgetc(input) == EOF) {
        fputs("plain_copy: can't read the input\n", stderr);
        return 1;
    }
    long long rasterBytes = (long long)width * height * 3;
    if (raw) {
        return rawCopy(input, argv[i + 1], rasterBytes, bytesOut);
    }
    FILE* output = fopen(argv[i + 1], "wb");
    if (output == NULL) {
        return 1;
    }
    static unsigned char in[blockBytes];
    static unsigned char out[blockBytes / 3 * 4];
    while (rasterBytes > 0) {
        size_t want = rasterBytes < blockBytes / 3 * 3 ? (size_t)rasterBytes : blockBytes / 3 * 3;
        size_t got = fread(in, 1, want, input);
        size_t pixels = got / 3;
        if (got == 0) {
            return 1;
        }
        for (size_t p = 0; p < pixels; ++p) {
            if (bytesOut == 4) {
                out[p * 4] = in[p * 3];
                out[p * 4 + 1] = in[p * 3 + 1];
                out[p * 4 + 2] = in[p * 3 + 2];
                out[p * 4 + 3] = 0;
            } else {
                out[p * 2] = in[p * 3];
                out[p * 2 + 1] = in[p * 3 + 1];
            }
        }
        if (fwrite(out, (size_t)bytesOut, pixels, output) != pixels ||
            (alpha && fwrite(out, 4, pixels, stdout) != pixels)) {
            return 1;
        }
        rasterBytes -= (long long)got;
    }
    return fclose(output) == 0 && fflush(stdout) == 0 ? 0 : 1;
}
