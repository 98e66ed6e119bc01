// PNG input and output through the built tools: every colour type, bit depth,
// tRNS and interlacing against the PAM pngtopam makes of the same file,
// damaged files, streams of PNGs, pipes read no further than IEND, and
// pixunfold's PNGs decoded again.
#include "png/png_codec.h"
#include "support/files.h"
#include "support/formula.h"
#include "support/png_maker.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <string>
#include <tuple>
#include <vector>

#if PIXFOLD_TEST_SPNG
#include <spng.h>
#endif

namespace pixfold {
namespace {

using namespace testing_support;

constexpr char notBuilt[] = "PNG input needs a pixfold built with PNG support\n";

class PngFiles : public testing::Test {
  protected:
    void shell(const std::string& command) {
        ProcessSetup setup;
        setup.useEmulator = false;
        setup.workingDirectory = folder.path("");
        const ProcessRun run = runProcess("sh", {"-ec", command}, setup);
        ASSERT_EQ(run.status, 0) << command << ": " << run.standardError;
    }

    // Status, message, records and alpha stream of one run.
    struct Output {
        int status;
        std::string message;
        Bytes records;
        Bytes alpha;
        bool operator==(const Output& other) const {
            return status == other.status && message == other.message && records == other.records &&
                   alpha == other.alpha;
        }
    };
    Output convert(std::vector<std::string> options, const std::string& input) {
        std::remove(folder.path("out.yuv").c_str());
        std::remove(folder.path("out.alpha").c_str());
        options.insert(options.end(),
                       {"-a", folder.path("out.alpha"), input, folder.path("out.yuv")});
        const ToolRun run = runTool(options);
        return {run.status, run.standardError, readFile(folder.path("out.yuv")),
                readFile(folder.path("out.alpha"))};
    }

