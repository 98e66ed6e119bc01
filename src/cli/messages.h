// The one line that reports each failure or notice, and where it goes.
#pragma once

#include "errors.h"

#include <string>
#include <string_view>

namespace pixfold {

// What a tool says of itself.
struct ToolTexts {
    std::string_view name;
    std::string_view usage; // what a usage error prints: the historic text
    std::string_view help;  // what --help prints: every option
};

// What reports a failure or notice: one line; a mistake in the arguments is
// that line, then the tool's usage text and a pointer to --help.
std::string errorMessage(const Result& result, const ToolTexts& texts);

// Prints the failure's message on standard error and returns exit status 1.
int reportFailure(const Result& result, const ToolTexts& texts);

} // namespace pixfold
