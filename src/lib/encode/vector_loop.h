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

#include <algorithm>
#include <cstddef>
#include <cstdint>

namespace pixfold {

// A path's public entry: Isa::encode<format> is the loop compiled for Isa.
template <class Isa>
inline void encodeWith(const std::uint8_t* samples, std::size_t pixelCount, const EncodePlan& plan,
                       std::uint8_t* records, std::uint8_t* alpha) {
    withFormat(plan.format, [&](auto format) {
        Isa::template encode<decltype(format)::value>(samples, pixelCount, plan, records, alpha);
    });
}

// Two 16-bit coefficients for a pairwise multiply-add: low multiplies the
// pair's first sample, high the second.
constexpr std::int32_t coefficientPair(std::int32_t low, std::int32_t high) {
    return static_cast<std::int32_t>((static_cast<std::uint32_t>(high) << 16) |
                                     (static_cast<std::uint32_t>(low) & 0xFFFFu));
}

} // namespace pixfold
