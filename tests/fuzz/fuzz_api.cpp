// Fuzzes the C API in memory: encode with any layout and format (any int,
// known or not, negative too), width,
// height, stride, maximum value, settings and buffer sizes, on any path the
// processor has, then decode what came out with any strides. Buffers are
// exactly as large as the call is told, so the sanitizer catches any byte
// read or written past them. The results are held to the API's promises:
//  - a failed call leaves the output buffers as they were;
//  - a successful encode gives, for the pixels checked, the records a 1 x 1
//    encode of that pixel alone gives (rows, strides and chunks put each
//    pixel's bytes in place);
//  - a key plane holds only 0 and 255.
#include "api/api_paths.h"
#include "encode/encoder.h"
#include "pixfold/pixfold.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

void require(bool condition) {
    if (!condition) {
        std::abort();
    }
}

// The input's first bytes, one decision each; the rest fills the pixels.
struct Reader {
    const std::uint8_t* data;
    std::size_t size;
    std::size_t at = 0;
    std::uint32_t byte() { return at < size ? data[at++] : 0; }
    std::uint32_t word() { return byte() << 24 | byte() << 16 | byte() << 8 | byte(); }
};

template <class Enum> Enum fromInt(int value) {
    Enum result{};
    std::memcpy(&result, &value, sizeof value); // unknown ones too
    return result;
}

std::size_t sizeOrShort(std::uint64_t needed, bool shortByOne) {
    return static_cast<std::size_t>(shortByOne && needed > 0 ? needed - 1 : needed);
}

struct Call {
    std::int32_t width = 0;
    std::int32_t height = 0;
    int layoutValue = 0;
    pixfold_layout layout{};
    std::size_t pixelSize = 0;
    std::size_t stride = 0;
    std::int32_t maxValue = 255;
    pixfold_settings settings{};
};

