// 16-bit samples (maximum values 256 to 65535): the double-precision estimate
// is exact outside its guard band, every colour widened to 16 bits gives the
// 8-bit records, and other samples and maximums give the formula's codes and
// the key rule s * 255 = c * m.
#include "encode/encoder.h"
#include "format/formats.h"
#include "format/records.h"
#include "support/formula.h"
#include "support/paths.h"
#include "support/sampling.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace pixfold {
namespace {

using testing_support::plainSteps;

// Over every sum a maximum value allows, an estimate outside the guard band
// is never a tie and truncates to the exact code.
std::int64_t wrongOutsideTheBand(std::int32_t maxValue, bool difference) {
    const WideScale scale = makeWideScale(maxValue);
    const std::int64_t divisor = 2000 * std::int64_t{maxValue};
    const std::int64_t range = difference ? 224 : 219;
    const std::int64_t bias = std::int64_t{difference ? 257 : 33} * 1000 * maxValue;
    const std::int64_t half = 500 * std::int64_t{maxValue};
    std::int64_t wrong = 0;
    for (std::int64_t sum = difference ? -half : 0; sum <= 2 * half;
         sum += testing_support::sampleStride()) {
        const double estimate =
            estimateWide(static_cast<double>(sum), difference ? scale.difference : scale.luma,
                         difference ? differenceWideBias : lumaWideBias);
        if (nearWideBoundary(estimate) != 0 || (difference && sum > half)) {
            continue;
        }
        const std::int64_t numerator = 2 * range * sum + bias; // always positive
        const auto truncated = static_cast<std::int64_t>(estimate);
        const bool tie = numerator % divisor == 0;
        if (tie || truncated * divisor > numerator || (truncated + 1) * divisor <= numerator) {
            ++wrong;
        }
    }
    return wrong;
}

TEST(WideEstimate, OutsideTheGuardBandIsExact) {
    for (const std::int32_t maxValue : {256, 1000, 65535}) {
        EXPECT_EQ(wrongOutsideTheBand(maxValue, false), 0) << "luma, max " << maxValue;
        EXPECT_EQ(wrongOutsideTheBand(maxValue, true), 0) << "difference, max " << maxValue;
    }
}

ConversionSettings keyed(OutputFormat format, std::uint32_t keyColour) {
    ConversionSettings settings;
    settings.format = format;
    settings.keyEnabled = true;
    settings.keyColour = keyColour;
    settings.matchValue = 0x0A0D0A0D;
    settings.noMatchValue = 0x0D0A0D0A;
    return settings;
}

class WideSamplesOnPath : public testing_support::OnEveryPath {};
PIXFOLD_ON_EVERY_PATH(WideSamplesOnPath);

// Sample c * 257 over 65535 is c over 255 exactly, so the formula gives the
// same codes: every colour, widened, must give the 8-bit records, key test
// included (the component c matches the sample c * 257).
TEST_P(WideSamplesOnPath, EveryColourWidenedGivesTheEightBitRecords) {
    constexpr std::size_t pixels = 65536;
    std::vector<std::uint8_t> narrow(pixels * 3);
    std::vector<std::uint16_t> wide(pixels * 3);
    std::vector<std::uint8_t> want(pixels * 4);
    std::vector<std::uint8_t> got(pixels * 4);
    std::vector<std::uint8_t> wantAlpha(pixels * 4);
    std::vector<std::uint8_t> gotAlpha(pixels * 4);
    int mismatches = 0;
    for (const FormatTraits& traits : formatTable) {
        const OutputFormat format = traits.format;
        const EncodePlan narrowPlan = makeEncodePlan(keyed(format, 0x40C0FF), 255, path());
        const EncodePlan widePlan = makeEncodePlan(keyed(format, 0x40C0FF), 65535, path());
        const std::size_t bytes = pixels * recordBytes(format);
        for (int red = 0; red < 256 && mismatches < 3;
             red += (usesLayout888(format) ? 1 : 15) * testing_support::sampleStride()) {
            for (std::size_t i = 0; i < pixels; ++i) {
                const std::size_t colour[3] = {static_cast<std::size_t>(red), i >> 8, i & 0xFF};
                for (std::size_t k = 0; k < 3; ++k) {
                    narrow[i * 3 + k] = static_cast<std::uint8_t>(colour[k]);
                    wide[i * 3 + k] = static_cast<std::uint16_t>(colour[k] * 257);
                }
            }
            encodePixels(narrow.data(), pixels, narrowPlan, want.data(), wantAlpha.data());
            encodeWidePixels(wide.data(), pixels, widePlan, got.data(), gotAlpha.data());
            const bool same =
                std::equal(want.begin(), want.begin() + static_cast<long>(bytes), got.begin()) &&
                (!writesAlphaStream(format) || wantAlpha == gotAlpha);
            if (!same) {
                ++mismatches;
                ADD_FAILURE() << formatName(format) << ", red " << red;
            }
        }
    }
}

TEST_P(WideSamplesOnPath, OtherSamplesAndMaximumsGiveTheFormulasCodesAndKeys) {
    struct Case {
        std::int32_t maxValue;
        bool keyEnabled;
        std::uint32_t keyColour;
        std::uint16_t samples[3]; // a colour many pixels have
        bool keyed;               // whether it is the key colour's
    };
    // At 1000 the component 51 is the sample 200; 1 is no sample at all (not
    // 3 nor 4); without -m the sample 256 is no key either.
    const Case cases[] = {{65535, true, 0x12FF00, {0x1212, 0xFFFF, 0}, true},
                          {1000, true, 0x3300FF, {200, 0, 1000}, true},
                          {1000, true, 0x0100FF, {3, 0, 1000}, false},
                          {1000, true, 0x0100FF, {4, 0, 1000}, false},
                          {256, true, 0xFF0000, {256, 0, 0}, true},
                          {300, false, 0, {256, 256, 256}, false},
                          {4095, true, 0x000000, {0, 0, 0}, true},
                          {65534, true, 0xFFFFFF, {65534, 65534, 65534}, true}};
    std::uint64_t state = 5;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.maxValue);
        constexpr std::size_t pixels = 4099;
        std::vector<std::uint16_t> samples(pixels * 3);
        for (std::size_t i = 0; i < samples.size(); ++i) {
            state = state * 6364136223846793005u + 1442695040888963407u;
            const auto random = static_cast<std::uint32_t>(state >> 33);
            // Every fifth pixel the case's colour; some samples 0 or the maximum.
            samples[i] = static_cast<std::uint16_t>(i / 3 % 5 == 0 ? c.samples[i % 3]
                                                    : i % 11 == 0  ? 0
                                                    : i % 13 == 0  ? c.maxValue
                                                                   : random % (c.maxValue + 1));
        }
        std::vector<std::uint8_t> records(pixels * 4);
        std::vector<std::uint8_t> alpha(pixels * 4);
        ConversionSettings settings = keyed(OutputFormat::e888Alpha, c.keyColour);
        settings.keyEnabled = c.keyEnabled;
        encodeWidePixels(samples.data(), pixels, makeEncodePlan(settings, c.maxValue, path()),
                         records.data(), alpha.data());
        int wrong = 0;
        for (std::size_t i = 0; i < pixels; ++i) {
            const std::uint16_t* s = &samples[i * 3];
            const YCrCbCodes codes = plainSteps(s[0], s[1], s[2], c.maxValue);
            const bool matches =
                c.keyed && s[0] == c.samples[0] && s[1] == c.samples[1] && s[2] == c.samples[2];
            const bool same =
                loadBigEndian32(&records[i * 4]) == word888(static_cast<std::uint32_t>(codes.y),
                                                            static_cast<std::uint32_t>(codes.cr),
                                                            static_cast<std::uint32_t>(codes.cb)) &&
                loadBigEndian32(&alpha[i * 4]) == (matches ? 0x0A0D0A0Du : 0x0D0A0D0Au);
            if (!same && ++wrong <= 3) {
                ADD_FAILURE() << "pixel " << i << ": " << s[0] << "," << s[1] << "," << s[2];
            }
        }
    }
}

} // namespace
} // namespace pixfold
