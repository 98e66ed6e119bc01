// End-to-end runs of the pixfold executable: files, streams and exit status.
#include "support/files.h"
#include "support/known_colours.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <string>

namespace pixfold {
namespace {

using namespace testing_support;

const std::string usageText =
    "Usage: pixfold [-f <e655|e655Z|e888|e888Alpha> -m RGB] ppmfile yuvfile\n"
    " -f    output format (default: e888)\n"
    " -m    mask value (RGB, hex)\n"
    " -1    Z/Alpha value if mask matches\n"
    " -O    Z/Alpha value if mask doesn't match\n";

using Known = KnownColour;
constexpr std::size_t imageWidth = 7;
constexpr std::size_t imageHeight = 3;

// Visits every known colour in 21 pixels; magenta (255, 0, 255) is the key colour.
const Known& pixelAt(std::size_t index) {
    return knownColours[(index * 4) % knownColourCount];
}

bool isKeyColour(const Known& p) {
    return p.r == 255 && p.g == 0 && p.b == 255;
}

Bytes sevenByThreeImage() {
    Bytes samples(imageWidth * imageHeight * 3);
    for (std::size_t i = 0; i < imageWidth * imageHeight; ++i) {
        samples[i * 3] = pixelAt(i).r;
        samples[i * 3 + 1] = pixelAt(i).g;
        samples[i * 3 + 2] = pixelAt(i).b;
    }
    return ppmImage(static_cast<int>(imageWidth), static_cast<int>(imageHeight), samples);
}

class ToolConversion : public testing::Test {
  protected:
    void SetUp() override { writeFile(input, sevenByThreeImage()); }

    ScratchFolder folder;
    std::string input = folder.path("in.ppm");
    std::string output = folder.path("out.yuv");
};

TEST_F(ToolConversion, E888ByDefault) {
    const ToolRun run = runTool({input, output});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.standardError, "");
    EXPECT_TRUE(run.standardOutput.empty());
    Bytes expected;
    for (std::size_t i = 0; i < imageWidth * imageHeight; ++i) {
        expected.insert(expected.end(), {pixelAt(i).y, pixelAt(i).cr, pixelAt(i).cb, 0});
    }
    EXPECT_EQ(readFile(output), expected);
}

TEST_F(ToolConversion, E655) {
    const ToolRun run = runTool({"-f", "e655", "-m", "ff00ff", "-1", "ff", input, output});
    EXPECT_EQ(run.status, 0);
    Bytes expected;
    for (std::size_t i = 0; i < imageWidth * imageHeight; ++i) {
        const unsigned v = value655(pixelAt(i));
        expected.insert(expected.end(), {std::uint8_t(v >> 8), std::uint8_t(v & 0xFF)});
    }
    EXPECT_EQ(readFile(output), expected);
    EXPECT_EQ(readFile(output).size(), 2u * imageWidth * imageHeight);
}

TEST_F(ToolConversion, E655ZWithKeyColour) {
    const ToolRun run =
        runTool({"-f", "e655Z", "-m", "FF00FF", "-1", "abcd", "-O", "12345678", input, output});
    EXPECT_EQ(run.status, 0);
    Bytes expected;
    for (std::size_t i = 0; i < imageWidth * imageHeight; ++i) {
        const unsigned v = value655(pixelAt(i));
        const unsigned key = isKeyColour(pixelAt(i)) ? 0xABCD : 0x5678;
        expected.insert(expected.end(), {std::uint8_t(v >> 8), std::uint8_t(v & 0xFF),
                                         std::uint8_t(key >> 8), std::uint8_t(key & 0xFF)});
    }
    EXPECT_EQ(readFile(output), expected);
}

TEST_F(ToolConversion, E888AlphaWritesTheAlphaStream) {
    const ToolRun run =
        runTool({"-f", "e888Alpha", "-m", "ff00ff", "-1", "ff", "-0", "0", input, output});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.standardError, "");
    Bytes expectedFile;
    Bytes expectedAlpha;
    for (std::size_t i = 0; i < imageWidth * imageHeight; ++i) {
        expectedFile.insert(expectedFile.end(), {pixelAt(i).y, pixelAt(i).cr, pixelAt(i).cb, 0});
        expectedAlpha.insert(expectedAlpha.end(),
                             {0, 0, 0, std::uint8_t(isKeyColour(pixelAt(i)) ? 0xFF : 0)});
    }
    EXPECT_EQ(readFile(output), expectedFile);
    EXPECT_EQ(run.standardOutput, expectedAlpha);
}

