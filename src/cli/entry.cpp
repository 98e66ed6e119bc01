#include "entry.h"

#include "messages.h"

#include "wide.h"

#include <cstdio>
#include <cstring>
#include <string>

namespace pixfold {

ToolRequest requestOf(const char* argument) {
    if (std::strcmp(argument, "--help") == 0) {
        return ToolRequest::help;
    }
    return std::strcmp(argument, "--version") == 0 ? ToolRequest::version : ToolRequest::run;
}

void printNotices(const Notices& notices, const ToolTexts& texts) {
    for (const Result& notice : notices) {
        const std::string message = errorMessage(notice, texts);
        writeText(stderr, message);
    }
    std::fflush(stderr);
}

int finishTool(const ToolTexts& texts, ToolRequest request, const Result& result) {
    if (request == ToolRequest::run) {
        return succeeded(result) ? 0 : reportFailure(result, texts);
    }
    const std::string text = request == ToolRequest::help
                                 ? std::string(texts.help)
                                 : std::string(texts.name) + " " PIXFOLD_VERSION "\n";
    writeText(stdout, text);
    // The reason of the call that failed: the write, or else the flush.
    bool failed = std::ferror(stdout) != 0;
    SystemError why = failed ? lastErrno() : SystemError{};
    if (!failed && std::fflush(stdout) != 0) {
        failed = true;
        why = lastErrno();
    }
    return failed ? reportFailure(failure(ErrorCode::cantWriteStdout, {}, why), texts) : 0;
}

} // namespace pixfold
