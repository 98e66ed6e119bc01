#include "command_line.h"

#include "core/text.h"
#include "format/formats.h"

#include <cstring>

namespace pixfold {

namespace {

bool takesValue(char option) {
    return std::strchr("fm10Oa", option) != nullptr && option != '\0';
}

// Applies one value-taking option; returns the error that ends the scan, if any.
ErrorCode applyOption(char option, const char* value, FoldCommandLine& line) {
    ConversionSettings& settings = line.settings;
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
    case 'a':
        line.alphaPath = value;
        return ErrorCode::none;
    default: // '0', and 'O' as the usage text has always spelt it
        return readHexValue(value, settings.noMatchValue) ? ErrorCode::none
                                                          : ErrorCode::invalidHexValue;
    }
}

// A mistake in the arguments; with fewer than two, the usage text alone, as
// it has always been.
Result argumentFailure(int argc, ErrorCode code) {
    return failure(argc < 3 ? ErrorCode::usage : code);
}

} // namespace

ParsedFoldCommandLine parseFoldCommandLine(int argc, const char* const* argv) {
    ParsedFoldCommandLine parsed;
    FoldCommandLine& line = parsed.commandLine;
    int index = 1;
    // "-" alone is a path: standard input or output.
    for (; index < argc && argv[index][0] == '-' && argv[index][1] != '\0'; ++index) {
        const char* argument = argv[index];
        if (argument[1] == '-') {
            parsed.request = requestOf(argument);
            if (parsed.request != ToolRequest::run) {
                return parsed;
            }
            if (argument[2] != '\0') { // --format=e655 and the like
                parsed.result = failure(ErrorCode::unknownLongOption, argument);
                return parsed;
            }
            ++index; // "--": what follows is the paths
            break;
        }
        // Only the second character names the option, as it always has:
        // "-fe655" is -f, and its value is the next argument.
        const char option = argument[1];
        if (option == 's') {
            line.imageStream = true;
            continue;
        }
        if (option == 't') {
            line.settings.transparencyKey = true;
            continue;
        }
        if (!takesValue(option)) {
            // Passed over, as it always was, but no longer in silence.
            parsed.notices.push_back(failure(ErrorCode::ignoredOption, argument));
            continue;
        }
        if (index + 1 >= argc) {
            parsed.result = argumentFailure(argc, ErrorCode::optionNeedsValue);
            parsed.result.option = option;
            return parsed;
        }
        ++index;
        const ErrorCode error = applyOption(option, argv[index], line);
        if (error != ErrorCode::none) {
            parsed.result = failure(error, argv[index]);
            parsed.result.option = option;
            parsed.result.detail = argument;
            return parsed;
        }
    }
    // Exactly two paths: a third (a glob that matched more files, an option
    // after the paths) would otherwise be ignored or overwritten.
    if (argc - index != 2) {
        parsed.result = argc - index > 2 ? failure(ErrorCode::unexpectedArgument, argv[index + 2])
                                         : argumentFailure(argc, ErrorCode::missingPaths);
        parsed.result.detail = argc - index == 1 ? "output path" : "input and output paths";
        return parsed;
    }
    line.inputPath = argv[index];
    line.outputPath = argv[index + 1];
    if (line.alphaPath != nullptr && isStandardStream(line.alphaPath)) {
        line.alphaPath = nullptr; // -a -: standard output, where the alpha stream goes anyway
    }
    return parsed;
}

} // namespace pixfold
