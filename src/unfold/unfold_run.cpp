#include "unfold/unfold_run.h"

#include "app/run.h"
#include "common/files.h"
#include "decode/inverse.h"
#include "encode/pack.h"
#include "encode/records.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

namespace pixfold {

namespace {

struct Streams {
    InputFile records;
    InputFile alpha;
    std::FILE* picture = nullptr;
    std::FILE* mask = nullptr;
};

struct Buffers {
    std::vector<std::uint8_t> records;
    std::vector<std::uint8_t> alpha;
    std::vector<std::uint8_t> samples;
    std::vector<std::uint8_t> mask;
};

UnfoldResult failure(ErrorCode error, const char* path) {
    return {error, path};
}

// A regular file's size must match at once; anything else is checked by reading.
bool sizeCanMatch(const char* path, std::uint64_t expected) {
    std::error_code error;
    const std::uintmax_t size = std::filesystem::file_size(path, error);
    return error || size == expected;
}

bool writeNetpbmHeader(std::FILE* file, const char* magic, const UnfoldCommandLine& line) {
    return std::fprintf(file, "%s\n%d %d\n255\n", magic, line.width, line.height) > 0;
}

// What pixfold wrote for a matching pixel: e655Z kept only the low 16 bits.
bool keyMatches(std::uint32_t keyValue, const UnfoldCommandLine& line) {
    if (!line.matchGiven) {
        return keyValue != 0;
    }
    const std::uint32_t wanted =
        line.format == OutputFormat::e655Z ? (line.matchValue & 0xFFFFu) : line.matchValue;
    return keyValue == wanted;
}

void decodeBlock(const UnfoldCommandLine& line, std::size_t pixels, Buffers& buffers) {
    const std::size_t recordSize = recordBytes(line.format);
    for (std::size_t i = 0; i < pixels; ++i) {
        const RecordContents contents = readRecord(&buffers.records[i * recordSize], line.format);
        const RgbPixel pixel = codesToRgb(unpackWord(contents.word, line.format));
        buffers.samples[i * 3] = pixel.r;
        buffers.samples[i * 3 + 1] = pixel.g;
        buffers.samples[i * 3 + 2] = pixel.b;
        if (line.maskPath != nullptr) {
            const std::uint32_t keyValue = line.format == OutputFormat::e888Alpha
                                               ? loadBigEndian32(&buffers.alpha[i * 4])
                                               : contents.keyValue;
            buffers.mask[i] = keyMatches(keyValue, line) ? 255 : 0;
        }
    }
}

// Reads exactly count items, or says which input came up short.
ErrorCode readExactly(std::FILE* file, std::uint8_t* into, std::size_t itemSize, std::size_t count,
                      ErrorCode wrongSize) {
    if (std::fread(into, itemSize, count, file) == count) {
        return ErrorCode::none;
    }
    return std::ferror(file) != 0 ? ErrorCode::cantReadInput : wrongSize;
}

bool atEnd(std::FILE* file) {
    return std::fgetc(file) == EOF && std::ferror(file) == 0;
}

UnfoldResult streamPixels(const UnfoldCommandLine& line, Streams& streams) {
    const std::size_t recordSize = recordBytes(line.format);
    const std::size_t block = conversionBlockPixels;
    Buffers buffers{std::vector<std::uint8_t>(block * recordSize),
                    std::vector<std::uint8_t>(streams.alpha ? block * 4 : 0),
                    std::vector<std::uint8_t>(block * 3),
                    std::vector<std::uint8_t>(streams.mask != nullptr ? block : 0)};
    std::uint64_t remaining =
        static_cast<std::uint64_t>(line.width) * static_cast<std::uint64_t>(line.height);
    while (remaining > 0) {
        const auto count = static_cast<std::size_t>(std::min<std::uint64_t>(remaining, block));
        ErrorCode error = readExactly(streams.records.get(), buffers.records.data(), recordSize,
                                      count, ErrorCode::recordFileSize);
        if (error != ErrorCode::none) {
            return failure(error, line.recordPath);
        }
        if (streams.alpha) {
            error = readExactly(streams.alpha.get(), buffers.alpha.data(), 4, count,
                                ErrorCode::alphaFileSize);
            if (error != ErrorCode::none) {
                return failure(error, line.alphaPath);
            }
        }
        decodeBlock(line, count, buffers);
        if (std::fwrite(buffers.samples.data(), 3, count, streams.picture) != count) {
            return failure(ErrorCode::cantWriteOutput, line.ppmPath);
        }
        if (streams.mask != nullptr &&
            std::fwrite(buffers.mask.data(), 1, count, streams.mask) != count) {
            return failure(ErrorCode::cantWriteOutput, line.maskPath);
        }
        remaining -= count;
    }
    if (!atEnd(streams.records.get())) {
        return failure(ErrorCode::recordFileSize, line.recordPath);
    }
    if (streams.alpha && !atEnd(streams.alpha.get())) {
        return failure(ErrorCode::alphaFileSize, line.alphaPath);
    }
    return {};
}

UnfoldResult openInputs(const UnfoldCommandLine& line, Streams& streams) {
    const std::uint64_t pixels =
        static_cast<std::uint64_t>(line.width) * static_cast<std::uint64_t>(line.height);
    streams.records.reset(std::fopen(line.recordPath, "rb"));
    if (!streams.records) {
        return failure(ErrorCode::cantOpenInput, line.recordPath);
    }
    if (!sizeCanMatch(line.recordPath, pixels * recordBytes(line.format))) {
        return failure(ErrorCode::recordFileSize, line.recordPath);
    }
    if (line.maskPath == nullptr || line.format != OutputFormat::e888Alpha) {
        return {};
    }
    streams.alpha.reset(std::fopen(line.alphaPath, "rb"));
    if (!streams.alpha) {
        return failure(ErrorCode::cantOpenInput, line.alphaPath);
    }
    if (!sizeCanMatch(line.alphaPath, pixels * 4)) {
        return failure(ErrorCode::alphaFileSize, line.alphaPath);
    }
    return {};
}

UnfoldResult checkOutputPaths(const UnfoldCommandLine& line) {
    for (const char* output : {line.ppmPath, line.maskPath}) {
        if (namesSameFile(output, line.recordPath) || namesSameFile(output, line.alphaPath)) {
            return failure(ErrorCode::sameFile, output);
        }
    }
    return {};
}

// Closes an output on every path; a failed close is reported only when
// nothing failed before it.
UnfoldResult closeOutput(std::FILE* file, const char* path, UnfoldResult result) {
    if (file == nullptr) {
        return result;
    }
    const bool closed = std::fclose(file) == 0;
    if (result.error != ErrorCode::none || closed) {
        return result;
    }
    return failure(ErrorCode::cantWriteOutput, path);
}

} // namespace

UnfoldResult runUnfold(const UnfoldCommandLine& line) {
    Streams streams;
    UnfoldResult result = openInputs(line, streams);
    if (result.error == ErrorCode::none) {
        result = checkOutputPaths(line);
    }
    if (result.error != ErrorCode::none) {
        return result;
    }
    streams.picture = std::fopen(line.ppmPath, "wb");
    if (streams.picture == nullptr) {
        return failure(ErrorCode::cantOpenOutput, line.ppmPath);
    }
    if (line.maskPath != nullptr) {
        streams.mask = std::fopen(line.maskPath, "wb");
        if (streams.mask == nullptr) {
            return closeOutput(streams.picture, line.ppmPath,
                               failure(ErrorCode::cantOpenOutput, line.maskPath));
        }
    }
    if (!writeNetpbmHeader(streams.picture, "P6", line)) {
        result = failure(ErrorCode::cantWriteOutput, line.ppmPath);
    } else if (streams.mask != nullptr && !writeNetpbmHeader(streams.mask, "P5", line)) {
        result = failure(ErrorCode::cantWriteOutput, line.maskPath);
    } else {
        result = streamPixels(line, streams);
    }
    result = closeOutput(streams.picture, line.ppmPath, result);
    return closeOutput(streams.mask, line.maskPath, result);
}

} // namespace pixfold
