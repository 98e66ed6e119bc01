#pragma once
// What the tests that run the tools in folders share: a 4x4 input, a scratch
// folder, and pictures made for them.
#include "support/files.h"

#include <gtest/gtest.h>

#include <csignal>
#include <string>

#include <unistd.h>

namespace pixfold {
namespace testing_support {

inline Bytes squareImage(int side) {
    Bytes samples;
    for (int i = 0; i < side * side * 3; ++i) {
        samples.push_back(static_cast<std::uint8_t>(i * 7));
    }
    return ppmImage(side, side, samples);
}

// Whether a temporary file appears in folder within ten seconds.
inline bool waitForTemporaryFile(const std::string& folder) {
    for (int wait = 0; wait < 1000; ++wait) {
        for (const std::string& name : filesIn(folder)) {
            if (name.find(".tmp") != std::string::npos) {
                return true;
            }
        }
        usleep(10000);
    }
    return false;
}

// A 300 x 300 image missing its last 7 bytes: every run of it fails after
// writing records.
inline Bytes truncatedImage() {
    Bytes image = squareImage(300);
    image.resize(image.size() - 7);
    return image;
}

class ToolFolder : public testing::Test {
  protected:
    void SetUp() override {
        signal(SIGPIPE, SIG_IGN); // the FIFO feeders must not die with a quitting reader
        writeFile(input, squareImage(4));
    }

    std::string expectedE888() {
        std::string reference = folder.path("reference.yuv");
        EXPECT_EQ(runTool({input, reference}).status, 0);
        return reference;
    }

    ScratchFolder folder;
    std::string input = folder.path("in.ppm");
    std::string output = folder.path("out.yuv");
};

} // namespace testing_support
} // namespace pixfold
