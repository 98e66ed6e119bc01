// The one line that reports each failure or notice, and where it goes.
#pragma once

#include "core/errors.h"

#include <string>
#include <string_view>

namespace pixfold {

// The one line that reports a failure; usageText is the calling tool's own.
std::string errorMessage(const Result& result, std::string_view usageText);

// "Unknown format" goes to standard output, where the tool has always written
// it and where scripts that parse it look; every other message to standard error.
constexpr bool errorGoesToStandardOutput(ErrorCode code) {
    return code == ErrorCode::unknownFormat;
}

// Prints the failure's message on its stream and returns exit status 1.
int reportFailure(const Result& result, std::string_view usageText);

} // namespace pixfold
