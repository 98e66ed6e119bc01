#include "decode/decoder.h"

#include "colour/inverse.h"
#include "format/formats.h"
#include "format/pack.h"
#include "format/records.h"

namespace pixfold {

namespace {

bool keyed(std::uint32_t keyValue, OutputFormat format, const KeyPlaneTest& key) {
    if (!key.matchGiven) {
        return keyValue != 0;
    }
    return keyValue == (format == OutputFormat::e655Z ? key.matchValue & 0xFFFFu : key.matchValue);
}

} // namespace

void decodeRecords(const std::uint8_t* records, const std::uint8_t* alpha, std::size_t pixelCount,
                   OutputFormat format, const KeyPlaneTest& key, std::uint8_t* rgb,
                   std::uint8_t* keyPlane) {
    const std::size_t recordSize = recordBytes(format);
    for (std::size_t i = 0; i < pixelCount; ++i) {
        const RecordContents contents = readRecord(records + i * recordSize, format);
        const RgbPixel pixel = codesToRgb(unpackWord(contents.word, format));
        rgb[i * 3] = pixel.r;
        rgb[i * 3 + 1] = pixel.g;
        rgb[i * 3 + 2] = pixel.b;
        if (keyPlane != nullptr) {
            const std::uint32_t keyValue = format == OutputFormat::e888Alpha
                                               ? loadBigEndian32(alpha + i * 4)
                                               : contents.keyValue;
            keyPlane[i] = keyed(keyValue, format, key) ? 255 : 0;
        }
    }
}

} // namespace pixfold
