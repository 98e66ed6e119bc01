// The C entry points: each checks every argument and size first, then hands
// the pixels to the same encode and decode loops the tools run.
#include "api/api_paths.h"

#include "decode/decoder.h"
#include "encode/encoder.h"
#include "format/formats.h"
#include "format/records.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <limits>

namespace pixfold {

namespace {

static_assert(PIXFOLD_FORMAT_E655 == static_cast<int>(OutputFormat::e655) &&
                  PIXFOLD_FORMAT_E655Z == static_cast<int>(OutputFormat::e655Z) &&
                  PIXFOLD_FORMAT_E888 == static_cast<int>(OutputFormat::e888) &&
                  PIXFOLD_FORMAT_E888ALPHA == static_cast<int>(OutputFormat::e888Alpha),
              "the C formats are the tools' formats, in the same order");

// A caller's enum may hold any int; read as an enum a value outside its
// range is undefined behaviour in C++, so it is read as the int it is.
template <class Enum> int enumValue(const Enum& value) {
    static_assert(sizeof(Enum) == sizeof(int), "C enums are int-sized");
    int number = 0;
    std::memcpy(&number, &value, sizeof number);
    return number;
}

bool formatOf(int value, OutputFormat& format) {
    if (value < PIXFOLD_FORMAT_E655 || value > PIXFOLD_FORMAT_E888ALPHA) {
        return false;
    }
    format = static_cast<OutputFormat>(value);
    return true;
}

// Where a layout keeps each sample of a pixel.
struct Layout {
    std::size_t bytes = 0;
    std::size_t red = 0;
    std::size_t green = 0;
    std::size_t blue = 0;
    std::size_t alpha = 0; // hasAlpha only
    bool hasAlpha = false;
};

constexpr Layout layouts[] = {
    {3, 0, 1, 2, 0, false}, // RGB24
    {3, 2, 1, 0, 0, false}, // BGR24
    {4, 0, 1, 2, 3, true},  // RGBA32
    {4, 2, 1, 0, 3, true},  // BGRA32
    {1, 0, 0, 0, 0, false}, // GRAY8
};

bool layoutOf(int value, Layout& layout) {
    if (value < 0 || value >= static_cast<int>(sizeof layouts / sizeof layouts[0])) {
        return false;
    }
    layout = layouts[value];
    return true;
}

// The bytes rows of rowBytes each, stride apart, span: false when that does
// not fit in 64 bits (no buffer could hold it).
bool rowsSpan(std::uint64_t rows, std::uint64_t stride, std::uint64_t rowBytes,
              std::uint64_t& span) {
    if (rows == 0) {
        span = 0;
        return true;
    }
    const std::uint64_t most = std::numeric_limits<std::uint64_t>::max();
    if (rows > 1 && stride > (most - rowBytes) / (rows - 1)) {
        return false;
    }
    span = (rows - 1) * stride + rowBytes;
    return true;
}

// A plane of width x height items of itemBytes, rows stride apart, in a
// buffer of size bytes.
pixfold_error checkPlane(const void* buffer, std::uint64_t size, std::uint64_t stride,
                         std::uint64_t itemBytes, std::uint64_t width, std::uint64_t height) {
    if (buffer == nullptr) {
        return PIXFOLD_ERROR_NULL_POINTER;
    }
    const std::uint64_t rowBytes = width * itemBytes;
    if (height > 1 && stride < rowBytes) {
        return PIXFOLD_ERROR_STRIDE;
    }
    std::uint64_t span = 0;
    return rowsSpan(height, stride, rowBytes, span) && span <= size
               ? PIXFOLD_OK
               : PIXFOLD_ERROR_BUFFER_TOO_SMALL;
}

pixfold_error checkPacked(const void* buffer, std::uint64_t size, std::uint64_t needed) {
    if (buffer == nullptr) {
        return PIXFOLD_ERROR_NULL_POINTER;
    }
    return size < needed ? PIXFOLD_ERROR_BUFFER_TOO_SMALL : PIXFOLD_OK;
}

// Everything an encode call decided, checked.
struct EncodeJob {
    const std::uint8_t* source = nullptr;
    std::size_t stride = 0;
    Layout layout;
    std::size_t width = 0;
    std::size_t height = 0;
    std::uint32_t maxValue = 255;
    bool keyTransparent = false;
    EncodePlan plan;
};

bool samplesWithin(const EncodeJob& job) {
    std::uint32_t highest = 0;
    for (std::size_t row = 0; row < job.height; ++row) {
        const std::uint8_t* pixel = job.source + row * job.stride;
        std::uint32_t rowHighest = 0;
        if (job.layout.hasAlpha) {
            for (std::size_t x = 0; x < job.width; ++x, pixel += 4) {
                rowHighest = std::max({rowHighest, std::uint32_t{pixel[0]}, std::uint32_t{pixel[1]},
                                       std::uint32_t{pixel[2]}});
            }
        } else {
            const std::size_t count = job.width * job.layout.bytes;
            for (std::size_t i = 0; i < count; ++i) { // every byte is a sample
                rowHighest = std::max(rowHighest, std::uint32_t{pixel[i]});
            }
        }
        highest = std::max(highest, rowHighest);
    }
    return highest <= job.maxValue;
}

// Pixels at most a stack buffer's worth: spread into red, green, blue bytes,
// encoded, keyed by alpha.
constexpr std::size_t chunkPixels = 1024;

void encodeRow(const std::uint8_t* pixels, const EncodeJob& job, std::uint8_t* records,
               std::uint8_t* alpha) {
    const std::size_t recordSize = recordBytes(job.plan.format);
    const Layout& layout = job.layout;
    std::uint8_t samples[chunkPixels * 3];
    std::uint8_t opacity[chunkPixels];
    for (std::size_t done = 0; done < job.width; done += chunkPixels) {
        const std::size_t count = std::min(chunkPixels, job.width - done);
        const std::uint8_t* from = pixels + done * layout.bytes;
        for (std::size_t i = 0; i < count; ++i) {
            samples[i * 3] = from[i * layout.bytes + layout.red];
            samples[i * 3 + 1] = from[i * layout.bytes + layout.green];
            samples[i * 3 + 2] = from[i * layout.bytes + layout.blue];
            opacity[i] = layout.hasAlpha ? from[i * layout.bytes + layout.alpha] : 255;
        }
        std::uint8_t* alphaOut = alpha == nullptr ? nullptr : alpha + done * 4;
        encodePixels(samples, count, job.plan, records + done * recordSize, alphaOut);
        if (job.keyTransparent) { // the same pass the tools run after a block
            keyTransparentPixels(opacity, count, job.plan, records + done * recordSize, alphaOut);
        }
    }
}

void encodeImage(const EncodeJob& job, std::uint8_t* records, std::uint8_t* alpha) {
    const std::size_t recordSize = recordBytes(job.plan.format);
    const bool asRead = job.layout.bytes == 3 && job.layout.red == 0 && job.layout.blue == 2;
    if (asRead && job.stride == job.width * 3) { // the tools' own input: one call
        encodePixels(job.source, job.width * job.height, job.plan, records, alpha);
        return;
    }
    for (std::size_t row = 0; row < job.height; ++row) {
        const std::uint8_t* pixels = job.source + row * job.stride;
        std::uint8_t* rowRecords = records + row * job.width * recordSize;
        std::uint8_t* rowAlpha = alpha == nullptr ? nullptr : alpha + row * job.width * 4;
        if (asRead) {
            encodePixels(pixels, job.width, job.plan, rowRecords, rowAlpha);
        } else {
            encodeRow(pixels, job, rowRecords, rowAlpha);
        }
    }
}

} // namespace

pixfold_error encodeOnPath(Path path, const std::uint8_t* src, std::size_t src_stride,
                           std::size_t src_size, pixfold_layout src_layout,
                           std::uint8_t* dst_records, std::size_t dst_records_size,
                           std::uint8_t* dst_alpha, std::size_t dst_alpha_size, std::int32_t width,
                           std::int32_t height, std::int32_t max_value,
                           const pixfold_settings* settings) {
    EncodeJob job;
    ConversionSettings conversion;
    if (settings == nullptr) {
        return PIXFOLD_ERROR_NULL_POINTER;
    }
    if (!layoutOf(enumValue(src_layout), job.layout)) {
        return PIXFOLD_ERROR_UNKNOWN_LAYOUT;
    }
    if (!formatOf(enumValue(settings->format), conversion.format)) {
        return PIXFOLD_ERROR_UNKNOWN_FORMAT;
    }
    if (max_value < 1 || max_value > 255) {
        return PIXFOLD_ERROR_MAX_VALUE;
    }
    if (width < 0 || height < 0) {
        return PIXFOLD_ERROR_DIMENSIONS;
    }
    if (settings->key_transparent != 0 && !job.layout.hasAlpha) {
        return PIXFOLD_ERROR_NO_ALPHA_IN_LAYOUT;
    }
    const std::uint64_t pixels = pixelCount(width, height);
    if (pixels == 0) {
        return PIXFOLD_OK;
    }
    pixfold_error error =
        checkPlane(src, src_size, src_stride, job.layout.bytes, static_cast<std::uint64_t>(width),
                   static_cast<std::uint64_t>(height));
    if (error == PIXFOLD_OK) {
        error = checkPacked(dst_records, dst_records_size, pixels * recordBytes(conversion.format));
    }
    const bool alpha = writesAlphaStream(conversion.format);
    if (error == PIXFOLD_OK && alpha) {
        error = checkPacked(dst_alpha, dst_alpha_size, pixels * 4);
    }
    if (error != PIXFOLD_OK) {
        return error;
    }
    // Every size now fits in the caller's buffers, so in size_t.
    job.source = src;
    job.stride = src_stride;
    job.width = static_cast<std::size_t>(width);
    job.height = static_cast<std::size_t>(height);
    job.maxValue = static_cast<std::uint32_t>(max_value);
    if (job.maxValue < 255 && !samplesWithin(job)) {
        return PIXFOLD_ERROR_SAMPLE_EXCEEDS_MAX;
    }
    conversion.keyEnabled = settings->key_enabled != 0;
    conversion.keyColour = settings->key_colour;
    conversion.matchValue = settings->match_value;
    conversion.noMatchValue = settings->no_match_value;
    job.keyTransparent = settings->key_transparent != 0 && isKeyedFormat(conversion.format);
    job.plan = makeEncodePlan(conversion, max_value, path);
    encodeImage(job, dst_records, alpha ? dst_alpha : nullptr);
    return PIXFOLD_OK;
}

} // namespace pixfold

