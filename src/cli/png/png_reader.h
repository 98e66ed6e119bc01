// pixfold's PNG input: one PNG of an input stream, its pixels read in the
// blocks pixfold converts, as readRaster reads a Netpbm raster. Rows are
// decoded one at a time; an interlaced image's passes are held, as stored,
// until its first row can be put together.
#pragma once

#include "errors.h"
#include "netpbm/input_stream.h"
#include "png/png_codec.h"
#include "png/png_format.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace pixfold {

// One Adam7 pass's scanlines, in slabs of a few MiB allocated as they fill:
// memory grows with what was decoded, never with what a header claims.
struct PngPassStore {
    std::uint32_t width = 0; // pixels of each scanline
    std::uint32_t rows = 0;
    std::uint32_t filled = 0;
    std::size_t scanlineBytes = 0;
    std::size_t rowsPerSlab = 1;
    std::vector<std::vector<std::uint8_t>> slabs;
};

struct PngReader {
    PngSource source;
    PngDecoder* decoder = nullptr;
    PngLayout layout;
    std::vector<std::uint8_t> row; // the current row, as stored
    std::uint32_t rowsTaken = 0;
    std::size_t column = 0;  // the current row's next pixel; layout.width when none is left
    bool passesHeld = false; // an interlaced image's passes, all decoded
    PngPassStore passes[7];
};

// After a first byte of 0x89: the signature (wrongInputFormat if it is not
// PNG's), the chunks up to the image data, and the layout of its pixels.
// interlacedPngTooLarge for an interlaced image past pngInterlacedLimit.
Result openPngReader(InputStream& input, PngReader& reader);

// Up to count pixels into samples (3 a pixel: bytes, or 16-bit values for a
// wide layout) and opacity; pixels is how many, fewer only with a failure.
Result readPngPixels(PngReader& reader, std::uint8_t* samples, std::uint8_t* opacity,
                     std::size_t count, std::size_t& pixels);

// After the last pixel: the chunks after the image, up to and with IEND.
// The input then stands right after the PNG.
Result finishPngReader(PngReader& reader);

void closePngReader(PngReader& reader);

} // namespace pixfold
