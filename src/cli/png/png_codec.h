// The PNG codec, the one part of PNG input and output that a library does:
// inflating and unfiltering scanlines, and filtering and deflating them. One
// backend implements these functions (png_spng.cpp with libspng; png_none.cpp
// where the build has no PNG support); everything else about PNG is portable
// code in png_format.h, png_reader.h and png_writer.h, which every backend
// shares.
//
// A backend reads only through readPngBytes (the framing keeps it within the
// PNG) and writes only through writePngBytes (the output rules). Failures are
// damagedPng with the decoder's reason in detail, pngTooWide,
// cantReadInput when the source failed, cantWriteOutput from the sink, or
// pngInputNotBuilt / pngOutputNotBuilt without a backend.
#pragma once

#include "errors.h"
#include "png/png_format.h"

#include <cstddef>
#include <cstdint>

namespace pixfold {

// Whether this build has a PNG backend.
extern const bool pngBuilt;

// A backend's decoding state.
struct PngDecoder;

// Reads the chunks before the image data from source (set up by
// startPngSource) and fills header. On success decoder is the backend's, to be
// closed with closePngDecoder; on failure it is null.
Result openPngDecoder(PngSource& source, PngDecoder*& decoder, PngHeader& header);

// The next scanline into into (size bytes: at least one whole row), unfiltered
// and as stored: samples packed from the high bit below 8 bits, two bytes most
// significant first at 16. pass is -1 for a row of the image, rows top to
// bottom; an interlaced image's scanlines may instead come pass by pass (pass
// 0 to 6), each pass's rows in order, its pixels from the left of the scanline.
Result decodePngScanline(PngDecoder& decoder, std::uint8_t* into, std::size_t size, int& pass);

// After the last scanline: reads the chunks after the image data, up to and
// with IEND.
Result finishPngDecoder(PngDecoder& decoder);

void closePngDecoder(PngDecoder* decoder);

// Where an encoder's bytes go (png_writer.h).
struct PngSink;

// Writes count bytes of the PNG being encoded; false after a failure, which
// the sink keeps.
bool writePngBytes(PngSink& sink, const std::uint8_t* bytes, std::size_t count);

// A backend's encoding state.
struct PngEncoder;

// Starts an 8-bit PNG of width x height pixels, grey (channels 1) or RGB
// (channels 3), not interlaced, into sink; writes the signature and header.
Result openPngEncoder(PngSink& sink, std::uint32_t width, std::uint32_t height, int channels,
                      PngEncoder*& encoder);

// The next row, width * channels bytes; after the last one the PNG is ended
// (IEND written).
Result encodePngRow(PngEncoder& encoder, const std::uint8_t* row);

void closePngEncoder(PngEncoder* encoder);

} // namespace pixfold
