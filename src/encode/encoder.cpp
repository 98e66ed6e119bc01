#include "encode/encoder.h"

#include "encode/pack.h"
#include "encode/records.h"

#include <algorithm>

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
// rounding boundary, a second pass that rewrites just those pixels.
template <OutputFormat format>
void encodeSpan(const std::uint8_t* samples, std::size_t pixelCount, const EncodePlan& plan,
                std::uint8_t* records, std::uint8_t* alpha) {
    bool anyOnBoundary = false;
    for (std::size_t i = 0; i < pixelCount; ++i) {
        const std::uint8_t* sample = samples + i * 3;
        const QuickCodes quick = convertPixelQuick(sample[0], sample[1], sample[2], plan.scale);
        anyOnBoundary |= quick.onRoundingBoundary;
        storePixel<format>(sample, quick.codes, plan.key, records, alpha, i);
    }
    if (!anyOnBoundary) {
        return;
    }
    for (std::size_t i = 0; i < pixelCount; ++i) {
        const std::uint8_t* sample = samples + i * 3;
        const RgbPixel pixel{sample[0], sample[1], sample[2]};
        if (convertPixelQuick(pixel.r, pixel.g, pixel.b, plan.scale).onRoundingBoundary) {
            const YCrCbCodes codes = convertPixelInDouble(pixel, plan.scale.maxValue);
            storePixel<format>(sample, codes, plan.key, records, alpha, i);
        }
    }
}

template <OutputFormat format>
void encodeAll(const std::uint8_t* samples, std::size_t pixelCount, const EncodePlan& plan,
               std::uint8_t* records, std::uint8_t* alpha) {
    for (std::size_t done = 0; done < pixelCount; done += spanPixels) {
        const std::size_t count = std::min(spanPixels, pixelCount - done);
        encodeSpan<format>(samples + done * 3, count, plan, records + done * recordBytes(format),
                           alpha == nullptr ? nullptr : alpha + done * 4);
    }
}

} // namespace

EncodePlan makeEncodePlan(const ConversionSettings& settings, std::int32_t maxValue) {
    EncodePlan plan;
    plan.format = settings.format;
    plan.scale = makeConversionScale(maxValue);
    plan.key = makeKeyTest(settings);
    return plan;
}

void encodePixels(const std::uint8_t* samples, std::size_t pixelCount, const EncodePlan& plan,
                  std::uint8_t* records, std::uint8_t* alpha) {
    switch (plan.format) {
    case OutputFormat::e655:
        encodeAll<OutputFormat::e655>(samples, pixelCount, plan, records, alpha);
        break;
    case OutputFormat::e655Z:
        encodeAll<OutputFormat::e655Z>(samples, pixelCount, plan, records, alpha);
        break;
    case OutputFormat::e888:
        encodeAll<OutputFormat::e888>(samples, pixelCount, plan, records, alpha);
        break;
    case OutputFormat::e888Alpha:
        encodeAll<OutputFormat::e888Alpha>(samples, pixelCount, plan, records, alpha);
        break;
    }
}

} // namespace pixfold
