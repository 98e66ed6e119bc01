// Outputs named on the command line against the input and each other: FIFOs,
// pipes, the alpha stream and pixunfold's key plane, and paths compared by
// the files they finally name. Each case runs the built executables.
#include "cleanup.h"
#include "support/tool_folder.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

namespace pixfold {
namespace {

using namespace testing_support;
using SameFile = ToolFolder;

TEST_F(SameFile, FifoAndPipeNamedAsInputAndOutputAreTheSameFile) {
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

TEST_F(SameFile, AlphaStreamMustNotBeTheInputOrTheOutputFile) {
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

TEST_F(SameFile, AlphaStreamToAFileWithDashA) {
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

TEST_F(SameFile, UnfoldOutputsAreWholeAndDistinct) {
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

TEST_F(SameFile, OutputsAreComparedByTheirFinalTargets) {
    std::filesystem::create_symlink("new.yuv", folder.path("dangling"));
    ProcessSetup here;
    here.workingDirectory = folder.path("");
    for (const std::string& alpha : {std::string("./o.yuv"), folder.path("o.yuv")}) {
        const ToolRun run = runTool({"-f", "e888Alpha", "-a", alpha, input, "o.yuv"}, here);
        EXPECT_EQ(run.standardError, "Output files are the same file\n") << alpha;
    }
    ToolRun run = runTool({"-f", "e888Alpha", "-a", "dangling", input, "new.yuv"}, here);
    EXPECT_EQ(run.standardError, "Output files are the same file\n");
    const std::string records = folder.path("records.bin");
    ASSERT_EQ(runTool({"-f", "e655Z", input, records}).status, 0);
    std::filesystem::create_symlink("x.ppm", folder.path("link"));
    for (const std::string& mask : {std::string("./x.ppm"), std::string("link")}) {
        run = runUnfold({"-f", "e655Z", "-k", mask, "4", "4", records, "x.ppm"}, here);
        EXPECT_EQ(run.standardError, "Output files are the same file\n") << mask;
    }
    EXPECT_FALSE(std::filesystem::exists(folder.path("o.yuv")));
    EXPECT_FALSE(std::filesystem::exists(folder.path("x.ppm")));
    // One name in two folders is two files.
    std::filesystem::create_directory(folder.path("d1"));
    std::filesystem::create_directory(folder.path("d2"));
    run = runTool({"-f", "e888Alpha", "-a", "d1/o.yuv", input, "d2/o.yuv"}, here);
    EXPECT_EQ(run.status, 0) << run.standardError;
    EXPECT_EQ(readFile(folder.path("d1/o.yuv")).size(), 64u);
    EXPECT_EQ(readFile(folder.path("d2/o.yuv")).size(), 64u);

    // A link loop, and a link the kernel would refuse to follow.
    for (const auto& [link, target] : {std::pair{"a", "b"}, {"b", "c"}, {"c", "a"}}) {
        std::filesystem::create_symlink(target, folder.path(link));
    }
    run = runTool({input, folder.path("a")});
    EXPECT_EQ(run.standardError, "Can't open output file '" + folder.path("a") +
                                     "': Too many levels of symbolic links\n");
    EXPECT_TRUE(std::filesystem::is_symlink(folder.path("b")));
    // The kernel's rule holds only where it is switched on: switch it on.
    const std::string setting = "/proc/sys/fs/protected_symlinks";
    const Bytes wasOn = readFile(setting);
    if (geteuid() != 0 || wasOn.empty()) {
        return;
    }
    writeFile(setting, bytesOf("1\n"));
    const std::string sticky = folder.path("sticky");
    std::filesystem::create_directory(sticky);
    ASSERT_EQ(chmod(sticky.c_str(), 01777), 0);
    const std::string victim = folder.path("victim");
    writeFile(victim, bytesOf("victim"));
    std::filesystem::create_symlink(victim, sticky + "/out.yuv");
    ASSERT_EQ(lchown((sticky + "/out.yuv").c_str(), 54321, 54321), 0);
    run = runTool({input, sticky + "/out.yuv"});
    writeFile(setting, wasOn);
    EXPECT_EQ(run.standardError,
              "Can't open output file '" + sticky + "/out.yuv': Permission denied\n");
    EXPECT_EQ(readFile(victim), bytesOf("victim"));
}

} // namespace
} // namespace pixfold
