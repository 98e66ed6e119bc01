// Every Netpbm type as netpbm's own tools write it, and transparency as the
// key (-t): each type converts to the records of its P6 equivalent.
#include "support/files.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <utility>
#include <vector>

namespace pixfold {
namespace {

using namespace testing_support;

// 1001 x 67 pixels: more than one block of the raster loop, and a bitmap row
// that ends inside a byte.
constexpr int width = 1001;
constexpr int height = 67;

Bytes randomPicture() {
    Bytes samples(static_cast<std::size_t>(width) * height * 3);
    std::uint32_t state = 2463534242u;
    for (std::uint8_t& sample : samples) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        sample = static_cast<std::uint8_t>(state >> 24);
    }
    return ppmImage(width, height, samples);
}

// Alpha 0 on every third pixel, a partial alpha on every fifth.
Bytes alphaMask() {
    Bytes mask = bytesOf("P5 " + std::to_string(width) + " " + std::to_string(height) + " 255\n");
    for (int i = 0; i < width * height; ++i) {
        mask.push_back(i % 3 == 0 ? 0 : i % 5 == 0 ? 128 : 255);
    }
    return mask;
}

bool transparentAt(std::size_t pixel) {
    return pixel % 3 == 0;
}

class NetpbmTypes : public testing::Test {
  protected:
    void SetUp() override {
        writeFile(folder.path("picture.ppm"), randomPicture());
        writeFile(folder.path("mask.pgm"), alphaMask());
    }

    // A shell command of the build host, run in the scratch folder.
    void shell(const std::string& command) {
        ProcessSetup setup;
        setup.useEmulator = false;
        setup.workingDirectory = folder.path("");
        const ProcessRun run = runProcess("sh", {"-ec", command}, setup);
        ASSERT_EQ(run.status, 0) << command << ": " << run.standardError;
    }

    // The records file and the alpha stream (if any) of one run.
    using Output = std::pair<Bytes, Bytes>;
    Output convert(std::vector<std::string> options, const std::string& input) {
        const bool alpha = options[1] == "e888Alpha";
        options.insert(options.end(), {"-a", folder.path("out.alpha"), folder.path(input),
                                       folder.path("out.yuv")});
        const ToolRun run = runTool(options);
        EXPECT_EQ(run.status, 0) << input << ": " << run.standardError;
        return {readFile(folder.path("out.yuv")),
                alpha ? readFile(folder.path("out.alpha")) : Bytes{}};
    }