TEST_F(ToolConversion, ExistingOutputIsReplaced) {
    writeFile(output, Bytes(1000, 0x55));
    EXPECT_EQ(runTool({input, output}).status, 0);
    EXPECT_EQ(readFile(output).size(), 4u * imageWidth * imageHeight);
}

TEST_F(ToolConversion, OutputPathMayBeginWithADash) {
    ProcessSetup inFolder;
    inFolder.workingDirectory = folder.path("");
    EXPECT_EQ(runTool({"in.ppm", "-out.yuv"}, inFolder).status, 0);
    EXPECT_EQ(readFile(folder.path("-out.yuv")).size(), 4u * imageWidth * imageHeight);
}

TEST_F(ToolConversion, EmptyImageGivesEmptyOutput) {
    writeFile(input, bytesOf("P6 0 5 255\n"));
    const ToolRun run = runTool({input, output});
    EXPECT_EQ(run.status, 0);
    EXPECT_TRUE(std::filesystem::exists(output));
    EXPECT_TRUE(readFile(output).empty());
}

// A file past 2 GiB (here an image followed by a hole) opens on every host,
// 32-bit ones included.
TEST_F(ToolConversion, InputsPastTwoGigabytesOpen) {
    const Bytes image = ppmImage(1, 1, {1, 2, 3});
    writeFile(input, image);
    ASSERT_EQ(truncate(input.c_str(), (off_t{1} << 31) + 16), 0);
    EXPECT_EQ(runTool({input, output}).status, 0);
    EXPECT_EQ(readFile(output).size(), 4u);
}

// Failures: one line on the right stream, status 1, files as promised.
class ToolFailure : public ToolConversion {};

TEST_F(ToolFailure, UsageWhenArgumentsAreMissing) {
    for (const std::vector<std::string>& arguments :
         std::vector<std::vector<std::string>>{{}, {input}, {"-x"}}) {
        const ToolRun run = runTool(arguments);
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.standardError, usageText);
        EXPECT_TRUE(run.standardOutput.empty());
    }
}

// A mistake in two or more arguments: what was wrong, then the usage text and
// where every option is listed; nothing on standard output, no file touched.
TEST_F(ToolFailure, ArgumentMistakesNameTheProblem) {
    const std::string unfoldUsage = runUnfold({}).standardError;
    struct Case {
        bool unfold;
        std::vector<std::string> arguments;
        std::string problem;
    };
    const Case cases[] = {
        {false, {input, output, "-f", "e655"}, "Unexpected argument '-f' after the output path"},
        {false, {"--format=e655", input, output}, "Unknown long option '--format=e655'"},
        {false, {input, output, "-m"}, "Unexpected argument '-m' after the output path"},
        {false, {"-x", "-y", "-m"}, "Option -m needs a value"},
        {false, {"-f", "e888", input}, "Missing output path"},
        {false, {"-x", "-y", "-z"}, "Missing input and output paths"},
        {true, {"-x", "1", "4", "2", "r", "p"}, "Unknown option '-x'"},
        {true, {"--stream", "4", "2", "r", "p"}, "Unknown long option '--stream'"},
        {true, {"4", "2", "r"}, "Missing picture path"},
        {true, {"-s", "4"}, "Missing height, record file and picture path"},
        {true, {"4", "2", "r", "p", "q"}, "Unexpected argument 'q' after the output path"},
        {true, {"4", "2", "-f"}, "Missing picture path"},
        {true, {"-k", "k", "-f"}, "Option -f needs a value"},
        {true,
         {"-f", "e888Alpha", "-a", "-", "-k", "k", "4", "4", "-", "p"},
         "The record file and the alpha file can't both be standard input"},
    };
    for (const Case& c : cases) {
        const ToolRun run = c.unfold ? runUnfold(c.arguments) : runTool(c.arguments);
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.standardError, c.problem + "\n" + (c.unfold ? unfoldUsage : usageText) +
                                         (c.unfold ? "pixunfold" : "pixfold") +
                                         " --help lists every option\n");
        EXPECT_TRUE(run.standardOutput.empty());
    }
    EXPECT_FALSE(std::filesystem::exists(output));
}

