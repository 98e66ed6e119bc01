// Fuzzes the header reader and the raster reader over a stream made from the
// input: whatever the bytes, they must return a header within its limits, never
// a sample above the maximum, and never more pixels than the bytes hold.
#include "ppm/ppm_reader.h"

#include <cstdint>
#include <cstdlib>

namespace {

void require(bool condition) {
    if (!condition) {
        std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    pixfold::InputStream stream = pixfold::memoryInput(data, size);
    pixfold::PpmHeader header;
    if (pixfold::readPpmHeader(stream, header) == pixfold::ErrorCode::none) {
        require(header.width >= 0 && header.height >= 0);
        require(header.maxValue >= 1 && header.maxValue <= 255);
        const std::size_t rasterStart = stream.position;
        std::uint64_t remaining = pixfold::pixelCount(header.width, header.height);
        std::uint64_t pixelsRead = 0;
        std::uint8_t samples[7 * 3];
        while (remaining > 0) {
            const std::size_t wanted = remaining < 7 ? static_cast<std::size_t>(remaining) : 7;
            const pixfold::PixelBlock block =
                pixfold::readPixels(stream, samples, wanted, header.maxValue);
            require(block.pixels <= wanted);
            for (std::size_t i = 0; i < block.pixels * 3; ++i) {
                require(samples[i] <= header.maxValue);
            }
            pixelsRead += block.pixels;
            remaining -= block.pixels;
            if (block.error != pixfold::ErrorCode::none) {
                require(block.pixels < wanted);
                break;
            }
            require(block.pixels == wanted);
        }
        require(static_cast<std::uint64_t>(rasterStart) + pixelsRead * 3 <= size);
    }
    return 0;
}
