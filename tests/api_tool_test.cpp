// The C API beside the tools: decode gives pixunfold's bytes, the 16-bit
// layouts pixfold's records of 16-bit Netpbm, and PIXFOLD_FORCE_PATH steers
// or stops pixfold.
#include "api/api_paths.h"
#include "cpu/path.h"
#include "pixfold/pixfold.h"
#include "support/files.h"
#include "support/paths.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace pixfold {
namespace {

using namespace testing_support;

// Rows of the picture or key plane, each stride bytes apart, without the
// padding between them.
Bytes unpadded(const Bytes& plane, std::size_t rows, std::size_t rowBytes, std::size_t stride) {
    Bytes packed;
    for (std::size_t row = 0; row < rows; ++row) {
        packed.insert(packed.end(), plane.begin() + static_cast<long>(row * stride),
                      plane.begin() + static_cast<long>(row * stride + rowBytes));
    }
    return packed;
}

TEST(ApiBesideTools, DecodeGivesPixunfoldsPictureAndKeyPlane) {
    ScratchFolder folder;
    constexpr std::size_t width = 64;
    constexpr std::size_t height = 64;
    constexpr std::size_t pixels = width * height;
    struct Case {
        pixfold_format format;
        const char* name;
        bool matchGiven;
    };
    for (const Case c :
         {Case{PIXFOLD_FORMAT_E655Z, "e655Z", false}, Case{PIXFOLD_FORMAT_E655Z, "e655Z", true},
          Case{PIXFOLD_FORMAT_E888ALPHA, "e888Alpha", true}}) {
        SCOPED_TRACE(std::string(c.name) + (c.matchGiven ? " -1 7a0d0a0d" : ""));
        const std::size_t recordSize = pixfold_record_size(c.format);
        Bytes records(pixels * recordSize);
        Bytes alpha(pixels * 4);
        std::uint64_t state = 11;
        for (std::size_t i = 0; i < records.size(); ++i) {
            state = state * 6364136223846793005u + 1442695040888963407u;
            records[i] = static_cast<std::uint8_t>(state >> 56);
        }
        // Key values: random ones, the match value and 0, in turn.
        const std::uint8_t matchBytes[] = {0x7A, 0x0D, 0x0A, 0x0D};
        const std::uint8_t zeroBytes[] = {0, 0, 0, 0};
        const bool inRecord = c.format == PIXFOLD_FORMAT_E655Z;
        for (std::size_t i = 0; i < pixels; ++i) {
            std::uint8_t* keyValue = inRecord ? &records[i * 4 + 2] : &alpha[i * 4];
            const std::uint8_t* given = i % 3 == 0   ? records.data() + i * recordSize
                                        : i % 3 == 1 ? matchBytes + (inRecord ? 2 : 0)
                                                     : zeroBytes;
            std::copy(given, given + (inRecord ? 2 : 4), keyValue);
        }
        writeFile(folder.path("records"), records);
        writeFile(folder.path("alpha"), alpha);
        std::vector<std::string> arguments = {"-f", c.name, "-k", folder.path("key.pgm")};
        if (c.matchGiven) {
            arguments.insert(arguments.end(), {"-1", "7a0d0a0d"});
        }
        if (c.format == PIXFOLD_FORMAT_E888ALPHA) {
            arguments.insert(arguments.end(), {"-a", folder.path("alpha")});
        }
        arguments.insert(arguments.end(), {std::to_string(width), std::to_string(height),
                                           folder.path("records"), folder.path("back.ppm")});
        ASSERT_EQ(runUnfold(arguments).status, 0);
        // e655Z's picture rows padded and its key plane's back to back; the
        // other way round for the others.
        const bool padded = c.format == PIXFOLD_FORMAT_E655Z;
        const std::size_t rgbStride = width * 3 + (padded ? 5 : 0);
        const std::size_t keyStride = width + (padded ? 0 : 1);
        Bytes rgb(rgbStride * height);
        Bytes key(keyStride * height);
        ASSERT_EQ(pixfold_decode(records.data(), records.size(), alpha.data(), alpha.size(),
                                 c.format, rgb.data(), rgbStride, rgb.size(), key.data(), keyStride,
                                 key.size(), width, height, c.matchGiven ? 1 : 0, 0x7A0D0A0D),
                  PIXFOLD_OK);
        const std::string header = "P6\n64 64\n255\n";
        EXPECT_EQ(readFile(folder.path("back.ppm")),
                  concatenate({bytesOf(header), unpadded(rgb, height, width * 3, rgbStride)}));
        EXPECT_EQ(
            readFile(folder.path("key.pgm")),
            concatenate({bytesOf("P5\n64 64\n255\n"), unpadded(key, height, width, keyStride)}));
    }
}

// Sets an environment variable for the tools the test starts, and removes it.
struct ScopedVariable {
    ScopedVariable(const char* variable, const char* value) : name(variable) {
        ::setenv(name, value, 1);
    }
    ~ScopedVariable() { ::unsetenv(name); }
    ScopedVariable(const ScopedVariable&) = delete;
    ScopedVariable& operator=(const ScopedVariable&) = delete;
    const char* name;
};

TEST(ApiBesideTools, ForcedPathSteersPixfoldAndPixunfold) {
    pathChoice(); // this process keeps its own choice
    ScratchFolder folder;
    Bytes samples(std::size_t{3} * 4096);
    for (std::size_t i = 0; i < samples.size(); ++i) {
        samples[i] = static_cast<std::uint8_t>(i * 7 + i / 3);
    }
    writeFile(folder.path("in.ppm"), ppmImage(64, 64, samples));
    ASSERT_EQ(runTool({"-f", "e655Z", folder.path("in.ppm"), folder.path("fastest")}).status, 0);
    ASSERT_EQ(
        runUnfold({"-f", "e655Z", "64", "64", folder.path("fastest"), folder.path("back")}).status,
        0);
    for (const Path path : allPaths) {
        if (pathAvailable(path)) {
            const ScopedVariable forced("PIXFOLD_FORCE_PATH", std::string(pathName(path)).c_str());
            EXPECT_EQ(runTool({"-f", "e655Z", folder.path("in.ppm"), folder.path("forced")}).status,
                      0);
            EXPECT_EQ(readFile(folder.path("forced")), readFile(folder.path("fastest")))
                << pathName(path);
            EXPECT_EQ(runUnfold({"-f", "e655Z", "64", "64", folder.path("forced"),
                                 folder.path("forced-back")})
                          .status,
                      0);
            EXPECT_EQ(readFile(folder.path("forced-back")), readFile(folder.path("back")))
                << pathName(path);
        }
    }
    // Set but empty, it forces nothing.
    const ScopedVariable empty("PIXFOLD_FORCE_PATH", "");
    EXPECT_EQ(runTool({"-f", "e655Z", folder.path("in.ppm"), folder.path("unforced")}).status, 0);
    EXPECT_EQ(readFile(folder.path("unforced")), readFile(folder.path("fastest")));
}

// Set in the environment of this test program started anew: the API test
// below runs, and checks that each entry refuses the forced path.
constexpr const char* refusalProbe = "PIXFOLD_TEST_EXPECT_REFUSAL";

TEST(ApiBesideTools, EveryEntryRefusesAnUnusableForcedPath) {
    if (std::getenv(refusalProbe) != nullptr) { // the started copy: the API's two entries
        EXPECT_EQ(pixfold_encode_path(), nullptr);
        pixfold_settings settings;
        pixfold_settings_init(&settings);
        std::uint8_t pixel[3] = {};
        std::uint8_t record[4] = {};
        EXPECT_EQ(pixfold_encode(pixel, 3, 3, PIXFOLD_LAYOUT_RGB24, record, 4, nullptr, 0, 1, 1,
                                 255, &settings),
                  PIXFOLD_ERROR_PATH_UNAVAILABLE);
        EXPECT_EQ(pixfold_decode(record, 4, nullptr, 0, PIXFOLD_FORMAT_E888, pixel, 3, 3, nullptr,
                                 0, 0, 1, 1, 0, 0),
                  PIXFOLD_ERROR_PATH_UNAVAILABLE);
        return;
    }
    ScratchFolder folder;
    writeFile(folder.path("in.ppm"), ppmImage(2, 2, Bytes(12, 9)));
    writeFile(folder.path("in.yuv"), Bytes(16, 0x80));
    // A name no processor runs, and each path this one lacks.
    std::vector<std::string> unusable = {"sse9"};
    for (const Path path : allPaths) {
        if (!pathAvailable(path)) {
            unusable.emplace_back(pathName(path));
        }
    }
    for (const std::string& name : unusable) {
        SCOPED_TRACE(name);
        const ScopedVariable forced("PIXFOLD_FORCE_PATH", name.c_str());
        const std::string message = "PIXFOLD_FORCE_PATH='" + name +
                                    "': not portable, avx2 or avx512, or not on this processor\n";
        for (const ToolRun& run :
             {runTool({folder.path("in.ppm"), folder.path("out")}),
              runUnfold({"2", "2", folder.path("in.yuv"), folder.path("out")})}) {
            EXPECT_EQ(run.status, 1);
            EXPECT_EQ(run.standardError, message);
        }
        EXPECT_FALSE(std::filesystem::exists(folder.path("out")));
        const ScopedVariable probe(refusalProbe, "1");
        const ToolRun api =
            toToolRun(runProcess(std::filesystem::read_symlink("/proc/self/exe").string(),
                                 {"--gtest_filter=ApiBesideTools.EveryEntryRefuses*"}));
        EXPECT_EQ(api.status, 0) << api.standardError
                                 << std::string(api.standardOutput.begin(),
                                                api.standardOutput.end());
    }
}

// RGB48 and RGBA64 give the records pixfold writes of the same 16-bit
// samples from a PPM and a PAM with alpha (-t), on every path.
class SixteenBitLayoutOnPath : public OnEveryPath {};
PIXFOLD_ON_EVERY_PATH(SixteenBitLayoutOnPath);

TEST_P(SixteenBitLayoutOnPath, GivesTheToolsRecords) {
    ScratchFolder folder;
    constexpr int pixels = 1000;
    for (const int maxValue : {65535, 1000, 255}) {
        SCOPED_TRACE(maxValue);
        Bytes ppm =
            bytesOf("P6 " + std::to_string(pixels) + " 1 " + std::to_string(maxValue) + "\n");
        Bytes pam = bytesOf("P7\nWIDTH " + std::to_string(pixels) + "\nHEIGHT 1\nDEPTH 4\nMAXVAL " +
                            std::to_string(maxValue) + "\nTUPLTYPE RGB_ALPHA\nENDHDR\n");
        const bool wide = maxValue > 255;
        std::vector<std::uint16_t> rgb;
        std::vector<std::uint16_t> rgba;
        std::uint32_t state = 7;
        for (int i = 0; i < pixels * 4; ++i) {
            state = state * 1103515245u + 12345u;
            auto sample =
                static_cast<std::uint16_t>((state >> 8) % static_cast<std::uint32_t>(maxValue + 1));
            if (i % 4 == 3) {
                sample = i % 20 == 3 ? 0 : sample; // every fifth pixel transparent
            } else if (i / 4 % 9 == 0) {
                sample = static_cast<std::uint16_t>(i % 4 == 1 ? maxValue : 0); // the key colour
            }
            for (Bytes* image : {&ppm, &pam}) {
                if (image == &ppm && i % 4 == 3) {
                    continue;
                }
                if (wide) {
                    image->push_back(static_cast<std::uint8_t>(sample >> 8));
                }
                image->push_back(static_cast<std::uint8_t>(sample));
            }
            (i % 4 == 3 ? rgba : (rgb.push_back(sample), rgba)).push_back(sample);
        }
        writeFile(folder.path("in.ppm"), ppm);
        writeFile(folder.path("in.pam"), pam);
        for (const bool withAlpha : {false, true}) {
            const std::vector<std::string> options = {"-f",     "e888Alpha", "-m",
                                                      "00ff00", "-1",        "a0d0a0d"};
            std::vector<std::string> arguments = options;
            if (withAlpha) {
                arguments.push_back("-t");
            }
            arguments.insert(arguments.end(),
                             {folder.path(withAlpha ? "in.pam" : "in.ppm"), folder.path("out")});
            const ToolRun run = runTool(arguments);
            ASSERT_EQ(run.status, 0) << run.standardError;
            pixfold_settings settings;
            pixfold_settings_init(&settings);
            settings.format = PIXFOLD_FORMAT_E888ALPHA;
            settings.key_enabled = 1;
            settings.key_colour = 0x00FF00;
            settings.match_value = 0x0A0D0A0D;
            settings.key_transparent = withAlpha ? 1 : 0;
            std::vector<std::uint8_t> records(static_cast<std::size_t>(pixels) * 4);
            std::vector<std::uint8_t> alphaValues(static_cast<std::size_t>(pixels) * 4);
            const std::vector<std::uint16_t>& samples = withAlpha ? rgba : rgb;
            const pixfold_layout layout = withAlpha ? PIXFOLD_LAYOUT_RGBA64 : PIXFOLD_LAYOUT_RGB48;
            ASSERT_EQ(encodeOnPath(path(), reinterpret_cast<const std::uint8_t*>(samples.data()),
                                   samples.size() * 2, samples.size() * 2, layout, records.data(),
                                   records.size(), alphaValues.data(), alphaValues.size(), pixels,
                                   1, maxValue, &settings),
                      PIXFOLD_OK);
            EXPECT_EQ(records, readFile(folder.path("out"))) << withAlpha;
            EXPECT_EQ(alphaValues, run.standardOutput) << withAlpha;
        }
    }
}

} // namespace
} // namespace pixfold
