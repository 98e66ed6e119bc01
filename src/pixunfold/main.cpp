// pixunfold: turns pixfold's records back into a viewable P6 PPM, and the key
// plane of e655Z or e888Alpha into a P5 PGM mask. Exit status 0 on success,
// 1 on any failure, with one line on standard error saying why.
#include "common/errors.h"
#include "common/output.h"
#include "pixunfold/command_line.h"
#include "pixunfold/run.h"

#include <cstdio>

int main(int argc, char** argv) {
    pixfold::prepareProcess();
    const pixfold::ParsedUnfoldCommandLine parsed = pixfold::parseUnfoldCommandLine(argc, argv);
    if (parsed.request == pixfold::UnfoldRequest::help) {
        std::fputs(pixfold::pixunfoldUsageText.data(), stdout);
        return std::fflush(stdout) == 0 ? 0 : 1;
    }
    if (parsed.request == pixfold::UnfoldRequest::version) {
        std::fputs("pixunfold " PIXFOLD_VERSION "\n", stdout);
        return std::fflush(stdout) == 0 ? 0 : 1;
    }
    pixfold::Result result = parsed.result;
    if (pixfold::succeeded(result)) {
        result = pixfold::runUnfold(parsed.commandLine);
    }
    return pixfold::succeeded(result) ? 0
                                      : pixfold::reportFailure(result, pixfold::pixunfoldUsageText);
}
