// The record formats: one table says what each is, and everything else about
// a format (its name after -f, its record size, its layout, whether it carries
// a key value and writes an alpha stream) is read from it.
#pragma once

#include "core/types.h"

#include <cstddef>
#include <iterator>
#include <string_view>

namespace pixfold {

struct FormatTraits {
    OutputFormat format;
    std::string_view name;   // as typed after -f, exact and case-sensitive
    std::size_t recordBytes; // bytes per pixel in the record file
    bool layout888;          // 8-8-8 words; otherwise 6-5-5 (see format/pack.h)
    bool carriesKey;         // a key value per pixel: Z or alpha
    bool writesAlpha;        // the key value goes to a second stream, 4 bytes a pixel
};

// In OutputFormat's order, which is the usage text's.
inline constexpr FormatTraits formatTable[] = {
    {OutputFormat::e655, "e655", 2, false, false, false},
    {OutputFormat::e655Z, "e655Z", 4, false, true, false},
    {OutputFormat::e888, "e888", 4, true, false, false},
    {OutputFormat::e888Alpha, "e888Alpha", 4, true, true, true},
};

inline constexpr std::size_t formatCount = std::size(formatTable);

constexpr bool tableFollowsTheEnum() {
    for (std::size_t i = 0; i < formatCount; ++i) {
        if (static_cast<std::size_t>(formatTable[i].format) != i) {
            return false;
        }
    }
    return true;
}
static_assert(tableFollowsTheEnum(), "formatTable lists the formats in OutputFormat's order");

constexpr const FormatTraits& traitsOf(OutputFormat format) {
    return formatTable[static_cast<std::size_t>(format)];
}

// Exact, case-sensitive match against the formats' names.
bool findFormat(std::string_view name, OutputFormat& format);

constexpr std::string_view formatName(OutputFormat format) {
    return traitsOf(format).name;
}

constexpr std::size_t recordBytes(OutputFormat format) {
    return traitsOf(format).recordBytes;
}

constexpr bool usesLayout888(OutputFormat format) {
    return traitsOf(format).layout888;
}

constexpr bool isKeyedFormat(OutputFormat format) {
    return traitsOf(format).carriesKey;
}

constexpr bool writesAlphaStream(OutputFormat format) {
    return traitsOf(format).writesAlpha;
}

} // namespace pixfold
