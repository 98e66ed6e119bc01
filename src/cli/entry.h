// What both tools' entries share: the request an argument vector makes
// (a run, --help or --version), and the one place a run's end is printed.
#pragma once

#include "cleanup.h"
#include "errors.h"
#include "messages.h"
#include "progress.h"
#include "wide.h"

#include <string>
#include <string_view>
#include <vector>

namespace pixfold {

enum class ToolRequest { run, help, version };

// An option scan's outcome: the request, the scan's own failure if any, and
// the tool's command line.
template <class CommandLineType> struct ParsedArguments {
    Result result;
    ToolRequest request = ToolRequest::run;
    CommandLineType commandLine;
    Notices notices; // unknown options passed over
};

// True for "-": standard input as an input path, standard output as an output.
constexpr bool isStandardStream(const char* path) {
    return path[0] == '-' && path[1] == '\0';
}

// help for exactly "--help", version for exactly "--version", else run.
ToolRequest requestOf(const char* argument);

// Prints each notice on standard error.
void printNotices(const Notices& notices, const ToolTexts& texts);

// Redraws a run's progress line in place on standard error.
void drawProgress(Progress& progress);

// Clears the progress line, if one is drawn. A run that succeeded gets its
// last notices: that its images changed size, and on a terminal the summary.
void endProgress(Progress& progress, const Result& result, Notices& notices);

// Prints the help (--help) or "name version" (--version) on standard output,
// or the failure's message; returns the exit status: 0 or 1.
int finishTool(const ToolTexts& texts, ToolRequest request, const Result& result);

// The whole of a tool's main: set the process up, scan the arguments, run,
// and report once.
template <class CommandLineType>
int toolMain(int argc, char** argv,
             ParsedArguments<CommandLineType> (*parse)(int, const char* const*),
             Result (*run)(const CommandLineType&, Notices&, Progress&), const ToolTexts& texts) {
    prepareProcess();
#ifdef _WIN32
    // The arguments as UTF-8, so that names outside the code page open.
    const std::vector<std::string> arguments = utf8Arguments();
    std::vector<const char*> pointers;
    for (const std::string& argument : arguments) {
        pointers.push_back(argument.c_str());
    }
    pointers.push_back(nullptr);
    (void)argc;
    (void)argv;
    const ParsedArguments<CommandLineType> parsed =
        parse(static_cast<int>(arguments.size()), pointers.data());
#else
    const ParsedArguments<CommandLineType> parsed = parse(argc, argv);
#endif
    Result result = parsed.result;
    if (parsed.request == ToolRequest::run && succeeded(result)) {
        printNotices(parsed.notices, texts);
        Notices notices;
        Progress progress = startProgress(standardErrorIsATerminal() ? drawProgress : nullptr);
        result = run(parsed.commandLine, notices, progress);
        endProgress(progress, result, notices);
        printNotices(notices, texts);
    }
    return finishTool(texts, parsed.request, result);
}

} // namespace pixfold
