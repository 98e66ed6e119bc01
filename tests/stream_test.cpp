// Whole animations: multi-image PPM streams through pixfold -s, as ffmpeg's
// image2pipe and netpbm write them, and multi-frame record files back through
// pixunfold -s.
#include "support/files.h"
#include "support/known_colours.h"

#include <gtest/gtest.h>

#include <pty.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <regex>
#include <string>
#include <vector>

namespace pixfold {
namespace {

using namespace testing_support;

class ImageStream : public testing::Test {
  protected:
    // pixfold's records for each file alone, one after another.
    Bytes convertedOneByOne(const std::vector<std::string>& frames,
                            const std::vector<std::string>& options) {
        Bytes all;
        for (const std::string& frame : frames) {
            std::vector<std::string> arguments = options;
            arguments.insert(arguments.end(), {frame, folder.path("one.yuv")});
            EXPECT_EQ(runTool(arguments).status, 0) << frame;
            const Bytes records = readFile(folder.path("one.yuv"));
            all.insert(all.end(), records.begin(), records.end());
        }
        return all;
    }

    ProcessRun host(const std::string& program, const std::vector<std::string>& arguments) {
        ProcessSetup setup;
        setup.useEmulator = false;
        setup.standardOutput = "/dev/null";
        return runProcess(program, arguments, setup);
    }

