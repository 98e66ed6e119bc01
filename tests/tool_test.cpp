// End-to-end runs of the pixfold executable: files, streams and exit status.
#include "support/files.h"
#include "support/known_colours.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
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

// Each failure to open, read or write says why in the system's own words,
// after the text scripts match; no output is created.
TEST_F(ToolFailure, FailuresSayWhy) {
    const std::string missing = folder.path("missing.ppm");
    const std::string directory = folder.path("");
    const std::string sub = folder.path("sub");
    std::filesystem::create_directory(sub);
    struct Case {
        std::vector<std::string> arguments;
        std::string standardOutput; // a file, or empty: captured
        std::string line;
    };
    std::vector<Case> cases = {
        {{missing, output},
         "",
         "Can't open input file '" + missing + "': No such file or directory"},
        {{directory, output}, "", "Can't read input file '" + directory + "': Is a directory"},
        {{input, sub}, "", "Can't open output file '" + sub + "': Is a directory"},
        {{input, sub + "/."}, "", "Can't open output file '" + sub + "/.': Is a directory"},
    };
    if (std::filesystem::exists("/dev/full")) {
        cases.push_back({{input, "/dev/full"},
                         "",
                         "Can't write output file '/dev/full': No space left on device"});
        cases.push_back({{"-f", "e888Alpha", input, output},
                         "/dev/full",
                         "Can't write to standard output: No space left on device"});
    }
    for (const Case& c : cases) {
        ProcessSetup setup;
        setup.standardOutput = c.standardOutput;
        const ToolRun run = runTool(c.arguments, setup);
        EXPECT_EQ(run.status, 1) << c.line;
        EXPECT_EQ(run.standardError, c.line + "\n");
        EXPECT_TRUE(run.standardOutput.empty()) << c.line;
        EXPECT_FALSE(std::filesystem::exists(output)) << c.line;
    }
}

// What the input is, when its first bytes tell; anything else, a near miss
// included, is the bare line it always was. No output is created.
TEST_F(ToolFailure, WrongInputFormatSaysWhatTheInputIs) {
    using namespace std::string_literals;
    const std::pair<std::string, std::string> inputs[] = {
        {"\xFF\xD8\xFF\xE0\0\x10JFIF\0"s, "a JPEG image"},
        {"GIF87a\x01\0\x01\0"s, "a GIF image"},
        {"GIF89a\x01\0\x01\0"s, "a GIF image"},
        {"II*\0\x08\0\0\0"s, "a TIFF image"},
        {"MM\0*\0\0\0\x08"s, "a TIFF image"},
        {"RIFF\x24\0\0\0WEBPVP8 "s, "a WebP image"},
        {"BM\x3A\0\0\0\0\0\0\0\x36\0"s, "a BMP image"},
        {"\0\0\0\x20"
         "ftypisom\0\0\x02\0"s,
         "an MP4 or other ISO media file"},
        {"\x1A\x45\xDF\xA3\x9F\x42\x86\x81"s, "a Matroska or WebM video"},
        {""s, "empty"},
        {"\xFF\xD8"s, ""},                     // a JPEG signature cut short
        {"GIF88a\x01\0"s, ""},                 // no such GIF version
        {"RIFF\x24\0\0\0WAVEfmt "s, ""},       // RIFF, but sound
        {"BM\x3A\0\0\0\x01\0\0\0\x36\0"s, ""}, // reserved bytes that are not zero
        {"\x01\0\0\x20"
         "ftypisom"s,
         ""}, // a first box of 16 MiB and more
        {"II+\0\x08\0\0\0"s, ""},
        {"P8\n1 1\n255\n"s, ""},
        {"hello\n"s, ""},
    };
    for (const auto& [bytes, kind] : inputs) {
        writeFile(input, bytesOf(bytes));
        const ToolRun run = runTool({input, output});
        const std::string line =
            kind.empty()      ? "Wrong input format"
            : kind == "empty" ? "Wrong input format: '" + input + "' is empty"
                              : "Wrong input format: '" + input + "' is " + kind +
                                    "; pixfold reads Netpbm and PNG (see \"Preparing input\")";
        EXPECT_EQ(run.status, 1) << line;
        EXPECT_EQ(run.standardError, line + "\n");
        EXPECT_FALSE(std::filesystem::exists(output)) << line;
    }
    // Standard input is named so, with -s too.
    ProcessSetup fromInput;
    fromInput.standardInput = input;
    writeFile(input, bytesOf("GIF89a"));
    EXPECT_EQ(runTool({"-s", "-", output}, fromInput).standardError,
              "Wrong input format: standard input is a GIF image; pixfold reads Netpbm and PNG "
              "(see \"Preparing input\")\n");
    writeFile(input, Bytes{});
    EXPECT_EQ(runTool({"-", output}, fromInput).standardError,
              "Wrong input format: standard input is empty\n");
}

// Without -s a pipe gives up only what the signatures need, a byte at a time
// while one may still match: the rest stays for the next reader.
TEST_F(ToolFailure, WrongInputFromAPipeLeavesTheRest) {
    using namespace std::string_literals;
    const std::pair<std::string, std::string> inputs[] = {
        {"\xFF\xD8\xFF"s, "\xE0rest"s}, // JPEG: three bytes tell
        {"\0\0\0\x20"
         "ftyp"s,
         "isomrest"s},                  // ISO media: eight
        {"GIF8x"s, "rest"s},            // a GIF until the fifth byte
        {"x"s, "rest"s},                // no signature: the byte Netpbm's reader takes
        {"BM\x01\0\0\0\x01"s, "rest"s}, // a BMP until its first reserved byte
    };
    for (const auto& [taken, left] : inputs) {
        int ends[2];
        ASSERT_EQ(pipe(ends), 0);
        const Bytes bytes = bytesOf(taken + left);
        ASSERT_EQ(write(ends[1], bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
        close(ends[1]);
        ProcessSetup fromPipe;
        fromPipe.standardInputDescriptor = ends[0];
        EXPECT_EQ(runTool({"-", output}, fromPipe).status, 1);
        Bytes rest(64);
        const ssize_t got = read(ends[0], rest.data(), rest.size());
        close(ends[0]);
        rest.resize(static_cast<std::size_t>(std::max<ssize_t>(got, 0)));
        EXPECT_EQ(rest, bytesOf(left)) << taken;
    }
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

} // namespace
} // namespace pixfold
