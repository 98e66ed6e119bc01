#include "run.h"

#include "decode/decoder.h"
#include "encode/encoder.h"
#include "entry.h"
#include "files.h"
#include "format/formats.h"
#include "netpbm/ppm_writer.h"
#include "output/output.h"
#include "png/png_writer.h"

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

struct UnfoldFiles {
    Input records;
    Input alpha; // open only when the key plane of e888Alpha is written
    OutputFile picture;
    OutputFile keyPlane;
    PngPictureWriter pngPicture; // for paths that end in .png
    PngPictureWriter pngKeyPlane;
};

bool pictureIsPng(const UnfoldCommandLine& line) {
    return namesPng(line.picturePath);
}

bool keyPlaneIsPng(const UnfoldCommandLine& line) {
    return line.keyPlanePath != nullptr && namesPng(line.keyPlanePath);
}

struct Buffers {
    std::vector<std::uint8_t> records;
    std::vector<std::uint8_t> alpha;
    std::vector<std::uint8_t> samples;
    std::vector<std::uint8_t> keyPlane;
};

struct Sizes {
    std::uint64_t imagePixels = 0;
    std::uint64_t imageRecordBytes = 0;
    std::uint64_t imageAlphaBytes = 0;
};

Sizes sizesOf(const UnfoldCommandLine& line) {
    Sizes sizes;
    sizes.imagePixels = pixelCount(line.width, line.height);
    sizes.imageRecordBytes = sizes.imagePixels * recordBytes(line.format);
    sizes.imageAlphaBytes = sizes.imagePixels * 4;
    return sizes;
}

bool wantsAlpha(const UnfoldCommandLine& line) {
    return line.keyPlanePath != nullptr && line.format == OutputFormat::e888Alpha;
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
    return line.imageStream ? sizeFailure(ErrorCode::recordFrameSize, line.recordPath, actual,
                                          sizes.imageRecordBytes, lowerBound)
                            : sizeFailure(ErrorCode::recordFileSize, line.recordPath, actual,
                                          sizes.imageRecordBytes, lowerBound);
}

Result alphaSizeFailure(const UnfoldCommandLine& line, std::uint64_t actual, std::uint64_t expected,
                        bool lowerBound = false) {
    return sizeFailure(line.imageStream ? ErrorCode::alphaFrameSize : ErrorCode::alphaFileSize,
                       line.alphaPath, actual, expected, lowerBound);
}

// Regular files are measured before any output is opened.
Result checkRegularSizes(const UnfoldCommandLine& line, const Sizes& sizes, UnfoldFiles& files) {
    std::uint64_t recordSize = 0;
    const bool recordsMeasured = regularFileSize(files.records.stream, recordSize);
    const bool wholeImages = line.imageStream
                                 ? recordSize > 0 && recordSize % sizes.imageRecordBytes == 0
                                 : recordSize == sizes.imageRecordBytes;
    if (recordsMeasured && !wholeImages) {
        return recordSizeFailure(line, sizes, recordSize);
    }
    std::uint64_t alphaSize = 0;
    if (wantsAlpha(line) && recordsMeasured && regularFileSize(files.alpha.stream, alphaSize)) {
        const std::uint64_t expected = recordSize / sizes.imageRecordBytes * sizes.imageAlphaBytes;
        if (alphaSize != expected) {
            return alphaSizeFailure(line, alphaSize, expected);
        }
    }
    return {};
}

Result openInputs(const UnfoldCommandLine& line, UnfoldFiles& files) {
    files.records.path = line.recordPath;
    Result result = openInput(line.recordPath, files.records.stream);
    if (succeeded(result) && wantsAlpha(line)) {
        files.alpha.path = line.alphaPath;
        result = openInput(line.alphaPath, files.alpha.stream);
    }
    return result;
}

