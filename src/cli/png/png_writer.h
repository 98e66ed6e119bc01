// pixunfold's pictures as PNG: 8-bit RGB or grey, not interlaced, each PNG
// whole, filled a row at a time from blocks of pixels and written through
// the output rules (output.h).
#pragma once

#include "errors.h"
#include "output/output.h"
#include "png/png_codec.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace pixfold {

struct PngSink {
    OutputFile* output = nullptr;
    Result result; // the first write failure
};

struct PngPictureWriter {
    PngSink sink;
    PngEncoder* encoder = nullptr;
    std::vector<std::uint8_t> row;
    std::size_t filled = 0; // bytes of row
};

// True when path ends in ".png", in any case.
bool namesPng(const char* path);

// Starts a PNG of width x height pixels of channels bytes (1 grey, 3 RGB) in
// output, after any the writer wrote before.
Result startPngPicture(PngPictureWriter& writer, OutputFile& output, std::uint32_t width,
                       std::uint32_t height, int channels);

// The next count bytes of pixels, row after row; the PNG ends with its last row.
Result writePngPixels(PngPictureWriter& writer, const std::uint8_t* bytes, std::size_t count);

void closePngPicture(PngPictureWriter& writer);

} // namespace pixfold
