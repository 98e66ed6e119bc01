#include "common/errors.h"

namespace pixfold {

namespace {

constexpr std::string_view usageText =
    "Usage: pixfold [-f <e655|e655Z|e888|e888Alpha> -m RGB] ppmfile yuvfile\n"
    " -f    output format (default: e888)\n"
    " -m    mask value (RGB, hex)\n"
    " -1    Z/Alpha value if mask matches\n"
    " -O    Z/Alpha value if mask doesn't match\n";

constexpr std::string_view unfoldUsageText =
    "Usage: pixunfold [-f <e655|e655Z|e888|e888Alpha>] [-a alphafile] [-k maskfile] [-1 hex]"
    " width height recordfile ppmfile\n"
    " -f    record format (default: e888)\n"
    " -a    alpha stream saved from pixfold -f e888Alpha (needed for -k with e888Alpha)\n"
    " -k    write the key plane as a PGM: 255 where the key value matches, else 0\n"
    " -1    key value that matches (default: any value but 0)\n";

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
    case ErrorCode::unfoldUsage:
        return std::string(unfoldUsageText);
    case ErrorCode::invalidDimension:
        return quoted("Invalid width or height ", context.optionValue,
                      ": a positive decimal number is needed\n");
    case ErrorCode::recordFileSize:
        return quoted("Record file ", context.inputPath,
                      " does not hold exactly width x height records of its format\n");
    case ErrorCode::alphaFileSize:
        return quoted("Alpha file ", context.inputPath,
                      " does not hold exactly 4 bytes per pixel\n");
    case ErrorCode::noKeyPlane:
        return "-k needs a format with a key value: e655Z or e888Alpha\n";
    case ErrorCode::alphaFileRequired:
        return "-k with e888Alpha needs the alpha stream: -a alphafile\n";
    }
    return {};
}

} // namespace pixfold
