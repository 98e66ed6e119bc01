// Every way a run can fail. Readers and the run return one of these; only the
// process entry turns it into a message, once.
#pragma once

#include <string>
#include <string_view>

namespace pixfold {

enum class ErrorCode {
    none,
    usage,           // too few arguments, or a value or path missing
    unknownFormat,   // -f with a name that is not a format
    invalidHexValue, // -m, -1, -0 or -O with no hexadecimal digit
    cantOpenInput,
    cantReadInput,    // a read error that is not the end of the file
    wrongInputFormat, // not a binary PPM header we can read
    only8Bit,         // maximum value of 256 or more
    sameFile,         // output path names the input file
    cantOpenOutput,
    truncatedInput,   // the raster ends before the last pixel
    sampleExceedsMax, // a sample above the header's maximum value
    cantWriteOutput,
    cantWriteStdout,
    // pixunfold
    unfoldUsage,
    invalidDimension,  // width or height not a positive decimal
    recordFileSize,    // record file is not width x height records
    alphaFileSize,     // alpha file is not 4 bytes per pixel
    noKeyPlane,        // -k with a format that carries no key value
    alphaFileRequired, // -k with e888Alpha but no -a
};

// What a message may need to name besides the code itself. pixunfold's
// messages name their file as inputPath or outputPath.
struct ErrorContext {
    std::string_view inputPath;
    std::string_view outputPath;
    std::string_view optionValue;
    char option = 0;
};

std::string errorMessage(ErrorCode code, const ErrorContext& context);

// "Unknown format" is the one message that goes to standard output.
constexpr bool errorGoesToStandardOutput(ErrorCode code) {
    return code == ErrorCode::unknownFormat;
}

} // namespace pixfold
