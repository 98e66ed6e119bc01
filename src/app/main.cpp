// pixfold: converts one binary PPM image into a headerless stream of packed
// Y'CrCb records. Exit status 0 after a complete conversion, 1 on any failure,
// with one line saying why.
#include "app/command_line.h"
#include "app/run.h"
#include "common/errors.h"

#include <cstdio>
#include <string>

namespace {

int reportFailure(pixfold::ErrorCode code, const pixfold::ErrorContext& context) {
    const std::string message = pixfold::errorMessage(code, context);
    std::FILE* stream = pixfold::errorGoesToStandardOutput(code) ? stdout : stderr;
    std::fputs(message.c_str(), stream);
    return 1;
}

} // namespace

int main(int argc, char** argv) {
    const pixfold::ParsedCommandLine parsed = pixfold::parseCommandLine(argc, argv);
    if (parsed.error != pixfold::ErrorCode::none) {
        pixfold::ErrorContext context;
        context.optionValue = parsed.badValue;
        context.option = parsed.badOption;
        return reportFailure(parsed.error, context);
    }
    const pixfold::CommandLine& commandLine = parsed.commandLine;
    const pixfold::ErrorCode result =
        pixfold::runConversion(commandLine.settings, commandLine.inputPath, commandLine.outputPath);
    if (result != pixfold::ErrorCode::none) {
        pixfold::ErrorContext context;
        context.inputPath = commandLine.inputPath;
        context.outputPath = commandLine.outputPath;
        return reportFailure(result, context);
    }
    return 0;
}
