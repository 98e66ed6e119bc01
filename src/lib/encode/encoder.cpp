#include "encode/encoder.h"

#include "encode/isa_avx2.h"
#include "encode/isa_avx512.h"
#include "encode/pixel_store.h"
#include "format/pack.h"
#include "format/records.h"

#include <algorithm>
#include <cstring>

namespace pixfold {

namespace {

// A weight's share of a 16-bit sample: the sample times the weight's size,
// an unsigned product of two 16-bit values, the form compilers vectorise as a
// widening multiply (SSE2's pmullw and pmulhuw, NEON's umull).
constexpr std::uint32_t shareOf(std::int32_t weight, std::uint16_t sample) {
    return std::uint32_t{sample} * static_cast<std::uint32_t>(weight < 0 ? -weight : weight);
}

// A code's sum of 16-bit samples, exact: the shares of the positive weights
// less those of the negative ones, each total below 2^31.
constexpr std::int32_t weighWide(const Weights& weights, std::uint16_t r, std::uint16_t g,
                                 std::uint16_t b) {
    const std::uint32_t plus = (weights.red > 0 ? shareOf(weights.red, r) : 0) +
                               (weights.green > 0 ? shareOf(weights.green, g) : 0) +
                               (weights.blue > 0 ? shareOf(weights.blue, b) : 0);
    const std::uint32_t minus = (weights.red < 0 ? shareOf(weights.red, r) : 0) +
                                (weights.green < 0 ? shareOf(weights.green, g) : 0) +
                                (weights.blue < 0 ? shareOf(weights.blue, b) : 0);
    return static_cast<std::int32_t>(plus) - static_cast<std::int32_t>(minus);
}

// A code's sum of a pixel's samples, exact, as a float rounded once
// (colour/convert.h): 8-bit samples' terms and sums are integers below 2^24,
// exact in float arithmetic, which vectorises for every target; 16-bit
// samples' sums, up to 1000 * 65535, in 32-bit integers.
template <PixelLayout layout, class Sample>
inline float sumOf(const Weights& weights, Sample r, Sample g, Sample b) {
    if constexpr (isWide(layout)) {
        return static_cast<float>(weighWide(weights, r, g, b));
    } else {
        return weighInFloat(weights, static_cast<float>(r), static_cast<float>(g),
                            static_cast<float>(b));
    }
}

// The portable loop: plain arithmetic with no branch, in loops simple enough
// that compilers vectorise them for whatever the target has (SSE2, NEON,
// ...): the samples are first spread into arrays, 8-bit ones into 32-bit
// lanes, since a byte to float conversion stops GCC's vectoriser, 16-bit ones
// as they are, which the compilers weigh with widening multiplies. One pass
// over a span with the estimate, then, only if some pixel was near a code
// boundary, a second pass that redoes just those pixels exactly.
template <OutputFormat format, PixelLayout layout>
void encodeSpan(const std::uint8_t* pixels, std::size_t pixelCount, const EncodePlan& plan,
                std::uint8_t* records, std::uint8_t* alpha) {
    constexpr std::size_t bytes = pixelBytes(layout);
    constexpr LayoutTraits traits = traitsOf(layout);
    using Sample = std::conditional_t<isWide(layout), std::uint16_t, std::int32_t>;
    Sample red[spanPixels];
    Sample green[spanPixels];
    Sample blue[spanPixels];
    std::int32_t byAlpha[hasAlpha(layout) ? spanPixels : 1];
    const auto keyTransparent = static_cast<std::int32_t>(plan.keyTransparent);
    for (std::size_t i = 0; i < pixelCount; ++i) {
        const std::uint8_t* pixel = pixels + i * bytes;
        red[i] = static_cast<Sample>(sampleAt<layout>(pixel, traits.red));
        green[i] = static_cast<Sample>(sampleAt<layout>(pixel, traits.green));
        blue[i] = static_cast<Sample>(sampleAt<layout>(pixel, traits.blue));
        if constexpr (hasAlpha(layout)) {
            byAlpha[i] = static_cast<std::int32_t>(sampleAt<layout>(pixel, traits.alpha) == 0) &
                         keyTransparent;
        }
    }
    std::int32_t luma[spanPixels];
    std::int32_t redDifference[spanPixels];
    std::int32_t blueDifference[spanPixels];
    std::int32_t near[spanPixels];
    const EstimateScale scale = plan.estimate;
    std::int32_t anyNear = 0;
    for (std::size_t i = 0; i < pixelCount; ++i) {
        const Sample r = red[i];
        const Sample g = green[i];
        const Sample b = blue[i];
        const std::int32_t y =
            estimateCode(sumOf<layout>(lumaWeights, r, g, b), scale.luma, lumaEstimateBias);
        const std::int32_t cr = estimateCode(sumOf<layout>(redDifferenceWeights, r, g, b),
                                             scale.difference, differenceEstimateBias);
        const std::int32_t cb = estimateCode(sumOf<layout>(blueDifferenceWeights, r, g, b),
                                             scale.difference, differenceEstimateBias);
        near[i] = static_cast<std::int32_t>(nearCodeBoundary(y)) |
                  static_cast<std::int32_t>(nearCodeBoundary(cr)) |
                  static_cast<std::int32_t>(nearCodeBoundary(cb));
        anyNear |= near[i];
        luma[i] = y >> 16;
        redDifference[i] = (cr >> 16) + static_cast<std::int32_t>(cr < negativeDifferenceLimit);
        blueDifference[i] = (cb >> 16) + static_cast<std::int32_t>(cb < negativeDifferenceLimit);
    }
    storeSpan<format, hasAlpha(layout)>(red, green, blue, byAlpha, luma, redDifference,
                                        blueDifference, pixelCount, plan.key, records, alpha);
    for (std::size_t i = 0; anyNear != 0 && i < pixelCount; ++i) {
        if (near[i] != 0) {
            encodeExactly<format, layout>(pixels, i, i + 1, plan, records, alpha);
        }
    }
}

template <OutputFormat format, PixelLayout layout>
void encodePortable(const std::uint8_t* pixels, std::size_t pixelCount, const EncodePlan& plan,
                    std::uint8_t* records, std::uint8_t* alpha) {
    for (std::size_t done = 0; done < pixelCount; done += spanPixels) {
        const std::size_t count = std::min(spanPixels, pixelCount - done);
        encodeSpan<format, layout>(pixels + done * pixelBytes(layout), count, plan,
                                   records + done * recordBytes(format),
                                   alpha == nullptr ? nullptr : alpha + done * 4);
    }
}

// Pixels of the given layout, on the plan's path.
void encodeLayout(PixelLayout layout, const std::uint8_t* pixels, std::size_t pixelCount,
                  const EncodePlan& plan, std::uint8_t* records, std::uint8_t* alpha) {
#if PIXFOLD_HAS_X86_PATHS
    if (plan.path == Path::avx512) {
        encodeWith<Avx512>(layout, pixels, pixelCount, plan, records, alpha);
        return;
    }
    if (plan.path == Path::avx2) {
        encodeWith<Avx2>(layout, pixels, pixelCount, plan, records, alpha);
        return;
    }
#endif
    withFormat(plan.format, [&](auto format) {
        withLayout(layout, [&](auto known) {
            encodePortable<decltype(format)::value, decltype(known)::value>(pixels, pixelCount,
                                                                            plan, records, alpha);
        });
    });
}

} // namespace

EncodePlan makeEncodePlan(const ConversionSettings& settings, std::int32_t maxValue, Path path,
                          PixelLayout layout) {
    EncodePlan plan;
    plan.format = settings.format;
    plan.path = runnablePath(path);
    plan.layout = layout;
    plan.keyTransparent = settings.transparencyKey && isKeyedFormat(settings.format);
    plan.scale = makeConversionScale(maxValue);
    plan.estimate = makeEstimateScale(maxValue);
    plan.key = makeKeyTest(settings, maxValue);
    return plan;
}

void encodePixels(const std::uint8_t* pixels, std::size_t pixelCount, const EncodePlan& plan,
                  std::uint8_t* records, std::uint8_t* alpha) {
    encodeLayout(plan.layout, pixels, pixelCount, plan, records, alpha);
}

void encodeWidePixels(const std::uint8_t* pixels, std::size_t pixelCount, const EncodePlan& plan,
                      std::uint8_t* records, std::uint8_t* alpha) {
    encodeLayout(plan.layout == PixelLayout::rgba64 ? PixelLayout::rgba64 : PixelLayout::rgb48,
                 pixels, pixelCount, plan, records, alpha);
}

void keyTransparentPixels(const std::uint8_t* opacity, std::size_t pixelCount,
                          const EncodePlan& plan, std::uint8_t* records, std::uint8_t* alpha) {
    const std::uint32_t match = plan.key.matchValue;
    const auto keyPixel = [&](std::size_t i) {
        if (plan.format == OutputFormat::e655Z) {
            storeBigEndian16(records + i * 4 + 2, match & 0xFFFFu);
        } else {
            storeBigEndian32(alpha + i * 4, match);
        }
    };
    if (!isKeyedFormat(plan.format)) {
        return;
    }
    // Eight alpha samples a test, as few pictures are mostly transparent: a
    // byte a step took a third of a nanosecond a pixel.
    constexpr std::uint64_t ones = 0x0101010101010101u;
    std::size_t i = 0;
    for (; i + 8 <= pixelCount; i += 8) {
        std::uint64_t word = 0;
        std::memcpy(&word, opacity + i, 8);
        if (((word - ones) & ~word & (ones << 7)) == 0) { // no zero byte
            continue;
        }
        for (std::size_t k = i; k < i + 8; ++k) {
            if (opacity[k] == 0) {
                keyPixel(k);
            }
        }
    }
    for (; i < pixelCount; ++i) {
        if (opacity[i] == 0) {
            keyPixel(i);
        }
    }
}

} // namespace pixfold
