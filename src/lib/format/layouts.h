// How pixels lie in a caller's memory: one table says where each sample of a
// pixel is, and the pixel loops, the API's checks and the decoder read it.
#pragma once

#include <cstddef>
#include <iterator>

namespace pixfold {

// In the C API's order (pixfold_layout).
enum class PixelLayout { rgb24, bgr24, rgba32, bgra32, gray8, rgb48, rgba64 };

struct LayoutTraits {
    PixelLayout layout;
    std::size_t bytes;       // a pixel's bytes
    std::size_t sampleBytes; // 1, or 2 for host-endian 16-bit samples
    // Where red, green, blue and alpha lie, in samples from the pixel's start.
    std::size_t red;
    std::size_t green;
    std::size_t blue;
    std::size_t alpha; // hasAlpha only
    bool hasAlpha;
    bool decodes; // pixfold_decode_to writes it
};

inline constexpr LayoutTraits layoutTable[] = {
    {PixelLayout::rgb24, 3, 1, 0, 1, 2, 0, false, true},
    {PixelLayout::bgr24, 3, 1, 2, 1, 0, 0, false, true},
    {PixelLayout::rgba32, 4, 1, 0, 1, 2, 3, true, true},
    {PixelLayout::bgra32, 4, 1, 2, 1, 0, 3, true, true},
    {PixelLayout::gray8, 1, 1, 0, 0, 0, 0, false, false}, // one sample for all three
    {PixelLayout::rgb48, 6, 2, 0, 1, 2, 0, false, false},
    {PixelLayout::rgba64, 8, 2, 0, 1, 2, 3, true, false},
};

inline constexpr std::size_t layoutCount = std::size(layoutTable);

constexpr bool layoutsFollowTheEnum() {
    for (std::size_t i = 0; i < layoutCount; ++i) {
        if (static_cast<std::size_t>(layoutTable[i].layout) != i ||
            layoutTable[i].bytes !=
                layoutTable[i].sampleBytes * (layoutTable[i].layout == PixelLayout::gray8 ? 1
                                              : layoutTable[i].hasAlpha                   ? 4
                                                                                          : 3)) {
            return false;
        }
    }
    return true;
}
static_assert(layoutsFollowTheEnum(), "layoutTable lists the layouts in order, samples and all");

constexpr const LayoutTraits& traitsOf(PixelLayout layout) {
    return layoutTable[static_cast<std::size_t>(layout)];
}

constexpr std::size_t pixelBytes(PixelLayout layout) {
    return traitsOf(layout).bytes;
}

constexpr bool hasAlpha(PixelLayout layout) {
    return traitsOf(layout).hasAlpha;
}

constexpr bool isWide(PixelLayout layout) {
    return traitsOf(layout).sampleBytes == 2;
}

// The byte offsets of a pixel's samples (8-bit layouts).
constexpr std::size_t redByte(PixelLayout layout) {
    return traitsOf(layout).red;
}
constexpr std::size_t greenByte(PixelLayout layout) {
    return traitsOf(layout).green;
}
constexpr std::size_t blueByte(PixelLayout layout) {
    return traitsOf(layout).blue;
}
constexpr std::size_t alphaByte(PixelLayout layout) {
    return traitsOf(layout).alpha;
}

} // namespace pixfold
