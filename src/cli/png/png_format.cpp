#include "png/png_format.h"

#include <algorithm>
#include <cstring>

namespace pixfold {

namespace {

constexpr std::uint32_t bigEndian32(const std::uint8_t* bytes) {
    return (std::uint32_t{bytes[0]} << 24) | (std::uint32_t{bytes[1]} << 16) |
           (std::uint32_t{bytes[2]} << 8) | bytes[3];
}

constexpr std::uint16_t bigEndian16(const std::uint8_t* bytes) {
    return static_cast<std::uint16_t>((bytes[0] << 8) | bytes[1]);
}

bool chunkTypeIs(const PngSource& source, const char* type) {
    return std::memcmp(source.chunkHeader + 4, type, 4) == 0;
}

// A small read refills the stream's buffer, where the stream may read ahead;
// anything else is read as asked.
std::size_t pull(InputStream& input, std::uint8_t* into, std::size_t count) {
    if (input.refillLimit == 0 && input.position == input.end && count < input.buffer.size() &&
        peekByte(input) < 0) {
        return 0;
    }
    return readBytes(input, into, count);
}

// Moves past count bytes of the current piece (no more than it has left).
void advance(PngSource& source, const std::uint8_t* bytes, std::size_t count) {
    if (source.piece == PngPiece::chunkHeader) {
        std::memcpy(source.chunkHeader + (8 - source.pieceLeft), bytes, count);
    }
    source.pieceLeft -= count;
    while (source.pieceLeft == 0 && source.piece != PngPiece::ended) {
        switch (source.piece) {
        case PngPiece::signature:
        case PngPiece::chunkCrc:
            source.piece = source.piece == PngPiece::chunkCrc && chunkTypeIs(source, "IEND")
                               ? PngPiece::ended
                               : PngPiece::chunkHeader;
            source.pieceLeft = source.piece == PngPiece::ended ? 0 : 8;
            break;
        case PngPiece::chunkHeader:
            // An acTL chunk before the image data makes an animated PNG.
            source.imageData = source.imageData || chunkTypeIs(source, "IDAT");
            source.animated = source.animated || (!source.imageData && chunkTypeIs(source, "acTL"));
            source.piece = PngPiece::chunkData;
            source.pieceLeft = bigEndian32(source.chunkHeader);
            break;
        default: // the chunk's data: its CRC follows
            source.piece = PngPiece::chunkCrc;
            source.pieceLeft = 4;
            break;
        }
    }
}

// CRC-32 of the PNG's chunks (polynomial 0xEDB88320, reflected), a byte at a
// time through a table of every byte's remainder.
struct CrcTable {
    std::uint32_t remainders[256];
};

constexpr CrcTable makeCrcTable() {
    CrcTable table{};
    for (std::uint32_t byte = 0; byte < 256; ++byte) {
        std::uint32_t crc = byte;
        for (int bit = 0; bit < 8; ++bit) {
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
        }
        table.remainders[byte] = crc;
    }
    return table;
}

constexpr CrcTable crcTable = makeCrcTable();

std::uint32_t chunkCrc(const std::uint8_t* bytes, std::size_t count) {
    std::uint32_t crc = 0xFFFFFFFFu;
    for (std::size_t i = 0; i < count; ++i) {
        crc = crcTable.remainders[(crc ^ bytes[i]) & 0xFFu] ^ (crc >> 8);
    }
    return ~crc;
}

Result damaged(const char* reason) {
    Result result = failure(ErrorCode::damagedPng);
    result.detail = reason;
    return result;
}

// What a chunk of readPngChunks's is, and what came before it.
enum ChunkSeen : unsigned {
    headerSeen = 1,
    paletteSeen = 2,
    transparencySeen = 4,
    imageDataSeen = 8,
    afterImageData = 16,
};

Result takeHeader(const std::uint8_t* data, std::uint32_t length, PngHeader& header) {
    if (length != 13) {
        return damaged("its IHDR chunk is not 13 bytes long");
    }
    header.width = bigEndian32(data);
    header.height = bigEndian32(data + 4);
    header.bitDepth = data[8];
    header.colourType = data[9];
    header.interlaced = data[12] == 1;
    // Compression, filter and interlace methods: only 0, 0 and 0 or 1 exist.
    if (data[10] != 0 || data[11] != 0 || data[12] > 1) {
        return damaged("its header describes no image a PNG can hold");
    }
    return {};
}

// A grey image's PLTE chunk means nothing and is passed over.
Result takePalette(const std::uint8_t* data, std::uint32_t length, unsigned seen,
                   PngHeader& header) {
    if ((seen & (paletteSeen | imageDataSeen)) != 0) {
        return damaged("its PLTE chunk is out of place");
    }
    const std::uint32_t entries = length / 3;
    if (length % 3 != 0 || entries == 0 || entries > 256 ||
        (header.colourType == 3 && header.bitDepth < 8 && entries > (1u << header.bitDepth))) {
        return damaged("its PLTE chunk's length is wrong");
    }
    if (header.colourType != 0 && header.colourType != 4) {
        header.paletteEntries = static_cast<int>(entries);
        std::memcpy(header.palette, data, length);
    }
    return {};
}

// A tRNS chunk counts where it is the first, comes before the image data (and
// after PLTE in a palette image), and is as long as its colour type makes it;
// any other is passed over, as a decoder that reads chunk by chunk passes it
// over, and the pixels are those of the PNG without it.
void takeTransparency(const std::uint8_t* data, std::uint32_t length, unsigned seen,
                      PngHeader& header) {
    const bool placed = (seen & (transparencySeen | imageDataSeen)) == 0 &&
                        (header.colourType != 3 || (seen & paletteSeen) != 0);
    const bool fits = header.colourType == 3
                          ? length <= static_cast<std::uint32_t>(header.paletteEntries)
                      : header.colourType == 0 ? length == 2
                                               : header.colourType == 2 && length == 6;
    if (!placed || !fits) {
        return;
    }
    if (header.colourType == 3) {
        header.paletteAlphas = static_cast<int>(length);
        std::memcpy(header.paletteAlpha, data, length);
        return;
    }
    header.colourKey = true;
    for (int c = 0; c < 3; ++c) {
        header.keySample[c] = bigEndian16(data + (header.colourType == 0 ? 0 : 2 * c));
    }
}

bool typeIs(const std::uint8_t* type, const char* name) {
    return std::memcmp(type, name, 4) == 0;
}

// Sub-byte sample i of a scanline, depth 1, 2 or 4 bits.
inline unsigned packedSample(const std::uint8_t* scanline, std::size_t i, int depth) {
    const std::size_t bit = i * static_cast<std::size_t>(depth);
    const unsigned shift = 8u - static_cast<unsigned>(depth) - static_cast<unsigned>(bit & 7u);
    return (scanline[bit >> 3] >> shift) & ((1u << depth) - 1u);
}

inline void storeWide(std::uint8_t* samples, std::size_t index, std::uint16_t value) {
    std::memcpy(samples + index * 2, &value, 2);
}

// 8-bit red, green and blue from in (the next sample steps apart) into
// 3-byte pixels; the key, if any, makes opacity 0.
template <int step, bool grey>
void unpackNarrow(const PngLayout& layout, const std::uint8_t* in, std::size_t count,
                  std::uint8_t* samples, std::uint8_t* opacity) {
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint8_t* pixel = in + i * step;
        const std::uint8_t r = pixel[0];
        const std::uint8_t g = grey ? r : pixel[1];
        const std::uint8_t b = grey ? r : pixel[2];
        samples[i * 3] = r;
        samples[i * 3 + 1] = g;
        samples[i * 3 + 2] = b;
        if (layout.colourKey) {
            const bool keyed = grey ? r == layout.keySample[0]
                                    : r == layout.keySample[0] && g == layout.keySample[1] &&
                                          b == layout.keySample[2];
            opacity[i] = keyed ? 0 : 255;
        } else if (step == 2) { // grey and alpha
            opacity[i] = pixel[step - 1];
        }
    }
}

// RGBA without a key, the common PNG: one 4-byte load and store a pixel, the
// next pixel's store overwriting the alpha byte; the last pixel by bytes.
void unpackRgba8(const std::uint8_t* in, std::size_t count, std::uint8_t* samples,
                 std::uint8_t* opacity) {
    for (std::size_t i = 0; i + 1 < count; ++i) {
        std::memcpy(samples + i * 3, in + i * 4, 4);
        opacity[i] = in[i * 4 + 3];
    }
    if (count > 0) {
        std::memcpy(samples + (count - 1) * 3, in + (count - 1) * 4, 3);
        opacity[count - 1] = in[count * 4 - 1];
    }
}

// 16-bit samples, two bytes each, into host-endian 16-bit values.
template <int channels, bool grey>
void unpackWide(const PngLayout& layout, const std::uint8_t* in, std::size_t count,
                std::uint8_t* samples, std::uint8_t* opacity) {
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint8_t* pixel = in + i * channels * 2;
        const std::uint16_t r = bigEndian16(pixel);
        const std::uint16_t g = grey ? r : bigEndian16(pixel + 2);
        const std::uint16_t b = grey ? r : bigEndian16(pixel + 4);
        storeWide(samples, i * 3, r);
        storeWide(samples, i * 3 + 1, g);
        storeWide(samples, i * 3 + 2, b);
        if (layout.colourKey) {
            const bool keyed = grey ? r == layout.keySample[0]
                                    : r == layout.keySample[0] && g == layout.keySample[1] &&
                                          b == layout.keySample[2];
            opacity[i] = keyed ? 0 : 255;
        } else if (channels == 2 || channels == 4) {
            opacity[i] = bigEndian16(pixel + std::size_t{channels - 1} * 2) != 0 ? 255 : 0;
        }
    }
}

} // namespace

