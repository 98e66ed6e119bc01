#include "unfold/unfold_command_line.h"

#include "app/command_line.h"

#include <cstring>

namespace pixfold {

namespace {

ErrorCode applyUnfoldOption(char option, const char* value, UnfoldCommandLine& line) {
    switch (option) {
    case 'f':
        return findFormat(value, line.format) ? ErrorCode::none : ErrorCode::unknownFormat;
    case 'a':
        line.alphaPath = value;
        return ErrorCode::none;
    case 'k':
        line.maskPath = value;
        return ErrorCode::none;
    case '1':
        line.matchGiven = true;
        return readHexValue(value, line.matchValue) ? ErrorCode::none : ErrorCode::invalidHexValue;
    default:
        return ErrorCode::unfoldUsage;
    }
}

ErrorCode checkKeyPlaneRequest(const UnfoldCommandLine& line) {
    if (line.maskPath == nullptr) {
        return ErrorCode::none;
    }
    if (line.format == OutputFormat::e655Z) {
        return ErrorCode::none;
    }
    if (line.format != OutputFormat::e888Alpha) {
        return ErrorCode::noKeyPlane;
    }
    return line.alphaPath == nullptr ? ErrorCode::alphaFileRequired : ErrorCode::none;
}

} // namespace

bool readPositiveDecimal(std::string_view text, std::int32_t& value) {
    constexpr std::int32_t largest = 2147483647;
    if (text.empty()) {
        return false;
    }
    std::int32_t result = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') {
            return false;
        }
        const std::int32_t digit = c - '0';
        if (result > (largest - digit) / 10) {
            return false;
        }
        result = result * 10 + digit;
    }
    value = result;
    return result > 0;
}

ParsedUnfoldCommandLine parseUnfoldCommandLine(int argc, const char* const* argv) {
    ParsedUnfoldCommandLine parsed;
    UnfoldCommandLine& line = parsed.commandLine;
    int index = 1;
    for (; index < argc && argv[index][0] == '-' && argv[index][1] != '\0'; index += 2) {
        const bool knownOption =
            std::strlen(argv[index]) == 2 && std::strchr("fak1", argv[index][1]) != nullptr;
        if (!knownOption || index + 1 >= argc) {
            parsed.error = ErrorCode::unfoldUsage;
            return parsed;
        }
        parsed.error = applyUnfoldOption(argv[index][1], argv[index + 1], line);
        if (parsed.error != ErrorCode::none) {
            parsed.badValue = argv[index + 1];
            parsed.badOption = argv[index][1];
            return parsed;
        }
    }
    if (argc - index != 4) {
        parsed.error = ErrorCode::unfoldUsage;
        return parsed;
    }
    for (const int dimension : {index, index + 1}) {
        std::int32_t& field = dimension == index ? line.width : line.height;
        if (!readPositiveDecimal(argv[dimension], field)) {
            parsed.error = ErrorCode::invalidDimension;
            parsed.badValue = argv[dimension];
            return parsed;
        }
    }
    line.recordPath = argv[index + 2];
    line.ppmPath = argv[index + 3];
    parsed.error = checkKeyPlaneRequest(line);
    return parsed;
}

} // namespace pixfold
