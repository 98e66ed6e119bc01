#include "ppm/ppm_reader.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <ostream>
#include <string>
#include <vector>

namespace pixfold {
namespace {

InputStream streamOf(const std::string& bytes) {
    return memoryInput(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
}

struct HeaderCase {
    const char* name;
    std::string bytes;
    ErrorCode expected;
};

void PrintTo(const HeaderCase& c, std::ostream* out) {
    *out << c.name;
}

class MalformedHeader : public testing::TestWithParam<HeaderCase> {};

TEST_P(MalformedHeader, IsRejectedWithItsMessage) {
    InputStream file = streamOf(GetParam().bytes);
    PpmHeader header;
    EXPECT_EQ(readPpmHeader(file, header), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Headers, MalformedHeader,
    testing::Values(
        HeaderCase{"Empty", "", ErrorCode::wrongInputFormat},
        HeaderCase{"MagicOnly", "P6", ErrorCode::wrongInputFormat},
        HeaderCase{"AsciiPpm", "P3\n2 1\n255\n", ErrorCode::wrongInputFormat},
        HeaderCase{"MagicNotAtStart", "xP6\n2 1\n255\n", ErrorCode::wrongInputFormat},
        HeaderCase{"NoSeparatorAfterMagic", "P62 1 255\n", ErrorCode::wrongInputFormat},
        HeaderCase{"MissingMaximum", "P6\n2 1\n", ErrorCode::wrongInputFormat},
        HeaderCase{"NegativeWidth", "P6\n-2 1\n255\n", ErrorCode::wrongInputFormat},
        HeaderCase{"PlusSign", "P6\n+2 1\n255\n", ErrorCode::wrongInputFormat},
        HeaderCase{"NonNumericHeight", "P6\n2 x\n255\n", ErrorCode::wrongInputFormat},
        HeaderCase{"WidthAboveInt32", "P6\n2147483648 1\n255\n", ErrorCode::wrongInputFormat},
        HeaderCase{"HugeMaximum", "P6\n2 1\n99999999999\n", ErrorCode::wrongInputFormat},
        HeaderCase{"MaximumZero", "P6\n2 1\n0\n", ErrorCode::wrongInputFormat},
        HeaderCase{"Maximum256", "P6\n2 1\n256\n", ErrorCode::only8Bit},
        HeaderCase{"SixteenBit", "P6\n2 1\n65535\n", ErrorCode::only8Bit},
        HeaderCase{"NothingAfterMaximum", "P6\n2 1\n255", ErrorCode::wrongInputFormat},
        HeaderCase{"CommentRightAfterMaximum", "P6\n2 1\n255#c\n", ErrorCode::wrongInputFormat},
        HeaderCase{"UnterminatedComment", "P6\n# no end", ErrorCode::wrongInputFormat}),
    [](const testing::TestParamInfo<HeaderCase>& param) { return param.param.name; });

struct GoodCase {
    const char* name;
    std::string bytes;
    PpmHeader expected;
};

void PrintTo(const GoodCase& c, std::ostream* out) {
    *out << c.name;
}

class WellFormedHeader : public testing::TestWithParam<GoodCase> {};

// The byte after the header must be the first sample: '!' marks it.
TEST_P(WellFormedHeader, IsReadAndLeavesTheStreamAtTheRaster) {
    InputStream file = streamOf(GetParam().bytes + "!");
    PpmHeader header;
    ASSERT_EQ(readPpmHeader(file, header), ErrorCode::none);
    EXPECT_EQ(header.width, GetParam().expected.width);
    EXPECT_EQ(header.height, GetParam().expected.height);
    EXPECT_EQ(header.maxValue, GetParam().expected.maxValue);
    EXPECT_EQ(readByte(file), '!');
}

INSTANTIATE_TEST_SUITE_P(
    Headers, WellFormedHeader,
    testing::Values(
        GoodCase{"Common", "P6\n640 480\n255\n", {640, 480, 255}},
        GoodCase{"OneComment", "P6\n# made by hand\n2 1\n255\n", {2, 1, 255}},
        GoodCase{"SeveralComments", "P6\n#a\n#b\n2\n#c\n1\n# d\n255\n", {2, 1, 255}},
        GoodCase{"OneLine", "P6 2 1 255 ", {2, 1, 255}},
        GoodCase{"CommentAgainstNumber", "P6 2#c\n1#d\n15\t", {2, 1, 15}},
        GoodCase{"CrLfLines", "P6\r\n2\r\n1\r\n255\r", {2, 1, 255}},
        GoodCase{"LeadingZeros", "P6 0002 01 0255\n", {2, 1, 255}},
        GoodCase{"LargestDimensions", "P6 2147483647 2147483647 1\n", {2147483647, 2147483647, 1}},
        GoodCase{"ZeroSize", "P6 0 0 255\n", {0, 0, 255}}),
    [](const testing::TestParamInfo<GoodCase>& param) { return param.param.name; });

TEST(Header, CrLfAfterMaximumMakesLfTheFirstSample) {
    InputStream file = streamOf("P6\n1 1\n255\r\nAB");
    PpmHeader header;
    ASSERT_EQ(readPpmHeader(file, header), ErrorCode::none);
    std::uint8_t samples[3] = {};
    const PixelBlock block = readPixels(file, samples, 1, header.maxValue);
    EXPECT_EQ(block.pixels, 1u);
    EXPECT_EQ(samples[0], '\n');
    EXPECT_EQ(samples[1], 'A');
}

TEST(Header, ReadErrorIsNotAFormatError) {
    InputStream directory;
    if (!succeeded(openInput(".", directory))) {
        GTEST_SKIP() << "this platform does not open directories as files";
    }
    PpmHeader header;
    EXPECT_EQ(readPpmHeader(directory, header), ErrorCode::cantReadInput);
    closeInput(directory);
}

TEST(Pixels, ShortRasterStopsAtTheLastWholePixel) {
    InputStream file = streamOf(std::string("\1\2\3\4\5\6\7\10", 8));
    std::uint8_t samples[9] = {};
    const PixelBlock block = readPixels(file, samples, 3, 255);
    EXPECT_EQ(block.pixels, 2u);
    EXPECT_EQ(block.error, ErrorCode::truncatedInput);
}

TEST(Pixels, NothingAfterTheRequestedPixelsIsRead) {
    InputStream file = streamOf("abcdefXYZ");
    std::uint8_t samples[6] = {};
    const PixelBlock block = readPixels(file, samples, 2, 255);
    EXPECT_EQ(block.pixels, 2u);
    EXPECT_EQ(block.error, ErrorCode::none);
    EXPECT_EQ(readByte(file), 'X');
}

TEST(Pixels, SampleAboveMaximumStopsBeforeItsPixel) {
    InputStream file = streamOf(std::string("\1\2\3\4\20\6\7\10\11", 9));
    std::uint8_t samples[9] = {};
    const PixelBlock block = readPixels(file, samples, 3, 15);
    EXPECT_EQ(block.pixels, 1u);
    EXPECT_EQ(block.error, ErrorCode::sampleExceedsMax);
}

// Reads one pixel of a stream and looks for the image after it.
bool anotherImageAfterOnePixel(InputStream& file) {
    std::uint8_t samples[3] = {};
    EXPECT_EQ(readPixels(file, samples, 1, 255).pixels, 1u);
    bool found = false;
    EXPECT_EQ(findNextImage(file, found), ErrorCode::none);
    return found;
}

TEST(NextImage, WhitespaceBetweenImagesIsSkippedAndTheEndFound) {
    InputStream file = streamOf("abc \n\t P6 1 1 255\nxyz\n\n");
    ASSERT_TRUE(anotherImageAfterOnePixel(file));
    PpmHeader header;
    ASSERT_EQ(readPpmHeader(file, header), ErrorCode::none);
    std::uint8_t samples[3] = {};
    ASSERT_EQ(readPixels(file, samples, 1, 255).pixels, 1u);
    EXPECT_EQ(samples[0], 'x');
    bool found = true;
    ASSERT_EQ(findNextImage(file, found), ErrorCode::none);
    EXPECT_FALSE(found);
}

TEST(NextImage, AnythingButWhitespaceAfterAnImageIsAnotherHeader) {
    InputStream file = streamOf("abc#P6 1 1 255\n");
    ASSERT_TRUE(anotherImageAfterOnePixel(file));
    PpmHeader header;
    EXPECT_EQ(readPpmHeader(file, header), ErrorCode::wrongInputFormat);
}

TEST(Pixels, SampleEqualToMaximumIsAccepted) {
    InputStream file = streamOf(std::string("\17\17\17", 3));
    std::uint8_t samples[3] = {};
    const PixelBlock block = readPixels(file, samples, 1, 15);
    EXPECT_EQ(block.pixels, 1u);
    EXPECT_EQ(block.error, ErrorCode::none);
}

} // namespace
} // namespace pixfold
