// The C API against the tools' own encoder: every colour in each layout's
// load on every path, the key by alpha, short rows, and the argument checks.
#include "api/api_paths.h"
#include "api/sized.h"
#include "decode/decoder.h"
#include "encode/encoder.h"
#include "format/formats.h"
#include "pixfold/pixfold.h"
#include "support/paths.h"
#include "support/sampling.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

namespace pixfold {
namespace {

constexpr OutputFormat allFormats[] = {OutputFormat::e655, OutputFormat::e655Z, OutputFormat::e888,
                                       OutputFormat::e888Alpha};

bool hasAlphaLayout(pixfold_layout layout) {
    return layout == PIXFOLD_LAYOUT_RGBA32 || layout == PIXFOLD_LAYOUT_BGRA32 ||
           layout == PIXFOLD_LAYOUT_RGBA64;
}

pixfold_settings keyedSettings(OutputFormat format, bool keyTransparent) {
    pixfold_settings settings;
    pixfold_settings_init(&settings);
    settings.format = static_cast<pixfold_format>(format);
    settings.key_enabled = 1;
    settings.key_colour = 0x010203;
    settings.match_value = 0x0A0D0A0D;
    settings.no_match_value = 0x0D0A0D0A;
    settings.key_transparent = keyTransparent ? 1 : 0;
    return settings;
}

// The samples of one pixel in an 8-bit layout, and its alpha byte.
void putPixel(std::uint8_t* at, pixfold_layout layout, std::uint8_t r, std::uint8_t g,
              std::uint8_t b, std::uint8_t a) {
    switch (layout) {
    case PIXFOLD_LAYOUT_RGB24:
        at[0] = r, at[1] = g, at[2] = b;
        break;
    case PIXFOLD_LAYOUT_BGR24:
        at[0] = b, at[1] = g, at[2] = r;
        break;
    case PIXFOLD_LAYOUT_RGBA32:
        at[0] = r, at[1] = g, at[2] = b, at[3] = a;
        break;
    case PIXFOLD_LAYOUT_BGRA32:
        at[0] = b, at[1] = g, at[2] = r, at[3] = a;
        break;
    default:
        at[0] = r;
    }
}

// Each layout's own load on each path: every colour (every grey for GRAY8)
// in rows of 4096 pixels, padded, with a key colour, and for RGBA32 alpha 0
// (keyed) on every seventh pixel, gives the records the tools' loop writes of
// the same colours as read. The shared arithmetic is proven for every colour
// by the conversion tests; this proves each load and its tail.
class ApiLayoutOnPath : public testing_support::OnEveryPath {};
PIXFOLD_ON_EVERY_PATH(ApiLayoutOnPath);

struct LayoutCase {
    pixfold_layout layout;
    OutputFormat format;
    bool keyTransparent;
};

// The records of pixels (RGB24) through the tools' loop, alpha-keyed ones
// given the match value as the tools' pass does.
void toolRecords(const std::vector<std::uint8_t>& rgb, const std::vector<std::uint8_t>& opacity,
                 const LayoutCase& c, Path path, std::vector<std::uint8_t>& records,
                 std::vector<std::uint8_t>& alpha) {
    const pixfold_settings settings = keyedSettings(c.format, c.keyTransparent);
    ConversionSettings tool;
    tool.format = c.format;
    tool.keyEnabled = true;
    tool.keyColour = settings.key_colour;
    tool.matchValue = settings.match_value;
    tool.noMatchValue = settings.no_match_value;
    const std::size_t pixels = rgb.size() / 3;
    const EncodePlan plan = makeEncodePlan(tool, 255, path);
    encodePixels(rgb.data(), pixels, plan, records.data(), alpha.data());
    if (c.keyTransparent) {
        keyTransparentPixels(opacity.data(), pixels, plan, records.data(), alpha.data());
    }
}

TEST_P(ApiLayoutOnPath, EveryColourInEachLayoutGivesTheToolsRecords) {
    const LayoutCase cases[] = {
        {PIXFOLD_LAYOUT_BGR24, OutputFormat::e655Z, false},
        {PIXFOLD_LAYOUT_RGBA32, OutputFormat::e655Z, true},
        {PIXFOLD_LAYOUT_BGRA32, OutputFormat::e888Alpha, false},
        {PIXFOLD_LAYOUT_GRAY8, OutputFormat::e655Z, false},
    };
    constexpr std::size_t width = 4096;
    constexpr std::size_t pixels = 65536;
    std::vector<std::uint8_t> rgb(pixels * 3);
    std::vector<std::uint8_t> opacity(pixels);
    std::vector<std::uint8_t> source(pixels * 4 + 16 * std::size_t{5});
    std::vector<std::uint8_t> want(pixels * 4);
    std::vector<std::uint8_t> wantAlpha(pixels * 4);
    std::vector<std::uint8_t> got(pixels * 4);
    std::vector<std::uint8_t> gotAlpha(pixels * 4);
    for (const LayoutCase& c : cases) {
        const bool grey = c.layout == PIXFOLD_LAYOUT_GRAY8;
        const std::size_t pixelSize = pixfold_layout_pixel_size(c.layout);
        const std::size_t stride = width * pixelSize + 5;
        const std::size_t count = grey ? 256 : pixels;
        const std::size_t rows = (count + width - 1) / width;
        const std::size_t across = std::min(width, count);
        const pixfold_settings settings = keyedSettings(c.format, c.keyTransparent);
        for (int red = 0; red < (grey ? 1 : 256); red += testing_support::sampleStride()) {
            for (std::size_t i = 0; i < count; ++i) {
                const auto g = static_cast<std::uint8_t>(grey ? i : i / 256);
                const auto b = static_cast<std::uint8_t>(grey ? i : i % 256);
                const auto r = static_cast<std::uint8_t>(grey ? i : static_cast<std::size_t>(red));
                rgb[i * 3] = r, rgb[i * 3 + 1] = g, rgb[i * 3 + 2] = b;
                opacity[i] = i % 7 == 0 ? 0 : 200;
                putPixel(&source[i / width * stride + i % width * pixelSize], c.layout, r, g, b,
                         opacity[i]);
            }
            rgb.resize(count * 3);
            opacity.resize(count);
            toolRecords(rgb, opacity, c, path(), want, wantAlpha);
            ASSERT_EQ(encodeOnPath(path(), source.data(), stride, source.size(), c.layout,
                                   got.data(), got.size(), gotAlpha.data(), gotAlpha.size(),
                                   static_cast<std::int32_t>(across),
                                   static_cast<std::int32_t>(rows), 255, &settings),
                      PIXFOLD_OK);
            const std::size_t bytes = count * recordBytes(c.format);
            ASSERT_TRUE(
                std::equal(got.begin(), got.begin() + static_cast<long>(bytes), want.begin()))
                << "layout " << c.layout << ", red " << red;
            if (writesAlphaStream(c.format)) {
                ASSERT_TRUE(std::equal(gotAlpha.begin(),
                                       gotAlpha.begin() + static_cast<long>(count * 4),
                                       wantAlpha.begin()))
                    << "layout " << c.layout << ", red " << red;
            }
            rgb.resize(pixels * 3);
            opacity.resize(pixels);
        }
    }
}

// Every short run, in each layout and format: the vector steps, the padded
// tail and its copy back, nothing written past the records. Alpha is 0 on
// every third pixel, else one bit of it set, each bit in turn: only 0 keys.
TEST_P(ApiLayoutOnPath, EveryShortRowGivesTheToolsRecordsAndNoMore) {
    std::vector<std::uint8_t> rgb(std::size_t{80} * 3);
    for (std::size_t i = 0; i < rgb.size(); ++i) {
        rgb[i] = static_cast<std::uint8_t>(i * 97 + 13);
    }
    rgb[15] = 1, rgb[16] = 2, rgb[17] = 3; // the key colour
    for (const pixfold_layout layout : {PIXFOLD_LAYOUT_RGB24, PIXFOLD_LAYOUT_BGR24,
                                        PIXFOLD_LAYOUT_RGBA32, PIXFOLD_LAYOUT_BGRA32}) {
        for (const OutputFormat format : allFormats) {
            const LayoutCase c{layout, format, hasAlphaLayout(layout)};
            std::vector<std::uint8_t> source(std::size_t{80} * 4);
            std::vector<std::uint8_t> opacity(80);
            for (std::size_t i = 0; i < 80; ++i) {
                opacity[i] = i % 3 == 0 ? 0 : static_cast<std::uint8_t>(1u << i % 8);
                putPixel(&source[i * pixfold_layout_pixel_size(layout)], layout, rgb[i * 3],
                         rgb[i * 3 + 1], rgb[i * 3 + 2], opacity[i]);
            }
            std::vector<std::uint8_t> want(std::size_t{80} * 4);
            std::vector<std::uint8_t> wantAlpha(std::size_t{80} * 4);
            toolRecords(rgb, opacity, c, path(), want, wantAlpha);
            const pixfold_settings settings = keyedSettings(format, c.keyTransparent);
            for (std::size_t count = 1; count <= 80; ++count) {
                const std::size_t bytes = count * recordBytes(format);
                std::vector<std::uint8_t> got(bytes + 64, 0xA5);
                std::vector<std::uint8_t> gotAlpha(count * 4 + 64, 0xA5);
                const std::size_t size = count * pixfold_layout_pixel_size(layout);
                ASSERT_EQ(encodeOnPath(path(), source.data(), size, size, layout, got.data(), bytes,
                                       gotAlpha.data(), count * 4, static_cast<std::int32_t>(count),
                                       1, 255, &settings),
                          PIXFOLD_OK);
                EXPECT_TRUE(
                    std::equal(got.begin(), got.begin() + static_cast<long>(bytes), want.begin()))
                    << "layout " << layout << ", " << formatName(format) << ", " << count;
                EXPECT_EQ(std::count(got.begin() + static_cast<long>(bytes), got.end(), 0xA5), 64)
                    << "layout " << layout << ", " << formatName(format) << ", " << count;
                if (writesAlphaStream(format)) {
                    EXPECT_TRUE(std::equal(gotAlpha.begin(),
                                           gotAlpha.begin() + static_cast<long>(count * 4),
                                           wantAlpha.begin()));
                    EXPECT_EQ(std::count(gotAlpha.begin() + static_cast<long>(count * 4),
                                         gotAlpha.end(), 0xA5),
                              64);
                }
            }
        }
    }
}

// One call's arguments, each case changing one, with the error it must give;
// the output buffers must stay as they were.
struct EncodeCall {
    // 8 x 2 pixels of RGBA32 in the first 64 bytes, room for records after them.
    std::vector<std::uint8_t> source = std::vector<std::uint8_t>(128, 9);
    std::size_t stride = 32;
    std::size_t sourceSize = 64;
    pixfold_layout layout = PIXFOLD_LAYOUT_RGBA32;
    std::vector<std::uint8_t> records = std::vector<std::uint8_t>(64, 0xEE);
    std::size_t recordsSize = 64;
    std::vector<std::uint8_t> alpha = std::vector<std::uint8_t>(64, 0xEE);
    std::size_t alphaSize = 64;
    std::int32_t width = 8;
    std::int32_t height = 2;
    std::int32_t maxValue = 255;
    pixfold_settings settings = keyedSettings(OutputFormat::e888Alpha, true);
    bool nullSource = false;
    bool nullRecords = false;
    bool nullAlpha = false;
    bool nullSettings = false;
    int recordsInSource = -1; // records from this byte of source's vector on, if not -1

