// Binary PPM ("P6") input: the header, then the raster in blocks of whole
// pixels; with findNextImage, the images of a multi-image stream one by one.
#pragma once

#include "common/errors.h"
#include "common/io.h"
#include "common/types.h"

#include <cstddef>
#include <cstdint>

namespace pixfold {

struct PpmHeader;

// Reads "P6", width, height and maximum value as the PPM format defines them:
// unsigned decimals separated by whitespace, '#' comments allowed before the
// maximum value, then exactly one whitespace byte before the raster.
// On success the stream stands at the first sample.
ErrorCode readPpmHeader(InputStream& input, PpmHeader& header);

// After an image's last sample: skips white space and tells whether another
// image follows (found) or the input ends there. A read error is cantReadInput.
ErrorCode findNextImage(InputStream& input, bool& found);

struct PixelBlock {
    std::size_t pixels = 0;            // whole, valid pixels now in the buffer
    ErrorCode error = ErrorCode::none; // why fewer than asked for, if so
};

// Reads up to pixelCount pixels (red, green, blue) into samples, never more
// bytes than those pixels. Stops early at the end of the file
// (truncatedInput), on a read error (cantReadInput) or before a pixel with a
// sample above maxValue (sampleExceedsMax).
PixelBlock readPixels(InputStream& input, std::uint8_t* samples, std::size_t pixelCount,
                      std::int32_t maxValue);

// A header's fields, as decimal numbers from 0 to 2147483647.
struct PpmHeader {
    std::int32_t width = 0;
    std::int32_t height = 0;
    std::int32_t maxValue = 0;
};

} // namespace pixfold