bool startPngSource(InputStream& input, PngSource& source) {
    std::uint8_t signature[pngSignature.size()] = {};
    source = PngSource{};
    source.input = &input;
    return pull(input, signature, sizeof signature) == sizeof signature &&
           std::equal(pngSignature.begin(), pngSignature.end(), signature);
}

std::size_t readPngBytes(PngSource& source, std::uint8_t* into, std::size_t count) {
    std::size_t done = 0;
    while (done < count && source.piece != PngPiece::ended) {
        const auto wanted =
            static_cast<std::size_t>(std::min<std::uint64_t>(count - done, source.pieceLeft));
        std::size_t got = wanted;
        if (source.piece == PngPiece::signature) { // read by startPngSource already
            std::memcpy(into + done, pngSignature.data() + (8 - source.pieceLeft), wanted);
        } else {
            got = pull(*source.input, into + done, wanted);
        }
        advance(source, into + done, got);
        done += got;
        if (got < wanted) {
            break;
        }
    }
    return done;
}

Result readPngChunks(const std::uint8_t* png, std::size_t size, PngHeader& header,
                     std::uint64_t& imageDataBytes) {
    header = PngHeader{};
    imageDataBytes = 0;
    if (size < pngSignature.size() || !std::equal(pngSignature.begin(), pngSignature.end(), png)) {
        return damaged("its signature is wrong");
    }
    unsigned seen = 0;
    for (std::size_t at = pngSignature.size();;) {
        if (size - at < 12 || bigEndian32(png + at) > size - at - 12) {
            return damaged("it ends before its IEND chunk");
        }
        const std::uint32_t length = bigEndian32(png + at);
        const std::uint8_t* type = png + at + 4;
        const std::uint8_t* data = type + 4;
        at += std::size_t{12} + length;
        if (length > 0x7FFFFFFFu) {
            return damaged("a chunk's length is past 2^31 - 1");
        }
        if (chunkCrc(type, std::size_t{4} + length) != bigEndian32(data + length)) {
            return damaged("invalid chunk checksum");
        }
        if ((seen & headerSeen) == 0 && !typeIs(type, "IHDR")) {
            return damaged("its first chunk is not IHDR");
        }
        Result result;
        if (typeIs(type, "IHDR")) {
            result = seen != 0 ? damaged("it has a second IHDR chunk")
                               : takeHeader(data, length, header);
            seen |= headerSeen;
        } else if (typeIs(type, "PLTE")) {
            result = takePalette(data, length, seen, header);
            seen |= paletteSeen;
        } else if (typeIs(type, "tRNS")) {
            takeTransparency(data, length, seen, header);
            seen |= transparencySeen;
        } else if (typeIs(type, "IDAT")) {
            if ((seen & afterImageData) != 0) {
                result = damaged("its IDAT chunks are not consecutive");
            } else if (header.colourType == 3 && (seen & paletteSeen) == 0) {
                result = damaged("a palette image has no PLTE chunk before its image data");
            }
            imageDataBytes += length;
            seen |= imageDataSeen;
        } else if (typeIs(type, "IEND")) {
            return (seen & imageDataSeen) == 0 ? damaged("it has no IDAT chunk") : Result{};
        } else if ((type[0] & 0x20u) == 0) { // critical, by the case of its first letter
            result = damaged("it has a critical chunk pixfold does not know");
        } else if ((seen & imageDataSeen) != 0) {
            seen |= afterImageData;
        }
        if (!succeeded(result)) {
            return result;
        }
    }
}

