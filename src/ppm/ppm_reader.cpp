#include "ppm/ppm_reader.h"

#include "common/text.h"

namespace pixfold {

namespace {

// Skips whitespace and comments starting at c; returns the first other byte
// and tells whether anything was skipped.
int skipSeparators(InputStream& input, int c, bool& sawSeparator) {
    sawSeparator = false;
    while (true) {
        if (isWhitespace(c)) {
            sawSeparator = true;
            c = readByte(input);
        } else if (c == '#') {
            sawSeparator = true;
            while (c != '\n' && c != '\r' && c >= 0) {
                c = readByte(input);
            }
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
        c = readByte(input);
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

ErrorCode checkHeader(InputStream& input, PpmHeader& header) {
    if (readByte(input) != 'P' || readByte(input) != '6') {
        return ErrorCode::wrongInputFormat;
    }
    int c = readByte(input);
    if (!readSeparatedField(input, c, header.width) ||
        !readSeparatedField(input, c, header.height) ||
        !readSeparatedField(input, c, header.maxValue)) {
        return ErrorCode::wrongInputFormat;
    }
    if (header.maxValue > 255) {
        return ErrorCode::only8Bit;
    }
    // c is the one byte after the maximum value, already consumed.
    if (header.maxValue == 0 || !isWhitespace(c)) {
        return ErrorCode::wrongInputFormat;
    }
    return ErrorCode::none;
}

std::size_t firstPixelAboveMaximum(const std::uint8_t* samples, std::size_t pixelCount,
                                   std::int32_t maxValue) {
    for (std::size_t i = 0; i < pixelCount; ++i) {
        const std::uint8_t* sample = samples + i * 3;
        if (sample[0] > maxValue || sample[1] > maxValue || sample[2] > maxValue) {
            return i;
        }
    }
    return pixelCount;
}

} // namespace

ErrorCode readPpmHeader(InputStream& input, PpmHeader& header) {
    const ErrorCode result = checkHeader(input, header);
    return input.failed ? ErrorCode::cantReadInput : result;
}

ErrorCode findNextImage(InputStream& input, bool& found) {
    while (isWhitespace(peekByte(input))) {
        readByte(input);
    }
    found = peekByte(input) >= 0;
    return input.failed ? ErrorCode::cantReadInput : ErrorCode::none;
}

PixelBlock readPixels(InputStream& input, std::uint8_t* samples, std::size_t pixelCount,
                      std::int32_t maxValue) {
    const std::size_t wanted = pixelCount * 3;
    const std::size_t got = readBytes(input, samples, wanted);
    PixelBlock block;
    block.pixels = got / 3;
    if (maxValue < 255) {
        const std::size_t valid = firstPixelAboveMaximum(samples, block.pixels, maxValue);
        if (valid < block.pixels) {
            block.pixels = valid;
            block.error = ErrorCode::sampleExceedsMax;
            return block;
        }
    }
    if (got < wanted) {
        block.error = input.failed ? ErrorCode::cantReadInput : ErrorCode::truncatedInput;
    }
    return block;
}

} // namespace pixfold
