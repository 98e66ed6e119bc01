// Colours whose codes are known by heart: the worked values, and the colours
// whose luma sits exactly on a rounding tie (fused multiply-add, a reciprocal,
// a regrouped sum or wider intermediates each get at least one of them wrong).
// Also the round-trip tolerances the README quotes.
#pragma once

#include <cstdint>

namespace pixfold::testing_support {

struct KnownColour {
    std::uint8_t r, g, b;
    std::uint8_t y, cr, cb;
};

constexpr KnownColour knownColours[] = {
    {0, 0, 0, 0x10, 0x80, 0x80},       {255, 255, 255, 0xEB, 0x80, 0x80},
    {255, 0, 0, 0x51, 0xF0, 0x5B},     {0, 255, 0, 0x91, 0x23, 0x37},
    {0, 0, 255, 0x29, 0x6F, 0xF0},     {128, 128, 128, 0x7E, 0x80, 0x80},
    {255, 255, 0, 0xD2, 0x92, 0x11},   {0, 255, 255, 0xAA, 0x11, 0xA6},
    {255, 0, 255, 0x6A, 0xDE, 0xCA},   {200, 100, 50, 0x7B, 0xAF, 0x5C},
    {4, 194, 109, 0x7D, 0x34, 0x78},   {30, 186, 82, 0x7E, 0x44, 0x6A},
    {2, 44, 141, 0x35, 0x68, 0xB1},    {5, 65, 25, 0x35, 0x69, 0x78},
    {134, 252, 215, 0xC6, 0x50, 0x81},
};
constexpr std::size_t knownColourCount = sizeof knownColours / sizeof knownColours[0];

// The 16-bit e655 value of a colour's codes.
constexpr unsigned value655(const KnownColour& c) {
    return ((c.y / 4u) << 10u) | ((c.cr / 8u) << 5u) | (c.cb / 8u);
}

// Largest difference of any sample after a round trip, over all 16,777,216
// colours, as the round-trip test measures it.
constexpr int e888Tolerance = 4;
constexpr int e655Tolerance = 14;

} // namespace pixfold::testing_support
