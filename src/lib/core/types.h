// Types shared by both tools: the settings of a conversion, one pixel as read,
// its video-scale codes and its packed word.
#pragma once

#include <cstdint>

namespace pixfold {

// The record formats, in the order the usage text lists them. The names are the
// ones typed after -f (see format/formats.h).
enum class OutputFormat { e655, e655Z, e888, e888Alpha };

// Everything the command line decides about the records. Filled once by the
// option scan, then read-only.
struct ConversionSettings {
    OutputFormat format = OutputFormat::e888;
    bool keyEnabled = false;
    std::uint32_t keyColour = 0; // 0xRRGGBB; bits 31-24 play no part
    std::uint32_t matchValue = 0;
    std::uint32_t noMatchValue = 0;
    bool transparencyKey = false; // -t: a pixel whose alpha sample is 0 takes matchValue too
};

// One pixel exactly as read from the file.
struct RgbPixel {
    std::uint8_t r = 0;
    std::uint8_t g = 0;
    std::uint8_t b = 0;
};

// One pixel on the video scale: luma 16..235, colour differences 17..240.
struct YCrCbCodes {
    std::int32_t y = 0;
    std::int32_t cr = 0;
    std::int32_t cb = 0;
};

// One pixel packed in the 8-8-8 or the 6-5-5 layout (see format/pack.h).
using PackedWord = std::uint32_t;

// The one place a pixel count is worked out: in 64 bits, so that no product
// of two 32-bit dimensions can overflow.
constexpr std::uint64_t pixelCount(std::int32_t width, std::int32_t height) {
    return width <= 0 || height <= 0
               ? 0
               : static_cast<std::uint64_t>(width) * static_cast<std::uint64_t>(height);
}

// Reverses the byte order of a 32-bit value.
constexpr std::uint32_t byteSwap32(std::uint32_t value) {
    return (value << 24) | ((value << 8) & 0x00FF0000u) | ((value >> 8) & 0x0000FF00u) |
           (value >> 24);
}

} // namespace pixfold
