// The tools in shell loops, make rules, pipes and FIFOs: arguments that can't
// be meant, outputs that must appear whole or not at all, every same-file
// case, closed descriptors and readers that quit. Each case runs the built
// executables.
#include "support/files.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

namespace pixfold {
namespace {

using namespace testing_support;

Bytes squareImage(int side) {
    Bytes samples;
    for (int i = 0; i < side * side * 3; ++i) {
        samples.push_back(static_cast<std::uint8_t>(i * 7));
    }
    return ppmImage(side, side, samples);
}

class Pipeline : public testing::Test {
  protected:
    void SetUp() override {
        signal(SIGPIPE, SIG_IGN); // the FIFO feeders must not die with a quitting reader
        writeFile(input, squareImage(4));
    }

    std::string expectedE888() {
        std::string reference = folder.path("reference.yuv");
        EXPECT_EQ(runTool({input, reference}).status, 0);
        return reference;
    }

    ScratchFolder folder;
    std::string input = folder.path("in.ppm");
    std::string output = folder.path("out.yuv");
};

const char* const usagePrefix = "Usage: pixfold ";

TEST_F(Pipeline, ArgumentsAfterTheOutputPathAreRefused) {
    // A glob that matched three frames, and options after the paths.
    const std::string second = folder.path("second.ppm");
    writeFile(second, squareImage(2));
    const Bytes before = readFile(second);
    for (const std::vector<std::string>& arguments : std::vector<std::vector<std::string>>{
             {"-f", "e655", input, second, folder.path("third.ppm")},
             {input, output, "-f", "e655"}}) {
        const ToolRun run = runTool(arguments);
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.standardError.rfind(usagePrefix, 0), 0u);
    }
    EXPECT_EQ(readFile(second), before);
    EXPECT_FALSE(std::filesystem::exists(output));
    const ToolRun unfold = runUnfold({"4", "4", input, output, folder.path("extra")});
    EXPECT_EQ(unfold.status, 1);
    EXPECT_EQ(unfold.standardError.rfind("Usage: pixunfold ", 0), 0u);
}

TEST_F(Pipeline, HelpAndVersionPrintOnStandardOutput) {
    for (const bool unfold : {false, true}) {
        const ToolRun help = unfold ? runUnfold({"--help"}) : runTool({"--help"});
        EXPECT_EQ(help.status, 0);
        EXPECT_EQ(help.standardError, "");
        const std::string text(help.standardOutput.begin(), help.standardOutput.end());
        EXPECT_EQ(text.rfind(unfold ? "Usage: pixunfold " : usagePrefix, 0), 0u);
        const ToolRun version =
            unfold ? runUnfold({"--version", "a", "b"}) : runTool({"--version", input, output});
        EXPECT_EQ(version.status, 0);
        EXPECT_EQ(version.standardOutput,
                  bytesOf(std::string(unfold ? "pixunfold " : "pixfold ") + PIXFOLD_VERSION "\n"));
    }
    EXPECT_FALSE(std::filesystem::exists(output));
}

TEST_F(Pipeline, ReplacedOutputKeepsItsModeAndItsLink) {
    const std::string target = folder.path("target.yuv");
    writeFile(target, bytesOf("old"));
    ASSERT_EQ(chmod(target.c_str(), 0640), 0);
    std::filesystem::create_symlink("target.yuv", output);
    ASSERT_EQ(runTool({input, output}).status, 0);
    EXPECT_TRUE(std::filesystem::is_symlink(output));
    EXPECT_EQ(readFile(target), readFile(expectedE888()));
    struct stat status {};
    ASSERT_EQ(stat(target.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, 0640u);
}

TEST_F(Pipeline, KilledMidRasterLeavesTheOldOutputAndNoTemporaryFile) {
    const std::string fifo = folder.path("slow.fifo");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    writeFile(output, bytesOf("previous frame"));
    const StartedProcess started = startProcess(PIXFOLD_EXECUTABLE, {fifo, output});
    const int writer = open(fifo.c_str(), O_WRONLY);
    ASSERT_GE(writer, 0);
    const Bytes image = squareImage(64);
    ASSERT_EQ(write(writer, image.data(), image.size() / 2),
              static_cast<ssize_t>(image.size() / 2));
    // Wait until the half raster is converted into the temporary file.
    bool temporarySeen = false;
    for (int wait = 0; wait < 1000 && !temporarySeen; ++wait) {
        for (const std::string& name : filesIn(folder.path(""))) {
            temporarySeen = temporarySeen || name.find(".tmp") != std::string::npos;
        }
        usleep(10000);
    }
    EXPECT_TRUE(temporarySeen);
    kill(started.id, SIGTERM);
    const ProcessRun run = finishProcess(started);
    close(writer);
    EXPECT_EQ(run.status, 128 + SIGTERM);
    EXPECT_EQ(readFile(output), bytesOf("previous frame"));
    std::vector<std::string> left = filesIn(folder.path(""));
    std::sort(left.begin(), left.end());
    EXPECT_EQ(left, (std::vector<std::string>{"in.ppm", "out.yuv", "slow.fifo"}));
}

TEST_F(Pipeline, RunsWritingOnePathAtOnceLeaveOneWholeOutput) {
    writeFile(input, squareImage(128));
    const std::vector<std::string> formats = {"e655", "e655Z", "e888", "e888Alpha"};
    std::vector<Bytes> valid;
    for (const std::string& format : formats) {
        const std::string alone = folder.path("alone-" + format);
        ASSERT_EQ(runTool({"-f", format, input, alone}, "/dev/null").status, 0);
        valid.push_back(readFile(alone));
    }
    std::vector<StartedProcess> runs;
    for (int i = 0; i < 20; ++i) {
        ProcessSetup setup;
        setup.standardOutput = "/dev/null";
        runs.push_back(startProcess(PIXFOLD_EXECUTABLE,
                                    {"-f", formats[static_cast<std::size_t>(i) % 4], input, output},
                                    setup));
    }
    for (const StartedProcess& started : runs) {
        EXPECT_EQ(finishProcess(started).status, 0);
    }
    const Bytes result = readFile(output);
    EXPECT_NE(std::find(valid.begin(), valid.end(), result), valid.end());
    EXPECT_EQ(filesIn(folder.path("")).size(), 6u); // in.ppm, out.yuv, alone-* x 4
}

TEST_F(Pipeline, FifoAndPipeNamedAsInputAndOutputAreTheSameFile) {
    const std::string fifo = folder.path("frames.fifo");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const StartedProcess writer = feedFifo(fifo, readFile(input));
    const ToolRun run = runTool({fifo, fifo});
    finishHelper(writer);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.standardError, "Input and output are the same file\n");

    // cat a.ppm | pixfold /dev/stdin /dev/stdin
    int pipeEnds[2];
    ASSERT_EQ(pipe(pipeEnds), 0);
    const Bytes image = readFile(input); // small enough to wait in the pipe
    ASSERT_EQ(write(pipeEnds[1], image.data(), image.size()), static_cast<ssize_t>(image.size()));
    close(pipeEnds[1]);
    ProcessSetup fromPipe;
    fromPipe.standardInputDescriptor = pipeEnds[0];
    const ToolRun stdinTwice = runTool({"/dev/stdin", "/dev/stdin"}, fromPipe);
    close(pipeEnds[0]);
    EXPECT_EQ(stdinTwice.status, 1);
    EXPECT_EQ(stdinTwice.standardError, "Input and output are the same file\n");

    const StartedProcess records = feedFifo(fifo, Bytes(64, 0));
    const ToolRun unfold = runUnfold({"2", "2", fifo, fifo});
    finishHelper(records);
    EXPECT_EQ(unfold.status, 1);
    EXPECT_EQ(unfold.standardError, "Input and output are the same file\n");
}

TEST_F(Pipeline, AlphaStreamMustNotBeTheInputOrTheOutputFile) {
    const Bytes original = readFile(input);
    ProcessSetup intoOutput; // > out.yuv
    intoOutput.standardOutput = output;
    ToolRun run = runTool({"-f", "e888Alpha", input, output}, intoOutput);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.standardError, "Output file and standard output are the same file\n");

