// The commit of a run's two outputs under failure. Each system call a run
// makes is failed, or interrupted by SIGTERM, at each of its first calls
// (strace -e inject): every run must end with both outputs new (and the
// replaced files' modes kept), or with both as they were, and nothing left
// beside them, in their folder or the temporary one.
#include "support/files.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace pixfold {
namespace {

using namespace testing_support;

Bytes patternImage(int side) {
    Bytes samples;
    for (int i = 0; i < side * side * 3; ++i) {
        samples.push_back(static_cast<std::uint8_t>(i * 7 + i / 5));
    }
    return ppmImage(side, side, samples);
}

// How a user names one output of a pair.
enum class Place {
    existing,       // a file with bytes, renamed over
    missing,        // a new file
    mounted,        // a file bind-mounted over another, copied in (root)
    appendedStdout, // standard output >> a log
    emptyStdout     // standard output > a new file
};

struct Pair {
    const char* name;
    bool unfold; // pixunfold's picture and key plane, else pixfold's records and alpha
    Place first;
    Place second;
};

const Pair pairs[] = {
    {"FoldBothReplaced", false, Place::existing, Place::existing},
    {"FoldNewRecordsAlphaAppended", false, Place::missing, Place::appendedStdout},
    {"FoldRecordsReplacedAlphaIntoEmptyStdout", false, Place::existing, Place::emptyStdout},
    {"FoldAlphaCopiedIn", false, Place::existing, Place::mounted},
    {"UnfoldPictureAppendedKeyReplaced", true, Place::appendedStdout, Place::existing},
    {"UnfoldBothReplaced", true, Place::existing, Place::missing},
};

bool isStdout(Place place) {
    return place == Place::appendedStdout || place == Place::emptyStdout;
}

bool canMount() {
    return geteuid() == 0 && onPath("mount");
}

bool straceInjects() {
#ifdef PIXFOLD_TEST_EMULATOR
    return false; // it would fail the emulator's own calls
#else
    return onPath("strace");
#endif
}

void hostRun(const std::vector<std::string>& words) {
    ProcessSetup host;
    host.useEmulator = false;
    runProcess(words[0], std::vector<std::string>(words.begin() + 1, words.end()), host);
}

// What a run left: each output's bytes and mode, the folders' names, and
// where standard output's descriptor, shared with the caller, stands.
struct Outcome {
    int status = -1;
    std::string error;
    Bytes first, second;
    unsigned firstMode = 0, secondMode = 0;
    long long position = 0;
    std::vector<std::string> names;
};

class PairRun : public testing::TestWithParam<Pair> {
  protected:
    void SetUp() override {
        std::filesystem::create_directory(outputs);
        std::filesystem::create_directory(temporary);
        writeFile(records, patternImage(40));
        const Pair& pair = GetParam();
        if (pair.unfold) {
            ASSERT_EQ(runTool({"-f", "e888Alpha", "-a", alpha, records, folder.path("r.yuv")},
                              "/dev/null")
                          .status,
                      0);
            std::filesystem::rename(folder.path("r.yuv"), records);
        }
        if ((pair.first == Place::mounted || pair.second == Place::mounted) && !canMount()) {
            GTEST_SKIP() << "a bind-mounted output needs root and mount";
        }
    }

    std::string pathOf(Place place, const char* name) const {
        return isStdout(place) ? log : outputs + "/" + name;
    }

    // Lays the outputs out as before a run, in folders holding nothing else.
    void layOut() {
        const Pair& pair = GetParam();
        for (const std::string& place : {outputs, temporary}) {
            std::filesystem::remove_all(place);
            std::filesystem::create_directory(place);
        }
        for (const auto& [place, name, old, mode] :
             {std::tuple{pair.first, "first.out", "OLD FIRST", 0640},
              std::tuple{pair.second, "second.out", "OLD SECOND", 0604}}) {
            const std::string path = pathOf(place, name);
            std::filesystem::remove(path);
            if (place == Place::missing) {
                continue;
            }
            writeFile(path, bytesOf(place == Place::emptyStdout      ? ""
                                    : place == Place::appendedStdout ? "LOG"
                                                                     : old));
            chmod(path.c_str(), static_cast<mode_t>(mode));
            if (place == Place::mounted) {
                writeFile(folder.path("mount-source"), bytesOf(old));
                chmod(folder.path("mount-source").c_str(), static_cast<mode_t>(mode));
                hostRun({"mount", "--bind", folder.path("mount-source"), path});
            }
        }
    }

