#include "run.h"

#include "decode/decoder.h"
#include "encode/encoder.h"
#include "entry.h"
#include "files.h"
#include "format/formats.h"
#include "netpbm/ppm_writer.h"
#include "output.h"

#include <algorithm>
#include <cstdint>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace pixfold {

namespace {

struct Input {
    InputStream stream;
    const char* path = nullptr;
    std::uint64_t bytesRead = 0;
};

struct Streams {
    Input records;
    Input alpha; // open only when the key plane of e888Alpha is written
    OutputFile picture;
    OutputFile mask;
};

struct Buffers {
    std::vector<std::uint8_t> records;
    std::vector<std::uint8_t> alpha;
    std::vector<std::uint8_t> samples;
    std::vector<std::uint8_t> mask;
};

struct Sizes {
    std::uint64_t framePixels = 0;
    std::uint64_t frameRecordBytes = 0;
    std::uint64_t frameAlphaBytes = 0;
};

Sizes sizesOf(const UnfoldCommandLine& line) {
    Sizes sizes;
    sizes.framePixels = pixelCount(line.width, line.height);
    sizes.frameRecordBytes = sizes.framePixels * recordBytes(line.format);
    sizes.frameAlphaBytes = sizes.framePixels * 4;
    return sizes;
}

bool wantsAlpha(const UnfoldCommandLine& line) {
    return line.maskPath != nullptr && line.format == OutputFormat::e888Alpha;
}

// The size of a regular file, or false for a pipe, FIFO or device.
bool regularFileSize(const InputStream& stream, std::uint64_t& size) {
    struct stat status {};
    if (::fstat(stream.descriptor, &status) != 0 || (status.st_mode & S_IFMT) != S_IFREG) {
        return false;
    }
    size = static_cast<std::uint64_t>(status.st_size);
    return true;
}

Result recordSizeFailure(const UnfoldCommandLine& line, const Sizes& sizes, std::uint64_t actual,
                         bool lowerBound = false) {
    return line.frameStream ? sizeFailure(ErrorCode::recordFrameSize, line.recordPath, actual,
                                          sizes.frameRecordBytes, lowerBound)
                            : sizeFailure(ErrorCode::recordFileSize, line.recordPath, actual,
                                          sizes.frameRecordBytes, lowerBound);
}

Result alphaSizeFailure(const UnfoldCommandLine& line, std::uint64_t actual, std::uint64_t expected,
                        bool lowerBound = false) {
    return sizeFailure(line.frameStream ? ErrorCode::alphaFrameSize : ErrorCode::alphaFileSize,
                       line.alphaPath, actual, expected, lowerBound);
}

// Regular files are measured before any output is opened.
Result checkRegularSizes(const UnfoldCommandLine& line, const Sizes& sizes, Streams& streams) {
    std::uint64_t recordSize = 0;
    const bool recordsMeasured = regularFileSize(streams.records.stream, recordSize);
    const bool wholeFrames = line.frameStream
                                 ? recordSize > 0 && recordSize % sizes.frameRecordBytes == 0
                                 : recordSize == sizes.frameRecordBytes;
    if (recordsMeasured && !wholeFrames) {
        return recordSizeFailure(line, sizes, recordSize);
    }
    std::uint64_t alphaSize = 0;
    if (wantsAlpha(line) && recordsMeasured && regularFileSize(streams.alpha.stream, alphaSize)) {
        const std::uint64_t expected = recordSize / sizes.frameRecordBytes * sizes.frameAlphaBytes;
        if (alphaSize != expected) {
            return alphaSizeFailure(line, alphaSize, expected);
        }
    }
    return {};
}

Result openInputs(const UnfoldCommandLine& line, Streams& streams) {
    streams.records.path = line.recordPath;
    Result result = openInput(line.recordPath, streams.records.stream);
    if (succeeded(result) && wantsAlpha(line)) {
        streams.alpha.path = line.alphaPath;
        result = openInput(line.alphaPath, streams.alpha.stream);
    }
    return result;
}

Result checkSameFiles(const UnfoldCommandLine& line, const Streams& streams) {
    const FileIdentity inputs[] = {
        identifyDescriptor(streams.records.stream.descriptor),
        wantsAlpha(line) ? identifyDescriptor(streams.alpha.stream.descriptor) : FileIdentity{}};
    for (const char* output : {line.ppmPath, line.maskPath}) {
        if (output == nullptr) {
            continue;
        }
        const FileIdentity identity = identifyOutput(output);
        if (sameFile(identity, inputs[0]) || sameFile(identity, inputs[1])) {
            return failure(ErrorCode::sameFile);
        }
    }
    return {};
}

// What pixfold wrote for a matching pixel (e655Z kept only the low 16 bits).
KeyPlaneTest keyPlaneTest(const UnfoldCommandLine& line) {
    KeyPlaneTest test;
    test.anyNonZero = !line.matchGiven;
    test.wanted = line.matchValue;
    return test;
}

void decodeBlock(const UnfoldCommandLine& line, const DecodePlan& plan, std::size_t pixels,
                 Buffers& buffers) {
    decodeRecords(buffers.records.data(), pixels, plan, buffers.samples.data());
    if (line.maskPath != nullptr) {
        const std::uint8_t* keys = line.format == OutputFormat::e888Alpha ? buffers.alpha.data()
                                   : line.format == OutputFormat::e655Z   ? buffers.records.data()
                                                                          : nullptr;
        decodeKeyPlane(keys, pixels, line.format, keyPlaneTest(line), buffers.mask.data());
    }
}

// Reads exactly count bytes; false when the input came up short.
bool readExactly(Input& input, std::uint8_t* into, std::size_t count) {
    const std::size_t got = readBytes(input.stream, into, count);
    input.bytesRead += got;
    return got == count;
}

bool atEnd(Input& input) {
    return peekByte(input.stream) < 0;
}

Result readFailure(const Input& input) {
    return failure(ErrorCode::cantReadInput, input.path);
}

Result writeHeaders(const UnfoldCommandLine& line, Streams& streams) {
    const std::string picture = netpbmHeader("P6", line.width, line.height);
    Result result = writeOutput(
        streams.picture, reinterpret_cast<const std::uint8_t*>(picture.data()), picture.size());
    if (succeeded(result) && line.maskPath != nullptr) {
        const std::string mask = netpbmHeader("P5", line.width, line.height);
        result = writeOutput(streams.mask, reinterpret_cast<const std::uint8_t*>(mask.data()),
                             mask.size());
    }
    return result;
}

Result unfoldFrame(const UnfoldCommandLine& line, const Sizes& sizes, const DecodePlan& plan,
                   std::uint64_t frame, Streams& streams, Buffers& buffers) {
    Result result = writeHeaders(line, streams);
    const std::size_t recordSize = recordBytes(line.format);
    for (std::uint64_t remaining = sizes.framePixels; remaining > 0 && succeeded(result);) {
        const auto count =
            static_cast<std::size_t>(std::min<std::uint64_t>(remaining, blockPixels));
        if (!readExactly(streams.records, buffers.records.data(), count * recordSize)) {
            return streams.records.stream.failed
                       ? readFailure(streams.records)
                       : recordSizeFailure(line, sizes, streams.records.bytesRead);
        }
        if (wantsAlpha(line) && !readExactly(streams.alpha, buffers.alpha.data(), count * 4)) {
            return streams.alpha.stream.failed
                       ? readFailure(streams.alpha)
                       : alphaSizeFailure(line, streams.alpha.bytesRead,
                                          (frame + 1) * sizes.frameAlphaBytes);
        }
        decodeBlock(line, plan, count, buffers);
        result = writeOutput(streams.picture, buffers.samples.data(), count * 3);
        if (succeeded(result) && line.maskPath != nullptr) {
            result = writeOutput(streams.mask, buffers.mask.data(), count);
        }
        remaining -= count;
    }
    return result;
}

Result unfoldFrames(const UnfoldCommandLine& line, const Sizes& sizes, Streams& streams) {
    Buffers buffers{std::vector<std::uint8_t>(blockPixels * recordBytes(line.format)),
                    std::vector<std::uint8_t>(wantsAlpha(line) ? blockPixels * 4 : 0),
                    std::vector<std::uint8_t>(blockPixels * 3),
                    std::vector<std::uint8_t>(line.maskPath != nullptr ? blockPixels : 0)};
    const DecodePlan plan = makeDecodePlan(line.format);
    std::uint64_t frame = 0;
    do {
        Result result = unfoldFrame(line, sizes, plan, frame, streams, buffers);
        if (!succeeded(result)) {
            return result;
        }
        ++frame;
    } while (line.frameStream && !atEnd(streams.records));
    if (streams.records.stream.failed) {
        return readFailure(streams.records);
    }
    if (!atEnd(streams.records)) {
        return recordSizeFailure(line, sizes, streams.records.bytesRead, true);
    }
    if (wantsAlpha(line) && !atEnd(streams.alpha)) {
        return streams.alpha.stream.failed
                   ? readFailure(streams.alpha)
                   : alphaSizeFailure(line, streams.alpha.bytesRead, streams.alpha.bytesRead, true);
    }
    return {};
}

Result unfoldOpenInputs(const UnfoldCommandLine& line, Streams& streams) {
    const Sizes sizes = sizesOf(line);
    Result result = checkRegularSizes(line, sizes, streams);
    if (succeeded(result)) {
        result = checkSameFiles(line, streams);
    }
    if (succeeded(result)) {
        result = openOutput(line.ppmPath, streams.picture);
    }
    if (succeeded(result) && line.maskPath != nullptr) {
        result = openOutput(line.maskPath, streams.mask);
        const bool bothStandard = isStandardStream(line.ppmPath) && isStandardStream(line.maskPath);
        if (succeeded(result) &&
            (bothStandard || sameOutputTarget(streams.picture, streams.mask))) {
            result = failure(ErrorCode::sameOutputs);
        }
    }
    if (succeeded(result)) {
        result = unfoldFrames(line, sizes, streams);
    }
    OutputFile* const outputs[] = {&streams.picture, &streams.mask};
    return finishOutputs(outputs, 2, result);
}

} // namespace

Result runUnfold(const UnfoldCommandLine& line, Notices& /*notices: none so far*/) {
    const EncodePathChoice& path = encodePathChoice(); // PIXFOLD_FORCE_PATH names both ways
    if (!path.usable) {
        return failure(ErrorCode::forcedPathUnavailable, path.forcedName);
    }
    Streams streams;
    Result result = openInputs(line, streams);
    if (succeeded(result)) {
        result = unfoldOpenInputs(line, streams);
    }
    closeInput(streams.records.stream);
    closeInput(streams.alpha.stream);
    return result;
}

} // namespace pixfold
