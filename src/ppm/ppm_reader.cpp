#include "ppm/ppm_reader.h"

#include <cstdint>

namespace pixfold {

namespace {

constexpr std::int32_t largestField = 2147483647;

bool isPpmWhitespace(int c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

bool isDigit(int c) {
    return c >= '0' && c <= '9';
}

// getc that tells a read error from the end of the file.
struct HeaderStream {
    std::FILE* file;
    bool failed = false;

    int next() {
        const int c = std::getc(file);
        if (c == EOF && std::ferror(file) != 0) {
            failed = true;
        }
        return c;
    }
};

// Skips whitespace and comments starting at c; returns the first other byte
// and tells whether anything was skipped.
int skipSeparators(HeaderStream& stream, int c, bool& sawSeparator) {
    sawSeparator = false;
    while (true) {
        if (isPpmWhitespace(c)) {
            sawSeparator = true;
            c = stream.next();
        } else if (c == '#') {
            sawSeparator = true;
            while (c != '\n' && c != '\r' && c != EOF) {
                c = stream.next();
            }
        } else {
            return c;
        }
    }
}

// Reads a decimal field whose first byte is c, digit by digit with an
// overflow check. Returns the byte after the last digit in c.
bool readField(HeaderStream& stream, int& c, std::int32_t& value) {
    if (!isDigit(c)) {
        return false;
    }
    std::int32_t result = 0;
    while (isDigit(c)) {
        const std::int32_t digit = c - '0';
        if (result > (largestField - digit) / 10) {
            return false;
        }
        result = result * 10 + digit;
        c = stream.next();
    }
    value = result;
    return true;
}

// A field preceded by at least one separator (whitespace or a comment).
bool readSeparatedField(HeaderStream& stream, int& c, std::int32_t& value) {
    bool sawSeparator = false;
    c = skipSeparators(stream, c, sawSeparator);
    return sawSeparator && readField(stream, c, value);
}

ErrorCode checkHeader(HeaderStream& stream, PpmHeader& header) {
    if (stream.next() != 'P' || stream.next() != '6') {
        return ErrorCode::wrongInputFormat;
    }
    int c = stream.next();
    if (!readSeparatedField(stream, c, header.width) ||
        !readSeparatedField(stream, c, header.height) ||
        !readSeparatedField(stream, c, header.maxValue)) {
        return ErrorCode::wrongInputFormat;
    }
    if (header.maxValue > 255) {
        return ErrorCode::only8Bit;
    }
    // c is the one byte after the maximum value, already consumed.
    if (header.maxValue == 0 || !isPpmWhitespace(c)) {
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

ErrorCode readPpmHeader(std::FILE* input, PpmHeader& header) {
    HeaderStream stream{input};
    const ErrorCode result = checkHeader(stream, header);
    return stream.failed ? ErrorCode::cantReadInput : result;
}

PixelBlock readPixels(std::FILE* input, std::uint8_t* samples, std::size_t pixelCount,
                      std::int32_t maxValue) {
    const std::size_t wanted = pixelCount * 3;
    const std::size_t got = std::fread(samples, 1, wanted, input);
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
        block.error =
            std::ferror(input) != 0 ? ErrorCode::cantReadInput : ErrorCode::truncatedInput;
    }
    return block;
}

} // namespace pixfold
