// Fuzzes the PNG input layer in memory: the framing, the codec and the
// unpacking, as pixfold reads an image after its first byte 0x89. Whatever
// the bytes, a header must be within its limits, a block never holds more
// pixels than asked for nor a sample above the maximum value, and a PNG read
// to its end stops right after its IEND chunk.
#include "image_input.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

void require(bool condition) {
    if (!condition) {
        std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    pixfold::InputStream stream = pixfold::memoryInput(data, size);
    pixfold::ImageReader reader;
    const pixfold::PpmHeader& header = reader.raster.header;
    if (size == 0 || data[0] != 0x89 ||
        !pixfold::succeeded(pixfold::readImageHeader(stream, reader))) {
        pixfold::closeImage(reader);
        return 0;
    }
    require(reader.png);
    require(header.width >= 1 && header.width <= 1000000 && header.height >= 1);
    require(header.maxValue >= 1 && header.maxValue <= 65535);
    const bool wide = header.maxValue > 255;
    // Blocks of 7 pixels, so rows end inside blocks and blocks inside rows.
    constexpr std::size_t block = 7;
    std::uint8_t samples[block * 6];
    std::uint8_t opacity[block];
    std::uint64_t remaining = pixfold::pixelCount(header.width, header.height);
    bool complete = true;
    while (remaining > 0) {
        const std::size_t wanted =
            static_cast<std::size_t>(std::min<std::uint64_t>(remaining, block));
        std::size_t pixels = 0;
        const pixfold::Result read =
            pixfold::readImagePixels(stream, reader, samples, opacity, wanted, pixels);
        require(pixels <= wanted);
        for (std::size_t i = 0; !wide && i < pixels * 3; ++i) {
            require(samples[i] <= header.maxValue);
        }
        remaining -= pixels;
        if (!pixfold::succeeded(read)) {
            require(pixels < wanted);
            complete = false;
            break;
        }
        require(pixels == wanted);
    }
    bool animated = false;
    if (complete && pixfold::succeeded(pixfold::finishImage(reader, animated))) {
        // Nothing past the end of IEND's CRC was taken.
        const std::size_t end = stream.position;
        require(end >= 8 + 12 && std::memcmp(data + end - 12, "\0\0\0\0IEND", 8) == 0);
    }
    pixfold::closeImage(reader);
    return 0;
}
