// Decodes a run of records back to RGB samples, and the key plane, for
// pixunfold: exactly the samples codesToRgb gives for every record, at a
// speed near that of moving the bytes.
#pragma once

#include "core/types.h"
#include "cpu/path.h"
#include "format/layouts.h"

#include <cstddef>
#include <cstdint>

namespace pixfold {

// The estimate of one channel for 8-bit codes y, cr, cb, in unsigned 32-bit
// arithmetic (which wraps; the true sum always lies within 0 .. 2^32):
//
//   T = bias + luma * y + red * cr + blue * cb
//
// is the channel's value before rounding, plus 512.5 (the rounding and an
// offset that keeps it positive), in fixed point with 21 fractional bits, plus
// a guard of decodeGuard units. Each weight is rounded once, so T is within
// 384 units (3 * 255 * 0.5, and 0.5 for the bias) of that, and the double
// formula stays within a few millionths of a unit of the real value. Where T's
// fractional bits are below 2 * decodeGuard the value may lie on the other
// side of a sample boundary, or on a tie, and the pixel goes to codesToRgb;
// everywhere else (T >> 21) - 512, clamped to 0 .. 255, is codesToRgb's sample.
// A test compares every code triple.
constexpr int decodeFractionBits = 21;
constexpr std::uint32_t decodeGuard = 512;
constexpr std::int32_t decodeOffset = 512;

// The decode loop in three builds (cpu/path.h): portable C++ (e655 by a
// table), and on x86 an AVX2 and an AVX-512 loop written with intrinsics (the
// AVX-512 one for RGB24; the other layouts run the AVX2 loop there). All give
// identical samples.
struct ChannelEstimate {
    std::uint32_t luma = 0;
    std::uint32_t red = 0;
    std::uint32_t blue = 0;
    std::uint32_t bias = 0;
};

// What the key plane shows: 255 where a pixel's key value is wanted (or, with
// anyNonZero, is not zero), 0 elsewhere.
struct KeyPlaneTest {
    bool anyNonZero = true;
    std::uint32_t wanted = 0;
};

// The channel estimates of red, green and blue: constants, worked out when
// compiled.
const ChannelEstimate* channelEstimates();

struct DecodePlan {
    OutputFormat format = OutputFormat::e888;
    Path path = Path::portable;
    // RGB24, BGR24, RGBA32 or BGRA32. The alpha byte is the key plane's
    // (test) for e655Z and e888Alpha, 255 for e655 and e888.
    PixelLayout layout = PixelLayout::rgb24;
    KeyPlaneTest test;
    // e655 and e655Z on the portable path: the samples of every 16-bit value,
    // as the bytes red, green, blue, 0 in memory. One table for the process in
    // static storage, filled on first use and never changed after.
    const std::uint32_t* table655 = nullptr;
};

// A path this processor lacks runs the portable loop.
DecodePlan makeDecodePlan(OutputFormat format, Path path = activePath(),
                          PixelLayout layout = PixelLayout::rgb24, KeyPlaneTest test = {});

// records: pixelCount * recordBytes(plan.format) bytes; pixels: pixelCount *
// pixelBytes(plan.layout). keys, read for RGBA32 and BGRA32 only: the key
// values as decodeKeyPlane takes them (e655Z's records, e888Alpha's alpha
// values).
void decodeRecords(const std::uint8_t* records, std::size_t pixelCount, const DecodePlan& plan,
                   std::uint8_t* pixels, const std::uint8_t* keys = nullptr);

// keys: e655Z's records, or e888Alpha's alpha stream, pixelCount * 4 bytes;
// null for the formats with no key value, whose pixels all hold 0. On the
// AVX-512 path 16 keys a step; every path gives the same mask.
void decodeKeyPlane(const std::uint8_t* keys, std::size_t pixelCount, OutputFormat format,
                    const KeyPlaneTest& test, std::uint8_t* mask, Path path = activePath());

} // namespace pixfold