    // 4 x 2 pixels of RGBA64 below a maximum value, in the same 64 bytes.
    void wide(std::int32_t maximum) {
        layout = PIXFOLD_LAYOUT_RGBA64;
        width = 4;
        recordsSize = alphaSize = 32;
        maxValue = maximum;
        for (std::size_t i = 0; i < 32; ++i) {
            const std::uint16_t sample = 999;
            std::memcpy(&source[i * 2], &sample, 2);
        }
    }

    pixfold_error run() {
        std::uint8_t* recordsAt =
            recordsInSource >= 0 ? source.data() + recordsInSource : records.data();
        return pixfold_encode(nullSource ? nullptr : source.data(), stride, sourceSize, layout,
                              nullRecords ? nullptr : recordsAt, recordsSize,
                              nullAlpha ? nullptr : alpha.data(), alphaSize, width, height,
                              maxValue, nullSettings ? nullptr : &settings);
    }
};

template <class Enum> Enum outOfRange(int value) {
    Enum result{};
    std::memcpy(&result, &value, sizeof value); // as a C caller may pass it
    return result;
}

TEST(Api, EncodeRefusesBadArgumentsBeforeWriting) {
    struct Case {
        const char* what;
        std::function<void(EncodeCall&)> change;
        pixfold_error error;
    };
    const Case cases[] = {
        {"as given", [](EncodeCall&) {}, PIXFOLD_OK},
        {"no source", [](EncodeCall& c) { c.nullSource = true; }, PIXFOLD_ERROR_NULL_POINTER},
        {"no records", [](EncodeCall& c) { c.nullRecords = true; }, PIXFOLD_ERROR_NULL_POINTER},
        {"no alpha", [](EncodeCall& c) { c.nullAlpha = true; }, PIXFOLD_ERROR_NULL_POINTER},
        {"no settings", [](EncodeCall& c) { c.nullSettings = true; }, PIXFOLD_ERROR_NULL_POINTER},
        {"source a byte short", [](EncodeCall& c) { --c.sourceSize; },
         PIXFOLD_ERROR_BUFFER_TOO_SMALL},
        {"records a byte short", [](EncodeCall& c) { --c.recordsSize; },
         PIXFOLD_ERROR_BUFFER_TOO_SMALL},
        {"alpha a byte short", [](EncodeCall& c) { --c.alphaSize; },
         PIXFOLD_ERROR_BUFFER_TOO_SMALL},
        {"stride beyond any buffer", [](EncodeCall& c) { c.stride = ~std::size_t{0}; },
         PIXFOLD_ERROR_BUFFER_TOO_SMALL},
        {"stride short of a row", [](EncodeCall& c) { --c.stride; }, PIXFOLD_ERROR_STRIDE},
        {"maximum 0", [](EncodeCall& c) { c.maxValue = 0; }, PIXFOLD_ERROR_MAX_VALUE},
        {"maximum 256", [](EncodeCall& c) { c.maxValue = 256; }, PIXFOLD_ERROR_MAX_VALUE},
        {"a sample above the maximum", [](EncodeCall& c) { c.maxValue = 8; },
         PIXFOLD_ERROR_SAMPLE_EXCEEDS_MAX},
        {"alpha above the maximum is no sample",
         [](EncodeCall& c) {
             c.maxValue = 9;
             c.source[3] = 200;
         },
         PIXFOLD_OK},
        {"layout 7", [](EncodeCall& c) { c.layout = outOfRange<pixfold_layout>(7); },
         PIXFOLD_ERROR_UNKNOWN_LAYOUT},
        {"layout ENUM_RANGE", [](EncodeCall& c) { c.layout = PIXFOLD_LAYOUT_ENUM_MAX; },
         PIXFOLD_ERROR_UNKNOWN_LAYOUT},
        {"format 4", [](EncodeCall& c) { c.settings.format = outOfRange<pixfold_format>(4); },
         PIXFOLD_ERROR_UNKNOWN_FORMAT},
        {"negative height", [](EncodeCall& c) { c.height = -1; }, PIXFOLD_ERROR_DIMENSIONS},
        {"negative width", [](EncodeCall& c) { c.width = -1; }, PIXFOLD_ERROR_DIMENSIONS},
        {"layout -1", [](EncodeCall& c) { c.layout = outOfRange<pixfold_layout>(-1); },
         PIXFOLD_ERROR_UNKNOWN_LAYOUT},
        {"layout INT_MIN", [](EncodeCall& c) { c.layout = PIXFOLD_LAYOUT_ENUM_MIN; },
         PIXFOLD_ERROR_UNKNOWN_LAYOUT},
        {"format -1", [](EncodeCall& c) { c.settings.format = outOfRange<pixfold_format>(-1); },
         PIXFOLD_ERROR_UNKNOWN_FORMAT},
        {"format INT_MIN", [](EncodeCall& c) { c.settings.format = PIXFOLD_FORMAT_ENUM_MIN; },
         PIXFOLD_ERROR_UNKNOWN_FORMAT},
        {"settings of no size", [](EncodeCall& c) { c.settings.size = 0; },
         PIXFOLD_ERROR_SETTINGS_SIZE},
        {"settings a byte short", [](EncodeCall& c) { --c.settings.size; },
         PIXFOLD_ERROR_SETTINGS_SIZE},
        {"records over the source", [](EncodeCall& c) { c.recordsInSource = 60; },
         PIXFOLD_ERROR_OVERLAP},
        {"records right after the source", [](EncodeCall& c) { c.recordsInSource = 64; },
         PIXFOLD_OK},
        {"maximum 65535 for 8-bit samples", [](EncodeCall& c) { c.maxValue = 65535; },
         PIXFOLD_ERROR_MAX_VALUE},
        {"RGBA64, maximum 65535", [](EncodeCall& c) { c.wide(65535); }, PIXFOLD_OK},
        {"RGBA64, maximum 65536", [](EncodeCall& c) { c.wide(65536); }, PIXFOLD_ERROR_MAX_VALUE},
        {"RGBA64, maximum 0", [](EncodeCall& c) { c.wide(0); }, PIXFOLD_ERROR_MAX_VALUE},
        {"RGBA64, the last blue above the maximum",
         [](EncodeCall& c) {
             c.wide(1000);
             const std::uint16_t above = 1001;
             std::memcpy(&c.source[16 + 3 * 8 + 4], &above, 2);
         },
         PIXFOLD_ERROR_SAMPLE_EXCEEDS_MAX},
        {"RGB48, the last blue above the maximum",
         [](EncodeCall& c) {
             c.wide(1000);
             c.layout = PIXFOLD_LAYOUT_RGB48;
             c.settings.key_transparent = 0;
             const std::uint16_t above = 1001;
             std::memcpy(&c.source[32 + 3 * 6 + 4], &above, 2);
         },
         PIXFOLD_ERROR_SAMPLE_EXCEEDS_MAX},
        {"RGBA64, alpha above the maximum",
         [](EncodeCall& c) {
             c.wide(1000);
             const std::uint16_t above = 1001;
             std::memcpy(&c.source[16 + 3 * 8 + 6], &above, 2);
         },
         PIXFOLD_OK},
        {"key by alpha without alpha", [](EncodeCall& c) { c.layout = PIXFOLD_LAYOUT_RGB24; },
         PIXFOLD_ERROR_NO_ALPHA_IN_LAYOUT},
        {"no pixels, no buffers",
         [](EncodeCall& c) {
             c.width = 0;
             c.nullSource = c.nullRecords = c.nullAlpha = true;
         },
         PIXFOLD_OK},
    };
    for (const Case& testCase : cases) {
        EncodeCall call;
        testCase.change(call);
        EXPECT_EQ(call.run(), testCase.error) << testCase.what;
        if (testCase.error != PIXFOLD_OK) {
            EXPECT_EQ(call.records, std::vector<std::uint8_t>(64, 0xEE)) << testCase.what;
            EXPECT_EQ(call.alpha, std::vector<std::uint8_t>(64, 0xEE)) << testCase.what;
        }
    }
}

TEST(Api, DecodeRefusesBadArgumentsBeforeWriting) {
    const std::vector<std::uint8_t> records(16);
    const std::vector<std::uint8_t> alpha(16);
    struct Case {
        const char* what;
        pixfold_format format;
        std::size_t recordsSize, alphaSize, rgbStride, rgbSize, keyStride, keySize;
        bool key, alphaGiven;
        pixfold_error error;
    };
    const Case cases[] = {
        {"as given", PIXFOLD_FORMAT_E888ALPHA, 16, 16, 6, 12, 2, 4, true, true, PIXFOLD_OK},
        {"records short", PIXFOLD_FORMAT_E888ALPHA, 15, 16, 6, 12, 2, 4, true, true,
         PIXFOLD_ERROR_BUFFER_TOO_SMALL},
        {"alpha short", PIXFOLD_FORMAT_E888ALPHA, 16, 15, 6, 12, 2, 4, true, true,
         PIXFOLD_ERROR_BUFFER_TOO_SMALL},
        {"no alpha", PIXFOLD_FORMAT_E888ALPHA, 16, 16, 6, 12, 2, 4, true, false,
         PIXFOLD_ERROR_NULL_POINTER},
        {"no alpha needed without a key plane", PIXFOLD_FORMAT_E888ALPHA, 16, 0, 6, 12, 2, 4, false,
         false, PIXFOLD_OK},
        {"pixels short", PIXFOLD_FORMAT_E888, 16, 0, 6, 11, 2, 4, false, false,
         PIXFOLD_ERROR_BUFFER_TOO_SMALL},
        {"pixel stride short", PIXFOLD_FORMAT_E888, 16, 0, 5, 12, 2, 4, false, false,
         PIXFOLD_ERROR_STRIDE},
        {"key plane short", PIXFOLD_FORMAT_E655Z, 16, 0, 6, 12, 3, 4, true, false,
         PIXFOLD_ERROR_BUFFER_TOO_SMALL},
        {"key plane of e655", PIXFOLD_FORMAT_E655, 8, 0, 6, 12, 2, 4, true, false,
         PIXFOLD_ERROR_NO_KEY_VALUE},
        {"format 4", outOfRange<pixfold_format>(4), 16, 0, 6, 12, 2, 4, false, false,
         PIXFOLD_ERROR_UNKNOWN_FORMAT},
    };
    for (const Case& c : cases) {
        std::vector<std::uint8_t> rgb(12, 0xEE);
        std::vector<std::uint8_t> key(4, 0xEE);
        EXPECT_EQ(pixfold_decode(records.data(), c.recordsSize,
                                 c.alphaGiven ? alpha.data() : nullptr, c.alphaSize, c.format,
                                 rgb.data(), c.rgbStride, c.rgbSize, c.key ? key.data() : nullptr,
                                 c.keyStride, c.keySize, 2, 2, 0, 0),
                  c.error)
            << c.what;
        if (c.error != PIXFOLD_OK) {
            EXPECT_EQ(rgb, std::vector<std::uint8_t>(12, 0xEE)) << c.what;
            EXPECT_EQ(key, std::vector<std::uint8_t>(4, 0xEE)) << c.what;
        }
    }
}

TEST(Api, FormatsByNameAndSize) {
    const char* const names[] = {"e655", "e655Z", "e888", "e888Alpha"};
    const std::size_t sizes[] = {2, 4, 4, 4};
    for (int i = 0; i < 4; ++i) {
        const auto format = static_cast<pixfold_format>(i);
        EXPECT_STREQ(pixfold_format_name(format), names[i]);
        EXPECT_EQ(pixfold_record_size(format), sizes[i]);
        pixfold_format found = PIXFOLD_FORMAT_E655;
        EXPECT_EQ(pixfold_format_from_name(names[i], &found), PIXFOLD_OK);
        EXPECT_EQ(found, format);
    }
    pixfold_format unchanged = PIXFOLD_FORMAT_E655Z;
    EXPECT_EQ(pixfold_format_from_name("E888", &unchanged), PIXFOLD_ERROR_UNKNOWN_FORMAT);
    EXPECT_EQ(unchanged, PIXFOLD_FORMAT_E655Z);
    EXPECT_EQ(pixfold_format_name(outOfRange<pixfold_format>(4)), nullptr);
    EXPECT_EQ(pixfold_record_size(PIXFOLD_FORMAT_ENUM_MAX), 0u);
    EXPECT_STREQ(pixfold_version(), PIXFOLD_VERSION_STRING);
    EXPECT_STREQ(pixfold_strerror(outOfRange<pixfold_error>(99)), "unknown error");
}

} // namespace
} // namespace pixfold

