// Netpbm output: the header of a binary PPM ("P6") or PGM ("P5") image with
// 8-bit samples. Several images one after another make a multi-image stream
// that netpbm and ffmpeg read back.
#pragma once

#include <cstdint>
#include <string>

namespace pixfold {

inline std::string netpbmHeader(const char* magic, std::int32_t width, std::int32_t height) {
    return std::string(magic) + "\n" + std::to_string(width) + " " + std::to_string(height) +
           "\n255\n";
}

} // namespace pixfold
