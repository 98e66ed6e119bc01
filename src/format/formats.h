// The four record formats: their names as typed after -f, and what each
// writes per pixel.
#pragma once

#include "common/types.h"

#include <cstddef>
#include <string_view>

namespace pixfold {

// Exact, case-sensitive match against "e655", "e655Z", "e888", "e888Alpha".
bool findFormat(std::string_view name, OutputFormat& format);

std::string_view formatName(OutputFormat format);

// Bytes per pixel in the record file.
constexpr std::size_t recordBytes(OutputFormat format) {
    return format == OutputFormat::e655 ? 2 : 4;
}

// e888 and e888Alpha pack 8-8-8 words, e655 and e655Z 6-5-5 words.
constexpr bool usesLayout888(OutputFormat format) {
    return format == OutputFormat::e888 || format == OutputFormat::e888Alpha;
}

constexpr bool isKeyedFormat(OutputFormat format) {
    return format == OutputFormat::e655Z || format == OutputFormat::e888Alpha;
}

// e888Alpha writes a second stream: the 4-byte key value of every pixel.
constexpr bool writesAlphaStream(OutputFormat format) {
    return format == OutputFormat::e888Alpha;
}

} // namespace pixfold
