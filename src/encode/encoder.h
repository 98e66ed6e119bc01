// Encodes a run of pixels, as read, into the records of one format.
#pragma once

#include "colour/convert.h"
#include "common/types.h"
#include "format/key.h"

#include <cstddef>
#include <cstdint>

namespace pixfold {

// The same pixel loop compiled for the baseline processor, and, on x86, for
// processors with AVX2, where it runs several pixels per instruction. Both give
// identical bytes; the run picks the fastest the processor has.
enum class EncodePath { portable, avx2 };

bool encodePathAvailable(EncodePath path);
EncodePath fastestEncodePath();

struct EncodePlan {
    OutputFormat format = OutputFormat::e888;
    EncodePath path = EncodePath::portable;
    ConversionScale scale;
    KeyTest key;
};

// maxValue is the header's, 1 to 255.
EncodePlan makeEncodePlan(const ConversionSettings& settings, std::int32_t maxValue,
                          EncodePath path = fastestEncodePath());

// samples: pixelCount * 3 bytes, red, green, blue, none above the maximum value.
// records: pixelCount * recordBytes(format) bytes.
// alpha: pixelCount * 4 bytes for e888Alpha; unused (may be null) otherwise.
void encodePixels(const std::uint8_t* samples, std::size_t pixelCount, const EncodePlan& plan,
                  std::uint8_t* records, std::uint8_t* alpha);

} // namespace pixfold