using namespace pixfold;

extern "C" {

const char* pixfold_version(void) {
    return PIXFOLD_VERSION_STRING;
}

const char* pixfold_strerror(pixfold_error error) {
    switch (enumValue(error)) {
    case PIXFOLD_OK:
        return "no error";
    case PIXFOLD_ERROR_NULL_POINTER:
        return "a buffer or the settings the call needs is NULL";
    case PIXFOLD_ERROR_BUFFER_TOO_SMALL:
        return "a buffer is smaller than the image needs";
    case PIXFOLD_ERROR_MAX_VALUE:
        return "the maximum value is not 1 to 255";
    case PIXFOLD_ERROR_SAMPLE_EXCEEDS_MAX:
        return "a sample is above the maximum value";
    case PIXFOLD_ERROR_UNKNOWN_LAYOUT:
        return "unknown pixel layout";
    case PIXFOLD_ERROR_UNKNOWN_FORMAT:
        return "unknown record format";
    case PIXFOLD_ERROR_DIMENSIONS:
        return "the width or height is negative";
    case PIXFOLD_ERROR_STRIDE:
        return "the row stride is shorter than a row";
    case PIXFOLD_ERROR_NO_ALPHA_IN_LAYOUT:
        return "transparency keying needs a layout with alpha: RGBA32 or BGRA32";
    case PIXFOLD_ERROR_NO_KEY_VALUE:
        return "a key plane needs a format with a key value: e655Z or e888Alpha";
    case PIXFOLD_ERROR_PATH_UNAVAILABLE:
        return "PIXFOLD_FORCE_PATH names no pixel loop this processor runs (portable, avx2, "
               "avx512)";
    default:
        return "unknown error";
    }
}

const char* pixfold_format_name(pixfold_format format) {
    OutputFormat known = OutputFormat::e888;
    return formatOf(enumValue(format), known) ? formatName(known).data() : nullptr;
}

pixfold_error pixfold_format_from_name(const char* name, pixfold_format* format) {
    if (name == nullptr || format == nullptr) {
        return PIXFOLD_ERROR_NULL_POINTER;
    }
    OutputFormat found = OutputFormat::e888;
    if (!findFormat(name, found)) {
        return PIXFOLD_ERROR_UNKNOWN_FORMAT;
    }
    *format = static_cast<pixfold_format>(found);
    return PIXFOLD_OK;
}

size_t pixfold_record_size(pixfold_format format) {
    OutputFormat known = OutputFormat::e888;
    return formatOf(enumValue(format), known) ? recordBytes(known) : 0;
}

size_t pixfold_layout_pixel_size(pixfold_layout layout) {
    Layout known;
    return layoutOf(enumValue(layout), known) ? known.bytes : 0;
}

void pixfold_settings_init(pixfold_settings* settings) {
    if (settings != nullptr) {
        *settings = pixfold_settings{};
        settings->format = PIXFOLD_FORMAT_E888;
    }
}

const char* pixfold_encode_path(void) {
    const PathChoice& choice = pathChoice();
    return choice.usable ? pathName(choice.path).data() : nullptr;
}

pixfold_error pixfold_encode(const uint8_t* src, size_t src_stride, size_t src_size,
                             pixfold_layout src_layout, uint8_t* dst_records,
                             size_t dst_records_size, uint8_t* dst_alpha, size_t dst_alpha_size,
                             int32_t width, int32_t height, int32_t max_value,
                             const pixfold_settings* settings) {
    if (!pathChoice().usable) {
        return PIXFOLD_ERROR_PATH_UNAVAILABLE;
    }
    return encodeOnPath(activePath(), src, src_stride, src_size, src_layout, dst_records,
                        dst_records_size, dst_alpha, dst_alpha_size, width, height, max_value,
                        settings);
}

pixfold_error pixfold_decode(const uint8_t* src_records, size_t src_records_size,
                             const uint8_t* src_alpha, size_t src_alpha_size, pixfold_format format,
                             uint8_t* dst_rgb, size_t dst_rgb_stride, size_t dst_rgb_size,
                             uint8_t* dst_key, size_t dst_key_stride, size_t dst_key_size,
                             int32_t width, int32_t height, int match_given, uint32_t match_value) {
    if (!pathChoice().usable) {
        return PIXFOLD_ERROR_PATH_UNAVAILABLE;
    }
    OutputFormat known = OutputFormat::e888;
    if (!formatOf(enumValue(format), known)) {
        return PIXFOLD_ERROR_UNKNOWN_FORMAT;
    }
    if (width < 0 || height < 0) {
        return PIXFOLD_ERROR_DIMENSIONS;
    }
    const bool keyPlane = dst_key != nullptr;
    if (keyPlane && !isKeyedFormat(known)) {
        return PIXFOLD_ERROR_NO_KEY_VALUE;
    }
    const std::uint64_t pixels = pixelCount(width, height);
    if (pixels == 0) {
        return PIXFOLD_OK;
    }
    const auto columns = static_cast<std::uint64_t>(width);
    const auto rows = static_cast<std::uint64_t>(height);
    pixfold_error error = checkPacked(src_records, src_records_size, pixels * recordBytes(known));
    const bool alpha = keyPlane && known == OutputFormat::e888Alpha;
    if (error == PIXFOLD_OK && alpha) {
        error = checkPacked(src_alpha, src_alpha_size, pixels * 4);
    }
    if (error == PIXFOLD_OK) {
        error = checkPlane(dst_rgb, dst_rgb_size, dst_rgb_stride, 3, columns, rows);
    }
    if (error == PIXFOLD_OK && keyPlane) {
        error = checkPlane(dst_key, dst_key_size, dst_key_stride, 1, columns, rows);
    }
    if (error != PIXFOLD_OK) {
        return error;
    }
    // The loops pixunfold runs, on the path it would take: a plan holds
    // nothing but constants and the one shared e655 table, so no allocation.
    const DecodePlan plan = makeDecodePlan(known);
    KeyPlaneTest test;
    test.anyNonZero = match_given == 0;
    test.wanted = match_value;
    const auto pixelsAcross = static_cast<std::size_t>(width);
    const std::size_t recordSize = recordBytes(known);
    const bool tight =
        dst_rgb_stride == pixelsAcross * 3 && (!keyPlane || dst_key_stride == pixelsAcross);
    const std::size_t rowPixels = tight ? static_cast<std::size_t>(pixels) : pixelsAcross;
    const std::size_t rowCount = tight ? 1 : static_cast<std::size_t>(height);
    for (std::size_t row = 0; row < rowCount; ++row) {
        const std::size_t first = row * pixelsAcross;
        decodeRecords(src_records + first * recordSize, rowPixels, plan,
                      dst_rgb + row * dst_rgb_stride);
        if (keyPlane) {
            const std::uint8_t* keys = alpha ? src_alpha + first * 4 : src_records + first * 4;
            decodeKeyPlane(keys, rowPixels, known, test, dst_key + row * dst_key_stride, plan.path);
        }
    }
    return PIXFOLD_OK;
}

} // extern "C"
