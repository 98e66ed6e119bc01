// The one-pixel step every path shares: the portable loop runs it for every
// pixel, the vector loops for their last few pixels and for the pixels their
// estimate leaves to the exact conversion.
#pragma once

#include "encode/encoder.h"
#include "format/pack.h"
#include "format/records.h"

#include <cstring>

#include <cstddef>
#include <cstdint>
#include <type_traits>
#include <utility>

namespace pixfold {

// One pixel's records from its codes, keyed by its samples.
template <OutputFormat format, class Sample>
inline void storePixel(const Sample* sample, YCrCbCodes codes, const KeyTest& key,
                       std::uint8_t* records, std::uint8_t* alpha, std::size_t index) {
    const PackedWord word = packWord(codes, format);
    std::uint8_t* record = records + index * recordBytes(format);
    if constexpr (isKeyedFormat(format)) {
        const std::uint32_t keyValue = selectKeyValue(sample[0], sample[1], sample[2], key);
        std::uint8_t* alphaRecord = writesAlphaStream(format) ? alpha + index * 4 : nullptr;
        writeKeyedRecord(word, keyValue, format, record, alphaRecord);
    } else {
        writePlainRecord(word, format, record);
    }
}

// Small enough that a span holding a pixel near a code boundary is rare and
// cheap to go over again.
constexpr std::size_t spanPixels = 128;

// The records of a span from its codes, built in memory order (records.h)
// and stored with memcpy.
template <OutputFormat format>
inline void storeSpan(const std::int32_t* red, const std::int32_t* green, const std::int32_t* blue,
                      const std::int32_t* y, const std::int32_t* cr, const std::int32_t* cb,
                      std::size_t pixelCount, const KeyTest& key, std::uint8_t* records,
                      std::uint8_t* alpha) {
    const std::uint32_t match = key.matchValue;
    const std::uint32_t noMatch = key.noMatchValue;
    const std::uint32_t matchAlpha = alphaRecord(match);
    const std::uint32_t noMatchAlpha = alphaRecord(noMatch);
    std::uint32_t values[spanPixels]; // e655's 16-bit values
    for (std::size_t i = 0; i < pixelCount; ++i) {
        // & rather than &&: no branch in the loop.
        const bool matches = (red[i] == key.red) & (green[i] == key.green) & (blue[i] == key.blue);
        const auto luma = static_cast<std::uint32_t>(y[i]);
        const auto red8 = static_cast<std::uint32_t>(cr[i]);
        const auto blue8 = static_cast<std::uint32_t>(cb[i]);
        if constexpr (usesLayout888(format)) {
            const std::uint32_t word = record888(luma, red8, blue8);
            std::memcpy(records + i * 4, &word, 4);
        } else if constexpr (format == OutputFormat::e655) {
            values[i] = value655(luma, red8, blue8);
        } else {
            const std::uint32_t word =
                record655Z(value655(luma, red8, blue8), matches ? match : noMatch);
            std::memcpy(records + i * 4, &word, 4);
        }
        if constexpr (writesAlphaStream(format)) {
            const std::uint32_t word = matches ? matchAlpha : noMatchAlpha;
            std::memcpy(alpha + i * 4, &word, 4);
        }
    }
    if constexpr (format == OutputFormat::e655) {
        // Two records a word: 16-bit stores vectorise poorly.
        std::size_t i = 0;
        for (; i + 1 < pixelCount; i += 2) {
            const std::uint32_t word = records655(values[i], values[i + 1]);
            std::memcpy(records + i * 2, &word, 4);
        }
        if (i < pixelCount) {
            storeBigEndian16(records + i * 2, values[i]);
        }
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
