// pixfold's input, read by content: a stream that starts with PNG's
// signature is a PNG, anything else is read as Netpbm. Either way the pixels
// come in blocks of one shape (netpbm/ppm_reader.h's readRaster).
#pragma once

#include "errors.h"
#include "netpbm/input_stream.h"
#include "netpbm/ppm_reader.h"
#include "png/png_reader.h"

#include <cstddef>
#include <cstdint>

namespace pixfold {

struct ImageReader {
    bool png = false;
    // raster.header has the image's width, height, maximum value and opacity
    // whatever its format; the rest of raster is the Netpbm reader's.
    RasterReader raster;
    PngReader pngReader;
};

// The next image's header, at the start of its first byte.
Result readImageHeader(InputStream& input, ImageReader& reader);

// Up to count pixels, as readRaster gives them.
Result readImagePixels(InputStream& input, ImageReader& reader, std::uint8_t* samples,
                       std::uint8_t* opacity, std::size_t count, std::size_t& pixels);

// After an image's last pixel: a PNG is read up to and with its IEND chunk.
// animated is set for a PNG with frames besides its default image.
Result finishImage(ImageReader& reader, bool& animated);

// Whether a regular file holds another image after the one just read: white
// space, then a Netpbm magic number or PNG's signature. A pipe or a terminal
// is read no further.
bool anotherImageFollows(InputStream& input);

void closeImage(ImageReader& reader);

} // namespace pixfold
