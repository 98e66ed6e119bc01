// Encodes a run of pixels, as read, into the records of one format.
#pragma once

#include "colour/convert.h"
#include "core/types.h"
#include "cpu/path.h"
#include "format/key.h"

#include <cstddef>
#include <cstdint>

namespace pixfold {

// The pixel loop in three builds (cpu/path.h): portable C++ (what ARM, s390x
// and older x86 run), and on x86 an AVX2 and an AVX-512 one written with
// intrinsics. All give identical bytes.
struct EncodePlan {
    OutputFormat format = OutputFormat::e888;
    Path path = Path::portable;
    ConversionScale scale;
    EstimateScale estimate;
    WideScale wide; // 16-bit samples
    KeyTest key;
};

// maxValue is the header's, 1 to 65535. A path this processor lacks runs the
// portable loop.
EncodePlan makeEncodePlan(const ConversionSettings& settings, std::int32_t maxValue,
                          Path path = activePath());

// samples: pixelCount * 3 bytes, red, green, blue, none above the maximum value.
// records: pixelCount * recordBytes(format) bytes.
// alpha: pixelCount * 4 bytes for e888Alpha; unused (may be null) otherwise.
void encodePixels(const std::uint8_t* samples, std::size_t pixelCount, const EncodePlan& plan,
                  std::uint8_t* records, std::uint8_t* alpha);

// The same for samples above 255 (maximum values 256 to 65535): samples holds
// pixelCount * 3 host-endian 16-bit samples, none above the maximum value.
void encodeWidePixels(const std::uint16_t* samples, std::size_t pixelCount, const EncodePlan& plan,
                      std::uint8_t* records, std::uint8_t* alpha);

// After encodePixels or encodeWidePixels over the same pixels: gives each pixel whose opacity
// sample is 0 the match value, as a key-colour match does (e655Z's Z,
// e888Alpha's alpha; e655 and e888 carry no key value). A pass of its own, so
// the pixel loops stay as they are for every type.
void keyTransparentPixels(const std::uint8_t* opacity, std::size_t pixelCount,
                          const EncodePlan& plan, std::uint8_t* records, std::uint8_t* alpha);

} // namespace pixfold
