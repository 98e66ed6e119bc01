// The way back from video-scale codes to RGB samples, for looking at what was
// written. Not exact: the codes hold less than the samples did.
#pragma once

#include "core/types.h"

namespace pixfold {

// 8-bit codes to normalised luma and colour differences ((y - 16) / 219,
// (cr - 128) / 224, (cb - 128) / 224), then through the inverse of the
// conversion's coefficient matrix, rounded to the nearest sample (halves away
// from zero) and clamped to 0..255.
RgbPixel codesToRgb(YCrCbCodes codes);

// The entry of that inverse matrix that weights component (0 luma, 1 red
// difference, 2 blue difference) in channel (0 red, 1 green, 2 blue): what the
// decoder's estimate is built from.
double inverseCoefficient(int channel, int component);

} // namespace pixfold
