/* What a caller checks, and what libpixfold says: sizes worked out by the
 * library (an image too large for this host is an error, not a wrapped
 * product), a buffer too small, a sample above the maximum value, an enum
 * value the library does not know. Every failed call leaves the output as it
 * was. */
#include <pixfold/pixfold.h>

#include <stdint.h>
#include <stdio.h>
#include <string.h>

static int expect(const char* what, pixfold_error got, pixfold_error wanted) {
    printf("%-34s %s\n", what, pixfold_strerror(got));
    return got == wanted ? 0 : 1;
}

int main(void) {
    int failures = 0;
    size_t bytes = 0;
    failures += expect("records of 2^31-1 x 2^31-1 pixels:",
                       pixfold_records_size(PIXFOLD_FORMAT_E888, INT32_MAX, INT32_MAX, &bytes),
                       sizeof(size_t) >= 8 ? PIXFOLD_OK : PIXFOLD_ERROR_TOO_LARGE);
    failures += expect("a width of -1:",
                       pixfold_records_size(PIXFOLD_FORMAT_E888, -1, 1, &bytes),
                       PIXFOLD_ERROR_DIMENSIONS);

    const uint8_t rgb[2 * 3] = {10, 20, 30, 40, 50, 60};
    uint8_t records[8];
    memset(records, 0xEE, sizeof records);
    pixfold_settings settings;
    pixfold_settings_init(&settings);
    failures += expect("records one byte short:",
                       pixfold_encode(rgb, 6, 6, PIXFOLD_LAYOUT_RGB24, records, 7, NULL, 0, 2, 1,
                                      255, &settings),
                       PIXFOLD_ERROR_BUFFER_TOO_SMALL);
    failures += expect("a sample above a maximum of 50:",
                       pixfold_encode(rgb, 6, 6, PIXFOLD_LAYOUT_RGB24, records, 8, NULL, 0, 2, 1,
                                      50, &settings),
                       PIXFOLD_ERROR_SAMPLE_EXCEEDS_MAX);
    failures += expect("layout number 99:",
                       pixfold_encode(rgb, 6, 6, (pixfold_layout)99, records, 8, NULL, 0, 2, 1,
                                      255, &settings),
                       PIXFOLD_ERROR_UNKNOWN_LAYOUT);
    for (size_t i = 0; i < sizeof records; ++i) {
        failures += records[i] != 0xEE; /* untouched */
    }
    failures += expect("the same call done right:",
                       pixfold_encode(rgb, 6, 6, PIXFOLD_LAYOUT_RGB24, records, 8, NULL, 0, 2, 1,
                                      255, &settings),
                       PIXFOLD_OK);
    return failures == 0 ? 0 : 1;
}
