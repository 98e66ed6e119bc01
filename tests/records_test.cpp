#include "core/types.h"
#include "encode/encoder.h"
#include "format/records.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace pixfold {
namespace {

using Bytes = std::vector<std::uint8_t>;

TEST(ByteOrder, ByteSwapReversesAllFourBytes) {
    EXPECT_EQ(byteSwap32(0x11223344u), 0x44332211u);
    EXPECT_EQ(byteSwap32(0xFF000000u), 0x000000FFu);
    EXPECT_EQ(byteSwap32(byteSwap32(0xDEADBEEFu)), 0xDEADBEEFu);
}

TEST(ByteOrder, StoresAreMostSignificantFirst) {
    Bytes out(4);
    storeBigEndian32(out.data(), 0x51F05B00u);
    EXPECT_EQ(out, (Bytes{0x51, 0xF0, 0x5B, 0x00}));
    storeBigEndian16(out.data(), 0x53CBu);
    EXPECT_EQ(out[0], 0x53);
    EXPECT_EQ(out[1], 0xCB);
}

struct Encoded {
    Bytes records;
    Bytes alpha;
};

Encoded encode(const Bytes& samples, const ConversionSettings& settings) {
    const std::size_t pixels = samples.size() / 3;
    Encoded out{Bytes(pixels * recordBytes(settings.format)), Bytes(pixels * 4)};
    encodePixels(samples.data(), pixels, makeEncodePlan(settings, 255), out.records.data(),
                 writesAlphaStream(settings.format) ? out.alpha.data() : nullptr);
    return out;
}

ConversionSettings withFormat(OutputFormat format) {
    ConversionSettings settings;
    settings.format = format;
    return settings;
}

const Bytes redGreenBlue = {255, 0, 0, 0, 255, 0, 0, 0, 255};

TEST(PlainRecords, E888IsYCrCbAndAZeroByte) {
    EXPECT_EQ(encode(redGreenBlue, withFormat(OutputFormat::e888)).records,
              (Bytes{0x51, 0xF0, 0x5B, 0x00, 0x91, 0x23, 0x37, 0x00, 0x29, 0x6F, 0xF0, 0x00}));
}

TEST(PlainRecords, E655IsTheSixteenBitValueHighByteFirst) {
    EXPECT_EQ(encode(redGreenBlue, withFormat(OutputFormat::e655)).records,
              (Bytes{0x53, 0xCB, 0x90, 0x86, 0x29, 0xBE}));
}

TEST(KeyedRecords, E655ZCarriesTheLowSixteenBitsOfTheKeyValue) {
    ConversionSettings settings = withFormat(OutputFormat::e655Z);
    settings.noMatchValue = 0xABCDEF;
    EXPECT_EQ(encode({0, 0, 0}, settings).records, (Bytes{0x12, 0x10, 0xCD, 0xEF}));
    settings.noMatchValue = 0x1234;
    EXPECT_EQ(encode({0, 0, 0}, settings).records, (Bytes{0x12, 0x10, 0x12, 0x34}));
}

TEST(KeyedRecords, E888AlphaWritesTheE888FileAndTheWholeKeyValue) {
    ConversionSettings settings = withFormat(OutputFormat::e888Alpha);
    settings.keyEnabled = true;
    settings.keyColour = 0xFF00FF;
    settings.matchValue = 0xFF;
    settings.noMatchValue = 0x01020304;
    const Encoded out = encode({255, 0, 255, 255, 0, 0}, settings);
    EXPECT_EQ(out.records, (Bytes{0x6A, 0xDE, 0xCA, 0x00, 0x51, 0xF0, 0x5B, 0x00}));
    EXPECT_EQ(out.alpha, (Bytes{0x00, 0x00, 0x00, 0xFF, 0x01, 0x02, 0x03, 0x04}));
}

TEST(KeyColour, OnlyTheLowTwentyFourBitsAreCompared) {
    ConversionSettings settings = withFormat(OutputFormat::e888Alpha);
    settings.keyEnabled = true;
    settings.keyColour = 0xFF000000u;
    settings.matchValue = 7;
    const Encoded out = encode({0, 0, 0, 0, 0, 1}, settings);
    EXPECT_EQ(out.alpha, (Bytes{0, 0, 0, 7, 0, 0, 0, 0}));
}

TEST(KeyColour, WithoutKeyEveryPixelTakesTheNoMatchValue) {
    ConversionSettings settings = withFormat(OutputFormat::e655Z);
    settings.matchValue = 0x1111;
    settings.noMatchValue = 0x2222;
    // Black would match the default key colour 0 if the test were on.
    const Encoded out = encode({0, 0, 0, 255, 255, 255}, settings);
    EXPECT_EQ(out.records, (Bytes{0x12, 0x10, 0x22, 0x22, 0xEA, 0x10, 0x22, 0x22}));
}

TEST(KeyColour, KeyOptionsDoNotChangePlainFormats) {
    for (OutputFormat format : {OutputFormat::e888, OutputFormat::e655}) {
        ConversionSettings keyed = withFormat(format);
        keyed.keyEnabled = true;
        keyed.keyColour = 0x00FF00;
        keyed.matchValue = 0xFFFFFFFF;
        EXPECT_EQ(encode(redGreenBlue, keyed).records,
                  encode(redGreenBlue, withFormat(format)).records);
    }
}

TEST(PlainRecords, RecordsStayInPixelOrderAcrossSpans) {
    // More pixels than one internal span, with a tie colour late in the run:
    // the rewrite of boundary pixels must land on the right records.
    Bytes samples;
    for (std::size_t i = 0; i < 700; ++i) {
        samples.insert(samples.end(), {static_cast<std::uint8_t>(i), 0, 0});
    }
    constexpr std::size_t tie = 650;
    samples[tie * 3] = 134;
    samples[tie * 3 + 1] = 252;
    samples[tie * 3 + 2] = 215;
    const Encoded out = encode(samples, withFormat(OutputFormat::e888));
    EXPECT_EQ(Bytes(out.records.data() + tie * 4, out.records.data() + (tie + 1) * 4),
              (Bytes{0xC6, 0x50, 0x81, 0x00}));
    EXPECT_EQ(out.records[699 * 4 + 1],
              encode({699 & 0xFF, 0, 0}, withFormat(OutputFormat::e888)).records[1]);
}

} // namespace
} // namespace pixfold
