// pixfold's records decoded back to RGB, in process: how far each colour
// moves, and how greys and e655's dropped bits come back.
#include "colour/inverse.h"
#include "encode/encoder.h"
#include "format/pack.h"
#include "format/records.h"
#include "support/known_colours.h"
#include "support/sampling.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

namespace pixfold {
namespace {

using namespace testing_support;

int largestRoundTripError(OutputFormat format) {
    ConversionSettings settings;
    settings.format = format;
    const EncodePlan plan = makeEncodePlan(settings, 255);
    const std::size_t recordSize = recordBytes(format);
    std::vector<std::uint8_t> samples(std::size_t{256} * 3);
    std::vector<std::uint8_t> records(256 * recordSize);
    int largest = 0;
    for (int r = 0; r < 256; r += sampleStride()) {
        for (int g = 0; g < 256; ++g) {
            for (std::size_t b = 0; b < 256; ++b) {
                samples[b * 3] = static_cast<std::uint8_t>(r);
                samples[b * 3 + 1] = static_cast<std::uint8_t>(g);
                samples[b * 3 + 2] = static_cast<std::uint8_t>(b);
            }
            encodePixels(samples.data(), 256, plan, records.data(), nullptr);
            for (std::size_t b = 0; b < 256; ++b) {
                const RecordContents contents = readRecord(&records[b * recordSize], format);
                const RgbPixel back = codesToRgb(unpackWord(contents.word, format));
                largest = std::max({largest, std::abs(back.r - r), std::abs(back.g - g),
                                    std::abs(back.b - static_cast<int>(b))});
            }
        }
    }
    return largest;
}

TEST(RoundTrip, EveryColourComesBackWithinTheToleranceOfItsFormat) {
    const int e888Error = largestRoundTripError(OutputFormat::e888);
    const int e655Error = largestRoundTripError(OutputFormat::e655);
    RecordProperty("e888_largest_error", e888Error);
    RecordProperty("e655_largest_error", e655Error);
    std::printf("largest round-trip error per sample: e888 %d, e655 %d\n", e888Error, e655Error);
    EXPECT_LE(e888Error, e888Tolerance);
    EXPECT_LE(e655Error, e655Tolerance);
}

TEST(RoundTrip, GreysComeBackGreyAndWithinOne) {
    for (int v = 0; v < 256; ++v) {
        const auto sample = static_cast<std::uint8_t>(v);
        const RgbPixel back =
            codesToRgb(convertPixel({sample, sample, sample}, makeConversionScale(255)));
        EXPECT_EQ(back.r, back.g) << v;
        EXPECT_EQ(back.g, back.b) << v;
        EXPECT_LE(std::abs(back.r - v), 1) << v;
    }
}

TEST(RoundTrip, E655FillsDroppedBitsWithTheMiddleOfTheirRange) {
    const YCrCbCodes codes = unpackWord(0xEA100000u, OutputFormat::e655); // white
    EXPECT_EQ(codes.y, 234);
    EXPECT_EQ(codes.cr, 132);
    EXPECT_EQ(codes.cb, 132);
}

} // namespace
} // namespace pixfold
