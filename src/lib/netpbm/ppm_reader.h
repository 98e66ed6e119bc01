// Netpbm input: the header of any type (P1 to P7), then the raster in blocks
// of whole pixels, spread to red, green and blue samples whatever the type;
// with findNextImage, the images of a multi-image stream one by one.
#pragma once

#include "core/status.h"
#include "core/types.h"
#include "cpu/path.h"
#include "netpbm/input_stream.h"

#include <cstddef>
#include <cstdint>

namespace pixfold {

// How a raster is stored: the digit of the magic number names the type.
enum class RasterKind {
    plainBitmap, // P1: '0' and '1', whitespace optional between them
    plainGrey,   // P2: decimal samples separated by whitespace
    plainColour, // P3
    bitmap,      // P4: 8 pixels a byte, each row starting on a byte
    binary,      // P5, P6 and P7: samplesPerPixel bytes a pixel
};

// Netpbm's samples have one byte up to a maximum value of 255, two (most
// significant first) from 256 to this.
constexpr std::int32_t largestMaxValue = 65535;

// A header's fields. width and height are decimal numbers from 0 to
// 2147483647, maxValue from 1 to 65535; bitmaps (P1, P4) have maxValue 1.
struct PpmHeader {
    std::int32_t width = 0;
    std::int32_t height = 0;
    std::int32_t maxValue = 0;
    RasterKind kind = RasterKind::binary;
    std::int32_t samplesPerPixel = 3; // 1 grey, 2 grey and opacity, 3 RGB, 4 RGB and opacity
    bool hasOpacity = false;          // the last sample of each pixel is its alpha
};

// Reads a header as Netpbm defines each type. P1 to P6: the magic number,
// width, height and (but for bitmaps) maximum value as unsigned decimals
// separated by whitespace, '#' comments allowed between them; binary types
// then take exactly one whitespace byte before the raster. P7 (PAM): lines of
// WIDTH, HEIGHT, DEPTH, MAXVAL and TUPLTYPE, '#' comment lines, up to ENDHDR.
// On success the stream stands at the first sample.
Status readPpmHeader(InputStream& input, PpmHeader& header);

// After an image's last sample: skips white space and tells whether another
// image follows (found) or the input ends there. A read error is cantRead.
Status findNextImage(InputStream& input, bool& found);

// The block reader also gives the whole, valid pixels it put in the buffer,
// which are fewer than asked for only with a failure.

// Whether the image's samples take two bytes.
constexpr bool isWide(const PpmHeader& header) {
    return header.maxValue > 255;
}

// One image's raster as it is read: its header and, for P4, where the reader
// stands in the current row and byte.
struct RasterReader {
    PpmHeader header;
    std::int32_t column = 0;     // P4: the next pixel's column
    std::uint32_t bitBuffer = 0; // P4: the byte being read, its next bit at bit 7
    std::int32_t bitsLeft = 0;
    Path path = activePath(); // the loop that spreads P5 and PAM samples
};

// Any type's raster: up to pixelCount pixels into samples as red, green and
// blue (grey s as s, s, s; a bitmap's black as 0, 0, 0 and white as 1, 1, 1):
// bytes up to a maximum value of 255, host-endian 16-bit samples above it
// (isWide). For types with opacity, one byte a pixel into opacity, 0 exactly
// where the alpha sample is 0. samples has room for pixelCount * 8 bytes,
// 2-byte aligned; opacity for pixelCount bytes. Never reads more bytes than
// those pixels take. Stops early at the end of the file (truncated), on
// a read error (cantRead), before a pixel with a sample above the
// maximum value (sampleExceedsMax), or where plain text holds no sample
// (wrongInputFormat).
Status readRaster(InputStream& input, RasterReader& raster, std::uint8_t* samples,
                  std::uint8_t* opacity, std::size_t pixelCount, std::size_t& pixels);

} // namespace pixfold
