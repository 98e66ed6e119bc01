// Key colour: picks, pixel by pixel, the Z or alpha value of the keyed formats.
#pragma once

#include "core/types.h"

#include <cstdint>

namespace pixfold {

// The key test with everything decided before the pixel loop. Without -m the
// key components are set out of the sample range, so no pixel ever matches.
struct KeyTest {
    std::int32_t red = 256;
    std::int32_t green = 256;
    std::int32_t blue = 256;
    std::uint32_t matchValue = 0;
    std::uint32_t noMatchValue = 0;
};

inline KeyTest makeKeyTest(const ConversionSettings& settings) {
    KeyTest test;
    if (settings.keyEnabled) {
        test.red = static_cast<std::int32_t>((settings.keyColour >> 16) & 0xFFu);
        test.green = static_cast<std::int32_t>((settings.keyColour >> 8) & 0xFFu);
        test.blue = static_cast<std::int32_t>(settings.keyColour & 0xFFu);
    }
    test.matchValue = settings.matchValue;
    test.noMatchValue = settings.noMatchValue;
    return test;
}

// Compares the raw samples exactly; there is no tolerance.
inline std::uint32_t selectKeyValue(RgbPixel pixel, const KeyTest& test) {
    const bool matches = pixel.r == test.red && pixel.g == test.green && pixel.b == test.blue;
    return matches ? test.matchValue : test.noMatchValue;
}

} // namespace pixfold
