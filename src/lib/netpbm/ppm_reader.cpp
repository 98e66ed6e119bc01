#include "netpbm/ppm_reader.h"

#include "core/text.h"
#include "format/records.h"

#include <algorithm>
#include <cstring>
#include <string>

#if PIXFOLD_HAS_X86_PATHS
#include <immintrin.h>
#endif

namespace pixfold {

namespace {

// What a block read gave, inside the reader: the public function returns it
// as a Status and a count.
struct PixelBlock {
    std::size_t pixels = 0;    // whole, valid pixels now in the buffer
    Status error = Status::ok; // why fewer than asked for, if so
};

// The next byte, from the stream's buffer without a call while it lasts: the
// plain formats take their text a byte at a time.
inline int takeByte(InputStream& input) {
    return input.position < input.end ? input.buffer[input.position++] : readByte(input);
}

// Hands back the byte takeByte just returned (never the end of the file).
inline void putBack(InputStream& input, int c) {
    if (c >= 0) {
        --input.position; // readByte always hands out a byte of the buffer
    }
}

// Skips the rest of a comment; returns the byte that ended it (a line end or
// -1). In P1 to P6 headers a CR ends a comment as LF does, as netpbm reads
// them; a PAM header is lines, and its comments run to the LF.
int skipComment(InputStream& input, int c, bool crEndsIt = true) {
    while (c != '\n' && (c != '\r' || !crEndsIt) && c >= 0) {
        c = takeByte(input);
    }
    return c;
}

// Skips whitespace and comments starting at c; returns the first other byte
// and tells whether anything was skipped.
int skipSeparators(InputStream& input, int c, bool& sawSeparator) {
    sawSeparator = false;
    while (true) {
        if (isWhitespace(c)) {
            sawSeparator = true;
            c = takeByte(input);
        } else if (c == '#') {
            sawSeparator = true;
            c = skipComment(input, c);
        } else {
            return c;
        }
    }
}

// Reads a decimal field whose first byte is c, digit by digit with an
// overflow check. Returns the byte after the last digit in c.
bool readField(InputStream& input, int& c, std::int32_t& value) {
    if (!isDecimalDigit(c)) {
        return false;
    }
    std::int32_t result = 0;
    while (isDecimalDigit(c)) {
        if (!appendDecimalDigit(result, c)) {
            return false;
        }
        c = takeByte(input);
    }
    value = result;
    return true;
}

// A field preceded by at least one separator (whitespace or a comment).
bool readSeparatedField(InputStream& input, int& c, std::int32_t& value) {
    bool sawSeparator = false;
    c = skipSeparators(input, c, sawSeparator);
    return sawSeparator && readField(input, c, value);
}

// P1 to P6 after the magic number.
Status readPnmHeader(InputStream& input, int type, PpmHeader& header) {
    const bool bitmap = type == 1 || type == 4;
    const bool plain = type <= 3;
    constexpr RasterKind plainKinds[] = {RasterKind::plainBitmap, RasterKind::plainGrey,
                                         RasterKind::plainColour};
    header.kind = bitmap && !plain ? RasterKind::bitmap
                  : plain          ? plainKinds[type - 1]
                                   : RasterKind::binary;
    header.samplesPerPixel = type == 3 || type == 6 ? 3 : 1;
    header.maxValue = 1;
    int c = takeByte(input);
    if (!readSeparatedField(input, c, header.width) ||
        !readSeparatedField(input, c, header.height) ||
        (!bitmap && !readSeparatedField(input, c, header.maxValue))) {
        return Status::wrongInputFormat;
    }
    if (header.maxValue > largestMaxValue) {
        return Status::maxValueTooLarge;
    }
    if (header.maxValue == 0) {
        return Status::wrongInputFormat;
    }
    // c is the one byte after the last field, already consumed: a binary
    // raster follows exactly one whitespace byte, plain text any separator.
    if (isWhitespace(c)) {
        return Status::ok;
    }
    if (plain && c == '#') {
        skipComment(input, c);
        return Status::ok;
    }
    return plain && c < 0 ? Status::ok : Status::wrongInputFormat;
}

// PAM header lines: a keyword, its value, and nothing else but whitespace.
constexpr bool isLineSpace(int c) {
    return isWhitespace(c) && c != '\n';
}

int skipLineSpace(InputStream& input, int c) {
    while (isLineSpace(c)) {
        c = takeByte(input);
    }
    return c;
}

// True when only whitespace is left on the line starting at c; takes the line end.
bool lineEnds(InputStream& input, int c) {
    return skipLineSpace(input, c) == '\n';
}

constexpr std::size_t longestTupleType = 255;

struct PamTupleType {
    const char* name;
    std::int32_t depth;
    bool hasOpacity;
};

constexpr PamTupleType pamTupleTypes[] = {
    {"BLACKANDWHITE", 1, false},      {"GRAYSCALE", 1, false},      {"RGB", 3, false},
    {"BLACKANDWHITE_ALPHA", 2, true}, {"GRAYSCALE_ALPHA", 2, true}, {"RGB_ALPHA", 4, true},
};

// What the fields of a PAM header mean together. A black-and-white tuple is a
// grey one (0 black, maximum value white), so both read alike.
Status checkPamFields(const std::string& tupleType, std::int32_t depth, bool sawAll,
                      PpmHeader& header) {
    if (!sawAll) {
        return Status::wrongInputFormat;
    }
    bool known = false;
    for (const PamTupleType& type : pamTupleTypes) {
        if (tupleType == type.name && depth == type.depth) {
            known = true;
            header.hasOpacity = type.hasOpacity;
        }
    }
    if (tupleType.empty() && depth >= 1 && depth <= 4) { // no TUPLTYPE: by depth
        known = true;
        header.hasOpacity = depth == 2 || depth == 4;
    }
    if (!known || header.maxValue == 0) {
        return Status::wrongInputFormat;
    }
    header.samplesPerPixel = depth;
    return header.maxValue > largestMaxValue ? Status::maxValueTooLarge : Status::ok;
}

// P7 after the magic number: the rest of its line, then header lines up to
// ENDHDR; the raster starts right after ENDHDR's line end.
Status readPamHeader(InputStream& input, PpmHeader& header) {
    header.kind = RasterKind::binary;
    if (!lineEnds(input, takeByte(input))) {
        return Status::wrongInputFormat;
    }
    std::string tupleType;
    std::int32_t depth = 0;
    unsigned seen = 0; // a bit each for WIDTH, HEIGHT, DEPTH and MAXVAL
    while (true) {
        int c = skipLineSpace(input, takeByte(input));
        if (c == '\n') {
            continue;
        }
        if (c == '#') {
            if (skipComment(input, c, false) < 0) {
                return Status::wrongInputFormat;
            }
            continue;
        }
        char keyword[9] = {};
        std::size_t length = 0;
        for (; c >= 0 && !isWhitespace(c); c = takeByte(input)) {
            if (length == sizeof keyword - 1) {
                return Status::wrongInputFormat;
            }
            keyword[length++] = static_cast<char>(c);
        }
        if (std::strcmp(keyword, "ENDHDR") == 0) {
            return lineEnds(input, c) ? checkPamFields(tupleType, depth, seen == 15, header)
                                      : Status::wrongInputFormat;
        }
        c = skipLineSpace(input, c);
        if (std::strcmp(keyword, "TUPLTYPE") == 0) {
            // The rest of the line, trailing whitespace dropped; several
            // TUPLTYPE lines join with a space.
            std::string value;
            for (; c >= 0 && c != '\n'; c = takeByte(input)) {
                if (value.size() + tupleType.size() > longestTupleType) {
                    return Status::wrongInputFormat;
                }
                value += static_cast<char>(c);
            }
            if (c < 0) {
                return Status::wrongInputFormat;
            }
            value.erase(std::find_if(value.rbegin(), value.rend(),
                                     [](char ch) { return !isWhitespace(ch); })
                            .base(),
                        value.end());
            tupleType += (tupleType.empty() ? "" : " ") + value;
            continue;
        }
        constexpr const char* numberKeywords[] = {"WIDTH", "HEIGHT", "DEPTH", "MAXVAL"};
        std::int32_t* const numbers[] = {&header.width, &header.height, &depth, &header.maxValue};
        std::size_t which = 0;
        while (which < 4 && std::strcmp(keyword, numberKeywords[which]) != 0) {
            ++which;
        }
        if (which == 4 || !readField(input, c, *numbers[which]) || !lineEnds(input, c)) {
            return Status::wrongInputFormat;
        }
        seen |= 1u << which;
    }
}

Status checkHeader(InputStream& input, PpmHeader& header) {
    header = PpmHeader{};
    if (readByte(input) != 'P') {
        return Status::wrongInputFormat;
    }
    const int type = readByte(input) - '0';
    if (type < 1 || type > 7) {
        return Status::wrongInputFormat;
    }
    return type == 7 ? readPamHeader(input, header) : readPnmHeader(input, type, header);
}

// The one check that samples are within the maximum value, for every binary
// raster: the index of the first sample above it, or count. Samples of one
// byte, or of two, most significant first; the loop is skipped where no
// sample can exceed the maximum.
std::size_t firstSampleAbove(const std::uint8_t* raster, std::size_t count, std::int32_t maxValue) {
    if (maxValue == 255 || maxValue == largestMaxValue) {
        return count;
    }
    if (maxValue > 255) {
        // The highest sample of each block, in a loop with no exit, which
        // compilers vectorise; only a block holding one above is searched.
        constexpr std::size_t blockSamples = 4096;
        const auto sampleAt = [raster](std::size_t i) {
            std::uint16_t value = 0;
            std::memcpy(&value, raster + i * 2, 2);
            return hostIsBigEndian ? value
                                   : static_cast<std::uint16_t>((value >> 8) | (value << 8));
        };
        for (std::size_t first = 0; first < count; first += blockSamples) {
            const std::size_t end = std::min(count, first + blockSamples);
            std::uint16_t highest = 0;
            for (std::size_t i = first; i < end; ++i) {
                highest = std::max(highest, sampleAt(i));
            }
            for (std::size_t i = first; highest > maxValue && i < end; ++i) {
                if (sampleAt(i) > maxValue) {
                    return i;
                }
            }
        }
        return count;
    }
    const auto limit = static_cast<std::uint8_t>(maxValue);
    return static_cast<std::size_t>(
        std::find_if(raster, raster + count,
                     [limit](std::uint8_t sample) { return sample > limit; }) -
        raster);
}

PixelBlock shortBlock(const InputStream& input, std::size_t pixels) {
    return {pixels, input.failed ? Status::cantRead : Status::truncated};
}

// Spreads 1, 2 or 4 samples a pixel into red, green and blue plus opacity.
// The raster sits at the end of samples' room (4 bytes a pixel), so that each
// pixel's samples are taken before its spread pixel, stored as 4 bytes of which
// the next pixel overwrites the last, can reach them: one load and one store a
// pixel, where byte stores took several.
template <std::int32_t depth>
void spreadSamples(const std::uint8_t* raster, std::size_t pixelCount, std::uint8_t* samples,
                   std::uint8_t* opacity) {
    for (std::size_t i = 0; i < pixelCount; ++i) {
        const std::uint8_t* in = raster + i * depth;
        std::uint32_t word = 0;
        if constexpr (depth == 4) {
            std::memcpy(&word, in, 4);
        } else {
            word = bytesInMemoryOrder(in[0], in[0], in[0], 0);
        }
        if constexpr (depth == 2 || depth == 4) {
            opacity[i] = in[depth - 1];
        }
        std::memcpy(samples + i * 3, &word, 4);
    }
}

// On x86 SSSE3 spreads 4, 8 or 16 pixels a shuffle, which keeps P5 and PAM
// with alpha as fast per pixel as P6; the same layout rules hold, each store
// reaching no sample not yet loaded.
#if PIXFOLD_HAS_X86_PATHS
#define PIXFOLD_SPREAD_SSSE3 1

template <std::int32_t depth>
__attribute__((target("ssse3"))) std::size_t
spreadSsse3(const std::uint8_t* raster, std::size_t pixelCount, std::uint8_t* samples,
            std::uint8_t* opacity) {
    constexpr std::size_t step = 16 / depth;
    std::size_t i = 0;
    for (; i + step <= pixelCount; i += step) {
        const __m128i in = _mm_loadu_si128(reinterpret_cast<const __m128i*>(raster + i * depth));
        auto* out = reinterpret_cast<__m128i*>(samples + i * 3);
        if constexpr (depth == 4) {
            const __m128i rgb =
                _mm_setr_epi8(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1);
            const __m128i alpha =
                _mm_setr_epi8(3, 7, 11, 15, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1);
            const int alphas = _mm_cvtsi128_si32(_mm_shuffle_epi8(in, alpha));
            std::memcpy(opacity + i, &alphas, 4);
            _mm_storeu_si128(out, _mm_shuffle_epi8(in, rgb));
        } else if constexpr (depth == 2) {
            const __m128i first = _mm_setr_epi8(0, 0, 0, 2, 2, 2, 4, 4, 4, 6, 6, 6, 8, 8, 8, 10);
            const __m128i second =
                _mm_setr_epi8(10, 10, 12, 12, 12, 14, 14, 14, -1, -1, -1, -1, -1, -1, -1, -1);
            const __m128i alpha =
                _mm_setr_epi8(1, 3, 5, 7, 9, 11, 13, 15, -1, -1, -1, -1, -1, -1, -1, -1);
            _mm_storel_epi64(reinterpret_cast<__m128i*>(opacity + i), _mm_shuffle_epi8(in, alpha));
            _mm_storeu_si128(out, _mm_shuffle_epi8(in, first));
            _mm_storeu_si128(out + 1, _mm_shuffle_epi8(in, second));
        } else {
            const __m128i first = _mm_setr_epi8(0, 0, 0, 1, 1, 1, 2, 2, 2, 3, 3, 3, 4, 4, 4, 5);
            const __m128i second = _mm_setr_epi8(5, 5, 6, 6, 6, 7, 7, 7, 8, 8, 8, 9, 9, 9, 10, 10);
            const __m128i third =
                _mm_setr_epi8(10, 11, 11, 11, 12, 12, 12, 13, 13, 13, 14, 14, 14, 15, 15, 15);
            _mm_storeu_si128(out, _mm_shuffle_epi8(in, first));
            _mm_storeu_si128(out + 1, _mm_shuffle_epi8(in, second));
            _mm_storeu_si128(out + 2, _mm_shuffle_epi8(in, third));
        }
    }
    return i;
}
#else
#define PIXFOLD_SPREAD_SSSE3 0
#endif

// Every x86 path but the portable one runs on a processor with SSSE3.
template <std::int32_t depth>
void spread(const std::uint8_t* raster, std::size_t pixelCount, std::uint8_t* samples,
            std::uint8_t* opacity, Path path) {
    std::size_t done = 0;
#if PIXFOLD_SPREAD_SSSE3
    if (runnablePath(path) != Path::portable) {
        done = spreadSsse3<depth>(raster, pixelCount, samples, opacity);
    }
#else
    (void)path;
#endif
    spreadSamples<depth>(raster + done * depth, pixelCount - done, samples + done * 3,
                         opacity + done);
}

// Two-byte samples, most significant first, to host-endian ones in place.
void toHostOrder(std::uint8_t* samples, std::size_t count) {
    if (hostIsBigEndian) {
        return;
    }
    // Whole 16-bit loads and a rotation: a loop compilers vectorise.
    for (std::size_t i = 0; i < count; ++i) {
        std::uint16_t value = 0;
        std::memcpy(&value, samples + i * 2, 2);
        value = static_cast<std::uint16_t>((value >> 8) | (value << 8));
        std::memcpy(samples + i * 2, &value, 2);
    }
}

// Two-byte samples, 1, 2 or 4 a pixel, to host-endian 16-bit red, green and
// blue (grey s as s, s, s), and opacity 0 exactly where the alpha sample is 0.
// The raster sits at the end of samples' room (8 bytes a pixel); each chunk is
// copied aside before its pixels are stored, which reach no later chunk's
// samples, so the loops run over buffers that don't overlap and vectorise.
template <std::int32_t depth>
void spreadWide(const std::uint8_t* raster, std::size_t pixelCount, std::uint8_t* samples,
                std::uint8_t* opacity) {
    constexpr std::size_t chunkPixels = 512;
    std::uint8_t in[chunkPixels * depth * 2];
    std::uint16_t out[chunkPixels * 3];
    for (std::size_t done = 0; done < pixelCount; done += chunkPixels) {
        const std::size_t count = std::min(chunkPixels, pixelCount - done);
        std::memcpy(in, raster + done * depth * 2, count * depth * 2);
        for (std::size_t i = 0; i < count; ++i) {
            for (std::size_t k = 0; k < 3; ++k) {
                const std::size_t at = (i * depth + (depth >= 3 ? k : 0)) * 2;
                out[i * 3 + k] = static_cast<std::uint16_t>((in[at] << 8) | in[at + 1]);
            }
            if constexpr (depth == 2 || depth == 4) {
                const std::size_t at = (i * depth + depth - 1) * 2;
                opacity[done + i] = (in[at] | in[at + 1]) != 0 ? 1 : 0;
            }
        }
        std::memcpy(samples + done * 6, out, count * 6);
    }
}

// P5, P6 and P7: depth samples a pixel, of one byte or two.
PixelBlock readBinary(InputStream& input, const RasterReader& raster, std::uint8_t* samples,
                      std::uint8_t* opacity, std::size_t pixelCount) {
    const std::int32_t depth = raster.header.samplesPerPixel;
    const std::size_t sampleBytes = raster.header.maxValue > 255 ? 2 : 1;
    const std::size_t bytesPerPixel = static_cast<std::size_t>(depth) * sampleBytes;
    const std::size_t wanted = pixelCount * bytesPerPixel;
    // RGB is read where it is used; everything else is spread from the end of
    // the room (4 bytes a pixel for 8-bit samples, 8 for 16-bit).
    const bool inPlace = depth == 3;
    std::uint8_t* read = inPlace ? samples : samples + pixelCount * 4 * sampleBytes - wanted;
    const std::size_t got = readBytes(input, read, wanted);
    PixelBlock block;
    const std::size_t whole = got / bytesPerPixel;
    const std::size_t valid =
        firstSampleAbove(read, whole * static_cast<std::size_t>(depth), raster.header.maxValue) /
        static_cast<std::size_t>(depth);
    block.pixels = valid;
    if (valid < whole) {
        block.error = Status::sampleExceedsMax;
    } else if (got < wanted) {
        block.error = input.failed ? Status::cantRead : Status::truncated;
    }
    if (sampleBytes == 2) {
        switch (depth) {
        case 1:
            spreadWide<1>(read, valid, samples, opacity);
            break;
        case 2:
            spreadWide<2>(read, valid, samples, opacity);
            break;
        case 3:
            toHostOrder(samples, valid * 3);
            break;
        default:
            spreadWide<4>(read, valid, samples, opacity);
            break;
        }
        return block;
    }
    switch (depth) {
    case 1:
        spread<1>(read, valid, samples, opacity, raster.path);
        break;
    case 2:
        spread<2>(read, valid, samples, opacity, raster.path);
        break;
    case 3:
        break;
    default:
        spread<4>(read, valid, samples, opacity, raster.path);
        break;
    }
    return block;
}

// The bytes a bitmap's next pixels take, from where the reader stands.
std::size_t bitmapBytes(const RasterReader& raster, std::size_t pixelCount) {
    const auto width = static_cast<std::size_t>(raster.header.width);
    auto column = static_cast<std::size_t>(raster.column);
    auto bitsLeft = static_cast<std::size_t>(raster.bitsLeft);
    std::size_t bytes = 0;
    while (pixelCount > 0) {
        const std::size_t piece = std::min(pixelCount, width - column);
        const std::size_t fresh = piece - std::min(piece, bitsLeft); // bits from new bytes
        bytes += (fresh + 7) / 8;
        bitsLeft = bitsLeft - std::min(piece, bitsLeft) + (fresh + 7) / 8 * 8 - fresh;
        column += piece;
        if (column == width) {
            column = 0;
            bitsLeft = 0;
        }
        pixelCount -= piece;
    }
    return bytes;
}

// P4: a set bit is black (0), a clear one white (1); the bits left in a row's
// last byte are padding. The bytes the pixels need are read exactly, so a pipe
// gives up nothing past the raster; they sit at the end of samples' room.
PixelBlock readBitmap(InputStream& input, RasterReader& raster, std::uint8_t* samples,
                      std::size_t pixelCount) {
    const std::size_t wanted = bitmapBytes(raster, pixelCount);
    std::uint8_t* bytes = samples + pixelCount * 4 - wanted;
    const std::size_t got = readBytes(input, bytes, wanted);
    std::size_t next = 0;
    for (std::size_t i = 0; i < pixelCount; ++i) {
        if (raster.bitsLeft == 0) {
            if (next == got) {
                return shortBlock(input, i);
            }
            raster.bitBuffer = bytes[next++];
            raster.bitsLeft = 8;
        }
        const auto white = static_cast<std::uint8_t>(((raster.bitBuffer >> 7) & 1u) ^ 1u);
        raster.bitBuffer <<= 1;
        --raster.bitsLeft;
        std::memset(samples + i * 3, white, 3);
        if (++raster.column == raster.header.width) {
            raster.column = 0;
            raster.bitsLeft = 0;
        }
    }
    return {pixelCount, Status::ok};
}

// One plain sample: whitespace and comments before it, then for P1 one digit
// 0 or 1, otherwise a decimal number ended by whitespace, a comment or the end
// of the file. Numbers saturate at 65536, which no maximum value reaches.
Status readPlainSample(InputStream& input, bool bitmap, std::int32_t& value) {
    int c = takeByte(input);
    while (isWhitespace(c) || c == '#') {
        c = c == '#' ? skipComment(input, c) : takeByte(input);
    }
    if (c < 0) {
        return input.failed ? Status::cantRead : Status::truncated;
    }
    if (bitmap) {
        value = '1' - c; // '1' is black, 0; '0' is white, 1
        return c == '0' || c == '1' ? Status::ok : Status::wrongInputFormat;
    }
    if (!isDecimalDigit(c)) {
        return Status::wrongInputFormat;
    }
    std::int32_t number = 0;
    for (; isDecimalDigit(c); c = takeByte(input)) {
        number = std::min(number * 10 + (c - '0'), 65536);
    }
    if (c >= 0 && !isWhitespace(c) && c != '#') {
        return Status::wrongInputFormat;
    }
    putBack(input, c); // a separator for the next sample, or the next image
    value = number;
    return Status::ok;
}

PixelBlock readPlain(InputStream& input, const PpmHeader& header, std::uint8_t* samples,
                     std::size_t pixelCount) {
    const bool bitmap = header.kind == RasterKind::plainBitmap;
    const std::int32_t perPixel = header.kind == RasterKind::plainColour ? 3 : 1;
    for (std::size_t i = 0; i < pixelCount; ++i) {
        std::int32_t values[3] = {};
        for (std::int32_t k = 0; k < perPixel; ++k) {
            const Status error = readPlainSample(input, bitmap, values[k]);
            if (error == Status::ok && values[k] > header.maxValue) {
                return {i, Status::sampleExceedsMax};
            }
            if (error != Status::ok) {
                return {i, error};
            }
        }
        for (std::size_t k = 0; k < 3; ++k) {
            const std::int32_t value = values[perPixel == 3 ? k : 0];
            if (header.maxValue > 255) {
                const auto wide = static_cast<std::uint16_t>(value);
                std::memcpy(samples + (i * 3 + k) * 2, &wide, 2);
            } else {
                samples[i * 3 + k] = static_cast<std::uint8_t>(value);
            }
        }
    }
    return {pixelCount, Status::ok};
}

PixelBlock readAnyRaster(InputStream& input, RasterReader& raster, std::uint8_t* samples,
                         std::uint8_t* opacity, std::size_t pixelCount) {
    const PpmHeader& header = raster.header;
    switch (header.kind) {
    case RasterKind::binary:
        return readBinary(input, raster, samples, opacity, pixelCount);
    case RasterKind::bitmap:
        return readBitmap(input, raster, samples, pixelCount);
    default:
        return readPlain(input, header, samples, pixelCount);
    }
}

} // namespace

Status readPpmHeader(InputStream& input, PpmHeader& header) {
    const Status result = checkHeader(input, header);
    return input.failed ? Status::cantRead : result;
}

Status findNextImage(InputStream& input, bool& found) {
    while (isWhitespace(peekByte(input))) {
        readByte(input);
    }
    found = peekByte(input) >= 0;
    return input.failed ? Status::cantRead : Status::ok;
}

Status readRaster(InputStream& input, RasterReader& raster, std::uint8_t* samples,
                  std::uint8_t* opacity, std::size_t pixelCount, std::size_t& pixels) {
    const PixelBlock block = readAnyRaster(input, raster, samples, opacity, pixelCount);
    pixels = block.pixels;
    return block.error;
}

} // namespace pixfold
