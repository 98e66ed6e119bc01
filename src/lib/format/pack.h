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

// The 6-5-5 value of three codes: 16 bits, each field masked to its width.
constexpr std::uint32_t value655(std::uint32_t y, std::uint32_t cr, std::uint32_t cb) {
    return (((y >> 2) & 0x3Fu) << 10) + (((cr >> 3) & 0x1Fu) << 5) + ((cb >> 3) & 0x1Fu);
}

// The codes a 6-5-5 value holds. The bits the layout drops come back as the
// middle of their range (binary 10 for luma, 100 for the differences).
constexpr YCrCbCodes codesOf655(std::uint32_t value) {
    return {static_cast<std::int32_t>((((value >> 10) & 0x3Fu) << 2) | 0x2u),
            static_cast<std::int32_t>((((value >> 5) & 0x1Fu) << 3) | 0x4u),
            static_cast<std::int32_t>(((value & 0x1Fu) << 3) | 0x4u)};
}

// The 8-8-8 word of three codes.
constexpr std::uint32_t word888(std::uint32_t y, std::uint32_t cr, std::uint32_t cb) {
    return ((y & 0xFFu) << 24) + ((cr & 0xFFu) << 16) + ((cb & 0xFFu) << 8);
}

constexpr YCrCbCodes codesOf888(std::uint32_t word) {
    return {static_cast<std::int32_t>((word >> 24) & 0xFFu),
            static_cast<std::int32_t>((word >> 16) & 0xFFu),
            static_cast<std::int32_t>((word >> 8) & 0xFFu)};
}

constexpr PackedWord packWord(YCrCbCodes codes, OutputFormat format) {
    const auto y = static_cast<std::uint32_t>(codes.y);
    const auto cr = static_cast<std::uint32_t>(codes.cr);
    const auto cb = static_cast<std::uint32_t>(codes.cb);
    return usesLayout888(format) ? word888(y, cr, cb) : value655(y, cr, cb) << 16;
}

constexpr YCrCbCodes unpackWord(PackedWord word, OutputFormat format) {
    return usesLayout888(format) ? codesOf888(word) : codesOf655(word >> 16);
}

} // namespace pixfold
