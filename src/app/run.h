// One conversion: open the input, check its header, open the output, then
// stream every pixel through the encoder.
#pragma once

#include "common/errors.h"
#include "common/types.h"

#include <cstddef>

namespace pixfold {

// Pixels per read and write: about 350 KiB of buffers whatever the image
// size, and few enough system calls that they cost little next to the copy.
constexpr std::size_t conversionBlockPixels = 32768;

// Everything that can fail before the first record is checked before the
// output path is touched: a failed run never creates or empties it unless the
// header was good. Records written before a later failure stay in the file.
ErrorCode runConversion(const ConversionSettings& settings, const char* inputPath,
                        const char* outputPath);

} // namespace pixfold