// The record and alpha bytes of one pixel encoded alone.
void checkPixel(const Call& call, const std::uint8_t* pixel, const std::uint8_t* record,
                const std::uint8_t* alpha, std::size_t recordSize) {
    std::uint8_t aloneRecord[4] = {};
    std::uint8_t aloneAlpha[4] = {};
    require(pixfold_encode(pixel, call.pixelSize, call.pixelSize, call.layout, aloneRecord,
                           recordSize, aloneAlpha, 4, 1, 1, call.maxValue,
                           &call.settings) == PIXFOLD_OK);
    require(std::memcmp(aloneRecord, record, recordSize) == 0);
    require(alpha == nullptr || std::memcmp(aloneAlpha, alpha, 4) == 0);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Reader in{data, size};
    Call call;
    // Any int as an enum, negative ones too: mostly near the known values,
    // else a whole word.
    const auto anyInt = [&in](int known) {
        const std::uint32_t choice = in.byte();
        return choice < 200 ? static_cast<int>(choice % static_cast<std::uint32_t>(known + 2)) - 1
                            : static_cast<int>(in.word());
    };
    call.layoutValue = anyInt(7);
    call.layout = fromInt<pixfold_layout>(call.layoutValue);
    pixfold_settings_init(&call.settings);
    call.settings.format = fromInt<pixfold_format>(anyInt(4));
    call.width = static_cast<std::int32_t>(in.byte() % 72) - 1;
    call.height = static_cast<std::int32_t>(in.byte() % 10);
    const std::uint32_t strideExtra = in.byte() % 12;
    const std::uint32_t maxByte = in.byte();
    call.maxValue = static_cast<std::int32_t>(maxByte == 0 ? in.byte() % 3 * 128 : maxByte);
    const std::uint32_t flags = in.byte();
    call.settings.key_enabled = static_cast<int>(flags & 1u);
    call.settings.key_transparent = static_cast<int>((flags >> 1) & 1u);
    call.settings.key_colour = in.word();
    call.settings.match_value = in.word();
    call.settings.no_match_value = in.word();
    const std::uint32_t decodeStrides = in.byte();
    const std::uint32_t pathByte = in.byte();

    const std::size_t pixelSize = pixfold_layout_pixel_size(call.layout);
    const std::size_t recordSize = pixfold_record_size(call.settings.format);
    const std::uint64_t columns = call.width > 0 ? static_cast<std::uint64_t>(call.width) : 0;
    const std::uint64_t rows = static_cast<std::uint64_t>(call.height);
    const std::uint64_t pixels = columns * rows;
    // A stride up to 3 bytes short of a row, or up to 8 longer.
    call.pixelSize = pixelSize;
    call.stride = static_cast<std::size_t>(
        std::max<std::int64_t>(0, static_cast<std::int64_t>(columns * pixelSize) +
                                      static_cast<std::int64_t>(strideExtra) - 3));
    const std::uint64_t sourceBytes =
        rows == 0 ? 0 : (rows - 1) * call.stride + columns * pixelSize;
    std::vector<std::uint8_t> source(sizeOrShort(sourceBytes, (flags >> 2 & 1u) != 0));
    for (std::size_t i = 0; i < source.size(); ++i) {
        const std::size_t rest = size - in.at;
        source[i] = rest == 0 ? static_cast<std::uint8_t>(i) : data[in.at + i % rest];
    }
    std::vector<std::uint8_t> records(sizeOrShort(pixels * recordSize, (flags >> 3 & 1u) != 0),
                                      0xA5);
    std::vector<std::uint8_t> alpha(sizeOrShort(pixels * 4, (flags >> 4 & 1u) != 0), 0xA5);
    const bool noAlpha = (flags >> 5 & 1u) != 0;
    const std::vector<std::uint8_t> recordsBefore = records;
    const std::vector<std::uint8_t> alphaBefore = alpha;

    const pixfold::Path path = pixfold::allPaths[pathByte % 3];
    const pixfold_error error =
        pixfold::encodeOnPath(path, source.data(), call.stride, source.size(), call.layout,
                              records.data(), records.size(), noAlpha ? nullptr : alpha.data(),
                              alpha.size(), call.width, call.height, call.maxValue, &call.settings);
    const bool withAlpha = call.settings.format == PIXFOLD_FORMAT_E888ALPHA;
    if (error != PIXFOLD_OK) {
        require(records == recordsBefore && alpha == alphaBefore);
    } else if (pixels > 0) {
        // The first pixel of every row, and every pixel of the last.
        for (std::uint64_t row = 0; row < rows; ++row) {
            for (std::uint64_t x = 0; x < columns; x = row + 1 == rows ? x + 1 : columns) {
                const std::uint64_t index = row * columns + x;
                checkPixel(call, source.data() + row * call.stride + x * pixelSize,
                           records.data() + index * recordSize,
                           withAlpha ? alpha.data() + index * 4 : nullptr, recordSize);
            }
        }
    }

    // Decode whatever the records hold, into planes with their own strides.
    const std::size_t rgbStride = static_cast<std::size_t>(columns * 3 + (decodeStrides & 7u));
    const std::size_t keyStride = static_cast<std::size_t>(columns + (decodeStrides >> 3 & 3u));
    const bool keyPlane = (decodeStrides >> 5 & 1u) != 0;
    std::vector<std::uint8_t> rgb(
        sizeOrShort(rows == 0 ? 0 : (rows - 1) * rgbStride + columns * 3, (flags >> 6 & 1u) != 0));
    std::vector<std::uint8_t> key(
        sizeOrShort(rows == 0 ? 0 : (rows - 1) * keyStride + columns, (flags >> 7 & 1u) != 0),
        0x77);
    // Decode to RGB24 (whose pixels the buffer is sized for), or a 3-byte
    // layout's rows into it, or an unknown layout.
    const int decodeLayout = (decodeStrides >> 7 & 1u) != 0 ? anyInt(7) : PIXFOLD_LAYOUT_RGB24;
    const std::size_t decodeSize = pixfold_layout_pixel_size(fromInt<pixfold_layout>(decodeLayout));
    const pixfold_error decodeError = pixfold_decode_to(
        records.data(), records.size(), noAlpha ? nullptr : alpha.data(), alpha.size(),
        call.settings.format, rgb.data(), fromInt<pixfold_layout>(decodeLayout), rgbStride,
        decodeSize > 3 ? 0 : rgb.size(), keyPlane ? key.data() : nullptr, keyStride, key.size(),
        call.width, call.height, static_cast<int>(decodeStrides >> 6 & 1u),
        call.settings.match_value);
    if (decodeError == PIXFOLD_OK && keyPlane && !key.empty()) { // an empty one is no plane
        for (std::uint64_t row = 0; row < rows; ++row) {
            for (std::uint64_t x = 0; x < columns; ++x) {
                const std::uint8_t value = key[static_cast<std::size_t>(row * keyStride + x)];
                require(value == 0 || value == 255);
            }
        }
    }
    return 0;
}
