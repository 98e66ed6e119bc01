// The tools in shell loops, make rules, pipes and FIFOs: arguments that can't
// be meant, help, "-" for the standard streams, closed descriptors, readers
// that quit, and what is opened before the first pixel. Each case runs the
// built executables.
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
using Shell = ToolFolder;

const char* const usagePrefix = "Usage: pixfold ";

TEST_F(Shell, ArgumentsAfterTheOutputPathAreRefused) {
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

TEST_F(Shell, HelpAndVersionPrintOnStandardOutput) {
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

TEST_F(Shell, MistypedOptionsAreNeverPassedOverInSilence) {
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

TEST_F(Shell, DashIsTheStandardStreams) {
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
}

// "--" ends the options: an input whose name begins with "-".
TEST_F(Shell, DoubleDashEndsTheOptions) {
    const std::string reference = expectedE888();
    const std::string dashed = folder.path("-frame.ppm");
    writeFile(dashed, readFile(input));
    ProcessSetup here;
    here.workingDirectory = folder.path("");
    EXPECT_EQ(runTool({"--", "-frame.ppm", "out.yuv"}, here).status, 0);
    EXPECT_EQ(readFile(output), readFile(reference));
}

// A standard output redirected to a file (>>) gets the records at its own
// position, whole, and nothing from a failed run; "-" and /dev/stdout alike.
TEST_F(Shell, StandardOutputForAppendingGetsWholeRecordsOrNothing) {
    const std::string reference = expectedE888();
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
}

// Without -s a pipe is read no further than the first image.
TEST_F(Shell, APipeIsReadNoFurtherThanTheFirstImage) {
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
}

// pixunfold: records from standard input, the picture to standard output.
TEST_F(Shell, UnfoldDashIsTheStandardStreams) {
    const std::string reference = expectedE888();
    ProcessSetup records;
    records.standardInput = reference;
    const ToolRun back = runUnfold({"4", "4", "-", "-"}, records);
    EXPECT_EQ(back.status, 0);
    EXPECT_EQ(std::string(back.standardOutput.begin(), back.standardOutput.begin() + 11),
              "P6\n4 4\n255\n");
    ToolRun run =
        runUnfold({"-f", "e888Alpha", "-a", "-", "-k", "k.pgm", "4", "4", "-", "p.ppm"}, records);
    EXPECT_EQ(run.status, 1);
    run = runUnfold({"-f", "e655Z", "-k", "-", "4", "4", reference, "-"});
    EXPECT_EQ(run.standardError, "Output files are the same file\n");
}

TEST_F(Shell, ClosedStandardOutputIsNeverAnOutputFile) {
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

TEST_F(Shell, ReaderThatQuitsIsAWriteFailure) {
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

TEST_F(Shell, ClosedDescriptorsStayClosedToNamedPathsAndDevicesAreWrittenInPlace) {
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

TEST_F(Shell, OutputsAreOpenedBeforeAnyPixelAndMessagesStayOnOneLine) {
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
        {"no\nsuch\r\x1b.ppm", "no\\nsuch\\r\\x1b.ppm"},
        {"a\xc2\x85"
         "b\xc2\x9b"
         "31m",
         "a\\u0085b\\u009b31m"},
        {"c\x9b"
         "31m\x80",
         "c\\x9b31m\\x80"},
        {"\xc4\x81\xe2\x80\x9c\xc2\xa0\xf0\x9f\x98\x80",
         "\xc4\x81\xe2\x80\x9c\xc2\xa0\xf0\x9f\x98\x80"}};
    for (const auto& [name, shown] : names) {
        const ToolRun run = runTool({name, output});
        EXPECT_EQ(run.standardError,
                  "Can't open input file '" + shown + "': No such file or directory\n");
    }
}

} // namespace
} // namespace pixfold
