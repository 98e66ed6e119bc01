/* Transparency keying from RGBA: a pixel whose alpha is 0 takes the match
 * value, as pixfold -t does, besides those of the key colour. Encodes a row
 * of RGBA32 pixels to e888Alpha and prints each pixel's alpha value. */
#include <pixfold/pixfold.h>

#include <stdint.h>
#include <stdio.h>

enum { pixels = 4 };

int main(void) {
    const uint8_t rgba[pixels * 4] = {10, 20, 30, 255, 10, 20, 30, 0, 255, 0, 255, 128, 1, 2, 3, 0};
    uint8_t records[pixels * 4];
    uint8_t alpha[pixels * 4];
    size_t records_size = 0;
    size_t alpha_size = 0;
    pixfold_settings settings;
    pixfold_settings_init(&settings);
    settings.format = PIXFOLD_FORMAT_E888ALPHA;
    settings.key_enabled = 1; /* -m ff00ff: magenta is keyed too */
    settings.key_colour = 0xFF00FF;
    settings.match_value = 0xFF000000;    /* -1 ff000000 */
    settings.no_match_value = 0x00FFFFFF; /* -0 ffffff */
    settings.key_transparent = 1;         /* -t */
    pixfold_error error = pixfold_records_size(settings.format, pixels, 1, &records_size);
    if (error == PIXFOLD_OK) {
        error = pixfold_alpha_size(settings.format, pixels, 1, &alpha_size);
    }
    if (error == PIXFOLD_OK && (records_size > sizeof records || alpha_size > sizeof alpha)) {
        error = PIXFOLD_ERROR_BUFFER_TOO_SMALL;
    }
    if (error == PIXFOLD_OK) {
        error = pixfold_encode(rgba, sizeof rgba, sizeof rgba, PIXFOLD_LAYOUT_RGBA32, records,
                               records_size, alpha, alpha_size, pixels, 1, 255, &settings);
    }
    if (error != PIXFOLD_OK) {
        fprintf(stderr, "libpixfold: %s\n", pixfold_strerror(error));
        return 1;
    }
    int keyed = 0;
    for (int i = 0; i < pixels; ++i) {
        const uint8_t* a = alpha + i * 4;
        printf("pixel %d: alpha value %02X%02X%02X%02X\n", i, a[0], a[1], a[2], a[3]);
        keyed += a[0] == 0xFF;
    }
    return keyed == 3 ? 0 : 1; /* two transparent pixels and the magenta one */
}
