// Fuzzes the header reader and the raster reader over a stream made from the
// input, in every Netpbm type: whatever the bytes, they must return a header
// within its limits, never a sample or alpha sample above the maximum, and
// never more pixels than the bytes hold.
#include "netpbm/ppm_reader.h"

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
    pixfold::RasterReader raster;
    const pixfold::PpmHeader& header = raster.header;
    if (pixfold::succeeded(pixfold::readPpmHeader(stream, raster.header))) {
        require(header.width >= 0 && header.height >= 0);
        require(header.maxValue >= 1 && header.maxValue <= 255);
        require(header.samplesPerPixel >= 1 && header.samplesPerPixel <= 4);
        const std::size_t rasterStart = stream.position;
        std::uint64_t remaining = pixfold::pixelCount(header.width, header.height);
        std::uint64_t pixelsRead = 0;
        std::uint8_t samples[7 * 4];
        std::uint8_t opacity[7];
        while (remaining > 0) {
            const std::size_t wanted = remaining < 7 ? static_cast<std::size_t>(remaining) : 7;
            std::size_t pixels = 0;
            const pixfold::Result block =
                pixfold::readRaster(stream, raster, samples, opacity, wanted, pixels);
            require(pixels <= wanted);
            for (std::size_t i = 0; i < pixels * 3; ++i) {
                require(samples[i] <= header.maxValue);
            }
            for (std::size_t i = 0; header.hasOpacity && i < pixels; ++i) {
                require(opacity[i] <= header.maxValue);
            }
            pixelsRead += pixels;
            remaining -= pixels;
            if (!pixfold::succeeded(block)) {
                require(pixels < wanted);
                break;
            }
            require(pixels == wanted);
        }
        // Binary samples take a byte each, plain ones at least a byte, bitmaps a bit.
        const std::uint64_t bytesPerPixel =
            header.kind == pixfold::RasterKind::bitmap ? 0
            : header.kind == pixfold::RasterKind::plainColour
                ? 3
                : static_cast<std::uint64_t>(header.samplesPerPixel);
        require(static_cast<std::uint64_t>(rasterStart) + pixelsRead * bytesPerPixel <= size);
        require(static_cast<std::uint64_t>(rasterStart) + pixelsRead / 8 <= size);
    }
    return 0;
}
