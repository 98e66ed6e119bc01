// Where outputs go, as a hostile environment meets the tools: files that
// can't change, folders that remove nothing, no temporary folder, no room,
// a FIFO swapped for a link while the run looks at it, links chained past
// PATH_MAX, a socket on both standard streams, and runs on one pair of paths
// at once.
#include "support/files.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace pixfold {
namespace {

using namespace testing_support;

Bytes patternImage(int side, int seed = 0) {
    Bytes samples;
    for (int i = 0; i < side * side * 3; ++i) {
        samples.push_back(static_cast<std::uint8_t>(i * 7 + seed * 31 + i / 3));
    }
    return ppmImage(side, side, samples);
}

int hostRun(const std::vector<std::string>& words) {
    ProcessSetup host;
    host.useEmulator = false;
    return runProcess(words[0], std::vector<std::string>(words.begin() + 1, words.end()), host)
        .status;
}

bool isRoot() {
    return geteuid() == 0;
}

// chattr on a file of the scratch folder, where its file system takes it.
bool chattr(const std::string& flags, const std::string& path) {
    return isRoot() && onPath("chattr") && hostRun({"chattr", flags, path}) == 0;
}

class Placement : public testing::Test {
  protected:
    void SetUp() override {
        signal(SIGPIPE, SIG_IGN);
        writeFile(input, patternImage(8));
        writeFile(broken, Bytes(truncated.begin(), truncated.end() - 7));
    }

    ScratchFolder folder;
    std::string input = folder.path("in.ppm");
    std::string broken = folder.path("trunc.ppm");
    Bytes truncated = patternImage(300);
};

// Item: the second output can't take new contents; the first is not touched.
TEST_F(Placement, ASecondOutputThatCantChangeLeavesBothAsTheyWere) {
    const std::string first = folder.path("first.out");
    const std::string second = folder.path("second.out");
    writeFile(first, bytesOf("OLD FIRST"));
    writeFile(second, bytesOf("OLD SECOND"));
    if (!chattr("+i", second) || !chattr("-i", second)) {
        GTEST_SKIP() << "needs root, chattr and a file system with file flags";
    }
    const std::string records = folder.path("records.e888");
    ASSERT_EQ(runTool({"-f", "e888Alpha", "-a", folder.path("a"), input, records}).status, 0);
    for (const char* flag : {"+i", "+a"}) {
        for (const bool unfold : {false, true}) {
            SCOPED_TRACE(std::string(flag) + (unfold ? " pixunfold -k" : " pixfold -a"));
            ASSERT_TRUE(chattr(flag, second));
            const ToolRun run = unfold ? runUnfold({"-f", "e888Alpha", "-a", folder.path("a"), "-k",
                                                    second, "8", "8", records, first})
                                       : runTool({"-f", "e888Alpha", "-a", second, input, first});
            chattr(std::string("-") + (flag + 1), second);
            EXPECT_EQ(run.status, 1);
            EXPECT_EQ(run.standardError,
                      "Can't open output file '" + second + "': Operation not permitted\n");
            EXPECT_EQ(readFile(first), bytesOf("OLD FIRST"));
            EXPECT_EQ(readFile(second), bytesOf("OLD SECOND"));
        }
    }
    EXPECT_EQ(filesIn(folder.path("")).size(), 6u); // nothing beside them
}

// Item: an in-place write that does not fit fails before it changes a byte.
TEST_F(Placement, InPlaceWritesThatDontFitLeaveTheFileAsItWas) {
    if (!isRoot() || !onPath("mount")) {
        GTEST_SKIP() << "needs root and mount for a small tmpfs";
    }
    writeFile(input, patternImage(1024)); // 4 MiB of records
    const std::string small = folder.path("small");
    const std::string temporary = folder.path("temporary");
    std::filesystem::create_directory(small);
    std::filesystem::create_directory(temporary);
    ASSERT_EQ(hostRun({"mount", "-t", "tmpfs", "-o", "size=1m,nr_inodes=3", "none", small}), 0);
    const Bytes old(100000, 'o');
    const std::string file = small + "/out.yuv";
    const std::string log = small + "/app.log";
    writeFile(file, old);
    writeFile(log, bytesOf("log"));
    for (const bool appended : {false, true}) {
        SCOPED_TRACE(appended ? ">> app.log" : "no inode for a temporary file");
        ProcessSetup setup;
        setup.runAs = {"env", "TMPDIR=" + temporary};
        if (appended) {
            setup.standardOutputDescriptor = open(log.c_str(), O_WRONLY | O_APPEND);
        }
        const ProcessRun run =
            runProcess(PIXFOLD_EXECUTABLE, {input, appended ? "-" : file}, setup);
        close(setup.standardOutputDescriptor);
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(readFile(file), old);
        EXPECT_EQ(readFile(log), bytesOf("log"));
        EXPECT_EQ(filesIn(small).size(), 2u);
    }
    hostRun({"umount", small});
    EXPECT_TRUE(filesIn(temporary).empty());
}

// Item: no usable temporary folder where one is needed fails before converting.
TEST_F(Placement, NoTemporaryFolderFailsBeforeConverting) {
    const std::string log = folder.path("app.log");
    const std::string missing = folder.path("no-such-folder");
    for (const int flags : {O_WRONLY | O_APPEND, O_RDWR}) {
        SCOPED_TRACE(flags);
        writeFile(log, bytesOf("0123456789"));
        ProcessSetup setup;
        setup.runAs = {"env", "TMPDIR=" + missing};
        setup.standardOutputDescriptor = open(log.c_str(), flags);
        const ProcessRun run = runProcess(PIXFOLD_EXECUTABLE, {broken, "-"}, setup);
        EXPECT_EQ(lseek(setup.standardOutputDescriptor, 0, SEEK_CUR), 0);
        close(setup.standardOutputDescriptor);
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.standardError, "Can't create a temporary file in '" + missing +
                                         "': No such file or directory\n");
        EXPECT_EQ(readFile(log), bytesOf("0123456789"));
    }
}

