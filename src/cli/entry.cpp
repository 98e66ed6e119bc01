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

void drawProgress(Progress& progress) {
    Result line = failure(ErrorCode::streamProgress);
    line.stream = progressFigures(progress);
    std::string text = errorMessage(line, ToolTexts{});
    const std::size_t length = text.size();
    // Spaces over what is left of a longer line before: no terminal escape,
    // so that any terminal and the Windows console show it alike.
    text.append(progress.drawnLength > length ? progress.drawnLength - length : 0, ' ');
    writeText(stderr, "\r" + text);
    std::fflush(stderr);
    progress.drawnLength = length;
}

void endProgress(Progress& progress, const Result& result, Notices& notices) {
    if (progress.drawnLength > 0) {
        writeText(stderr, "\r" + std::string(progress.drawnLength, ' ') + "\r");
        std::fflush(stderr);
        progress.drawnLength = 0;
    }
    if (!succeeded(result)) {
        return; // a failed run converted nothing: its one line says why
    }
    Result notice;
    notice.stream = progressFigures(progress);
    if (notice.stream.changedImage > 0) {
        notice.code = ErrorCode::imageSizeChanged;
        notices.push_back(notice);
    }
    if (progress.draw != nullptr && notice.stream.images > 0) {
        notice.code = ErrorCode::streamSummary;
        notices.push_back(notice);
    }
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
