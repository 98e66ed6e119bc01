// Encodes a run of pixels, as read, into the records of one format.
#pragma once

#include "colour/convert.h"
#include "core/types.h"
#include "cpu/path.h"
#include "format/key.h"
#include "format/layouts.h"

#include <cstddef>
#include <cstdint>

namespace pixfold {

// The pixel loop in three builds (cpu/path.h): portable C++ (what ARM, s390x
// and older x86 run), and on x86 an AVX2 and an AVX-512 one written with
// intrinsics. All give identical bytes.
struct EncodePlan {
    OutputFormat format = OutputFormat::e888;
    Path path = Path::portable;
    PixelLayout layout = PixelLayout::rgb24; // how the pixels lie
    bool keyTransparent = false;             // an alpha sample of 0 keys the pixel (-t)
    ConversionScale scale;
    EstimateScale estimate;
    KeyTest key;
};

// maxValue is the header's, 1 to 65535. A path this processor lacks runs the
// portable loop.
EncodePlan makeEncodePlan(const ConversionSettings& settings, std::int32_t maxValue,
                          Path path = activePath(), PixelLayout layout = PixelLayout::rgb24);

// pixels: pixelCount pixels of an 8-bit layout (plan.layout), no colour
// sample above the maximum value. For the tools, RGB24 as read.
// records: pixelCount * recordBytes(format) bytes.
// alpha: pixelCount * 4 bytes for e888Alpha; unused (may be null) otherwise.
void encodePixels(const std::uint8_t* pixels, std::size_t pixelCount, const EncodePlan& plan,
                  std::uint8_t* records, std::uint8_t* alpha);

// The same for 16-bit samples, in host order, at any maximum value: pixels of
// RGB48 or RGBA64 (plan.layout; RGB48 for any other).
void encodeWidePixels(const std::uint8_t* pixels, std::size_t pixelCount, const EncodePlan& plan,
                      std::uint8_t* records, std::uint8_t* alpha);

// The tools' 16-bit samples: pixelCount * 3 of them, red, green, blue.
inline void encodeWidePixels(const std::uint16_t* samples, std::size_t pixelCount,
                             const EncodePlan& plan, std::uint8_t* records, std::uint8_t* alpha) {
    EncodePlan rgb = plan;
    rgb.layout = PixelLayout::rgb48;
    encodeWidePixels(reinterpret_cast<const std::uint8_t*>(samples), pixelCount, rgb, records,
                     alpha);
}

// After encodePixels or encodeWidePixels over the same pixels: gives each pixel whose opacity
// sample is 0 the match value, as a key-colour match does (e655Z's Z,
// e888Alpha's alpha; e655 and e888 carry no key value). A pass of its own, so
// the pixel loops stay as they are for every type.
void keyTransparentPixels(const std::uint8_t* opacity, std::size_t pixelCount,
                          const EncodePlan& plan, std::uint8_t* records, std::uint8_t* alpha);

} // namespace pixfold
