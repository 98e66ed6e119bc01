#include "messages.h"

#include "core/texts.h"
#include "format/formats.h"
#include "wide.h"

#include <cstdio>
#include <cstring>

#ifdef _WIN32
#include <windows.h>
#endif

namespace pixfold {

namespace {

// A path in a message stays on one line and can't steer the terminal: C0
// controls and DEL are written as C escapes, C1 controls as \u0080 to \u009f
// when encoded as UTF-8 and as \x80 to \x9f when they stand alone; every
// other byte as it is.
std::string escaped(std::string_view subject) {
    static constexpr char hex[] = "0123456789abcdef";
    std::string text;
    for (std::size_t i = 0; i < subject.size(); ++i) {
        const auto byte = static_cast<unsigned char>(subject[i]);
        const auto next = i + 1 < subject.size() ? static_cast<unsigned char>(subject[i + 1]) : 0;
        if (byte == 0xC2 && next >= 0x80 && next <= 0x9F) { // U+0080 to U+009F
            text += "\\u00";
            text += hex[next >> 4];
            text += hex[next & 0xF];
            ++i;
            continue;
        }
        if (byte >= 0xC0 && byte != 0xC2) {
            // A lead byte: its sequence as it is, so that a continuation byte
            // of 0x80 to 0x9F inside it is not taken for a lone one.
            const std::size_t length = byte >= 0xF0 ? 4 : byte >= 0xE0 ? 3 : 2;
            std::size_t end = i + 1;
            while (end < subject.size() && end < i + length &&
                   (static_cast<unsigned char>(subject[end]) & 0xC0) == 0x80) {
                ++end;
            }
            text.append(subject.substr(i, end - i));
            i = end - 1;
            continue;
        }
        const bool control = byte < 0x20 || byte == 0x7F || (byte >= 0x80 && byte <= 0x9F);
        if (!control) {
            text += subject[i];
            continue;
        }
        static constexpr char letters[] = "abtnvfr"; // the escapes of 0x07 to 0x0D
        text += '\\';
        if (byte >= 0x07 && byte <= 0x0D) {
            text += letters[byte - 0x07];
        } else {
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

// The formats as a user may type them: "e655, e655Z, e888 or e888Alpha".
std::string formatNames() {
    std::string names;
    for (std::size_t i = 0; i < formatCount; ++i) {
        names += i == 0 ? "" : i + 1 == formatCount ? " or " : ", ";
        names += formatTable[i].name;
    }
    return names;
}

// ": " and the system's own text for why a call failed, or nothing where no
// call named a cause. On Windows a Win32 code is worded by FormatMessage, an
// errno value of the C runtime by its strerror.
std::string because(const SystemError& reason) {
    std::string text;
#ifdef _WIN32
    if (reason.windowsCode != 0) {
        wchar_t* wide = nullptr;
        const DWORD length = FormatMessageW(
            FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                FORMAT_MESSAGE_IGNORE_INSERTS,
            nullptr, reason.windowsCode, 0, reinterpret_cast<wchar_t*>(&wide), 0, nullptr);
        text = length == 0 ? "Windows error " + std::to_string(reason.windowsCode)
                           : narrow(std::wstring_view(wide, length));
        LocalFree(wide);
        // One line, without the closing full stop, as the other texts are.
        while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ' ||
                                 text.back() == '.')) {
            text.pop_back();
        }
    }
#endif
    if (text.empty() && reason.errnoValue != 0) {
        text = std::strerror(reason.errnoValue);
    }
    return text.empty() ? text : ": " + text;
}

// A path as messages name it; "-" is standard input.
std::string inputNamed(std::string_view subject) {
    return subject == "-" ? "standard input" : quoted("", subject, "");
}

std::string_view kindName(InputKind kind) {
    switch (kind) {
    case InputKind::jpeg:
        return "a JPEG image";
    case InputKind::gif:
        return "a GIF image";
    case InputKind::tiff:
        return "a TIFF image";
    case InputKind::webp:
        return "a WebP image";
    case InputKind::bmp:
        return "a BMP image";
    case InputKind::isoMedia:
        return "an MP4 or other ISO media file";
    case InputKind::matroska:
        return "a Matroska or WebM video";
    case InputKind::empty:
        return "empty";
    case InputKind::unknown:
        break;
    }
    return {};
}

// "Wrong input format", and what the input is when its first bytes tell.
std::string wrongFormatMessage(const Result& result) {
    if (result.inputKind == InputKind::unknown) {
        return "Wrong input format\n";
    }
    std::string text = "Wrong input format: " + inputNamed(result.subject) + " is " +
                       std::string(kindName(result.inputKind));
    if (result.inputKind != InputKind::empty) {
        text += "; pixfold reads Netpbm and PNG (see \"Preparing input\")";
    }
    return text + "\n";
}

std::string sizeText(std::int32_t width, std::int32_t height) {
    return std::to_string(width) + "x" + std::to_string(height);
}

// 8294400000 as "8,294,400,000".
std::string withThousands(std::uint64_t number) {
    std::string digits = std::to_string(number);
    for (std::size_t at = digits.size(); at > 3; at -= 3) {
        digits.insert(at - 3, ",");
    }
    return digits;
}

std::string imagesText(std::uint64_t images) {
    return withThousands(images) + (images == 1 ? " image" : " images");
}

// One decimal, as "12.3".
std::string tenths(double value) {
    char text[40];
    std::snprintf(text, sizeof text, "%.1f", value);
    return text;
}

// "120 images, 40.1 images/s, 333.2 MB/s": no line end, as it is redrawn.
std::string progressLine(const StreamFigures& figures) {
    const double seconds = figures.seconds > 0 ? figures.seconds : 1e-9;
    return imagesText(figures.images) + ", " +
           tenths(static_cast<double>(figures.images) / seconds) + " images/s, " +
           tenths(static_cast<double>(figures.bytes) / seconds / 1e6) + " MB/s";
}

// "1000 images of 1920x1080 (8,294,400,000 bytes) in 12.3 s".
std::string summaryLine(const StreamFigures& figures) {
    return imagesText(figures.images) +
           (figures.changedImage == 0 ? " of " + sizeText(figures.width, figures.height) : "") +
           " (" + withThousands(figures.bytes) + " bytes) in " + tenths(figures.seconds) + " s\n";
}

// The line that says what was wrong with the arguments, or empty.
std::string argumentProblem(const Result& result) {
    const std::string_view subject = result.subject;
    switch (result.code) {
    case ErrorCode::unexpectedArgument:
        return quoted("Unexpected argument ", subject, " after the output path");
    case ErrorCode::unknownLongOption:
        return quoted("Unknown long option ", subject, "");
    case ErrorCode::unknownOption:
        return quoted("Unknown option ", subject, "");
    case ErrorCode::optionNeedsValue:
        return std::string("Option -") + result.option + " needs a value";
    case ErrorCode::missingPaths:
        return "Missing " + result.detail;
    case ErrorCode::standardInputTwice:
        return "The record file and the alpha file can't both be standard input";
    default:
        return {};
    }
}

} // namespace

// One case per code and no default, so the compiler names any code left
// without its message.
std::string errorMessage(const Result& result, const ToolTexts& texts) {
    const std::string_view subject = result.subject;
    switch (result.code) {
    case ErrorCode::none:
        return {};
    case ErrorCode::usage:
        return std::string(texts.usage);
    case ErrorCode::unexpectedArgument:
    case ErrorCode::unknownLongOption:
    case ErrorCode::unknownOption:
    case ErrorCode::optionNeedsValue:
    case ErrorCode::missingPaths:
    case ErrorCode::standardInputTwice:
        return argumentProblem(result) + "\n" + std::string(texts.usage) + std::string(texts.name) +
               " --help lists every option\n";
    case ErrorCode::unknownFormat:
        // -fe655 is -f, and its value the next argument: say so when it was typed so.
        return quoted("Unknown format ", subject, ": ") + formatNames() +
               (result.detail.size() > 2
                    ? quoted(" (", result.detail, " takes its value from the next argument)")
                    : "") +
               "\n";
    case ErrorCode::invalidHexValue:
        return quoted("Invalid hex value ", subject, " for -") + result.option + "\n";
    case ErrorCode::cantOpenInput:
        return quoted("Can't open input file ", subject, because(result.reason) + "\n");
    case ErrorCode::cantReadInput:
        return quoted("Can't read input file ", subject, because(result.reason) + "\n");
    case ErrorCode::wrongInputFormat:
        return wrongFormatMessage(result);
    case ErrorCode::maxValueTooLarge:
        return "Only 8-bit and 16-bit per component\n";
    case ErrorCode::sameFile:
        return "Input and output are the same file\n";
    case ErrorCode::sameOutputAndStdout:
        return "Output file and standard output are the same file\n";
    case ErrorCode::sameOutputs:
        return "Output files are the same file\n";
    case ErrorCode::cantOpenOutput:
        return quoted("Can't open output file ", subject, because(result.reason) + "\n");
    case ErrorCode::truncatedInput:
        return quoted("Input file ", subject, " is truncated\n");
    case ErrorCode::sampleExceedsMax:
        return std::string(sampleAboveMaximumText) + "\n";
    case ErrorCode::cantWriteOutput:
        return quoted("Can't write output file ", subject, because(result.reason) + "\n");
    case ErrorCode::cantWriteStdout:
        return "Can't write to standard output" + because(result.reason) + "\n";
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
    case ErrorCode::cantCreateTemporary:
        return quoted("Can't create a temporary file in ", subject, because(result.reason) + "\n");
    case ErrorCode::forcedPathUnavailable:
        return quoted("PIXFOLD_FORCE_PATH=", subject, ": ") + pathUnavailableText + "\n";
    case ErrorCode::damagedPng:
        return quoted("PNG file ", subject, " is damaged: ") + result.detail + "\n";
    case ErrorCode::pngTooWide:
        return quoted("PNG file ", subject,
                      " is wider than 1000000 pixels, which pixfold does not read\n");
    case ErrorCode::interlacedPngTooLarge:
        return quoted("PNG file ", subject,
                      " is interlaced and over 1 GiB decoded: de-interlace it first"
                      " (pngtopam -alphapam in.png | pixfold - out.yuv)\n");
    case ErrorCode::pngSystemDecoder:
        return quoted("PNG file ", subject, " can't be decoded on this system: ") + result.detail +
               "\n";
    case ErrorCode::pngInputNotBuilt:
        return "PNG input needs a pixfold built with PNG support\n";
    case ErrorCode::pngOutputNotBuilt:
        return "PNG output needs a pixunfold built with PNG support\n";
    case ErrorCode::ignoredOption:
        return quoted("Ignoring unknown option ", subject, "\n");
    case ErrorCode::onlyFirstImage:
        return "Only the first image was converted; -s converts every image\n";
    case ErrorCode::onlyDefaultFrame:
        return quoted("Only the default image of the animated PNG ", subject,
                      " was converted, none of its other frames\n");
    case ErrorCode::imageSizeChanged:
        return "Image " + std::to_string(result.stream.changedImage) + " is " +
               sizeText(result.stream.changedWidth, result.stream.changedHeight) +
               ", image 1 was " + sizeText(result.stream.width, result.stream.height) +
               ": the records of this stream can't be split into equal frames\n";
    case ErrorCode::streamProgress:
        return progressLine(result.stream);
    case ErrorCode::streamSummary:
        return summaryLine(result.stream);
    }
    return {};
}

int reportFailure(const Result& result, const ToolTexts& texts) {
    writeText(stderr, errorMessage(result, texts));
    std::fflush(stderr);
    return 1;
}

} // namespace pixfold
