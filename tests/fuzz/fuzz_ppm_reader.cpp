// Fuzzes the header reader and the raster reader over a stream made from the
// input, in every Netpbm type: whatever the bytes, they must return a header
// within its limits, never a sample above the maximum, and never more pixels
// than the bytes hold.
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
    if (pixfold::readPpmHeader(stream, raster.header) == pixfold::Status::ok) {
        require(header.width >= 0 && header.height >= 0);
        require(header.maxValue >= 1 && header.maxValue <= 65535);
        require(header.samplesPerPixel >= 1 && header.samplesPerPixel <= 4);
        const std::size_t rasterStart = stream.position;
        std::uint64_t remaining = pixfold::pixelCount(header.width, header.height);
        std::uint64_t pixelsRead = 0;
        std::uint16_t room[7 * 4]; // 8 bytes a pixel, 2-byte aligned
        auto* samples = reinterpret_cast<std::uint8_t*>(room);
        std::uint8_t opacity[7];
        const bool wide = pixfold::isWide(header);
        while (remaining > 0) {
            const std::size_t wanted = remaining < 7 ? static_cast<std::size_t>(remaining) : 7;
            std::size_t pixels = 0;
            const pixfold::Status block =
                pixfold::readRaster(stream, raster, samples, opacity, wanted, pixels);
            require(pixels <= wanted);
            for (std::size_t i = 0; i < pixels * 3; ++i) {
                require((wide ? room[i] : samples[i]) <= header.maxValue);
            }
            pixelsRead += pixels;
            remaining -= pixels;
            if (block != pixfold::Status::ok) {
                require(pixels < wanted);
                break;
            }
            require(pixels == wanted);
        }
        // Binary samples take a byte or two each, plain ones at least a byte,
        // bitmaps a bit.
        const std::uint64_t bytesPerPixel =
            header.kind == pixfold::RasterKind::bitmap ? 0
            : header.kind == pixfold::RasterKind::plainColour
                ? 3
                : static_cast<std::uint64_t>(header.samplesPerPixel) *
                      (wide && header.kind == pixfold::RasterKind::binary ? 2 : 1);
        require(static_cast<std::uint64_t>(rasterStart) + pixelsRead * bytesPerPixel <= size);
        require(static_cast<std::uint64_t>(rasterStart) + pixelsRead / 8 <= size);
    }
    return 0;
}
