// The loop both vector paths run, written once over an instruction set's
// operations (Isa: Avx2 in encoder_avx2.cpp, Avx512 in encoder_avx512.cpp).
// Each path's entry is compiled for its instruction set and flattens this
// loop and the operations into itself. A step of Isa::lanes pixels:
//
//   3 x lanes bytes  r g b r g b ...
//      | loadPairs      (r, g) and (b, 0) as 16-bit pairs in 32-bit lanes
//      | weigh          the exact sums L = 299 r + 587 g + 114 b, and the two D
//      | estimate       16.16 fixed-point code estimates (colour/convert.h)
//      | codes          codes, and a flag where an estimate is near a boundary
//      | store...       the format's records, most significant byte first
//
// Flagged pixels (about 3 in 10,000) are redone exactly after each chunk.
#pragma once

#include "encode/pixel_store.h"

// GCC warns that this loop passes vector registers without the instruction
// set enabled; it is only ever inlined into an entry compiled for it.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wpsabi"
#endif

#include <algorithm>
#include <cstddef>
#include <cstdint>

// The vector paths exist for x86 compilers that take per-function targets.
#if (defined(__GNUC__) || defined(__clang__)) && (defined(__x86_64__) || defined(__i386__))
#define PIXFOLD_HAS_X86_PATHS 1
#else
#define PIXFOLD_HAS_X86_PATHS 0
#endif

namespace pixfold {

template <class Isa, OutputFormat format>
inline void encodeVector(const std::uint8_t* samples, std::size_t pixelCount,
                         const EncodePlan& plan, std::uint8_t* records, std::uint8_t* alpha) {
    using Int = typename Isa::Int;
    constexpr std::size_t lanes = Isa::lanes;
    const typename Isa::Constants constants = Isa::constants(plan);
    const EstimateScale scale = plan.estimate;
    const std::size_t vectorEnd = Isa::vectorEnd(pixelCount);
    for (std::size_t chunk = 0; chunk < vectorEnd; chunk += chunkGroups * lanes) {
        const std::size_t chunkEnd = std::min(vectorEnd, chunk + chunkGroups * lanes);
        std::uint32_t flaggedGroups[chunkGroups];
        for (std::size_t i = chunk; i < chunkEnd; i += lanes) {
            const typename Isa::Pairs pixels = Isa::loadPairs(samples + i * 3, constants);
            const Int yFixed =
                Isa::estimate(Isa::weigh(pixels, 299, 587, 114), scale.luma, lumaEstimateBias);
            const Int crFixed = Isa::estimate(Isa::weigh(pixels, 500, -419, -81), scale.difference,
                                              differenceEstimateBias);
            const Int cbFixed = Isa::estimate(Isa::weigh(pixels, -169, -331, 500), scale.difference,
                                              differenceEstimateBias);
            flaggedGroups[(i - chunk) / lanes] = Isa::nearBoundary(yFixed, crFixed, cbFixed);
            const Int y = Isa::lumaCode(yFixed);
            const Int cr = Isa::differenceCode(crFixed);
            const Int cb = Isa::differenceCode(cbFixed);
            Int keyValue = constants.noMatchValue;
            if constexpr (isKeyedFormat(format)) {
                keyValue = Isa::keyValue(pixels, constants);
            }
            if constexpr (usesLayout888(format)) {
                Isa::store888(records + i * 4, y, cr, cb);
            } else if constexpr (format == OutputFormat::e655) {
                Isa::store655(records + i * 2, Isa::value655(y, cr, cb));
            } else {
                Isa::store655Z(records + i * 4, Isa::value655(y, cr, cb), keyValue);
            }
            if constexpr (writesAlphaStream(format)) {
                Isa::storeAlpha(alpha + i * 4, keyValue);
            }
        }
        encodeFlaggedGroups<format>(samples, chunk, (chunkEnd - chunk) / lanes, lanes,
                                    Isa::flagStride, flaggedGroups, plan, records, alpha);
    }
    encodeExactly<format>(samples, vectorEnd, pixelCount, plan, records, alpha);
}

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
