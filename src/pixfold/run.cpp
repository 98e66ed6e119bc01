#include "run.h"

#include "encode/encoder.h"
#include "entry.h"
#include "files.h"
#include "format/formats.h"
#include "netpbm/ppm_reader.h"
#include "output.h"

#include <algorithm>
#include <cstdint>
#include <vector>

namespace pixfold {

namespace {

struct RasterBuffers {
    std::vector<std::uint8_t> samples; // room for 4 samples a pixel, as readRaster needs
    std::vector<std::uint8_t> opacity; // one alpha sample a pixel, for types that have them
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
    buffers.samples.resize(pixels * 4);
    buffers.opacity.resize(pixels);
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
    // -t keys the pixels whose alpha sample is 0, after the pixel loop has
    // given every pixel its key-colour value.
    const bool keyTransparent = line.settings.transparencyKey && header.hasOpacity;
    RasterReader raster;
    raster.header = header;
    for (std::uint64_t remaining = pixelCount(header.width, header.height); remaining > 0;) {
        const auto wanted =
            static_cast<std::size_t>(std::min<std::uint64_t>(remaining, blockPixels));
        const PixelBlock block =
            readRaster(input, raster, buffers.samples.data(), buffers.opacity.data(), wanted);
        if (block.error != ErrorCode::none) {
            return inputFailure(block.error, line); // the outputs are dropped whole
        }
        encodePixels(buffers.samples.data(), block.pixels, plan, buffers.records.data(), alpha);
        if (keyTransparent) {
            keyTransparentPixels(buffers.opacity.data(), block.pixels, plan, buffers.records.data(),
                                 alpha);
        }
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

// Whether a regular file holds another image after the first: white space,
// then "P" and a digit 1 to 7. A pipe or a terminal is read no further.
bool anotherImageFollows(InputStream& input) {
    bool found = false;
    if (!isRegularFile(input.descriptor) || findNextImage(input, found) != ErrorCode::none ||
        !found || readByte(input) != 'P') {
        return false;
    }
    const int digit = peekByte(input);
    return digit >= '1' && digit <= '7';
}

// Every image of the input: the first, and with -s each one that follows.
Result convertImages(InputStream& input, PpmHeader header, const CommandLine& line,
                     Outputs& outputs, Notices& notices) {
    RasterBuffers buffers = makeBuffers(line.settings.format,
                                        pixelCount(header.width, header.height), line.imageStream);
    while (true) {
        const EncodePlan plan = makeEncodePlan(line.settings, header.maxValue);
        Result result = convertRaster(input, header, plan, line, buffers, outputs);
        if (succeeded(result) && !line.imageStream && anotherImageFollows(input)) {
            notices.push_back(failure(ErrorCode::onlyFirstImage));
        }
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

// No output may be the input: checked before any output is opened, since
// opening a device or descriptor in place could already change it.
Result checkInput(const CommandLine& line, const FileIdentity& input, const Outputs& outputs) {
    const bool inputIsAnOutput =
        sameFile(input, identifyOutput(line.outputPath)) ||
        (outputs.alphaToFile && sameFile(input, identifyOutput(line.alphaPath))) ||
        (outputs.alphaToStandardOutput && sameFile(input, identifyDescriptor(standardOutput)));
    return inputIsAnOutput ? failure(ErrorCode::sameFile) : Result{};
}

// No two outputs may end in one file, checked on their final targets.
Result checkOutputs(const CommandLine& line, const Outputs& outputs) {
    if (outputs.alphaToFile && sameOutputTarget(outputs.records, outputs.alphaFile)) {
        return failure(ErrorCode::sameOutputs);
    }
    if (outputs.alphaToStandardOutput &&
        (isStandardStream(line.outputPath) ||
         sameFile(outputs.records.target, identifyDescriptor(standardOutput)))) {
        return failure(ErrorCode::sameOutputAndStdout);
    }
    return {};
}

Result convertOpenInput(InputStream& input, const CommandLine& line, Notices& notices) {
    PpmHeader header;
    const ErrorCode headerError = readPpmHeader(input, header);
    if (headerError != ErrorCode::none) {
        return inputFailure(headerError, line);
    }
    Outputs outputs;
    const bool alpha = writesAlphaStream(line.settings.format);
    outputs.alphaToFile = alpha && line.alphaPath != nullptr;
    outputs.alphaToStandardOutput = alpha && line.alphaPath == nullptr;
    Result result = checkInput(line, identifyDescriptor(input.descriptor), outputs);
    if (succeeded(result)) {
        result = openOutput(line.outputPath, outputs.records);
    }
    if (succeeded(result) && outputs.alphaToFile) {
        result = openOutput(line.alphaPath, outputs.alphaFile);
    }
    if (succeeded(result)) {
        result = checkOutputs(line, outputs);
    }
    if (succeeded(result)) {
        result = convertImages(input, header, line, outputs, notices);
    }
    OutputFile* const files[] = {&outputs.records, &outputs.alphaFile};
    return finishOutputs(files, 2, result);
}

} // namespace

Result runConversion(const CommandLine& line, Notices& notices) {
    const EncodePathChoice& path = encodePathChoice();
    if (!path.usable) {
        return failure(ErrorCode::forcedPathUnavailable, path.forcedName);
    }
    InputStream input;
    Result result = openInput(line.inputPath, input);
    if (succeeded(result)) {
        result = convertOpenInput(input, line, notices);
    }
    closeInput(input);
    return result;
}

} // namespace pixfold
