#include "support/files.h"

#include <algorithm>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <unistd.h>

namespace pixfold::testing_support {

ScratchFolder::ScratchFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "pixfold-test-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("mkdtemp failed");
    }
    root = pattern;
}

ScratchFolder::~ScratchFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(root, ignored);
}

Bytes readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void writeFile(const std::string& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
}

Bytes bytesOf(const std::string& text) {
    return Bytes(text.begin(), text.end());
}

Bytes ppmImage(int width, int height, const Bytes& samples, int maxValue) {
    Bytes image = bytesOf("P6\n# test image\n" + std::to_string(width) + " " +
                          std::to_string(height) + "\n" + std::to_string(maxValue) + "\n");
    image.insert(image.end(), samples.begin(), samples.end());
    return image;
}

Bytes concatenate(const std::vector<Bytes>& parts) {
    Bytes all;
    for (const Bytes& part : parts) {
        all.insert(all.end(), part.begin(), part.end());
    }
    return all;
}

StartedProcess feedFifo(const std::string& fifo, const Bytes& bytes, bool slowly) {
    static int fed = 0;
    const std::string source = fifo + ".bytes" + std::to_string(fed++);
    writeFile(source, bytes);
    if (!slowly) {
        return startHelper("exec cat \"$1\" > \"$2\"", {source, fifo});
    }
    return startHelper("exec > \"$2\"; i=0; while [ $((i * 5)) -lt \"$3\" ]; do "
                       "dd if=\"$1\" bs=5 skip=$i count=1 2>/dev/null; sleep 0.002; i=$((i + 1)); "
                       "done",
                       {source, fifo, std::to_string(bytes.size())});
}

StartedProcess readFifo(const std::string& fifo, std::size_t count) {
    return startHelper("exec head -c \"$2\" < \"$1\" > /dev/null", {fifo, std::to_string(count)});
}

std::vector<std::string> filesIn(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        names.push_back(entry.path().filename().string());
    }
    return names;
}

bool waitForOpenTemporaryFile(int processId) {
    const std::string descriptors = "/proc/" + std::to_string(processId) + "/fd";
    for (int wait = 0; wait < 1000; ++wait) {
        std::error_code ignored;
        for (const auto& entry : std::filesystem::directory_iterator(descriptors, ignored)) {
            const std::string target = std::filesystem::read_symlink(entry.path(), ignored);
            if (target.find("/.pixfold-") != std::string::npos) {
                return true;
            }
        }
        usleep(10000);
    }
    return false;
}

ToolRun toToolRun(const ProcessRun& run) {
    return {run.status, bytesOf(run.standardOutput), run.standardError};
}

} // namespace pixfold::testing_support