// The bytes an in-place write overwrites are saved for the rollback: a file
// this user can't read back is refused before converting.
TEST_F(Placement, AnOverwriteThatCantBeReadBackIsRefusedBeforeConverting) {
    if (!isRoot() || !onPath("setpriv")) {
        GTEST_SKIP() << "needs root and setpriv to run as a user who can't read the file";
    }
    ASSERT_EQ(chmod(folder.path("").c_str(), 0755), 0);
    ASSERT_EQ(chmod(broken.c_str(), 0644), 0);
    const std::string log = folder.path("write-only.log");
    writeFile(log, bytesOf("0123456789"));
    ASSERT_EQ(chmod(log.c_str(), 0222), 0);
    ProcessSetup other;
    other.runAs = {"setpriv", "--reuid=54321", "--regid=54321", "--clear-groups"};
    other.standardOutputDescriptor = open(log.c_str(), O_WRONLY); // 1<> without the read
    const ProcessRun run = runProcess(PIXFOLD_EXECUTABLE, {broken, "-"}, other);
    close(other.standardOutputDescriptor);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.standardError, "Can't open output file '-': Permission denied\n");
    EXPECT_EQ(readFile(log), bytesOf("0123456789"));
}

// Item: a folder that removes no name gets the new file whole, and nothing else.
TEST_F(Placement, AppendOnlyFoldersGetTheOutputAndNothingElse) {
    const std::string kept = folder.path("kept");
    std::filesystem::create_directory(kept);
    writeFile(kept + "/existing.yuv", bytesOf("old"));
    if (!chattr("+a", kept)) {
        GTEST_SKIP() << "needs root, chattr and a file system with file flags";
    }
    const std::string reference = folder.path("reference.yuv");
    ASSERT_EQ(runTool({input, reference}).status, 0);
    for (const char* name : {"existing.yuv", "new.yuv"}) {
        SCOPED_TRACE(name);
        const ToolRun run = runTool({input, kept + "/" + name});
        EXPECT_EQ(run.status, 0) << run.standardError;
        EXPECT_EQ(readFile(kept + "/" + name), readFile(reference));
    }
    EXPECT_EQ(runTool({broken, kept + "/existing.yuv"}).status, 1);
    EXPECT_EQ(readFile(kept + "/existing.yuv"), readFile(reference));
    std::vector<std::string> names = filesIn(kept);
    std::sort(names.begin(), names.end());
    chattr("-a", kept);
    EXPECT_EQ(names, (std::vector<std::string>{"existing.yuv", "new.yuv"}));
}

// Item: links followed one at a time, as the kernel follows them, however
// long their joined text.
TEST_F(Placement, AChainOfLinksLongerThanPathMaxIsFollowed) {
    const std::string down(200, 'd');
    std::filesystem::create_directory(folder.path(down));
    std::string detour;
    for (int i = 0; i < 16; ++i) {
        detour += down + "/../";
    }
    const int links = 30; // 30 x 3,200 bytes of link text
    for (int i = 0; i < links; ++i) {
        std::filesystem::create_symlink(detour + "l" + std::to_string(i + 1),
                                        folder.path("l" + std::to_string(i)));
    }
    const std::string target = folder.path("l" + std::to_string(links));
    writeFile(target, bytesOf("old"));
    const ToolRun run = runTool({input, folder.path("l0")});
    EXPECT_EQ(run.status, 0) << run.standardError;
    EXPECT_EQ(readFile(target).size(), 8u * 8 * 4);
    EXPECT_TRUE(std::filesystem::is_symlink(folder.path("l0")));
}

