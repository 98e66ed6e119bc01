// Key colour: picks, pixel by pixel, the Z or alpha value of the keyed formats.
#pragma once

#include "core/types.h"

#include <cstdint>

namespace pixfold {

// The key test with everything decided before the pixel loop: the sample
// each component must equal. Where no sample can match (no -m, or a 16-bit
// component no sample reaches) the component is set out of the sample range:
// 256 for 8-bit samples (the vector loops compare 16-bit halves), 65536 for
// 16-bit ones.
struct KeyTest {
    std::int32_t red = 256;
    std::int32_t green = 256;
    std::int32_t blue = 256;
    std::uint32_t matchValue = 0;
    std::uint32_t noMatchValue = 0;
};

// The key colour holds 8-bit components. Up to a maximum value of 255 they
// are compared with the samples as they are (-m 010101 keys a bitmap's
// white); above it a sample s matches the component c when s * 255 = c * m,
// so at 65535 the usual widening c * 257.
inline std::int32_t keySample(std::uint32_t component, std::int32_t maxValue) {
    if (maxValue <= 255) {
        return static_cast<std::int32_t>(component);
    }
    const std::uint64_t scaled = std::uint64_t{component} * static_cast<std::uint64_t>(maxValue);
    return scaled % 255 == 0 ? static_cast<std::int32_t>(scaled / 255) : 65536;
}

inline KeyTest makeKeyTest(const ConversionSettings& settings, std::int32_t maxValue) {
    KeyTest test;
    const std::int32_t none = maxValue <= 255 ? 256 : 65536;
    test.red = test.green = test.blue = none;
    if (settings.keyEnabled) {
        test.red = keySample((settings.keyColour >> 16) & 0xFFu, maxValue);
        test.green = keySample((settings.keyColour >> 8) & 0xFFu, maxValue);
        test.blue = keySample(settings.keyColour & 0xFFu, maxValue);
    }
    test.matchValue = settings.matchValue;
    test.noMatchValue = settings.noMatchValue;
    return test;
}

// Compares the samples exactly; there is no tolerance.
inline std::uint32_t selectKeyValue(std::int32_t r, std::int32_t g, std::int32_t b,
                                    const KeyTest& test) {
    const bool matches = r == test.red && g == test.green && b == test.blue;
    return matches ? test.matchValue : test.noMatchValue;
}

} // namespace pixfold
