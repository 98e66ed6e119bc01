#include "command_line.h"

#include "core/text.h"
#include "format/formats.h"

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
        line.keyPlanePath = value;
        return ErrorCode::none;
    default: // '1'
        line.matchGiven = true;
        return readHexValue(value, line.matchValue) ? ErrorCode::none : ErrorCode::invalidHexValue;
    }
}

ErrorCode checkKeyPlaneRequest(const UnfoldCommandLine& line) {
    if (line.keyPlanePath == nullptr || line.format == OutputFormat::e655Z) {
        return ErrorCode::none;
    }
    if (line.format != OutputFormat::e888Alpha) {
        return ErrorCode::noKeyPlane;
    }
    return line.alphaPath == nullptr ? ErrorCode::alphaFileRequired : ErrorCode::none;
}

bool isOption(const char* argument, const char* letters) {
    return argument[0] == '-' && argument[1] != '\0' && argument[2] == '\0' &&
           std::strchr(letters, argument[1]) != nullptr;
}

// A mistake in the arguments; with fewer than two, the usage text alone.
Result argumentFailure(int argc, ErrorCode code, std::string_view subject = {}) {
    return argc < 3 ? failure(ErrorCode::usage) : failure(code, subject);
}

} // namespace

ParsedUnfoldCommandLine parseUnfoldCommandLine(int argc, const char* const* argv) {
    ParsedUnfoldCommandLine parsed;
    UnfoldCommandLine& line = parsed.commandLine;
    int index = 1;
    for (; index < argc && argv[index][0] == '-' && argv[index][1] != '\0'; ++index) {
        parsed.request = requestOf(argv[index]);
        if (parsed.request != ToolRequest::run) {
            return parsed;
        }
        if (std::strcmp(argv[index], "--") == 0) {
            ++index;
            break;
        }
        if (isOption(argv[index], "s")) {
            line.imageStream = true;
            continue;
        }
        if (!isOption(argv[index], "fak1")) {
            parsed.result = argumentFailure(argc,
                                            argv[index][1] == '-' ? ErrorCode::unknownLongOption
                                                                  : ErrorCode::unknownOption,
                                            argv[index]);
            return parsed;
        }
        if (index + 1 >= argc) {
            parsed.result = argumentFailure(argc, ErrorCode::optionNeedsValue);
            parsed.result.option = argv[index][1];
            return parsed;
        }
        const ErrorCode error = applyUnfoldOption(argv[index][1], argv[index + 1], line);
        if (error != ErrorCode::none) {
            parsed.result = failure(error, argv[index + 1]);
            parsed.result.option = argv[index][1];
            return parsed;
        }
        ++index;
    }
    if (argc - index != 4) {
        constexpr const char* missing[] = {"width, height, record file and picture path",
                                           "height, record file and picture path",
                                           "record file and picture path", "picture path"};
        parsed.result = argc - index > 4 ? failure(ErrorCode::unexpectedArgument, argv[index + 4])
                                         : argumentFailure(argc, ErrorCode::missingPaths);
        parsed.result.detail = argc - index < 4 ? missing[argc - index] : "";
        return parsed;
    }
    for (const int dimension : {index, index + 1}) {
        std::int32_t& field = dimension == index ? line.width : line.height;
        if (!readPositiveDecimal(argv[dimension], field)) {
            parsed.result = failure(ErrorCode::invalidDimension, argv[dimension]);
            return parsed;
        }
    }
    line.recordPath = argv[index + 2];
    line.picturePath = argv[index + 3];
    // Standard input can be read once: the records and the alpha stream can't
    // both come from it.
    const bool alphaRead = line.alphaPath != nullptr && line.format == OutputFormat::e888Alpha &&
                           line.keyPlanePath != nullptr;
    if (alphaRead && isStandardStream(line.alphaPath) && isStandardStream(line.recordPath)) {
        parsed.result = failure(ErrorCode::standardInputTwice);
        return parsed;
    }
    parsed.result = failure(checkKeyPlaneRequest(line));
    return parsed;
}

} // namespace pixfold