// Item: a path through 40 links, the kernel's limit, is followed; one more is
// refused as the kernel refuses it.
TEST_F(Placement, FortyLinksAreFollowedAndNoMore) {
    for (int i = 0; i <= 40; ++i) {
        std::filesystem::create_symlink("m" + std::to_string(i + 1),
                                        folder.path("m" + std::to_string(i)));
    }
    writeFile(folder.path("m41"), bytesOf("old"));
    const ToolRun forty = runTool({input, folder.path("m1")});
    EXPECT_EQ(forty.status, 0) << forty.standardError;
    EXPECT_EQ(readFile(folder.path("m41")).size(), 8u * 8 * 4);
    const ToolRun more = runTool({input, folder.path("m0")});
    EXPECT_EQ(more.standardError,
              "Can't open output file '" + folder.path("m0") + "': " + std::strerror(ELOOP) + "\n");
}

// Item: a socket is two ways; the same one as standard input and output is
// no conflict, as inetd, systemd's Accept=yes and socat EXEC give it.
TEST_F(Placement, TheSameSocketAsStandardInputAndOutputIsAllowed) {
    const std::string reference = folder.path("reference.yuv");
    ASSERT_EQ(runTool({input, reference}).status, 0);
    for (const bool unfold : {false, true}) {
        SCOPED_TRACE(unfold);
        int ends[2];
        ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, ends), 0);
        const Bytes sent = readFile(unfold ? reference : input);
        ASSERT_EQ(write(ends[0], sent.data(), sent.size()), static_cast<ssize_t>(sent.size()));
        shutdown(ends[0], SHUT_WR);
        ProcessSetup both;
        both.standardInputDescriptor = ends[1];
        both.standardOutputDescriptor = ends[1];
        const ToolRun run =
            unfold ? runUnfold({"8", "8", "-", "-"}, both) : runTool({"-", "-"}, both);
        close(ends[1]);
        Bytes received(1 << 16);
        const ssize_t got = read(ends[0], received.data(), received.size());
        close(ends[0]);
        EXPECT_EQ(run.status, 0) << run.standardError;
        received.resize(static_cast<std::size_t>(std::max<ssize_t>(got, 0)));
        if (!unfold) {
            EXPECT_EQ(received, readFile(reference));
        } else {
            EXPECT_EQ(received.size(), std::string("P6\n8 8\n255\n").size() + std::size_t{192});
        }
    }
}

// Item: what is checked is what is opened. A FIFO output swapped for a link
// to another file, or for that file itself, after the run has looked at it is
// not written.
TEST_F(Placement, AFifoSwappedAfterTheLookIsNotWritten) {
#ifdef PIXFOLD_TEST_EMULATOR
    GTEST_SKIP() << "strace would trace the emulator";
#endif
    if (!onPath("strace")) {
        GTEST_SKIP() << "needs strace to hold the run between its look and its open";
    }
    const std::string fifo = folder.path("out.fifo");
    const std::string precious = folder.path("precious.txt");
    // Which openat opens the FIFO for writing, in a run with a reader.
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const std::string trace = folder.path("trace");
    const StartedProcess reader = readFifo(fifo, 1 << 20);
    ProcessSetup traced; // LeakSanitizer can't run under strace
    traced.runAs = {"env",         "ASAN_OPTIONS=detect_leaks=0", "strace", "-o", trace, "-e",
                    "trace=openat"};
    ASSERT_EQ(runProcess(PIXFOLD_EXECUTABLE, {input, fifo}, traced).status, 0);
    finishHelper(reader);
    std::ifstream lines(trace);
    int call = 0;
    int writing = 0;
    for (std::string line; std::getline(lines, line) && writing == 0;) {
        call += line.rfind("openat(", 0) == 0 ? 1 : 0;
        if (line.find("out.fifo") != std::string::npos &&
            line.find("O_WRONLY") != std::string::npos) {
            writing = call;
        }
    }
    ASSERT_GT(writing, 0);
    for (const bool link : {true, false}) {
        SCOPED_TRACE(link ? "a link to another file" : "another file");
        std::filesystem::remove(fifo);
        ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
        writeFile(precious, bytesOf("precious"));
        ProcessSetup held;
        held.runAs = {
            "env",    "ASAN_OPTIONS=detect_leaks=0",
            "strace", "-f",
            "-o",     "/dev/null",
            "-e",     "inject=openat:delay_enter=3000000:when=" + std::to_string(writing)};
        const StartedProcess started = startProcess(PIXFOLD_EXECUTABLE, {input, fifo}, held);
        // The run waits in that openat: its thread shows the call in /proc,
        // poll after poll (any other call passes in a moment).
        int seen = 0;
        const std::string children = "/proc/" + std::to_string(started.id) + "/task/" +
                                     std::to_string(started.id) + "/children";
        for (int wait = 0; wait < 250 && seen < 5; ++wait) {
            usleep(10000);
            std::ifstream childList(children);
            int child = 0;
            std::ifstream syscall;
            if (childList >> child) {
                syscall.open("/proc/" + std::to_string(child) + "/syscall");
            }
            long number = -1;
            seen = (syscall >> number) && number == SYS_openat ? seen + 1 : 0;
        }
        const bool waiting = seen >= 5;
        EXPECT_TRUE(waiting);
        std::filesystem::remove(fifo);
        if (link) {
            std::filesystem::create_symlink(precious, fifo);
        } else {
            std::filesystem::rename(precious, fifo);
        }
        const ProcessRun run = finishProcess(started);
        EXPECT_EQ(run.status, 1);
        // A link is refused by the open, which follows none; a file put in its
        // place is not what was resolved, and no call failed to say so.
        EXPECT_EQ(run.standardError, "Can't open output file '" + fifo + "'" +
                                         (link ? ": Too many levels of symbolic links" : "") +
                                         "\n");
        EXPECT_EQ(readFile(link ? precious : fifo), bytesOf("precious"));
    }
}

