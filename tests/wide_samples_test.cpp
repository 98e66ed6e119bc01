// 16-bit samples (maximum values 256 to 65535) through each path's own
// 16-bit loads: every colour widened to 16 bits gives the 8-bit records, in
// RGB48 and in RGBA64 keyed by its alpha; runs of every short length stay in
// their buffers; other samples and maximums give the formula's codes, the
// key rule s * 255 = c * m and the key by alpha. The estimate's proof is
// convert_test.cpp's.
#include "encode/encoder.h"
#include "format/formats.h"
#include "format/records.h"
#include "support/formula.h"
#include "support/guarded.h"
#include "support/paths.h"
#include "support/sampling.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

namespace pixfold {
namespace {

using testing_support::plainSteps;

ConversionSettings keyed(OutputFormat format, std::uint32_t keyColour, bool keyTransparent) {
    ConversionSettings settings;
    settings.format = format;
    settings.keyEnabled = true;
    settings.keyColour = keyColour;
    settings.matchValue = 0x0A0D0A0D;
    settings.noMatchValue = 0x0D0A0D0A;
    settings.transparencyKey = keyTransparent;
    return settings;
}

// Pixels of 8-bit samples (RGB24 or RGBA32) and the same widened (c * 257,
// RGB48 or RGBA64) with the plans for each: c * 257 over 65535 is c over 255
// exactly, so the formula gives the same codes, and the key colour's
// component c matches the sample c * 257.
struct Widened {
    PixelLayout wideLayout;
    std::vector<std::uint8_t> narrow;
    std::vector<std::uint8_t> wide;
    EncodePlan narrowPlan;
    EncodePlan widePlan;

    Widened(PixelLayout layout, const ConversionSettings& settings, std::size_t pixels, Path path)
        : wideLayout(layout), narrow(pixels * sampleCount()), wide(pixels * sampleCount() * 2),
          narrowPlan(makeEncodePlan(settings, 255, path, narrowLayout())),
          widePlan(makeEncodePlan(settings, 65535, path, layout)) {}

