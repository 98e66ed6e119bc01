// The tools in shell loops, make rules, pipes and FIFOs: arguments that can't
// be meant, outputs that must appear whole or not at all, every same-file
// case, closed descriptors and readers that quit. Each case runs the built
// executables.
#include "cleanup.h"
#include "support/files.h"

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

Bytes squareImage(int side) {
    Bytes samples;
    for (int i = 0; i < side * side * 3; ++i) {
        samples.push_back(static_cast<std::uint8_t>(i * 7));
    }
    return ppmImage(side, side, samples);
}

// Whether a temporary file appears in folder within ten seconds.
bool waitForTemporaryFile(const std::string& folder) {
    for (int wait = 0; wait < 1000; ++wait) {
        for (const std::string& name : filesIn(folder)) {
            if (name.find(".tmp") != std::string::npos) {
                return true;
            }
        }
        usleep(10000);
    }
    return false;
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
        EXPECT_NE(run.standardError.find(usagePrefix), std::string::npos);
    }
    EXPECT_EQ(readFile(second), before);
    EXPECT_FALSE(std::filesystem::exists(output));
    const ToolRun unfold = runUnfold({"4", "4", input, output, folder.path("extra")});
    EXPECT_EQ(unfold.status, 1);
    EXPECT_NE(unfold.standardError.find("\nUsage: pixunfold "), std::string::npos);
}

TEST_F(Pipeline, HelpAndVersionPrintOnStandardOutput) {
    for (const bool unfold : {false, true}) {
        const ToolRun help = unfold ? runUnfold({"--help"}) : runTool({"--help"});
        EXPECT_EQ(help.status, 0);
        EXPECT_EQ(help.standardError, "");
        const std::string text(help.standardOutput.begin(), help.standardOutput.end());
        EXPECT_EQ(text.rfind(unfold ? "Usage: pixunfold " : usagePrefix, 0), 0u);
        for (const char* option : {" -a ", " -s ", " -1 ", " -0 ", " -t ", " --version", " -- "}) {
            const bool listed = text.find(option) != std::string::npos;
            EXPECT_TRUE(listed || (unfold && (option[2] == '0' || option[2] == 't'))) << option;
        }
        const ToolRun version =
            unfold ? runUnfold({"--version", "a", "b"}) : runTool({"--version", input, output});
        EXPECT_EQ(version.status, 0);
        EXPECT_EQ(version.standardOutput,
                  bytesOf(std::string(unfold ? "pixunfold " : "pixfold ") + PIXFOLD_VERSION "\n"));
        ProcessSetup toFull;
        toFull.standardOutput = "/dev/full";
        for (const char* request : {"--help", "--version"}) {
            const ToolRun full = unfold ? runUnfold({request}, toFull) : runTool({request}, toFull);
            EXPECT_EQ(full.status, 1);
            EXPECT_EQ(full.standardError,
                      "Can't write to standard output: No space left on device\n");
        }
    }
    EXPECT_FALSE(std::filesystem::exists(output));
}

TEST_F(Pipeline, MistypedOptionsAreNeverPassedOverInSilence) {
    // Two images in one regular file, and the ways a user asks for both.
    writeFile(input, concatenate({squareImage(4), squareImage(2)}));
    const std::string single = folder.path("single.yuv");
    ToolRun run = runTool({"-S", "-f", "e655", input, output});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.standardError, "Ignoring unknown option '-S'\nOnly the first image was "
                                 "converted; -s converts every image\n");
    EXPECT_EQ(readFile(output).size(), 32u);
    run = runTool({"-f", "e655", input, single});
    EXPECT_EQ(run.standardError, "Only the first image was converted; -s converts every image\n");
    EXPECT_EQ(runTool({"-s", input, output}).standardError,
              "Image 2 is 2x2, image 1 was 4x4: the records of this stream can't be split into "
              "equal frames\n");
    EXPECT_EQ(readFile(output).size(), 80u);
    // Long options are no short option in disguise: --format=e655 is not -f.
    for (const std::vector<std::string>& arguments : std::vector<std::vector<std::string>>{
             {"--stream", input, single}, {"--format=e655", input, single}}) {
        run = runTool(arguments);
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.standardError.rfind("Unknown long option '" + arguments[0] + "'\n", 0), 0u);
        run = runUnfold({arguments[0], "4", "4", output, single});
        EXPECT_EQ(run.standardError.rfind("Unknown long option '" + arguments[0] + "'\n", 0), 0u);
    }
}

