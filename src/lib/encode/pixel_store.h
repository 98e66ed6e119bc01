// The one-pixel step every path shares: the portable loop runs it for every
// pixel, the vector loops for their last few pixels and for the pixels their
// estimate leaves to the exact conversion.
#pragma once

#include "encode/encoder.h"
#include "format/layouts.h"
#include "format/pack.h"
#include "format/records.h"

#include <cstring>

#include <cstddef>
#include <cstdint>
#include <type_traits>

namespace pixfold {

// One pixel's samples, as its layout holds them (16-bit ones in host order).
struct PixelSamples {
    std::int32_t r = 0;
    std::int32_t g = 0;
    std::int32_t b = 0;
    bool transparent = false; // an alpha sample of 0
};

template <PixelLayout layout>
inline std::int32_t sampleAt(const std::uint8_t* pixel, std::size_t at) {
    if constexpr (isWide(layout)) {
        std::uint16_t sample = 0;
        std::memcpy(&sample, pixel + at * 2, 2);
        return sample;
    } else {
        return pixel[at];
    }
}

template <PixelLayout layout>
inline PixelSamples samplesOf(const std::uint8_t* pixels, std::size_t index) {
    const std::uint8_t* pixel = pixels + index * pixelBytes(layout);
    PixelSamples samples;
    samples.r = sampleAt<layout>(pixel, traitsOf(layout).red);
    samples.g = sampleAt<layout>(pixel, traitsOf(layout).green);
    samples.b = sampleAt<layout>(pixel, traitsOf(layout).blue);
    if constexpr (hasAlpha(layout)) {
        samples.transparent = sampleAt<layout>(pixel, traitsOf(layout).alpha) == 0;
    }
    return samples;
}

// One pixel's records from its codes, keyed by its samples (and, where the
// plan keys transparent pixels, by its alpha).
template <OutputFormat format>
inline void storePixel(const PixelSamples& samples, YCrCbCodes codes, const EncodePlan& plan,
                       std::uint8_t* records, std::uint8_t* alpha, std::size_t index) {
    const PackedWord word = packWord(codes, format);
    std::uint8_t* record = records + index * recordBytes(format);
    if constexpr (isKeyedFormat(format)) {
        const KeyTest& key = plan.key;
        const std::uint32_t keyValue = samples.transparent && plan.keyTransparent
                                           ? key.matchValue
                                           : selectKeyValue(samples.r, samples.g, samples.b, key);
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
// and stored with memcpy. byAlpha: 1 where the pixel is keyed by its alpha
// (read only with keyedByAlpha).
template <OutputFormat format, bool keyedByAlpha, class Sample>
inline void storeSpan(const Sample* red, const Sample* green, const Sample* blue,
                      const std::int32_t* byAlpha, const std::int32_t* y, const std::int32_t* cr,
                      const std::int32_t* cb, std::size_t pixelCount, const KeyTest& key,
                      std::uint8_t* records, std::uint8_t* alpha) {
    const std::uint32_t match = key.matchValue;
    const std::uint32_t noMatch = key.noMatchValue;
    const std::uint32_t matchAlpha = alphaRecord(match);
    const std::uint32_t noMatchAlpha = alphaRecord(noMatch);
    std::uint32_t values[spanPixels]; // e655's 16-bit values
    for (std::size_t i = 0; i < pixelCount; ++i) {
        // & rather than &&: no branch in the loop.
        bool matches = (red[i] == key.red) & (green[i] == key.green) & (blue[i] == key.blue);
        if constexpr (keyedByAlpha) {
            matches |= byAlpha[i] != 0;
        }
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

// Pixels first to last - 1, exactly, one at a time: 8-bit samples by exact
// integer division (and the formula on a tie), 16-bit ones, whose numerators
// outgrow it, by the formula itself.
template <OutputFormat format, PixelLayout layout>
inline void encodeExactly(const std::uint8_t* pixels, std::size_t first, std::size_t last,
                          const EncodePlan& plan, std::uint8_t* records, std::uint8_t* alpha) {
    for (std::size_t i = first; i < last; ++i) {
        const PixelSamples samples = samplesOf<layout>(pixels, i);
        YCrCbCodes codes;
        if constexpr (isWide(layout)) {
            codes = convertSamplesInDouble(samples.r, samples.g, samples.b, plan.scale.maxValue);
        } else {
            codes = convertPixel({static_cast<std::uint8_t>(samples.r),
                                  static_cast<std::uint8_t>(samples.g),
                                  static_cast<std::uint8_t>(samples.b)},
                                 plan.scale);
        }
        storePixel<format>(samples, codes, plan, records, alpha, i);
    }
}

// The pixels of a group whose bits are set in flagged, from first on: pixel
// first + i has bit i * stride.
template <OutputFormat format, PixelLayout layout>
inline void encodeFlagged(const std::uint8_t* samples, std::size_t first, std::uint32_t flagged,
                          std::uint32_t stride, const EncodePlan& plan, std::uint8_t* records,
                          std::uint8_t* alpha) {
    for (std::size_t lane = 0; flagged != 0; ++lane, flagged >>= stride) {
        if ((flagged & 1u) != 0) {
            encodeExactly<format, layout>(samples, first + lane, first + lane + 1, plan, records,
                                          alpha);
        }
    }
}

// The vector loops note each group's flags and redo the flagged pixels after
// a chunk of groups, not inside the loop: a call there makes the compiler
// reload every constant at every step.
constexpr std::size_t chunkGroups = 64;

template <OutputFormat format, PixelLayout layout>
inline void
encodeFlaggedGroups(const std::uint8_t* samples, std::size_t first, std::size_t groupCount,
                    std::size_t groupPixels, std::uint32_t stride, const std::uint32_t* flagged,
                    const EncodePlan& plan, std::uint8_t* records, std::uint8_t* alpha) {
    for (std::size_t group = 0; group < groupCount; ++group) {
        if (flagged[group] != 0) {
            encodeFlagged<format, layout>(samples, first + group * groupPixels, flagged[group],
                                          stride, plan, records, alpha);
        }
    }
}

// Calls kernel with the format as a compile-time constant, so that each path's
// loop is compiled once per format.
template <class Kernel> inline void withFormat(OutputFormat format, Kernel&& kernel) {
    switch (format) {
    case OutputFormat::e655:
        kernel(std::integral_constant<OutputFormat, OutputFormat::e655>{});
        break;
    case OutputFormat::e655Z:
        kernel(std::integral_constant<OutputFormat, OutputFormat::e655Z>{});
        break;
    case OutputFormat::e888:
        kernel(std::integral_constant<OutputFormat, OutputFormat::e888>{});
        break;
    case OutputFormat::e888Alpha:
        kernel(std::integral_constant<OutputFormat, OutputFormat::e888Alpha>{});
        break;
    }
}

template <PixelLayout layout> using LayoutConstant = std::integral_constant<PixelLayout, layout>;

// Calls kernel with the layout as a compile-time constant.
template <class Kernel> inline void withLayout(PixelLayout layout, Kernel&& kernel) {
    switch (layout) {
    case PixelLayout::bgr24:
        kernel(LayoutConstant<PixelLayout::bgr24>{});
        break;
    case PixelLayout::rgba32:
        kernel(LayoutConstant<PixelLayout::rgba32>{});
        break;
    case PixelLayout::bgra32:
        kernel(LayoutConstant<PixelLayout::bgra32>{});
        break;
    case PixelLayout::gray8:
        kernel(LayoutConstant<PixelLayout::gray8>{});
        break;
    case PixelLayout::rgb48:
        kernel(LayoutConstant<PixelLayout::rgb48>{});
        break;
    case PixelLayout::rgba64:
        kernel(LayoutConstant<PixelLayout::rgba64>{});
        break;
    default:
        kernel(LayoutConstant<PixelLayout::rgb24>{});
        break;
    }
}

} // namespace pixfold
