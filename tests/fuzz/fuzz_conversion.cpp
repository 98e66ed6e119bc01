// Fuzzes a whole conversion in every format, one image and a stream of images
// (-s): the input is written to a file, converted to a file, with the alpha
// stream's standard output sent to a file too, and the results are held to
// the tool's promises:
//  - success exactly when the raster held every valid pixel, and then 2 or 4 bytes
//    per pixel as the format says, with one alpha value per record;
//  - on failure, no output file at all: outputs appear whole or not at all;
//  - the alpha stream only ever holds whole 4-byte values.
#include "format/formats.h"
#include "image_input.h"
#include "pixfold/run.h"

#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace {

void require(bool condition) {
    if (!condition) {
        std::abort();
    }
}

struct Scratch {
    std::string input;
    std::string output;
    std::string alpha;
};

char scratchFolder[] = "/tmp/pixfold-fuzz-XXXXXX";

void removeScratch() {
    std::error_code ignored;
    std::filesystem::remove_all(scratchFolder, ignored);
}

// One folder for the whole fuzzing run, removed when libFuzzer exits.
const Scratch& scratch() {
    static const Scratch paths = [] {
        require(mkdtemp(scratchFolder) != nullptr);
        std::atexit(removeScratch);
        const std::string folder = scratchFolder;
        return Scratch{folder + "/in.ppm", folder + "/out.yuv", folder + "/alpha.bin"};
    }();
    return paths;
}

std::uintmax_t sizeOf(const std::string& path) {
    std::error_code error;
    const std::uintmax_t size = std::filesystem::file_size(path, error);
    return error ? 0 : size;
}

struct Expectation {
    bool headerGood = false;
    bool complete = false; // the first image's raster holds every pixel
    std::uint64_t pixels = 0;
};

// What the reader makes of the first image (Netpbm or PNG), block by block
// as a run reads it, a PNG to its end.
Expectation expect(const std::uint8_t* data, std::size_t size) {
    Expectation result;
    pixfold::InputStream stream = pixfold::memoryInput(data, size);
    pixfold::ImageReader reader;
    const pixfold::PpmHeader& header = reader.raster.header;
    result.headerGood = pixfold::succeeded(pixfold::readImageHeader(stream, reader));
    if (result.headerGood) {
        result.pixels = pixfold::pixelCount(header.width, header.height);
        std::vector<std::uint16_t> room(pixfold::blockPixels * 4); // 8 bytes a pixel
        auto* samples = reinterpret_cast<std::uint8_t*>(room.data());
        std::vector<std::uint8_t> opacity(pixfold::blockPixels);
        std::uint64_t remaining = result.pixels;
        while (remaining > 0) {
            const auto wanted =
                static_cast<std::size_t>(std::min<std::uint64_t>(remaining, pixfold::blockPixels));
            std::size_t pixels = 0;
            if (!pixfold::succeeded(pixfold::readImagePixels(stream, reader, samples,
                                                             opacity.data(), wanted, pixels))) {
                break;
            }
            remaining -= pixels;
        }
        bool animated = false;
        result.complete =
            remaining == 0 && pixfold::succeeded(pixfold::finishImage(reader, animated));
    }
    pixfold::closeImage(reader);
    return result;
}

void convertAndCheck(pixfold::OutputFormat format, bool imageStream, const Expectation& expected) {
    const Scratch& paths = scratch();
    std::remove(paths.output.c_str());
    require(std::freopen(paths.alpha.c_str(), "wb", stdout) != nullptr);

    pixfold::FoldCommandLine line;
    line.settings.format = format;
    line.settings.keyEnabled = true;
    line.settings.transparencyKey = true;
    line.settings.matchValue = 0xFFFFFFFFu;
    line.inputPath = paths.input.c_str();
    line.outputPath = paths.output.c_str();
    line.imageStream = imageStream;
    pixfold::Notices notices;
    pixfold::Progress progress = pixfold::startProgress(nullptr);
    const pixfold::Result result = pixfold::runFold(line, notices, progress);
    std::fflush(stdout);

    const bool exists = std::filesystem::exists(paths.output);
    require(exists == pixfold::succeeded(result));
    require(sizeOf(paths.alpha) % 4 == 0);
    if (!expected.headerGood || (!imageStream && !expected.complete)) {
        require(!pixfold::succeeded(result));
        return;
    }
    if (!pixfold::succeeded(result)) {
        return;
    }
    const std::uint64_t recordSize = pixfold::recordBytes(format);
    const std::uint64_t records = sizeOf(paths.output) / recordSize;
    require(sizeOf(paths.output) % recordSize == 0);
    require(imageStream ? records >= expected.pixels : records == expected.pixels);
    if (pixfold::writesAlphaStream(format)) {
        require(sizeOf(paths.alpha) == records * 4);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const Scratch& paths = scratch();
    std::FILE* input = std::fopen(paths.input.c_str(), "wb");
    require(input != nullptr);
    require(std::fwrite(data, 1, size, input) == size);
    require(std::fclose(input) == 0);

    const Expectation expected = expect(data, size);
    for (const bool imageStream : {false, true}) {
        for (pixfold::OutputFormat format :
             {pixfold::OutputFormat::e655, pixfold::OutputFormat::e655Z,
              pixfold::OutputFormat::e888, pixfold::OutputFormat::e888Alpha}) {
            convertAndCheck(format, imageStream, expected);
        }
    }
    return 0;
}
