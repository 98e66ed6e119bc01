// Every way a run of either tool can fail, and the one shape a failure takes.
// Runs return a Result (the library's readers a Status, which becomes one);
// only a tool's entry turns it into a message, once (messages.h).
#pragma once

#include "core/status.h"

#include <cerrno>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace pixfold {

enum class ErrorCode {
    none,
    usage,              // fewer than two arguments: the usage text alone
    unexpectedArgument, // an argument after the last path
    unknownLongOption,  // a long option other than --help, --version and --
    unknownOption,      // pixunfold: an option it does not know
    optionNeedsValue,   // an option that takes a value is the last argument
    missingPaths,       // fewer paths (or pixunfold arguments) than the tool takes
    standardInputTwice, // pixunfold: records and alpha stream both from standard input
    unknownFormat,      // -f with a name that is not a format
    invalidHexValue,    // a hexadecimal option value with no digit
    cantOpenInput,
    cantReadInput,       // a read error that is not the end of the file
    wrongInputFormat,    // not a binary PPM header we can read
    maxValueTooLarge,    // maximum value above 65535
    sameFile,            // an output is an input file
    sameOutputAndStdout, // the output file is standard output, which gets the alpha stream
    sameOutputs,         // two outputs are one file
    cantOpenOutput,
    truncatedInput,   // the raster ends before the last pixel
    sampleExceedsMax, // a sample above the header's maximum value
    cantWriteOutput,
    cantWriteStdout,
    invalidDimension,      // pixunfold: width or height not a positive decimal
    recordFileSize,        // pixunfold: not exactly width x height records
    recordFrameSize,       // pixunfold -s: not a whole number of frames
    alphaFileSize,         // pixunfold: not exactly 4 bytes per pixel
    alphaFrameSize,        // pixunfold -s: not 4 bytes per pixel of every frame
    noKeyPlane,            // pixunfold: -k with a format that carries no key value
    alphaFileRequired,     // pixunfold: -k with e888Alpha but no -a
    forcedPathUnavailable, // PIXFOLD_FORCE_PATH names no pixel loop this processor runs
    cantCreateTemporary,   // the tools: an output that needs a temporary file, and the folder takes
                           // none
    damagedPng,            // a PNG the decoder refuses: its reason is the detail
    pngTooWide,            // a PNG wider than pixfold reads rows of
    interlacedPngTooLarge, // an interlaced PNG too large to hold decoded
    pngSystemDecoder,      // the system's PNG decoder failed, or gave pixels that can't be
                           // turned back into the stored samples exactly: the detail says which
    pngInputNotBuilt,      // a PNG input, in a build without PNG support
    pngOutputNotBuilt,     // pixunfold: a .png output, in a build without PNG support
    // Notices: lines that report something and do not fail the run.
    ignoredOption,    // pixfold: an unknown short option, passed over
    onlyFirstImage,   // another image follows the first, and -s was not given
    onlyDefaultFrame, // an animated PNG: its default image was converted, no other frame
    imageSizeChanged, // pixfold -s: an image whose size is not the first image's
    streamProgress,   // pixfold -s on a terminal: the line redrawn in place
    streamSummary     // pixfold -s on a terminal: the last line of a run that succeeded
};

// Why a system call failed, as the system words it: an errno value, or on
// Windows a Win32 error code. Both 0 where no call named a cause: the message
// then gives none rather than a stale one.
struct SystemError {
    int errnoValue = 0;
    std::uint32_t windowsCode = 0;
};

inline SystemError errnoError(int value) {
    SystemError error;
    error.errnoValue = value;
    return error;
}

// errno as the call that just failed left it.
inline SystemError lastErrno() {
    return errnoError(errno);
}

// What an input that is no Netpbm or PNG image is, where its first bytes tell.
enum class InputKind { unknown, empty, jpeg, gif, tiff, webp, bmp, isoMedia, matroska };

// A run of -s in figures, for the stream notices.
struct StreamFigures {
    std::uint64_t images = 0; // converted so far
    std::uint64_t bytes = 0;  // records written
    std::int32_t width = 0;   // the first image's size
    std::int32_t height = 0;
    std::uint64_t changedImage = 0; // the first image of another size (counted from 1), or 0
    std::int32_t changedWidth = 0;  // and its size
    std::int32_t changedHeight = 0;
    double seconds = 0;
};

// A run's outcome: the code, and what its message names.
struct Result {
    ErrorCode code = ErrorCode::none;
    std::string subject; // the path or option value the message names
    std::string detail;  // a second word it names: a missing path, an option as typed, a PNG
                         // decoder's reason
    char option = 0;     // invalidHexValue: the option, as typed
    std::uint64_t actualBytes = 0;            // size messages: what the file holds...
    bool actualIsLowerBound = false;          // ...or at least holds, for a stream read in part
    std::uint64_t expectedBytes = 0;          // ...and what it should hold (or a frame's size)
    SystemError reason;                       // the failing call's, where one failed
    InputKind inputKind = InputKind::unknown; // wrongInputFormat: what the input is instead
    StreamFigures stream;                     // imageSizeChanged and the stream notices
};

inline Result failure(ErrorCode code, std::string_view subject = {}) {
    Result result;
    result.code = code;
    result.subject = subject;
    return result;
}

inline Result failure(ErrorCode code, std::string_view subject, SystemError reason) {
    Result result = failure(code, subject);
    result.reason = reason;
    return result;
}

inline Result sizeFailure(ErrorCode code, std::string_view path, std::uint64_t actualBytes,
                          std::uint64_t expectedBytes, bool actualIsLowerBound = false) {
    Result result = failure(code, path);
    result.actualBytes = actualBytes;
    result.expectedBytes = expectedBytes;
    result.actualIsLowerBound = actualIsLowerBound;
    return result;
}

// The tools' code for what the library reports.
constexpr ErrorCode errorOf(Status status) {
    switch (status) {
    case Status::ok:
        return ErrorCode::none;
    case Status::cantRead:
        return ErrorCode::cantReadInput;
    case Status::wrongInputFormat:
        return ErrorCode::wrongInputFormat;
    case Status::maxValueTooLarge:
        return ErrorCode::maxValueTooLarge;
    case Status::truncated:
        return ErrorCode::truncatedInput;
    case Status::sampleExceedsMax:
        return ErrorCode::sampleExceedsMax;
    case Status::pathUnavailable:
        return ErrorCode::forcedPathUnavailable;
    }
    return ErrorCode::wrongInputFormat;
}

inline Result failure(Status status, std::string_view subject = {}) {
    return failure(errorOf(status), subject);
}

inline bool succeeded(const Result& result) {
    return result.code == ErrorCode::none;
}

// What a run reports without failing, printed before the run's own message.
using Notices = std::vector<Result>;

} // namespace pixfold
