#include "support/process.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <fstream>
#include <iterator>

namespace pixfold::testing_support {

namespace {

// The emulator of a cross build: its words, separated by '|'.
std::vector<std::string> emulatorWords() {
    std::vector<std::string> words;
#ifdef PIXFOLD_TEST_EMULATOR
    const std::string list = PIXFOLD_TEST_EMULATOR;
    std::size_t begin = 0;
    while (begin < list.size()) {
        const std::size_t end = std::min(list.find('|', begin), list.size());
        if (end > begin) {
            words.push_back(list.substr(begin, end - begin));
        }
        begin = end + 1;
    }
#endif
    return words;
}

std::string slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string captureName(const char* stream) {
    static std::atomic<unsigned> counter{0};
    const char* folder = std::getenv("TMPDIR");
    return std::string(folder != nullptr ? folder : "/tmp") + "/pixfold-capture-" +
           std::to_string(getpid()) + "-" + std::to_string(counter++) + "." + stream;
}

} // namespace

StartedProcess startProcess(const std::string& program, const std::vector<std::string>& arguments,
                            const ProcessSetup& setup) {
    std::vector<std::string> words = setup.runAs;
    if (setup.useEmulator) {
        const std::vector<std::string> emulator = emulatorWords();
        words.insert(words.end(), emulator.begin(), emulator.end());
    }
    words.push_back(program);
    words.insert(words.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    argv.reserve(words.size() + 1);
    for (std::string& word : words) {
        argv.push_back(word.data());
    }
    argv.push_back(nullptr);

    StartedProcess started;
    started.capturedError = captureName("err");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (!setup.workingDirectory.empty()) {
        posix_spawn_file_actions_addchdir_np(&actions, setup.workingDirectory.c_str());
    }
    if (setup.closeStandardInput) {
        posix_spawn_file_actions_addclose(&actions, 0);
    } else if (setup.standardInputDescriptor >= 0) {
        posix_spawn_file_actions_adddup2(&actions, setup.standardInputDescriptor, 0);
    } else {
        posix_spawn_file_actions_addopen(&actions, 0, setup.standardInput.c_str(), O_RDONLY, 0);
    }
    if (setup.closeStandardOutput) {
        posix_spawn_file_actions_addclose(&actions, 1);
    } else if (setup.standardOutputDescriptor >= 0) {
        posix_spawn_file_actions_adddup2(&actions, setup.standardOutputDescriptor, 1);
    } else {
        if (setup.standardOutput.empty()) {
            started.capturedOutput = captureName("out");
        }
        const std::string& out =
            setup.standardOutput.empty() ? started.capturedOutput : setup.standardOutput;
        const int flags = setup.standardOutputAppend ? O_RDWR : O_WRONLY | O_CREAT | O_TRUNC;
        posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), flags, 0644);
    }
    if (setup.standardErrorDescriptor >= 0) {
        posix_spawn_file_actions_adddup2(&actions, setup.standardErrorDescriptor, 2);
    } else {
        posix_spawn_file_actions_addopen(&actions, 2, started.capturedError.c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0644);
    }
    // The child starts with every signal at its default, as from a shell: a
    // disposition the tests set for themselves (SIGPIPE ignored) must not
    // hide one the tool fails to set.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t all;
    sigfillset(&all);
    posix_spawnattr_setsigdefault(&attributes, &all);
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
    started.startedAt = std::chrono::steady_clock::now();
    pid_t child = 0;
    if (posix_spawnp(&child, argv[0], &actions, &attributes, argv.data(), environ) == 0) {
        started.id = child;
    }
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    return started;
}

ProcessRun finishProcess(const StartedProcess& started) {
    ProcessRun run;
    if (started.id > 0) {
        int waitStatus = 0;
        struct rusage usage {};
        while (wait4(started.id, &waitStatus, 0, &usage) < 0) {
        }
        run.wallSeconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - started.startedAt)
                .count();
        run.cpuSeconds = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
        run.peakKilobytes = usage.ru_maxrss;
        run.status = WIFEXITED(waitStatus) ? WEXITSTATUS(waitStatus) : 128 + WTERMSIG(waitStatus);
    }
    if (!started.capturedOutput.empty()) {
        run.standardOutput = slurp(started.capturedOutput);
        unlink(started.capturedOutput.c_str());
    }
    run.standardError = slurp(started.capturedError);
    unlink(started.capturedError.c_str());
    return run;
}

ProcessRun runProcess(const std::string& program, const std::vector<std::string>& arguments,
                      const ProcessSetup& setup) {
    return finishProcess(startProcess(program, arguments, setup));
}

StartedProcess startHelper(const std::string& shellCommand, const std::vector<std::string>& words) {
    std::vector<std::string> arguments = {"-c", shellCommand, "helper"};
    arguments.insert(arguments.end(), words.begin(), words.end());
    ProcessSetup setup;
    setup.useEmulator = false;
    setup.standardOutput = "/dev/null";
    return startProcess("/bin/sh", arguments, setup);
}

void finishHelper(const StartedProcess& helper) {
    finishProcess(helper);
}

std::vector<std::string> targetCommand(const std::string& program) {
    std::vector<std::string> words = emulatorWords();
    words.push_back(program);
    return words;
}

bool onPath(const std::string& program) {
    const char* path = std::getenv("PATH");
    const std::string folders = path == nullptr ? "/usr/bin:/bin" : path;
    std::size_t begin = 0;
    while (begin <= folders.size()) {
        const std::size_t end = std::min(folders.find(':', begin), folders.size());
        if (access((folders.substr(begin, end - begin) + "/" + program).c_str(), X_OK) == 0) {
            return true;
        }
        begin = end + 1;
    }
    return false;
}

} // namespace pixfold::testing_support