// No output may be an input, nor the other output: checked on what each
// output path finally names, before anything is opened for writing.
Result checkSameFiles(const UnfoldCommandLine& line, const UnfoldFiles& files) {
    const FileIdentity inputs[] = {
        identifyDescriptor(files.records.stream.descriptor),
        wantsAlpha(line) ? identifyDescriptor(files.alpha.stream.descriptor) : FileIdentity{}};
    for (const OutputFile* output : {&files.picture, &files.keyPlane}) {
        const FileIdentity identity = outputIdentity(*output);
        if (inputIsOutput(inputs[0], identity) || inputIsOutput(inputs[1], identity)) {
            return failure(ErrorCode::sameFile);
        }
    }
    const bool bothStandard = line.keyPlanePath != nullptr && isStandardStream(line.picturePath) &&
                              isStandardStream(line.keyPlanePath);
    if (line.keyPlanePath != nullptr &&
        (bothStandard || sameOutputTarget(files.picture, files.keyPlane))) {
        return failure(ErrorCode::sameOutputs);
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
    if (line.keyPlanePath != nullptr) {
        const std::uint8_t* keys = line.format == OutputFormat::e888Alpha ? buffers.alpha.data()
                                   : line.format == OutputFormat::e655Z   ? buffers.records.data()
                                                                          : nullptr;
        decodeKeyPlane(keys, pixels, line.format, keyPlaneTest(line), buffers.keyPlane.data(),
                       plan.path);
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

// With the reason the stream kept from the read that failed.
Result readFailure(const Input& input) {
    return failure(ErrorCode::cantReadInput, input.path, errnoError(input.stream.error));
}

// A picture's start: its Netpbm header, or a PNG's signature and header.
Result startPicture(const UnfoldCommandLine& line, bool png, const char* magic, int channels,
                    OutputFile& output, PngPictureWriter& writer) {
    if (png) {
        return startPngPicture(writer, output, static_cast<std::uint32_t>(line.width),
                               static_cast<std::uint32_t>(line.height), channels);
    }
    const std::string header = netpbmHeader(magic, line.width, line.height);
    return writeOutput(output, reinterpret_cast<const std::uint8_t*>(header.data()), header.size());
}

Result writeHeaders(const UnfoldCommandLine& line, UnfoldFiles& files) {
    Result result =
        startPicture(line, pictureIsPng(line), "P6", 3, files.picture, files.pngPicture);
    if (succeeded(result) && line.keyPlanePath != nullptr) {
        result =
            startPicture(line, keyPlaneIsPng(line), "P5", 1, files.keyPlane, files.pngKeyPlane);
    }
    return result;
}

Result writePicture(bool png, OutputFile& output, PngPictureWriter& writer,
                    const std::uint8_t* bytes, std::size_t count) {
    return png ? writePngPixels(writer, bytes, count) : writeOutput(output, bytes, count);
}

Result unfoldImage(const UnfoldCommandLine& line, const Sizes& sizes, const DecodePlan& plan,
                   std::uint64_t image, UnfoldFiles& files, Buffers& buffers) {
    Result result = writeHeaders(line, files);
    const std::size_t recordSize = recordBytes(line.format);
    for (std::uint64_t remaining = sizes.imagePixels; remaining > 0 && succeeded(result);) {
        const auto count =
            static_cast<std::size_t>(std::min<std::uint64_t>(remaining, blockPixels));
        if (!readExactly(files.records, buffers.records.data(), count * recordSize)) {
            return files.records.stream.failed
                       ? readFailure(files.records)
                       : recordSizeFailure(line, sizes, files.records.bytesRead);
        }
        if (wantsAlpha(line) && !readExactly(files.alpha, buffers.alpha.data(), count * 4)) {
            return files.alpha.stream.failed
                       ? readFailure(files.alpha)
                       : alphaSizeFailure(line, files.alpha.bytesRead,
                                          (image + 1) * sizes.imageAlphaBytes);
        }
        decodeBlock(line, plan, count, buffers);
        result = writePicture(pictureIsPng(line), files.picture, files.pngPicture,
                              buffers.samples.data(), count * 3);
        if (succeeded(result) && line.keyPlanePath != nullptr) {
            result = writePicture(keyPlaneIsPng(line), files.keyPlane, files.pngKeyPlane,
                                  buffers.keyPlane.data(), count);
        }
        remaining -= count;
    }
    return result;
}

Result unfoldImages(const UnfoldCommandLine& line, const Sizes& sizes, UnfoldFiles& files) {
    Buffers buffers{std::vector<std::uint8_t>(blockPixels * recordBytes(line.format)),
                    std::vector<std::uint8_t>(wantsAlpha(line) ? blockPixels * 4 : 0),
                    std::vector<std::uint8_t>(blockPixels * 3),
                    std::vector<std::uint8_t>(line.keyPlanePath != nullptr ? blockPixels : 0)};
    const DecodePlan plan = makeDecodePlan(line.format);
    std::uint64_t image = 0;
    do {
        Result result = unfoldImage(line, sizes, plan, image, files, buffers);
        if (!succeeded(result)) {
            return result;
        }
        ++image;
    } while (line.imageStream && !atEnd(files.records));
    if (files.records.stream.failed) {
        return readFailure(files.records);
    }
    if (!atEnd(files.records)) {
        return recordSizeFailure(line, sizes, files.records.bytesRead, true);
    }
    if (wantsAlpha(line) && !atEnd(files.alpha)) {
        return files.alpha.stream.failed
                   ? readFailure(files.alpha)
                   : alphaSizeFailure(line, files.alpha.bytesRead, files.alpha.bytesRead, true);
    }
    return {};
}

Result unfoldOpenInputs(const UnfoldCommandLine& line, UnfoldFiles& files) {
    const Sizes sizes = sizesOf(line);
    Result result = checkRegularSizes(line, sizes, files);
    if (succeeded(result) && !pngBuilt && (pictureIsPng(line) || keyPlaneIsPng(line))) {
        result = failure(ErrorCode::pngOutputNotBuilt);
    }
    if (succeeded(result)) {
        result = resolveOutput(line.picturePath, files.picture);
    }
    if (succeeded(result) && line.keyPlanePath != nullptr) {
        result = resolveOutput(line.keyPlanePath, files.keyPlane);
    }
    if (succeeded(result)) {
        result = checkSameFiles(line, files);
    }
    if (succeeded(result)) {
        result = prepareOutput(files.picture);
    }
    if (succeeded(result) && line.keyPlanePath != nullptr) {
        result = prepareOutput(files.keyPlane);
    }
    if (succeeded(result)) {
        result = unfoldImages(line, sizes, files);
    }
    OutputFile* const outputs[] = {&files.picture, &files.keyPlane};
    return finishOutputs(outputs, 2, result);
}

} // namespace

Result runUnfold(const UnfoldCommandLine& line, Notices& /*notices: none so far*/,
                 Progress& /*progress: not counted*/) {
    if (pathStatus() != Status::ok) { // PIXFOLD_FORCE_PATH names both ways
        return failure(pathStatus(), pathChoice().forcedName);
    }
    UnfoldFiles files;
    Result result = openInputs(line, files);
    if (succeeded(result)) {
        result = unfoldOpenInputs(line, files);
    }
    closePngPicture(files.pngPicture);
    closePngPicture(files.pngKeyPlane);
    closeInput(files.records.stream);
    closeInput(files.alpha.stream);
    return result;
}

} // namespace pixfold
