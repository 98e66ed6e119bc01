// The pixel loop for 16-bit samples (RGB48 and RGBA64, at any maximum value;
// the tools' samples above 255): the double-precision estimate of colour/convert.h, the records
// stored as the portable loop stores them, and the pixels near a code boundary settled by the
// formula itself. Plain loops that compilers vectorise; on x86 compiled for AVX2 too.
#include "encode/encoder.h"
#include "encode/pixel_store.h"

#include <algorithm>

#if PIXFOLD_HAS_X86_PATHS
#define PIXFOLD_WIDE_INLINE inline __attribute__((always_inline))
#else
#define PIXFOLD_WIDE_INLINE inline
#endif

namespace pixfold {

namespace {

template <OutputFormat format, PixelLayout layout>
PIXFOLD_WIDE_INLINE void encodeWideSpan(const std::uint8_t* pixels, std::size_t pixelCount,
                                        const EncodePlan& plan, std::uint8_t* records,
                                        std::uint8_t* alpha) {
    std::int32_t red[spanPixels];
    std::int32_t green[spanPixels];
    std::int32_t blue[spanPixels];
    std::int32_t byAlpha[hasAlpha(layout) ? spanPixels : 1];
    const auto keyTransparent = static_cast<std::int32_t>(plan.keyTransparent);
    for (std::size_t i = 0; i < pixelCount; ++i) {
        const PixelSamples samples = samplesOf<layout>(pixels, i);
        red[i] = samples.r;
        green[i] = samples.g;
        blue[i] = samples.b;
        if constexpr (hasAlpha(layout)) {
            byAlpha[i] = static_cast<std::int32_t>(samples.transparent) & keyTransparent;
        }
    }
    std::int32_t luma[spanPixels];
    std::int32_t redDifference[spanPixels];
    std::int32_t blueDifference[spanPixels];
    std::int32_t near[spanPixels];
    const WideScale scale = plan.wide;
    std::int32_t anyNear = 0;
    for (std::size_t i = 0; i < pixelCount; ++i) {
        const auto r = static_cast<double>(red[i]);
        const auto g = static_cast<double>(green[i]);
        const auto b = static_cast<double>(blue[i]);
        const double y =
            estimateWide(weighInDouble(lumaWeights, r, g, b), scale.luma, lumaWideBias);
        const double cr = estimateWide(weighInDouble(redDifferenceWeights, r, g, b),
                                       scale.difference, differenceWideBias);
        const double cb = estimateWide(weighInDouble(blueDifferenceWeights, r, g, b),
                                       scale.difference, differenceWideBias);
        near[i] = nearWideBoundary(y) | nearWideBoundary(cr) | nearWideBoundary(cb);
        anyNear |= near[i];
        luma[i] = static_cast<std::int32_t>(y);
        // The formula truncates toward zero: a negative difference rounds up.
        redDifference[i] =
            static_cast<std::int32_t>(cr) + static_cast<std::int32_t>(cr < differenceOffset);
        blueDifference[i] =
            static_cast<std::int32_t>(cb) + static_cast<std::int32_t>(cb < differenceOffset);
    }
    storeSpan<format, hasAlpha(layout)>(red, green, blue, byAlpha, luma, redDifference,
                                        blueDifference, pixelCount, plan.key, records, alpha);
    for (std::size_t i = 0; anyNear != 0 && i < pixelCount; ++i) {
        if (near[i] != 0) {
            const PixelSamples samples = samplesOf<layout>(pixels, i);
            const YCrCbCodes codes =
                convertSamplesInDouble(samples.r, samples.g, samples.b, plan.scale.maxValue);
            storePixel<format>(samples, codes, plan, records, alpha, i);
        }
    }
}

template <OutputFormat format, PixelLayout layout>
PIXFOLD_WIDE_INLINE void encodeWide(const std::uint8_t* pixels, std::size_t pixelCount,
                                    const EncodePlan& plan, std::uint8_t* records,
                                    std::uint8_t* alpha) {
    for (std::size_t done = 0; done < pixelCount; done += spanPixels) {
        const std::size_t count = std::min(spanPixels, pixelCount - done);
        encodeWideSpan<format, layout>(pixels + done * pixelBytes(layout), count, plan,
                                       records + done * recordBytes(format),
                                       alpha == nullptr ? nullptr : alpha + done * 4);
    }
}

template <OutputFormat format, PixelLayout layout>
void encodeWidePortable(const std::uint8_t* pixels, std::size_t pixelCount, const EncodePlan& plan,
                        std::uint8_t* records, std::uint8_t* alpha) {
    encodeWide<format, layout>(pixels, pixelCount, plan, records, alpha);
}

#if PIXFOLD_HAS_X86_PATHS
// The same loop with four doubles a vector; AVX-512 processors take it too.
template <OutputFormat format, PixelLayout layout>
__attribute__((target("avx2,fma"))) void
encodeWideAvx2(const std::uint8_t* pixels, std::size_t pixelCount, const EncodePlan& plan,
               std::uint8_t* records, std::uint8_t* alpha) {
    encodeWide<format, layout>(pixels, pixelCount, plan, records, alpha);
}
#endif

template <OutputFormat format, PixelLayout layout>
void encodeWideLayout(const std::uint8_t* pixels, std::size_t pixelCount, const EncodePlan& plan,
                      std::uint8_t* records, std::uint8_t* alpha) {
#if PIXFOLD_HAS_X86_PATHS
    if (plan.path != Path::portable) {
        encodeWideAvx2<format, layout>(pixels, pixelCount, plan, records, alpha);
        return;
    }
#endif
    encodeWidePortable<format, layout>(pixels, pixelCount, plan, records, alpha);
}

} // namespace

void encodeWidePixels(const std::uint8_t* pixels, std::size_t pixelCount, const EncodePlan& plan,
                      std::uint8_t* records, std::uint8_t* alpha) {
    withFormat(plan.format, [&](auto format) {
        constexpr OutputFormat known = decltype(format)::value;
        if (plan.layout == PixelLayout::rgba64) {
            encodeWideLayout<known, PixelLayout::rgba64>(pixels, pixelCount, plan, records, alpha);
        } else {
            encodeWideLayout<known, PixelLayout::rgb48>(pixels, pixelCount, plan, records, alpha);
        }
    });
}

} // namespace pixfold