TEST_F(Pipeline, DashIsTheStandardStreams) {
    const std::string reference = expectedE888();
    ProcessSetup fromFile; // cat in.ppm | pixfold - -
    fromFile.standardInput = input;
    ToolRun run = runTool({"-", "-"}, fromFile);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.standardOutput, readFile(reference));
    run = runTool({"-f", "e888Alpha", "-a", "-", "-", output}, fromFile);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.standardOutput.size(), 64u);
    run = runTool({"-f", "e888Alpha", input, "-"});
    EXPECT_EQ(run.standardError, "Output file and standard output are the same file\n");
    // "--" ends the options: an input whose name begins with "-".
    const std::string dashed = folder.path("-frame.ppm");
    writeFile(dashed, readFile(input));
    ProcessSetup here;
    here.workingDirectory = folder.path("");
    EXPECT_EQ(runTool({"--", "-frame.ppm", "out.yuv"}, here).status, 0);
    EXPECT_EQ(readFile(output), readFile(reference));

    // A standard output redirected to a file (>>) gets the records at its own
    // position, whole, and nothing from a failed run; "-" and /dev/stdout alike.
    const std::string appended = folder.path("appended.yuv");
    Bytes broken = squareImage(4);
    broken.resize(broken.size() - 1);
    writeFile(folder.path("broken.ppm"), broken);
    for (const std::string& path : {std::string("-"), std::string("/dev/stdout")}) {
        writeFile(appended, bytesOf("prefix"));
        ProcessSetup toAppended;
        toAppended.standardOutputDescriptor = open(appended.c_str(), O_WRONLY | O_APPEND);
        EXPECT_EQ(runTool({folder.path("broken.ppm"), path}, toAppended).status, 1);
        EXPECT_EQ(readFile(appended), bytesOf("prefix")) << path;
        EXPECT_EQ(runTool({input, path}, toAppended).status, 0);
        close(toAppended.standardOutputDescriptor);
        EXPECT_EQ(readFile(appended), concatenate({bytesOf("prefix"), readFile(reference)}));
    }
    // Without -s a pipe is read no further than the first image.
    int pipeEnds[2];
    ASSERT_EQ(pipe(pipeEnds), 0);
    const Bytes twice = concatenate({readFile(input), readFile(input)});
    ASSERT_EQ(write(pipeEnds[1], twice.data(), twice.size()), static_cast<ssize_t>(twice.size()));
    close(pipeEnds[1]);
    ProcessSetup fromPipe;
    fromPipe.standardInputDescriptor = pipeEnds[0];
    EXPECT_EQ(runTool({"-", output}, fromPipe).status, 0);
    std::vector<std::uint8_t> left(twice.size());
    EXPECT_EQ(read(pipeEnds[0], left.data(), left.size()),
              static_cast<ssize_t>(readFile(input).size()));
    close(pipeEnds[0]);

    // pixunfold: records from standard input, the picture to standard output.
    ProcessSetup records;
    records.standardInput = reference;
    const ToolRun back = runUnfold({"4", "4", "-", "-"}, records);
    EXPECT_EQ(back.status, 0);
    EXPECT_EQ(std::string(back.standardOutput.begin(), back.standardOutput.begin() + 11),
              "P6\n4 4\n255\n");
    run = runUnfold({"-f", "e888Alpha", "-a", "-", "-k", "k.pgm", "4", "4", "-", "p.ppm"}, records);
    EXPECT_EQ(run.status, 1);
    run = runUnfold({"-f", "e655Z", "-k", "-", "4", "4", reference, "-"});
    EXPECT_EQ(run.standardError, "Output files are the same file\n");
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
    const bool temporarySeen = waitForTemporaryFile(folder.path(""));
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
        const ProcessRun run = finishProcess(started);
        EXPECT_EQ(run.status, 0) << run.standardError;
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
    EXPECT_EQ(run.standardError, "Can't write to standard output: Bad file descriptor\n");
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
    EXPECT_EQ(run.standardError, "Can't write to standard output: Broken pipe\n");

    const std::string fifo = folder.path("out.fifo");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const StartedProcess reader = readFifo(fifo, 10);
    run = runTool({input, fifo});
    finishHelper(reader);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.standardError, "Can't write output file '" + fifo + "': Broken pipe\n");
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

