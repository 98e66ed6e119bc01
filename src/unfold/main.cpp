// pixunfold: turns pixfold's records back into a viewable P6 PPM, and the key
// plane of e655Z or e888Alpha into a P5 PGM mask. Exit status 0 on success,
// 1 on any failure, with one line on standard error saying why.
#include "common/errors.h"
#include "unfold/unfold_command_line.h"
#include "unfold/unfold_run.h"

#include <cstdio>
#include <string>

int main(int argc, char** argv) {
    const pixfold::ParsedUnfoldCommandLine parsed = pixfold::parseUnfoldCommandLine(argc, argv);
    pixfold::ErrorContext context;
    pixfold::ErrorCode error = parsed.error;
    std::string path;
    if (error == pixfold::ErrorCode::none) {
        const pixfold::UnfoldResult result = pixfold::runUnfold(parsed.commandLine);
        error = result.error;
        path = result.path;
    }
    if (error == pixfold::ErrorCode::none) {
        return 0;
    }
    context.inputPath = path;
    context.outputPath = path;
    context.optionValue = parsed.badValue;
    context.option = parsed.badOption;
    std::fputs(pixfold::errorMessage(error, context).c_str(), stderr);
    return 1;
}
