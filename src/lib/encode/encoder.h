// Encodes a run of pixels, as read, into the records of one format.
#pragma once

#include "colour/convert.h"
#include "core/types.h"
#include "format/key.h"

#include <cstddef>
#include <cstdint>

namespace pixfold {

// The pixel loop in three builds: portable C++ (what ARM, s390x and older x86
// run), and on x86 an AVX2 and an AVX-512 one written with intrinsics. All give
// identical bytes; runs take the fastest the processor has or the one
// PIXFOLD_FORCE_PATH names, and a caller may name any path (an unavailable one
// falls back to portable).
enum class EncodePath { portable, avx2, avx512 };

constexpr EncodePath allEncodePaths[] = {EncodePath::portable, EncodePath::avx2,
                                         EncodePath::avx512};

// Whether this processor runs the path. The processor is asked once, on the
// first call from any thread, and the answer kept.
bool encodePathAvailable(EncodePath path);
const char* encodePathName(EncodePath path);

// The path runs take, decided once: PIXFOLD_FORCE_PATH's when it is set (and
// not empty), else the fastest available.
struct EncodePathChoice {
    EncodePath path = EncodePath::portable;
    bool usable = true;       // false: PIXFOLD_FORCE_PATH names no path this processor runs
    char forcedName[32] = {}; // PIXFOLD_FORCE_PATH as set (cut to 31 bytes), for messages
};
const EncodePathChoice& encodePathChoice();

// encodePathChoice's path when usable, else the fastest available.
EncodePath fastestEncodePath();

struct EncodePlan {
    OutputFormat format = OutputFormat::e888;
    EncodePath path = EncodePath::portable;
    ConversionScale scale;
    EstimateScale estimate;
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

// After encodePixels over the same pixels: gives each pixel whose opacity
// sample is 0 the match value, as a key-colour match does (e655Z's Z,
// e888Alpha's alpha; e655 and e888 carry no key value). A pass of its own, so
// the pixel loops stay as they are for every type.
void keyTransparentPixels(const std::uint8_t* opacity, std::size_t pixelCount,
                          const EncodePlan& plan, std::uint8_t* records, std::uint8_t* alpha);

} // namespace pixfold
