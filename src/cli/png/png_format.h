// What every PNG backend shares, written once: the chunk framing that reads a
// PNG up to the end of its IEND chunk and no further, the layout of a decoded
// scanline, its unpacking into the pixel blocks pixfold converts (sub-byte
// samples, palette and tRNS expansion), and Adam7's pass geometry.
#pragma once

#include "errors.h"
#include "netpbm/input_stream.h"

#include <array>
#include <cstddef>
#include <cstdint>

namespace pixfold {

constexpr std::array<std::uint8_t, 8> pngSignature = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};

// The widest PNG read, as libpng's default limit: one decoded row stays below
// 8 MB, so a small file that claims a huge image allocates no more than that.
constexpr std::uint32_t pngWidestRow = 1000000;

// An interlaced PNG is held whole, as stored, before its first row is ready;
// this much at most (1 GiB).
constexpr std::uint64_t pngInterlacedLimit = std::uint64_t{1} << 30;

// Where a read stands in a PNG's chunks: the signature, then each chunk's
// length and type, its data and its CRC, until IEND's CRC ends the PNG.
enum class PngPiece { signature, chunkHeader, chunkData, chunkCrc, ended };

struct PngSource {
    InputStream* input = nullptr;
    PngPiece piece = PngPiece::signature;
    std::uint64_t pieceLeft = pngSignature.size(); // bytes left in the piece
    std::uint8_t chunkHeader[8] = {};              // length and type, as read so far
    bool imageData = false;                        // an IDAT chunk was reached
    bool animated = false;                         // an acTL chunk came before it
};

// Reads the signature from input (its first byte already seen as 0x89) and
// sets the source up at the first chunk. False when the signature is wrong.
bool startPngSource(InputStream& input, PngSource& source);

// Gives the decoder up to count bytes of the PNG, the signature first, never
// a byte past its IEND chunk: fewer only at its end, the input's end or a read
// error (input->failed). From a pipe read exactly (input->refillLimit set),
// every byte is read when the decoder asks for it; otherwise small reads go
// through the stream's buffer.
std::size_t readPngBytes(PngSource& source, std::uint8_t* into, std::size_t count);

// The fields of a PNG's header chunks that its pixels need, as a backend
// gives them.
struct PngHeader {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    int bitDepth = 8;   // 1, 2, 4, 8 or 16
    int colourType = 2; // 0 grey, 2 RGB, 3 palette, 4 grey and alpha, 6 RGB and alpha
    bool interlaced = false;
    int paletteEntries = 0;
    std::uint8_t palette[256][3] = {}; // PLTE: red, green, blue
    int paletteAlphas = 0;             // tRNS of a palette image: alpha of the first entries
    std::uint8_t paletteAlpha[256] = {};
    bool colourKey = false;          // tRNS of a grey or RGB image
    std::uint16_t keySample[3] = {}; // its grey sample, or red, green and blue
};

// For a backend that is given the whole PNG rather than its chunks one by one:
// png holds size bytes from the signature on, up to the end of the IEND chunk
// (as readPngBytes gives them). Checks what a decoder that reads chunk by
// chunk checks where the pixels depend on it (every chunk's CRC; IHDR first;
// one PLTE, before the image data and of whole entries the depth can index;
// the image data in consecutive IDAT chunks; no unknown critical chunk; IEND
// at the end), passes over a tRNS chunk out of place or of the wrong length
// as such a decoder does, and fills header from IHDR, PLTE and tRNS, and
// imageDataBytes with the IDAT chunks' data. damagedPng with the reason.
Result readPngChunks(const std::uint8_t* png, std::size_t size, PngHeader& header,
                     std::uint64_t& imageDataBytes);

// How a scanline's pixels are unpacked, decided from the header once.
enum class PngUnpack {
    greySubByte,  // 1, 2 or 4 bits a sample, packed from the high bit
    paletteIndex, // 1, 2, 4 or 8 bits an index
    grey8,
    greyAlpha8,
    rgb8,
    rgba8,
    grey16, // samples of two bytes, most significant first
    greyAlpha16,
    rgb16,
    rgba16,
};

struct PngLayout {
    PngUnpack unpack = PngUnpack::rgb8;
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    int bitDepth = 8;
    int bitsPerPixel = 24;
    std::size_t rowBytes = 0; // one stored scanline, without its filter byte
    bool interlaced = false;
    std::int32_t maxValue = 255; // 2^depth - 1, 255 for palette entries
    bool wide = false;           // samples of two bytes: maxValue 65535
    bool hasOpacity = false;     // an alpha channel, or tRNS
    bool colourKey = false;
    std::uint16_t keySample[3] = {};
    std::uint8_t paletteRgb[256][3] = {};
    std::uint8_t paletteAlpha[256] = {}; // 255 past the tRNS entries
    int paletteEntries = 0;
};

// Checks the header's limits and decides the layout: damagedPng for a
// header no PNG has, pngTooWide past pngWidestRow.
Result decidePngLayout(const PngHeader& header, PngLayout& layout);

// Unpacks count pixels of a stored scanline, starting at pixel first, into
// samples (3 a pixel: bytes when !layout.wide, else host-endian 16-bit
// values) and, for layouts with opacity, opacity (0 exactly where the alpha
// is 0). damagedPng when a palette index is past the palette's end.
Result unpackPngPixels(const PngLayout& layout, const std::uint8_t* scanline, std::size_t first,
                       std::size_t count, std::uint8_t* samples, std::uint8_t* opacity);

// damagedPng when imageDataBytes of deflated data can't hold the image's
// scanlines (deflate makes at most 1032 bytes of one), before a decoder
// allocates what the header claims.
Result checkImageDataSize(const PngLayout& layout, std::uint64_t imageDataBytes);

// Adam7: pass p (0 to 6) takes the pixels at x = xStart + i * xStep and
// y = yStart + j * yStep.
struct AdamPass {
    std::uint32_t xStart;
    std::uint32_t yStart;
    std::uint32_t xStep;
    std::uint32_t yStep;
};
constexpr AdamPass adamPasses[7] = {{0, 0, 8, 8}, {4, 0, 8, 8}, {0, 4, 4, 8}, {2, 0, 4, 4},
                                    {0, 2, 2, 4}, {1, 0, 2, 2}, {0, 1, 1, 2}};

// The width or height of pass p's part of an image of size pixels.
constexpr std::uint32_t passExtent(std::uint32_t size, std::uint32_t start, std::uint32_t step) {
    return size > start ? (size - start + step - 1) / step : 0;
}

// Bytes of stored scanline for width pixels.
constexpr std::uint64_t scanlineBytes(std::uint64_t width, int bitsPerPixel) {
    return (width * static_cast<std::uint64_t>(bitsPerPixel) + 7) / 8;
}

// Copies the pixels of one pass's scanline into their places in the image's
// row (stored layout, bitsPerPixel a pixel; sub-byte pixels by their bits).
void placePassPixels(const std::uint8_t* passScanline, std::uint32_t passWidth,
                     const AdamPass& pass, int bitsPerPixel, std::uint8_t* row);

} // namespace pixfold
