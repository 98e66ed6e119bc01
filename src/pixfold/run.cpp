#include "pixfold/run.h"

#include "common/io.h"
#include "common/output.h"
#include "common/pipeline.h"
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

// Streams one image's raster block by block. With a second set of buffers,
// two threads take turns (common/pipeline.h): one reads while the other
// converts and writes. Either way every block before a failure is written and
// the failure reported as the one thread's loop would.
Result convertRaster(InputStream& input, const PpmHeader& header, const EncodePlan& plan,
                     const CommandLine& line, RasterBuffers* const (&slots)[pipelineSlots],
                     Outputs& outputs) {
    std::uint64_t remaining = pixelCount(header.width, header.height);
    const bool overlap = slots[1] != nullptr && remaining >= overlapMinimumItems;
    // With two threads each reads as many blocks at its turn as its buffer holds.
    const std::size_t turnPixels = overlap ? slots[1]->samples.size() / 3 : blockPixels;
    const std::size_t bytesPerRecord = recordBytes(plan.format);
    auto read = [&](std::size_t slot) {
        FilledBlock filled;
        std::uint8_t* samples = slots[slot]->samples.data();
        while (filled.count < turnPixels && remaining > 0) {
            const auto wanted =
                static_cast<std::size_t>(std::min<std::uint64_t>(remaining, blockPixels));
            const PixelBlock block =
                readPixels(input, samples + filled.count * 3, wanted, header.maxValue);
            if (block.error != ErrorCode::none) {
                filled.result = inputFailure(block.error, line); // the outputs are dropped whole
                return filled; // after the whole blocks before it are written
            }
            remaining -= block.pixels;
            filled.count += block.pixels;
        }
        filled.last = remaining == 0;
        return filled;
    };
    auto convertAndWrite = [&](std::size_t slot, std::size_t count) {
        RasterBuffers& buffers = *slots[slot];
        std::uint8_t* alpha = buffers.alpha.empty() ? nullptr : buffers.alpha.data();
        Result result;
        for (std::size_t done = 0; done < count && succeeded(result); done += blockPixels) {
            const std::size_t pixels = std::min(blockPixels, count - done);
            encodePixels(buffers.samples.data() + done * 3, pixels, plan, buffers.records.data(),
                         alpha);
            result = writeOutput(outputs.records, buffers.records.data(), pixels * bytesPerRecord);
            if (succeeded(result) && outputs.alphaToFile) {
                result = writeOutput(outputs.alphaFile, alpha, pixels * 4);
            }
            if (succeeded(result) && outputs.alphaToStandardOutput &&
                !writeAll(standardOutput, alpha, pixels * 4)) {
                result = failure(ErrorCode::cantWriteStdout);
            }
        }
        return result;
    };
    return remaining == 0 ? Result{} : runPipeline(overlap, read, convertAndWrite);
}

// Every image of the input: the first, and with -s each one that follows.
Result convertImages(InputStream& input, PpmHeader header, const CommandLine& line,
                     Outputs& outputs) {
    const std::uint64_t firstPixels = pixelCount(header.width, header.height);
    RasterBuffers buffers = makeBuffers(line.settings.format, firstPixels, line.imageStream);
    // A second thread's buffers where some image may be large enough for it;
    // the samples of a turn's blocks for both.
    const bool mayOverlap = overlapBuilt && secondProcessorAvailable() &&
                            (line.imageStream || firstPixels >= overlapMinimumItems);
    constexpr std::size_t turnBlocks = 4; // fewer turns, fewer waits
    RasterBuffers second;
    if (mayOverlap) {
        second = makeBuffers(line.settings.format, blockPixels, true);
        second.samples.resize(turnBlocks * blockPixels * 3);
        buffers.samples.resize(turnBlocks * blockPixels * 3);
    }
    RasterBuffers* const slots[pipelineSlots] = {&buffers, mayOverlap ? &second : nullptr};
    while (true) {
        const EncodePlan plan = makeEncodePlan(line.settings, header.maxValue);
        Result result = convertRaster(input, header, plan, line, slots, outputs);
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
    InputStream input;
    Result result = openInput(line.inputPath, input);
    if (succeeded(result)) {
        result = convertOpenInput(input, line);
    }
    closeInput(input);
    return result;
}

} // namespace pixfold
