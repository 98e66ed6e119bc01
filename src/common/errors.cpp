#include "common/errors.h"

#include <cstdio>

namespace pixfold {

namespace {

std::string quoted(std::string_view before, std::string_view subject, std::string_view after) {
    std::string text(before);
    text += '\'';
    text += subject;
    text += '\'';
    text += after;
    return text;
}

std::string sizes(const Result& result, std::string_view expectedLabel) {
    return std::string(": ") + (result.actualIsLowerBound ? "more than " : "") +
           std::to_string(result.actualBytes) + " bytes, " + std::string(expectedLabel) +
           std::to_string(result.expectedBytes) + "\n";
}

} // namespace

std::string errorMessage(const Result& result, std::string_view usageText) {
    const std::string_view subject = result.subject;
    switch (result.code) {
    case ErrorCode::none:
        return {};
    case ErrorCode::usage:
        return std::string(usageText);
    case ErrorCode::unknownFormat:
        return "Unknown format\n";
    case ErrorCode::invalidHexValue:
        return quoted("Invalid hex value ", subject, " for -") + result.option + '\n';
    case ErrorCode::cantOpenInput:
        return quoted("Can't open input file ", subject, "\n");
    case ErrorCode::cantReadInput:
        return quoted("Can't read input file ", subject, "\n");
    case ErrorCode::wrongInputFormat:
        return "Wrong input format\n";
    case ErrorCode::only8Bit:
        return "Only 8-bit per component\n";
    case ErrorCode::sameFile:
        return "Input and output are the same file\n";
    case ErrorCode::sameOutputAndStdout:
        return "Output file and standard output are the same file\n";
    case ErrorCode::sameOutputs:
        return "Output files are the same file\n";
    case ErrorCode::cantOpenOutput:
        return quoted("Can't open output file ", subject, "\n");
    case ErrorCode::truncatedInput:
        return quoted("Input file ", subject, " is truncated\n");
    case ErrorCode::sampleExceedsMax:
        return "Sample value exceeds maximum value\n";
    case ErrorCode::cantWriteOutput:
        return quoted("Can't write output file ", subject, "\n");
    case ErrorCode::cantWriteStdout:
        return "Can't write to standard output\n";
    case ErrorCode::invalidDimension:
        return quoted("Invalid width or height ", subject,
                      ": a positive decimal number is needed\n");
    case ErrorCode::recordFileSize:
        return quoted("Record file ", subject,
                      " does not hold exactly width x height records of its format") +
               sizes(result, "expected ");
    case ErrorCode::recordFrameSize:
        return quoted("Record file ", subject,
                      " does not hold a whole number of width x height frames") +
               sizes(result, "frames of ");
    case ErrorCode::alphaFileSize:
        return quoted("Alpha file ", subject, " does not hold exactly 4 bytes per pixel") +
               sizes(result, "expected ");
    case ErrorCode::alphaFrameSize:
        return quoted("Alpha file ", subject, " does not hold 4 bytes per pixel of every frame") +
               sizes(result, "expected ");
    case ErrorCode::noKeyPlane:
        return "-k needs a format with a key value: e655Z or e888Alpha\n";
    case ErrorCode::alphaFileRequired:
        return "-k with e888Alpha needs the alpha stream: -a alphafile\n";
    }
    return {};
}

int reportFailure(const Result& result, std::string_view usageText) {
    const std::string message = errorMessage(result, usageText);
    std::FILE* stream = errorGoesToStandardOutput(result.code) ? stdout : stderr;
    std::fputs(message.c_str(), stream);
    std::fflush(stream);
    return 1;
}

} // namespace pixfold
