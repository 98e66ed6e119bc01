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
std::int32_t quantise(double value, int range, int offset) {
    const double shifted = value * static_cast<double>(range) + 0.5;
    return static_cast<std::int32_t>(shifted) + offset;
}

// One code's weighted sum, grouped as the format defines it: the first two
// terms, then the third.
double weigh(const Weights& weights, double rn, double gn, double bn) {
    return (weightOf(weights.red) * rn + weightOf(weights.green) * gn) +
           weightOf(weights.blue) * bn;
}

} // namespace

YCrCbCodes convertSamplesInDouble(std::int32_t r, std::int32_t g, std::int32_t b,
                                  std::int32_t maxValue) {
    const double divisor = static_cast<double>(maxValue);
    const double rn = static_cast<double>(r) / divisor;
    const double gn = static_cast<double>(g) / divisor;
    const double bn = static_cast<double>(b) / divisor;

    // The grouping is part of the format: ties come out differently otherwise.
    const double luma = clamp(weigh(lumaWeights, rn, gn, bn), 0.0, 1.0);
    const double redDifference = clamp(weigh(redDifferenceWeights, rn, gn, bn), -0.5, 0.5);
    const double blueDifference = clamp(weigh(blueDifferenceWeights, rn, gn, bn), -0.5, 0.5);

    return {quantise(luma, lumaRange, lumaOffset),
            quantise(redDifference, differenceRange, differenceOffset),
            quantise(blueDifference, differenceRange, differenceOffset)};
}

YCrCbCodes convertPixelInDouble(RgbPixel pixel, std::int32_t maxValue) {
    return convertSamplesInDouble(pixel.r, pixel.g, pixel.b, maxValue);
}

namespace {

constexpr ConversionScale conversionScaleOf(std::int32_t maxValue) {
    ConversionScale scale;
    const std::int32_t perHalf = weightScale * maxValue; // 0.5 in units of 1 / (2000 m)
    scale.maxValue = maxValue;
    scale.divisor = 2 * perHalf;
    scale.reciprocal = ((std::uint64_t{1} << 46) + static_cast<std::uint64_t>(scale.divisor) - 1) /
                       static_cast<std::uint64_t>(scale.divisor);
    scale.lumaBias = perHalf;
    scale.differenceBias = (2 * differenceOffset + 1) * perHalf;
    scale.negativeLimit = 2 * differenceOffset * perHalf;
    return scale;
}

// Each operation rounded once, as when run: a constant expression's double
// and float arithmetic is IEEE's, correctly rounded to nearest.
constexpr EstimateScale estimateScaleOf(std::int32_t maxValue) {
    const double perSum = 65536.0 / (weightScale * static_cast<double>(maxValue));
    return {static_cast<float>(lumaRange * perSum), static_cast<float>(differenceRange * perSum)};
}

// The scales of every 8-bit maximum, worked out when compiled: a plan for
// them costs a lookup, not a division (a short row's call is dominated by it).
struct EightBitScales {
    ConversionScale conversion[256];
    EstimateScale estimate[256];
};

constexpr EightBitScales eightBitScalesOf() {
    EightBitScales scales{};
    for (std::int32_t maxValue = 1; maxValue < 256; ++maxValue) {
        scales.conversion[maxValue] = conversionScaleOf(maxValue);
        scales.estimate[maxValue] = estimateScaleOf(maxValue);
    }
    return scales;
}

constexpr EightBitScales eightBitScales = eightBitScalesOf();

} // namespace

ConversionScale makeConversionScale(std::int32_t maxValue) {
    if (maxValue < 256) {
        return eightBitScales.conversion[maxValue];
    }
    // No quick path: 16-bit samples' numerators outgrow its 32 bits.
    return ConversionScale{maxValue, 0, 0, 0, 0, 0};
}

EstimateScale makeEstimateScale(std::int32_t maxValue) {
    return maxValue < 256 ? eightBitScales.estimate[maxValue] : estimateScaleOf(maxValue);
}

YCrCbCodes convertPixel(RgbPixel pixel, const ConversionScale& scale) {
    const QuickCodes quick = convertPixelQuick(pixel.r, pixel.g, pixel.b, scale);
    if (quick.onRoundingBoundary != 0) {
        return convertPixelInDouble(pixel, scale.maxValue);
    }
    return quick.codes;
}

} // namespace pixfold
