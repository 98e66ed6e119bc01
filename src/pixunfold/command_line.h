// pixunfold's option scan.
#pragma once

#include "core/types.h"
#include "entry.h"
#include "errors.h"

#include <cstdint>
#include <string_view>

namespace pixfold {

constexpr std::string_view pixunfoldUsageText =
    "Usage: pixunfold [-f <e655|e655Z|e888|e888Alpha>] [-a alphafile] [-k maskfile] [-1 hex] [-s]"
    " width height recordfile ppmfile\n"
    " -f    record format (default: e888)\n"
    " -a    alpha stream saved from pixfold -f e888Alpha (needed for -k with e888Alpha)\n"
    " -k    write the key plane as a PGM: 255 where the key value matches, else 0\n"
    " -1    key value that matches (default: any value but 0)\n"
    " -s    the record file holds any whole number of frames: write them all\n";

// What --help prints: the usage text, and the rest.
constexpr std::string_view pixunfoldHelpText =
    "Usage: pixunfold [-f <e655|e655Z|e888|e888Alpha>] [-a alphafile] [-k maskfile] [-1 hex] [-s]"
    " [--] width height recordfile ppmfile\n"
    " -f    record format (default: e888)\n"
    " -a    alpha stream saved from pixfold -f e888Alpha (needed for -k with e888Alpha)\n"
    " -k    write the key plane as a PGM: 255 where the key value matches, else 0\n"
    " -1    key value that matches (default: any value but 0)\n"
    " -s    the record file holds any whole number of frames: write them all\n"
    " --    end of the options\n"
    "A ppmfile or maskfile whose name ends in .png is written as PNG (8-bit RGB, or grey).\n"
    " --help     print this help and exit\n"
    " --version  print the version and exit\n"
    "recordfile or alphafile '-' is standard input; ppmfile or maskfile '-' is standard output.\n";

struct UnfoldCommandLine {
    OutputFormat format = OutputFormat::e888;
    const char* alphaPath = nullptr;    // -a
    const char* keyPlanePath = nullptr; // -k
    bool matchGiven = false;            // -1
    std::uint32_t matchValue = 0;
    bool imageStream = false; // -s
    std::int32_t width = 0;
    std::int32_t height = 0;
    const char* recordPath = nullptr;
    const char* picturePath = nullptr;
};

using ParsedUnfoldCommandLine = ParsedArguments<UnfoldCommandLine>;

// Options, then width, height, record file and PPM file. Unlike pixfold's
// scan this one is strict: an unknown option, a missing value or a missing or
// extra argument is a usage error.
ParsedUnfoldCommandLine parseUnfoldCommandLine(int argc, const char* const* argv);

} // namespace pixfold