// ---- Outputs decided by their final target

// A 300 x 300 image missing its last 7 bytes: every run of it fails after
// writing records.
Bytes truncatedImage() {
    Bytes image = squareImage(300);
    image.resize(image.size() - 7);
    return image;
}

bool mounted(const std::vector<std::string>& arguments) {
    ProcessSetup host;
    host.useEmulator = false;
    return geteuid() == 0 && onPath("mount") && runProcess("mount", arguments, host).status == 0;
}

void unmount(const std::string& path) {
    ProcessSetup host;
    host.useEmulator = false;
    runProcess("umount", {path}, host);
}

// What another user runs: the tool under setpriv.
ProcessSetup asOtherUser() {
    ProcessSetup setup;
    setup.runAs = {"setpriv", "--reuid=54321", "--regid=54321", "--clear-groups"};
    return setup;
}

bool canRunAsOtherUser() {
    return geteuid() == 0 && onPath("setpriv");
}

TEST_F(Pipeline, FailedRunsLeaveExistingFilesAsTheyWere) {
    const std::string broken = folder.path("trunc.ppm");
    writeFile(broken, truncatedImage());
    const std::string longName = folder.path(std::string(245, 'n') + ".yuv");
    std::vector<std::string> targets = {longName, folder.path("a\\b.yuv")};
    const std::string shm = "/dev/shm/pixfold-test-" + std::to_string(getpid());
    if (std::filesystem::is_directory("/dev/shm")) {
        targets.push_back(shm);
    }
    const std::string tiny = folder.path("tiny"); // a file system with no free inode
    std::filesystem::create_directory(tiny);
    const bool tinyMounted = mounted({"-t", "tmpfs", "-o", "nr_inodes=3,size=1m", "none", tiny});
    if (tinyMounted) {
        targets.push_back(tiny + "/full.yuv");
        writeFile(tiny + "/other", bytesOf("x"));
    } else {
        std::printf("[   NOTE   ] no tmpfs without free inodes: needs root and mount\n");
    }
    for (const std::string& target : targets) {
        SCOPED_TRACE(target);
        writeFile(target, bytesOf("old"));
        EXPECT_EQ(runTool({broken, target}).status, 1);
        EXPECT_EQ(readFile(target), bytesOf("old"));
        EXPECT_EQ(runTool({input, target}).status, 0);
        EXPECT_EQ(readFile(target), readFile(expectedE888()));
    }
    std::filesystem::remove(shm);
    if (tinyMounted) {
        EXPECT_EQ(filesIn(tiny).size(), 2u);
        unmount(tiny);
    }
    EXPECT_FALSE(std::filesystem::exists(folder.path("a")));
    // in.ppm, trunc.ppm, the long one, a\b.yuv, reference.yuv and tiny: nothing else
    EXPECT_EQ(filesIn(folder.path("")).size(), 6u);
}