// Item: runs on one pair of paths at once leave the pair of one run, and a
// valid run never fails for the others.
TEST_F(Placement, RunsOnOnePairOfPathsAtOnceLeaveOneRunsPair) {
    constexpr int runs = 8;
    const std::string records = folder.path("records.yuv");
    const std::string alpha = folder.path("records.alpha");
    std::vector<std::pair<Bytes, Bytes>> pairs;
    std::vector<std::vector<std::string>> arguments;
    for (int i = 0; i < runs; ++i) {
        const std::string image = folder.path("in" + std::to_string(i) + ".ppm");
        writeFile(image, patternImage(256, i));
        char value[16];
        std::snprintf(value, sizeof value, "%x", 0x1000 + i);
        arguments.push_back({"-f", "e888Alpha", "-0", value, "-a", alpha, image, records});
        ASSERT_EQ(runTool(arguments.back()).status, 0);
        pairs.emplace_back(readFile(records), readFile(alpha));
    }
    for (int round = 0; round < 30; ++round) {
        std::vector<StartedProcess> started;
        started.reserve(arguments.size());
        for (const std::vector<std::string>& words : arguments) {
            started.push_back(startProcess(PIXFOLD_EXECUTABLE, words));
        }
        for (const StartedProcess& one : started) {
            const ProcessRun run = finishProcess(one);
            EXPECT_EQ(run.status, 0) << run.standardError;
        }
        const std::pair<Bytes, Bytes> left{readFile(records), readFile(alpha)};
        ASSERT_NE(std::find(pairs.begin(), pairs.end(), left), pairs.end()) << "round " << round;
    }
    EXPECT_EQ(filesIn(folder.path("")).size(), 4u + runs);
}

// Item: copy-ins onto one bind-mounted file at once leave one run's output.
TEST_F(Placement, CopyInsOntoOneMountedFileAtOnceLeaveOneRunsOutput) {
    if (!isRoot() || !onPath("mount")) {
        GTEST_SKIP() << "a bind mount needs root and mount";
    }
    const std::string volume = folder.path("volume.yuv");
    const std::string source = folder.path("source.yuv");
    writeFile(volume, {});
    writeFile(source, bytesOf("old"));
    ASSERT_EQ(hostRun({"mount", "--bind", source, volume}), 0);
    std::vector<Bytes> outputs;
    std::vector<std::string> images;
    for (int i = 0; i < 4; ++i) {
        images.push_back(folder.path("in" + std::to_string(i) + ".ppm"));
        writeFile(images.back(), patternImage(1024 - 128 * i, i)); // of different lengths
        EXPECT_EQ(runTool({images.back(), volume}).status, 0);     // the mount goes at the end
        outputs.push_back(readFile(volume));
    }
    for (int round = 0; round < 16; ++round) {
        std::vector<StartedProcess> started;
        started.reserve(images.size());
        for (const std::string& image : images) {
            started.push_back(startProcess(PIXFOLD_EXECUTABLE, {image, volume}));
        }
        for (const StartedProcess& one : started) {
            EXPECT_EQ(finishProcess(one).status, 0);
        }
        EXPECT_NE(std::find(outputs.begin(), outputs.end(), readFile(volume)), outputs.end())
            << "round " << round;
    }
    hostRun({"umount", volume});
}

} // namespace
} // namespace pixfold
