// Packing of one pixel's codes into a 32-bit word, and back.
//
// 8-8-8 layout (e888, e888Alpha):
//
//    31       24 23       16 15        8 7         0
//   +-----------+-----------+-----------+-----------+
//   |     y     |    cr     |    cb     |     0     |
//   +-----------+-----------+-----------+-----------+
//
// 6-5-5 layout (e655, e655Z): the top 6, 5 and 5 bits of the 8-bit codes in
// the upper half, zero in the lower half.
//
//    31    26 25   21 20   16 15                   0
//   +--------+-------+-------+----------------------+
//   | y >> 2 |cr >> 3|cb >> 3|          0           |
//   +--------+-------+-------+----------------------+
#pragma once

#include "core/types.h"
#include "format/formats.h"

namespace pixfold {

inline PackedWord packWord(YCrCbCodes codes, OutputFormat format) {
    const auto y = static_cast<std::uint32_t>(codes.y);
    const auto cr = static_cast<std::uint32_t>(codes.cr);
    const auto cb = static_cast<std::uint32_t>(codes.cb);
    if (usesLayout888(format)) {
        return ((y & 0xFFu) << 24) + ((cr & 0xFFu) << 16) + ((cb & 0xFFu) << 8);
    }
    return (((y >> 2) & 0x3Fu) << 26) + (((cr >> 3) & 0x1Fu) << 21) + (((cb >> 3) & 0x1Fu) << 16);
}

// The codes a packed word holds. The bits the 6-5-5 layout drops come back as
// the middle of their range (binary 10 for luma, 100 for the differences).
inline YCrCbCodes unpackWord(PackedWord word, OutputFormat format) {
    if (usesLayout888(format)) {
        return {static_cast<std::int32_t>((word >> 24) & 0xFFu),
                static_cast<std::int32_t>((word >> 16) & 0xFFu),
                static_cast<std::int32_t>((word >> 8) & 0xFFu)};
    }
    return {static_cast<std::int32_t>((((word >> 26) & 0x3Fu) << 2) | 0x2u),
            static_cast<std::int32_t>((((word >> 21) & 0x1Fu) << 3) | 0x4u),
            static_cast<std::int32_t>((((word >> 16) & 0x1Fu) << 3) | 0x4u)};
}

} // namespace pixfold
