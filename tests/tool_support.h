// Runs the built pixfold executable in a scratch folder and captures what it
// writes, for end-to-end tests.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace pixfold::testing_support {

using Bytes = std::vector<std::uint8_t>;

struct ToolRun {
    int status = -1;
    Bytes standardOutput;
    std::string standardError;
};

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

// Runs a program with the arguments; standard output goes to stdoutPath, or
// is captured when that is empty. Standard input is /dev/null.
ToolRun runProgram(const std::string& program, const std::vector<std::string>& arguments,
                   const std::string& stdoutPath = {});

inline ToolRun runTool(const std::vector<std::string>& arguments,
                       const std::string& stdoutPath = {}) {
    return runProgram(PIXFOLD_EXECUTABLE, arguments, stdoutPath);
}

inline ToolRun runUnfold(const std::vector<std::string>& arguments) {
    return runProgram(PIXUNFOLD_EXECUTABLE, arguments);
}

} // namespace pixfold::testing_support
