// Colour conversion: one pixel's samples to video-scale Y'CrCb codes
// (luma 16..235, colour differences 17..240 around 128).
//
// The output format is defined by a double-precision formula evaluated one
// rounded operation at a time (convertPixelInDouble). The tool gets the same
// codes faster by working from exact integer sums (convertPixelQuick) and
// sending the rare pixels whose value lies on a rounding boundary to the
// formula itself.
#pragma once

#include "common/types.h"

#include <cmath>
#include <cstdint>

namespace pixfold {

struct YCrCbCodes {
    std::int32_t y = 0;
    std::int32_t cr = 0;
    std::int32_t cb = 0;
};

// The defining formula: normalise by the maximum value, weight with the
// three-decimal coefficients, clamp, scale, add 0.5 and truncate toward zero.
// Every operation is a separately rounded double operation in this order.
YCrCbCodes convertPixelInDouble(RgbPixel pixel, std::int32_t maxValue);

// Per-image constants of the quick path, worked out once before the pixel loop.
struct ConversionScale {
    std::int32_t maxValue = 255;
    double lumaStep = 0.0;       // 219 / (1000 * maxValue)
    double differenceStep = 0.0; // 224 / (1000 * maxValue)
};

ConversionScale makeConversionScale(std::int32_t maxValue);

struct QuickCodes {
    YCrCbCodes codes;
    bool onRoundingBoundary = false; // codes may differ from the formula's
};

// Why the quick path is exact: the coefficients have three decimals, so
// 1000 * maxValue * Y is the integer 299r + 587g + 114b, and Y * 219 + 0.5 is
// a fraction with denominator 2000 * maxValue (at most 510000). Unless that
// fraction is an integer it lies at least 1/510000 from one, while both this
// product and the double formula stay within 1e-12 of the exact value; so
// both truncate to the same code. The same holds for Cr and Cb with 224.
// Values within boundaryMargin of an integer are flagged for the formula.
constexpr double boundaryMargin = 1e-9;

inline bool nearInteger(double fractionTowardZero) {
    const double distance = std::fabs(fractionTowardZero);
    return distance < boundaryMargin || distance > 1.0 - boundaryMargin;
}

inline QuickCodes convertPixelQuick(std::int32_t r, std::int32_t g, std::int32_t b,
                                    const ConversionScale& scale) {
    const std::int32_t lumaSum = 299 * r + 587 * g + 114 * b;
    const std::int32_t redSum = 500 * r - 419 * g - 81 * b;
    const std::int32_t blueSum = -169 * r - 331 * g + 500 * b;

    const double yScaled = static_cast<double>(lumaSum) * scale.lumaStep + 0.5;
    const double crScaled = static_cast<double>(redSum) * scale.differenceStep + 0.5;
    const double cbScaled = static_cast<double>(blueSum) * scale.differenceStep + 0.5;

    const auto yTruncated = static_cast<std::int32_t>(yScaled);
    const auto crTruncated = static_cast<std::int32_t>(crScaled);
    const auto cbTruncated = static_cast<std::int32_t>(cbScaled);

    QuickCodes quick;
    quick.codes = {yTruncated + 16, crTruncated + 128, cbTruncated + 128};
    quick.onRoundingBoundary = nearInteger(yScaled - static_cast<double>(yTruncated)) ||
                               nearInteger(crScaled - static_cast<double>(crTruncated)) ||
                               nearInteger(cbScaled - static_cast<double>(cbTruncated));
    return quick;
}

// The codes the tool writes for one pixel: the quick path, or the formula
// where the quick path is on a boundary. Samples must not exceed maxValue.
YCrCbCodes convertPixel(RgbPixel pixel, const ConversionScale& scale);

} // namespace pixfold
