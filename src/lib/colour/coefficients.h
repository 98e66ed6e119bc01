// The conversion's constants, each written once: every other use (the
// formula, the quick path's integer numerators, the pixel loops' sums, the
// way back) is derived from these.
#pragma once

namespace pixfold {

// A code's weights of red, green and blue, in thousandths: the coefficients
// have three decimals exactly (0.299, not 0.2990 or 0.2989).
struct Weights {
    int red;
    int green;
    int blue;
};

inline constexpr Weights lumaWeights = {299, 587, 114};
inline constexpr Weights redDifferenceWeights = {500, -419, -81};
inline constexpr Weights blueDifferenceWeights = {-169, -331, 500};
inline constexpr int weightScale = 1000;

// White has luma 1 and greys no colour difference.
static_assert(lumaWeights.red + lumaWeights.green + lumaWeights.blue == weightScale);
static_assert(redDifferenceWeights.red + redDifferenceWeights.green + redDifferenceWeights.blue ==
              0);
static_assert(blueDifferenceWeights.red + blueDifferenceWeights.green +
                  blueDifferenceWeights.blue ==
              0);

// The weight as the formula multiplies by it: 299 / 1000.0 is the double
// nearest 0.299, as the literal 0.299 is, so both are the same number.
constexpr double weightOf(int thousandths) {
    return thousandths / static_cast<double>(weightScale);
}

// The video scale: luma codes 16 + 219 Y, colour differences 128 + 224 C.
inline constexpr int lumaRange = 219;
inline constexpr int lumaOffset = 16;
inline constexpr int differenceRange = 224;
inline constexpr int differenceOffset = 128;

} // namespace pixfold
