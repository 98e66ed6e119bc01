#include "common/entry.h"

#include "common/wide.h"

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

int finishTool(std::string_view toolName, std::string_view usageText, ToolRequest request,
               const Result& result) {
    if (request == ToolRequest::run) {
        return succeeded(result) ? 0 : reportFailure(result, usageText);
    }
    const std::string text = request == ToolRequest::help
                                 ? std::string(usageText)
                                 : std::string(toolName) + " " PIXFOLD_VERSION "\n";
#ifdef _WIN32
    writeText(stdout, text);
#else
    std::fputs(text.c_str(), stdout);
#endif
    return std::fflush(stdout) == 0 ? 0 : 1;
}

} // namespace pixfold