    ProcessSetup overInput; // 1<> in.ppm
    overInput.standardOutput = input;
    overInput.standardOutputAppend = true;
    run = runTool({"-f", "e888Alpha", input, output}, overInput);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.standardError, "Input and output are the same file\n");
    EXPECT_EQ(readFile(input), original);
}

TEST_F(Pipeline, AlphaStreamToAFileWithDashA) {
    const std::string alpha = folder.path("alpha.bin");
    ToolRun run =
        runTool({"-f", "e888Alpha", "-m", "000000", "-1", "0a0d0a0d", "-a", alpha, input, output});
    EXPECT_EQ(run.status, 0);
    EXPECT_TRUE(run.standardOutput.empty());
    const ToolRun toStdout =
        runTool({"-f", "e888Alpha", "-m", "000000", "-1", "0a0d0a0d", input, folder.path("b")});
    EXPECT_EQ(readFile(alpha), toStdout.standardOutput);
    EXPECT_EQ(readFile(alpha).size(), 4u * 16);
    // Other formats take -a and ignore it.
    EXPECT_EQ(runTool({"-a", folder.path("unused"), input, output}).status, 0);
    EXPECT_FALSE(std::filesystem::exists(folder.path("unused")));

    run = runTool({"-f", "e888Alpha", "-a", output, input, output});
    EXPECT_EQ(run.standardError, "Output files are the same file\n");
    run = runTool({"-f", "e888Alpha", "-a", input, input, output});
    EXPECT_EQ(run.standardError, "Input and output are the same file\n");
}

