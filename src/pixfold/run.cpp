#include "run.h"

#include "encode/encoder.h"
#include "entry.h"
#include "files.h"
#include "format/formats.h"
#include "image_input.h"
#include "output/output.h"

#include <algorithm>
#include <cstdint>
#include <vector>

namespace pixfold {

namespace {

struct RasterBuffers {
    // Room for 8 bytes a pixel, as readRaster needs, 2-byte aligned: 8-bit
    // samples as bytes, 16-bit ones as host-endian std::uint16_t.
    std::vector<std::uint16_t> samples;
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
    buffers.samples.resize(pixels * 4); // 8 bytes a pixel
    buffers.opacity.resize(pixels);
    buffers.records.resize(pixels * recordBytes(format));
    if (writesAlphaStream(format)) {
        buffers.alpha.resize(pixels * 4);
    }
    return buffers;
}

// The samples as bytes: 3 a pixel, or the bytes of 3 16-bit samples.
std::uint8_t* sampleBytes(RasterBuffers& buffers) {
    return reinterpret_cast<std::uint8_t*>(buffers.samples.data());
}

struct FoldOutputs {
    OutputFile records;
    OutputFile alphaFile;
    bool alphaToFile = false;
    bool alphaToStandardOutput = false;
};

// A reader's failure, naming the input; a read error with the reason the
// stream kept from the read that failed.
Result inputFailure(Result result, const InputStream& input, const FoldCommandLine& line) {
    result.subject = line.inputPath;
    if (result.code == ErrorCode::cantReadInput && input.failed) {
        result.reason = errnoError(input.error);
    }
    return result;
}

// Streams one image's raster block by block: every block before a failure is
// written, and the outputs are dropped whole after it.
Result convertRaster(InputStream& input, ImageReader& reader, const EncodePlan& plan,
                     const FoldCommandLine& line, RasterBuffers& buffers, FoldOutputs& outputs) {
    const PpmHeader& header = reader.raster.header;
    std::uint64_t remaining = pixelCount(header.width, header.height);
    const std::size_t bytesPerRecord = recordBytes(plan.format);
    // -t keys the pixels whose alpha sample is 0, after the pixel loop has
    // given every pixel its key-colour value.
    const bool keyTransparent = line.settings.transparencyKey && header.hasOpacity;
    const bool wide = isWide(header);
    std::uint8_t* alpha = buffers.alpha.empty() ? nullptr : buffers.alpha.data();
    while (remaining > 0) {
        const auto wanted =
            static_cast<std::size_t>(std::min<std::uint64_t>(remaining, blockPixels));
        std::size_t pixels = 0;
        const Result got = readImagePixels(input, reader, sampleBytes(buffers),
                                           buffers.opacity.data(), wanted, pixels);
        if (!succeeded(got)) {
            return inputFailure(got, input, line);
        }
        remaining -= pixels;
        if (wide) {
            encodeWidePixels(buffers.samples.data(), pixels, plan, buffers.records.data(), alpha);
        } else {
            encodePixels(sampleBytes(buffers), pixels, plan, buffers.records.data(), alpha);
        }
        if (keyTransparent) {
            keyTransparentPixels(buffers.opacity.data(), pixels, plan, buffers.records.data(),
                                 alpha);
        }
        Result result =
            writeOutput(outputs.records, buffers.records.data(), pixels * bytesPerRecord);
        if (succeeded(result) && alpha != nullptr) {
            result = writeOutput(outputs.alphaFile, alpha, pixels * 4);
        }
        if (!succeeded(result)) {
            return result;
        }
    }
    return {};
}

// Every image of the input: the first, and with -s each one that follows,
// counted into progress.
Result convertImages(InputStream& input, ImageReader& reader, const FoldCommandLine& line,
                     FoldOutputs& outputs, Notices& notices, Progress& progress) {
    const PpmHeader& header = reader.raster.header;
    const std::uint64_t firstPixels = pixelCount(header.width, header.height);
    RasterBuffers buffers = makeBuffers(line.settings.format, firstPixels, line.imageStream);
    while (true) {
        const EncodePlan plan = makeEncodePlan(line.settings, header.maxValue);
        Result result = convertRaster(input, reader, plan, line, buffers, outputs);
        bool animated = false;
        if (succeeded(result)) {
            result = inputFailure(finishImage(reader, animated), input, line);
        }
        if (succeeded(result) && line.imageStream) {
            countImage(progress, header.width, header.height,
                       pixelCount(header.width, header.height) * recordBytes(plan.format));
        }
        if (animated && std::none_of(notices.begin(), notices.end(), [](const Result& notice) {
                return notice.code == ErrorCode::onlyDefaultFrame;
            })) {
            notices.push_back(failure(ErrorCode::onlyDefaultFrame, line.inputPath));
        }
        if (succeeded(result) && !line.imageStream && anotherImageFollows(input)) {
            notices.push_back(failure(ErrorCode::onlyFirstImage));
        }
        if (!succeeded(result) || !line.imageStream) {
            return result;
        }
        bool another = false;
        Result next = inputFailure(failure(findNextImage(input, another)), input, line);
        if (succeeded(next) && another) {
            next = inputFailure(readImageHeader(input, reader), input, line);
        }
        if (!succeeded(next) || !another) {
            return next;
        }
    }
}

// No output may be the input: checked on what each output path finally names,
// before anything is opened for writing.
Result checkInput(const FileIdentity& input, const FoldOutputs& outputs) {
    const bool inputIsAnOutput = inputIsOutput(input, outputIdentity(outputs.records)) ||
                                 ((outputs.alphaToFile || outputs.alphaToStandardOutput) &&
                                  inputIsOutput(input, outputIdentity(outputs.alphaFile)));
    return inputIsAnOutput ? failure(ErrorCode::sameFile) : Result{};
}

// No two outputs may end in one file, checked on their final targets.
Result checkOutputs(const FoldCommandLine& line, const FoldOutputs& outputs) {
    if (outputs.alphaToFile && sameOutputTarget(outputs.records, outputs.alphaFile)) {
        return failure(ErrorCode::sameOutputs);
    }
    if (outputs.alphaToStandardOutput &&
        (isStandardStream(line.outputPath) ||
         sameFile(outputIdentity(outputs.records), identifyDescriptor(standardOutput)))) {
        return failure(ErrorCode::sameOutputAndStdout);
    }
    return {};
}

// Resolves every output once, checks them against the input and each other,
// then opens where their bytes go: nothing is written before all of that.
Result placeOutputs(const FoldCommandLine& line, const FileIdentity& input, FoldOutputs& outputs) {
    Result result = resolveOutput(line.outputPath, outputs.records);
    if (succeeded(result) && outputs.alphaToFile) {
        result = resolveOutput(line.alphaPath, outputs.alphaFile);
    }
    if (succeeded(result) && outputs.alphaToStandardOutput) {
        // Like "-a -": whole or not at all where standard output is a file.
        result = resolveOutput("-", outputs.alphaFile);
        if (!succeeded(result)) {
            result = failure(ErrorCode::cantWriteStdout, {}, result.reason);
        }
    }
    if (succeeded(result)) {
        result = checkInput(input, outputs);
    }
    if (succeeded(result)) {
        result = checkOutputs(line, outputs);
    }
    if (succeeded(result)) {
        result = prepareOutput(outputs.records);
    }
    if (succeeded(result) && (outputs.alphaToFile || outputs.alphaToStandardOutput)) {
        result = prepareOutput(outputs.alphaFile);
    }
    return result;
}

Result convertOpenInput(InputStream& input, ImageReader& reader, const FoldCommandLine& line,
                        Notices& notices, Progress& progress) {
    // Without -s, a pipe is read no further than the first image: its header a
    // byte a read, a binary raster (bitmaps too) exactly. Text rasters are read
    // buffered, as they can't be read to their end without a byte past it.
    const bool exact = !line.imageStream && !isRegularFile(input.descriptor);
    input.refillLimit = exact ? 1 : 0;
    const Result headerRead = readImageHeader(input, reader);
    if (!succeeded(headerRead)) {
        return inputFailure(headerRead, input, line);
    }
    const RasterKind kind = reader.raster.header.kind;
    if (kind != RasterKind::binary && kind != RasterKind::bitmap) {
        input.refillLimit = 0;
    }
    FoldOutputs outputs;
    const bool alpha = writesAlphaStream(line.settings.format);
    outputs.alphaToFile = alpha && line.alphaPath != nullptr;
    outputs.alphaToStandardOutput = alpha && line.alphaPath == nullptr;
    Result result = placeOutputs(line, identifyDescriptor(input.descriptor), outputs);
    if (succeeded(result)) {
        result = convertImages(input, reader, line, outputs, notices, progress);
    }
    OutputFile* const files[] = {&outputs.records, &outputs.alphaFile};
    return finishOutputs(files, 2, result);
}

} // namespace

Result runFold(const FoldCommandLine& line, Notices& notices, Progress& progress) {
    if (pathStatus() != Status::ok) {
        return failure(pathStatus(), pathChoice().forcedName);
    }
    InputStream input;
    ImageReader reader;
    Result result = openInput(line.inputPath, input);
    if (succeeded(result)) {
        result = convertOpenInput(input, reader, line, notices, progress);
    }
    closeImage(reader);
    closeInput(input);
    return result;
}

} // namespace pixfold
