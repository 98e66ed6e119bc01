// Colour conversion: one pixel's samples to video-scale Y'CrCb codes
// (luma 16..235, colour differences 17..240 around 128).
//
// The output format is defined by a double-precision formula evaluated one
// rounded operation at a time (convertPixelInDouble). The tool gets the same
// codes faster by exact integer division (convertPixelQuick), and sends the
// rare pixels whose value lies exactly on a rounding tie to the formula itself.
#pragma once

#include "common/types.h"

#include <cstdint>

namespace pixfold {

// The defining formula: normalise by the maximum value, weight with the
// three-decimal coefficients, clamp, scale, add 0.5 and truncate toward zero.
// Every operation is a separately rounded double operation in this order.
YCrCbCodes convertPixelInDouble(RgbPixel pixel, std::int32_t maxValue);

// Per-image constants of the quick path, worked out once before the pixel loop.
//
// Why the quick path is exact: the coefficients have three decimals, so with
// m the maximum value, Y * 219 + 0.5 is exactly (438 L + 1000 m) / (2000 m)
// where L = 299 r + 587 g + 114 b, an integer; likewise Cr * 224 + 0.5 + 128
// is (448 (500 r - 419 g - 81 b) + 257000 m) / (2000 m), and Cb the same with
// -169, -331, 500. The quick path divides these integer numerators exactly.
// Unless the division leaves no remainder the exact value lies at least
// 1 / 510000 from an integer, while the double formula stays within 1e-12 of
// it, so both truncate alike. A zero remainder is a rounding tie: the double
// formula's own rounding decides it, so such pixels are flagged for it.
struct ConversionScale {
    std::int32_t maxValue = 255;
    std::int32_t divisor = 510000;          // 2000 m
    float divisorInverse = 1.0f / 510000;   // a first estimate; corrected exactly
    std::int32_t lumaBias = 255000;         // 1000 m: the + 0.5
    std::int32_t differenceBias = 65535000; // 257000 m: the + 0.5 and the + 128
    std::int32_t negativeLimit = 65280000; // 256000 m: numerators below it are negative differences
};

ConversionScale makeConversionScale(std::int32_t maxValue);

struct QuickCodes {
    YCrCbCodes codes;
    std::int32_t onRoundingBoundary = 0; // 1 when the codes may differ from the formula's
};

// floor(numerator / divisor) for a positive numerator below 2^27: the float
// estimate is off by at most one, and one exact step in integers mends it.
inline std::int32_t divideExactly(std::int32_t numerator, const ConversionScale& scale,
                                  std::int32_t& remainder) {
    const auto estimate =
        static_cast<std::int32_t>(static_cast<float>(numerator) * scale.divisorInverse);
    const std::int32_t rest = numerator - estimate * scale.divisor;
    const auto over = static_cast<std::int32_t>(rest >= scale.divisor);
    const auto under = static_cast<std::int32_t>(rest < 0);
    remainder = rest - over * scale.divisor + under * scale.divisor;
    return estimate + over - under;
}

// Plain integer and float arithmetic with no branch, so the pixel loop vectorises.
inline QuickCodes convertPixelQuick(std::int32_t r, std::int32_t g, std::int32_t b,
                                    const ConversionScale& scale) {
    const std::int32_t lumaNumerator = 130962 * r + 257106 * g + 49932 * b + scale.lumaBias;
    const std::int32_t redNumerator = 224000 * r - 187712 * g - 36288 * b + scale.differenceBias;
    const std::int32_t blueNumerator = -75712 * r - 148288 * g + 224000 * b + scale.differenceBias;

    std::int32_t lumaRemainder = 0;
    std::int32_t redRemainder = 0;
    std::int32_t blueRemainder = 0;
    QuickCodes quick;
    quick.codes.y = divideExactly(lumaNumerator, scale, lumaRemainder) + 16;
    // The formula truncates toward zero: a negative difference rounds up.
    quick.codes.cr = divideExactly(redNumerator, scale, redRemainder) +
                     static_cast<std::int32_t>(redNumerator < scale.negativeLimit);
    quick.codes.cb = divideExactly(blueNumerator, scale, blueRemainder) +
                     static_cast<std::int32_t>(blueNumerator < scale.negativeLimit);
    quick.onRoundingBoundary = static_cast<std::int32_t>(lumaRemainder == 0) |
                               static_cast<std::int32_t>(redRemainder == 0) |
                               static_cast<std::int32_t>(blueRemainder == 0);
    return quick;
}

// The codes the tool writes for one pixel: the quick path, or the formula
// where the quick path is on a boundary. Samples must not exceed maxValue.
YCrCbCodes convertPixel(RgbPixel pixel, const ConversionScale& scale);

} // namespace pixfold
