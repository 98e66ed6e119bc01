// The pixel loop for 16-bit samples (maximum values 256 to 65535): the
// double-precision estimate of colour/convert.h, the records stored as the
// portable loop stores them, and the pixels near a code boundary settled by
// the formula itself. Plain loops that compilers vectorise; on x86 compiled
// for AVX2 too.
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

template <OutputFormat format>
PIXFOLD_WIDE_INLINE void encodeWideSpan(const std::uint16_t* samples, std::size_t pixelCount,
                                        const EncodePlan& plan, std::uint8_t* records,
                                        std::uint8_t* alpha) {
    std::int32_t red[spanPixels];
    std::int32_t green[spanPixels];
    std::int32_t blue[spanPixels];
    for (std::size_t i = 0; i < pixelCount; ++i) {
        red[i] = samples[i * 3];
        green[i] = samples[i * 3 + 1];
        blue[i] = samples[i * 3 + 2];
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
        near[i] = static_cast<std::int32_t>(nearWideBoundary(y)) |
                  static_cast<std::int32_t>(nearWideBoundary(cr)) |
                  static_cast<std::int32_t>(nearWideBoundary(cb));
        anyNear |= near[i];
        luma[i] = static_cast<std::int32_t>(y);
        // The formula truncates toward zero: a negative difference rounds up.
        redDifference[i] =
            static_cast<std::int32_t>(cr) + static_cast<std::int32_t>(cr < differenceOffset);
        blueDifference[i] =
            static_cast<std::int32_t>(cb) + static_cast<std::int32_t>(cb < differenceOffset);
    }
    storeSpan<format>(red, green, blue, luma, redDifference, blueDifference, pixelCount, plan.key,
                      records, alpha);
    for (std::size_t i = 0; anyNear != 0 && i < pixelCount; ++i) {
        if (near[i] != 0) {
            const std::uint16_t* sample = samples + i * 3;
            const YCrCbCodes codes =
                convertSamplesInDouble(sample[0], sample[1], sample[2], plan.scale.maxValue);
            storePixel<format>(sample, codes, plan.key, records, alpha, i);
        }
    }
}

template <OutputFormat format>
PIXFOLD_WIDE_INLINE void encodeWide(const std::uint16_t* samples, std::size_t pixelCount,
                                    const EncodePlan& plan, std::uint8_t* records,
                                    std::uint8_t* alpha) {
    for (std::size_t done = 0; done < pixelCount; done += spanPixels) {
        const std::size_t count = std::min(spanPixels, pixelCount - done);
        encodeWideSpan<format>(samples + done * 3, count, plan,
                               records + done * recordBytes(format),
                               alpha == nullptr ? nullptr : alpha + done * 4);
    }
}

template <OutputFormat format>
void encodeWidePortable(const std::uint16_t* samples, std::size_t pixelCount,
                        const EncodePlan& plan, std::uint8_t* records, std::uint8_t* alpha) {
    encodeWide<format>(samples, pixelCount, plan, records, alpha);
}

#if PIXFOLD_HAS_X86_PATHS
// The same loop with four doubles a vector; AVX-512 processors take it too.
template <OutputFormat format>
__attribute__((target("avx2,fma"))) void
encodeWideAvx2(const std::uint16_t* samples, std::size_t pixelCount, const EncodePlan& plan,
               std::uint8_t* records, std::uint8_t* alpha) {
    encodeWide<format>(samples, pixelCount, plan, records, alpha);
}
#endif

} // namespace

void encodeWidePixels(const std::uint16_t* samples, std::size_t pixelCount, const EncodePlan& plan,
                      std::uint8_t* records, std::uint8_t* alpha) {
    withFormat(plan.format, [&](auto format) {
        constexpr OutputFormat known = decltype(format)::value;
#if PIXFOLD_HAS_X86_PATHS
        if (plan.path != Path::portable) {
            encodeWideAvx2<known>(samples, pixelCount, plan, records, alpha);
            return;
        }
#endif
        encodeWidePortable<known>(samples, pixelCount, plan, records, alpha);
    });
}

} // namespace pixfold