    ScratchFolder folder;
    std::string stream = folder.path("stream.ppm");
    std::string output = folder.path("out.yuv");
};

TEST_F(ImageStream, FfmpegImage2PipeStreamMatchesTheFramesOneByOne) {
    if (!onPath("ffmpeg")) {
        GTEST_SKIP() << "ffmpeg is not installed";
    }
    const std::vector<std::string> source = {
        "-v", "error", "-f", "lavfi", "-i", "testsrc=size=48x32:rate=10", "-frames:v", "5"};
    std::vector<std::string> pipe = source;
    pipe.insert(pipe.end(), {"-f", "image2pipe", "-c:v", "ppm", stream});
    ASSERT_EQ(host("ffmpeg", pipe).status, 0);
    std::vector<std::string> files = source;
    files.push_back(folder.path("frame-%d.ppm"));
    ASSERT_EQ(host("ffmpeg", files).status, 0);
    std::vector<std::string> frames;
    for (int i = 1; i <= 5; ++i) {
        frames.push_back(folder.path("frame-" + std::to_string(i) + ".ppm"));
    }
    ASSERT_NE(readFile(frames[0]), readFile(frames[4])); // the frames differ
    for (const std::vector<std::string>& options : std::vector<std::vector<std::string>>{
             {"-f", "e655"}, {"-f", "e655Z", "-m", "ffffff", "-1", "abcd"}}) {
        std::vector<std::string> arguments = options;
        arguments.insert(arguments.end(), {"-s", stream, output});
        const ToolRun run = runTool(arguments);
        EXPECT_EQ(run.status, 0) << run.standardError;
        EXPECT_EQ(readFile(output), convertedOneByOne(frames, options));
    }
}

TEST_F(ImageStream, NetpbmFramesOfDifferentSizesAndMaximumsConvertEach) {
    // Three images, each with its own size and maximum value, white space between.
    const std::vector<Bytes> images = {
        ppmImage(2, 1, {255, 0, 0, 4, 194, 109}),
        ppmImage(1, 2, {15, 15, 15, 0, 15, 0}, 15),
        ppmImage(3, 1, {1, 0, 1, 0, 0, 0, 1, 1, 1}, 1),
    };
    std::vector<std::string> frames;
    for (std::size_t i = 0; i < images.size(); ++i) {
        frames.push_back(folder.path("frame-" + std::to_string(i) + ".ppm"));
        writeFile(frames.back(), images[i]);
    }
    writeFile(stream, concatenate({images[0], bytesOf("\n"), images[1], bytesOf(" \n\t"), images[2],
                                   bytesOf("\n")}));
    const std::string alpha = folder.path("alpha.bin");
    ToolRun run =
        runTool({"-s", "-f", "e888Alpha", "-m", "ffffff", "-1", "1", "-a", alpha, stream, output});
    EXPECT_EQ(run.status, 0) << run.standardError;
    const Bytes records = readFile(output);
    EXPECT_EQ(records, convertedOneByOne(frames, {"-f", "e888"}));
    // White at every maximum value: pixel 0 of image 1 and pixel 2 of image 2.
    const Bytes white = {0xEB, 0x80, 0x80, 0x00};
    EXPECT_EQ(Bytes(records.begin() + 8, records.begin() + 12), white);
    EXPECT_EQ(Bytes(records.begin() + 24, records.begin() + 28), white);
    EXPECT_EQ(readFile(alpha).size(), 4u * 7);

    if (onPath("ppmmake")) {
        // netpbm's own images, catenated as netpbm streams are.
        const std::string red = folder.path("red.ppm");
        const std::string grey = folder.path("grey.ppm");
        ASSERT_EQ(runProcess("sh",
                             {"-c", "ppmmake red 3 2 > " + red +
                                        " && ppmmake rgb:40/40/40 "
                                        "2 5 > " +
                                        grey + " && cat " + red + " " + grey + " " + red + " > " +
                                        stream},
                             [] {
                                 ProcessSetup setup;
                                 setup.useEmulator = false;
                                 return setup;
                             }())
                      .status,
                  0);
        run = runTool({"-s", "-f", "e655", stream, output});
        EXPECT_EQ(run.status, 0);
        EXPECT_EQ(readFile(output), convertedOneByOne({red, grey, red}, {"-f", "e655"}));
    }
}

TEST_F(ImageStream, ABadImageAnywhereLeavesNoOutput) {
    const Bytes good = ppmImage(2, 1, {1, 2, 3, 4, 5, 6});
    struct Case {
        Bytes bytes;
        std::string message;
    };
    const std::vector<Case> cases = {
        {concatenate({good, bytesOf("P8\n2 1\n255\n")}), "Wrong input format\n"},
        {concatenate({good, bytesOf("P6 1 1 65536\n")}), "Only 8-bit and 16-bit per component\n"},
        {concatenate({good, good, ppmImage(2, 2, {1, 2, 3})}),
         "Input file '" + stream + "' is truncated\n"},
        {concatenate({good, ppmImage(1, 1, {16, 0, 0}, 15)}),
         "Sample value exceeds maximum value\n"},
        {concatenate({good, bytesOf("\n\nxyz")}), "Wrong input format\n"},
        // A JPEG whose first byte is the last of the 16 KiB the header reads buffer.
        {concatenate({good, Bytes(16383 - good.size(), '\n'), bytesOf("\xFF\xD8\xFF\xE0")}),
         "Wrong input format: '" + stream +
             "' is a JPEG image; pixfold reads Netpbm and PNG (see \"Preparing input\")\n"},
    };
    writeFile(output, bytesOf("previous"));
    for (const Case& c : cases) {
        writeFile(stream, c.bytes);
        const ToolRun run = runTool({"-s", stream, output});
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.standardError, c.message);
        EXPECT_EQ(readFile(output), bytesOf("previous"));
    }
    // Without -s nothing after the first image is read.
    writeFile(stream, cases[0].bytes);
    EXPECT_EQ(runTool({stream, output}).status, 0);
    EXPECT_EQ(readFile(output).size(), 8u);
    // No image at all.
    writeFile(stream, Bytes{});
    EXPECT_EQ(runTool({"-s", stream, output}).standardError,
              "Wrong input format: '" + stream + "' is empty\n");
}

// The first image whose size is not the first image's is named once, and the
// conversion goes on; a run that fails says only why.
TEST_F(ImageStream, AStreamThatChangesSizeSaysSoOnce) {
    const Bytes square = ppmImage(2, 2, Bytes(12, 40));
    const Bytes wide = ppmImage(3, 2, Bytes(18, 80));
    const Bytes low = ppmImage(2, 1, Bytes(6, 120));
    const Bytes cut = Bytes(square.begin(), square.end() - 1);
    const std::string equal = ": the records of this stream can't be split into equal frames\n";
    struct Case {
        std::vector<Bytes> images;
        std::string message;
    };
    const Case cases[] = {
        {{square, square, square}, ""},
        {{square, square, wide, low}, "Image 3 is 3x2, image 1 was 2x2" + equal},
        {{square, low, square}, "Image 2 is 2x1, image 1 was 2x2" + equal},
        {{wide, square, wide}, "Image 2 is 2x2, image 1 was 3x2" + equal},
        {{square, wide, cut}, "Input file '" + stream + "' is truncated\n"},
    };
    for (const Case& c : cases) {
        std::vector<std::string> frames;
        for (const Bytes& image : c.images) {
            frames.push_back(folder.path("frame-" + std::to_string(frames.size()) + ".ppm"));
            writeFile(frames.back(), image);
        }
        writeFile(stream, concatenate(c.images));
        writeFile(output, bytesOf("previous"));
        const ToolRun run = runTool({"-s", "-f", "e655", stream, output});
        EXPECT_EQ(run.standardError, c.message);
        const bool fails = c.images.back() == cut;
        EXPECT_EQ(run.status, fails ? 1 : 0) << c.message;
        EXPECT_EQ(readFile(output),
                  fails ? bytesOf("previous") : convertedOneByOne(frames, {"-f", "e655"}))
            << c.message;
    }
}

// What standard error shows on a terminal: a pseudo-terminal in raw mode, so
// that its bytes are the tool's own.
std::string onTerminal(const std::string& program, const std::vector<std::string>& arguments) {
    int master = -1;
    int terminal = -1;
    if (openpty(&master, &terminal, nullptr, nullptr, nullptr) != 0) {
        ADD_FAILURE() << "no pseudo-terminal";
        return {};
    }
    termios raw{};
    tcgetattr(terminal, &raw);
    cfmakeraw(&raw);
    tcsetattr(terminal, TCSANOW, &raw);
    ProcessSetup setup;
    setup.standardErrorDescriptor = terminal;
    runProcess(program, arguments, setup);
    close(terminal);
    std::string shown;
    char block[4096];
    ssize_t got = 0;
    while ((got = read(master, block, sizeof block)) > 0) {
        shown.append(block, static_cast<std::size_t>(got));
    }
    close(master);
    return shown;
}

// On a terminal a -s run redraws a progress line in place and ends with a
// summary; anywhere else, and without -s, nothing more is said.
TEST_F(ImageStream, ProgressAndSummaryOnATerminalOnly) {
    const Bytes square = ppmImage(2, 2, Bytes(12, 40));
    const Bytes large = ppmImage(16, 16, Bytes(std::size_t{16} * 16 * 3, 90));
    const std::string mixed = folder.path("mixed.ppm");
    writeFile(stream, concatenate({large, large, large}));
    writeFile(mixed, concatenate({square, ppmImage(3, 1, Bytes(9, 9)), square}));
    const std::string broken = folder.path("broken.ppm");
    writeFile(broken, concatenate({square, Bytes(square.begin(), square.end() - 1)}));
    const std::string one = folder.path("one.ppm");
    writeFile(one, square);
    const std::string fifo = folder.path("slow.fifo");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const std::string took = " in [0-9]+\\.[0-9] s\n";
    struct Case {
        std::vector<std::string> arguments;
        bool slowly;          // eight images a tenth of a second apart, through the FIFO
        std::string terminal; // what the terminal shows, as a pattern
        std::string elsewhere;
    };
    const Case cases[] = {
        {{"-s", stream, output}, false, "3 images of 16x16 \\(3,072 bytes\\)" + took, ""},
        {{"-s", "-f", "e655", mixed, output},
         false,
         "Image 2 is 3x1, image 1 was 2x2: the records of this stream can't be split into "
         "equal frames\n3 images \\(22 bytes\\)" +
             took,
         "Image 2 is 3x1, image 1 was 2x2: the records of this stream can't be split into "
         "equal frames\n"},
        {{stream, output},
         false,
         "Only the first image was converted; -s converts every image\n",
         "Only the first image was converted; -s converts every image\n"},
        {{"-s", broken, output},
         false,
         "Input file '" + broken + "' is truncated\n",
         "Input file '" + broken + "' is truncated\n"},
        {{"-s", fifo, output},
         true,
         "(\r[0-9]+ images, [0-9]+\\.[0-9] images/s, [0-9]+\\.[0-9] MB/s *)+\r +\r"
         "8 images of 2x2 \\(128 bytes\\)" +
             took,
         ""},
    };
    for (const Case& c : cases) {
        for (const bool terminal : {true, false}) {
            const StartedProcess feeder =
                c.slowly ? startHelper("exec > \"$2\"; for i in 1 2 3 4 5 6 7 8; do cat \"$1\"; "
                                       "sleep 0.1; done",
                                       {one, fifo})
                         : StartedProcess{};
            const std::string shown = terminal ? onTerminal(PIXFOLD_EXECUTABLE, c.arguments)
                                               : runTool(c.arguments).standardError;
            if (c.slowly) {
                finishHelper(feeder);
            }
            if (terminal) {
                EXPECT_TRUE(std::regex_match(shown, std::regex(c.terminal))) << shown;
            } else {
                EXPECT_EQ(shown, c.elsewhere);
            }
        }
    }
    // pixunfold says nothing of its streams.
    ASSERT_EQ(runTool({"-s", stream, output}).status, 0);
    EXPECT_EQ(onTerminal(PIXUNFOLD_EXECUTABLE, {"-s", "16", "16", output, folder.path("back.ppm")}),
              "");
}

TEST_F(ImageStream, UnfoldGivesBackEveryFrame) {
    Bytes samples;
    for (int i = 0; i < 4 * 2 * 3; ++i) {
        samples.push_back(static_cast<std::uint8_t>(i < 3 ? 0 : i * 10)); // black first: the key
    }
    const Bytes frame = ppmImage(4, 2, samples);
    writeFile(stream, concatenate({frame, frame, frame}));
    const std::string alpha = folder.path("alpha.bin");
    const std::string back = folder.path("back.ppm");
    const std::string mask = folder.path("mask.pgm");
    ASSERT_EQ(
        runTool({"-s", "-f", "e888Alpha", "-m", "000000", "-1", "7", "-a", alpha, stream, output})
            .status,
        0);
    const ToolRun run =
        runUnfold({"-s", "-f", "e888Alpha", "-a", alpha, "-k", mask, "4", "2", output, back});
    ASSERT_EQ(run.status, 0) << run.standardError;
    const std::string header = "P6\n4 2\n255\n";
    const Bytes all = readFile(back);
    ASSERT_EQ(all.size(), 3 * (header.size() + samples.size()));
    for (std::size_t f = 0; f < 3; ++f) {
        const auto start = all.begin() + static_cast<long>(f * (header.size() + samples.size()));
        EXPECT_EQ(Bytes(start, start + static_cast<long>(header.size())), bytesOf(header));
        for (std::size_t i = 0; i < samples.size(); ++i) {
            EXPECT_LE(std::abs(start[static_cast<long>(header.size() + i)] - samples[i]),
                      e888Tolerance);
        }
    }
    const Bytes maskFrame = concatenate({bytesOf("P5\n4 2\n255\n"), {255, 0, 0, 0, 0, 0, 0, 0}});
    EXPECT_EQ(readFile(mask), concatenate({maskFrame, maskFrame, maskFrame}));
    if (onPath("pamfile")) {
        ProcessSetup host;
        host.useEmulator = false;
        const ProcessRun described = runProcess("pamfile", {"-allimages", back}, host);
        EXPECT_EQ(described.status, 0);
        EXPECT_EQ(
            std::count(described.standardOutput.begin(), described.standardOutput.end(), '\n'), 3);
    }

    // A record file that is not a whole number of frames, and an alpha file
    // that does not match it.
    writeFile(alpha, Bytes(3 * 32 - 4, 0));
    EXPECT_EQ(runUnfold({"-s", "-f", "e888Alpha", "-a", alpha, "-k", mask, "4", "2", output, back})
                  .standardError,
              "Alpha file '" + alpha +
                  "' does not hold 4 bytes per pixel of every frame: 92 bytes, "
                  "expected 96\n");
    const ToolRun ragged = runUnfold({"-s", "-f", "e655", "5", "2", output, back});
    EXPECT_EQ(ragged.standardError, "Record file '" + output +
                                        "' does not hold a whole number of width x height "
                                        "frames: 96 bytes, frames of 20\n");
}

} // namespace
} // namespace pixfold
