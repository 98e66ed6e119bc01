// The benchmark's floor: reads a PPM exactly as pixfold does (same header
// reader, same block reads) and writes 4 bytes per pixel with no colour math.
// pixfold's time over this one is the cost of the conversion itself. With
// --alpha it also writes 4 bytes per pixel to standard output, the I/O of e888Alpha.
#include "app/run.h"
#include "ppm/ppm_reader.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string_view>
#include <vector>

int main(int argc, char** argv) {
    const bool alpha = argc == 4 && std::string_view(argv[1]) == "--alpha";
    if (argc != 3 && !alpha) {
        std::fputs("usage: pixfold_copy_floor [--alpha] ppmfile outfile\n", stderr);
        return 1;
    }
    const char* inputPath = argv[argc - 2];
    const char* outputPath = argv[argc - 1];
    std::FILE* input = std::fopen(inputPath, "rb");
    pixfold::PpmHeader header;
    if (input == nullptr || pixfold::readPpmHeader(input, header) != pixfold::ErrorCode::none) {
        std::fputs("copy floor: can't read the input\n", stderr);
        return 1;
    }
    std::FILE* output = std::fopen(outputPath, "wb");
    if (output == nullptr) {
        std::fputs("copy floor: can't open the output\n", stderr);
        return 1;
    }
    constexpr std::size_t blockPixels = pixfold::conversionBlockPixels;
    std::vector<std::uint8_t> samples(blockPixels * 3);
    std::vector<std::uint8_t> records(blockPixels * 4);
    std::uint64_t remaining =
        static_cast<std::uint64_t>(header.width) * static_cast<std::uint64_t>(header.height);
    while (remaining > 0) {
        const auto wanted =
            static_cast<std::size_t>(std::min<std::uint64_t>(remaining, blockPixels));
        const pixfold::PixelBlock block =
            pixfold::readPixels(input, samples.data(), wanted, header.maxValue);
        for (std::size_t i = 0; i < block.pixels; ++i) {
            records[i * 4] = samples[i * 3];
            records[i * 4 + 1] = samples[i * 3 + 1];
            records[i * 4 + 2] = samples[i * 3 + 2];
            records[i * 4 + 3] = 0;
        }
        const bool written =
            std::fwrite(records.data(), 4, block.pixels, output) == block.pixels &&
            (!alpha || std::fwrite(records.data(), 4, block.pixels, stdout) == block.pixels);
        if (!written || block.error != pixfold::ErrorCode::none) {
            std::fputs("copy floor: read or write failed\n", stderr);
            return 1;
        }
        remaining -= block.pixels;
    }
    return std::fclose(output) == 0 && std::fflush(stdout) == 0 ? 0 : 1;
}