namespace pixfold {
namespace {

// The maximum-value check reads every colour sample of every row, and only
// those: padding between rows and alpha bytes may hold anything.
TEST(Api, EverySampleOfEveryRowIsHeldToTheMaximum) {
    struct Case {
        pixfold_layout layout;
        std::size_t at; // of a byte set to 9, in 3 rows of 4 pixels, stride 4 pixels + 2
        pixfold_error error;
    };
    const std::size_t rgbStride = 14;
    const std::size_t rgbaStride = 18;
    const Case cases[] = {
        {PIXFOLD_LAYOUT_RGB24, 0, PIXFOLD_ERROR_SAMPLE_EXCEEDS_MAX},
        {PIXFOLD_LAYOUT_RGB24, 2 * rgbStride + 11, PIXFOLD_ERROR_SAMPLE_EXCEEDS_MAX},
        {PIXFOLD_LAYOUT_RGB24, rgbStride + 7, PIXFOLD_ERROR_SAMPLE_EXCEEDS_MAX},
        {PIXFOLD_LAYOUT_RGB24, rgbStride + 12, PIXFOLD_OK}, // padding
        {PIXFOLD_LAYOUT_BGR24, 2 * rgbStride + 10, PIXFOLD_ERROR_SAMPLE_EXCEEDS_MAX},
        {PIXFOLD_LAYOUT_GRAY8, 2 * 6 + 3, PIXFOLD_ERROR_SAMPLE_EXCEEDS_MAX},
        {PIXFOLD_LAYOUT_GRAY8, 6 + 4, PIXFOLD_OK}, // padding
        {PIXFOLD_LAYOUT_RGBA32, 2 * rgbaStride + 14, PIXFOLD_ERROR_SAMPLE_EXCEEDS_MAX},
        {PIXFOLD_LAYOUT_RGBA32, 2 * rgbaStride + 15, PIXFOLD_OK}, // alpha
        {PIXFOLD_LAYOUT_BGRA32, rgbaStride + 8, PIXFOLD_ERROR_SAMPLE_EXCEEDS_MAX},
    };
    for (const Case& c : cases) {
        const std::size_t pixelSize = pixfold_layout_pixel_size(c.layout);
        const std::size_t stride = 4 * pixelSize + 2;
        std::vector<std::uint8_t> pixels(3 * stride, 8);
        pixels[c.at] = 9;
        std::vector<std::uint8_t> records(48);
        pixfold_settings settings;
        pixfold_settings_init(&settings);
        EXPECT_EQ(pixfold_encode(pixels.data(), stride, pixels.size(), c.layout, records.data(),
                                 records.size(), nullptr, 0, 4, 3, 8, &settings),
                  c.error)
            << "layout " << c.layout << ", byte " << c.at;
    }
}

TEST(Api, SizesAtTheirEdges) {
    constexpr std::uint64_t most = SIZE_MAX;
    struct Case {
        const char* what;
        pixfold_error (*size)(std::int32_t, std::int32_t, size_t*);
        std::int32_t width, height;
        std::uint64_t bytes; // fits in size_t where it is at most SIZE_MAX
        pixfold_error error;
    };
    const auto e888 = [](std::int32_t w, std::int32_t h, size_t* b) {
        return pixfold_records_size(PIXFOLD_FORMAT_E888, w, h, b);
    };
    const auto e655 = [](std::int32_t w, std::int32_t h, size_t* b) {
        return pixfold_records_size(PIXFOLD_FORMAT_E655, w, h, b);
    };
    const auto alpha = [](std::int32_t w, std::int32_t h, size_t* b) {
        return pixfold_alpha_size(PIXFOLD_FORMAT_E888ALPHA, w, h, b);
    };
    const auto noAlpha = [](std::int32_t w, std::int32_t h, size_t* b) {
        return pixfold_alpha_size(PIXFOLD_FORMAT_E655Z, w, h, b);
    };
    const auto rgba64 = [](std::int32_t w, std::int32_t h, size_t* b) {
        return pixfold_pixels_size(PIXFOLD_LAYOUT_RGBA64, w, h, 0, b);
    };
    const auto padded = [](std::int32_t w, std::int32_t h, size_t* b) {
        return pixfold_pixels_size(PIXFOLD_LAYOUT_RGB24, w, h, SIZE_MAX / 2, b);
    };
    const std::int32_t big = INT32_MAX;
    const Case cases[] = {
        {"e888 3 x 2", e888, 3, 2, 24, PIXFOLD_OK},
        {"e655 3 x 2", e655, 3, 2, 12, PIXFOLD_OK},
        {"e888 0 x 5", e888, 0, 5, 0, PIXFOLD_OK},
        {"e888 65536 x 16384", e888, 65536, 16384, std::uint64_t{1} << 32, PIXFOLD_OK},
        {"e888 65535 x 16384", e888, 65535, 16384, (std::uint64_t{1} << 32) - 65536, PIXFOLD_OK},
        {"e888 largest", e888, big, big, std::uint64_t{big} * big * 4, PIXFOLD_OK},
        {"e888 negative width", e888, -1, 2, 0, PIXFOLD_ERROR_DIMENSIONS},
        {"e888 negative height", e888, 2, INT32_MIN, 0, PIXFOLD_ERROR_DIMENSIONS},
        {"alpha 3 x 2", alpha, 3, 2, 24, PIXFOLD_OK},
        {"no alpha", noAlpha, big, big, 0, PIXFOLD_OK},
        {"RGBA64 3 x 2", rgba64, 3, 2, 48, PIXFOLD_OK},
        {"RGBA64 0 x 3", rgba64, 0, 3, 0, PIXFOLD_OK},
        {"RGBA64 largest: past 64 bits", rgba64, big, big, 0, PIXFOLD_ERROR_TOO_LARGE},
        {"RGBA64 2^31 - 1 x 2^30", rgba64, big, 1 << 30, std::uint64_t{big} << 33, PIXFOLD_OK},
        {"a stride of half of size_t, 2 rows", padded, 1, 2, most / 2 + 3, PIXFOLD_OK},
        {"a stride of half of size_t, 3 rows", padded, 1, 3, 0, PIXFOLD_ERROR_TOO_LARGE},
    };
    for (const Case& c : cases) {
        size_t bytes = 7;
        pixfold_error wanted = c.error;
        if (wanted == PIXFOLD_OK && c.bytes > most) {
            wanted = PIXFOLD_ERROR_TOO_LARGE; // a 32-bit host
        }
        EXPECT_EQ(c.size(c.width, c.height, &bytes), wanted) << c.what;
        EXPECT_EQ(bytes, wanted == PIXFOLD_OK ? c.bytes : 7u) << c.what;
    }
    size_t bytes = 0;
    EXPECT_EQ(pixfold_records_size(PIXFOLD_FORMAT_E888, 1, 1, nullptr), PIXFOLD_ERROR_NULL_POINTER);
    EXPECT_EQ(pixfold_records_size(PIXFOLD_FORMAT_ENUM_MIN, 1, 1, &bytes),
              PIXFOLD_ERROR_UNKNOWN_FORMAT);
    EXPECT_EQ(pixfold_alpha_size(outOfRange<pixfold_format>(4), 1, 1, &bytes),
              PIXFOLD_ERROR_UNKNOWN_FORMAT);
    EXPECT_EQ(pixfold_pixels_size(outOfRange<pixfold_layout>(-1), 1, 1, 0, &bytes),
              PIXFOLD_ERROR_UNKNOWN_LAYOUT);
    EXPECT_EQ(pixfold_pixels_size(PIXFOLD_LAYOUT_RGB24, 4, 2, 11, &bytes), PIXFOLD_ERROR_STRIDE);
    EXPECT_EQ(pixfold_pixels_size(PIXFOLD_LAYOUT_RGB24, 4, 1, 11, &bytes), PIXFOLD_OK);
    EXPECT_EQ(bytes, 12u);
}

// A later library adds fields at the end of pixfold_settings. Here this one
// is the older party: a struct grown by a field, read from a caller that
// knows only the fields before it, keeps the new field's default; and a
// newer caller's struct is read when its new fields ask for nothing.
TEST(Api, SettingsGrowWithoutBreakingOlderOrNewerCallers) {
    struct Grown {
        pixfold_settings known;
        std::uint32_t added;
    };
    Grown ours{};
    ours.added = 77; // the default of the added field
    pixfold_settings older;
    pixfold_settings_init(&older);
    older.format = PIXFOLD_FORMAT_E655Z;
    ASSERT_TRUE(readSized(&older, older.size, &ours, sizeof ours, sizeof older));
    EXPECT_EQ(ours.known.format, PIXFOLD_FORMAT_E655Z);
    EXPECT_EQ(ours.added, 77u);
    EXPECT_FALSE(readSized(&older, sizeof older - 1, &ours, sizeof ours, sizeof older));

    std::vector<std::uint8_t> pixel = {200, 100, 50};
    std::vector<std::uint8_t> record(4);
    struct Newer {
        pixfold_settings known;
        std::uint64_t later;
    };
    Newer newer{};
    pixfold_settings_init_sized(&newer.known, sizeof newer);
    EXPECT_EQ(newer.known.size, sizeof newer);
    EXPECT_EQ(newer.known.format, PIXFOLD_FORMAT_E888);
    EXPECT_EQ(pixfold_encode(pixel.data(), 3, 3, PIXFOLD_LAYOUT_RGB24, record.data(), 4, nullptr, 0,
                             1, 1, 255, &newer.known),
              PIXFOLD_OK);
    EXPECT_EQ(record, (std::vector<std::uint8_t>{0x7B, 0xAF, 0x5C, 0}));
    newer.later = 1; // something this library can't do
    EXPECT_EQ(pixfold_encode(pixel.data(), 3, 3, PIXFOLD_LAYOUT_RGB24, record.data(), 4, nullptr, 0,
                             1, 1, 255, &newer.known),
              PIXFOLD_ERROR_SETTINGS_SIZE);
}

TEST(Api, EveryErrorHasItsOwnText) {
    std::vector<std::string> texts;
    for (int error = PIXFOLD_OK; error <= PIXFOLD_ERROR_OVERLAP; ++error) {
        texts.emplace_back(pixfold_strerror(outOfRange<pixfold_error>(error)));
        EXPECT_NE(texts.back(), "unknown error") << error;
    }
    std::sort(texts.begin(), texts.end());
    EXPECT_EQ(std::unique(texts.begin(), texts.end()), texts.end());
    for (const int unknown : {-1, INT_MIN, PIXFOLD_ERROR_OVERLAP + 1, INT_MAX}) {
        EXPECT_STREQ(pixfold_strerror(outOfRange<pixfold_error>(unknown)), "unknown error");
    }
}

// Decoding to each layout gives RGB24's samples in the layout's order, and
// for RGBA32 and BGRA32 the key plane as alpha (255 where the format has no
// key values), on every path.
class ApiDecodeOnPath : public testing_support::OnEveryPath {};
PIXFOLD_ON_EVERY_PATH(ApiDecodeOnPath);

TEST_P(ApiDecodeOnPath, EachLayoutHoldsTheSamplesAndKeyPlane) {
    constexpr std::size_t pixels = 4103; // vector steps and a tail
    std::vector<std::uint8_t> records(pixels * 4);
    std::vector<std::uint8_t> alpha(pixels * 4);
    std::uint64_t state = 5;
    for (std::uint8_t* bytes : {records.data(), alpha.data()}) {
        for (std::size_t i = 0; i < pixels * 4; ++i) {
            state = state * 6364136223846793005u + 1442695040888963407u;
            bytes[i] = static_cast<std::uint8_t>(i % 12 < 4 ? 0 : state >> 56); // some keys 0
        }
    }
    for (const OutputFormat format : allFormats) {
        const bool keyed = isKeyedFormat(format);
        const std::uint8_t* keys =
            format == OutputFormat::e888Alpha ? alpha.data() : records.data();
        // Without -1 the wanted value plays no part, even when it is not 0.
        const std::uint32_t keyOfPixelOne = std::uint32_t{keys[4]} << 24 |
                                            std::uint32_t{keys[5]} << 16 |
                                            std::uint32_t{keys[6]} << 8 | keys[7];
        for (const auto& [matchGiven, wanted] :
             {std::pair{false, 0u}, std::pair{false, 0x2Au}, std::pair{true, 0u},
              std::pair{true, keyOfPixelOne}}) {
            KeyPlaneTest test{!matchGiven, wanted};
            std::vector<std::uint8_t> rgb(pixels * 3);
            std::vector<std::uint8_t> key(pixels, 255);
            decodeRecords(records.data(), pixels, makeDecodePlan(format, Path::portable),
                          rgb.data());
            if (keyed) {
                decodeKeyPlane(keys, pixels, format, test, key.data(), Path::portable);
            }
            for (const PixelLayout layout : {PixelLayout::rgb24, PixelLayout::bgr24,
                                             PixelLayout::rgba32, PixelLayout::bgra32}) {
                const std::size_t size = pixelBytes(layout);
                std::vector<std::uint8_t> out(pixels * size);
                decodeRecords(records.data(), pixels, makeDecodePlan(format, path(), layout, test),
                              out.data(), keyed ? keys : nullptr);
                std::size_t wrong = 0;
                for (std::size_t i = 0; i < pixels; ++i) {
                    const std::uint8_t* pixel = &out[i * size];
                    wrong += static_cast<std::size_t>(
                        pixel[redByte(layout)] != rgb[i * 3] ||
                        pixel[greenByte(layout)] != rgb[i * 3 + 1] ||
                        pixel[blueByte(layout)] != rgb[i * 3 + 2] ||
                        (hasAlpha(layout) && pixel[alphaByte(layout)] != key[i]));
                }
                EXPECT_EQ(wrong, 0u)
                    << formatName(format) << ", layout " << static_cast<int>(layout)
                    << (matchGiven ? ", -1 " : ", wanted ") << wanted;
            }
        }
    }
}

TEST(Api, DecodeToRefusesLayoutsItDoesNotWrite) {
    std::vector<std::uint8_t> records(16);
    std::vector<std::uint8_t> out(64, 0xEE);
    const auto decode = [&](pixfold_format format, pixfold_layout layout, const std::uint8_t* alpha,
                            std::uint8_t* into) {
        return pixfold_decode_to(records.data(), records.size(), alpha, 16, format, into, layout, 8,
                                 32, nullptr, 0, 0, 2, 2, 0, 0);
    };
    EXPECT_EQ(decode(PIXFOLD_FORMAT_E888, PIXFOLD_LAYOUT_GRAY8, nullptr, out.data()),
              PIXFOLD_ERROR_UNKNOWN_LAYOUT);
    EXPECT_EQ(decode(PIXFOLD_FORMAT_E888, PIXFOLD_LAYOUT_RGB48, nullptr, out.data()),
              PIXFOLD_ERROR_UNKNOWN_LAYOUT);
    EXPECT_EQ(decode(PIXFOLD_FORMAT_E888, outOfRange<pixfold_layout>(-7), nullptr, out.data()),
              PIXFOLD_ERROR_UNKNOWN_LAYOUT);
    EXPECT_EQ(decode(PIXFOLD_FORMAT_ENUM_MIN, PIXFOLD_LAYOUT_RGBA32, nullptr, out.data()),
              PIXFOLD_ERROR_UNKNOWN_FORMAT);
    // RGBA32 of e888Alpha takes its alpha from the alpha values.
    EXPECT_EQ(decode(PIXFOLD_FORMAT_E888ALPHA, PIXFOLD_LAYOUT_RGBA32, nullptr, out.data()),
              PIXFOLD_ERROR_NULL_POINTER);
    EXPECT_EQ(decode(PIXFOLD_FORMAT_E888, PIXFOLD_LAYOUT_RGBA32, records.data(), records.data()),
              PIXFOLD_ERROR_OVERLAP);
    EXPECT_EQ(out, std::vector<std::uint8_t>(64, 0xEE));
    EXPECT_EQ(decode(PIXFOLD_FORMAT_E888, PIXFOLD_LAYOUT_BGRA32, nullptr, out.data()), PIXFOLD_OK);
    EXPECT_EQ(out[3], 255); // no key values: opaque
    out.assign(64, 0xEE);
    EXPECT_EQ(pixfold_decode_to(records.data(), 0, nullptr, 0, PIXFOLD_FORMAT_E888, out.data(),
                                PIXFOLD_LAYOUT_RGBA32, 0, 0, nullptr, 0, 0, 0, 2, 0, 0),
              PIXFOLD_OK); // no pixels: nothing to do
    EXPECT_EQ(out, std::vector<std::uint8_t>(64, 0xEE));
}

} // namespace
} // namespace pixfold
