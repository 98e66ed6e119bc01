// Outputs appear whole or not at all: replaced files keep their mode and
// links, failed, killed and concurrent runs leave the old file, standard
// output files are cut back, and files that can't be renamed over are copied
// in. Each case runs the built executables.
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
using WholeOutputs = ToolFolder;

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

TEST_F(WholeOutputs, ReplacedOutputKeepsItsModeAndItsLink) {
    const std::string target = folder.path("target.yuv");
    writeFile(target, bytesOf("old"));
    ASSERT_EQ(chmod(target.c_str(), 04640), 0); // the set-user-ID bit too
    std::filesystem::create_symlink("target.yuv", output);
    ASSERT_EQ(runTool({input, output}).status, 0);
    EXPECT_TRUE(std::filesystem::is_symlink(output));
    EXPECT_EQ(readFile(target), readFile(expectedE888()));
    struct stat status {};
    ASSERT_EQ(stat(target.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, 04640u);
}

// A new output has the mode of any new file: 0666 less the umask.
TEST_F(WholeOutputs, NewOutputTakesTheModeTheUmaskLeaves) {
    const mode_t mask = umask(002);
    const int status = runTool({input, output}).status;
    umask(mask);
    ASSERT_EQ(status, 0);
    struct stat created {};
    ASSERT_EQ(stat(output.c_str(), &created), 0);
    EXPECT_EQ(created.st_mode & 07777, 0664u);
}

TEST_F(WholeOutputs, KilledMidRasterLeavesTheOldOutputAndNoTemporaryFile) {
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

TEST_F(WholeOutputs, RunsWritingOnePathAtOnceLeaveOneWholeOutput) {
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

TEST_F(WholeOutputs, FailedRunsLeaveExistingFilesAsTheyWere) {
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
TEST_F(WholeOutputs, StandardOutputFilesAreCutBackAfterAFailedRun) {
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

// A bind-mounted file, as a container volume is: the alpha file of a pair.
TEST_F(WholeOutputs, BindMountedFilesAreCopiedInWhole) {
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
}

// Another user's file in a sticky folder that this user may write but not
// rename over; and this user's file in a folder only root may change.
TEST_F(WholeOutputs, FilesThisUserCantRenameOverAreCopiedInWhole) {
    if (!canRunAsOtherUser()) {
        GTEST_SKIP() << "another user needs root and setpriv";
    }
    const std::string broken = folder.path("trunc.ppm");
    writeFile(broken, truncatedImage());
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

TEST_F(WholeOutputs, EveryCatchableSignalRemovesTheTemporaryFile) {
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

} // namespace
} // namespace pixfold
