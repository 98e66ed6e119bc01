// The C API against the tools' own encoder: every colour in every layout on
// every path, the key by alpha, decode, and the argument checks.
#include "api/api_paths.h"
#include "encode/encoder.h"
#include "format/formats.h"
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

// How a layout's pixels lie in rows: 256 rows, or padded, rows 3 bytes longer
// than their pixels and 4096 pixels long (longer than the API's runs of 1024).
// With the key by alpha, every seventh pixel has alpha 0 and takes the match
// value. The formats: all four where the API hands rows to the tools' loop as
// they are; elsewhere the layout's own handling is format-blind but for the
// key, so one format, or the two keyed ones.
struct LayoutCase {
    pixfold_layout layout;
    bool padded;
    bool keyTransparent;
    std::vector<OutputFormat> formats;
};

// One block of colours (one red's 65536, or the 256 greys) as the tools read
// them, and the records the tools' loop writes of them on one path; the rest
// are buffers for the API's call, allocated once.
struct Block {
    std::size_t pixels = 0;
    std::vector<std::uint8_t> rgb = std::vector<std::uint8_t>(std::size_t{65536} * 3);
    std::vector<std::uint8_t> records[4];
    std::vector<std::uint8_t> alpha = std::vector<std::uint8_t>(std::size_t{65536} * 4);
    std::vector<std::uint8_t> source = std::vector<std::uint8_t>(std::size_t{65536} * 5);
    std::vector<std::uint8_t> apiRecords = std::vector<std::uint8_t>(std::size_t{65536} * 4);
    std::vector<std::uint8_t> apiAlpha = std::vector<std::uint8_t>(std::size_t{65536} * 4);
};

int checkCase(const LayoutCase& c, Block& block, Path path) {
    const std::size_t pixels = block.pixels;
    const std::size_t width = pixels == 256 ? 1 : (c.padded ? 4096 : 256);
    const std::size_t height = pixels / width;
    const std::size_t pixelSize = pixfold_layout_pixel_size(c.layout);
    const std::size_t stride = width * pixelSize + (c.padded ? 3 : 0);
    std::uint8_t* source = block.source.data();
    for (std::size_t i = 0; i < pixels; ++i) {
        putPixel(&source[i / width * stride + i % width * pixelSize], c.layout, block.rgb[i * 3],
                 block.rgb[i * 3 + 1], block.rgb[i * 3 + 2], i % 7 == 0 ? 0 : 200);
    }
    int mismatches = 0;
    for (const OutputFormat format : c.formats) {
        const std::size_t bytes = pixels * recordBytes(format);
        const pixfold_settings settings = keyedSettings(format, c.keyTransparent);
        EXPECT_EQ(encodeOnPath(path, source, stride, stride * height, c.layout,
                               block.apiRecords.data(), bytes, block.apiAlpha.data(), pixels * 4,
                               static_cast<std::int32_t>(width), static_cast<std::int32_t>(height),
                               255, &settings),
                  PIXFOLD_OK);
        // Pixels keyed by alpha hold the match value 0x0A0D0A0D, the others
        // what the tools wrote.
        bool same = true;
        const std::uint8_t* want = block.records[static_cast<int>(format)].data();
        for (std::size_t i = 0; i < pixels; ++i) {
            const bool transparent = c.keyTransparent && i % 7 == 0;
            const std::size_t size = recordBytes(format);
            const std::size_t kept = transparent && format == OutputFormat::e655Z ? 2 : size;
            same = same && std::memcmp(&block.apiRecords[i * size], want + i * size, kept) == 0 &&
                   (kept == size || std::memcmp(&block.apiRecords[i * 4 + 2], "\x0A\x0D", 2) == 0);
            if (writesAlphaStream(format)) {
                same = same &&
                       std::memcmp(&block.apiAlpha[i * 4],
                                   transparent
                                       ? reinterpret_cast<const std::uint8_t*>("\x0A\x0D\x0A\x0D")
                                       : &block.alpha[i * 4],
                                   4) == 0;
            }
        }
        if (!same) {
            ++mismatches;
            ADD_FAILURE() << "layout " << c.layout << (c.padded ? ", padded" : "")
                          << (c.keyTransparent ? ", keyed by alpha, " : ", ") << formatName(format)
                          << ", colour " << +block.rgb[0] << "," << +block.rgb[1] << ","
                          << +block.rgb[2] << " onwards";
        }
    }
    return mismatches;
}

TEST(Api, EveryColourInEveryLayoutOnEveryPathGivesTheToolsBytes) {
    const std::vector<OutputFormat> all(std::begin(allFormats), std::end(allFormats));
    const std::vector<OutputFormat> keyed = {OutputFormat::e655Z, OutputFormat::e888Alpha};
    const LayoutCase cases[] = {
        {PIXFOLD_LAYOUT_RGB24, false, false, all},
        {PIXFOLD_LAYOUT_RGB24, true, false, {OutputFormat::e655}},
        {PIXFOLD_LAYOUT_BGR24, true, false, {OutputFormat::e888}},
        {PIXFOLD_LAYOUT_RGBA32, true, true, keyed},
        {PIXFOLD_LAYOUT_BGRA32, false, false, {OutputFormat::e888Alpha}},
        {PIXFOLD_LAYOUT_GRAY8, true, false, all},
    };
    for (const Path path : allPaths) {
        if (!pathAvailable(path)) {
            continue;
        }
        SCOPED_TRACE(pathName(path));
        Block block;
        int mismatches = 0;
        for (int red = -1; red < 256 && mismatches < 3; ++red) { // -1: the greys
            const std::size_t pixels = red < 0 ? 256 : 65536;
            block.pixels = pixels;
            for (std::size_t i = 0; i < pixels; ++i) {
                block.rgb[i * 3] = static_cast<std::uint8_t>(red < 0 ? i : std::size_t(red));
                block.rgb[i * 3 + 1] = static_cast<std::uint8_t>(red < 0 ? i : i / 256);
                block.rgb[i * 3 + 2] = static_cast<std::uint8_t>(red < 0 ? i : i % 256);
            }
            for (const OutputFormat format : allFormats) {
                const pixfold_settings settings = keyedSettings(format, false);
                ConversionSettings tool;
                tool.format = format;
                tool.keyEnabled = true;
                tool.keyColour = settings.key_colour;
                tool.matchValue = settings.match_value;
                tool.noMatchValue = settings.no_match_value;
                std::vector<std::uint8_t>& records = block.records[static_cast<int>(format)];
                records.resize(pixels * recordBytes(format));
                encodePixels(block.rgb.data(), pixels, makeEncodePlan(tool, 255, path),
                             records.data(), block.alpha.data());
            }
            for (const LayoutCase& c : cases) {
                if ((c.layout == PIXFOLD_LAYOUT_GRAY8) == (red < 0)) {
                    mismatches += checkCase(c, block, path);
                }
            }
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
