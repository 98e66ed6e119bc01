// The option scan: argument vector in, settings and the two paths out.
#pragma once

#include "common/errors.h"
#include "common/types.h"

#include <cstdint>
#include <string_view>

namespace pixfold {

struct CommandLine {
    ConversionSettings settings;
    const char* inputPath = nullptr;
    const char* outputPath = nullptr;
};

struct ParsedCommandLine {
    ErrorCode error = ErrorCode::none;
    CommandLine commandLine;
    std::string_view badValue; // the value of invalidHexValue
    char badOption = 0;        // the option character of invalidHexValue, as typed
};

ParsedCommandLine parseCommandLine(int argc, const char* const* argv);

// Reads text the way "%x" does: optional leading whitespace, an optional sign,
// an optional 0x or 0X, then hexadecimal digits up to the first other
// character. Only the last 8 digits count; "-" negates modulo 2^32.
// Returns false, leaving value alone, when there is no digit.
bool readHexValue(const char* text, std::uint32_t& value);

// Exact, case-sensitive match against the four format names.
bool findFormat(std::string_view name, OutputFormat& format);

} // namespace pixfold