    std::size_t sampleCount() const { return hasAlpha(wideLayout) ? 4 : 3; }
    PixelLayout narrowLayout() const {
        return hasAlpha(wideLayout) ? PixelLayout::rgba32 : PixelLayout::rgb24;
    }
    void set(std::size_t sample, std::uint8_t value) {
        narrow[sample] = value;
        const auto widened = static_cast<std::uint16_t>(value * 257);
        std::memcpy(&wide[sample * 2], &widened, 2);
    }
    // Alpha 0, keying the pixel where the plan keys by alpha, on every seventh.
    void setPixel(std::size_t pixel, std::uint8_t r, std::uint8_t g, std::uint8_t b) {
        const std::uint8_t samples[4] = {r, g, b,
                                         pixel % 7 == 0 ? std::uint8_t{0} : std::uint8_t{200}};
        for (std::size_t k = 0; k < sampleCount(); ++k) {
            set(pixel * sampleCount() + k, samples[k]);
        }
    }
};

class WideSamplesOnPath : public testing_support::OnEveryPath {};
PIXFOLD_ON_EVERY_PATH(WideSamplesOnPath);

// Every colour through each 16-bit load, one format at every red and one at
// every 15th: the stores are the 8-bit loops' own.
TEST_P(WideSamplesOnPath, EveryColourWidenedGivesTheEightBitRecords) {
    struct Case {
        PixelLayout layout;
        OutputFormat format;
        int redStep;
    };
    const Case cases[] = {{PixelLayout::rgb48, OutputFormat::e888Alpha, 1},
                          {PixelLayout::rgb48, OutputFormat::e655, 15},
                          {PixelLayout::rgba64, OutputFormat::e888Alpha, 1},
                          {PixelLayout::rgba64, OutputFormat::e655Z, 15}};
    constexpr std::size_t pixels = 65536;
    std::vector<std::uint8_t> want(pixels * 4);
    std::vector<std::uint8_t> got(pixels * 4);
    std::vector<std::uint8_t> wantAlpha(pixels * 4);
    std::vector<std::uint8_t> gotAlpha(pixels * 4);
    for (const Case& c : cases) {
        Widened run(c.layout, keyed(c.format, 0x40C0FF, true), pixels, path());
        const std::size_t bytes = pixels * recordBytes(c.format);
        int mismatches = 0;
        for (int red = 0; red < 256 && mismatches < 3;
             red += c.redStep * testing_support::sampleStride()) {
            for (std::size_t i = 0; i < pixels; ++i) {
                run.setPixel(i, static_cast<std::uint8_t>(red), static_cast<std::uint8_t>(i >> 8),
                             static_cast<std::uint8_t>(i & 0xFF));
            }
            encodePixels(run.narrow.data(), pixels, run.narrowPlan, want.data(), wantAlpha.data());
            encodeWidePixels(run.wide.data(), pixels, run.widePlan, got.data(), gotAlpha.data());
            const bool same =
                std::equal(want.begin(), want.begin() + static_cast<long>(bytes), got.begin()) &&
                (!writesAlphaStream(c.format) || wantAlpha == gotAlpha);
            if (!same) {
                ++mismatches;
                ADD_FAILURE() << (hasAlpha(c.layout) ? "RGBA64 " : "RGB48 ") << formatName(c.format)
                              << ", red " << red;
            }
        }
    }
}

// Runs of every length from 0 to 40 in each 16-bit layout and format, in
// buffers that end right before a page no one may touch: the whole steps,
// the padded tail and its copy back read and write nothing past the run.
TEST_P(WideSamplesOnPath, EveryShortRunStaysInItsBuffers) {
    std::uint64_t state = 11;
    for (const PixelLayout layout : {PixelLayout::rgb48, PixelLayout::rgba64}) {
        for (const FormatTraits& traits : formatTable) {
            const OutputFormat format = traits.format;
            for (std::size_t pixels = 0; pixels <= 40; ++pixels) {
                Widened run(layout, keyed(format, 0x808080, true), pixels, path());
                for (std::size_t i = 0; i < pixels; ++i) {
                    state = state * 6364136223846793005u + 1442695040888963407u;
                    const bool key = (state >> 40) % 5 == 0;
                    run.setPixel(i, key ? 0x80 : static_cast<std::uint8_t>(state >> 56),
                                 key ? 0x80 : static_cast<std::uint8_t>(state >> 48),
                                 key ? 0x80 : static_cast<std::uint8_t>(state >> 32));
                }
                std::vector<std::uint8_t> want(pixels * recordBytes(format));
                std::vector<std::uint8_t> wantAlpha(pixels * 4);
                encodePixels(run.narrow.data(), pixels, run.narrowPlan, want.data(),
                             wantAlpha.data());
                testing_support::GuardedBuffer in(run.wide.size());
                testing_support::GuardedBuffer records(want.size());
                testing_support::GuardedBuffer alpha(wantAlpha.size());
                in.fill(run.wide.data());
                encodeWidePixels(in.data(), pixels, run.widePlan, records.data(), alpha.data());
                EXPECT_TRUE(std::equal(want.begin(), want.end(), records.data()))
                    << formatName(format) << ", " << pixels;
                if (writesAlphaStream(format)) {
                    EXPECT_TRUE(std::equal(wantAlpha.begin(), wantAlpha.end(), alpha.data()))
                        << pixels;
                }
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
    // 3 nor 4, and as blue not 0); without -m the sample 256 is no key either.
    // At 33555, where sums pass 2^25, 17 is the sample 2237.
    const Case cases[] = {{65535, true, 0x12FF00, {0x1212, 0xFFFF, 0}, true},
                          {1000, true, 0x3300FF, {200, 0, 1000}, true},
                          {1000, true, 0x0100FF, {3, 0, 1000}, false},
                          {1000, true, 0x0100FF, {4, 0, 1000}, false},
                          {1000, true, 0x000001, {0, 0, 0}, false},
                          {256, true, 0xFF0000, {256, 0, 0}, true},
                          {300, false, 0, {256, 256, 256}, false},
                          {4095, true, 0x000000, {0, 0, 0}, true},
                          {33555, true, 0x110000, {2237, 0, 0}, true},
                          {65534, true, 0xFFFFFF, {65534, 65534, 65534}, true}};
    std::uint64_t state = 5;
    for (const PixelLayout layout : {PixelLayout::rgb48, PixelLayout::rgba64}) {
        const std::size_t count = hasAlpha(layout) ? 4 : 3;
        for (const Case& c : cases) {
            SCOPED_TRACE(c.maxValue);
            constexpr std::size_t pixels = 4099;
            std::vector<std::uint16_t> samples(pixels * count);
            const auto maximum = static_cast<std::uint32_t>(c.maxValue);
            for (std::size_t i = 0; i < samples.size(); ++i) {
                state = state * 6364136223846793005u + 1442695040888963407u;
                const auto random = static_cast<std::uint32_t>(state >> 33);
                const std::size_t k = i % count;
                const std::size_t pixel = i / count;
                std::uint32_t sample = random % (maximum + 1);
                if (k == 3) { // alpha: 0, keying the pixel, on every third, else often below 256
                    sample = pixel % 3 == 0 ? 0 : 1 + random % (pixel % 3 == 1 ? 255 : maximum);
                } else if (pixel % 5 == 0) { // the case's colour
                    sample = c.samples[k];
                } else if (i % 11 == 0 || i % 13 == 0) {
                    sample = i % 11 == 0 ? 0 : maximum;
                }
                samples[i] = static_cast<std::uint16_t>(sample);
            }
            std::vector<std::uint8_t> records(pixels * 4);
            std::vector<std::uint8_t> alpha(pixels * 4);
            ConversionSettings settings = keyed(OutputFormat::e888Alpha, c.keyColour, true);
            settings.keyEnabled = c.keyEnabled;
            encodeWidePixels(reinterpret_cast<const std::uint8_t*>(samples.data()), pixels,
                             makeEncodePlan(settings, c.maxValue, path(), layout), records.data(),
                             alpha.data());
            int wrong = 0;
            for (std::size_t i = 0; i < pixels; ++i) {
                const std::uint16_t* s = &samples[i * count];
                const YCrCbCodes codes = plainSteps(s[0], s[1], s[2], c.maxValue);
                const bool matches = (c.keyed && s[0] == c.samples[0] && s[1] == c.samples[1] &&
                                      s[2] == c.samples[2]) ||
                                     (count == 4 && s[3] == 0);
                const bool same =
                    loadBigEndian32(&records[i * 4]) ==
                        word888(static_cast<std::uint32_t>(codes.y),
                                static_cast<std::uint32_t>(codes.cr),
                                static_cast<std::uint32_t>(codes.cb)) &&
                    loadBigEndian32(&alpha[i * 4]) == (matches ? 0x0A0D0A0Du : 0x0D0A0D0Au);
                if (!same && ++wrong <= 3) {
                    ADD_FAILURE() << (count == 4 ? "RGBA64" : "RGB48") << " pixel " << i << ": "
                                  << s[0] << "," << s[1] << "," << s[2];
                }
            }
        }
    }
}

} // namespace
} // namespace pixfold
