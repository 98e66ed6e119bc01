#include "encode/encoder.h"

#include "format/pack.h"
#include "format/records.h"

#include <algorithm>

#if (defined(__GNUC__) || defined(__clang__)) && (defined(__x86_64__) || defined(__i386__))
#define PIXFOLD_HAS_AVX2_PATH 1
#else
#define PIXFOLD_HAS_AVX2_PATH 0
#endif

namespace pixfold {

namespace {

// Small enough that a span holding a rounding boundary is rare and cheap to redo.
constexpr std::size_t spanPixels = 256;

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

// One pass with the quick conversion, then, only if some pixel sat on a
// rounding boundary, a second pass through convertPixel, which settles those
// pixels with the formula.
template <OutputFormat format>
void encodeSpan(const std::uint8_t* samples, std::size_t pixelCount, const EncodePlan& plan,
                std::uint8_t* records, std::uint8_t* alpha) {
    std::int32_t anyOnBoundary = 0;
    for (std::size_t i = 0; i < pixelCount; ++i) {
        const std::uint8_t* sample = samples + i * 3;
        const QuickCodes quick = convertPixelQuick(sample[0], sample[1], sample[2], plan.scale);
        anyOnBoundary |= quick.onRoundingBoundary;
        storePixel<format>(sample, quick.codes, plan.key, records, alpha, i);
    }
    if (anyOnBoundary == 0) {
        return;
    }
    for (std::size_t i = 0; i < pixelCount; ++i) {
        const std::uint8_t* sample = samples + i * 3;
        const YCrCbCodes codes = convertPixel({sample[0], sample[1], sample[2]}, plan.scale);
        storePixel<format>(sample, codes, plan.key, records, alpha, i);
    }
}

template <OutputFormat format>
inline void encodeAll(const std::uint8_t* samples, std::size_t pixelCount, const EncodePlan& plan,
                      std::uint8_t* records, std::uint8_t* alpha) {
    for (std::size_t done = 0; done < pixelCount; done += spanPixels) {
        const std::size_t count = std::min(spanPixels, pixelCount - done);
        encodeSpan<format>(samples + done * 3, count, plan, records + done * recordBytes(format),
                           alpha == nullptr ? nullptr : alpha + done * 4);
    }
}

#if PIXFOLD_HAS_AVX2_PATH
// flatten compiles everything the loop calls inline, for AVX2, in this body.
template <OutputFormat format>
__attribute__((target("avx2"), flatten)) void
encodeAllAvx2(const std::uint8_t* samples, std::size_t pixelCount, const EncodePlan& plan,
              std::uint8_t* records, std::uint8_t* alpha) {
    encodeAll<format>(samples, pixelCount, plan, records, alpha);
}
#endif

template <OutputFormat format>
void encodeOnPath(const std::uint8_t* samples, std::size_t pixelCount, const EncodePlan& plan,
                  std::uint8_t* records, std::uint8_t* alpha) {
#if PIXFOLD_HAS_AVX2_PATH
    if (plan.path == EncodePath::avx2) {
        encodeAllAvx2<format>(samples, pixelCount, plan, records, alpha);
        return;
    }
#endif
    encodeAll<format>(samples, pixelCount, plan, records, alpha);
}

} // namespace

bool encodePathAvailable(EncodePath path) {
    if (path == EncodePath::portable) {
        return true;
    }
#if PIXFOLD_HAS_AVX2_PATH
    __builtin_cpu_init();
    return static_cast<bool>(__builtin_cpu_supports("avx2"));
#else
    return false;
#endif
}

EncodePath fastestEncodePath() {
    return encodePathAvailable(EncodePath::avx2) ? EncodePath::avx2 : EncodePath::portable;
}

EncodePlan makeEncodePlan(const ConversionSettings& settings, std::int32_t maxValue,
                          EncodePath path) {
    EncodePlan plan;
    plan.format = settings.format;
    plan.path = encodePathAvailable(path) ? path : EncodePath::portable;
    plan.scale = makeConversionScale(maxValue);
    plan.key = makeKeyTest(settings);
    return plan;
}

void encodePixels(const std::uint8_t* samples, std::size_t pixelCount, const EncodePlan& plan,
                  std::uint8_t* records, std::uint8_t* alpha) {
    using Encoder =
        void (*)(const std::uint8_t*, std::size_t, const EncodePlan&, std::uint8_t*, std::uint8_t*);
    // In OutputFormat's order.
    constexpr Encoder encoders[] = {
        encodeOnPath<OutputFormat::e655>, encodeOnPath<OutputFormat::e655Z>,
        encodeOnPath<OutputFormat::e888>, encodeOnPath<OutputFormat::e888Alpha>};
    encoders[static_cast<std::size_t>(plan.format)](samples, pixelCount, plan, records, alpha);
}

} // namespace pixfold