    Outcome run(const std::vector<std::string>& before) {
        const Pair& pair = GetParam();
        layOut();
        const std::string first = pathOf(pair.first, "first.out");
        const std::string second = pathOf(pair.second, "second.out");
        ProcessSetup setup;
        // LeakSanitizer can't run under strace: a sanitizer build's leak check is off here.
        setup.runAs = {"env", "TMPDIR=" + temporary, "ASAN_OPTIONS=detect_leaks=0"};
        setup.runAs.insert(setup.runAs.end(), before.begin(), before.end());
        const Place standard = isStdout(pair.first) ? pair.first : pair.second;
        setup.standardOutputDescriptor =
            open(log.c_str(),
                 O_WRONLY | O_CREAT | (standard == Place::appendedStdout ? O_APPEND : 0), 0644);
        const std::string firstArgument = isStdout(pair.first) ? "-" : first;
        const std::string secondArgument = isStdout(pair.second) ? "-" : second;
        ProcessRun ran;
        if (pair.unfold) {
            ran = runProcess(PIXUNFOLD_EXECUTABLE,
                             {"-f", "e888Alpha", "-a", alpha, "-k", secondArgument, "40", "40",
                              records, firstArgument},
                             setup);
        } else {
            std::vector<std::string> arguments = {"-f", "e888Alpha", "-m", "070707", "-1", "5a"};
            if (!isStdout(pair.second)) {
                arguments.insert(arguments.end(), {"-a", secondArgument});
            }
            arguments.insert(arguments.end(), {records, firstArgument});
            ran = runProcess(PIXFOLD_EXECUTABLE, arguments, setup);
        }
        const off_t position = lseek(setup.standardOutputDescriptor, 0, SEEK_CUR);
        close(setup.standardOutputDescriptor);
        Outcome outcome = observe();
        outcome.position = position;
        outcome.status = ran.status;
        outcome.error = ran.standardError;
        for (const Place place : {pair.first, pair.second}) {
            if (place == Place::mounted) {
                hostRun({"umount", pathOf(place, "second.out")});
            }
        }
        return outcome;
    }

    // Each output's bytes and mode, and the names in the folders.
    Outcome observe() const {
        const Pair& pair = GetParam();
        Outcome outcome;
        const std::string first = pathOf(pair.first, "first.out");
        const std::string second = pathOf(pair.second, "second.out");
        outcome.first = readFile(first);
        outcome.second = readFile(second);
        struct stat status {};
        outcome.firstMode = stat(first.c_str(), &status) == 0 ? status.st_mode & 07777 : 0;
        outcome.secondMode = stat(second.c_str(), &status) == 0 ? status.st_mode & 07777 : 0;
        for (const std::string& place : {outputs, temporary}) {
            for (const std::string& name : filesIn(place)) {
                outcome.names.push_back(name);
            }
        }
        std::sort(outcome.names.begin(), outcome.names.end());
        return outcome;
    }

