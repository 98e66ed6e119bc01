#include "app/command_line.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace pixfold {
namespace {

ParsedCommandLine parse(std::vector<const char*> arguments) {
    arguments.insert(arguments.begin(), "pixfold");
    return parseCommandLine(static_cast<int>(arguments.size()), arguments.data());
}

TEST(HexValue, ReadsLikeScanfHex) {
    struct Case {
        const char* text;
        std::uint32_t value;
    };
    const Case cases[] = {
        {"ff00ff", 0xFF00FF},
        {"FF00FF", 0xFF00FF},
        {"0x1234", 0x1234},
        {"0XaB", 0xAB},
        {"  \t7", 7},
        {"+10", 0x10},
        {"-1", 0xFFFFFFFFu},
        {"-0x2", 0xFFFFFFFEu},
        {"0", 0},
        {"12zz", 0x12},
        {"123456789", 0x23456789u},
        {"ffffffffff", 0xFFFFFFFFu},
    };
    for (const Case& c : cases) {
        std::uint32_t value = 0xDEAD;
        EXPECT_TRUE(readHexValue(c.text, value)) << c.text;
        EXPECT_EQ(value, c.value) << c.text;
    }
}

TEST(HexValue, NoDigitLeavesTheValueAlone) {
    for (const char* text : {"", "zz", "0x", "0X", "#ff00ff", "-", " ", "0xg", "+-1"}) {
        std::uint32_t value = 0xDEAD;
        EXPECT_FALSE(readHexValue(text, value)) << text;
        EXPECT_EQ(value, 0xDEADu) << text;
    }
}

TEST(OptionScan, DefaultsAndPaths) {
    const ParsedCommandLine parsed = parse({"in.ppm", "out.yuv", "ignored"});
    ASSERT_EQ(parsed.error, ErrorCode::none);
    EXPECT_EQ(parsed.commandLine.settings.format, OutputFormat::e888);
    EXPECT_FALSE(parsed.commandLine.settings.keyEnabled);
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
    // Unknown options and a lone "-" are skipped without taking a value.
    const ParsedCommandLine skipped = parse({"-x", "-", "a", "b"});
    EXPECT_STREQ(skipped.commandLine.inputPath, "a");
    // The second -1 is the value of the first.
    EXPECT_EQ(parse({"-1", "-1", "a", "b"}).commandLine.settings.matchValue, 0xFFFFFFFFu);
    // An output path may begin with '-'.
    EXPECT_STREQ(parse({"a", "-out.yuv"}).commandLine.outputPath, "-out.yuv");
}

TEST(OptionScan, KeyOptionsFillTheSettings) {
    const ParsedCommandLine parsed =
        parse({"-m", "ff00ff", "-1", "ff", "-0", "abcdef", "-f", "e655Z", "a", "b"});
    ASSERT_EQ(parsed.error, ErrorCode::none);
    const ConversionSettings& settings = parsed.commandLine.settings;
    EXPECT_TRUE(settings.keyEnabled);
    EXPECT_EQ(settings.keyColour, 0xFF00FFu);
    EXPECT_EQ(settings.matchValue, 0xFFu);
    EXPECT_EQ(settings.noMatchValue, 0xABCDEFu);
    EXPECT_EQ(settings.format, OutputFormat::e655Z);
}

TEST(OptionScan, CapitalOIsTheNoMatchOptionToo) {
    EXPECT_EQ(parse({"-O", "12", "a", "b"}).commandLine.settings.noMatchValue, 0x12u);
}

TEST(OptionScan, FormatNamesAreExact) {
    for (const char* name : {"e888alpha", "E888", "e655z", "e888 ", ""}) {
        EXPECT_EQ(parse({"-f", name, "a", "b"}).error, ErrorCode::unknownFormat) << name;
    }
    // An unknown name ends the scan even when a later -f is valid.
    EXPECT_EQ(parse({"-f", "bad", "-f", "e888", "a", "b"}).error, ErrorCode::unknownFormat);
}

TEST(OptionScan, ValueWithoutDigitsIsReportedWithItsOption) {
    const ParsedCommandLine parsed = parse({"-m", "ff", "-O", "#00ff00", "a", "b"});
    EXPECT_EQ(parsed.error, ErrorCode::invalidHexValue);
    EXPECT_EQ(parsed.badValue, "#00ff00");
    EXPECT_EQ(parsed.badOption, 'O');
}

TEST(OptionScan, MissingArgumentsGiveUsage) {
    EXPECT_EQ(parse({}).error, ErrorCode::usage);
    EXPECT_EQ(parse({"in.ppm"}).error, ErrorCode::usage);
    EXPECT_EQ(parse({"-f", "e888", "in.ppm"}).error, ErrorCode::usage);
    EXPECT_EQ(parse({"in.ppm", "out.yuv", "-m"}).error, ErrorCode::none);
    EXPECT_EQ(parse({"-x", "-y", "-m"}).error, ErrorCode::usage);
    EXPECT_EQ(parse({"-x", "-y", "-z"}).error, ErrorCode::usage);
}

} // namespace
} // namespace pixfold
