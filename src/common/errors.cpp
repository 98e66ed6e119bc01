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

// The messages of a file whose size is wrong: what it holds, and what it should.
struct SizeText {
    ErrorCode code;
    const char* file;
    const char* problem;
    const char* expectedLabel;
};

constexpr SizeText sizeTexts[] = {
    {ErrorCode::recordFileSize, "Record file ",
     " does not hold exactly width x height records of its format", "expected "},
    {ErrorCode::recordFrameSize, "Record file ",
     " does not hold a whole number of width x height frames", "frames of "},
    {ErrorCode::alphaFileSize, "Alpha file ", " does not hold exactly 4 bytes per pixel",
     "expected "},
    {ErrorCode::alphaFrameSize, "Alpha file ", " does not hold 4 bytes per pixel of every frame",
     "expected "},
};

std::string sizeMessage(const Result& result) {
    for (const SizeText& text : sizeTexts) {
        if (text.code == result.code) {
            return quoted(text.file, result.subject, text.problem) + ": " +
                   (result.actualIsLowerBound ? "more than " : "") +
                   std::to_string(result.actualBytes) + " bytes, " + text.expectedLabel +
                   std::to_string(result.expectedBytes) + "\n";
        }
    }
    return {};
}

// Every message, in ErrorCode's order: %s is what the message names (a path or
// an option value), %c the option.
constexpr const char* messages[] = {
    "",
    "", // usage: the tool's own usage text
    "Unknown format\n",
    "Invalid hex value '%s' for -%c\n",
    "Can't open input file '%s'\n",
    "Can't read input file '%s'\n",
    "Wrong input format\n",
    "Only 8-bit per component\n",
    "Input and output are the same file\n",
    "Output file and standard output are the same file\n",
    "Output files are the same file\n",
    "Can't open output file '%s'\n",
    "Input file '%s' is truncated\n",
    "Sample value exceeds maximum value\n",
    "Can't write output file '%s'\n",
    "Can't write to standard output\n",
    "Invalid width or height '%s': a positive decimal number is needed\n",
    "", // the four size messages: sizeMessage
    "",
    "",
    "",
    "-k needs a format with a key value: e655Z or e888Alpha\n",
    "-k with e888Alpha needs the alpha stream: -a alphafile\n",
    "PIXFOLD_FORCE_PATH='%s': not portable, avx2 or avx512, or not on this processor\n",
};
static_assert(sizeof messages / sizeof messages[0] ==
                  static_cast<std::size_t>(ErrorCode::forcedPathUnavailable) + 1,
              "one message for every error code");

} // namespace

std::string errorMessage(const Result& result, std::string_view usageText) {
    if (result.code == ErrorCode::usage) {
        return std::string(usageText);
    }
    std::string sized = sizeMessage(result);
    if (!sized.empty()) {
        return sized;
    }
    std::string text;
    for (const char* c = messages[static_cast<std::size_t>(result.code)]; *c != '\0'; ++c) {
        if (c[0] == '%' && c[1] == 's') {
            text += result.subject;
            ++c;
        } else if (c[0] == '%' && c[1] == 'c') {
            text += result.option;
            ++c;
        } else {
            text += *c;
        }
    }
    return text;
}

int reportFailure(const Result& result, std::string_view usageText) {
    const std::string message = errorMessage(result, usageText);
    std::FILE* stream = errorGoesToStandardOutput(result.code) ? stdout : stderr;
    std::fputs(message.c_str(), stream);
    std::fflush(stream);
    return 1;
}

} // namespace pixfold
