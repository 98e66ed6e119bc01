/* The baseline pixfold is measured against: the plainest copy a C programmer
 * would write. It reads the PPM header with fscanf, the raster with fread in
 * 1 MiB blocks, and writes 4 bytes per pixel (the samples and a zero byte; the
 * volume of e888) or 2 (e655's volume) with fwrite; with --alpha it also
 * writes 4 bytes per pixel to standard output (e888Alpha's volume). --raw uses
 * read and write in blocks of 65536 pixels, with no stdio and no per-pixel
 * work at all: the I/O limit. --records N --pixels P (with --raw) reads a
 * headerless file of N bytes a pixel and writes 3 bytes a pixel: pixunfold's
 * volumes; with --mask also 1 byte a pixel to standard output, its key plane.
 *
 *   plain_copy [--bytes 2|4] [--alpha] [--raw] ppmfile outfile
 *   plain_copy --raw [--mask] --records 2|4 --pixels P recordfile outfile
 */
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

enum { blockBytes = 1 << 20, rawBlockPixels = 65536 };

/* Reads exactly count bytes unless the file ends first. */
static long long readFully(int source, unsigned char* into, size_t count) {
    size_t done = 0;
    while (done < count) {
        ssize_t got = read(source, into + done, count - done);
        if (got <= 0) {
            return got < 0 ? -1 : (long long)done;
        }
        done += (size_t)got;
    }
    return (long long)done;
}

/* pixels of bytesIn bytes from source, bytesOut bytes a pixel to outputPath
 * and side bytes a pixel (0, 1 or 4) to standard output, 65536 pixels a block. */
static int rawCopy(int source, const char* outputPath, long long pixels, int bytesIn, int bytesOut,
                   int side) {
    static unsigned char in[rawBlockPixels * 4];
    static unsigned char out[rawBlockPixels * 4];
    int target = open(outputPath, O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (target < 0) {
        return 1;
    }
    memset(out, 0, sizeof out);
    while (pixels > 0) {
        size_t count = pixels < rawBlockPixels ? (size_t)pixels : rawBlockPixels;
        size_t outBytes = count * (size_t)bytesOut;
        if (readFully(source, in, count * (size_t)bytesIn) !=
                (long long)(count * (size_t)bytesIn) ||
            write(target, out, outBytes) != (ssize_t)outBytes ||
            (side > 0 && write(1, out, count * (size_t)side) != (ssize_t)(count * (size_t)side))) {
            return 1;
        }
        pixels -= (long long)count;
    }
    return close(target);
}

int main(int argc, char** argv) {
    int bytesOut = 4;
    int alpha = 0;
    int mask = 0;
    int raw = 0;
    int recordBytes = 0;
    long long recordPixels = 0;
    int i = 1;
    for (; i < argc - 2; ++i) {
        if (strcmp(argv[i], "--alpha") == 0) {
            alpha = 1;
        } else if (strcmp(argv[i], "--mask") == 0) {
            mask = 1;
        } else if (strcmp(argv[i], "--raw") == 0) {
            raw = 1;
        } else if (strcmp(argv[i], "--bytes") == 0 && i + 1 < argc - 2) {
            bytesOut = atoi(argv[++i]) == 2 ? 2 : 4;
        } else if (strcmp(argv[i], "--records") == 0 && i + 1 < argc - 2) {
            recordBytes = atoi(argv[++i]) == 2 ? 2 : 4;
        } else if (strcmp(argv[i], "--pixels") == 0 && i + 1 < argc - 2) {
            recordPixels = atoll(argv[++i]);
        } else {
            break;
        }
    }
    if (argc - i != 2) {
        fputs("usage: plain_copy [--bytes 2|4] [--alpha] [--raw] ppmfile outfile\n"
              "       plain_copy --raw [--mask] --records 2|4 --pixels P recordfile outfile\n",
              stderr);
        return 1;
    }
    if (raw && recordBytes != 0) {
        int source = open(argv[i], O_RDONLY);
        return source < 0 ? 1 : rawCopy(source, argv[i + 1], recordPixels, recordBytes, 3, mask);
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
        long offset = ftell(input);
        int source = fileno(input);
        return lseek(source, offset, SEEK_SET) != offset
                   ? 1
                   : rawCopy(source, argv[i + 1], rasterBytes / 3, 3, bytesOut, alpha ? 4 : 0);
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
