// Records back to RGB samples and a key plane, as pixunfold shows them: the
// one decode loop the library calls.
#pragma once

#include "core/types.h"

#include <cstddef>
#include <cstdint>

namespace pixfold {

// Which key values make a key-plane pixel 255: without a match value any
// value but 0, with one that value alone (for e655Z its low 16 bits, all the
// record keeps).
struct KeyPlaneTest {
    bool matchGiven = false;
    std::uint32_t matchValue = 0;
};

// records: pixelCount * recordBytes(format) bytes; rgb: pixelCount * 3.
// keyPlane: pixelCount bytes, or null for none; alpha (e888Alpha with a key
// plane only): pixelCount * 4 bytes.
void decodeRecords(const std::uint8_t* records, const std::uint8_t* alpha, std::size_t pixelCount,
                   OutputFormat format, const KeyPlaneTest& key, std::uint8_t* rgb,
                   std::uint8_t* keyPlane);

} // namespace pixfold
