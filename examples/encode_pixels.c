/* Encodes the five colours of docs/records.md's records table with libpixfold and
 * prints each one's e888 and e655 record, as the table shows them. */
#include <pixfold/pixfold.h>

#include <stdint.h>
#include <stdio.h>

enum { pixels = 5 };

static int encode(const uint8_t* rgb, pixfold_format format, uint8_t* records, size_t size) {
    pixfold_settings settings;
    pixfold_settings_init(&settings);
    settings.format = format;
    /* One row of five RGB24 pixels, full scale 255. */
    pixfold_error error = pixfold_encode(rgb, pixels * 3, pixels * 3, PIXFOLD_LAYOUT_RGB24, records,
                                         size, NULL, 0, pixels, 1, 255, &settings);
    if (error != PIXFOLD_OK) {
        fprintf(stderr, "pixfold_encode: %s\n", pixfold_strerror(error));
        return 0;
    }
    return 1;
}

int main(void) {
    const uint8_t rgb[pixels * 3] = {0, 0, 0, 255, 255, 255, 255, 0, 0, 0, 255, 0, 0, 0, 255};
    uint8_t e888[pixels * 4];
    uint8_t e655[pixels * 2];
    if (!encode(rgb, PIXFOLD_FORMAT_E888, e888, sizeof e888) ||
        !encode(rgb, PIXFOLD_FORMAT_E655, e655, sizeof e655)) {
        return 1;
    }
    printf("libpixfold %s\n", pixfold_version());
    printf("| r, g, b | e888 record | e655 record |\n");
    for (int i = 0; i < pixels; ++i) {
        const uint8_t* c = rgb + i * 3;
        const uint8_t* a = e888 + i * 4;
        const uint8_t* b = e655 + i * 2;
        printf("| %d, %d, %d | `%02X %02X %02X %02X` | `%02X %02X` |\n", c[0], c[1], c[2], a[0],
               a[1], a[2], a[3], b[0], b[1]);
    }
    return 0;
}