TEST_F(Pipeline, ClosedStandardOutputIsNeverAnOutputFile) {
    ProcessSetup closed;
    closed.closeStandardOutput = true;
    ToolRun run = runTool({"-f", "e888Alpha", input, output}, closed);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.standardError, "Can't write to standard output\n");
    EXPECT_FALSE(std::filesystem::exists(output)); // and so holds no alpha byte
    run = runTool({input, output}, closed);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(readFile(output), readFile(expectedE888()));
}

TEST_F(Pipeline, ReaderThatQuitsIsAWriteFailure) {
    writeFile(input, squareImage(200));
    int pipeEnds[2];
    ASSERT_EQ(pipe(pipeEnds), 0);
    close(pipeEnds[0]); // | head -c 0
    ProcessSetup intoPipe;
    intoPipe.standardOutputDescriptor = pipeEnds[1];
    ToolRun run = runTool({"-f", "e888Alpha", input, output}, intoPipe);
    close(pipeEnds[1]);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.standardError, "Can't write to standard output\n");

    const std::string fifo = folder.path("out.fifo");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const StartedProcess reader = readFifo(fifo, 10);
    run = runTool({input, fifo});
    finishHelper(reader);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.standardError, "Can't write output file '" + fifo + "'\n");
}

TEST_F(Pipeline, UnfoldOutputsAreWholeAndDistinct) {
    const std::string records = folder.path("records.bin");
    const std::string picture = folder.path("back.ppm");
    ASSERT_EQ(runTool({"-f", "e655Z", input, records}).status, 0);
    std::filesystem::create_hard_link(input, folder.path("hard.ppm"));
    for (const std::string& mask : {picture, folder.path("./back.ppm")}) {
        const ToolRun run = runUnfold({"-f", "e655Z", "-k", mask, "4", "4", records, picture});
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.standardError, "Output files are the same file\n");
    }
    const ToolRun linked =
        runUnfold({"-f", "e655Z", "-k", input, "4", "4", records, folder.path("hard.ppm")});
    EXPECT_EQ(linked.standardError, "Output files are the same file\n");
    EXPECT_FALSE(std::filesystem::exists(picture));

    // A mask that can't be opened leaves the existing picture alone.
    writeFile(picture, bytesOf("keep"));
    const ToolRun noMask = runUnfold(
        {"-f", "e655Z", "-k", folder.path("no/such/mask.pgm"), "4", "4", records, picture});
    EXPECT_EQ(noMask.status, 1);
    EXPECT_EQ(readFile(picture), bytesOf("keep"));

    // A record pipe that runs short leaves no picture, not a header alone.
    const std::string fifo = folder.path("records.fifo");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const StartedProcess writer = feedFifo(fifo, Bytes(40, 0));
    const ToolRun shortPipe = runUnfold({"-f", "e655Z", "4", "4", fifo, folder.path("new.ppm")});
    finishHelper(writer);
    EXPECT_EQ(shortPipe.status, 1);
    EXPECT_EQ(shortPipe.standardError,
              "Record file '" + fifo +
                  "' does not hold exactly width x height records of its format: 40 bytes, "
                  "expected 64\n");
    EXPECT_FALSE(std::filesystem::exists(folder.path("new.ppm")));
}

} // namespace
} // namespace pixfold
