// pixunfold's option scan.
#pragma once

#include "common/errors.h"
#include "common/types.h"

#include <cstdint>
#include <string_view>

namespace pixfold {

struct UnfoldCommandLine {
    OutputFormat format = OutputFormat::e888;
    const char* alphaPath = nullptr; // -a
    const char* maskPath = nullptr;  // -k
    bool matchGiven = false;         // -1
    std::uint32_t matchValue = 0;
    std::int32_t width = 0;
    std::int32_t height = 0;
    const char* recordPath = nullptr;
    const char* ppmPath = nullptr;
};

struct ParsedUnfoldCommandLine {
    ErrorCode error = ErrorCode::none;
    UnfoldCommandLine commandLine;
    std::string_view badValue;
    char badOption = 0;
};

// Options, each with a value, then width, height, record file and PPM file.
// Unlike pixfold's scan this one is strict: an unknown option, a missing value
// or a missing or extra argument is a usage error.
ParsedUnfoldCommandLine parseUnfoldCommandLine(int argc, const char* const* argv);

// A decimal number from 1 to 2147483647, digits only.
bool readPositiveDecimal(std::string_view text, std::int32_t& value);

} // namespace pixfold
