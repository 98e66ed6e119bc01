// pixfold's option scan: argument vector in, settings and paths out.
#pragma once

#include "core/types.h"
#include "entry.h"
#include "errors.h"

#include <string_view>

namespace pixfold {

// The usage text is the tool's historical one, kept as scripts and users know
// it: it spells the no-match option "-O", which the scan takes as -0.
constexpr std::string_view pixfoldUsageText =
    "Usage: pixfold [-f <e655|e655Z|e888|e888Alpha> -m RGB] ppmfile yuvfile\n"
    " -f    output format (default: e888)\n"
    " -m    mask value (RGB, hex)\n"
    " -1    Z/Alpha value if mask matches\n"
    " -O    Z/Alpha value if mask doesn't match\n";

// What --help prints: every option, one line each.
constexpr std::string_view pixfoldHelpText =
    "Usage: pixfold [-f <e655|e655Z|e888|e888Alpha>] [-m RGB] [-t] [-1 hex] [-0 hex]"
    " [-a alphafile] [-s] [--] ppmfile yuvfile\n"
    "Converts PNG and Netpbm images (P1 to P7; 8 or 16 bits a sample) into headerless\n"
    "packed Y'CrCb records.\n"
    "A PNG is read by its signature, samples as stored (no gamma or colour profile).\n"
    " -f    output format (default: e888)\n"
    " -m    key colour, the mask value (RGB, hex): pixels of this colour are keyed\n"
    " -t    transparency as the key: pixels whose alpha sample (PNG alpha or tRNS, PAM\n"
    "       alpha) is 0 are keyed\n"
    " -1    Z/Alpha value of keyed pixels (hex)\n"
    " -0    Z/Alpha value of every other pixel (hex; -O is the same)\n"
    " -a    e888Alpha: write the alpha stream to this file, not to standard output\n"
    " -s    convert every image of the input, one after another, into the output\n"
    "       (PNG and Netpbm images, catenated: cat frames/*.png | pixfold -s - out.yuv);\n"
    "       on a terminal, standard error shows the progress and a summary\n"
    " --    end of the options: the next argument is the input path\n"
    " --help     print this help and exit\n"
    " --version  print the version and exit\n"
    "ppmfile (PNG or Netpbm) '-' is standard input; yuvfile '-' and '-a -' are standard output.\n";

struct FoldCommandLine {
    ConversionSettings settings;
    const char* inputPath = nullptr;
    const char* outputPath = nullptr;
    const char* alphaPath = nullptr; // -a: e888Alpha's alpha stream; standard output when null
    bool imageStream = false;        // -s: convert every image of the input, one after another
};

using ParsedFoldCommandLine = ParsedArguments<FoldCommandLine>;

// Options, then the input path and the output path, and nothing after them.
ParsedFoldCommandLine parseFoldCommandLine(int argc, const char* const* argv);

} // namespace pixfold
