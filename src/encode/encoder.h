// Encodes a run of pixels, as read, into the records of one format.
#pragma once

#include "common/types.h"
#include "encode/convert.h"
#include "encode/key.h"

#include <cstddef>
#include <cstdint>

namespace pixfold {

struct EncodePlan {
    OutputFormat format = OutputFormat::e888;
    ConversionScale scale;
    KeyTest key;
};

EncodePlan makeEncodePlan(const ConversionSettings& settings, std::int32_t maxValue);

// samples: pixelCount * 3 bytes, red, green, blue, none above the maximum value.
// records: pixelCount * recordBytes(format) bytes.
// alpha: pixelCount * 4 bytes for e888Alpha; unused (may be null) otherwise.
void encodePixels(const std::uint8_t* samples, std::size_t pixelCount, const EncodePlan& plan,
                  std::uint8_t* records, std::uint8_t* alpha);

} // namespace pixfold