// Standard output redirected to a file: an empty one (> file) gets the
// records straight in, and a failure or a signal cuts it back to nothing and
// puts the shared position back; one with bytes (1<>) or open for appending
// (>>) is left as it was, with what other writers added meanwhile.
TEST_F(Pipeline, StandardOutputFilesAreCutBackAfterAFailedRun) {
    const std::string broken = folder.path("trunc.ppm");
    writeFile(broken, truncatedImage());
    const std::string target = folder.path("stdout.yuv");
    for (const auto& [old, position] :
         {std::pair<std::string, off_t>{"", 0}, {"0123456789", 10}, {"0123456789", 2}}) {
        SCOPED_TRACE(old + " at " + std::to_string(position));
        writeFile(target, bytesOf(old));
        ProcessSetup toTarget;
        toTarget.standardOutputDescriptor = open(target.c_str(), O_RDWR);
        lseek(toTarget.standardOutputDescriptor, position, SEEK_SET);
        EXPECT_EQ(runTool({broken, "-"}, toTarget).status, 1);
        EXPECT_EQ(lseek(toTarget.standardOutputDescriptor, 0, SEEK_CUR), position);
        close(toTarget.standardOutputDescriptor);
        EXPECT_EQ(readFile(target), bytesOf(old));
    }
    const std::string fifo = folder.path("slow.fifo");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const Bytes image = squareImage(400); // half of it is more than one block
    for (const bool append : {false, true}) {
        SCOPED_TRACE(append);
        writeFile(target, {});
        ProcessSetup toTarget;
        toTarget.standardOutputDescriptor =
            open(target.c_str(), O_WRONLY | (append ? O_APPEND : 0));
        toTarget.runAs = {"env", "TMPDIR=" + folder.path("")};
        const StartedProcess started = startProcess(PIXFOLD_EXECUTABLE, {fifo, "-"}, toTarget);
        const int writer = open(fifo.c_str(), O_WRONLY);
        ASSERT_GE(writer, 0);
        ASSERT_EQ(write(writer, image.data(), image.size() / 2),
                  static_cast<ssize_t>(image.size() / 2));
        if (append) { // the records wait in a temporary file
            EXPECT_TRUE(waitForOpenTemporaryFile(started.id));
        }
        for (int wait = 0; wait < 1000 && !append && readFile(target).empty(); ++wait) {
            usleep(10000);
        }
        if (append) { // another writer on the same log
            writeFile(folder.path("other"), bytesOf("other"));
            ProcessSetup host;
            host.useEmulator = false;
            EXPECT_EQ(runProcess("/bin/sh",
                                 {"-c", "cat \"$0\" >> \"$1\"", folder.path("other"), target}, host)
                          .status,
                      0);
        }
        kill(started.id, SIGTERM);
        EXPECT_EQ(finishProcess(started).status, 128 + SIGTERM);
        close(writer);
        EXPECT_EQ(lseek(toTarget.standardOutputDescriptor, 0, SEEK_CUR), 0);
        close(toTarget.standardOutputDescriptor);
        EXPECT_EQ(readFile(target), bytesOf(append ? "other" : ""));
    }
}

