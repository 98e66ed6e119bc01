#include "messages.h"

#include "wide.h"

#include <cstdio>

namespace pixfold {

namespace {

// A path in a message stays on one line: control bytes are written as C
// escapes, every other byte as it is.
std::string escaped(std::string_view subject) {
    std::string text;
    for (const char c : subject) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte >= 0x20 && byte != 0x7F) {
            text += c;
            continue;
        }
        static constexpr char letters[] = "abtnvfr"; // the escapes of 0x07 to 0x0D
        text += '\\';
        if (byte >= 0x07 && byte <= 0x0D) {
            text += letters[byte - 0x07];
        } else {
            static constexpr char hex[] = "0123456789abcdef";
            text += 'x';
            text += hex[byte >> 4];
            text += hex[byte & 0xF];
        }
    }
    return text;
}

std::string quoted(std::string_view before, std::string_view subject, std::string_view after) {
    std::string text(before);
    text += '\'';
    text += escaped(subject);
    text += '\'';
    text += after;
    return text;
}

// A file whose size is wrong: what it holds, and what it should.
std::string sizeMessage(std::string_view file, const Result& result, std::string_view problem,
                        std::string_view expectedLabel) {
    return quoted(file, result.subject, problem) + ": " +
           (result.actualIsLowerBound ? "more than " : "") + std::to_string(result.actualBytes) +
           " bytes, " + std::string(expectedLabel) + std::to_string(result.expectedBytes) + "\n";
}

} // namespace

// One case per code and no default, so the compiler names any code left
// without its message.
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
        return quoted("Invalid hex value ", subject, " for -") + result.option + "\n";
    case ErrorCode::cantOpenInput:
        return quoted("Can't open input file ", subject, "\n");
    case ErrorCode::cantReadInput:
        return quoted("Can't read input file ", subject, "\n");
    case ErrorCode::wrongInputFormat:
        return "Wrong input format\n";
    case ErrorCode::maxValueTooLarge:
        return "Only 8-bit and 16-bit per component\n";
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
        return sizeMessage("Record file ", result,
                           " does not hold exactly width x height records of its format",
                           "expected ");
    case ErrorCode::recordFrameSize:
        return sizeMessage("Record file ", result,
                           " does not hold a whole number of width x height frames", "frames of ");
    case ErrorCode::alphaFileSize:
        return sizeMessage("Alpha file ", result, " does not hold exactly 4 bytes per pixel",
                           "expected ");
    case ErrorCode::alphaFrameSize:
        return sizeMessage("Alpha file ", result, " does not hold 4 bytes per pixel of every frame",
                           "expected ");
    case ErrorCode::noKeyPlane:
        return "-k needs a format with a key value: e655Z or e888Alpha\n";
    case ErrorCode::alphaFileRequired:
        return "-k with e888Alpha needs the alpha stream: -a alphafile\n";
    case ErrorCode::forcedPathUnavailable:
        return quoted("PIXFOLD_FORCE_PATH=", subject,
                      ": not portable, avx2 or avx512, or not on this processor\n");
    case ErrorCode::damagedPng:
        return quoted("PNG file ", subject, " is damaged: ") + result.detail + "\n";
    case ErrorCode::pngTooWide:
        return quoted("PNG file ", subject,
                      " is wider than 1000000 pixels, which pixfold does not read\n");
    case ErrorCode::interlacedPngTooLarge:
        return quoted("PNG file ", subject,
                      " is interlaced and over 1 GiB decoded: de-interlace it first"
                      " (pngtopam -alphapam in.png | pixfold - out.yuv)\n");
    case ErrorCode::pngInputNotBuilt:
        return "PNG input needs a pixfold built with PNG support\n";
    case ErrorCode::pngOutputNotBuilt:
        return "PNG output needs a pixunfold built with PNG support\n";
    case ErrorCode::unknownOption:
        return quoted("Ignoring unknown option ", subject, "\n");
    case ErrorCode::onlyFirstImage:
        return "Only the first image was converted; -s converts every image\n";
    case ErrorCode::onlyDefaultFrame:
        return quoted("Only the default image of the animated PNG ", subject,
                      " was converted, none of its other frames\n");
    }
    return {};
}

int reportFailure(const Result& result, std::string_view usageText) {
    const std::string message = errorMessage(result, usageText);
    std::FILE* stream = errorGoesToStandardOutput(result.code) ? stdout : stderr;
    writeText(stream, message);
    std::fflush(stream);
    return 1;
}

} // namespace pixfold