    ScratchFolder folder;
};

const std::vector<std::vector<std::string>> allFormats = {
    {"-f", "e888"},
    {"-f", "e655"},
    {"-f", "e655Z", "-m", "000000", "-1", "abcd", "-0", "1234"},
    {"-f", "e888Alpha", "-m", "010101", "-1", "ffffffff"},
};

TEST_F(NetpbmTypes, EveryTypeGivesTheRecordsOfItsP6Equivalent) {
    if (!onPath("pamtopnm") || !onPath("pngtopam")) {
        GTEST_SKIP() << "netpbm is not installed (apt-get install netpbm)";
    }
    shell("ppmtopgm picture.ppm > grey.pgm; ppmtoppm < grey.pgm > grey.ppm;"
          "pamditherbw grey.pgm > bw.pam; pamtopnm bw.pam > bw.pbm;"
          "ppmtoppm < bw.pbm | pnmdepth 1 > bw.ppm;"
          "pnmtopng -alpha=mask.pgm picture.ppm | pngtopam -alphapam > rgba.pam;"
          "pnmtopng -alpha=mask.pgm grey.pgm | pngtopam -alphapam > greya.pam;"
          "pnmtoplainpnm picture.ppm > plain.ppm; pnmtoplainpnm grey.pgm > plain.pgm;"
          "pnmtoplainpnm bw.pbm > plain.pbm; pamtopam < picture.ppm > rgb.pam;"
          "pamtopam < grey.pgm > grey.pam;"
          "cat bw.pbm plain.ppm greya.pam picture.ppm rgba.pam plain.pbm > mixed.pam");
    const std::vector<std::pair<std::string, std::string>> equivalents = {
        {"plain.ppm", "picture.ppm"}, {"rgb.pam", "picture.ppm"}, {"rgba.pam", "picture.ppm"},
        {"grey.pgm", "grey.ppm"},     {"plain.pgm", "grey.ppm"},  {"grey.pam", "grey.ppm"},
        {"greya.pam", "grey.ppm"},    {"bw.pbm", "bw.ppm"},       {"plain.pbm", "bw.ppm"},
        {"bw.pam", "bw.ppm"},
    };
    for (const std::vector<std::string>& format : allFormats) {
        std::map<std::string, Output> p6Records;
        for (const std::string p6 : {"picture.ppm", "grey.ppm", "bw.ppm"}) {
            p6Records[p6] = convert(format, p6);
        }
        for (const auto& [input, p6] : equivalents) {
            EXPECT_EQ(convert(format, input), p6Records[p6]) << input << " " << format[1];
        }
        std::vector<std::string> stream = format;
        stream.push_back("-s");
        Output expected;
        for (const std::string p6 :
             {"bw.ppm", "picture.ppm", "grey.ppm", "picture.ppm", "picture.ppm", "bw.ppm"}) {
            expected.first.insert(expected.first.end(), p6Records[p6].first.begin(),
                                  p6Records[p6].first.end());
            expected.second.insert(expected.second.end(), p6Records[p6].second.begin(),
                                   p6Records[p6].second.end());
        }
        EXPECT_EQ(convert(stream, "mixed.pam"), expected) << format[1];
    }
}

TEST_F(NetpbmTypes, TransparentPixelsOfAPngTakeTheMatchValueWithT) {
    if (!onPath("pnmtopng") || !onPath("pngtopam")) {
        GTEST_SKIP() << "netpbm is not installed (apt-get install netpbm)";
    }
    shell("pnmtopng -alpha=mask.pgm picture.ppm > in.png; pngtopam -alphapam in.png > in.pam");
    const Output opaque = convert({"-f", "e888Alpha", "-1", "ffffffff"}, "picture.ppm");
    // Without -t alpha samples play no part.
    EXPECT_EQ(convert({"-f", "e888Alpha", "-1", "ffffffff"}, "in.pam"), opaque);
    const ToolRun run = runTool({"-t", "-f", "e888Alpha", "-1", "ffffffff", "-0", "0",
                                 folder.path("in.pam"), folder.path("out.yuv")},
                                folder.path("out.alpha"));
    ASSERT_EQ(run.status, 0) << run.standardError;
    const Bytes records = readFile(folder.path("out.yuv"));
    EXPECT_EQ(records, opaque.first);
    const Bytes alpha = readFile(folder.path("out.alpha"));
    ASSERT_EQ(alpha.size(), records.size());
    for (std::size_t i = 0; i < alpha.size(); ++i) {
        ASSERT_EQ(alpha[i], transparentAt(i / 4) ? 0xFF : 0) << "pixel " << i / 4;
    }
}

// A PAM written here, 4 pixels 3 times (the pass over alpha tests 8 at a
// time): the first and third transparent, the fourth in the key colour.
TEST(Transparency, KeysAlphaZeroAndTheKeyColourInBothKeyedFormats) {
    ScratchFolder folder;
    const Bytes rgba = {7, 7, 7, 0, 7, 7, 7, 7, 1, 2, 3, 0, 4, 5, 6, 7};
    writeFile(folder.path("in.pam"),
              concatenate({bytesOf("P7\nWIDTH 4\nHEIGHT 3\nDEPTH 4\nMAXVAL 7\n"
                                   "TUPLTYPE RGB_ALPHA\nENDHDR\n"),
                           rgba, rgba, rgba}));
    const std::string in = folder.path("in.pam");
    const std::string out = folder.path("out.yuv");
    const ToolRun alpha =
        runTool({"-t", "-m", "040506", "-f", "e888Alpha", "-1", "a1b2c3d4", "-0", "5", in, out});
    ASSERT_EQ(alpha.status, 0) << alpha.standardError;
    const Bytes keyed = {0xA1, 0xB2, 0xC3, 0xD4};
    const Bytes row = concatenate({keyed, {0, 0, 0, 5}, keyed, keyed});
    EXPECT_EQ(alpha.standardOutput, concatenate({row, row, row}));
    ASSERT_EQ(runTool({"-t", "-f", "e655Z", "-1", "a1b2c3d4", "-0", "5", in, out}).status, 0);
    const Bytes z = readFile(out);
    ASSERT_EQ(z.size(), 48u);
    for (std::size_t i = 0; i < 12; ++i) {
        const bool transparent = i % 2 == 0;
        EXPECT_EQ(z[i * 4 + 2], transparent ? 0xC3 : 0) << i;
        EXPECT_EQ(z[i * 4 + 3], transparent ? 0xD4 : 5) << i;
    }
    // An alpha sample above the maximum value fails with or without -t.
    writeFile(in, concatenate({bytesOf("P7\nWIDTH 1\nHEIGHT 1\nDEPTH 2\nMAXVAL 7\nENDHDR\n"),
                               Bytes{7, 8}}));
    EXPECT_EQ(runTool({in, out}).standardError, "Sample value exceeds maximum value\n");
}

} // namespace
} // namespace pixfold
