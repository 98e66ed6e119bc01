#include "support/png_maker.h"

#include <algorithm>

namespace pixfold::testing_support {

namespace {

constexpr std::uint32_t adamPass[7][4] = {{0, 0, 8, 8}, {4, 0, 8, 8}, {0, 4, 4, 8}, {2, 0, 4, 4},
                                          {0, 2, 2, 4}, {1, 0, 2, 2}, {0, 1, 1, 2}};

std::uint32_t crc32(const std::uint8_t* bytes, std::size_t count) {
    std::uint32_t crc = 0xFFFFFFFFu;
    for (std::size_t i = 0; i < count; ++i) {
        crc ^= bytes[i];
        for (int bit = 0; bit < 8; ++bit) {
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
        }
    }
    return ~crc;
}

void appendBigEndian(Bytes& out, std::uint32_t value, int bytes) {
    for (int i = bytes - 1; i >= 0; --i) {
        out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
    }
}

// Rows of the pixels at x = x0 + i * dx, y = y0 + j * dy, each behind filter byte 0.
void appendScanlines(const PngPicture& picture, const std::uint32_t (&pass)[4], Bytes& out) {
    const auto channels = static_cast<std::size_t>(channelsOf(picture.colourType));
    const auto width = static_cast<std::uint32_t>(picture.width);
    const auto height = static_cast<std::uint32_t>(picture.height);
    if (width <= pass[0] || height <= pass[1]) {
        return;
    }
    for (std::uint32_t y = pass[1]; y < height; y += pass[3]) {
        out.push_back(0);
        unsigned bits = 0;
        unsigned pending = 0;
        for (std::uint32_t x = pass[0]; x < width; x += pass[2]) {
            for (std::size_t c = 0; c < channels; ++c) {
                const std::uint16_t sample =
                    picture.samples[(std::size_t{y} * width + x) * channels + c];
                if (picture.bitDepth == 16) {
                    appendBigEndian(out, sample, 2);
                    continue;
                }
                pending = (pending << picture.bitDepth) | sample;
                bits += static_cast<unsigned>(picture.bitDepth);
                if (bits == 8) {
                    out.push_back(static_cast<std::uint8_t>(pending));
                    bits = 0;
                    pending = 0;
                }
            }
        }
        if (bits > 0) {
            out.push_back(static_cast<std::uint8_t>(pending << (8 - bits)));
        }
    }
}

// A zlib stream of stored blocks.
Bytes deflateStored(const Bytes& data) {
    Bytes out = {0x78, 0x01};
    std::size_t at = 0;
    do {
        const std::size_t length = std::min<std::size_t>(data.size() - at, 65535);
        out.push_back(at + length == data.size() ? 1 : 0);
        out.push_back(static_cast<std::uint8_t>(length));
        out.push_back(static_cast<std::uint8_t>(length >> 8));
        out.push_back(static_cast<std::uint8_t>(~length));
        out.push_back(static_cast<std::uint8_t>(~length >> 8));
        out.insert(out.end(), data.begin() + static_cast<long>(at),
                   data.begin() + static_cast<long>(at + length));
        at += length;
    } while (at < data.size());
    std::uint32_t a = 1;
    std::uint32_t b = 0;
    for (const std::uint8_t byte : data) {
        a = (a + byte) % 65521;
        b = (b + a) % 65521;
    }
    appendBigEndian(out, (b << 16) | a, 4);
    return out;
}

} // namespace

int channelsOf(int colourType) {
    constexpr int channels[] = {1, 0, 3, 1, 2, 0, 4};
    return channels[colourType];
}

Bytes pngChunk(const std::string& type, const Bytes& data) {
    Bytes chunk;
    appendBigEndian(chunk, static_cast<std::uint32_t>(data.size()), 4);
    chunk.insert(chunk.end(), type.begin(), type.end());
    chunk.insert(chunk.end(), data.begin(), data.end());
    appendBigEndian(chunk, crc32(chunk.data() + 4, chunk.size() - 4), 4);
    return chunk;
}

Bytes colourKeyData(const std::vector<std::uint16_t>& key) {
    Bytes data;
    for (const std::uint16_t sample : key) {
        appendBigEndian(data, sample, 2);
    }
    return data;
}

Bytes makePng(const PngPicture& picture, std::size_t idatSize) {
    Bytes header;
    appendBigEndian(header, static_cast<std::uint32_t>(picture.width), 4);
    appendBigEndian(header, static_cast<std::uint32_t>(picture.height), 4);
    header.insert(header.end(), {static_cast<std::uint8_t>(picture.bitDepth),
                                 static_cast<std::uint8_t>(picture.colourType), 0, 0,
                                 static_cast<std::uint8_t>(picture.interlaced ? 1 : 0)});
    Bytes png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    png = concatenate({png, pngChunk("IHDR", header)});
    if (!picture.palette.empty()) {
        Bytes entries;
        for (const auto& entry : picture.palette) {
            entries.insert(entries.end(), entry.begin(), entry.end());
        }
        png = concatenate({png, pngChunk("PLTE", entries)});
    }
    if (!picture.transparency.empty()) {
        png = concatenate({png, pngChunk("tRNS", picture.transparency)});
    }
    png = concatenate({png, picture.beforeImage});
    Bytes scanlines;
    if (picture.interlaced) {
        for (const auto& pass : adamPass) {
            appendScanlines(picture, pass, scanlines);
        }
    } else {
        appendScanlines(picture, {0, 0, 1, 1}, scanlines);
    }
    const Bytes deflated = deflateStored(scanlines);
    const std::size_t step = idatSize == 0 ? deflated.size() : idatSize;
    for (std::size_t at = 0; at < deflated.size(); at += step) {
        const std::size_t end = std::min(deflated.size(), at + step);
        png =
            concatenate({png, pngChunk("IDAT", Bytes(deflated.begin() + static_cast<long>(at),
                                                     deflated.begin() + static_cast<long>(end)))});
    }
    return concatenate({png, picture.afterImage, pngChunk("IEND", {})});
}

std::uint32_t nextRandom(std::uint32_t& state) {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    return state;
}

PngPicture randomPicture(int colourType, int depth, int width, int height, std::uint32_t seed) {
    PngPicture picture;
    picture.width = width;
    picture.height = height;
    picture.bitDepth = depth;
    picture.colourType = colourType;
    const int channels = channelsOf(colourType);
    const std::uint32_t limit = colourType == 3 ? (1u << depth) - (depth > 1 ? 1 : 0) : 1u << depth;
    for (int i = 0; i < width * height; ++i) {
        for (int c = 0; c < channels; ++c) {
            const bool alpha = (colourType == 4 || colourType == 6) && c == channels - 1;
            const std::uint32_t value = i % 5 == 0 && i > 0
                                            ? picture.samples[static_cast<std::size_t>(c)]
                                        : alpha && i % 3 == 0 ? 0
                                                              : nextRandom(seed) % limit;
            picture.samples.push_back(static_cast<std::uint16_t>(value));
        }
    }
    if (colourType == 3) {
        for (std::uint32_t i = 0; i < limit; ++i) {
            picture.palette.push_back({static_cast<std::uint8_t>(nextRandom(seed)),
                                       static_cast<std::uint8_t>(i * 3),
                                       static_cast<std::uint8_t>(nextRandom(seed))});
        }
    }
    return picture;
}

Bytes transparencyOf(const PngPicture& picture) {
    if (picture.colourType == 3) {
        Bytes alphas = {0};
        for (std::size_t i = 1; i < (picture.palette.size() + 1) / 2; ++i) {
            alphas.push_back(static_cast<std::uint8_t>(i * 37));
        }
        return alphas;
    }
    const int channels = channelsOf(picture.colourType);
    return colourKeyData(
        std::vector<std::uint16_t>(picture.samples.begin(), picture.samples.begin() + channels));
}

namespace {

PngPicture undamagedPicture() {
    PngPicture picture = randomPicture(3, 4, 40, 30, 99);
    picture.transparency = transparencyOf(picture);
    return picture;
}

} // namespace

Bytes undamagedPng() {
    return makePng(undamagedPicture(), 400);
}

std::vector<DamagedPng> damagedPngs() {
    const PngPicture picture = undamagedPicture();
    const Bytes good = undamagedPng();
    const auto find = [&](const char* type) {
        return static_cast<std::size_t>(std::search(good.begin(), good.end(), type, type + 4) -
                                        good.begin());
    };
    const std::size_t firstIdat = find("IDAT") - 4;
    const std::size_t iend = find("IEND") - 4;
    const auto flipped = [&](std::size_t at) {
        Bytes bytes = good;
        bytes[at] ^= 0x40;
        return bytes;
    };
    const auto cut = [&](std::size_t end) {
        return Bytes(good.begin(), good.begin() + static_cast<long>(end));
    };
    // The first IDAT's deflated data, keep bytes of it with the block header
    // given, alone in its chunk.
    const auto rechunked = [&](std::size_t keep, std::uint8_t blockHeader) {
        Bytes data(good.begin() + static_cast<long>(firstIdat + 8),
                   good.begin() + static_cast<long>(firstIdat + 8 + keep));
        data[2] = blockHeader;
        return concatenate({cut(firstIdat), pngChunk("IDAT", data), pngChunk("IEND", {})});
    };
    PngPicture secondPalette = picture;
    secondPalette.beforeImage = pngChunk("PLTE", {1, 2, 3});
    PngPicture badIndex = picture;
    badIndex.samples[17] = static_cast<std::uint16_t>(picture.palette.size());
    return {
        {"header-crc", flipped(8 + 8 + 13)},
        {"trns-crc", flipped(find("tRNS") + 4 + picture.transparency.size())},
        {"idat-crc", flipped(firstIdat + 8 + 400)},
        {"idat-data", flipped(firstIdat + 8 + 200)},
        {"cut-in-first-idat", cut(firstIdat + 100)},
        {"cut-between-idats", cut(firstIdat + 8 + 400 + 4)},
        {"cut-in-last-idat", cut(iend - 10)},
        {"no-iend", cut(iend)},
        {"cut-in-iend-crc", cut(good.size() - 2)},
        {"second-plte", makePng(secondPalette)},
        {"palette-index", makePng(badIndex)},
        {"huge-header", concatenate({cut(8),
                                     pngChunk("IHDR", {0, 0x0F, 0x42, 0x40, 0x7F, 0xFF, 0xFF, 0xFF,
                                                       8, 6, 0, 0, 0}),
                                     pngChunk("IDAT", {0x78, 0x01}), pngChunk("IEND", {})})},
        {"deflate-block-type", rechunked(400, 0x06)}, // a type deflate does not have
        {"deflate-cut", rechunked(300, good[firstIdat + 10])},
    };
}

std::string pngCaseName(const PngPicture& picture) {
    std::string name = "t" + std::to_string(picture.colourType);
    name += "-d" + std::to_string(picture.bitDepth);
    name += picture.transparency.empty() ? "" : "-trns";
    name += picture.interlaced ? "-adam7" : "";
    return name + "-" + std::to_string(picture.width);
}

} // namespace pixfold::testing_support