TEST_F(Pipeline, FilesThatCantBeRenamedOverAreCopiedInWhole) {
    // A bind-mounted file, as a container volume is: the alpha file of a pair.
    const std::string records = folder.path("records.yuv");
    const std::string alpha = folder.path("volume.alpha");
    const std::string source = folder.path("source.alpha");
    const std::string broken = folder.path("trunc.ppm");
    writeFile(broken, truncatedImage());
    writeFile(alpha, bytesOf("mount point"));
    writeFile(source, bytesOf("old alpha"));
    if (!mounted({"--bind", source, alpha})) {
        GTEST_SKIP() << "a bind mount needs root and mount";
    }
    writeFile(records, bytesOf("old records"));
    ToolRun run = runTool({"-f", "e888Alpha", "-a", alpha, broken, records});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(readFile(records), bytesOf("old records"));
    EXPECT_EQ(readFile(alpha), bytesOf("old alpha"));
    run = runTool({"-f", "e888Alpha", "-a", alpha, input, records});
    EXPECT_EQ(run.status, 0) << run.standardError;
    EXPECT_EQ(readFile(records).size(), 64u);
    EXPECT_EQ(readFile(alpha).size(), 64u);
    unmount(alpha);
    EXPECT_EQ(readFile(source).size(), 64u); // written through the mount, in place

    if (!canRunAsOtherUser()) {
        return;
    }
    // Another user's file in a sticky folder that this user may write but not
    // rename over; and this user's file in a folder only root may change.
    const std::string sticky = folder.path("sticky");
    const std::string locked = folder.path("locked");
    for (const std::string& place : {sticky, locked}) {
        std::filesystem::create_directory(place);
    }
    ASSERT_EQ(chmod(folder.path("").c_str(), 0755), 0);
    ASSERT_EQ(chmod(sticky.c_str(), 01777), 0);
    ASSERT_EQ(chmod(input.c_str(), 0644), 0);
    ASSERT_EQ(chmod(broken.c_str(), 0644), 0);
    const std::string shared = sticky + "/shared.yuv";
    const std::string owned = locked + "/owned.yuv";
    writeFile(shared, bytesOf("old"));
    ASSERT_EQ(chmod(shared.c_str(), 0666), 0);
    writeFile(owned, bytesOf("old"));
    ASSERT_EQ(chown(owned.c_str(), 54321, 54321), 0);
    for (const std::string& target : {shared, owned}) {
        SCOPED_TRACE(target);
        EXPECT_EQ(runTool({broken, target}, asOtherUser()).status, 1);
        EXPECT_EQ(readFile(target), bytesOf("old"));
        EXPECT_EQ(runTool({input, target}, asOtherUser()).status, 0);
        EXPECT_EQ(readFile(target), readFile(expectedE888()));
    }
    struct stat status {};
    ASSERT_EQ(stat(shared.c_str(), &status), 0);
    EXPECT_EQ(status.st_uid, 0u); // the same file, written in place
}

TEST_F(Pipeline, OutputsAreComparedByTheirFinalTargets) {
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

TEST_F(Pipeline, EveryCatchableSignalRemovesTheTemporaryFile) {
    writeFile(output, bytesOf("previous frame"));
    const std::string fifo = folder.path("slow.fifo");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const Bytes image = squareImage(64);
    // The catchable signals that end a process by default, but PIPE and XFSZ.
    for (const int signalNumber : {SIGHUP, SIGINT, SIGQUIT, SIGTERM, SIGUSR1, SIGUSR2, SIGALRM,
                                   SIGVTALRM, SIGPROF, SIGXCPU}) {
        EXPECT_NE(std::find(std::begin(cleanupSignals), std::end(cleanupSignals), signalNumber),
                  std::end(cleanupSignals))
            << signalNumber;
    }
    // Each cleanup signal ends the run and removes its temporary file; one the
    // caller ignored (as nohup and trap "" do) is left ignored, and the run
    // goes on to the end.
    for (const int signalNumber : cleanupSignals) {
        for (const bool ignored : {false, true}) {
            SCOPED_TRACE(std::to_string(signalNumber) + (ignored ? " ignored" : ""));
            ProcessSetup setup;
            if (ignored) {
                setup.runAs = {"/bin/sh", "-c",
                               "trap '' " + std::to_string(signalNumber) + "; exec \"$@\"", "sh"};
            }
            const StartedProcess started = startProcess(PIXFOLD_EXECUTABLE, {fifo, output}, setup);
            const int writer = open(fifo.c_str(), O_WRONLY);
            ASSERT_GE(writer, 0);
            ASSERT_EQ(write(writer, image.data(), image.size() / 2),
                      static_cast<ssize_t>(image.size() / 2));
            waitForTemporaryFile(folder.path(""));
            kill(started.id, signalNumber);
            if (ignored) {
                usleep(20000); // time for a signal caught after all to end the run
                ASSERT_EQ(write(writer, image.data() + image.size() / 2, image.size() / 2),
                          static_cast<ssize_t>(image.size() / 2));
            }
            close(writer);
            EXPECT_EQ(finishProcess(started).status, ignored ? 0 : 128 + signalNumber);
            EXPECT_EQ(filesIn(folder.path("")).size(), 3u);
            EXPECT_EQ(readFile(output).size(), ignored ? 64u * 64 * 4 : 14u);
            writeFile(output, bytesOf("previous frame"));
        }
    }

    // A write past the file-size limit is a write failure, not a SIGXFSZ death.
    const std::string big = folder.path("big.ppm");
    writeFile(big, squareImage(300));
    ProcessSetup limited;
    limited.runAs = {"/bin/sh", "-c", "ulimit -f 100; exec \"$@\"", "limit"};
    const ProcessRun run = runProcess(PIXFOLD_EXECUTABLE, {big, output}, limited);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.standardError, "Can't write output file '" + output + "': File too large\n");
    EXPECT_EQ(readFile(output), bytesOf("previous frame"));
}

