/* Encodes a row of four pixels to e655Z, keying the green one, then decodes
 * the records to RGBA32, whose alpha is the key plane (255 where keyed), and
 * prints each pixel as it came back. */
#include <pixfold/pixfold.h>

#include <stdint.h>
#include <stdio.h>

enum { pixels = 4 };

int main(void) {
    const uint8_t rgb[pixels * 3] = {200, 30, 30, 0, 177, 64, 30, 30, 200, 0, 177, 64};
    uint8_t records[pixels * 4];
    uint8_t rgba[pixels * 4];
    pixfold_settings settings;
    pixfold_settings_init(&settings);
    settings.format = PIXFOLD_FORMAT_E655Z;
    settings.key_enabled = 1;        /* pixfold -m 00b140 */
    settings.key_colour = 0x00B140;
    settings.match_value = 0xFFFF;   /* -1 ffff */
    pixfold_error error = pixfold_encode(rgb, sizeof rgb, sizeof rgb, PIXFOLD_LAYOUT_RGB24,
                                         records, sizeof records, NULL, 0, pixels, 1, 255,
                                         &settings);
    if (error == PIXFOLD_OK) {
        /* match_given 1: only the match value 0xFFFF is keyed. */
        error = pixfold_decode_to(records, sizeof records, NULL, 0, PIXFOLD_FORMAT_E655Z, rgba,
                                  PIXFOLD_LAYOUT_RGBA32, sizeof rgba, sizeof rgba, NULL, 0, 0,
                                  pixels, 1, 1, 0xFFFF);
    }
    if (error != PIXFOLD_OK) {
        fprintf(stderr, "libpixfold: %s\n", pixfold_strerror(error));
        return 1;
    }
    for (int i = 0; i < pixels; ++i) {
        const uint8_t* p = rgba + i * 4;
        printf("%3d %3d %3d  alpha %3d%s\n", p[0], p[1], p[2], p[3], p[3] ? "  (keyed)" : "");
    }
    /* The two green pixels, and only they, are keyed. */
    return rgba[3] == 0 && rgba[7] == 255 && rgba[11] == 0 && rgba[15] == 255 ? 0 : 1;
}
