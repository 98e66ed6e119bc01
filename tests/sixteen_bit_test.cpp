// 16-bit Netpbm input through the tool: every grey level and random colours
// give the formula's codes, the key colour matches s * 255 = c * m, widened
// pictures give the 8-bit records; and the readers take no byte of a pipe
// past the image, nor end a PAM comment at a CR.
#include "support/files.h"
#include "support/formula.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <string>
#include <vector>

namespace pixfold {
namespace {

using namespace testing_support;

void putWide(Bytes& bytes, int sample) {
    bytes.push_back(static_cast<std::uint8_t>(sample >> 8));
    bytes.push_back(static_cast<std::uint8_t>(sample));
}

Bytes e888Of(const YCrCbCodes& codes) {
    return {static_cast<std::uint8_t>(codes.y), static_cast<std::uint8_t>(codes.cr),
            static_cast<std::uint8_t>(codes.cb), 0};
}

class SixteenBit : public testing::Test {
  protected:
    Bytes convert(const std::vector<std::string>& options, const Bytes& image) {
        writeFile(folder.path("in"), image);
        std::vector<std::string> arguments = options;
        arguments.insert(arguments.end(), {folder.path("in"), folder.path("out.yuv")});
        const ToolRun run = runTool(arguments);
        EXPECT_EQ(run.status, 0) << run.standardError;
        alpha = run.standardOutput;
        return readFile(folder.path("out.yuv"));
    }

