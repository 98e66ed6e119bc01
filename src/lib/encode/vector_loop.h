// What the vector paths share: the x86 test, the entry that picks the format,
// and (vector_loop.inc) the loop itself, written once over an instruction
// set's operations (Isa: Avx2 in isa_avx2.h, Avx512 in isa_avx512.h). Each
// ISA header includes the loop to define its Isa::encode, compiled for that
// instruction set with the loop and the operations flattened into it. A step
// of Isa::lanes pixels:
//
//   lanes pixels     r g b r g b ... (any layout: 8-bit or 16-bit samples)
//      | loadPairs        (r, g) and (b, 0) as 16-bit pairs in 32-bit lanes;
//      |                    16-bit samples less 32768 (see wideSampleBias)
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

// A path's entry: Isa::encode<format, layout> is the loop compiled for Isa.
template <class Isa>
inline void encodeWith(PixelLayout layout, const std::uint8_t* pixels, std::size_t pixelCount,
                       const EncodePlan& plan, std::uint8_t* records, std::uint8_t* alpha) {
    withFormat(plan.format, [&](auto format) {
        withLayout(layout, [&](auto known) {
            Isa::template encode<decltype(format)::value, decltype(known)::value>(
                pixels, pixelCount, plan, records, alpha);
        });
    });
}

// Byte indices of a byte shuffle that puts two samples of a pixel in each
// 32-bit lane as 16-bit values, the first in the low half: lane i takes the
// pixel at byte starts[i] of the source (-1: none, the lane is zero), its
// samples first and second (-1: none, that half is zero). An 8-bit sample
// fills its half's low byte, a 16-bit one both bytes. A 256-bit shuffle (size
// 32) works within each 128-bit half, so there the starts count from the
// half's first byte.
template <std::size_t size>
constexpr std::array<std::int8_t, size> laneOrder(PixelLayout layout,
                                                  const std::array<int, size / 4>& starts,
                                                  std::size_t first, int second) {
    std::array<std::int8_t, size> order{};
    const std::size_t width = traitsOf(layout).sampleBytes;
    for (std::size_t lane = 0; lane < size / 4; ++lane) {
        for (std::size_t half = 0; half < 2; ++half) {
            const bool empty = starts[lane] < 0 || (half == 1 && second < 0);
            const std::size_t sample = half == 0 ? first : static_cast<std::size_t>(second);
            for (std::size_t k = 0; k < 2; ++k) {
                const std::size_t at = static_cast<std::size_t>(starts[lane]) + sample * width + k;
                order[lane * 4 + half * 2 + k] =
                    empty || k >= width ? std::int8_t{-1} : static_cast<std::int8_t>(at);
            }
        }
    }
    return order;
}

// The starts of laneOrder where lane i takes pixel i of a run from its first
// byte. In a 256-bit shuffle lane i of each half takes pixel i of that half,
// the high half's pixels from its byte highStart on.
template <std::size_t size>
constexpr std::array<int, size / 4> pixelStarts(PixelLayout layout, std::size_t highStart) {
    std::array<int, size / 4> starts{};
    for (std::size_t lane = 0; lane < size / 4; ++lane) {
        const bool halves = size == 32;
        const std::size_t pixel = halves ? lane % 4 : lane;
        starts[lane] =
            static_cast<int>((halves && lane >= 4 ? highStart : 0) + pixel * pixelBytes(layout));
    }
    return starts;
}

// The (red, green) and (blue, none) orders of a layout over given starts.
template <std::size_t size>
constexpr std::array<std::int8_t, size> redGreenOrder(PixelLayout layout,
                                                      const std::array<int, size / 4>& starts) {
    return laneOrder<size>(layout, starts, traitsOf(layout).red,
                           static_cast<int>(traitsOf(layout).green));
}

template <std::size_t size>
constexpr std::array<std::int8_t, size> blueOrder(PixelLayout layout,
                                                  const std::array<int, size / 4>& starts) {
    return laneOrder<size>(layout, starts, traitsOf(layout).blue, -1);
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

// 16-bit samples go into the pairs less 32768, as signed 16-bit values
// (the multiply-adds take no others), and a pair's empty half holds -32768:
// wideSampleBias is what the load XORs each 16-bit half with.
constexpr std::int32_t wideSampleBias = coefficientPair(0x8000, 0x8000);

// The coefficients of the pairs: (red, green) and (blue, the empty half).
// With the samples less 32768 the first two and the blue miss 32768 times
// their weights; the empty half's -32768 times minus the three weights' total
// gives it back (nothing for a difference, whose weights add up to 0).
constexpr std::int32_t redGreenCoefficients(const Weights& weights) {
    return coefficientPair(weights.red, weights.green);
}

constexpr std::int32_t blueCoefficients(const Weights& weights, PixelLayout layout) {
    return coefficientPair(weights.blue,
                           isWide(layout) ? -(weights.red + weights.green + weights.blue) : 0);
}

// The key colour as the pairs hold it. Where no sample can match (a
// component set out of the sample range), the blue pair's empty half is made
// one the pairs never hold.
struct KeyPairs {
    std::int32_t rg;
    std::int32_t b;
};

constexpr KeyPairs keyPairs(const KeyTest& key, PixelLayout layout) {
    if (!isWide(layout)) {
        return {key.red | (key.green << 16), key.blue};
    }
    if (key.red > 0xFFFF || key.green > 0xFFFF || key.blue > 0xFFFF) {
        return {0, 0};
    }
    return {coefficientPair(key.red, key.green) ^ wideSampleBias,
            coefficientPair(key.blue, 0) ^ wideSampleBias};
}

} // namespace pixfold
