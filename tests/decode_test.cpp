// pixunfold's decoder against the formula: every record of every format gives
// codesToRgb's samples, and the key plane picks the pixels it should.
#include "colour/inverse.h"
#include "decode/decoder.h"
#include "format/formats.h"
#include "format/pack.h"
#include "format/records.h"
#include "support/paths.h"
#include "support/sampling.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <utility>
#include <vector>

namespace pixfold {
namespace {

// The first pixel of a block that differs from codesToRgb, or -1.
long firstMismatch(const std::vector<std::uint8_t>& records, std::size_t pixels,
                   const DecodePlan& plan, std::vector<std::uint8_t>& samples) {
    decodeRecords(records.data(), pixels, plan, samples.data());
    const std::size_t size = recordBytes(plan.format);
    for (std::size_t i = 0; i < pixels; ++i) {
        const RgbPixel expected =
            codesToRgb(unpackWord(readRecord(&records[i * size], plan.format).word, plan.format));
        if (samples[i * 3] != expected.r || samples[i * 3 + 1] != expected.g ||
            samples[i * 3 + 2] != expected.b) {
            return static_cast<long>(i);
        }
    }
    return -1;
}

// The formula as written, with its divisions and std::round.
RgbPixel writtenFormula(int y, int cr, int cb) {
    const double components[3] = {static_cast<double>(y - 16) / 219.0,
                                  static_cast<double>(cr - 128) / 224.0,
                                  static_cast<double>(cb - 128) / 224.0};
    std::uint8_t samples[3] = {};
    for (int channel = 0; channel < 3; ++channel) {
        double sum = 0.0;
        for (int component = 0; component < 3; ++component) {
            sum += inverseCoefficient(channel, component) * components[component];
        }
        samples[channel] =
            static_cast<std::uint8_t>(std::clamp(std::round(sum * 255.0), 0.0, 255.0));
    }
    return {samples[0], samples[1], samples[2]};
}

// The formula's samples for every code triple, once for all paths (working
// them out is most of the test's time); codesToRgb, which the paths call for
// the pixels they can't settle, must give them too.
std::vector<std::uint8_t> formulaSamples() {
    std::vector<std::uint8_t> samples(std::size_t{3} << 24);
    std::size_t differing = 0;
    for (std::size_t codes = 0; codes < (std::size_t{1} << 24); ++codes) {
        const auto y = static_cast<std::int32_t>(codes >> 16);
        const auto cr = static_cast<std::int32_t>((codes >> 8) & 0xFF);
        const auto cb = static_cast<std::int32_t>(codes & 0xFF);
        const RgbPixel pixel = writtenFormula(y, cr, cb);
        const RgbPixel quick = codesToRgb({y, cr, cb});
        if (quick.r != pixel.r || quick.g != pixel.g || quick.b != pixel.b) {
            ++differing;
        }
        samples[codes * 3] = pixel.r;
        samples[codes * 3 + 1] = pixel.g;
        samples[codes * 3 + 2] = pixel.b;
    }
    EXPECT_EQ(differing, 0u) << "code triples where codesToRgb differs from the formula";
    return samples;
}

// The decode loops, one test instance each.
class DecoderOnPath : public testing_support::OnEveryPath {};
PIXFOLD_ON_EVERY_PATH(DecoderOnPath);

TEST_P(DecoderOnPath, EveryE888CodeTripleGivesTheFormulasSamples) {
    static const std::vector<std::uint8_t> expected = formulaSamples(); // once for every path
    // Blocks of an odd size, so that every path's last three-byte store and
    // its scalar tail are checked.
    const std::size_t blockPixels = 65535;
    std::vector<std::uint8_t> records(blockPixels * 4);
    std::vector<std::uint8_t> samples(blockPixels * 3);
    const DecodePlan plan = makeDecodePlan(OutputFormat::e888, path());
    const std::size_t step =
        blockPixels * static_cast<std::size_t>(testing_support::sampleStride());
    for (std::size_t first = 0; first < (std::size_t{1} << 24); first += step) {
        const std::size_t pixels = std::min(blockPixels, (std::size_t{1} << 24) - first);
        for (std::size_t i = 0; i < pixels; ++i) {
            storeBigEndian32(&records[i * 4], static_cast<std::uint32_t>(first + i) << 8);
        }
        decodeRecords(records.data(), pixels, plan, samples.data());
        ASSERT_TRUE(
            std::equal(samples.data(), samples.data() + pixels * 3, expected.data() + first * 3))
            << "codes from " << first;
    }
}

TEST_P(DecoderOnPath, EveryE655AndE655ZValueGivesTheFormulasSamples) {
    for (const OutputFormat format : {OutputFormat::e655, OutputFormat::e655Z}) {
        const DecodePlan plan = makeDecodePlan(format, path());
        const std::size_t size = recordBytes(format);
        std::vector<std::uint8_t> records(std::size_t{65536} * size);
        std::vector<std::uint8_t> samples(std::size_t{65536} * 3);
        for (std::size_t i = 0; i < 65536; ++i) {
            const auto value = static_cast<std::uint32_t>(i);
            if (format == OutputFormat::e655) {
                storeBigEndian16(&records[i * 2], value);
            } else { // the key bytes must play no part in the samples
                storeBigEndian32(&records[i * 4], (value << 16) | (value ^ 0xFFFFu));
            }
        }
        EXPECT_EQ(firstMismatch(records, 65536, plan, samples), -1) << formatName(format);
    }
}

// The vector loops store whole vectors where the next group overwrites the
// excess: no count may let a store reach past the last sample.
TEST_P(DecoderOnPath, NoLoopWritesPastTheLastSample) {
    for (const OutputFormat format : {OutputFormat::e888, OutputFormat::e655}) {
        const DecodePlan plan = makeDecodePlan(format, path());
        std::vector<std::uint8_t> records(std::size_t{80} * 4);
        for (std::size_t i = 0; i < records.size(); ++i) {
            records[i] = static_cast<std::uint8_t>(i * 37 + 11);
        }
        for (std::size_t pixels = 0; pixels <= 80; ++pixels) {
            std::vector<std::uint8_t> samples(pixels * 3 + 64, 0xA5);
            EXPECT_EQ(firstMismatch(records, pixels, plan, samples), -1);
            EXPECT_TRUE(std::all_of(samples.begin() + static_cast<long>(pixels * 3), samples.end(),
                                    [](std::uint8_t b) { return b == 0xA5; }))
                << formatName(format) << ", " << pixels;
        }
    }
}

TEST_P(DecoderOnPath, KeyPlaneMarksTheWantedValuesOfEachFormat) {
    // 40 keys: two whole vector steps and a tail, each step holding all four.
    const std::uint32_t values[] = {0u, 0x0000FFFFu, 0x1234FFFFu, 0x00000001u};
    std::vector<std::uint8_t> keys(std::size_t{40} * 4);
    for (std::size_t i = 0; i < 40; ++i) {
        storeBigEndian32(&keys[i * 4], values[i % 4]);
    }
    const auto expect = [](const std::vector<std::uint8_t>& mask, std::vector<int> four) {
        for (std::size_t i = 0; i < mask.size(); ++i) {
            EXPECT_EQ(mask[i], four[i % 4]) << "pixel " << i;
        }
    };
    std::vector<std::uint8_t> mask(40);
    decodeKeyPlane(keys.data(), 40, OutputFormat::e888Alpha, {true, 0}, mask.data(), path());
    expect(mask, {0, 255, 255, 255});
    decodeKeyPlane(keys.data(), 40, OutputFormat::e888Alpha, {false, 0x0000FFFFu}, mask.data(),
                   path());
    expect(mask, {0, 255, 0, 0});
    // e655Z kept only the low 16 bits of the value it was given.
    decodeKeyPlane(keys.data(), 40, OutputFormat::e655Z, {false, 0xABCDFFFFu}, mask.data(), path());
    expect(mask, {0, 255, 255, 0});
    decodeKeyPlane(keys.data(), 40, OutputFormat::e655Z, {true, 0}, mask.data(), path());
    expect(mask, {0, 255, 255, 255});
    // Formats with no key value hold 0 in every pixel.
    decodeKeyPlane(nullptr, 40, OutputFormat::e888, {false, 0}, mask.data(), path());
    expect(mask, {255, 255, 255, 255});
    decodeKeyPlane(nullptr, 40, OutputFormat::e655, {true, 0}, mask.data(), path());
    expect(mask, {0, 0, 0, 0});
}

} // namespace
} // namespace pixfold
