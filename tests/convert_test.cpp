#include "colour/convert.h"
#include "encode/encoder.h"
#include "format/formats.h"
#include "format/pack.h"
#include "support/formula.h"
#include "support/guarded.h"
#include "support/known_colours.h"
#include "support/paths.h"
#include "support/sampling.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace pixfold {
namespace {

// Encodes pixels through encodePixels, the path the tool runs, in e888.
std::vector<YCrCbCodes> encodeE888(const std::vector<RgbPixel>& pixels, std::int32_t maxValue,
                                   Path path) {
    std::vector<std::uint8_t> samples;
    for (const RgbPixel& pixel : pixels) {
        samples.insert(samples.end(), {pixel.r, pixel.g, pixel.b});
    }
    std::vector<std::uint8_t> records(pixels.size() * 4);
    const EncodePlan plan = makeEncodePlan(ConversionSettings{}, maxValue, path);
    encodePixels(samples.data(), pixels.size(), plan, records.data(), nullptr);
    std::vector<YCrCbCodes> codes;
    for (std::size_t i = 0; i < pixels.size(); ++i) {
        codes.push_back({records[i * 4], records[i * 4 + 1], records[i * 4 + 2]});
    }
    return codes;
}

// The pixel loops, one test instance each.
class ConversionOnPath : public testing_support::OnEveryPath {};
PIXFOLD_ON_EVERY_PATH(ConversionOnPath);

TEST_P(ConversionOnPath, KnownColoursAndLumaTies) {
    std::vector<RgbPixel> pixels;
    for (const testing_support::KnownColour& c : testing_support::knownColours) {
        pixels.push_back({c.r, c.g, c.b});
    }
    const std::vector<YCrCbCodes> encoded = encodeE888(pixels, 255, path());
    for (std::size_t i = 0; i < pixels.size(); ++i) {
        const testing_support::KnownColour& c = testing_support::knownColours[i];
        for (const YCrCbCodes codes : {encoded[i], convertPixelInDouble(pixels[i], 255)}) {
            EXPECT_EQ(codes.y, c.y) << +c.r << "," << +c.g << "," << +c.b;
            EXPECT_EQ(codes.cr, c.cr) << +c.r << "," << +c.g << "," << +c.b;
            EXPECT_EQ(codes.cb, c.cb) << +c.r << "," << +c.g << "," << +c.b;
        }
    }
}

TEST(Conversion, TieColoursAreFlaggedForTheFormula) {
    const ConversionScale scale = makeConversionScale(255);
    EXPECT_TRUE(convertPixelQuick(4, 194, 109, scale).onRoundingBoundary);
    EXPECT_TRUE(convertPixelQuick(134, 252, 215, scale).onRoundingBoundary);
    EXPECT_FALSE(convertPixelQuick(200, 100, 50, scale).onRoundingBoundary);
}

TEST(Conversion, GreysHaveNeutralColourDifferences) {
    std::vector<RgbPixel> greys;
    for (int v = 0; v <= 255; ++v) {
        const auto sample = static_cast<std::uint8_t>(v);
        greys.push_back({sample, sample, sample});
    }
    const std::vector<YCrCbCodes> codes = encodeE888(greys, 255, activePath());
    for (int v = 0; v <= 255; ++v) {
        EXPECT_EQ(codes[static_cast<std::size_t>(v)].y, 16 + (219 * v * 2 + 255) / 510) << v;
        EXPECT_EQ(codes[static_cast<std::size_t>(v)].cr, 128) << v;
        EXPECT_EQ(codes[static_cast<std::size_t>(v)].cb, 128) << v;
    }
}

// Every colour through the very path the tool uses (encodePixels), compared
// with the plain steps in both layouts. Also pins the code ranges.
// The bytes every format must hold for one colour, with key colour k and
// key values 0x0A0D0A0D (match) and 0x0D0A0D0A (no match).
struct ExpectedRecords {
    std::uint8_t e888[4];
    std::uint8_t e655[2];
    std::uint8_t e655Z[4];
    std::uint8_t alpha[4];
};

ExpectedRecords expectedRecords(const YCrCbCodes& codes, bool keyed) {
    const unsigned value655 =
        static_cast<unsigned>(((codes.y >> 2) << 10) | ((codes.cr >> 3) << 5) | (codes.cb >> 3));
    const std::uint8_t high = static_cast<std::uint8_t>(value655 >> 8);
    const std::uint8_t low = static_cast<std::uint8_t>(value655 & 0xFF);
    const std::uint8_t a = keyed ? 0x0A : 0x0D;
    const std::uint8_t b = keyed ? 0x0D : 0x0A;
    return {{static_cast<std::uint8_t>(codes.y), static_cast<std::uint8_t>(codes.cr),
             static_cast<std::uint8_t>(codes.cb), 0},
            {high, low},
            {high, low, a, b},
            {a, b, a, b}};
}

// Settings for format with key colour keyColour, key values 0x0A0D0A0D on a
// match and 0x0D0A0D0A otherwise.
ConversionSettings keyedSettings(OutputFormat format, std::uint32_t keyColour) {
    ConversionSettings settings;
    settings.format = format;
    settings.keyEnabled = true;
    settings.keyColour = keyColour;
    settings.matchValue = 0x0A0D0A0D;
    settings.noMatchValue = 0x0D0A0D0A;
    return settings;
}

// Every colour of a maximum value through the very path the tool uses
// (encodePixels) in all four formats, compared with the plain steps. A run
// holds every (g, b) of one red, repeated to at least 1024 pixels, so that the
// vector loops, not only their scalar tails, see every colour in every lane.
void checkEveryColour(int maxValue, Path path) {
    const std::size_t side = static_cast<std::size_t>(maxValue) + 1;
    const std::size_t repeats = (1024 + side * side - 1) / (side * side);
    const std::size_t pixels = side * side * repeats;
    std::vector<std::uint8_t> samples(pixels * 3);
    std::vector<std::uint8_t> records[4];
    std::vector<std::uint8_t> alpha(pixels * 4);
    EncodePlan plans[4];
    for (const OutputFormat format :
         {OutputFormat::e655, OutputFormat::e655Z, OutputFormat::e888, OutputFormat::e888Alpha}) {
        plans[static_cast<int>(format)] =
            makeEncodePlan(keyedSettings(format, 0x010203), maxValue, path);
        records[static_cast<int>(format)].resize(pixels * recordBytes(format));
    }
    int lowestDifference = 255;
    int highestDifference = 0;
    int mismatches = 0;
    for (int r = 0; r <= maxValue; r += testing_support::sampleStride()) {
        for (std::size_t i = 0; i < pixels; ++i) {
            samples[i * 3] = static_cast<std::uint8_t>(r);
            samples[i * 3 + 1] = static_cast<std::uint8_t>(i / side % side);
            samples[i * 3 + 2] = static_cast<std::uint8_t>(i % side);
        }
        for (int format = 0; format < 4; ++format) {
            encodePixels(samples.data(), pixels, plans[format], records[format].data(),
                         alpha.data());
        }
        for (std::size_t i = 0; i < pixels; ++i) {
            const int g = samples[i * 3 + 1];
            const int b = samples[i * 3 + 2];
            const YCrCbCodes want = testing_support::plainSteps(r, g, b, maxValue);
            const ExpectedRecords expected = expectedRecords(want, r == 1 && g == 2 && b == 3);
            const bool same = std::memcmp(&records[2][i * 4], expected.e888, 4) == 0 &&
                              std::memcmp(&records[0][i * 2], expected.e655, 2) == 0 &&
                              std::memcmp(&records[1][i * 4], expected.e655Z, 4) == 0 &&
                              std::memcmp(&records[3][i * 4], expected.e888, 4) == 0 &&
                              std::memcmp(&alpha[i * 4], expected.alpha, 4) == 0;
            if (!same && ++mismatches <= 5) {
                ADD_FAILURE() << "max " << maxValue << " colour " << r << "," << g << "," << b
                              << " pixel " << i;
            }
            lowestDifference = std::min({lowestDifference, want.cr, want.cb});
            highestDifference = std::max({highestDifference, want.cr, want.cb});
        }
    }
    EXPECT_EQ(mismatches, 0);
    if (maxValue == 255) {
        EXPECT_EQ(lowestDifference, 17);
        EXPECT_EQ(highestDifference, 240);
    }
}

TEST_P(ConversionOnPath, EveryEightBitColourMatchesTheFormula) {
    checkEveryColour(255, path());
}

TEST_P(ConversionOnPath, EveryColourOfSmallerMaximumsMatchesTheFormula) {
    for (int maxValue : {1, 2, 3, 15, 100, 127, 200, 254}) {
        checkEveryColour(maxValue, path());
    }
}

// Runs of every length from 0 to 70, each in buffers that end right before a
// page no one may touch (a loop reading or writing one byte past its run
// faults), in every format, give the portable loop's bytes.
TEST_P(ConversionOnPath, EveryShortRunStaysInItsBuffers) {
    std::uint64_t state = 7;
    for (const OutputFormat format :
         {OutputFormat::e655, OutputFormat::e655Z, OutputFormat::e888, OutputFormat::e888Alpha}) {
        const ConversionSettings settings = keyedSettings(format, 0x808080);
        for (std::size_t pixels = 0; pixels <= 70; ++pixels) {
            std::vector<std::uint8_t> samples(pixels * 3);
            for (std::uint8_t& sample : samples) {
                state = state * 6364136223846793005u + 1442695040888963407u;
                sample = (state >> 40) % 5 == 0 ? 0x80 : static_cast<std::uint8_t>(state >> 56);
            }
            std::vector<std::uint8_t> want(pixels * recordBytes(format));
            std::vector<std::uint8_t> wantAlpha(pixels * 4);
            encodePixels(samples.data(), pixels, makeEncodePlan(settings, 255, Path::portable),
                         want.data(), wantAlpha.data());
            testing_support::GuardedBuffer in(samples.size());
            testing_support::GuardedBuffer records(want.size());
            testing_support::GuardedBuffer alpha(wantAlpha.size());
            in.fill(samples.data());
            encodePixels(in.data(), pixels, makeEncodePlan(settings, 255, path()), records.data(),
                         alpha.data());
            EXPECT_TRUE(std::equal(want.begin(), want.end(), records.data())) << pixels;
            if (writesAlphaStream(format)) {
                EXPECT_TRUE(std::equal(wantAlpha.begin(), wantAlpha.end(), alpha.data())) << pixels;
            }
        }
    }
}

// A pixel the formula settles (a rounding tie) is keyed by all three samples,
// on every path and in every lane.
TEST_P(ConversionOnPath, PixelsTheFormulaSettlesAreKeyedByAllThreeSamples) {
    constexpr std::size_t pixels = 40;
    std::vector<std::uint8_t> samples;
    for (std::size_t i = 0; i < pixels; ++i) {
        samples.insert(samples.end(), {4, 194, 109});
    }
    for (const std::uint32_t key : {0x04C26Du, 0x05C26Du, 0x04C36Du, 0x04C26Cu}) {
        std::vector<std::uint8_t> records(pixels * 4);
        encodePixels(samples.data(), pixels,
                     makeEncodePlan(keyedSettings(OutputFormat::e655Z, key), 255, path()),
                     records.data(), nullptr);
        const unsigned want = key == 0x04C26Du ? 0x0A0Du : 0x0D0Au;
        for (std::size_t i = 0; i < pixels; ++i) {
            EXPECT_EQ(records[i * 4 + 2] << 8 | records[i * 4 + 3], want) << key << ", " << i;
        }
    }
}

// -t gives the match value to every pixel whose opacity is 0, the last of a
// run too, whatever the run's length (the pass tests 8 at a time).
TEST(Transparency, KeysEveryTransparentPixelUpToTheLast) {
    ConversionSettings settings = keyedSettings(OutputFormat::e888Alpha, 0x808080);
    settings.keyEnabled = false;
    const EncodePlan plan = makeEncodePlan(settings, 255);
    for (std::size_t pixels = 1; pixels <= 20; ++pixels) {
        std::vector<std::uint8_t> samples(pixels * 3, 9);
        std::vector<std::uint8_t> opacity(pixels, 255);
        opacity[pixels - 1] = 0;
        opacity[0] = pixels % 3 == 0 ? 0 : 1;
        std::vector<std::uint8_t> records(pixels * 4);
        std::vector<std::uint8_t> alpha(pixels * 4);
        encodePixels(samples.data(), pixels, plan, records.data(), alpha.data());
        keyTransparentPixels(opacity.data(), pixels, plan, records.data(), alpha.data());
        for (std::size_t i = 0; i < pixels; ++i) {
            const bool keyed = opacity[i] == 0;
            EXPECT_EQ(alpha[i * 4], keyed ? 0x0A : 0x0D) << pixels << " pixels, pixel " << i;
        }
    }
}

// The pixel loops trust their fixed-point estimate wherever it is not within
// estimateGuard of a code boundary. Proof, for a maximum value: over every
// integer sum the loops can meet (a superset of the sums of real samples), an
// estimate outside the guard band is never a rounding tie and always gives the
// exact code, with the multiply-add fused (the vector loops) or not.
//
// The fused one is worked out in double and rounded once to a float, which
// is fmaf exactly: the product of a float sum below 2^26 and a float scale
// above 0.2 is exact in a double, and so is the bias added to it, as all its
// bits lie between 2^-26 and 2^25. A sum in each block checks this against
// estimateCodeFused.
struct EstimateProof {
    std::int64_t trusted = 0;
    std::int64_t wrong = 0;
    std::int64_t fmaMismatches = 0;
};

enum Rounding { fused, unfused };

#ifdef __MINGW32__
constexpr bool fmafFromMinGw = true;
#else
constexpr bool fmafFromMinGw = false;
#endif

// Every stride-th sum of luma's or a difference's at one maximum.
void proveEstimate(std::int32_t maxValue, bool difference, std::int32_t stride,
                   EstimateProof (&proofs)[2]) {
    const EstimateScale scales = makeEstimateScale(maxValue);
    const float scale = difference ? scales.difference : scales.luma;
    const float bias = difference ? differenceEstimateBias : lumaEstimateBias;
    // The exact value times 2000 m: 16.5 + 219 L / 1000 m = (438 L + 33000 m) / 2000 m,
    // 128.5 + 224 D / 1000 m = (448 D + 257000 m) / 2000 m; always positive,
    // below 2^35 and exact in a double.
    const double factor = difference ? 448 : 438;
    const double exactBias = (difference ? 257000.0 : 33000.0) * maxValue;
    const double divisor = 2000.0 * maxValue;
    const std::int32_t lowest = difference ? -500 * maxValue : 0;
    const std::int32_t highest = difference ? 500 * maxValue : 1000 * maxValue;
    // In blocks, each pass a loop the compiler vectorises.
    constexpr std::int32_t block = 2048;
    std::int32_t estimates[2][block];
    for (std::int32_t first = lowest; first <= highest; first += block * stride) {
        const std::int32_t count = std::min(block, (highest - first) / stride + 1);
        for (std::int32_t i = 0; i < count; ++i) {
            const auto value = static_cast<float>(first + i * stride);
            estimates[fused][i] = static_cast<std::int32_t>(
                static_cast<float>(static_cast<double>(value) * static_cast<double>(scale) + bias));
            estimates[unfused][i] = estimateCode(value, scale, bias);
        }
        const std::int32_t middle = count / 2;
        // MinGW-w64's fmaf is not correctly rounded (under wine, 128 of these
        // checks differ at the 8-bit maximums where glibc's agree on all), so
        // the cross-check needs another C library's; the hardware's fused
        // multiply-add is not in question.
        if (!fmafFromMinGw &&
            estimateCodeFused(first + middle * stride, scale, bias) != estimates[fused][middle]) {
            ++proofs[fused].fmaMismatches;
        }
        for (const Rounding rounding : {fused, unfused}) {
            const std::int32_t* fixed = estimates[rounding];
            const auto wrongAt = [&](std::int32_t i) {
                const double numerator = factor * (first + i * stride) + exactBias;
                const double low = static_cast<double>(fixed[i] >> 16) * divisor;
                // & rather than &&: no branch, so the loop vectorises.
                const auto outside = static_cast<std::int32_t>(!nearCodeBoundary(fixed[i]));
                const auto inside = static_cast<std::int32_t>(low < numerator) & // no tie either
                                    static_cast<std::int32_t>(numerator < low + divisor);
                return outside & (inside ^ 1);
            };
            std::int32_t trusted = 0;
            std::int32_t wrong = 0;
            for (std::int32_t i = 0; i < count; ++i) {
                trusted += static_cast<std::int32_t>(!nearCodeBoundary(fixed[i]));
                wrong += wrongAt(i);
            }
            proofs[rounding].trusted += trusted;
            for (std::int32_t i = 0; wrong != 0 && i < count; ++i) {
                if (wrongAt(i) != 0 && ++proofs[rounding].wrong <= 5) {
                    ADD_FAILURE() << (rounding == fused ? "fused" : "unfused") << " max "
                                  << maxValue << (difference ? " difference" : " luma") << " sum "
                                  << first + i * stride << ": estimate " << fixed[i];
                }
            }
        }
    }
}

TEST(Conversion, EstimateOutsideTheGuardBandIsExactForEveryMaximum) {
    EstimateProof proofs[2];
    for (std::int32_t maxValue = 255; maxValue >= 1; maxValue -= testing_support::sampleStride()) {
        proveEstimate(maxValue, false, 1, proofs);
        proveEstimate(maxValue, true, 1, proofs);
        if (maxValue == 255) { // the common case: the band holds about 1 sum in 4000
            EXPECT_GT(proofs[unfused].trusted, std::int64_t{2} * 255001 * 999 / 1000);
        }
    }
    for (const EstimateProof& proof : proofs) {
        EXPECT_EQ(proof.wrong, 0);
    }
    EXPECT_EQ(proofs[fused].fmaMismatches, 0);
}

// 16-bit samples: the same over every sum at the maximums where the bounds
// are tightest: the smallest, the last whose sums stay below 2^24 (exact as
// floats) and the first past it, the same about 2^25, where a float sum's
// rounding doubles, and the largest. One test each, as each takes a while.
class SixteenBitEstimate : public testing::TestWithParam<std::int32_t> {};
INSTANTIATE_TEST_SUITE_P(Maximum, SixteenBitEstimate,
                         testing::Values(256, 16777, 16778, 33554, 33555, 65534, 65535),
                         [](const testing::TestParamInfo<std::int32_t>& maximum) {
                             return std::to_string(maximum.param);
                         });

TEST_P(SixteenBitEstimate, OutsideTheGuardBandIsExact) {
    EstimateProof proofs[2];
    const std::int32_t stride = testing_support::sampleStride();
    proveEstimate(GetParam(), false, stride, proofs);
    proveEstimate(GetParam(), true, stride, proofs);
    for (const EstimateProof& proof : proofs) {
        EXPECT_EQ(proof.wrong, 0);
        EXPECT_GT(proof.trusted, std::int64_t{2} * 999 * GetParam() / stride);
    }
    EXPECT_EQ(proofs[fused].fmaMismatches, 0);
}

TEST(Conversion, SamplesAreNormalisedByTheMaximumValue) {
    // Full scale at maxValue 15 is white, as 255 is at maxValue 255.
    EXPECT_EQ(encodeE888({{15, 15, 15}}, 15, activePath())[0].y, 235);
    const YCrCbCodes red = encodeE888({{1, 0, 0}}, 1, activePath())[0];
    EXPECT_EQ(red.y, 81);
    EXPECT_EQ(red.cr, 240);
    EXPECT_EQ(red.cb, 91);
}

TEST(Packing, LayoutsHoldTheCodesInPlace) {
    const YCrCbCodes white{235, 128, 128};
    EXPECT_EQ(packWord(white, OutputFormat::e888), 0xEB808000u);
    EXPECT_EQ(packWord(white, OutputFormat::e888Alpha), 0xEB808000u);
    // 58, 16, 16 in the 6-5-5 fields.
    EXPECT_EQ(packWord(white, OutputFormat::e655), 0xEA100000u);
    EXPECT_EQ(packWord(white, OutputFormat::e655Z), 0xEA100000u);
    EXPECT_EQ(packWord({255, 255, 255}, OutputFormat::e655), 0xFFFF0000u);
}

} // namespace
} // namespace pixfold
