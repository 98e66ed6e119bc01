// What the vector paths share: the x86 test, the entry that picks the format,
// and (vector_loop.inc) the loop itself, written once over an instruction
// set's operations (Isa: Avx2 in isa_avx2.h, Avx512 in isa_avx512.h). Each
// ISA header includes the loop to define its Isa::encode, compiled for that
// instruction set with the loop and the operations flattened into it. A step
// of Isa::lanes pixels:
//
//   3 x lanes bytes  r g b r g b ...
//      | loadPairs        (r, g) and (b, 0) as 16-bit pairs in 32-bit lanes
//      | weigh            the exact sums L = 299 r + 587 g + 114 b, and the two D
//      | estimate         16.16 fixed-point code estimates (colour/convert.h)
//      | nearBoundary     a flag where an estimate is in the guard band
//      | differenceCodes  the cr and cb codes as 16-bit halves of one lane:
//      |                    [cr 7-0][0][cb 7-0][0] in memory
//      | keyBytes         the key value's record bytes (records.h keyLaneBytes)
//      | store...         the format's records, most significant byte first;
//      |                  y's code is bits 16-23 of its estimate, taken there
//
// Flagged pixels (about 3 in 10,000) are redone exactly after each chunk.
#pragma once

#include "cpu/path.h"
#include "encode/pixel_store.h"
#include "format/layouts.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>

namespace pixfold {

// A path's public entry: Isa::encode<format, layout> is the loop compiled for Isa.
template <class Isa>
inline void encodeWith(const std::uint8_t* pixels, std::size_t pixelCount, const EncodePlan& plan,
                       std::uint8_t* records, std::uint8_t* alpha) {
    withFormat(plan.format, [&](auto format) {
        withEightBitLayout(plan.layout, [&](auto layout) {
            Isa::template encode<decltype(format)::value, decltype(layout)::value>(
                pixels, pixelCount, plan, records, alpha);
        });
    });
}

// Byte indices of a byte shuffle that puts, in 32-bit lane i, the samples
// first and second (-1: none) of pixel i as 16-bit values, the pixels
// `bytes` apart; the rest are zero (-1). A 256-bit shuffle (size 32) works
// within each 128-bit half: lane i of each half takes pixel i of that half,
// the high half's pixels from its byte highStart on.
template <std::size_t size>
constexpr std::array<std::int8_t, size> pairOrder(std::size_t bytes, std::size_t first, int second,
                                                  std::size_t highStart) {
    std::array<std::int8_t, size> order{};
    for (std::size_t lane = 0; lane < size / 4; ++lane) {
        const bool halves = size == 32;
        const std::size_t pixel = halves ? lane % 4 : lane;
        const std::size_t start = (halves && lane >= 4 ? highStart : 0) + pixel * bytes;
        order[lane * 4] = static_cast<std::int8_t>(start + first);
        order[lane * 4 + 1] = -1;
        order[lane * 4 + 2] =
            second < 0 ? std::int8_t{-1}
                       : static_cast<std::int8_t>(start + static_cast<std::size_t>(second));
        order[lane * 4 + 3] = -1;
    }
    return order;
}

// The (red, green) and (blue, none) orders of a layout.
template <std::size_t size>
constexpr std::array<std::int8_t, size> redGreenOrder(PixelLayout layout, std::size_t highStart) {
    return pairOrder<size>(pixelBytes(layout), redByte(layout), static_cast<int>(greenByte(layout)),
                           highStart);
}

template <std::size_t size>
constexpr std::array<std::int8_t, size> blueOrder(PixelLayout layout, std::size_t highStart) {
    return pairOrder<size>(pixelBytes(layout), blueByte(layout), -1, highStart);
}

// Tail pixels are copied to a buffer padded with zeros to this many whole
// steps and the loop's longest read, so that they too take vector steps.
constexpr std::size_t tailSteps = 2;

// Two 16-bit coefficients for a pairwise multiply-add: low multiplies the
// pair's first sample, high the second.
constexpr std::int32_t coefficientPair(std::int32_t low, std::int32_t high) {
    return static_cast<std::int32_t>((static_cast<std::uint32_t>(high) << 16) |
                                     (static_cast<std::uint32_t>(low) & 0xFFFFu));
}

} // namespace pixfold
