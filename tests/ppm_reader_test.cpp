#include "files.h"
#include "netpbm/ppm_reader.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <ostream>
#include <string>
#include <vector>

namespace pixfold {
namespace {

using Bytes = std::vector<std::uint8_t>;
using namespace std::string_literals;

// A block read as these tests look at it: the pixels and the failure's code.
struct PixelBlock {
    std::size_t pixels = 0;
    Status error = Status::ok;
};

// A P6 raster of the maximum value, count pixels into samples.
PixelBlock readPixels(InputStream& input, std::uint8_t* samples, std::size_t count,
                      std::int32_t maxValue) {
    RasterReader raster;
    raster.header.width = raster.header.height = 1 << 20;
    raster.header.maxValue = maxValue;
    std::vector<std::uint8_t> room(count * 8);
    std::uint8_t opacity = 0;
    PixelBlock block;
    block.error = pixfold::readRaster(input, raster, room.data(), &opacity, count, block.pixels);
    std::copy(room.begin(), room.begin() + static_cast<long>(block.pixels * 3), samples);
    return block;
}

PixelBlock readRaster(InputStream& input, RasterReader& raster, std::uint8_t* samples,
                      std::uint8_t* opacity, std::size_t count) {
    PixelBlock block;
    block.error = pixfold::readRaster(input, raster, samples, opacity, count, block.pixels);
    return block;
}

InputStream streamOf(const std::string& bytes) {
    return memoryInput(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
}

struct HeaderCase {
    const char* name;
    std::string bytes;
    Status expected;
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
        HeaderCase{"Empty", "", Status::wrongInputFormat},
        HeaderCase{"MagicOnly", "P6", Status::wrongInputFormat},
        HeaderCase{"UnknownType", "P8\n2 1\n255\n", Status::wrongInputFormat},
        HeaderCase{"TypeZero", "P0\n2 1\n255\n", Status::wrongInputFormat},
        HeaderCase{"GreyAbove16Bit", "P5 2 1 65536\n", Status::maxValueTooLarge},
        HeaderCase{"PlainAbove16Bit", "P2 2 1 70000\n", Status::maxValueTooLarge},
        HeaderCase{"PlainJunkAfterMaximum", "P3 2 1 255x", Status::wrongInputFormat},
        HeaderCase{"BitmapNoWhitespaceBeforeRaster", "P4 8 1#", Status::wrongInputFormat},
        HeaderCase{"PamAsPnm", "P7 2 1 255\n", Status::wrongInputFormat},
        HeaderCase{"PamDepthNotTheTuple",
                   "P7\nWIDTH 1\nHEIGHT 1\nDEPTH 3\nMAXVAL 255\nTUPLTYPE RGB_ALPHA\nENDHDR\n",
                   Status::wrongInputFormat},
        HeaderCase{"PamUnknownTuple",
                   "P7\nWIDTH 1\nHEIGHT 1\nDEPTH 3\nMAXVAL 255\nTUPLTYPE CMYK\nENDHDR\n",
                   Status::wrongInputFormat},
        HeaderCase{"PamDepthFiveUntyped", "P7\nWIDTH 1\nHEIGHT 1\nDEPTH 5\nMAXVAL 255\nENDHDR\n",
                   Status::wrongInputFormat},
        HeaderCase{"PamNoMaximum", "P7\nWIDTH 1\nHEIGHT 1\nDEPTH 3\nENDHDR\n",
                   Status::wrongInputFormat},
        HeaderCase{"PamUnknownKeyword", "P7\nWIDTH 1\nHEIGHT 1\nDEPTH 3\nMAXVAL 9\nX 1\nENDHDR\n",
                   Status::wrongInputFormat},
        HeaderCase{"PamJunkAfterValue", "P7\nWIDTH 1 2\nHEIGHT 1\nDEPTH 3\nMAXVAL 9\nENDHDR\n",
                   Status::wrongInputFormat},
        HeaderCase{"PamNoEnd", "P7\nWIDTH 1\nHEIGHT 1\nDEPTH 3\nMAXVAL 9\n",
                   Status::wrongInputFormat},
        HeaderCase{"PamAbove16Bit", "P7\nWIDTH 1\nHEIGHT 1\nDEPTH 1\nMAXVAL 65536\nENDHDR\n",
                   Status::maxValueTooLarge},
        HeaderCase{"PamCrDoesNotEndAComment",
                   "P7\n# note\rWIDTH 1\nHEIGHT 1\nDEPTH 1\nMAXVAL 9\nENDHDR\n",
                   Status::wrongInputFormat},
        HeaderCase{"MagicNotAtStart", "xP6\n2 1\n255\n", Status::wrongInputFormat},
        HeaderCase{"NoSeparatorAfterMagic", "P62 1 255\n", Status::wrongInputFormat},
        HeaderCase{"MissingMaximum", "P6\n2 1\n", Status::wrongInputFormat},
        HeaderCase{"NegativeWidth", "P6\n-2 1\n255\n", Status::wrongInputFormat},
        HeaderCase{"PlusSign", "P6\n+2 1\n255\n", Status::wrongInputFormat},
        HeaderCase{"NonNumericHeight", "P6\n2 x\n255\n", Status::wrongInputFormat},
        HeaderCase{"WidthAboveInt32", "P6\n2147483648 1\n255\n", Status::wrongInputFormat},
        HeaderCase{"HugeMaximum", "P6\n2 1\n99999999999\n", Status::wrongInputFormat},
        HeaderCase{"MaximumZero", "P6\n2 1\n0\n", Status::wrongInputFormat},
        HeaderCase{"Above16Bit", "P6\n2 1\n65536\n", Status::maxValueTooLarge},
        HeaderCase{"NothingAfterMaximum", "P6\n2 1\n255", Status::wrongInputFormat},
        HeaderCase{"CommentRightAfterMaximum", "P6\n2 1\n255#c\n", Status::wrongInputFormat},
        HeaderCase{"UnterminatedComment", "P6\n# no end", Status::wrongInputFormat}),
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
    ASSERT_EQ(readPpmHeader(file, header), Status::ok);
    EXPECT_EQ(header.width, GetParam().expected.width);
    EXPECT_EQ(header.height, GetParam().expected.height);
    EXPECT_EQ(header.maxValue, GetParam().expected.maxValue);
    EXPECT_EQ(header.kind, GetParam().expected.kind);
    EXPECT_EQ(header.samplesPerPixel, GetParam().expected.samplesPerPixel);
    EXPECT_EQ(header.hasOpacity, GetParam().expected.hasOpacity);
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
        GoodCase{"CommentEndedByCrAlone", "P6\n#c\r2 1\n255\n", {2, 1, 255}},
        GoodCase{"LeadingZeros", "P6 0002 01 0255\n", {2, 1, 255}},
        GoodCase{"LargestDimensions", "P6 2147483647 2147483647 1\n", {2147483647, 2147483647, 1}},
        GoodCase{"ZeroSize", "P6 0 0 255\n", {0, 0, 255}},
        GoodCase{"PlainBitmap", "P1\n3 2\n", {3, 2, 1, RasterKind::plainBitmap, 1}},
        GoodCase{"Bitmap", "P4 8 1\n", {8, 1, 1, RasterKind::bitmap, 1}},
        GoodCase{"Grey", "P5 2 1 15\n", {2, 1, 15, RasterKind::binary, 1}},
        GoodCase{"PlainGrey", "P2 2 1 15\n", {2, 1, 15, RasterKind::plainGrey, 1}},
        GoodCase{"PlainCommentAfterMaximum", "P3 2 1 9#c\n", {2, 1, 9, RasterKind::plainColour}},
        GoodCase{"PamCommentsBlankLinesCrLf",
                 "P7\r\n# made by hand\r\nWIDTH 2\n\n  HEIGHT\t1 \nDEPTH 2\nMAXVAL 15\n"
                 "TUPLTYPE GRAYSCALE_ALPHA \nENDHDR\r\n",
                 {2, 1, 15, RasterKind::binary, 2, true}},
        GoodCase{"PamUntypedDepthFour",
                 "P7\nWIDTH 1\nHEIGHT 3\nDEPTH 4\nMAXVAL 255\nENDHDR\n",
                 {1, 3, 255, RasterKind::binary, 4, true}},
        GoodCase{"PamUntypedDepthTwo",
                 "P7\nWIDTH 1\nHEIGHT 3\nDEPTH 2\nMAXVAL 255\nENDHDR\n",
                 {1, 3, 255, RasterKind::binary, 2, true}},
        GoodCase{"PamBlackAndWhite",
                 "P7\nMAXVAL 1\nDEPTH 1\nHEIGHT 3\nWIDTH 1\nTUPLTYPE BLACKANDWHITE\nENDHDR\n",
                 {1, 3, 1, RasterKind::binary, 1, false}}),
    [](const testing::TestParamInfo<GoodCase>& param) { return param.param.name; });

TEST(Header, CrLfAfterMaximumMakesLfTheFirstSample) {
    InputStream file = streamOf("P6\n1 1\n255\r\nAB");
    PpmHeader header;
    ASSERT_EQ(readPpmHeader(file, header), Status::ok);
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
    EXPECT_EQ(readPpmHeader(directory, header), Status::cantRead);
    closeInput(directory);
}

TEST(Pixels, ShortRasterStopsAtTheLastWholePixel) {
    InputStream file = streamOf(std::string("\1\2\3\4\5\6\7\10", 8));
    std::uint8_t samples[9] = {};
    const PixelBlock block = readPixels(file, samples, 3, 255);
    EXPECT_EQ(block.pixels, 2u);
    EXPECT_EQ(block.error, Status::truncated);
}

TEST(Pixels, NothingAfterTheRequestedPixelsIsRead) {
    InputStream file = streamOf("abcdefXYZ");
    std::uint8_t samples[6] = {};
    const PixelBlock block = readPixels(file, samples, 2, 255);
    EXPECT_EQ(block.pixels, 2u);
    EXPECT_EQ(block.error, Status::ok);
    EXPECT_EQ(readByte(file), 'X');
}

TEST(Pixels, SampleAboveMaximumStopsBeforeItsPixel) {
    InputStream file = streamOf(std::string("\1\2\3\4\20\6\7\10\11", 9));
    std::uint8_t samples[9] = {};
    const PixelBlock block = readPixels(file, samples, 3, 15);
    EXPECT_EQ(block.pixels, 1u);
    EXPECT_EQ(block.error, Status::sampleExceedsMax);
}

// In every binary type and sample width, a sample equal to the maximum value
// passes and one above it stops the read before its pixel.
TEST(Pixels, OneAboveTheMaximumIsRefusedInEveryBinaryType) {
    const auto pam = [](int depth, const char* type, int maxValue) {
        return "P7\nWIDTH 2\nHEIGHT 1\nDEPTH " + std::to_string(depth) + "\nMAXVAL " +
               std::to_string(maxValue) + "\nTUPLTYPE " + type + "\nENDHDR\n";
    };
    struct Case {
        std::string header;
        std::string raster; // the first pixel at the maximum, the second with a sample above
    };
    const Case cases[] = {
        {"P5 2 1 254\n", "\xfe\xff"},
        {"P6 2 1 254\n", "\xfe\xfe\xfe\xfe\xff\xfe"},
        {pam(4, "RGB_ALPHA", 254), std::string("\xfe\xfe\xfe\xfe\0\0\0\xff", 8)},
        {pam(2, "GRAYSCALE_ALPHA", 15), "\x0f\x0f\x10\x0f"},
        {"P5 2 1 1000\n", std::string("\x03\xe8\x03\xe9", 4)},
        {"P6 2 1 65534\n", std::string("\xff\xfe\xff\xfe\xff\xfe\0\0\xff\xff\0\0", 12)},
        {pam(2, "GRAYSCALE_ALPHA", 1000), std::string("\x03\xe8\x03\xe8\0\0\x03\xe9", 8)},
    };
    for (const Case& c : cases) {
        InputStream file = streamOf(c.header + c.raster);
        RasterReader raster;
        ASSERT_EQ(readPpmHeader(file, raster.header), Status::ok) << c.header;
        std::vector<std::uint16_t> room(8);
        std::uint8_t opacity[2] = {};
        const PixelBlock block =
            readRaster(file, raster, reinterpret_cast<std::uint8_t*>(room.data()), opacity, 2);
        EXPECT_EQ(block.pixels, 1u) << c.header;
        EXPECT_EQ(block.error, Status::sampleExceedsMax) << c.header;
    }
}

// 16-bit samples are checked a block of 4096 at a time: one above the
// maximum stops the read before its pixel wherever it lies in a block.
TEST(Pixels, OneAboveTheMaximumDeepInASixteenBitRaster) {
    constexpr std::size_t pixels = 4000; // 12,000 samples: three blocks
    for (const std::size_t above : {std::size_t{0}, std::size_t{4095}, std::size_t{4096},
                                    std::size_t{9001}, pixels * 3 - 1}) {
        std::string raster;
        for (std::size_t i = 0; i < pixels * 3; ++i) {
            const std::size_t sample = i == above ? 4096 : i * 7 % 4096;
            raster += static_cast<char>(sample >> 8);
            raster += static_cast<char>(sample & 0xFF);
        }
        InputStream file = streamOf("P6 4000 1 4095\n" + raster);
        RasterReader reader;
        ASSERT_EQ(readPpmHeader(file, reader.header), Status::ok);
        std::vector<std::uint16_t> room(pixels * 4);
        std::vector<std::uint8_t> opacity(pixels);
        const PixelBlock block = readRaster(
            file, reader, reinterpret_cast<std::uint8_t*>(room.data()), opacity.data(), pixels);
        EXPECT_EQ(block.pixels, above / 3) << above;
        EXPECT_EQ(block.error, Status::sampleExceedsMax) << above;
    }
}

// Reads one pixel of a stream and looks for the image after it.
bool anotherImageAfterOnePixel(InputStream& file) {
    std::uint8_t samples[3] = {};
    EXPECT_EQ(readPixels(file, samples, 1, 255).pixels, 1u);
    bool found = false;
    EXPECT_EQ(findNextImage(file, found), Status::ok);
    return found;
}

TEST(NextImage, WhitespaceBetweenImagesIsSkippedAndTheEndFound) {
    InputStream file = streamOf("abc \n\t P6 1 1 255\nxyz\n\n");
    ASSERT_TRUE(anotherImageAfterOnePixel(file));
    PpmHeader header;
    ASSERT_EQ(readPpmHeader(file, header), Status::ok);
    std::uint8_t samples[3] = {};
    ASSERT_EQ(readPixels(file, samples, 1, 255).pixels, 1u);
    EXPECT_EQ(samples[0], 'x');
    bool found = true;
    ASSERT_EQ(findNextImage(file, found), Status::ok);
    EXPECT_FALSE(found);
}

TEST(NextImage, AnythingButWhitespaceAfterAnImageIsAnotherHeader) {
    InputStream file = streamOf("abc#P6 1 1 255\n");
    ASSERT_TRUE(anotherImageAfterOnePixel(file));
    PpmHeader header;
    EXPECT_EQ(readPpmHeader(file, header), Status::wrongInputFormat);
}

TEST(Pixels, SampleEqualToMaximumIsAccepted) {
    InputStream file = streamOf(std::string("\17\17\17", 3));
    std::uint8_t samples[3] = {};
    const PixelBlock block = readPixels(file, samples, 1, 15);
    EXPECT_EQ(block.pixels, 1u);
    EXPECT_EQ(block.error, Status::ok);
}

// A whole image through readRaster, 37 pixels a call: a bitmap's row and byte
// carry over between calls, and SSSE3's 4, 8 and 16 pixels a step leave a
// tail to the plain loop. Its samples, opacity and error.
struct ReadImage {
    Bytes samples;
    Bytes opacity;
    Status error = Status::ok;
};

ReadImage readImage(const std::string& bytes) {
    InputStream file = streamOf(bytes);
    RasterReader raster;
    ReadImage image;
    image.error = readPpmHeader(file, raster.header);
    std::uint64_t remaining = pixelCount(raster.header.width, raster.header.height);
    while (image.error == Status::ok && remaining > 0) {
        const std::size_t wanted = remaining < 37 ? static_cast<std::size_t>(remaining) : 37;
        std::uint8_t samples[37 * 4] = {};
        std::uint8_t opacity[37] = {};
        const PixelBlock block = readRaster(file, raster, samples, opacity, wanted);
        image.samples.insert(image.samples.end(), samples, samples + block.pixels * 3);
        if (raster.header.hasOpacity) {
            image.opacity.insert(image.opacity.end(), opacity, opacity + block.pixels);
        }
        image.error = block.error;
        remaining -= block.pixels;
    }
    return image;
}

std::string p6Of(int width, int height, int maxValue, const std::string& rgb) {
    return "P6 " + std::to_string(width) + " " + std::to_string(height) + " " +
           std::to_string(maxValue) + "\n" + rgb;
}

// Pixels, as one grey or RGB value and an alpha, written as each type would.
struct Pixel {
    int red, green, blue, alpha;
};

// 10 x 8 pixels of maximum value 15, every third one transparent.
std::vector<Pixel> makePixels(bool grey) {
    std::vector<Pixel> pixels;
    for (int i = 0; i < 80; ++i) {
        const int red = (i * 7) % 16;
        pixels.push_back({red, grey ? red : (i * 5) % 16, grey ? red : (i * 11) % 16,
                          i % 3 == 0 ? 0 : (i * 13) % 16});
    }
    return pixels;
}

const std::vector<Pixel> greyPixels = makePixels(true);
const std::vector<Pixel> colourPixels = makePixels(false);

std::string rgbOf(const std::vector<Pixel>& pixels) {
    std::string rgb;
    for (const Pixel& p : pixels) {
        rgb += {char(p.red), char(p.green), char(p.blue)};
    }
    return rgb;
}

std::string rasterOf(const std::vector<Pixel>& pixels, int depth) {
    std::string raster;
    for (const Pixel& p : pixels) {
        const std::string rgb = {char(p.red), char(p.green), char(p.blue)};
        raster += depth <= 2 ? rgb.substr(0, 1) : rgb;
        raster += depth == 2 || depth == 4 ? std::string(1, char(p.alpha)) : "";
    }
    return raster;
}

std::string pamOf(const std::vector<Pixel>& pixels, const std::string& tuple, int depth) {
    return "P7\nWIDTH 10\nHEIGHT 8\nDEPTH " + std::to_string(depth) + "\nMAXVAL 15\n" +
           (tuple.empty() ? "" : "TUPLTYPE " + tuple + "\n") + "ENDHDR\n" + rasterOf(pixels, depth);
}

std::string plainOf(const std::vector<Pixel>& pixels, const std::string& header, bool grey) {
    std::string image = header;
    for (const Pixel& p : pixels) {
        image += std::to_string(p.red) +
                 (grey ? "\n"
                       : " " + std::to_string(p.green) + " # c\n" + std::to_string(p.blue) + "\t");
    }
    return image;
}

struct EquivalentCase {
    const char* name;
    std::string bytes;
    std::string p6; // the same pixels as a P6 image
    Bytes opacity;  // the alpha samples, for types that have them
};

void PrintTo(const EquivalentCase& c, std::ostream* out) {
    *out << c.name;
}

class EveryType : public testing::TestWithParam<EquivalentCase> {};

TEST_P(EveryType, GivesTheSamplesOfItsP6Equivalent) {
    const ReadImage image = readImage(GetParam().bytes);
    const ReadImage p6 = readImage(GetParam().p6);
    ASSERT_EQ(image.error, Status::ok);
    ASSERT_EQ(p6.error, Status::ok);
    EXPECT_EQ(image.samples, p6.samples);
    EXPECT_EQ(image.opacity, GetParam().opacity);
}

Bytes alphasOf(const std::vector<Pixel>& pixels) {
    Bytes alphas;
    for (const Pixel& p : pixels) {
        alphas.push_back(static_cast<std::uint8_t>(p.alpha));
    }
    return alphas;
}

const Bytes alphas = alphasOf(colourPixels);
const std::string greyP6 = p6Of(10, 8, 15, rgbOf(greyPixels));
const std::string colourP6 = p6Of(10, 8, 15, rgbOf(colourPixels));

// A bitmap's rows as '1' for black and '0' for white, as a P6 image.
std::string bitmapAsP6(int width, const std::string& bits) {
    std::string rgb;
    for (const char bit : bits) {
        rgb += std::string(3, bit == '1' ? '\0' : '\1');
    }
    return p6Of(width, static_cast<int>(bits.size()) / width, 1, rgb);
}

const std::string bitmapP6 = bitmapAsP6(10, "1100000001"
                                            "0011111110");

INSTANTIATE_TEST_SUITE_P(
    Types, EveryType,
    testing::Values(
        EquivalentCase{"Grey", "P5 10 8 15\n" + rasterOf(greyPixels, 1), greyP6, {}},
        EquivalentCase{"PlainGrey", plainOf(greyPixels, "P2 10 8 15\n", true), greyP6, {}},
        EquivalentCase{"PlainColour", plainOf(colourPixels, "P3\n10 8\n15\n", false), colourP6, {}},
        // A comment may follow a sample with no space between them.
        EquivalentCase{"PlainCommentsAgainstSamples",
                       "P2 3 1 15\n1#a\n2 3#b",
                       p6Of(3, 1, 15, "\1\1\1\2\2\2\3\3\3"),
                       {}},
        EquivalentCase{"PamRgb", pamOf(colourPixels, "RGB", 3), colourP6, {}},
        EquivalentCase{"PamRgbAlpha", pamOf(colourPixels, "RGB_ALPHA", 4), colourP6, alphas},
        EquivalentCase{"PamUntypedFour", pamOf(colourPixels, "", 4), colourP6, alphas},
        EquivalentCase{"PamGrey", pamOf(greyPixels, "GRAYSCALE", 1), greyP6, {}},
        EquivalentCase{"PamGreyAlpha", pamOf(greyPixels, "GRAYSCALE_ALPHA", 2), greyP6, alphas},
        EquivalentCase{
            "PlainBitmap", "P1\n10 2\n1 1 0 0 0 0 0 0 0 1\n# c\n0011111110", bitmapP6, {}},
        // The padding bits of each row's last byte are set: they are not pixels.
        EquivalentCase{"Bitmap", "P4\n10 2\n\xC0\x7F\x3F\xBF", bitmapP6, {}}),
    [](const testing::TestParamInfo<EquivalentCase>& param) { return param.param.name; });

struct RasterCase {
    const char* name;
    std::string bytes;
    std::size_t pixels; // whole pixels read before the failure
    Status expected;
};

void PrintTo(const RasterCase& c, std::ostream* out) {
    *out << c.name;
}

class BadRaster : public testing::TestWithParam<RasterCase> {};

TEST_P(BadRaster, StopsBeforeTheBadPixel) {
    const ReadImage image = readImage(GetParam().bytes);
    EXPECT_EQ(image.samples.size(), GetParam().pixels * 3);
    EXPECT_EQ(image.error, GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Rasters, BadRaster,
    testing::Values(
        RasterCase{"RedAboveMaximum", "P6 2 1 15\n\17\17\17\20\0\0"s, 1, Status::sampleExceedsMax},
        RasterCase{"BlueAboveMaximum", "P6 2 1 15\n\17\17\17\0\0\20"s, 1, Status::sampleExceedsMax},
        RasterCase{"AboveMaximum254", "P6 2 1 254\n\376\376\376\0\377\0"s, 1,
                   Status::sampleExceedsMax},
        RasterCase{"GreyAboveMaximum", "P5 3 1 7\n\7\0\10"s, 2, Status::sampleExceedsMax},
        RasterCase{"AlphaAboveMaximum", pamOf({{1, 1, 1, 1}, {1, 1, 1, 16}}, "RGB_ALPHA", 4), 1,
                   Status::sampleExceedsMax},
        RasterCase{"GreyAlphaAboveMaximum", pamOf({{1, 1, 1, 16}}, "GRAYSCALE_ALPHA", 2), 0,
                   Status::sampleExceedsMax},
        RasterCase{"PlainAboveMaximum", "P3 2 1 255\n1 2 3 4 256 6\n", 1, Status::sampleExceedsMax},
        RasterCase{"PlainHugeSample", "P2 2 1 255\n1 99999999999999999999\n", 1,
                   Status::sampleExceedsMax},
        RasterCase{"PlainOneAbove16Bit", "P2 2 1 65535\n65535 65536\n", 1,
                   Status::sampleExceedsMax},
        RasterCase{"PlainNotANumber", "P2 2 1 255\n1 x\n", 1, Status::wrongInputFormat},
        RasterCase{"PlainNumberRunsIntoText", "P2 2 1 255\n1 2x\n", 1, Status::wrongInputFormat},
        RasterCase{"PlainNegative", "P3 1 1 255\n1 -2 3\n", 0, Status::wrongInputFormat},
        RasterCase{"PlainBitmapTwo", "P1 3 1\n012", 2, Status::wrongInputFormat},
        RasterCase{"PlainShort", "P3 2 1 255\n1 2 3 4 5", 1, Status::truncated},
        RasterCase{"PlainBitmapShort", "P1 3 1\n01 # no third", 2, Status::truncated},
        RasterCase{"GreyShort", "P5 3 1 255\n\1\2", 2, Status::truncated},
        RasterCase{"RgbAlphaShort", pamOf({{1, 1, 1, 1}}, "RGB_ALPHA", 4) + "\1\2\3", 1,
                   Status::truncated},
        RasterCase{"BitmapShort", "P4 9 2\n\1\2\3", 17, Status::truncated}),
    [](const testing::TestParamInfo<RasterCase>& param) { return param.param.name; });

} // namespace
} // namespace pixfold