Result checkImageDataSize(const PngLayout& layout, std::uint64_t imageDataBytes) {
    // Each scanline behind its filter byte, pass by pass when interlaced.
    std::uint64_t inflated = 0;
    for (const AdamPass& pass : adamPasses) {
        const AdamPass whole = {0, 0, 1, 1};
        const AdamPass& part = layout.interlaced ? pass : whole;
        const std::uint32_t width = passExtent(layout.width, part.xStart, part.xStep);
        const std::uint32_t height = passExtent(layout.height, part.yStart, part.yStep);
        if (width > 0) {
            inflated += (scanlineBytes(width, layout.bitsPerPixel) + 1) * height;
        }
        if (!layout.interlaced) {
            break;
        }
    }
    return inflated / 1032 > imageDataBytes ? damaged("its image data is too short for its size")
                                            : Result{};
}

Result decidePngLayout(const PngHeader& header, PngLayout& layout) {
    struct Type {
        int colourType;
        int channels;
        unsigned depths; // bit d set: depth d allowed
        PngUnpack narrow;
        PngUnpack wide;
    };
    constexpr unsigned subByte = (1u << 1) | (1u << 2) | (1u << 4);
    constexpr Type types[] = {
        {0, 1, subByte | (1u << 8) | (1u << 16), PngUnpack::grey8, PngUnpack::grey16},
        {2, 3, (1u << 8) | (1u << 16), PngUnpack::rgb8, PngUnpack::rgb16},
        {3, 1, subByte | (1u << 8), PngUnpack::paletteIndex, PngUnpack::paletteIndex},
        {4, 2, (1u << 8) | (1u << 16), PngUnpack::greyAlpha8, PngUnpack::greyAlpha16},
        {6, 4, (1u << 8) | (1u << 16), PngUnpack::rgba8, PngUnpack::rgba16},
    };
    const Type* type = nullptr;
    for (const Type& candidate : types) {
        if (candidate.colourType == header.colourType && header.bitDepth > 0 &&
            header.bitDepth <= 16 && (candidate.depths >> header.bitDepth & 1u) != 0) {
            type = &candidate;
        }
    }
    if (type == nullptr || header.width == 0 || header.height == 0 || header.width > 0x7FFFFFFFu ||
        header.height > 0x7FFFFFFFu || (header.colourType == 3 && header.paletteEntries == 0)) {
        Result result = failure(ErrorCode::damagedPng);
        result.detail = "its header describes no image a PNG can hold";
        return result;
    }
    if (header.width > pngWidestRow) {
        return failure(ErrorCode::pngTooWide);
    }
    layout = PngLayout{};
    layout.width = header.width;
    layout.height = header.height;
    layout.bitDepth = header.bitDepth;
    layout.bitsPerPixel = type->channels * header.bitDepth;
    layout.rowBytes = static_cast<std::size_t>(scanlineBytes(header.width, layout.bitsPerPixel));
    layout.interlaced = header.interlaced;
    layout.wide = header.bitDepth == 16;
    layout.unpack = layout.wide ? type->wide : type->narrow;
    if (header.colourType == 0 && header.bitDepth < 8) {
        layout.unpack = PngUnpack::greySubByte;
    }
    layout.maxValue = header.colourType == 3 ? 255 : (1 << header.bitDepth) - 1;
    layout.colourKey = header.colourKey && (header.colourType == 0 || header.colourType == 2);
    std::copy(header.keySample, header.keySample + 3, layout.keySample);
    layout.paletteEntries = std::min(header.paletteEntries, 256);
    std::memcpy(layout.paletteRgb, header.palette, sizeof layout.paletteRgb);
    std::fill(layout.paletteAlpha, layout.paletteAlpha + 256, std::uint8_t{255});
    const bool paletteAlpha = header.colourType == 3 && header.paletteAlphas > 0;
    if (paletteAlpha) {
        std::copy(header.paletteAlpha, header.paletteAlpha + std::min(header.paletteAlphas, 256),
                  layout.paletteAlpha);
    }
    layout.hasOpacity =
        header.colourType == 4 || header.colourType == 6 || paletteAlpha || layout.colourKey;
    return {};
}