TEST_F(Pipeline, ClosedDescriptorsStayClosedToNamedPathsAndDevicesAreWrittenInPlace) {
    ProcessSetup closedOutput;
    closedOutput.closeStandardOutput = true;
    const std::string records = expectedE888();
    for (const std::string path : {"/dev/stdout", "/dev/fd/1", "/proc/self/fd/1"}) {
        const std::string closed = "Can't open output file '" + path + "': Bad file descriptor\n";
        EXPECT_EQ(runTool({input, path}, closedOutput).standardError, closed);
        EXPECT_EQ(runUnfold({"4", "4", records, path}, closedOutput).standardError, closed);
    }
    ProcessSetup closedInput;
    closedInput.closeStandardInput = true;
    const ToolRun run = runTool({"/dev/stdin", output}, closedInput);
    EXPECT_EQ(run.standardError, "Can't open input file '/dev/stdin': Bad file descriptor\n");

    // A device is written in place, as the output and as standard output. Root
    // could rename over /dev/null itself, so root tests a private copy.
    std::string device = "/dev/null";
    if (geteuid() == 0 && mknod(folder.path("null").c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0) {
        device = folder.path("null");
    }
    ASSERT_EQ(runTool({"-f", "e888Alpha", input, device}, device).status, 0);
    EXPECT_TRUE(std::filesystem::is_character_file(device));
    ProcessSetup toDevice;
    toDevice.standardOutput = device;
    EXPECT_EQ(runTool({input, "/dev/stdout"}, toDevice).status, 0);
    EXPECT_TRUE(std::filesystem::is_character_file(device));
    EXPECT_EQ(filesIn(folder.path("")).size(), device == "/dev/null" ? 2u : 3u);
}

TEST_F(Pipeline, OutputsAreOpenedBeforeAnyPixelAndMessagesStayOnOneLine) {
    const std::string broken = folder.path("trunc.ppm");
    writeFile(broken, truncatedImage());
    writeFile(folder.path("plain"), bytesOf("plain"));
    // A trailing slash asks for a folder, as the kernel reads it.
    for (const auto& [path, reason] :
         {std::pair{std::string(), "No such file or directory"},
          {folder.path("no/such/folder.yuv"), "No such file or directory"},
          {folder.path("plain/"), "Not a directory"}}) {
        const ToolRun run = runTool({broken, path});
        EXPECT_EQ(run.standardError, "Can't open output file '" + path + "': " + reason + "\n");
    }
    // C0 and C1 controls, as UTF-8 and as lone bytes, can't steer the terminal;
    // other characters, whose bytes may lie in the same range, are left alone.
    const std::pair<std::string, std::string> names[] = {
        {"no\nsuch\x1b.ppm", "no\\nsuch\\x1b.ppm"},
        {"a\xc2\x85"
         "b\xc2\x9b"
         "31m",
         "a\\u0085b\\u009b31m"},
        {"c\x9b"
         "31m\x80",
         "c\\x9b31m\\x80"},
        {"\xc4\x81\xe2\x80\x9c\xc2\xa0", "\xc4\x81\xe2\x80\x9c\xc2\xa0"}};
    for (const auto& [name, shown] : names) {
        const ToolRun run = runTool({name, output});
        EXPECT_EQ(run.standardError,
                  "Can't open input file '" + shown + "': No such file or directory\n");
    }
}

} // namespace
} // namespace pixfold
