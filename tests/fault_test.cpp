// The executable under hostile conditions: unwritable places, slow and short
// pipes, absurd headers. Each must end with its message and status 1, or with
// a correct conversion, never a hang or a crash.
#include "support/files.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>

namespace pixfold {
namespace {

using namespace testing_support;

class Fault : public testing::Test {
  protected:
    ScratchFolder folder;
    std::string input = folder.path("in.ppm");
    std::string output = folder.path("out.yuv");
};

Bytes twoByTwo() {
    return ppmImage(2, 2, {255, 0, 0, 0, 255, 0, 0, 0, 255, 255, 255, 255});
}

TEST_F(Fault, SlowFifoInputConvertsCompletely) {
    const std::string fifo = folder.path("in.fifo");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const Bytes image = twoByTwo();
    const StartedProcess writer = feedFifo(fifo, image, true);
    const ToolRun run = runTool({fifo, output});
    finishHelper(writer);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(readFile(output), (Bytes{0x51, 0xF0, 0x5B, 0x00, 0x91, 0x23, 0x37, 0x00, 0x29, 0x6F,
                                       0xF0, 0x00, 0xEB, 0x80, 0x80, 0x00}));
}

TEST_F(Fault, FifoClosedMidRasterIsTruncated) {
    const std::string fifo = folder.path("in.fifo");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const Bytes image = twoByTwo();
    // 2 whole pixels and 2 samples
    const StartedProcess writer = feedFifo(fifo, Bytes(image.begin(), image.end() - 4), true);
    const ToolRun run = runTool({fifo, output});
    finishHelper(writer);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.standardError, "Input file '" + fifo + "' is truncated\n");
    EXPECT_FALSE(std::filesystem::exists(output));
}

TEST_F(Fault, HugeDimensionsWithATinyRasterStopAtOnce) {
    writeFile(input, bytesOf("P6\n2147483647 2147483647\n255\n\x01\x02\x03\x04\x05"));
    for (const char* format : {"e655", "e655Z", "e888", "e888Alpha"}) {
        const ToolRun run = runTool({"-f", format, input, output});
        EXPECT_EQ(run.status, 1) << format;
        EXPECT_EQ(run.standardError, "Input file '" + input + "' is truncated\n") << format;
        EXPECT_FALSE(std::filesystem::exists(output)) << format;
    }
}

TEST_F(Fault, MegabyteCommentIsSkipped) {
    Bytes image = bytesOf("P6\n#");
    image.insert(image.end(), 1 << 20, 'x');
    const Bytes rest = bytesOf("\n1 1\n255\n\xff\xff\xff");
    image.insert(image.end(), rest.begin(), rest.end());
    writeFile(input, image);
    const ToolRun run = runTool({input, output});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(readFile(output), (Bytes{0xEB, 0x80, 0x80, 0x00}));
}

TEST_F(Fault, MagicAloneIsNotAHeader) {
    writeFile(input, bytesOf("P6"));
    const ToolRun run = runTool({input, output});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.standardError, "Wrong input format\n");
    EXPECT_FALSE(std::filesystem::exists(output));
}

TEST_F(Fault, OutputWhereNoFileCanBeCreated) {
    writeFile(input, twoByTwo());
    writeFile(folder.path("plain-file"), bytesOf("x"));
    // Neither needs file modes, so they hold for root too: /proc takes no new
    // files, and a regular file is no folder.
    for (const auto& [path, reason] :
         {std::pair{std::string("/proc/pixfold-test.yuv"), "No such file or directory"},
          {folder.path("plain-file/out.yuv"), "Not a directory"}}) {
        const ToolRun run = runTool({input, path});
        EXPECT_EQ(run.status, 1) << path;
        EXPECT_EQ(run.standardError, "Can't open output file '" + path + "': " + reason + "\n");
    }
}

TEST_F(Fault, OutputInAReadOnlyFolder) {
    if (geteuid() == 0) {
        GTEST_SKIP() << "root writes into read-only folders; the test above covers it";
    }
    writeFile(input, twoByTwo());
    const std::string locked = folder.path("locked");
    std::filesystem::create_directory(locked);
    ASSERT_EQ(chmod(locked.c_str(), 0555), 0);
    const ToolRun run = runTool({input, locked + "/out.yuv"});
    chmod(locked.c_str(), 0755);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.standardError,
              "Can't open output file '" + locked + "/out.yuv': Permission denied\n");
}

} // namespace
} // namespace pixfold