Result unpackPngPixels(const PngLayout& layout, const std::uint8_t* scanline, std::size_t first,
                       std::size_t count, std::uint8_t* samples, std::uint8_t* opacity) {
    const std::uint8_t* in = scanline + first * static_cast<std::size_t>(layout.bitsPerPixel) / 8;
    switch (layout.unpack) {
    case PngUnpack::greySubByte:
        for (std::size_t i = 0; i < count; ++i) {
            const auto sample =
                static_cast<std::uint8_t>(packedSample(scanline, first + i, layout.bitDepth));
            std::memset(samples + i * 3, sample, 3);
            if (layout.colourKey) {
                opacity[i] = sample == layout.keySample[0] ? 0 : 255;
            }
        }
        break;
    case PngUnpack::paletteIndex:
        for (std::size_t i = 0; i < count; ++i) {
            const unsigned index =
                layout.bitDepth == 8 ? in[i] : packedSample(scanline, first + i, layout.bitDepth);
            if (index >= static_cast<unsigned>(layout.paletteEntries)) {
                Result result = failure(ErrorCode::damagedPng);
                result.detail = "a pixel's palette index is past the palette's end";
                return result;
            }
            std::memcpy(samples + i * 3, layout.paletteRgb[index], 3);
            opacity[i] = layout.paletteAlpha[index];
        }
        break;
    case PngUnpack::grey8:
        unpackNarrow<1, true>(layout, in, count, samples, opacity);
        break;
    case PngUnpack::greyAlpha8:
        unpackNarrow<2, true>(layout, in, count, samples, opacity);
        break;
    case PngUnpack::rgb8:
        if (layout.colourKey) {
            unpackNarrow<3, false>(layout, in, count, samples, opacity);
        } else {
            std::memcpy(samples, in, count * 3);
        }
        break;
    case PngUnpack::rgba8:
        unpackRgba8(in, count, samples, opacity);
        break;
    case PngUnpack::grey16:
        unpackWide<1, true>(layout, in, count, samples, opacity);
        break;
    case PngUnpack::greyAlpha16:
        unpackWide<2, true>(layout, in, count, samples, opacity);
        break;
    case PngUnpack::rgb16:
        unpackWide<3, false>(layout, in, count, samples, opacity);
        break;
    case PngUnpack::rgba16:
        unpackWide<4, false>(layout, in, count, samples, opacity);
        break;
    }
    return {};
}

void placePassPixels(const std::uint8_t* passScanline, std::uint32_t passWidth,
                     const AdamPass& pass, int bitsPerPixel, std::uint8_t* row) {
    if (bitsPerPixel >= 8) {
        const auto bytes = static_cast<std::size_t>(bitsPerPixel / 8);
        for (std::size_t i = 0; i < passWidth; ++i) {
            std::memcpy(row + (pass.xStart + i * pass.xStep) * bytes, passScanline + i * bytes,
                        bytes);
        }
        return;
    }
    for (std::size_t i = 0; i < passWidth; ++i) {
        const unsigned value = packedSample(passScanline, i, bitsPerPixel);
        const std::size_t bit =
            (pass.xStart + i * pass.xStep) * static_cast<std::size_t>(bitsPerPixel);
        row[bit >> 3] |= static_cast<std::uint8_t>(
            value << (8u - static_cast<unsigned>(bitsPerPixel) - static_cast<unsigned>(bit & 7u)));
    }
}

} // namespace pixfold
