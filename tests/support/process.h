// Starts a program with chosen standard streams and waits for it: the one
// process launcher of the tests and the benchmark. A cross build's tests start
// the tools through the emulator CMake names (CMAKE_CROSSCOMPILING_EMULATOR).
#pragma once

#include <chrono>
#include <string>
#include <vector>

namespace pixfold::testing_support {

struct ProcessSetup {
    std::string standardInput = "/dev/null";
    int standardInputDescriptor = -1;  // an open descriptor to use as standard input instead
    std::string standardOutput;        // a file to write; empty: captured
    bool standardOutputAppend = false; // open standardOutput read-write, not truncated (1<>)
    int standardOutputDescriptor = -1; // an open descriptor to use as standard output instead
    int standardErrorDescriptor = -1;  // an open descriptor (a terminal) instead of a capture
    bool closeStandardInput = false;   // start with descriptor 0 closed (<&-)
    bool closeStandardOutput = false;  // start with descriptor 1 closed (>&-)
    std::vector<std::string> runAs;    // words before the program (setpriv ...), host programs
    std::string workingDirectory;      // empty: the caller's
    bool useEmulator = true;           // false for programs of the build host (ffmpeg, netpbm)
};

struct ProcessRun {
    int status = -1; // exit status, or 128 + the signal that ended it
    std::string standardOutput;
    std::string standardError;
    double wallSeconds = 0;
    double cpuSeconds = 0;
    long peakKilobytes = 0;
};

struct StartedProcess {
    int id = -1;
    std::string capturedOutput; // file standard output goes to, when captured
    std::string capturedError;
    std::chrono::steady_clock::time_point startedAt;
};

// Runs program with arguments and waits for it.
ProcessRun runProcess(const std::string& program, const std::vector<std::string>& arguments,
                      const ProcessSetup& setup = {});

// Starts it and returns at once; finishProcess waits and collects.
StartedProcess startProcess(const std::string& program, const std::vector<std::string>& arguments,
                            const ProcessSetup& setup = {});
ProcessRun finishProcess(const StartedProcess& started);

// Starts a shell command of the build host, for FIFO feeders and readers, and
// waits for it. Not a thread or a fork of this process: under qemu-user
// (32-bit x86 above all) those stall while blocked on a FIFO.
StartedProcess startHelper(const std::string& shellCommand, const std::vector<std::string>& words);
void finishHelper(const StartedProcess& helper);

// The words that start a program of the target from a shell of the build host:
// the emulator's, if any, then the program.
std::vector<std::string> targetCommand(const std::string& program);

// Whether a program is on PATH.
bool onPath(const std::string& program);

} // namespace pixfold::testing_support
