#include "run.h"

#include "encode/encoder.h"
#include "entry.h"
#include "files.h"
#include "format/formats.h"
#include "image_input.h"
#include "output.h"
#include "pipeline.h"

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

// Where a block's pixel index starts in the samples: 3 bytes a pixel, or 3
// 16-bit samples.
std::uint8_t* sampleBytesAt(RasterBuffers& buffers, std::size_t pixel, bool wide) {
    return reinterpret_cast<std::uint8_t*>(buffers.samples.data()) + pixel * 3 * (wide ? 2 : 1);
}

struct FoldOutputs {
    OutputFile records;
    OutputFile alphaFile;
    bool alphaToFile = false;
    bool alphaToStandardOutput = false;
};

// A reader's failure, naming the input.
Result inputFailure(Result result, const FoldCommandLine& line) {
    result.subject = line.inputPath;
    return result;
}

// Streams one image's raster block by block. With a second set of buffers,
// two threads take turns (cli/pipeline.h): one reads while the other
// converts and writes. Either way every block before a failure is written and
// the failure reported as the one thread's loop would.
Result convertRaster(InputStream& input, ImageReader& reader, const EncodePlan& plan,
                     const FoldCommandLine& line, RasterBuffers* const (&slots)[pipelineSlots],
                     FoldOutputs& outputs) {
    const PpmHeader& header = reader.raster.header;
    std::uint64_t remaining = pixelCount(header.width, header.height);
    const bool overlap = slots[1] != nullptr && remaining >= overlapMinimumItems;
    // With two threads each reads as many blocks at its turn as its buffer holds.
    const std::size_t turnPixels = overlap ? slots[1]->opacity.size() : blockPixels;
    const std::size_t bytesPerRecord = recordBytes(plan.format);
    // -t keys the pixels whose alpha sample is 0, after the pixel loop has
    // given every pixel its key-colour value.
    const bool keyTransparent = line.settings.transparencyKey && header.hasOpacity;
    const bool wide = isWide(header);
    auto read = [&](std::size_t slot) {
        FilledBlock filled;
        RasterBuffers& buffers = *slots[slot];
        while (filled.count < turnPixels && remaining > 0) {
            const auto wanted =
                static_cast<std::size_t>(std::min<std::uint64_t>(remaining, blockPixels));
            std::size_t pixels = 0;
            // Read in turns, never at once: one reader state.
            const Result got =
                readImagePixels(input, reader, sampleBytesAt(buffers, filled.count, wide),
                                buffers.opacity.data() + filled.count, wanted, pixels);
            if (!succeeded(got)) {
                filled.result = inputFailure(got, line); // the outputs are dropped whole
                return filled; // after the whole blocks before it are written
            }
            remaining -= pixels;
            filled.count += pixels;
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
            if (wide) {
                encodeWidePixels(buffers.samples.data() + done * 3, pixels, plan,
                                 buffers.records.data(), alpha);
            } else {
                encodePixels(sampleBytesAt(buffers, done, false), pixels, plan,
                             buffers.records.data(), alpha);
            }
            if (keyTransparent) {
                keyTransparentPixels(buffers.opacity.data() + done, pixels, plan,
                                     buffers.records.data(), alpha);
            }
            result = writeOutput(outputs.records, buffers.records.data(), pixels * bytesPerRecord);
            if (succeeded(result) && alpha != nullptr) {
                result = writeOutput(outputs.alphaFile, alpha, pixels * 4);
            }
        }
        return result;
    };
    return remaining == 0 ? Result{} : runPipeline(overlap, read, convertAndWrite);
}

// Every image of the input: the first, and with -s each one that follows.
Result convertImages(InputStream& input, ImageReader& reader, const FoldCommandLine& line,
                     FoldOutputs& outputs, Notices& notices) {
    const PpmHeader& header = reader.raster.header;
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
        for (RasterBuffers* slot : {&buffers, &second}) {
            // readRaster needs room for 8 bytes a pixel of the turn's last block.
            slot->samples.resize((turnBlocks * 3 + 1) * blockPixels);
            slot->opacity.resize(turnBlocks * blockPixels);
        }
    }
    RasterBuffers* const slots[pipelineSlots] = {&buffers, mayOverlap ? &second : nullptr};
    while (true) {
        const EncodePlan plan = makeEncodePlan(line.settings, header.maxValue);
        Result result = convertRaster(input, reader, plan, line, slots, outputs);
        bool animated = false;
        if (succeeded(result)) {
            result = inputFailure(finishImage(reader, animated), line);
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
        Result next = findNextImage(input, another);
        if (succeeded(next) && another) {
            next = readImageHeader(input, reader);
        }
        if (!succeeded(next) || !another) {
            return succeeded(next) ? Result{} : inputFailure(next, line);
        }
    }
}

// No output may be the input: checked before any output is opened, since
// opening a device or descriptor in place could already change it.
Result checkInput(const FoldCommandLine& line, const FileIdentity& input,
                  const FoldOutputs& outputs) {
    const bool inputIsAnOutput =
        sameFile(input, identifyOutput(line.outputPath)) ||
        (outputs.alphaToFile && sameFile(input, identifyOutput(line.alphaPath))) ||
        (outputs.alphaToStandardOutput && sameFile(input, identifyDescriptor(standardOutput)));
    return inputIsAnOutput ? failure(ErrorCode::sameFile) : Result{};
}

// No two outputs may end in one file, checked on their final targets.
Result checkOutputs(const FoldCommandLine& line, const FoldOutputs& outputs) {
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

Result convertOpenInput(InputStream& input, ImageReader& reader, const FoldCommandLine& line,
                        Notices& notices) {
    // Without -s, a pipe is read no further than the first image: its header a
    // byte a read, a binary raster (bitmaps too) exactly. Text rasters are read
    // buffered, as they can't be read to their end without a byte past it.
    const bool exact = !line.imageStream && !isRegularFile(input.descriptor);
    input.refillLimit = exact ? 1 : 0;
    const Result headerRead = readImageHeader(input, reader);
    if (!succeeded(headerRead)) {
        return inputFailure(headerRead, line);
    }
    const RasterKind kind = reader.raster.header.kind;
    if (kind != RasterKind::binary && kind != RasterKind::bitmap) {
        input.refillLimit = 0;
    }
    FoldOutputs outputs;
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
    if (succeeded(result) && outputs.alphaToStandardOutput) {
        // Like "-a -": whole or not at all where standard output is a file.
        result = openOutput("-", outputs.alphaFile);
        if (!succeeded(result)) {
            result = failure(ErrorCode::cantWriteStdout);
        }
    }
    if (succeeded(result)) {
        result = checkOutputs(line, outputs);
    }
    if (succeeded(result)) {
        result = convertImages(input, reader, line, outputs, notices);
    }
    OutputFile* const files[] = {&outputs.records, &outputs.alphaFile};
    return finishOutputs(files, 2, result);
}

} // namespace

Result runFold(const FoldCommandLine& line, Notices& notices) {
    const PathChoice& path = pathChoice();
    if (!path.usable) {
        return failure(ErrorCode::forcedPathUnavailable, path.forcedName);
    }
    InputStream input;
    ImageReader reader;
    Result result = openInput(line.inputPath, input);
    if (succeeded(result)) {
        result = convertOpenInput(input, reader, line, notices);
    }
    closeImage(reader);
    closeInput(input);
    return result;
}

} // namespace pixfold