// On standard error, with what was given and what is valid: standard output
// carries data only.
TEST_F(ToolFailure, UnknownFormatSaysWhatIsValid) {
    const std::string valid = ": e655, e655Z, e888 or e888Alpha";
    for (const auto& [arguments, message] :
         std::vector<std::pair<std::vector<std::string>, std::string>>{
             {{"-f", "E655", input, output}, "Unknown format 'E655'" + valid},
             {{"-fe655", input, output, "x"},
              "Unknown format '" + input + "'" + valid +
                  " ('-fe655' takes its value from the next argument)"}}) {
        const ToolRun run = runTool(arguments);
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.standardError, message + "\n");
        EXPECT_TRUE(run.standardOutput.empty());
        const ToolRun unfold = runUnfold({"-f", arguments[1], "4", "4", "r", output});
        EXPECT_EQ(unfold.standardError, "Unknown format '" + arguments[1] + "'" + valid + "\n");
        EXPECT_TRUE(unfold.standardOutput.empty());
    }
    EXPECT_FALSE(std::filesystem::exists(output));
}

TEST_F(ToolFailure, HexValueWithoutDigits) {
    const ToolRun run = runTool({"-m", "#ff00ff", input, output});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.standardError, "Invalid hex value '#ff00ff' for -m\n");
    EXPECT_FALSE(std::filesystem::exists(output));
    EXPECT_EQ(runTool({"-O", "", input, output}).standardError, "Invalid hex value '' for -O\n");
}

TEST_F(ToolFailure, MissingInputCreatesNoOutput) {
    const std::string missing = folder.path("missing.ppm");
    const ToolRun run = runTool({missing, output});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.standardError, "Can't open input file '" + missing + "'\n");
    EXPECT_FALSE(std::filesystem::exists(output));
}

TEST_F(ToolFailure, BadHeaderLeavesTheOutputUntouched) {
    const Bytes precious = bytesOf("keep me");
    writeFile(output, precious);
    writeFile(input, bytesOf("P8\n1 1\n255\n0 0 0\n"));
    ToolRun run = runTool({input, output});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.standardError, "Wrong input format\n");
    EXPECT_EQ(readFile(output), precious);

    writeFile(input, ppmImage(1, 1, Bytes(6, 0), 65536));
    run = runTool({input, folder.path("new.yuv")});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.standardError, "Only 8-bit and 16-bit per component\n");
    EXPECT_FALSE(std::filesystem::exists(folder.path("new.yuv")));
}

TEST_F(ToolFailure, OutputNamingTheInputIsRefused) {
    const Bytes original = readFile(input);
    std::filesystem::create_symlink(input, folder.path("link.ppm"));
    std::filesystem::create_hard_link(input, folder.path("hard.ppm"));
    for (const std::string& same : {input, folder.path("link.ppm"), folder.path("hard.ppm")}) {
        const ToolRun run = runTool({input, same});
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.standardError, "Input and output are the same file\n");
    }
    EXPECT_EQ(readFile(input), original);
}

TEST_F(ToolFailure, InputThatCannotBeRead) {
    const std::string directory = folder.path("");
    const ToolRun run = runTool({directory, output});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.standardError, "Can't read input file '" + directory + "'\n");
    EXPECT_FALSE(std::filesystem::exists(output));
}

// A failure in the raster leaves the output path exactly as it was: a new
// path is not created, an existing file keeps its contents.
TEST_F(ToolFailure, TruncatedRasterLeavesNoOutput) {
    // Two whole pixels and one sample of a third of four.
    writeFile(input, ppmImage(2, 2, {255, 0, 0, 0, 0, 0, 9}));
    const ToolRun run = runTool({input, output});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.standardError, "Input file '" + input + "' is truncated\n");
    EXPECT_FALSE(std::filesystem::exists(output));
    EXPECT_EQ(filesIn(folder.path("")), std::vector<std::string>{"in.ppm"});
}

TEST_F(ToolFailure, SampleAboveMaximumKeepsTheOldOutput) {
    writeFile(output, bytesOf("old records"));
    writeFile(input, ppmImage(3, 1, {15, 15, 15, 0, 16, 0, 0, 0, 0}, 15));
    const ToolRun run = runTool({"-f", "e655", input, output});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.standardError, "Sample value exceeds maximum value\n");
    EXPECT_EQ(readFile(output), bytesOf("old records"));
}

TEST_F(ToolFailure, FullDiskForTheOutputFile) {
    if (!std::filesystem::exists("/dev/full")) {
        GTEST_SKIP() << "no /dev/full";
    }
    const ToolRun run = runTool({input, "/dev/full"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.standardError, "Can't write output file '/dev/full'\n");
}

TEST_F(ToolFailure, FullDiskForTheAlphaStream) {
    if (!std::filesystem::exists("/dev/full")) {
        GTEST_SKIP() << "no /dev/full";
    }
    const ToolRun run = runTool({"-f", "e888Alpha", input, output}, "/dev/full");
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.standardError, "Can't write to standard output\n");
}

} // namespace
} // namespace pixfold
