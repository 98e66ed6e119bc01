#include "common/errors.h"

namespace pixfold {

namespace {

constexpr std::string_view usageText =
    "Usage: pixfold [-f <e655|e655Z|e888|e888Alpha> -m RGB] ppmfile yuvfile\n"
    " -f    output format (default: e888)\n"
    " -m    mask value (RGB, hex)\n"
    " -1    Z/Alpha value if mask matches\n"
    " -O    Z/Alpha value if mask doesn't match\n";

std::string quoted(std::string_view before, std::string_view subject, std::string_view after) {
    std::string text(before);
    text += '\'';
    text += subject;
    text += '\'';
    text += after;
    return text;
}

} // namespace

std::string errorMessage(ErrorCode code, const ErrorContext& context) {
    switch (code) {
    case ErrorCode::none:
        return {};
    case ErrorCode::usage:
        return std::string(usageText);
    case ErrorCode::unknownFormat:
        return "Unknown format\n";
    case ErrorCode::invalidHexValue:
        return quoted("Invalid hex value ", context.optionValue, " for -") + context.option + '\n';
    case ErrorCode::cantOpenInput:
        return quoted("Can't open input file ", context.inputPath, "\n");
    case ErrorCode::cantReadInput:
        return quoted("Can't read input file ", context.inputPath, "\n");
    case ErrorCode::wrongInputFormat:
        return "Wrong input format\n";
    case ErrorCode::only8Bit:
        return "Only 8-bit per component\n";
    case ErrorCode::sameFile:
        return "Input and output are the same file\n";
    case ErrorCode::cantOpenOutput:
        return quoted("Can't open output file ", context.outputPath, "\n");
    case ErrorCode::truncatedInput:
        return quoted("Input file ", context.inputPath, " is truncated\n");
    case ErrorCode::sampleExceedsMax:
        return "Sample value exceeds maximum value\n";
    case ErrorCode::cantWriteOutput:
        return quoted("Can't write output file ", context.outputPath, "\n");
    case ErrorCode::cantWriteStdout:
        return "Can't write to standard output\n";
    }
    return {};
}

} // namespace pixfold
