#include "app/run.h"

#include "common/files.h"
#include "encode/encoder.h"
#include "encode/records.h"
#include "ppm/ppm_reader.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <vector>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

namespace pixfold {

namespace {

void putStandardOutputInBinaryMode() {
#ifdef _WIN32
    _setmode(_fileno(stdout), _O_BINARY);
#endif
}

bool writeAll(const std::uint8_t* bytes, std::size_t count, std::FILE* stream) {
    return std::fwrite(bytes, 1, count, stream) == count;
}

struct RasterBuffers {
    std::vector<std::uint8_t> samples;
    std::vector<std::uint8_t> records;
    std::vector<std::uint8_t> alpha;
};

RasterBuffers makeBuffers(OutputFormat format) {
    RasterBuffers buffers;
    buffers.samples.resize(conversionBlockPixels * 3);
    buffers.records.resize(conversionBlockPixels * recordBytes(format));
    if (writesAlphaStream(format)) {
        buffers.alpha.resize(conversionBlockPixels * 4);
    }
    return buffers;
}

std::uint64_t pixelCount(const PpmHeader& header) {
    return static_cast<std::uint64_t>(header.width) * static_cast<std::uint64_t>(header.height);
}

// Streams the raster block by block. The records of every whole, valid pixel
// are written before a read failure is reported.
ErrorCode convertRaster(std::FILE* input, std::FILE* output, const PpmHeader& header,
                        const EncodePlan& plan) {
    RasterBuffers buffers = makeBuffers(plan.format);
    std::uint8_t* alpha = buffers.alpha.empty() ? nullptr : buffers.alpha.data();
    const std::size_t bytesPerRecord = recordBytes(plan.format);

    for (std::uint64_t remaining = pixelCount(header); remaining > 0;) {
        const auto wanted =
            static_cast<std::size_t>(std::min<std::uint64_t>(remaining, conversionBlockPixels));
        const PixelBlock block = readPixels(input, buffers.samples.data(), wanted, header.maxValue);
        encodePixels(buffers.samples.data(), block.pixels, plan, buffers.records.data(), alpha);
        if (!writeAll(buffers.records.data(), block.pixels * bytesPerRecord, output)) {
            return ErrorCode::cantWriteOutput;
        }
        if (alpha != nullptr && !writeAll(alpha, block.pixels * 4, stdout)) {
            return ErrorCode::cantWriteStdout;
        }
        if (block.error != ErrorCode::none) {
            return block.error;
        }
        remaining -= block.pixels;
    }
    return ErrorCode::none;
}

// Closes the output on every path, so the records already written stay; a
// failed close is reported only when nothing failed before it.
ErrorCode closeOutput(std::FILE* output, ErrorCode conversionResult) {
    const bool closed = std::fclose(output) == 0;
    if (conversionResult != ErrorCode::none) {
        return conversionResult;
    }
    return closed ? ErrorCode::none : ErrorCode::cantWriteOutput;
}

ErrorCode flushAlphaStream(OutputFormat format) {
    if (!writesAlphaStream(format)) {
        return ErrorCode::none;
    }
    const bool flushed = std::fflush(stdout) == 0 && std::ferror(stdout) == 0;
    return flushed ? ErrorCode::none : ErrorCode::cantWriteStdout;
}

} // namespace

ErrorCode runConversion(const ConversionSettings& settings, const char* inputPath,
                        const char* outputPath) {
    const InputFile input(std::fopen(inputPath, "rb"));
    if (!input) {
        return ErrorCode::cantOpenInput;
    }
    PpmHeader header;
    const ErrorCode headerResult = readPpmHeader(input.get(), header);
    if (headerResult != ErrorCode::none) {
        return headerResult;
    }
    if (namesSameFile(inputPath, outputPath)) {
        return ErrorCode::sameFile;
    }
    std::FILE* output = std::fopen(outputPath, "wb");
    if (output == nullptr) {
        return ErrorCode::cantOpenOutput;
    }
    if (writesAlphaStream(settings.format)) {
        putStandardOutputInBinaryMode();
    }
    const EncodePlan plan = makeEncodePlan(settings, header.maxValue);
    const ErrorCode result = closeOutput(output, convertRaster(input.get(), output, header, plan));
    if (result != ErrorCode::none) {
        return result;
    }
    return flushAlphaStream(settings.format);
}

} // namespace pixfold