    ScratchFolder folder;
    std::string outputs = folder.path("outputs");
    std::string temporary = folder.path("temporary");
    std::string records = folder.path("in.ppm"); // pixunfold: the records
    std::string alpha = folder.path("in.alpha");
    std::string log = folder.path("stdout.log");
};

TEST_P(PairRun, EveryInjectedFailureOrSignalLeavesBothOutputsNewOrBothOld) {
    if (!straceInjects()) {
        GTEST_SKIP() << "needs strace, on the build host";
    }
    // The new outputs, from a run that nothing disturbs, and the old ones.
    const Outcome fresh = run({});
    ASSERT_EQ(fresh.status, 0) << fresh.error;
    layOut();
    Outcome before = observe();
    for (const Place place : {GetParam().first, GetParam().second}) {
        if (place == Place::mounted) {
            hostRun({"umount", pathOf(place, "second.out")});
        }
    }
    ASSERT_NE(fresh.first, before.first);
    ASSERT_NE(fresh.second, before.second);
    auto same = [](const Outcome& outcome, const Outcome& expected, bool unlinkFailed) {
        std::vector<std::string> names = outcome.names;
        if (unlinkFailed) { // a name the system would not remove may stay
            names.erase(std::remove_if(names.begin(), names.end(),
                                       [](const std::string& name) {
                                           return name.rfind(".pixfold-", 0) == 0;
                                       }),
                        names.end());
        }
        return outcome.first == expected.first && outcome.second == expected.second &&
               outcome.firstMode == expected.firstMode &&
               outcome.secondMode == expected.secondMode && names == expected.names &&
               outcome.position == expected.position;
    };
    const char* const calls[] = {"openat",   "fchmod",    "fchown",   "linkat",
                                 "flock",    "fallocate", "pread64",  "pwrite64",
                                 "renameat", "ftruncate", "unlinkat", "newfstatat",
                                 "close",    "write",     "lseek",    "rt_sigprocmask"};
    int failedRuns = 0;
    for (const char* call : calls) {
        for (const char* fault : {"error=EIO", "signal=SIGTERM"}) {
            for (int when = 1; when <= 3; ++when) {
                const std::string injection =
                    std::string("inject=") + call + ":" + fault + ":when=" + std::to_string(when);
                SCOPED_TRACE(injection);
                const Outcome outcome = run({"strace", "-o", "/dev/null", "-e", injection});
                const bool unlinkFailed = injection.rfind("inject=unlinkat:error", 0) == 0;
                EXPECT_TRUE(outcome.status == 0 ? same(outcome, fresh, unlinkFailed)
                                                : same(outcome, before, unlinkFailed))
                    << "status " << outcome.status << ": " << outcome.error;
                if (injection == "inject=renameat:signal=SIGTERM:when=1") {
                    // A signal in the middle of the commit stops it: the
                    // targets are put back and the signal ends the run.
                    EXPECT_EQ(outcome.status, 128 + SIGTERM);
                }
                const Pair& pair = GetParam();
                const bool inPlace = pair.first == Place::appendedStdout ||
                                     pair.second == Place::appendedStdout ||
                                     pair.second == Place::mounted;
                if (inPlace && injection == "inject=fallocate:error=EIO:when=1") {
                    EXPECT_EQ(outcome.status, 1); // no room reserved: nothing written in place
                }
                // A run the injected error failed says so, in one line: the
                // failing call's own reason, never a stale one or none.
                const std::string reason = ": Input/output error\n";
                if (outcome.status == 1 && std::string(fault) == "error=EIO") {
                    EXPECT_TRUE(outcome.error.size() > reason.size() &&
                                outcome.error.compare(outcome.error.size() - reason.size(),
                                                      reason.size(), reason) == 0 &&
                                std::count(outcome.error.begin(), outcome.error.end(), '\n') == 1)
                        << outcome.error;
                }
                failedRuns += outcome.status != 0 ? 1 : 0;
            }
        }
    }
    EXPECT_GT(failedRuns, 0); // the injections reached the tool
    // A call a signal interrupted is made again: the run goes on.
    for (const char* call : {"fallocate", "pwrite64", "write", "flock"}) {
        const std::string injection = std::string("inject=") + call + ":error=EINTR:when=1";
        const Outcome outcome = run({"strace", "-o", "/dev/null", "-e", injection});
        EXPECT_EQ(outcome.status, 0) << injection << ": " << outcome.error;
        EXPECT_TRUE(same(outcome, fresh, false)) << injection;
    }
    // Every close from the creation of the first temporary file on fails,
    // the temporary files' own among them: a file whose close reported an
    // error is never put in place. (The loader's closes come first: counted.)
    const std::string trace = folder.path("closes.trace");
    run({"strace", "-o", trace, "-e", "trace=openat,close"});
    std::ifstream traced(trace);
    int closes = 0;
    for (std::string line; std::getline(traced, line);) {
        if (line.find(".pixfold-") != std::string::npos &&
            line.find("O_CREAT") != std::string::npos) {
            const Outcome outcome =
                run({"strace", "-o", "/dev/null", "-e",
                     "inject=close:error=EIO:when=" + std::to_string(closes + 1) + "+"});
            EXPECT_EQ(outcome.status, 1) << outcome.error;
            EXPECT_TRUE(same(outcome, before, false)) << outcome.error;
            break;
        }
        closes += line.rfind("close(", 0) == 0 ? 1 : 0;
    }
}

INSTANTIATE_TEST_SUITE_P(Outputs, PairRun, testing::ValuesIn(pairs),
                         [](const testing::TestParamInfo<Pair>& param) {
                             return param.param.name;
                         });

} // namespace
} // namespace pixfold
