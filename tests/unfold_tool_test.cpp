// End-to-end runs of pixunfold on what pixfold wrote.
#include "support/files.h"
#include "support/known_colours.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <csignal>
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
        const int tolerance = std::string(format) == "e888" ? e888Tolerance : e655Tolerance;
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
    const std::string empty = folder.path("empty.bin");
    writeFile(empty, Bytes{});
    struct Case {
        std::vector<std::string> arguments;
        std::string message;
    };
    const std::vector<Case> cases = {
        {{"-f", "e655", "4", "2", records, picture},
         "Record file '" + records +
             "' does not hold exactly width x height records of its format: 32 bytes, "
             "expected 16\n"},
        {{"-f", "e655Z", "4", "3", records, picture},
         "Record file '" + records +
             "' does not hold exactly width x height records of its format: 32 bytes, "
             "expected 48\n"},
        {{"-s", "-f", "e655Z", "3", "2", records, picture},
         "Record file '" + records +
             "' does not hold a whole number of width x height frames: 32 bytes, frames of "
             "24\n"},
        // Measured before the picture is opened.
        {{"-s", "-f", "e655Z", "4", "2", empty, folder.path("no/such/back.ppm")},
         "Record file '" + empty +
             "' does not hold a whole number of width x height frames: 0 bytes, frames of "
             "32\n"},
        {{"-f", "e655Z", "0", "2", records, picture},
         "Invalid width or height '0': a positive decimal number is needed\n"},
        {{"-f", "e655Z", "4", "2x", records, picture},
         "Invalid width or height '2x': a positive decimal number is needed\n"},
        {{"-f", "e888", "-k", mask, "4", "2", records, picture},
         "-k needs a format with a key value: e655Z or e888Alpha\n"},
        {{"-f", "e888Alpha", "-k", mask, "4", "2", records, picture},
         "-k with e888Alpha needs the alpha stream: -a alphafile\n"},
        {{"-f", "e655Z", "4", "2", folder.path("missing"), picture},
         "Can't open input file '" + folder.path("missing") + "': No such file or directory\n"},
        {{"-f", "e655Z", "4", "2", folder.path(""), picture},
         "Can't read input file '" + folder.path("") + "': Is a directory\n"},
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

// Inputs that are not regular files are measured as they are read: extra
// records or alpha values after the last pixel are an error too.
TEST_F(Unfold, ExtraBytesOnAPipeAreAnError) {
    std::signal(SIGPIPE, SIG_IGN);
    ASSERT_EQ(runTool({"-f", "e888Alpha", input, records}, alpha).status, 0);
    const std::string fifo = folder.path("in.fifo");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    Bytes longer = readFile(records);
    longer.insert(longer.end(), 4, 0);
    const StartedProcess writer = feedFifo(fifo, longer);
    ToolRun run = runUnfold({"-f", "e888", "4", "2", fifo, picture});
    finishHelper(writer);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.standardError, "Record file '" + fifo +
                                     "' does not hold exactly width x height records of its "
                                     "format: more than 32 bytes, expected 32\n");
    Bytes alphaLonger = readFile(alpha);
    alphaLonger.push_back(0);
    const StartedProcess alphaWriter = feedFifo(fifo, alphaLonger);
    run = runUnfold({"-f", "e888Alpha", "-a", fifo, "-k", mask, "4", "2", records, picture});
    finishHelper(alphaWriter);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.standardError, "Alpha file '" + fifo +
                                     "' does not hold exactly 4 bytes per pixel: more than 32 "
                                     "bytes, expected 32\n");
    EXPECT_FALSE(std::filesystem::exists(picture));
}

TEST_F(Unfold, NeitherOutputMayBeAnInput) {
    ASSERT_EQ(runTool({"-f", "e888Alpha", input, records}, alpha).status, 0);
    const Bytes before = readFile(alpha);
    for (const std::string& output : {records, alpha}) {
        const ToolRun run =
            runUnfold({"-f", "e888Alpha", "-a", alpha, "-k", output, "4", "2", records, picture});
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.standardError, "Input and output are the same file\n");
    }
    EXPECT_EQ(readFile(alpha), before);
}

TEST_F(Unfold, AlphaStreamOfTheWrongSize) {
    ASSERT_EQ(runTool({"-f", "e888Alpha", input, records}, alpha).status, 0);
    writeFile(alpha, Bytes(31, 0));
    const ToolRun run =
        runUnfold({"-f", "e888Alpha", "-a", alpha, "-k", mask, "4", "2", records, picture});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.standardError,
              "Alpha file '" + alpha +
                  "' does not hold exactly 4 bytes per pixel: 31 bytes, expected 32\n");
}

TEST_F(Unfold, UsageForFewerThanTwoArguments) {
    for (const std::vector<std::string>& arguments :
         std::vector<std::vector<std::string>>{{}, {"-f"}, {"4"}}) {
        const ToolRun run = runUnfold(arguments);
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.standardError.rfind("Usage: pixunfold ", 0), 0u);
        EXPECT_EQ(run.standardError.find("--help"), std::string::npos);
    }
}

TEST_F(Unfold, UnwritablePicture) {
    ASSERT_EQ(runTool({input, records}).status, 0);
    const ToolRun full = runUnfold({"4", "2", records, "/dev/full"});
    EXPECT_EQ(full.status, 1);
    EXPECT_EQ(full.standardError, "Can't write output file '/dev/full': No space left on device\n");
    const std::string nowhere = folder.path("no/such/folder.ppm");
    EXPECT_EQ(runUnfold({"4", "2", records, nowhere}).standardError,
              "Can't open output file '" + nowhere + "': No such file or directory\n");
}

} // namespace
} // namespace pixfold