    ScratchFolder folder;
};

bool netpbmInstalled() {
    return onPath("pngtopam") && onPath("pnmtopng");
}

// pngtopam ignores an RGB image's colour key; the PAM then gets alpha 0
// where the pixel is that colour, as pixfold reads it.
Bytes keyRgbPam(const Bytes& pam, const std::vector<std::uint16_t>& key, int depth) {
    const std::string text(pam.begin(), pam.end());
    const std::size_t raster = text.find("ENDHDR\n") + 7;
    const std::size_t sampleBytes = depth == 16 ? 2 : 1;
    std::string header = text.substr(0, raster);
    const bool hadAlpha = header.find("RGB_ALPHA") != std::string::npos;
    if (!hadAlpha) {
        header.replace(header.find("DEPTH 3"), 7, "DEPTH 4");
        header.replace(header.find("TUPLTYPE RGB"), 12, "TUPLTYPE RGB_ALPHA");
    }
    const std::size_t inPixel = (hadAlpha ? 4 : 3) * sampleBytes;
    Bytes out = bytesOf(header);
    for (std::size_t at = raster; at < pam.size(); at += inPixel) {
        bool keyed = true;
        for (std::size_t c = 0; c < 3; ++c) {
            const unsigned sample =
                depth == 16 ? pam[at + 2 * c] * 256u + pam[at + 2 * c + 1] : pam[at + c];
            keyed = keyed && sample == key[c];
        }
        out.insert(out.end(), pam.begin() + static_cast<long>(at),
                   pam.begin() + static_cast<long>(at + 3 * sampleBytes));
        const std::uint8_t alpha = keyed ? 0 : 0xFF;
        out.insert(out.end(), sampleBytes, alpha);
    }
    return out;
}

TEST_F(PngFiles, EveryColourTypeDepthAndTransparencyGivesTheRecordsOfPngtopamsPam) {
    if (!pngBuilt || !netpbmInstalled()) {
        GTEST_SKIP() << "needs PNG support and netpbm";
    }
    struct Type {
        int colourType;
        std::vector<int> depths;
        bool transparency; // the type may have a tRNS chunk
    };
    const std::vector<Type> types = {
        {0, {1, 2, 4, 8, 16}, true}, {2, {8, 16}, true},  {3, {1, 2, 4, 8}, true},
        {4, {8, 16}, false},         {6, {8, 16}, false},
    };
    const std::vector<std::pair<int, int>> sizes = {{1, 1}, {7, 3}, {1000, 7}};
    std::uint32_t seed = 2463534242u;
    int compared = 0;
    for (const Type& type : types) {
        for (const int depth : type.depths) {
            for (const bool transparent : {false, true}) {
                for (const bool interlaced : {false, true}) {
                    for (const auto& [width, height] : sizes) {
                        if (transparent && !type.transparency) {
                            continue;
                        }
                        PngPicture picture =
                            randomPicture(type.colourType, depth, width, height, seed++);
                        picture.interlaced = interlaced;
                        if (transparent) {
                            picture.transparency = transparencyOf(picture);
                        }
                        const std::string name = pngCaseName(picture);
                        writeFile(folder.path(name + ".png"), makePng(picture, 1000));
                        std::string command = "pngtopam -alphapam " + name;
                        command += ".png > " + name + ".pam";
                        shell(command);
                        if (type.colourType == 2 && transparent) {
                            writeFile(folder.path(name + ".pam"),
                                      keyRgbPam(readFile(folder.path(name + ".pam")),
                                                picture.samples, depth));
                        }
                        // -m keys the first pixel's colour as it is read: its
                        // samples, or its palette entry.
                        char key[16] = "000001";
                        if (type.colourType == 3) {
                            const auto& entry = picture.palette[picture.samples[0]];
                            std::snprintf(key, sizeof key, "%02x%02x%02x", unsigned{entry[0]},
                                          unsigned{entry[1]}, unsigned{entry[2]});
                        } else if (depth <= 8) {
                            const bool grey = type.colourType == 0 || type.colourType == 4;
                            std::snprintf(key, sizeof key, "%02x%02x%02x",
                                          unsigned{picture.samples[0]},
                                          unsigned{picture.samples[grey ? 0 : 1]},
                                          unsigned{picture.samples[grey ? 0 : 2]});
                        }
                        for (const char* format : {"e888", "e655", "e655Z", "e888Alpha"}) {
                            const std::vector<std::string> options = {
                                "-f", format, "-m", key, "-t", "-1", "a1b2c3d4", "-0", "5"};
                            const Output fromPng = convert(options, folder.path(name + ".png"));
                            EXPECT_TRUE(fromPng == convert(options, folder.path(name + ".pam")))
                                << name << " " << format << ": " << fromPng.message;
                            ++compared;
                        }
                    }
                }
            }
        }
    }
    EXPECT_EQ(compared, 26 * 2 * 3 * 4);
}

TEST_F(PngFiles, FilteredAndCompressedAsEncodersWriteThem) {
    if (!pngBuilt || !netpbmInstalled()) {
        GTEST_SKIP() << "needs PNG support and netpbm";
    }
    // A picture with smooth and random parts, so that every filter has its use.
    Bytes samples;
    std::uint32_t seed = 7;
    for (int y = 0; y < 67; ++y) {
        for (int x = 0; x < 301; ++x) {
            const bool noisy = (x / 50 + y / 20) % 2 == 0;
            samples.push_back(
                static_cast<std::uint8_t>(noisy ? nextRandom(seed) : static_cast<unsigned>(x)));
            samples.push_back(
                static_cast<std::uint8_t>(noisy ? nextRandom(seed) : static_cast<unsigned>(y * 3)));
            samples.push_back(static_cast<std::uint8_t>(x + y));
        }
    }
    writeFile(folder.path("in.ppm"), ppmImage(301, 67, samples));
    shell("ppmtopgm in.ppm > mask.pgm; pnmtopng -alpha=mask.pgm in.ppm > rgba.png;"
          "pnmtopng -interlace -alpha=mask.pgm in.ppm > rgba-adam7.png;"
          "ppmtopgm in.ppm | pnmtopng -interlace > grey-adam7.png;"
          "pnmquant 50 in.ppm 2>/dev/null | pnmtopng -transparent=rgb:00/00/00 > palette.png");
    for (const char* name : {"rgba", "rgba-adam7", "grey-adam7", "palette"}) {
        shell(std::string("pngtopam -alphapam ") + name + ".png > " + name + ".pam");
        for (const char* format : {"e888", "e888Alpha"}) {
            const std::vector<std::string> options = {"-t", "-f", format, "-1", "ff"};
            const Output fromPng = convert(options, folder.path(std::string(name) + ".png"));
            EXPECT_EQ(fromPng.status, 0) << name << ": " << fromPng.message;
            EXPECT_TRUE(fromPng == convert(options, folder.path(std::string(name) + ".pam")))
                << name << " " << format;
        }
    }
}

// 16-bit PNGs against the formula written out: every grey level, and random
// RGB colours, every seventh the key colour 12ff00 at 65535 (s = c * 257).
TEST_F(PngFiles, SixteenBitSamplesGiveTheFormulasCodes) {
    if (!pngBuilt) {
        GTEST_SKIP() << "needs PNG support";
    }
    PngPicture grey = randomPicture(0, 16, 256, 256, 1);
    PngPicture rgb = randomPicture(2, 16, 7, 143, 2);
    rgb.interlaced = true;
    for (std::size_t i = 0; i < grey.samples.size(); ++i) {
        grey.samples[i] = static_cast<std::uint16_t>(i);
    }
    for (std::size_t i = 0; i < rgb.samples.size(); i += 21) {
        rgb.samples[i] = 0x1212;
        rgb.samples[i + 1] = 0xFFFF;
        rgb.samples[i + 2] = 0;
    }
    for (const PngPicture* picture : {&grey, &rgb}) {
        const int channels = channelsOf(picture->colourType);
        Bytes records;
        Bytes alpha;
        for (std::size_t i = 0; i < picture->samples.size();
             i += static_cast<std::size_t>(channels)) {
            const int r = picture->samples[i];
            const int g = picture->samples[i + static_cast<std::size_t>((channels - 1) / 2)];
            const int b = picture->samples[i + static_cast<std::size_t>(channels - 1)];
            const YCrCbCodes codes = plainSteps(r, g, b, 65535);
            records.insert(records.end(),
                           {static_cast<std::uint8_t>(codes.y), static_cast<std::uint8_t>(codes.cr),
                            static_cast<std::uint8_t>(codes.cb), 0});
            const std::uint8_t keyed = r == 0x1212 && g == 0xFFFF && b == 0 ? 0xFF : 0;
            alpha.insert(alpha.end(), {0, 0, 0, keyed});
        }
        writeFile(folder.path("in.png"), makePng(*picture, 5000));
        const Output run =
            convert({"-f", "e888Alpha", "-m", "12ff00", "-1", "ff"}, folder.path("in.png"));
        EXPECT_EQ(run.status, 0) << run.message;
        EXPECT_TRUE(run.records == records) << picture->colourType;
        EXPECT_TRUE(run.alpha == alpha) << picture->colourType;
    }
}

// The cases a damaged file can make, each against a good PNG of 2 IDAT chunks.
TEST_F(PngFiles, DamagedPngsFailWithOneLineAndLeaveTheOutputs) {
    // The reasons that are pixfold's own, after "PNG file '<path>' is damaged: ";
    // the others are the decoder's.
    const std::map<std::string, std::string> reasons = {
        {"header-crc", "invalid chunk checksum"},
        {"cut-in-first-idat", "it ends before its IEND chunk"},
        {"cut-between-idats", "it ends before its IEND chunk"},
        {"cut-in-last-idat", "it ends before its IEND chunk"},
        {"no-iend", "it ends before its IEND chunk"},
        {"cut-in-iend-crc", "it ends before its IEND chunk"},
        {"palette-index", "a pixel's palette index is past the palette's end"},
    };
    const std::string damaged = "is damaged: ";
    const std::string input = folder.path("in.png");
    const std::string output = folder.path("out.yuv");
    Bytes huge;
    for (const DamagedPng& c : damagedPngs()) {
        writeFile(input, c.bytes);
        writeFile(output, bytesOf("previous"));
        const ToolRun run = runTool({"-f", "e888Alpha", "-a", folder.path("a"), input, output});
        EXPECT_EQ(run.status, 1) << c.name;
        std::string expected = notBuilt;
        if (pngBuilt) {
            expected = "PNG file '" + input + "' ";
            expected += damaged;
        }
        EXPECT_EQ(run.standardError.rfind(expected, 0), 0u) << c.name << ": " << run.standardError;
        if (pngBuilt && reasons.count(c.name) > 0) {
            EXPECT_EQ(run.standardError, expected + reasons.at(c.name) + "\n") << c.name;
        }
        EXPECT_EQ(std::count(run.standardError.begin(), run.standardError.end(), '\n'), 1);
        EXPECT_EQ(readFile(output), bytesOf("previous")) << c.name;
        EXPECT_FALSE(std::filesystem::exists(folder.path("a"))) << c.name;
        huge = c.name == "huge-header" ? c.bytes : huge;
    }
    // Bounded memory: the huge header's run stays far below one of its rows.
    writeFile(input, huge);
    ProcessSetup setup;
    const ProcessRun run = runProcess(PIXFOLD_EXECUTABLE, {input, output}, setup);
    EXPECT_LT(run.peakKilobytes, 40 * 1024);
    // Not PNG after all: 0x89 and something else, or too little of anything.
    Bytes otherSignature = undamagedPng();
    otherSignature[3] = 'X';
    for (const Bytes& bytes : {otherSignature, Bytes{0x89, 'P', 'N', 'G'}}) {
        writeFile(input, bytes);
        EXPECT_EQ(runTool({input, output}).standardError, "Wrong input format\n");
    }
}

// The checks a backend given the whole PNG makes of its chunks (Windows'),
// case by case against the tools built here, which read chunk by chunk with
// libspng: a file one refuses the other refuses, and a file with a chunk
// passed over reads as the file without it, in its header and its records.
TEST_F(PngFiles, WholePngChunkChecksAgreeWithTheDecoder) {
    PngPicture palette = randomPicture(3, 4, 9, 5, 41);
    palette.transparency = transparencyOf(palette);
    PngPicture rgb = randomPicture(2, 16, 6, 3, 42);
    rgb.transparency = transparencyOf(rgb);
    const Bytes text = pngChunk("tEXt", concatenate({bytesOf("Comment"), Bytes{0, 'x'}}));
    const Bytes trns = pngChunk("tRNS", palette.transparency);
    const auto png = [](PngPicture picture, auto change) {
        change(picture);
        return makePng(picture, 20);
    };
    const auto same = [](PngPicture&) {};
    const auto untransparent = [](PngPicture& p) { p.transparency.clear(); };
    // The IHDR chunk's data edited, its CRC made anew.
    const auto header = [&](std::size_t at, std::uint8_t value) {
        Bytes bytes = makePng(rgb);
        bytes[16 + at] = value;
        const Bytes chunk = pngChunk("IHDR", Bytes(bytes.begin() + 16, bytes.begin() + 29));
        std::copy(chunk.begin(), chunk.end(), bytes.begin() + 8);
        return bytes;
    };
    const Bytes good = png(palette, same);
    const auto moved = [&](const char* type, std::size_t to) { // a chunk of good moved
        const auto at = std::search(good.begin(), good.end(), type, type + 4) - 4;
        const auto length = static_cast<long>(trns.size());
        Bytes bytes(good.begin(), at);
        bytes.insert(bytes.end(), at + length, good.end());
        bytes.insert(bytes.begin() + static_cast<long>(to), at, at + length);
        return bytes;
    };
    Bytes flipped = good;
    const std::string tag = "tRNS";
    flipped[static_cast<std::size_t>(std::search(good.begin(), good.end(), tag.begin(), tag.end()) -
                                     good.begin()) +
            4 + palette.transparency.size()] ^= 1;
    struct Case {
        const char* what;
        Bytes bytes;
        Bytes readsAs; // empty: refused
    };
    const PngPicture grey = randomPicture(0, 8, 2, 2, 1);
    const PngPicture rgba = randomPicture(6, 8, 2, 2, 1);
    const std::vector<Case> cases = {
        {"palette, tRNS, IDATs", good, good},
        {"RGB key", png(rgb, same), png(rgb, same)},
        {"ancillary chunks around the image data",
         png(palette, [&](PngPicture& p) { p.beforeImage = p.afterImage = text; }), good},
        {"suggested palette in RGB",
         png(rgb,
             [](PngPicture& p) {
                 p.palette = {{1, 2, 3}};
             }),
         png(rgb,
             [](PngPicture& p) {
                 p.palette = {{1, 2, 3}};
             })},
        {"second tRNS", png(palette, [&](PngPicture& p) { p.beforeImage = pngChunk("tRNS", {9}); }),
         good},
        {"tRNS after the image data",
         png(palette,
             [&](PngPicture& p) {
                 p.transparency.clear();
                 p.afterImage = trns;
             }),
         png(palette, untransparent)},
        {"tRNS before PLTE", moved("tRNS", 33), png(palette, untransparent)},
        {"tRNS past the palette's end",
         png(palette, [](PngPicture& p) { p.transparency.resize(16); }),
         png(palette, untransparent)},
        {"RGB key of 4 bytes", png(rgb, [](PngPicture& p) { p.transparency.resize(4); }),
         png(rgb, untransparent)},
        {"tRNS in RGBA", png(rgba, [](PngPicture& p) { p.transparency = Bytes(8, 0); }),
         png(rgba, same)},
        {"PLTE in a grey image",
         png(grey,
             [](PngPicture& p) {
                 p.palette = {{1, 2, 3}};
             }),
         png(grey, same)},
        {"flipped tRNS CRC", flipped, {}},
        {"second PLTE",
         png(palette,
             [](PngPicture& p) {
                 p.beforeImage = pngChunk("PLTE", {1, 2, 3});
             }),
         {}},
        {"PLTE after the image data",
         png(palette,
             [](PngPicture& p) {
                 p.afterImage = pngChunk("PLTE", {1, 2, 3});
             }),
         {}},
        {"PLTE longer than the depth indexes",
         png(palette, [](PngPicture& p) { p.palette.resize(17); }),
         {}},
        {"PLTE of no whole entry",
         png(rgba,
             [](PngPicture& p) {
                 p.beforeImage = pngChunk("PLTE", {1, 2});
             }),
         {}},
        {"IDATs apart",
         png(palette,
             [&](PngPicture& p) {
                 p.afterImage = concatenate({text, pngChunk("IDAT", {})});
             }),
         {}},
        {"unknown critical chunk",
         png(palette, [](PngPicture& p) { p.beforeImage = pngChunk("ABCD", {}); }),
         {}},
        {"IHDR not first",
         concatenate(
             {Bytes(good.begin(), good.begin() + 8), text, Bytes(good.begin() + 8, good.end())}),
         {}},
        {"filter method 1", header(11, 1), {}},
        {"interlace method 2", header(12, 2), {}},
        {"no IDAT",
         concatenate({Bytes(good.begin(), good.begin() + 33), pngChunk("IEND", {})}),
         {}},
        {"no IEND", Bytes(good.begin(), good.end() - 12), {}},
    };
    const auto transparency = [](const PngHeader& h) {
        return std::make_tuple(h.paletteEntries, h.paletteAlphas,
                               Bytes(h.paletteAlpha, h.paletteAlpha + 256), h.colourKey,
                               std::vector<std::uint16_t>(h.keySample, h.keySample + 3));
    };
    const std::vector<std::string> options = {"-t", "-1", "a1b2c3d4", "-0", "5", "-f", "e888Alpha"};
    for (const Case& c : cases) {
        PngHeader parsed;
        PngHeader expected;
        std::uint64_t imageData = 0;
        const Result result = readPngChunks(c.bytes.data(), c.bytes.size(), parsed, imageData);
        writeFile(folder.path("in.png"), c.bytes);
        const Output run = convert(options, folder.path("in.png"));
        if (c.readsAs.empty()) {
            EXPECT_FALSE(succeeded(result)) << c.what;
            EXPECT_EQ(run.status, 1) << c.what;
            continue;
        }
        ASSERT_TRUE(succeeded(result)) << c.what << ": " << result.detail;
        ASSERT_TRUE(
            succeeded(readPngChunks(c.readsAs.data(), c.readsAs.size(), expected, imageData)));
        EXPECT_TRUE(transparency(parsed) == transparency(expected)) << c.what;
        if (pngBuilt) {
            writeFile(folder.path("as.png"), c.readsAs);
            EXPECT_EQ(run.status, 0) << c.what << ": " << run.message;
            EXPECT_TRUE(run == convert(options, folder.path("as.png"))) << c.what;
        }
    }
    // What the header gets: IHDR, PLTE and tRNS as they are, and the image
    // data's length.
    PngHeader parsed;
    std::uint64_t imageData = 0;
    ASSERT_TRUE(succeeded(readPngChunks(good.data(), good.size(), parsed, imageData)));
    EXPECT_EQ(parsed.width, 9u);
    EXPECT_EQ(parsed.height, 5u);
    EXPECT_EQ(parsed.bitDepth, 4);
    EXPECT_EQ(parsed.colourType, 3);
    EXPECT_EQ(parsed.paletteEntries, 15);
    EXPECT_EQ(parsed.palette[14][1], palette.palette[14][1]);
    EXPECT_EQ(parsed.paletteAlphas, 8);
    EXPECT_EQ(parsed.paletteAlpha[7], palette.transparency[7]);
    EXPECT_EQ(imageData, 2u + 5 + 5 * (1 + 5) + 4); // zlib header, a stored block, Adler-32
    PngPicture interlaced = rgb;
    interlaced.interlaced = true;
    const Bytes keyed = makePng(interlaced);
    ASSERT_TRUE(succeeded(readPngChunks(keyed.data(), keyed.size(), parsed, imageData)));
    EXPECT_TRUE(parsed.interlaced && parsed.colourKey);
    EXPECT_EQ(parsed.keySample[2], rgb.samples[2]);
    EXPECT_EQ(parsed.bitDepth, 16);
}

// The image data's least length: a deflate stream makes at most 1032 bytes
// of one, so a tiny file that claims a huge image is refused before a
// decoder allocates it; every real PNG passes.
TEST(PngImageDataSize, IsCheckedAgainstDeflatesDensestCoding) {
    PngHeader header; // 8-bit grey, rows of 3 bytes with the filter byte: 12384 bytes
    header.width = 2;
    header.height = 4128;
    header.colourType = 0;
    PngLayout layout;
    ASSERT_TRUE(succeeded(decidePngLayout(header, layout)));
    EXPECT_TRUE(succeeded(checkImageDataSize(layout, 12)));
    EXPECT_FALSE(succeeded(checkImageDataSize(layout, 11)));
    // Interlaced, each even row is two scanlines of a pixel: 14448 bytes.
    header.interlaced = true;
    ASSERT_TRUE(succeeded(decidePngLayout(header, layout)));
    EXPECT_FALSE(succeeded(checkImageDataSize(layout, 13)));
    EXPECT_TRUE(succeeded(checkImageDataSize(layout, 14)));
}

TEST_F(PngFiles, TooWideAndTooLargeInterlacedSayWhatToDo) {
    if (!pngBuilt) {
        GTEST_SKIP() << "needs PNG support";
    }
    const std::string input = folder.path("in.png");
    const std::string output = folder.path("out.yuv");
    const auto header = [&](std::uint32_t width, std::uint32_t height, bool interlaced) {
        return concatenate(
            {Bytes{0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'},
             pngChunk("IHDR",
                      {static_cast<std::uint8_t>(width >> 24),
                       static_cast<std::uint8_t>(width >> 16),
                       static_cast<std::uint8_t>(width >> 8), static_cast<std::uint8_t>(width), 0,
                       static_cast<std::uint8_t>(height >> 16),
                       static_cast<std::uint8_t>(height >> 8), static_cast<std::uint8_t>(height), 8,
                       6, 0, 0, static_cast<std::uint8_t>(interlaced ? 1 : 0)}),
             pngChunk("IDAT", {0x78, 0x01}), pngChunk("IEND", {})});
    };
    writeFile(input, header(1000001, 1, false));
    EXPECT_EQ(runTool({input, output}).standardError,
              "PNG file '" + input +
                  "' is wider than 1000000 pixels, which pixfold does not read\n");
    // 16384 x 16385 RGBA is just over 1 GiB; 16384 x 16384 is within.
    writeFile(input, header(16384, 16385, true));
    EXPECT_EQ(runTool({input, output}).standardError,
              "PNG file '" + input +
                  "' is interlaced and over 1 GiB decoded: de-interlace it first (pngtopam "
                  "-alphapam in.png | pixfold - out.yuv)\n");
    writeFile(input, header(16384, 16384, true));
    const ProcessRun within = runProcess(PIXFOLD_EXECUTABLE, {input, output});
    EXPECT_NE(within.standardError.find("is damaged"), std::string::npos);
    EXPECT_LT(within.peakKilobytes, 40 * 1024);
    EXPECT_FALSE(std::filesystem::exists(output));
}

// Animated PNG chunks around a default image: acTL before it, a frame after.
PngPicture animated(PngPicture picture) {
    picture.beforeImage = pngChunk("acTL", {0, 0, 0, 2, 0, 0, 0, 0});
    picture.afterImage = pngChunk("fcTL", Bytes(26, 0));
    return picture;
}

TEST_F(PngFiles, StreamsOfPngsAndNetpbmImagesAndAnimatedPngs) {
    if (!pngBuilt) {
        EXPECT_EQ(runTool({"-s", "-", folder.path("o")},
                          [&] {
                              writeFile(folder.path("in.png"),
                                        makePng(randomPicture(2, 8, 2, 2, 1)));
                              ProcessSetup setup;
                              setup.standardInput = folder.path("in.png");
                              return setup;
                          }())
                      .standardError,
                  notBuilt);
        return;
    }
    PngPicture interlaced = randomPicture(6, 8, 9, 5, 3);
    interlaced.interlaced = true;
    const std::vector<Bytes> images = {
        makePng(randomPicture(2, 8, 3, 2, 1)),
        ppmImage(2, 1, {1, 2, 3, 4, 5, 6}),
        makePng(interlaced, 50),
        makePng(animated(randomPicture(0, 2, 4, 4, 4))),
        makePng(randomPicture(3, 1, 5, 1, 5)),
        makePng(animated(randomPicture(0, 2, 4, 4, 6))), // said once a stream
    };
    Bytes expected;
    for (std::size_t i = 0; i < images.size(); ++i) {
        const std::string frame = folder.path("frame" + std::to_string(i));
        writeFile(frame, images[i]);
        const ToolRun one = runTool({"-f", "e655", frame, folder.path("one.yuv")});
        EXPECT_EQ(one.status, 0) << i << one.standardError;
        expected = concatenate({expected, readFile(folder.path("one.yuv"))});
    }
    const std::string stream = folder.path("stream");
    const std::string output = folder.path("out.yuv");
    writeFile(stream, concatenate(images));
    const std::string notice =
        "Only the default image of the animated PNG '-' was converted, none of its other frames\n";
    ProcessSetup fromStream;
    fromStream.standardInput = stream;
    ToolRun run = runTool({"-s", "-f", "e655", "-", output}, fromStream);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.standardError, notice + "Image 2 is 2x1, image 1 was 3x2: the records of this "
                                          "stream can't be split into equal frames\n");
    EXPECT_EQ(readFile(output), expected);
    // Without -s: the first image of a regular file, and a notice when a
    // Netpbm image (a PAM too) or a PNG follows it.
    const Bytes pam = bytesOf("P7\nWIDTH 1\nHEIGHT 1\nDEPTH 1\nMAXVAL 9\nENDHDR\n\1");
    for (const Bytes& second : {images[1], pam, images[0]}) {
        writeFile(stream, concatenate({images[0], second}));
        run = runTool({"-f", "e655", stream, output});
        EXPECT_EQ(run.standardError,
                  "Only the first image was converted; -s converts every image\n");
        EXPECT_EQ(readFile(output), Bytes(expected.begin(), expected.begin() + 12));
    }
    // A damaged PNG in the middle of the stream: no output at all.
    Bytes broken = images[2];
    broken[broken.size() - 20] ^= 1;
    writeFile(stream, concatenate({images[0], broken, images[1]}));
    writeFile(output, bytesOf("previous"));
    run = runTool({"-s", stream, output});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(readFile(output), bytesOf("previous"));
}

TEST_F(PngFiles, APipeIsReadNoFurtherThanIend) {
    if (!pngBuilt) {
        GTEST_SKIP() << "needs PNG support";
    }
    const Bytes png = makePng(randomPicture(6, 8, 20, 20, 8), 300);
    const std::string output = folder.path("out.yuv");
    // Every byte already in the pipe as pixfold starts reading.
    int pipeEnds[2];
    ASSERT_EQ(pipe(pipeEnds), 0);
    const Bytes both = concatenate({png, bytesOf("REST")});
    ASSERT_EQ(write(pipeEnds[1], both.data(), both.size()), static_cast<ssize_t>(both.size()));
    close(pipeEnds[1]);
    ProcessSetup fromPipe;
    fromPipe.standardInputDescriptor = pipeEnds[0];
    EXPECT_EQ(runTool({"-", output}, fromPipe).status, 0);
    char rest[8] = {};
    EXPECT_EQ(read(pipeEnds[0], rest, sizeof rest), 4);
    EXPECT_EQ(std::string(rest), "REST");
    close(pipeEnds[0]);
    // As a shell runs it, the bytes coming as they are written.
    writeFile(folder.path("in.png"), png);
    ProcessSetup host;
    host.useEmulator = false;
    const std::string script = "in=$1 out=$2; shift 2; (cat \"$in\"; sleep 0.2; printf REST) "
                               "| { \"$@\" - \"$out\"; cat; }";
    std::vector<std::string> words = {"-c", script, "sh", folder.path("in.png"), output};
    const std::vector<std::string> tool = targetCommand(PIXFOLD_EXECUTABLE);
    words.insert(words.end(), tool.begin(), tool.end());
    const ProcessRun shell = runProcess("sh", words, host);
    EXPECT_EQ(shell.standardOutput, "REST");
}

#if PIXFOLD_TEST_SPNG
// A PNG file's pixels as libspng decodes them to 8-bit samples of its own
// kind (RGB or grey), with its width and height, or nothing.
struct Decoded {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    int colourType = -1;
    Bytes samples;
};

Decoded decodePng(const Bytes& file) {
    Decoded decoded;
    spng_ctx* context = spng_ctx_new(0);
    spng_ihdr ihdr{};
    std::size_t size = 0;
    if (spng_set_png_buffer(context, file.data(), file.size()) == 0 &&
        spng_get_ihdr(context, &ihdr) == 0) {
        const int format =
            ihdr.color_type == SPNG_COLOR_TYPE_GRAYSCALE ? SPNG_FMT_G8 : SPNG_FMT_RGB8;
        if (spng_decoded_image_size(context, format, &size) == 0) {
            decoded.samples.resize(size);
            if (spng_decode_image(context, decoded.samples.data(), size, format, 0) == 0) {
                decoded.width = ihdr.width;
                decoded.height = ihdr.height;
                decoded.colourType = ihdr.color_type;
            }
        }
    }
    spng_ctx_free(context);
    return decoded;
}

// The raster of a binary PPM or PGM that pixunfold wrote (header of 3 lines).
Bytes rasterOf(const Bytes& netpbm) {
    std::size_t at = 0;
    for (int lines = 0; lines < 3; ++at) {
        lines += netpbm[at] == '\n' ? 1 : 0;
    }
    return Bytes(netpbm.begin() + static_cast<long>(at), netpbm.end());
}

#endif

TEST_F(PngFiles, UnfoldWritesPngsWhereThePathSaysSo) {
    const std::string picture = folder.path("in.ppm");
    Bytes samples;
    std::uint32_t seed = 5;
    for (int i = 0; i < 70 * 9 * 3; ++i) {
        samples.push_back(static_cast<std::uint8_t>(i % 7 == 0 ? 0 : nextRandom(seed)));
    }
    writeFile(picture, ppmImage(70, 9, samples));
    const std::string records = folder.path("in.yuv");
    ASSERT_EQ(runTool({"-f", "e655Z", "-m", "000000", "-1", "ff", picture, records}).status, 0);
    const std::vector<std::string> unfold = {"-f", "e655Z", "-k"};
    const auto run = [&](const std::string& keyPlane, const std::string& out) {
        std::vector<std::string> arguments = unfold;
        arguments.insert(arguments.end(), {keyPlane, "70", "9", records, out});
        return runUnfold(arguments);
    };
    ASSERT_EQ(run(folder.path("mask.pgm"), folder.path("back.ppm")).status, 0);
    const ToolRun png = run(folder.path("mask.Png"), folder.path("back.PNG"));
    if (!pngBuilt) {
        EXPECT_EQ(png.standardError, "PNG output needs a pixunfold built with PNG support\n");
        EXPECT_TRUE(filesIn(folder.path("")).size() == 4u);
        return;
    }
    ASSERT_EQ(png.status, 0) << png.standardError;
#if PIXFOLD_TEST_SPNG
    const Decoded back = decodePng(readFile(folder.path("back.PNG")));
    EXPECT_EQ(back.colourType, 2);
    EXPECT_EQ(back.width * back.height, 70u * 9u);
    EXPECT_EQ(back.samples, rasterOf(readFile(folder.path("back.ppm"))));
    // Stored, not compressed: 630 bytes of keys, most of them 0, and a
    // filter byte a row.
    EXPECT_GT(readFile(folder.path("mask.Png")).size(), 70u * 9u + 9u);
    const Decoded mask = decodePng(readFile(folder.path("mask.Png")));
    EXPECT_EQ(mask.colourType, 0);
    EXPECT_EQ(mask.samples, rasterOf(readFile(folder.path("mask.pgm"))));
#endif
    // With -s, one whole PNG a frame, which pixfold -s reads back.
    const std::string frames = folder.path("frames.yuv");
    writeFile(frames, concatenate({readFile(records), readFile(records)}));
    ASSERT_EQ(runUnfold({"-s", "-f", "e655Z", "70", "9", frames, folder.path("frames.png")}).status,
              0);
    ASSERT_EQ(runTool({"-s", folder.path("frames.png"), folder.path("again.yuv")}).status, 0);
    ASSERT_EQ(runTool({folder.path("back.PNG"), folder.path("once.yuv")}).status, 0);
    const Bytes once = readFile(folder.path("once.yuv"));
    EXPECT_EQ(readFile(folder.path("again.yuv")), concatenate({once, once}));
    // A write that fails names the path it was given.
    std::filesystem::create_symlink("/dev/full", folder.path("full.png"));
    EXPECT_EQ(runUnfold({"-f", "e655Z", "70", "9", records, folder.path("full.png")}).standardError,
              "Can't write output file '" + folder.path("full.png") +
                  "': No space left on device\n");
    // "-" stays PPM, and so does a name ending in "png" without the dot; a
    // failed run leaves no PNG.
    EXPECT_EQ(runUnfold({"-f", "e655Z", "70", "9", records, "-"}).standardOutput,
              readFile(folder.path("back.ppm")));
    EXPECT_EQ(runUnfold({"-f", "e655Z", "70", "9", records, folder.path("backpng")}).status, 0);
    EXPECT_EQ(readFile(folder.path("backpng")), readFile(folder.path("back.ppm")));
    EXPECT_EQ(runUnfold({"-f", "e655Z", "70", "8", records, folder.path("short.png")}).status, 1);
    EXPECT_FALSE(std::filesystem::exists(folder.path("short.png")));
}

} // namespace
} // namespace pixfold
