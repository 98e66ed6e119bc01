// Fuzzes a whole conversion in every format: the input is written to a file,
// converted to a file, with the alpha stream's standard output sent to a file
// too, and the results are held to the tool's promises:
//  - success exactly when the raster held every pixel, and then 2 or 4 bytes
//    per pixel as the format says;
//  - on failure, whole records only, never more than the pixels present;
//  - a header failure leaves no output file behind;
//  - the alpha stream has one value for each record.
#include "app/run.h"
#include "encode/records.h"
#include "ppm/ppm_reader.h"

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

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

Scratch& scratch() {
    static Scratch paths = [] {
        char pattern[] = "/tmp/pixfold-fuzz-XXXXXX";
        require(mkdtemp(pattern) != nullptr);
        const std::string folder = pattern;
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
    std::uint64_t pixels = 0;
    std::uint64_t pixelsPresent = 0; // whole pixels the file holds after the header
};

Expectation expect(const std::string& input) {
    Expectation result;
    std::FILE* file = std::fopen(input.c_str(), "rb");
    require(file != nullptr);
    pixfold::PpmHeader header;
    result.headerGood = pixfold::readPpmHeader(file, header) == pixfold::ErrorCode::none;
    if (result.headerGood) {
        result.pixels =
            static_cast<std::uint64_t>(header.width) * static_cast<std::uint64_t>(header.height);
        const auto rasterStart = static_cast<std::uint64_t>(std::ftell(file));
        result.pixelsPresent = (sizeOf(input) - rasterStart) / 3;
    }
    std::fclose(file);
    return result;
}

void convertAndCheck(pixfold::OutputFormat format, const Expectation& expected) {
    const Scratch& paths = scratch();
    std::remove(paths.output.c_str());
    require(std::freopen(paths.alpha.c_str(), "wb", stdout) != nullptr);

    pixfold::ConversionSettings settings;
    settings.format = format;
    settings.keyEnabled = true;
    settings.matchValue = 0xFFFFFFFFu;
    const pixfold::ErrorCode result =
        pixfold::runConversion(settings, paths.input.c_str(), paths.output.c_str());
    std::fflush(stdout);

    if (!expected.headerGood) {
        require(result != pixfold::ErrorCode::none);
        require(!std::filesystem::exists(paths.output));
        return;
    }
    const std::uint64_t recordSize = pixfold::recordBytes(format);
    const std::uint64_t written = sizeOf(paths.output);
    require(written % recordSize == 0);
    const std::uint64_t records = written / recordSize;
    require(records <= expected.pixelsPresent && records <= expected.pixels);
    if (result == pixfold::ErrorCode::none) {
        require(records == expected.pixels);
    } else {
        require(records < expected.pixels);
    }
    if (expected.pixelsPresent < expected.pixels) {
        require(result != pixfold::ErrorCode::none);
    }
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

    const Expectation expected = expect(paths.input);
    for (pixfold::OutputFormat format :
         {pixfold::OutputFormat::e655, pixfold::OutputFormat::e655Z, pixfold::OutputFormat::e888,
          pixfold::OutputFormat::e888Alpha}) {
        convertAndCheck(format, expected);
    }
    return 0;
}
