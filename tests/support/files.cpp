#include "support/files.h"

#include <algorithm>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <signal.h>
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

int feedFifo(const std::string& fifo, const Bytes& bytes, std::size_t chunk,
             int pauseMilliseconds) {
    return startHelper([&] {
        signal(SIGPIPE, SIG_IGN);
        const int descriptor = open(fifo.c_str(), O_WRONLY);
        const std::size_t step = chunk == 0 ? bytes.size() : chunk;
        for (std::size_t done = 0; descriptor >= 0 && done < bytes.size(); done += step) {
            const std::size_t count = std::min(step, bytes.size() - done);
            if (write(descriptor, bytes.data() + done, count) < 0) {
                break;
            }
            usleep(static_cast<useconds_t>(pauseMilliseconds) * 1000);
        }
        close(descriptor);
    });
}

std::vector<std::string> filesIn(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        names.push_back(entry.path().filename().string());
    }
    return names;
}

ToolRun toToolRun(const ProcessRun& run) {
    return {run.status, bytesOf(run.standardOutput), run.standardError};
}

} // namespace pixfold::testing_support
