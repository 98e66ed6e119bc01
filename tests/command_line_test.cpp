// Both tools' option scans.
#include "pixfold/command_line.h"
#include "pixunfold/command_line.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace pixfold {
namespace {

ParsedFoldCommandLine parse(std::vector<const char*> arguments) {
    arguments.insert(arguments.begin(), "pixfold");
    return parseFoldCommandLine(static_cast<int>(arguments.size()), arguments.data());
}

ParsedUnfoldCommandLine parseUnfold(std::vector<const char*> arguments) {
    arguments.insert(arguments.begin(), "pixunfold");
    return parseUnfoldCommandLine(static_cast<int>(arguments.size()), arguments.data());
}

TEST(OptionScan, DefaultsAndPaths) {
    const ParsedFoldCommandLine parsed = parse({"in.ppm", "out.yuv"});
    ASSERT_TRUE(succeeded(parsed.result));
    EXPECT_EQ(parsed.commandLine.settings.format, OutputFormat::e888);
    EXPECT_FALSE(parsed.commandLine.settings.keyEnabled);
    EXPECT_FALSE(parsed.commandLine.settings.transparencyKey);
    EXPECT_FALSE(parsed.commandLine.imageStream);
    EXPECT_EQ(parsed.commandLine.alphaPath, nullptr);
    EXPECT_STREQ(parsed.commandLine.inputPath, "in.ppm");
    EXPECT_STREQ(parsed.commandLine.outputPath, "out.yuv");
}

TEST(OptionScan, QuirksOfTheScanAreKept) {
    // The last -f wins.
    EXPECT_EQ(parse({"-f", "e655", "-f", "e888", "a", "b"}).commandLine.settings.format,
              OutputFormat::e888);
    // Only the second character counts: -fe655 is -f and takes the next argument.
    EXPECT_EQ(parse({"-fe655", "e888Alpha", "a", "b"}).commandLine.settings.format,
              OutputFormat::e888Alpha);
    // Unknown options are skipped without taking a value, each with a notice.
    const ParsedFoldCommandLine unknown = parse({"-x", "-S", "a", "b"});
    EXPECT_STREQ(unknown.commandLine.inputPath, "a");
    ASSERT_EQ(unknown.notices.size(), 2u);
    EXPECT_EQ(unknown.notices[1].subject, "-S");
    // The second -1 is the value of the first.
    EXPECT_EQ(parse({"-1", "-1", "a", "b"}).commandLine.settings.matchValue, 0xFFFFFFFFu);
    // An output path may begin with '-'.
    EXPECT_STREQ(parse({"a", "-out.yuv"}).commandLine.outputPath, "-out.yuv");
    // -O, as the usage text spells it, is -0.
    EXPECT_EQ(parse({"-O", "12", "a", "b"}).commandLine.settings.noMatchValue, 0x12u);
}

TEST(OptionScan, KeyStreamAndAlphaOptionsFillTheSettings) {
    const ParsedFoldCommandLine parsed = parse({"-m", "ff00ff", "-1", "ff", "-0", "abcdef", "-s",
                                                "-t", "-a", "a.bin", "-f", "e655Z", "a", "b"});
    ASSERT_TRUE(succeeded(parsed.result));
    const ConversionSettings& settings = parsed.commandLine.settings;
    EXPECT_TRUE(settings.keyEnabled);
    EXPECT_EQ(settings.keyColour, 0xFF00FFu);
    EXPECT_EQ(settings.matchValue, 0xFFu);
    EXPECT_EQ(settings.noMatchValue, 0xABCDEFu);
    EXPECT_EQ(settings.format, OutputFormat::e655Z);
    EXPECT_TRUE(parsed.commandLine.imageStream);
    EXPECT_TRUE(settings.transparencyKey);
    EXPECT_STREQ(parsed.commandLine.alphaPath, "a.bin");
}

TEST(OptionScan, FormatNamesAreExact) {
    for (const char* name : {"e888alpha", "E888", "e655z", "e888 ", ""}) {
        EXPECT_EQ(parse({"-f", name, "a", "b"}).result.code, ErrorCode::unknownFormat) << name;
    }
    // An unknown name ends the scan even when a later -f is valid.
    EXPECT_EQ(parse({"-f", "bad", "-f", "e888", "a", "b"}).result.code, ErrorCode::unknownFormat);
}

TEST(OptionScan, ValueWithoutDigitsIsReportedWithItsOption) {
    const ParsedFoldCommandLine parsed = parse({"-m", "ff", "-O", "#00ff00", "a", "b"});
    EXPECT_EQ(parsed.result.code, ErrorCode::invalidHexValue);
    EXPECT_EQ(parsed.result.subject, "#00ff00");
    EXPECT_EQ(parsed.result.option, 'O');
}

TEST(OptionScan, AnythingButTwoPathsIsAMistakeNamed) {
    struct Case {
        std::vector<const char*> arguments;
        ErrorCode code;
    };
    for (const Case& c : {Case{{}, ErrorCode::usage}, Case{{"in.ppm"}, ErrorCode::usage},
                          Case{{"-t", "in.ppm"}, ErrorCode::missingPaths},
                          Case{{"-f", "e888", "in.ppm"}, ErrorCode::missingPaths},
                          Case{{"-x", "-y", "-m"}, ErrorCode::optionNeedsValue},
                          Case{{"-x", "-y", "-z"}, ErrorCode::missingPaths},
                          Case{{"in.ppm", "out.yuv", "-m"}, ErrorCode::unexpectedArgument},
                          Case{{"a.ppm", "b.ppm", "c.ppm"}, ErrorCode::unexpectedArgument},
                          Case{{"--format=e655", "a", "b"}, ErrorCode::unknownLongOption}}) {
        EXPECT_EQ(parse(c.arguments).result.code, c.code) << c.arguments.size();
    }
}

TEST(OptionScan, HelpAndVersionBeforeThePaths) {
    EXPECT_EQ(parse({"--help"}).request, ToolRequest::help);
    EXPECT_EQ(parse({"-f", "e655", "--version", "a", "b"}).request, ToolRequest::version);
    // After the input path it is the output path, which may begin with '-'.
    EXPECT_STREQ(parse({"a", "--help"}).commandLine.outputPath, "--help");
    EXPECT_EQ(parseUnfold({"--help"}).request, ToolRequest::help);
    EXPECT_EQ(parseUnfold({"--version"}).request, ToolRequest::version);
}

TEST(UnfoldOptionScan, StrictOptionsThenFourArguments) {
    const ParsedUnfoldCommandLine parsed = parseUnfold(
        {"-f", "e888Alpha", "-s", "-a", "a", "-k", "k", "-1", "ff", "4", "2", "r", "p"});
    ASSERT_TRUE(succeeded(parsed.result));
    const UnfoldCommandLine& line = parsed.commandLine;
    EXPECT_EQ(line.format, OutputFormat::e888Alpha);
    EXPECT_TRUE(line.imageStream);
    EXPECT_TRUE(line.matchGiven);
    EXPECT_EQ(line.matchValue, 0xFFu);
    EXPECT_EQ(line.width, 4);
    EXPECT_EQ(line.height, 2);
    EXPECT_STREQ(line.recordPath, "r");
    EXPECT_STREQ(line.picturePath, "p");
    EXPECT_EQ(parseUnfold({"-ff", "e888", "4", "2", "r", "p"}).result.code,
              ErrorCode::unknownOption);
    EXPECT_EQ(parseUnfold({"-f"}).result.code, ErrorCode::usage);
    EXPECT_EQ(parseUnfold({"4", "0", "r", "p"}).result.code, ErrorCode::invalidDimension);
    EXPECT_EQ(parseUnfold({"-k", "m", "4", "2", "r", "p"}).result.code, ErrorCode::noKeyPlane);
    EXPECT_EQ(parseUnfold({"-f", "e888Alpha", "-k", "m", "4", "2", "r", "p"}).result.code,
              ErrorCode::alphaFileRequired);
    // The alpha stream may come from standard input when the records don't.
    EXPECT_TRUE(succeeded(
        parseUnfold({"-f", "e888Alpha", "-a", "-", "-k", "m", "4", "2", "r", "p"}).result));
}

} // namespace
} // namespace pixfold
