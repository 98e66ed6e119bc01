#include "app/command_line.h"

namespace pixfold {

namespace {

int hexDigitValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

bool isCWhitespace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

bool takesValue(char option) {
    return option == 'f' || option == 'm' || option == '1' || option == '0' || option == 'O';
}

// Applies one value-taking option; returns the error that ends the scan, if any.
ErrorCode applyOption(char option, const char* value, ConversionSettings& settings) {
    switch (option) {
    case 'f':
        return findFormat(value, settings.format) ? ErrorCode::none : ErrorCode::unknownFormat;
    case 'm':
        settings.keyEnabled = true;
        return readHexValue(value, settings.keyColour) ? ErrorCode::none
                                                       : ErrorCode::invalidHexValue;
    case '1':
        return readHexValue(value, settings.matchValue) ? ErrorCode::none
                                                        : ErrorCode::invalidHexValue;
    default: // '0', and 'O' as the usage text spells it
        return readHexValue(value, settings.noMatchValue) ? ErrorCode::none
                                                          : ErrorCode::invalidHexValue;
    }
}

} // namespace

bool readHexValue(const char* text, std::uint32_t& value) {
    const char* cursor = text;
    while (isCWhitespace(*cursor)) {
        ++cursor;
    }
    bool negative = false;
    if (*cursor == '+' || *cursor == '-') {
        negative = *cursor == '-';
        ++cursor;
    }
    if (cursor[0] == '0' && (cursor[1] == 'x' || cursor[1] == 'X')) {
        cursor += 2;
    }
    if (hexDigitValue(*cursor) < 0) {
        return false;
    }
    std::uint32_t result = 0;
    for (; hexDigitValue(*cursor) >= 0; ++cursor) {
        result = (result << 4) | static_cast<std::uint32_t>(hexDigitValue(*cursor));
    }
    value = negative ? 0u - result : result;
    return true;
}

bool findFormat(std::string_view name, OutputFormat& format) {
    constexpr std::string_view names[] = {"e655", "e655Z", "e888", "e888Alpha"};
    constexpr OutputFormat formats[] = {OutputFormat::e655, OutputFormat::e655Z, OutputFormat::e888,
                                        OutputFormat::e888Alpha};
    for (std::size_t i = 0; i < 4; ++i) {
        if (name == names[i]) {
            format = formats[i];
            return true;
        }
    }
    return false;
}

ParsedCommandLine parseCommandLine(int argc, const char* const* argv) {
    ParsedCommandLine parsed;
    if (argc < 3) {
        parsed.error = ErrorCode::usage;
        return parsed;
    }
    int index = 1;
    // Only the second character names the option: "-fe655" is -f, and its
    // value is the next argument.
    for (; index < argc && argv[index][0] == '-'; ++index) {
        const char option = argv[index][1];
        if (!takesValue(option)) {
            continue;
        }
        if (index + 1 >= argc) {
            parsed.error = ErrorCode::usage;
            return parsed;
        }
        ++index;
        parsed.error = applyOption(option, argv[index], parsed.commandLine.settings);
        if (parsed.error != ErrorCode::none) {
            parsed.badValue = argv[index];
            parsed.badOption = option;
            return parsed;
        }
    }
    if (index + 1 >= argc) {
        parsed.error = ErrorCode::usage;
        return parsed;
    }
    parsed.commandLine.inputPath = argv[index];
    parsed.commandLine.outputPath = argv[index + 1];
    return parsed;
}

} // namespace pixfold
