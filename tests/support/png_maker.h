// PNGs made to order for the tests: any colour type and bit depth, tRNS,
// Adam7, and chunks of one's own, deflated as stored blocks (no compression,
// so no library is needed to make them).
#pragma once

#include "support/files.h"

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace pixfold::testing_support {

struct PngPicture {
    int width = 1;
    int height = 1;
    int bitDepth = 8;
    int colourType = 2; // 0 grey, 2 RGB, 3 palette, 4 grey and alpha, 6 RGB and alpha
    bool interlaced = false;
    std::vector<std::uint16_t> samples; // width * height * channels; palette indices for type 3
    std::vector<std::array<std::uint8_t, 3>> palette;
    Bytes transparency; // the tRNS chunk's data, if any
    Bytes beforeImage;  // whole chunks between the header chunks and IDAT
    Bytes afterImage;   // whole chunks between the last IDAT and IEND
};

// Samples a pixel of the colour type: 1, 3, 1, 2, 4.
int channelsOf(int colourType);

// One chunk: length, type, data and CRC.
Bytes pngChunk(const std::string& type, const Bytes& data);

// The whole file; idatSize splits the deflated data into IDAT chunks of that
// many bytes (0: one chunk).
Bytes makePng(const PngPicture& picture, std::size_t idatSize = 0);

// A tRNS chunk's data for a grey or RGB colour key: two bytes a sample.
Bytes colourKeyData(const std::vector<std::uint16_t>& key);

// The tests' random numbers (xorshift): the next of state.
std::uint32_t nextRandom(std::uint32_t& state);

// Random samples below 2^depth, every fifth pixel the same as the first (so
// that a colour key and -m find some), alpha 0 on every third pixel, and for
// palettes an index below entries.
PngPicture randomPicture(int colourType, int depth, int width, int height, std::uint32_t seed);

// The tRNS chunk of each colour type that has one: the first pixel's colour
// as the key, or alphas for the first palette entries (0 for the first).
Bytes transparencyOf(const PngPicture& picture);

// A test PNG's file name, without ".png": t<colour type>-d<depth>, then
// -trns, -adam7 and -<width>.
std::string pngCaseName(const PngPicture& picture);

// A PNG damaged in one way, named for it.
struct DamagedPng {
    std::string name;
    Bytes bytes;
};

// The good PNG the damaged ones are made from: 40 x 30, a palette of 4 bits
// with tRNS, IDAT chunks of 400 bytes.
Bytes undamagedPng();

// Every way of damage the readers must refuse with one line: CRCs of the
// header, tRNS and image data; a flipped image data byte; the file cut in
// and between IDATs and before IEND; a second PLTE; a palette index past
// the palette; a tiny file claiming 1000000 x 2147483647 RGBA pixels; and
// deflate streams damaged inside chunks whose CRCs hold.
std::vector<DamagedPng> damagedPngs();

} // namespace pixfold::testing_support
