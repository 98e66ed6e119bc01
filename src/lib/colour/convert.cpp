#include "colour/convert.h"

#include <cfloat>

// The codes are defined by double arithmetic rounded one operation at a time.
// Refuse to build where that is not what the compiler would do.
#if !defined(FLT_EVAL_METHOD) || FLT_EVAL_METHOD != 0
#error                                                                                             \
    "pixfold needs plain double evaluation (FLT_EVAL_METHOD 0); on 32-bit x86 build with -msse2 -mfpmath=sse, not x87"
#endif
#if defined(__FAST_MATH__) || defined(_M_FP_FAST)
#error "pixfold must not be built with fast-math: it changes the colour codes"
#endif
#if (defined(__GNUC__) || defined(__clang__)) && !defined(PIXFOLD_FP_CONTRACT_OFF)
#error                                                                                             \
    "pixfold must be built with -ffp-contract=off (and -DPIXFOLD_FP_CONTRACT_OFF to say so): a fused multiply-add changes the colour codes"
#endif

namespace pixfold {

namespace {

// Upper limit first, then lower; a value equal to a limit passes unchanged.
double clamp(double value, double lower, double upper) {
    if (value > upper) {
        value = upper;
    }
    if (value < lower) {
        value = lower;
    }
    return value;
}

// trunc toward zero, so a negative product does not round half up: the
// records depend on exactly this, so it is not a rounding function.
std::int32_t quantise(double value, double scale, std::int32_t offset) {
    const double shifted = value * scale + 0.5;
    return static_cast<std::int32_t>(shifted) + offset;
}

} // namespace

YCrCbCodes convertPixelInDouble(RgbPixel pixel, std::int32_t maxValue) {
    const double divisor = static_cast<double>(maxValue);
    const double rn = static_cast<double>(pixel.r) / divisor;
    const double gn = static_cast<double>(pixel.g) / divisor;
    const double bn = static_cast<double>(pixel.b) / divisor;

    // The grouping is part of the format: ties come out differently otherwise.
    double luma = (0.299 * rn + 0.587 * gn) + 0.114 * bn;
    double redDifference = (0.5 * rn - 0.419 * gn) - 0.081 * bn;
    double blueDifference = (-0.169 * rn - 0.331 * gn) + 0.5 * bn;

    luma = clamp(luma, 0.0, 1.0);
    redDifference = clamp(redDifference, -0.5, 0.5);
    blueDifference = clamp(blueDifference, -0.5, 0.5);

    return {quantise(luma, 219.0, 16), quantise(redDifference, 224.0, 128),
            quantise(blueDifference, 224.0, 128)};
}

ConversionScale makeConversionScale(std::int32_t maxValue) {
    ConversionScale scale;
    scale.maxValue = maxValue;
    scale.divisor = 2000 * maxValue;
    scale.reciprocal = ((std::uint64_t{1} << 46) + static_cast<std::uint64_t>(scale.divisor) - 1) /
                       static_cast<std::uint64_t>(scale.divisor);
    scale.lumaBias = 1000 * maxValue;
    scale.differenceBias = 257000 * maxValue;
    scale.negativeLimit = 256000 * maxValue;
    return scale;
}

EstimateScale makeEstimateScale(std::int32_t maxValue) {
    const double perSum = 65536.0 / (1000.0 * static_cast<double>(maxValue));
    return {static_cast<float>(219.0 * perSum), static_cast<float>(224.0 * perSum)};
}

YCrCbCodes convertPixel(RgbPixel pixel, const ConversionScale& scale) {
    const QuickCodes quick = convertPixelQuick(pixel.r, pixel.g, pixel.b, scale);
    if (quick.onRoundingBoundary != 0) {
        return convertPixelInDouble(pixel, scale.maxValue);
    }
    return quick.codes;
}

} // namespace pixfold
