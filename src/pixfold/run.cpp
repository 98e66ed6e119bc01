#include "pixfold/run.h"

#include "common/io.h"
#include "common/output.h"
#include "encode/encoder.h"
#include "format/formats.h"
#include "ppm/ppm_reader.h"

#include <algorithm>
#include <cstdint>
#include <vector>

namespace pixfold {

namespace {

struct RasterBuffers {
    std::vector<std::uint8_t> samples;
    std::vector<std::uint8_t> records;
    std::vector<std::uint8_t> alpha;
};

// A single image smaller than a block gets buffers of its own size: a run per
// small frame then touches no more memory than it needs.
RasterBuffers makeBuffers(OutputFormat format, std::uint64_t firstImagePixels, bool imageStream) {
    const std::size_t pixels =
        imageStream
            ? blockPixels
            : static_cast<std::size_t>(std::min<std::uint64_t>(firstImagePixels, blockPixels));
    RasterBuffers buffers;
    buffers.samples.resize(pixels * 3);
    buffers.records.resize(pixels * recordBytes(format));
    if (writesAlphaStream(format)) {
        buffers.alpha.resize(pixels * 4);
    }
    return buffers;
}

struct Outputs {
    OutputFile records;
    OutputFile alphaFile;
    bool alphaToFile = false;
    bool alphaToStandardOutput = false;
};

Result inputFailure(ErrorCode code, const CommandLine& line) {
    return failure(code, line.inputPath);
}

// Streams one image's raster block by block.
Result convertRaster(InputStream& input, const PpmHeader& header, const EncodePlan& plan,
                     const CommandLine& line, RasterBuffers& buffers, Outputs& outputs) {
    std::uint8_t* alpha = buffers.alpha.empty() ? nullptr : buffers.alpha.data();
    const std::size_t bytesPerRecord = recordBytes(plan.format);
    for (std::uint64_t remaining = pixelCount(header.width, header.height); remaining > 0;) {
        const auto wanted =
            static_cast<std::size_t>(std::min<std::uint64_t>(remaining, blockPixels));
        const PixelBlock block = readPixels(input, buffers.samples.data(), wanted, header.maxValue);
        if (block.error != ErrorCode::none) {
            return inputFailure(block.error, line); // the outputs are dropped whole
        }
        encodePixels(buffers.samples.data(), block.pixels, plan, buffers.records.data(), alpha);
        Result result =
            writeOutput(outputs.records, buffers.records.data(), block.pixels * bytesPerRecord);
        if (succeeded(result) && outputs.alphaToFile) {
            result = writeOutput(outputs.alphaFile, alpha, block.pixels * 4);
        }
        if (succeeded(result) && outputs.alphaToStandardOutput &&
            !writeAll(standardOutput, alpha, block.pixels * 4)) {
            result = failure(ErrorCode::cantWriteStdout);
        }
        if (!succeeded(result)) {
            return result;
        }
        remaining -= block.pixels;
    }
    return {};
}

// Every image of the input: the first, and with -s each one that follows.
Result convertImages(InputStream& input, PpmHeader header, const CommandLine& line,
                     Outputs& outputs) {
    RasterBuffers buffers = makeBuffers(line.settings.format,
                                        pixelCount(header.width, header.height), line.imageStream);
    while (true) {
        const EncodePlan plan = makeEncodePlan(line.settings, header.maxValue);
        Result result = convertRaster(input, header, plan, line, buffers, outputs);
        if (!succeeded(result) || !line.imageStream) {
            return result;
        }
        bool another = false;
        ErrorCode error = findNextImage(input, another);
        if (error == ErrorCode::none && another) {
            error = readPpmHeader(input, header);
        }
        if (error != ErrorCode::none || !another) {
            return error == ErrorCode::none ? Result{} : inputFailure(error, line);
        }
    }
}

// Every pair of files that must differ, checked before any output is opened.
Result checkSameFiles(const CommandLine& line, const FileIdentity& input, const Outputs& outputs) {
    if (sameFile(input, identifyPath(line.outputPath))) {
        return failure(ErrorCode::sameFile);
    }
    if (outputs.alphaToFile) {
        if (sameFile(input, identifyPath(line.alphaPath))) {
            return failure(ErrorCode::sameFile);
        }
        if (sameOutputPath(line.outputPath, line.alphaPath)) {
            return failure(ErrorCode::sameOutputs);
        }
    }
    if (outputs.alphaToStandardOutput) {
        const FileIdentity standardOutputFile = identifyDescriptor(standardOutput);
        if (sameFile(input, standardOutputFile)) {
            return failure(ErrorCode::sameFile);
        }
        if (sameFile(identifyPath(line.outputPath), standardOutputFile)) {
            return failure(ErrorCode::sameOutputAndStdout);
        }
    }
    return {};
}

Result convertOpenInput(InputStream& input, const CommandLine& line) {
    PpmHeader header;
    const ErrorCode headerError = readPpmHeader(input, header);
    if (headerError != ErrorCode::none) {
        return inputFailure(headerError, line);
    }
    Outputs outputs;
    const bool alpha = writesAlphaStream(line.settings.format);
    outputs.alphaToFile = alpha && line.alphaPath != nullptr;
    outputs.alphaToStandardOutput = alpha && line.alphaPath == nullptr;
    Result result = checkSameFiles(line, identifyDescriptor(input.descriptor), outputs);
    if (succeeded(result)) {
        result = openOutput(line.outputPath, outputs.records);
    }
    if (succeeded(result) && outputs.alphaToFile) {
        result = openOutput(line.alphaPath, outputs.alphaFile);
    }
    if (succeeded(result)) {
        result = convertImages(input, header, line, outputs);
    }
    OutputFile* const files[] = {&outputs.records, &outputs.alphaFile};
    return finishOutputs(files, 2, result);
}

} // namespace

Result runConversion(const CommandLine& line) {
    const EncodePathChoice& path = encodePathChoice();
    if (!path.usable) {
        return failure(ErrorCode::forcedPathUnavailable, path.forcedName);
    }
    InputStream input;
    Result result = openInput(line.inputPath, input);
    if (succeeded(result)) {
        result = convertOpenInput(input, line);
    }
    closeInput(input);
    return result;
}

} // namespace pixfold
