// The one-pixel step every path shares: the portable loop runs it for every
// pixel, the vector loops for their last few pixels and for the pixels their
// estimate leaves to the exact conversion.
#pragma once

#include "encode/encoder.h"
#include "format/pack.h"
#include "format/records.h"

#include <cstddef>
#include <cstdint>
#include <type_traits>
#include <utility>

namespace pixfold {

template <OutputFormat format>
inline void storePixel(const std::uint8_t* sample, YCrCbCodes codes, const KeyTest& key,
                       std::uint8_t* records, std::uint8_t* alpha, std::size_t index) {
    const PackedWord word = packWord(codes, format);
    std::uint8_t* record = records + index * recordBytes(format);
    if constexpr (isKeyedFormat(format)) {
        const std::uint32_t keyValue = selectKeyValue({sample[0], sample[1], sample[2]}, key);
        std::uint8_t* alphaRecord = writesAlphaStream(format) ? alpha + index * 4 : nullptr;
        writeKeyedRecord(word, keyValue, format, record, alphaRecord);
    } else {
        writePlainRecord(word, format, record);
    }
}

// Pixels first to last - 1, exactly, one at a time.
template <OutputFormat format>
inline void encodeExactly(const std::uint8_t* samples, std::size_t first, std::size_t last,
                          const EncodePlan& plan, std::uint8_t* records, std::uint8_t* alpha) {
    for (std::size_t i = first; i < last; ++i) {
        const std::uint8_t* sample = samples + i * 3;
        const YCrCbCodes codes = convertPixel({sample[0], sample[1], sample[2]}, plan.scale);
        storePixel<format>(sample, codes, plan.key, records, alpha, i);
    }
}

// The pixels of a group whose bits are set in flagged, from first on: pixel
// first + i has bit i * stride.
template <OutputFormat format>
inline void encodeFlagged(const std::uint8_t* samples, std::size_t first, std::uint32_t flagged,
                          std::uint32_t stride, const EncodePlan& plan, std::uint8_t* records,
                          std::uint8_t* alpha) {
    for (std::size_t lane = 0; flagged != 0; ++lane, flagged >>= stride) {
        if ((flagged & 1u) != 0) {
            encodeExactly<format>(samples, first + lane, first + lane + 1, plan, records, alpha);
        }
    }
}

// The vector loops note each group's flags and redo the flagged pixels after
// a chunk of groups, not inside the loop: a call there makes the compiler
// reload every constant at every step.
constexpr std::size_t chunkGroups = 64;

template <OutputFormat format>
inline void
encodeFlaggedGroups(const std::uint8_t* samples, std::size_t first, std::size_t groupCount,
                    std::size_t groupPixels, std::uint32_t stride, const std::uint32_t* flagged,
                    const EncodePlan& plan, std::uint8_t* records, std::uint8_t* alpha) {
    for (std::size_t group = 0; group < groupCount; ++group) {
        if (flagged[group] != 0) {
            encodeFlagged<format>(samples, first + group * groupPixels, flagged[group], stride,
                                  plan, records, alpha);
        }
    }
}

// Calls kernel with the format as a compile-time constant, so that each path's
// loop is compiled once per format.
template <class Kernel, std::size_t... formats>
inline void withFormatOf(std::size_t format, Kernel& kernel, std::index_sequence<formats...>) {
    ((format == formats
          ? kernel(std::integral_constant<OutputFormat, static_cast<OutputFormat>(formats)>{})
          : void()),
     ...);
}

template <class Kernel> inline void withFormat(OutputFormat format, Kernel&& kernel) {
    withFormatOf(static_cast<std::size_t>(format), kernel, std::make_index_sequence<formatCount>{});
}

} // namespace pixfold
