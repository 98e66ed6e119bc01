// pixfold: converts binary PPM images into a headerless stream of packed
// Y'CrCb records. Exit status 0 after a complete conversion, 1 on any failure,
// with one line saying why.
#include "common/errors.h"
#include "common/output.h"
#include "pixfold/command_line.h"
#include "pixfold/run.h"

#include <cstdio>

int main(int argc, char** argv) {
    pixfold::prepareProcess();
    const pixfold::ParsedCommandLine parsed = pixfold::parseCommandLine(argc, argv);
    if (parsed.request == pixfold::Request::help) {
        std::fputs(pixfold::pixfoldUsageText.data(), stdout);
        return std::fflush(stdout) == 0 ? 0 : 1;
    }
    if (parsed.request == pixfold::Request::version) {
        std::fputs("pixfold " PIXFOLD_VERSION "\n", stdout);
        return std::fflush(stdout) == 0 ? 0 : 1;
    }
    pixfold::Result result = parsed.result;
    if (pixfold::succeeded(result)) {
        result = pixfold::runConversion(parsed.commandLine);
    }
    return pixfold::succeeded(result) ? 0
                                      : pixfold::reportFailure(result, pixfold::pixfoldUsageText);
}
