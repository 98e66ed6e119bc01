// End-to-end runs of pixunfold on what pixfold wrote.
#include "tool_support.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

namespace pixfold {
namespace {

using namespace testing_support;

// 4 x 2 pixels; magenta is the key colour, at pixels 1, 4 and 6.
const Bytes samples = {255, 0, 0,   255, 0,   255, 0,   255, 0,   0,   0,   255,
                       255, 0, 255, 128, 128, 128, 255, 0,   255, 200, 100, 50};
const Bytes keyMask = {0, 255, 0, 0, 255, 0, 255, 0};

Bytes withoutHeader(const Bytes& file, std::size_t headerSize) {
    return file.size() < headerSize
               ? Bytes{}
               : Bytes(file.begin() + static_cast<long>(headerSize), file.end());
}

class Unfold : public testing::Test {
  protected:
    void SetUp() override { writeFile(input, ppmImage(4, 2, samples)); }

    ScratchFolder folder;
    std::string input = folder.path("in.ppm");
    std::string records = folder.path("records.bin");
    std::string alpha = folder.path("alpha.bin");
    std::string picture = folder.path("back.ppm");
    std::string mask = folder.path("mask.pgm");
};

TEST_F(Unfold, PictureComesBackCloseToTheSource) {
    for (const char* format : {"e888", "e655"}) {
        ASSERT_EQ(runTool({"-f", format, input, records}).status, 0);
        const ToolRun run = runUnfold({"-f", format, "4", "2", records, picture});
        EXPECT_EQ(run.status, 0) << format;
        EXPECT_EQ(run.standardError, "") << format;
        const Bytes back = readFile(picture);
        const std::string header = "P6\n4 2\n255\n";
        ASSERT_EQ(back.size(), header.size() + samples.size()) << format;
        EXPECT_EQ(Bytes(back.begin(), back.begin() + static_cast<long>(header.size())),
                  bytesOf(header));
        const int tolerance = std::string(format) == "e888" ? 4 : 14;
        for (std::size_t i = 0; i < samples.size(); ++i) {
            EXPECT_LE(std::abs(back[header.size() + i] - samples[i]), tolerance)
                << format << " " << i;
        }
    }
}

TEST_F(Unfold, KeyPlaneOfE655ZIsTheKeyColourMask) {
    ASSERT_EQ(
        runTool({"-f", "e655Z", "-m", "ff00ff", "-1", "1ff", "-0", "7", input, records}).status, 0);
    EXPECT_EQ(
        runUnfold({"-f", "e655Z", "-k", mask, "-1", "1ff", "4", "2", records, picture}).status, 0);
    EXPECT_EQ(readFile(mask), [] {
        Bytes expected = bytesOf("P5\n4 2\n255\n");
        expected.insert(expected.end(), keyMask.begin(), keyMask.end());
        return expected;
    }());
    // A -1 value wider than 16 bits compares by the low 16 bits pixfold kept.
    EXPECT_EQ(
        runUnfold({"-f", "e655Z", "-k", mask, "-1", "abcd01ff", "4", "2", records, picture}).status,
        0);
    EXPECT_EQ(withoutHeader(readFile(mask), 11), keyMask);
}

TEST_F(Unfold, KeyPlaneOfE888AlphaComesFromTheAlphaStream) {
    ASSERT_EQ(runTool({"-f", "e888Alpha", "-m", "ff00ff", "-1", "ffffffff", input, records}, alpha)
                  .status,
              0);
    // Without -1 any value but zero matches.
    EXPECT_EQ(
        runUnfold({"-f", "e888Alpha", "-a", alpha, "-k", mask, "4", "2", records, picture}).status,
        0);
    EXPECT_EQ(withoutHeader(readFile(mask), 11), keyMask);
}

TEST_F(Unfold, FailuresAreReportedAndNothingIsWritten) {
    ASSERT_EQ(runTool({"-f", "e655Z", input, records}).status, 0);
    struct Case {
        std::vector<std::string> arguments;
        std::string message;
    };
    const std::vector<Case> cases = {
        {{"-f", "e655", "4", "2", records, picture},
         "Record file '" + records +
             "' does not hold exactly width x height records of its format\n"},
        {{"-f", "e655Z", "4", "3", records, picture},
         "Record file '" + records +
             "' does not hold exactly width x height records of its format\n"},
        {{"-f", "e655Z", "0", "2", records, picture},
         "Invalid width or height '0': a positive decimal number is needed\n"},
        {{"-f", "e655Z", "4", "2x", records, picture},
         "Invalid width or height '2x': a positive decimal number is needed\n"},
        {{"-f", "e888", "-k", mask, "4", "2", records, picture},
         "-k needs a format with a key value: e655Z or e888Alpha\n"},
        {{"-f", "e888Alpha", "-k", mask, "4", "2", records, picture},
         "-k with e888Alpha needs the alpha stream: -a alphafile\n"},
        {{"-f", "e655Z", "4", "2", folder.path("missing"), picture},
         "Can't open input file '" + folder.path("missing") + "'\n"},
        {{"-f", "e655Z", "-1", "zz", "4", "2", records, picture},
         "Invalid hex value 'zz' for -1\n"},
        {{"-f", "e655Z", "4", "2", records, records}, "Input and output are the same file\n"},
    };
    for (const Case& c : cases) {
        const ToolRun run = runUnfold(c.arguments);
        EXPECT_EQ(run.status, 1) << c.message;
        EXPECT_EQ(run.standardError, c.message);
        EXPECT_FALSE(std::filesystem::exists(picture)) << c.message;
    }
}

TEST_F(Unfold, AlphaStreamOfTheWrongSize) {
    ASSERT_EQ(runTool({"-f", "e888Alpha", input, records}, alpha).status, 0);
    writeFile(alpha, Bytes(31, 0));
    const ToolRun run =
        runUnfold({"-f", "e888Alpha", "-a", alpha, "-k", mask, "4", "2", records, picture});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.standardError,
              "Alpha file '" + alpha + "' does not hold exactly 4 bytes per pixel\n");
}

TEST_F(Unfold, UsageForMissingOrUnknownArguments) {
    for (const std::vector<std::string>& arguments : std::vector<std::vector<std::string>>{
             {}, {"4", "2", records}, {"-x", "1", "4", "2", records, picture}, {"-f"}}) {
        const ToolRun run = runUnfold(arguments);
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.standardError.rfind("Usage: pixunfold ", 0), 0u);
    }
}

TEST_F(Unfold, UnwritablePicture) {
    ASSERT_EQ(runTool({input, records}).status, 0);
    const ToolRun full = runUnfold({"4", "2", records, "/dev/full"});
    EXPECT_EQ(full.status, 1);
    EXPECT_EQ(full.standardError, "Can't write output file '/dev/full'\n");
    const std::string nowhere = folder.path("no/such/folder.ppm");
    EXPECT_EQ(runUnfold({"4", "2", records, nowhere}).standardError,
              "Can't open output file '" + nowhere + "'\n");
}

} // namespace
} // namespace pixfold
