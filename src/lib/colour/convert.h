// Colour conversion: one pixel's samples to video-scale Y'CrCb codes
// (luma 16..235, colour differences 17..240 around 128).
//
// The output format is defined by a double-precision formula evaluated one
// rounded operation at a time (convertPixelInDouble). The tool gets the same
// codes faster by exact integer division (convertPixelQuick), and sends the
// rare pixels whose value lies exactly on a rounding tie to the formula itself.
#pragma once

#include "colour/coefficients.h"
#include "core/types.h"

#include <cmath>
#include <cstdint>

namespace pixfold {

// The defining formula: normalise by the maximum value, weight with the
// three-decimal coefficients, clamp, scale, add 0.5 and truncate toward zero.
// Every operation is a separately rounded double operation in this order.
// Samples from 0 to maxValue, which is 1 to 65535.
YCrCbCodes convertSamplesInDouble(std::int32_t r, std::int32_t g, std::int32_t b,
                                  std::int32_t maxValue);
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
// For maximum values 1 to 255; above, only maxValue is set (and the quick
// path's fields are 0), as 16-bit samples go to the formula itself.
struct ConversionScale {
    std::int32_t maxValue = 255;
    std::int32_t divisor = 510000; // 2000 m
    // ceil(2^46 / divisor): with numerators below 2^27 and divisors below 2^19,
    // (numerator * reciprocal) >> 46 is floor(numerator / divisor) exactly,
    // since numerator * (reciprocal * divisor - 2^46) < 2^27 * 2^19 = 2^46.
    std::uint64_t reciprocal = 137977930;
    std::int32_t lumaBias = 255000;         // 1000 m: the + 0.5
    std::int32_t differenceBias = 65535000; // 257000 m: the + 0.5 and the + 128
    std::int32_t negativeLimit = 65280000; // 256000 m: numerators below it are negative differences
};

// The quick path holds for maximum values 1 to 255; above them the scale
// keeps only maxValue, as 16-bit samples never take it.
ConversionScale makeConversionScale(std::int32_t maxValue);

struct QuickCodes {
    YCrCbCodes codes;
    std::int32_t onRoundingBoundary = 0; // 1 when the codes may differ from the formula's
};

// floor(numerator / divisor) for a numerator from 0 to 2^27, and the remainder.
inline std::int32_t divideExactly(std::int32_t numerator, const ConversionScale& scale,
                                  std::int32_t& remainder) {
    const auto quotient =
        static_cast<std::int32_t>((static_cast<std::uint64_t>(numerator) * scale.reciprocal) >> 46);
    remainder = numerator - quotient * scale.divisor;
    return quotient;
}

// A code's numerator over 2000 m: twice the code's range times each weight.
constexpr std::int32_t numerator(const Weights& weights, int range, std::int32_t r, std::int32_t g,
                                 std::int32_t b) {
    return 2 * range * weights.red * r + 2 * range * weights.green * g +
           2 * range * weights.blue * b;
}

inline QuickCodes convertPixelQuick(std::int32_t r, std::int32_t g, std::int32_t b,
                                    const ConversionScale& scale) {
    const std::int32_t lumaNumerator = numerator(lumaWeights, lumaRange, r, g, b) + scale.lumaBias;
    const std::int32_t redNumerator =
        numerator(redDifferenceWeights, differenceRange, r, g, b) + scale.differenceBias;
    const std::int32_t blueNumerator =
        numerator(blueDifferenceWeights, differenceRange, r, g, b) + scale.differenceBias;

    std::int32_t lumaRemainder = 0;
    std::int32_t redRemainder = 0;
    std::int32_t blueRemainder = 0;
    QuickCodes quick;
    quick.codes.y = divideExactly(lumaNumerator, scale, lumaRemainder) + lumaOffset;
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

// The pixel loops' estimate. With the integer sums L = 299 r + 587 g + 114 b
// and D = 500 r - 419 g - 81 b (or -169 r - 331 g + 500 b), taken exactly, one
// single-precision multiply-add gives each code in 16.16 fixed point, plus a
// guard of g units (a unit is 2^-16 of a code):
//
//   luma:       fma(L, 219 * 2^16 / (1000 m), 16.5 * 2^16 + g)    y  = T >> 16
//   difference: fma(D, 224 * 2^16 / (1000 m), 128.5 * 2^16 + g)   cr = (T >> 16) + (T < 128 * 2^16)
//
// where T is the result truncated to an integer (it is always positive). T
// differs from the exact value times 2^16, plus g, by at most the sum of:
//
// - the sum's rounding to a float. Below 2^24 it is exact, as every sum of
//   8-bit samples is, and every sum of 16-bit ones up to m = 16777. Above
//   (|L| and |D| stay below 1000 m < 2^26, and fit 32-bit integers) it
//   moves by at most 2^-24 of itself, and so the product with the scale by
//   at most 2^-24 of that product, which is at most 219 codes for L, 112
//   for D: 219 * 2^16 / 2^24 = 219 / 256 < 0.86 units (0.44 for D);
// - the scale's rounding to a float, once (the double it is worked out in
//   adds a few 2^-53): again at most 2^-24 of the product, 0.86 units;
// - the multiply-add's rounding: once where it is fused (the vector loops),
//   twice where it is not (the portable loop, product then sum). Every
//   result is below 2^24, where floats lie at most 1 apart: 0.5 each.
//
// In all, under 2.3 units fused and 2.8 not (1.4 and 1.9 where the sum is
// exact), within 3. Where T's low 16 bits are below 2g the exact value lies
// within g + 3 of a code boundary: the estimate could fall on the wrong side,
// or the value could be a rounding tie, so such pixels go to the exact
// conversion (convertPixel, or for 16-bit samples, whose numerators outgrow
// its division, the formula itself). Everywhere else the exact value is at
// least 1 unit inside a code, no tie, and T >> 16 is that code. A test proves
// this, fused and not, for every sum each maximum value 1 to 255 allows, and
// for every sum at 16-bit maximums where the bounds are tightest.
//
// The guard rides in the bias so that the band test is one unsigned compare of
// the low 16 bits, with no add, in every loop.
constexpr std::int32_t estimateGuard = 4;
constexpr float lumaEstimateBias = (lumaOffset + 0.5f) * 65536.0f + estimateGuard; // + 0.5, + g
constexpr float differenceEstimateBias = (differenceOffset + 0.5f) * 65536.0f + estimateGuard;
constexpr std::int32_t negativeDifferenceLimit = differenceOffset * 65536;

// A code's integer sum of r, g and b: exact in a float, in any order, as all
// terms are integers below 2^24 (8-bit samples).
inline float weighInFloat(const Weights& weights, float r, float g, float b) {
    return r * static_cast<float>(weights.red) + g * static_cast<float>(weights.green) +
           b * static_cast<float>(weights.blue);
}

struct EstimateScale {
    float luma = 0;
    float difference = 0;
};

EstimateScale makeEstimateScale(std::int32_t maxValue);

// The estimate of one code, as the vector loops compute it lane by lane.
inline std::int32_t estimateCodeFused(std::int32_t sum, float scale, float bias) {
    return static_cast<std::int32_t>(std::fma(static_cast<float>(sum), scale, bias));
}

// The same with two roundings, as the portable loop computes it: the build
// never contracts a multiply and an add, so this is the same on every host.
inline std::int32_t estimateCode(float sum, float scale, float bias) {
    return static_cast<std::int32_t>(sum * scale + bias);
}

// True where the estimate is too close to a code boundary to be trusted.
constexpr bool nearCodeBoundary(std::int32_t estimate) {
    return (estimate & 0xFFFF) < 2 * estimateGuard;
}

} // namespace pixfold
