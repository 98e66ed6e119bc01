// Scratch folders, whole-file reads and writes, PPM images made to order, and
// the two tools run as a user would run them.
#pragma once

#include "support/process.h"

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace pixfold::testing_support {

using Bytes = std::vector<std::uint8_t>;

class ScratchFolder {
  public:
    ScratchFolder();
    ~ScratchFolder();
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    std::string path(const std::string& name) const { return (root / name).string(); }

  private:
    std::filesystem::path root;
};

Bytes readFile(const std::string& path);
void writeFile(const std::string& path, const Bytes& bytes);
Bytes bytesOf(const std::string& text);
Bytes ppmImage(int width, int height, const Bytes& samples, int maxValue = 255);
Bytes concatenate(const std::vector<Bytes>& parts);
// Writes bytes into a FIFO from a helper process (it blocks until a reader
// opens the FIFO), or with slowly set 5 bytes at a time with a pause after
// each, then closes it; a reader that quits early is no failure.
// finishHelper waits for it.
StartedProcess feedFifo(const std::string& fifo, const Bytes& bytes, bool slowly = false);

// Reads count bytes from a FIFO in a helper process, then closes it.
StartedProcess readFifo(const std::string& fifo, std::size_t count);

// The names of the files in folder, for "no temporary file was left" checks.
std::vector<std::string> filesIn(const std::string& folder);

// Whether the process holds a temporary file of the tools open (named or
// already removed) within ten seconds: it has begun converting.
bool waitForOpenTemporaryFile(int processId);

// What a tool run left: its status and the text of its two streams.
struct ToolRun {
    int status = -1;
    Bytes standardOutput;
    std::string standardError;
};

ToolRun toToolRun(const ProcessRun& run);

inline ToolRun runTool(const std::vector<std::string>& arguments, const ProcessSetup& setup = {}) {
    return toToolRun(runProcess(PIXFOLD_EXECUTABLE, arguments, setup));
}

// Standard output to a file (the e888Alpha alpha stream).
inline ToolRun runTool(const std::vector<std::string>& arguments, const std::string& stdoutPath) {
    ProcessSetup setup;
    setup.standardOutput = stdoutPath;
    return runTool(arguments, setup);
}

inline ToolRun runUnfold(const std::vector<std::string>& arguments,
                         const ProcessSetup& setup = {}) {
    return toToolRun(runProcess(PIXUNFOLD_EXECUTABLE, arguments, setup));
}

} // namespace pixfold::testing_support
