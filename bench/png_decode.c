/* libspng's decode alone, as pixfold's PNG input uses it: a file read through
 * stdio, decoded a row at a time as stored (SPNG_FMT_RAW), nothing written.
 * The benchmark's reference for pixfold on a PNG. */
#include <spng.h>
#include <stdio.h>
#include <stdlib.h>

int main(int argc, char** argv) {
    FILE* file = argc == 2 ? fopen(argv[1], "rb") : NULL;
    spng_ctx* context = spng_ctx_new(0);
    struct spng_ihdr header;
    size_t size = 0;
    if (file == NULL || context == NULL || spng_set_png_file(context, file) != 0 ||
        spng_get_ihdr(context, &header) != 0 ||
        spng_decoded_image_size(context, SPNG_FMT_RAW, &size) != 0 ||
        spng_decode_image(context, NULL, 0, SPNG_FMT_RAW, SPNG_DECODE_PROGRESSIVE) != 0) {
        fputs("usage: pixfold_png_decode file.png (a PNG libspng decodes)\n", stderr);
        return 1;
    }
    const size_t rowBytes = size / header.height;
    unsigned char* row = malloc(rowBytes);
    int error = 0;
    unsigned checksum = 0;
    do {
        error = spng_decode_row(context, row, rowBytes);
        checksum += row[rowBytes / 2];
    } while (error == 0);
    if (error == SPNG_EOI) {
        error = spng_decode_chunks(context);
    }
    printf("%u\n", checksum);
    free(row);
    spng_ctx_free(context);
    fclose(file);
    return error == 0 ? 0 : 1;
}
