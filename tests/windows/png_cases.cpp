// Writes the PNGs that CI's Windows stage converts with the native pixfold
// and with pixfold.exe under wine, whose records must be the same bytes:
//   png_cases FOLDER
// FOLDER/good/ gets every colour type and bit depth, with and without tRNS
// and Adam7, at odd sizes (rows that end inside a byte, passes left empty),
// and chunks a decoder passes over;
// FOLDER/damaged/ gets files the reader must refuse with one line.
#include "support/files.h"
#include "support/png_maker.h"

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

using namespace pixfold::testing_support;

namespace {

void writeGood(const std::string& folder) {
    struct Type {
        int colourType;
        std::vector<int> depths;
        bool transparency; // the type may have a tRNS chunk
    };
    const std::vector<Type> types = {
        {0, {1, 2, 4, 8, 16}, true}, {2, {8, 16}, true},  {3, {1, 2, 4, 8}, true},
        {4, {8, 16}, false},         {6, {8, 16}, false},
    };
    std::uint32_t seed = 2463534242u;
    for (const Type& type : types) {
        for (const int depth : type.depths) {
            for (const bool transparent : {false, true}) {
                for (const bool interlaced : {false, true}) {
                    if (transparent && !type.transparency) {
                        continue;
                    }
                    // 13 x 7, and a 1 x 1 image of each kind, interlaced or not.
                    for (const int width : {13, 1}) {
                        PngPicture picture = randomPicture(type.colourType, depth, width,
                                                           width == 1 ? 1 : 7, seed++);
                        picture.interlaced = interlaced;
                        if (transparent) {
                            picture.transparency = transparencyOf(picture);
                        }
                        const std::string name = pngCaseName(picture);
                        writeFile(folder + "/" + name + ".png", makePng(picture, 100));
                    }
                }
            }
        }
    }
    // One past the 64 KiB a read takes at a time: 16-bit RGBA, 96000 bytes.
    writeFile(folder + "/t6-d16-200.png", makePng(randomPicture(6, 16, 200, 60, 16), 8192));
    // A palette of 256 entries, every index used, and one of a single entry.
    PngPicture full = randomPicture(3, 8, 64, 4, 17);
    full.palette.push_back({1, 2, 3});
    for (std::size_t i = 0; i < full.samples.size(); ++i) {
        full.samples[i] = static_cast<std::uint16_t>(i);
    }
    writeFile(folder + "/t3-d8-256.png", makePng(full));
    PngPicture single = randomPicture(3, 1, 9, 2, 18);
    single.palette.resize(1);
    std::fill(single.samples.begin(), single.samples.end(), std::uint16_t{0});
    writeFile(folder + "/t3-d1-one-entry.png", makePng(single));
    // An animated PNG: its default image, acTL before it and a frame after.
    PngPicture animated = randomPicture(6, 8, 9, 5, 45);
    animated.beforeImage = pngChunk("acTL", {0, 0, 0, 2, 0, 0, 0, 0});
    animated.afterImage = pngChunk("fcTL", Bytes(26, 0));
    writeFile(folder + "/t6-d8-animated.png", makePng(animated));
    // Chunks a decoder passes over: tRNS out of place or of the wrong length,
    // a grey image's PLTE.
    PngPicture palette = randomPicture(3, 4, 9, 5, 41);
    palette.transparency = transparencyOf(palette);
    PngPicture late = palette;
    late.transparency.clear();
    late.afterImage = pngChunk("tRNS", transparencyOf(palette));
    PngPicture second = palette;
    second.beforeImage = pngChunk("tRNS", {9});
    PngPicture overlong = palette;
    overlong.transparency.resize(16);
    PngPicture rgb = randomPicture(2, 8, 9, 5, 42);
    rgb.transparency = Bytes(4, 0);
    PngPicture rgba = randomPicture(6, 16, 9, 5, 43);
    rgba.transparency = Bytes(8, 0);
    PngPicture grey = randomPicture(0, 4, 9, 5, 44);
    grey.palette = {{1, 2, 3}};
    const std::vector<std::pair<const char*, const PngPicture*>> passedOver = {
        {"trns-after-idat", &late}, {"second-trns", &second}, {"trns-past-palette", &overlong},
        {"rgb-key-short", &rgb},    {"rgba-trns", &rgba},     {"grey-plte", &grey},
    };
    for (const auto& [name, picture] : passedOver) {
        writeFile(folder + "/passed-over-" + name + ".png", makePng(*picture));
    }
}

void writeDamaged(const std::string& folder) {
    for (const DamagedPng& damaged : damagedPngs()) {
        writeFile(folder + "/" + damaged.name + ".png", damaged.bytes);
    }
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: png_cases FOLDER\n");
        return 2;
    }
    const std::string folder = argv[1];
    std::filesystem::create_directories(folder + "/good");
    std::filesystem::create_directories(folder + "/damaged");
    writeGood(folder + "/good");
    writeDamaged(folder + "/damaged");
    return 0;
}
