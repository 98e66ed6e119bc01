// The C API against the tools' own encoder: every colour in every layout on
// every path, the key by alpha, decode, and the argument checks.
#include "encode/encoder.h"
#include "format/formats.h"
#include "lib/api_paths.h"
#include "pixfold/pixfold.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

namespace pixfold {
namespace {

constexpr OutputFormat allFormats[] = {OutputFormat::e655, OutputFormat::e655Z, OutputFormat::e888,
                                       OutputFormat::e888Alpha};

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

// The samples of one pixel in a layout, and its alpha byte.
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

// One red's 65536 colours (or for GRAY8 the 256 greys) through the API, and
// through encodePixels on the same path as the tool runs it: in 256 rows, or
// padded in rows 3 bytes longer than their pixels, 16 rows of 4096 pixels
// (longer than the API's runs of 1024). With the key by alpha, every seventh
// pixel has alpha 0 and takes the match value.
void checkLayout(pixfold_layout layout, EncodePath path, bool padded, bool keyTransparent) {
    const bool gray = layout == PIXFOLD_LAYOUT_GRAY8;
    const std::size_t pixels = gray ? 256 : 65536;
    const std::size_t width = gray ? 1 : (padded ? 4096 : 256);
    const std::size_t height = pixels / width;
    const std::size_t pixelSize = pixfold_layout_pixel_size(layout);
    const std::size_t stride = width * pixelSize + (padded ? 3 : 0);
    std::vector<std::uint8_t> source(stride * height);
    std::vector<std::uint8_t> rgb(pixels * 3);
    std::vector<std::uint8_t> records(pixels * 4);
    std::vector<std::uint8_t> alpha(pixels * 4);
    std::vector<std::uint8_t> want(pixels * 4);
    std::vector<std::uint8_t> wantAlpha(pixels * 4);
    int mismatches = 0;
    for (int red = 0; red < (gray ? 1 : 256); ++red) {
        for (std::size_t i = 0; i < pixels; ++i) {
            const auto r = static_cast<std::uint8_t>(gray ? i : static_cast<std::size_t>(red));
            const auto g = static_cast<std::uint8_t>(gray ? i : i / 256);
            const auto b = static_cast<std::uint8_t>(gray ? i : i % 256);
            const std::uint8_t a = i % 7 == 0 ? 0 : 200;
            putPixel(&source[i / width * stride + i % width * pixelSize], layout, r, g, b, a);
            rgb[i * 3] = r, rgb[i * 3 + 1] = g, rgb[i * 3 + 2] = b;
        }
        for (const OutputFormat format : allFormats) {
            const pixfold_settings settings = keyedSettings(format, keyTransparent);
            ConversionSettings tool;
            tool.format = format;
            tool.keyEnabled = true;
            tool.keyColour = settings.key_colour;
            tool.matchValue = settings.match_value;
            tool.noMatchValue = settings.no_match_value;
            encodePixels(rgb.data(), pixels, makeEncodePlan(tool, 255, path), want.data(),
                         wantAlpha.data());
            for (std::size_t i = 0; keyTransparent && i < pixels; i += 7) {
                if (format == OutputFormat::e655Z) {
                    want[i * 4 + 2] = 0x0A, want[i * 4 + 3] = 0x0D;
                }
                std::memcpy(&wantAlpha[i * 4], "\x0A\x0D\x0A\x0D", 4);
            }
            ASSERT_EQ(encodeOnPath(path, source.data(), stride, source.size(), layout,
                                   records.data(), pixels * recordBytes(format), alpha.data(),
                                   alpha.size(), static_cast<std::int32_t>(width),
                                   static_cast<std::int32_t>(height), 255, &settings),
                      PIXFOLD_OK);
            const std::size_t bytes = pixels * recordBytes(format);
            const bool same = std::memcmp(records.data(), want.data(), bytes) == 0 &&
                              (!writesAlphaStream(format) || alpha == wantAlpha);
            if (!same && ++mismatches <= 3) {
                ADD_FAILURE() << formatName(format) << ", red " << red;
            }
        }
    }
    EXPECT_EQ(mismatches, 0);
}

TEST(Api, EveryColourInEveryLayoutOnEveryPathGivesTheToolsBytes) {
    struct Case {
        pixfold_layout layout;
        bool padded;
        bool keyTransparent;
    };
    constexpr Case cases[] = {
        {PIXFOLD_LAYOUT_RGB24, false, false},  {PIXFOLD_LAYOUT_RGB24, true, false},
        {PIXFOLD_LAYOUT_BGR24, true, false},   {PIXFOLD_LAYOUT_RGBA32, true, true},
        {PIXFOLD_LAYOUT_BGRA32, false, false}, {PIXFOLD_LAYOUT_GRAY8, true, false},
    };
    for (const EncodePath path : allEncodePaths) {
        if (!encodePathAvailable(path)) {
            continue;
        }
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(encodePathName(path)) + ", layout " +
                         std::to_string(c.layout) + (c.padded ? ", padded" : "") +
                         (c.keyTransparent ? ", keyed by alpha" : ""));
            checkLayout(c.layout, path, c.padded, c.keyTransparent);
        }
    }
}

// One call's arguments, each case changing one, with the error it must give;
// the output buffers must stay as they were.
struct EncodeCall {
    std::vector<std::uint8_t> source = std::vector<std::uint8_t>(64, 9);
    std::size_t stride = 32; // 8 x 2 pixels of RGBA32
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

    pixfold_error run() {
        return pixfold_encode(nullSource ? nullptr : source.data(), stride, sourceSize, layout,
                              nullRecords ? nullptr : records.data(), recordsSize,
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
        {"layout 5", [](EncodeCall& c) { c.layout = outOfRange<pixfold_layout>(5); },
         PIXFOLD_ERROR_UNKNOWN_LAYOUT},
        {"layout ENUM_RANGE", [](EncodeCall& c) { c.layout = PIXFOLD_LAYOUT_ENUM_RANGE; },
         PIXFOLD_ERROR_UNKNOWN_LAYOUT},
        {"format 4", [](EncodeCall& c) { c.settings.format = outOfRange<pixfold_format>(4); },
         PIXFOLD_ERROR_UNKNOWN_FORMAT},
        {"negative height", [](EncodeCall& c) { c.height = -1; }, PIXFOLD_ERROR_DIMENSIONS},
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
    EXPECT_EQ(pixfold_record_size(PIXFOLD_FORMAT_ENUM_RANGE), 0u);
    EXPECT_STREQ(pixfold_version(), PIXFOLD_VERSION_STRING);
    EXPECT_STREQ(pixfold_strerror(outOfRange<pixfold_error>(99)), "unknown error");
}

} // namespace
} // namespace pixfold