    ScratchFolder folder;
    Bytes alpha;
};

TEST_F(SixteenBit, EveryGreyLevelGivesTheFormulasCodes) {
    Bytes binary = bytesOf("P5\n256 256\n65535\n");
    std::string plain = "P2 256 256 65535\n";
    Bytes expected;
    for (int level = 0; level < 65536; ++level) {
        putWide(binary, level);
        plain += std::to_string(level) + (level % 16 == 15 ? "\n" : " ");
        const Bytes record = e888Of(plainSteps(level, level, level, 65535));
        expected.insert(expected.end(), record.begin(), record.end());
    }
    EXPECT_EQ(convert({}, binary), expected);
    EXPECT_EQ(convert({}, bytesOf(plain)), expected);
}

// Random colours at 65535 and at an odd maximum, with pixels of the key
// colour's samples in P6 and in PAM with alpha (-t keys alpha 0).
TEST_F(SixteenBit, RandomColoursAndTheKeyRule) {
    struct Case {
        int maxValue;
        const char* keyColour;
        int keyed[3]; // samples the key colour matches
    };
    for (const Case& c :
         {Case{65535, "12ff00", {0x1212, 0xFFFF, 0}}, Case{1000, "3300ff", {200, 0, 1000}}}) {
        SCOPED_TRACE(c.maxValue);
        const int pixels = 3001;
        Bytes p6 =
            bytesOf("P6 1 " + std::to_string(pixels) + " " + std::to_string(c.maxValue) + "\n");
        Bytes pam = bytesOf("P7\nWIDTH 1\nHEIGHT " + std::to_string(pixels) + "\nDEPTH 4\nMAXVAL " +
                            std::to_string(c.maxValue) + "\nTUPLTYPE RGB_ALPHA\nENDHDR\n");
        Bytes records;
        Bytes wantedAlpha;
        std::uint32_t state = 99;
        for (int i = 0; i < pixels; ++i) {
            int rgb[3];
            for (int& sample : rgb) {
                state = state * 1664525u + 1013904223u;
                sample =
                    static_cast<int>((state >> 8) % static_cast<std::uint32_t>(c.maxValue + 1));
            }
            if (i % 7 == 0) {
                std::copy(std::begin(c.keyed), std::end(c.keyed), rgb);
            }
            const int opacity = i % 5 == 0 ? 0 : (i % 2 == 0 ? 256 : 1); // 256: a zero low byte
            for (const int sample : rgb) {
                putWide(p6, sample);
                putWide(pam, sample);
            }
            putWide(pam, opacity);
            const Bytes record = e888Of(plainSteps(rgb[0], rgb[1], rgb[2], c.maxValue));
            records.insert(records.end(), record.begin(), record.end());
            wantedAlpha.insert(wantedAlpha.end(),
                               {0, 0, 0, static_cast<std::uint8_t>(i % 7 == 0 ? 1 : 0)});
        }
        const std::vector<std::string> keyed = {"-f", "e888Alpha", "-m", c.keyColour, "-1", "1"};
        EXPECT_EQ(convert(keyed, p6), records);
        EXPECT_EQ(alpha, wantedAlpha);
        std::vector<std::string> transparent = keyed;
        transparent.push_back("-t");
        EXPECT_EQ(convert(transparent, pam), records);
        for (int i = 0; i < pixels; i += 5) {
            wantedAlpha[static_cast<std::size_t>(i) * 4 + 3] = 1;
        }
        EXPECT_EQ(alpha, wantedAlpha);
    }
}

TEST_F(SixteenBit, WidenedPicturesGiveTheEightBitRecords) {
    if (!onPath("pamdepth")) {
        GTEST_SKIP() << "netpbm is not installed (apt-get install netpbm)";
    }
    Bytes samples(std::size_t{3} * 160 * 90);
    for (std::size_t i = 0; i < samples.size(); ++i) {
        samples[i] = static_cast<std::uint8_t>(i * 131 + i / 7);
    }
    writeFile(folder.path("narrow.ppm"), ppmImage(160, 90, samples));
    ProcessSetup setup;
    setup.useEmulator = false;
    setup.standardOutput = folder.path("wide.ppm");
    ASSERT_EQ(runProcess("pamdepth", {"65535", folder.path("narrow.ppm")}, setup).status, 0);
    for (const std::vector<std::string>& options : std::vector<std::vector<std::string>>{
             {"-f", "e655Z", "-m", "838383", "-1", "ffff"}, {"-f", "e888"}}) {
        EXPECT_EQ(convert(options, readFile(folder.path("wide.ppm"))),
                  convert(options, readFile(folder.path("narrow.ppm"))))
            << options[1];
    }
}

// The whole input is in the pipe before pixfold reads: it must take the
// image's bytes and leave the rest for whoever reads next.
TEST_F(SixteenBit, BitmapsFromAPipeLeaveTheNextBytesThere) {
    for (const std::string& image :
         {std::string("P4\n8 1\n\x0f", 8), std::string("P4 3 2\n\xe0\xa0", 9),
          std::string("P5 2 1 65535\n\1\2\3\4", 17)}) {
        int ends[2];
        ASSERT_EQ(pipe(ends), 0);
        const std::string bytes = image + "REST";
        ASSERT_EQ(write(ends[1], bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
        close(ends[1]);
        ProcessSetup setup;
        setup.standardInputDescriptor = ends[0];
        const ToolRun run = runTool({"-", folder.path("out.yuv")}, setup);
        EXPECT_EQ(run.status, 0) << run.standardError;
        char rest[8] = {};
        EXPECT_EQ(read(ends[0], rest, sizeof rest), 4);
        EXPECT_EQ(std::string(rest), "REST") << image;
        close(ends[0]);
    }
}

// A PAM comment runs to its LF: the CR is in the comment, WIDTH 2 stands.
TEST_F(SixteenBit, PamCommentsEndAtTheLineFeed) {
    const Bytes pam = concatenate({bytesOf("P7\nWIDTH 2\n# note\rWIDTH 1\nHEIGHT 1\nDEPTH 3\n"
                                           "MAXVAL 255\nTUPLTYPE RGB\nENDHDR\n"),
                                   Bytes{0xFF, 0, 0, 0, 0, 0xFF}});
    const Bytes expected = {0x51, 0xF0, 0x5B, 0, 0x29, 0x6F, 0xF0, 0};
    EXPECT_EQ(convert({}, pam), expected);
}

} // namespace
} // namespace pixfold
