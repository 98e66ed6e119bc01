// The C entry points: each checks every argument and size first, then hands
// the pixels to the same encode and decode loops the tools run.
#include "api/api_paths.h"
#include "api/sized.h"

#include "core/texts.h"
#include "decode/decoder.h"
#include "encode/encoder.h"
#include "encode/pixel_store.h"
#include "format/formats.h"
#include "format/layouts.h"
#include "format/records.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>

namespace pixfold {

bool readSized(const void* given, std::size_t givenSize, void* ours, std::size_t ourSize,
               std::size_t minimum) {
    if (givenSize < minimum) {
        return false;
    }
    const auto* bytes = static_cast<const std::uint8_t*>(given);
    for (std::size_t i = ourSize; i < givenSize; ++i) {
        if (bytes[i] != 0) {
            return false;
        }
    }
    std::memcpy(ours, given, std::min(givenSize, ourSize));
    return true;
}

namespace {

static_assert(PIXFOLD_FORMAT_E655 == static_cast<int>(OutputFormat::e655) &&
                  PIXFOLD_FORMAT_E655Z == static_cast<int>(OutputFormat::e655Z) &&
                  PIXFOLD_FORMAT_E888 == static_cast<int>(OutputFormat::e888) &&
                  PIXFOLD_FORMAT_E888ALPHA == static_cast<int>(OutputFormat::e888Alpha),
              "the C formats are the tools' formats, in the same order");
static_assert(PIXFOLD_LAYOUT_RGB24 == static_cast<int>(PixelLayout::rgb24) &&
                  PIXFOLD_LAYOUT_BGR24 == static_cast<int>(PixelLayout::bgr24) &&
                  PIXFOLD_LAYOUT_RGBA32 == static_cast<int>(PixelLayout::rgba32) &&
                  PIXFOLD_LAYOUT_BGRA32 == static_cast<int>(PixelLayout::bgra32) &&
                  PIXFOLD_LAYOUT_GRAY8 == static_cast<int>(PixelLayout::gray8) &&
                  PIXFOLD_LAYOUT_RGB48 == static_cast<int>(PixelLayout::rgb48) &&
                  PIXFOLD_LAYOUT_RGBA64 == static_cast<int>(PixelLayout::rgba64) &&
                  layoutCount == 7,
              "the C layouts are layoutTable's, in the same order");

// Every enum is read as the int it holds before anything else.
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

bool layoutOf(int value, PixelLayout& layout) {
    if (value < 0 || value >= static_cast<int>(layoutCount)) {
        return false;
    }
    layout = static_cast<PixelLayout>(value);
    return true;
}

// The fields of pixfold_settings 2.0, the first with a size: every caller has them.
constexpr std::size_t settingsMinimum = sizeof(pixfold_settings);

pixfold_settings defaultSettings(std::size_t size) {
    pixfold_settings settings{};
    settings.size = size;
    settings.format = PIXFOLD_FORMAT_E888;
    return settings;
}

pixfold_error readSettings(const pixfold_settings* given, pixfold_settings& settings) {
    if (given == nullptr) {
        return PIXFOLD_ERROR_NULL_POINTER;
    }
    settings = defaultSettings(sizeof settings);
    return readSized(given, given->size, &settings, sizeof settings, settingsMinimum)
               ? PIXFOLD_OK
               : PIXFOLD_ERROR_SETTINGS_SIZE;
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

// A plane of width x height items of itemBytes, rows stride apart: the bytes
// it spans, or the error that says why none can hold it.
pixfold_error planeSpan(std::uint64_t stride, std::uint64_t itemBytes, std::uint64_t width,
                        std::uint64_t height, std::uint64_t& span) {
    const std::uint64_t rowBytes = width * itemBytes;
    if (height > 1 && stride < rowBytes) {
        return PIXFOLD_ERROR_STRIDE;
    }
    return rowsSpan(height, stride, rowBytes, span) ? PIXFOLD_OK : PIXFOLD_ERROR_BUFFER_TOO_SMALL;
}

// One buffer of a call: where it is, what it holds, and what the call needs of it.
struct Buffer {
    const void* at = nullptr;
    std::uint64_t size = 0;
    std::uint64_t needed = 0;
};

pixfold_error checkBuffer(const Buffer& buffer) {
    if (buffer.at == nullptr) {
        return PIXFOLD_ERROR_NULL_POINTER;
    }
    return buffer.size < buffer.needed ? PIXFOLD_ERROR_BUFFER_TOO_SMALL : PIXFOLD_OK;
}

pixfold_error checkPlane(const void* at, std::uint64_t size, std::uint64_t stride,
                         std::uint64_t itemBytes, std::uint64_t width, std::uint64_t height,
                         Buffer& buffer) {
    buffer.at = at;
    buffer.size = size;
    if (at == nullptr) {
        return PIXFOLD_ERROR_NULL_POINTER;
    }
    const pixfold_error error = planeSpan(stride, itemBytes, width, height, buffer.needed);
    return error != PIXFOLD_OK ? error : checkBuffer(buffer);
}

bool overlap(const Buffer& a, const Buffer& b) {
    const auto start = [](const Buffer& buffer) {
        return static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(buffer.at));
    };
    return a.at != nullptr && b.at != nullptr && a.needed > 0 && b.needed > 0 &&
           start(a) < start(b) + b.needed && start(b) < start(a) + a.needed;
}

// Outputs against the inputs and each other; buffers with nothing needed of
// them play no part.
bool anyOverlap(const Buffer* inputs, std::size_t inputCount, const Buffer* outputs,
                std::size_t outputCount) {
    for (std::size_t out = 0; out < outputCount; ++out) {
        for (std::size_t in = 0; in < inputCount; ++in) {
            if (overlap(outputs[out], inputs[in])) {
                return true;
            }
        }
        for (std::size_t other = out + 1; other < outputCount; ++other) {
            if (overlap(outputs[out], outputs[other])) {
                return true;
            }
        }
    }
    return false;
}

// Everything an encode call decided, checked.
struct EncodeJob {
    const std::uint8_t* source = nullptr;
    std::size_t stride = 0;
    PixelLayout layout = PixelLayout::rgb24;
    std::size_t width = 0;
    std::size_t height = 0;
    std::uint32_t maxValue = 255;
};

std::int32_t largestMaxValue(PixelLayout layout) {
    return isWide(layout) ? 65535 : 255;
}

// The largest colour sample of a row (alpha is no colour sample).
template <PixelLayout layout>
std::uint32_t highestSample(const std::uint8_t* pixels, std::size_t width) {
    std::uint32_t highest = 0;
    if constexpr (!hasAlpha(layout) && !isWide(layout)) {
        const std::size_t count = width * pixelBytes(layout);
        for (std::size_t i = 0; i < count; ++i) { // every byte is a sample
            highest = std::max(highest, std::uint32_t{pixels[i]});
        }
    } else {
        for (std::size_t x = 0; x < width; ++x) {
            const PixelSamples samples = samplesOf<layout>(pixels, x);
            highest = std::max(
                highest, static_cast<std::uint32_t>(std::max({samples.r, samples.g, samples.b})));
        }
    }
    return highest;
}

bool samplesWithin(const EncodeJob& job) {
    std::uint32_t highest = 0;
    const auto scan = [&](auto layout) {
        for (std::size_t row = 0; row < job.height; ++row) {
            highest = std::max(highest, highestSample<decltype(layout)::value>(
                                            job.source + row * job.stride, job.width));
        }
    };
    switch (job.layout) {
    case PixelLayout::rgba32:
        scan(LayoutConstant<PixelLayout::rgba32>{});
        break;
    case PixelLayout::bgra32:
        scan(LayoutConstant<PixelLayout::bgra32>{});
        break;
    case PixelLayout::rgb48:
        scan(LayoutConstant<PixelLayout::rgb48>{});
        break;
    case PixelLayout::rgba64:
        scan(LayoutConstant<PixelLayout::rgba64>{});
        break;
    case PixelLayout::gray8:
        scan(LayoutConstant<PixelLayout::gray8>{});
        break;
    default: // RGB24, BGR24: every byte a sample
        scan(LayoutConstant<PixelLayout::rgb24>{});
        break;
    }
    return highest <= job.maxValue;
}

// One call over rows back to back, else one a row.
void encodeImage(const EncodeJob& job, const EncodePlan& plan, std::uint8_t* records,
                 std::uint8_t* alpha) {
    const std::size_t rowBytes = job.width * pixelBytes(job.layout);
    const std::size_t recordRow = job.width * recordBytes(plan.format);
    const bool together = job.stride == rowBytes || job.height == 1;
    const std::size_t rows = together ? 1 : job.height;
    const std::size_t pixels = together ? job.width * job.height : job.width;
    for (std::size_t row = 0; row < rows; ++row) {
        const std::uint8_t* from = job.source + row * job.stride;
        std::uint8_t* rowAlpha = alpha == nullptr ? nullptr : alpha + row * job.width * 4;
        if (isWide(job.layout)) {
            encodeWidePixels(from, pixels, plan, records + row * recordRow, rowAlpha);
        } else {
            encodePixels(from, pixels, plan, records + row * recordRow, rowAlpha);
        }
    }
}

// The arguments of pixfold_encode that are no buffer, checked.
pixfold_error checkEncodeArguments(pixfold_layout src_layout, const pixfold_settings* settings,
                                   std::int32_t width, std::int32_t height, std::int32_t max_value,
                                   EncodeJob& job, pixfold_settings& given,
                                   ConversionSettings& conversion) {
    pixfold_error error = readSettings(settings, given);
    if (error != PIXFOLD_OK) {
        return error;
    }
    if (!layoutOf(enumValue(src_layout), job.layout)) {
        return PIXFOLD_ERROR_UNKNOWN_LAYOUT;
    }
    if (!formatOf(enumValue(given.format), conversion.format)) {
        return PIXFOLD_ERROR_UNKNOWN_FORMAT;
    }
    if (max_value < 1 || max_value > largestMaxValue(job.layout)) {
        return PIXFOLD_ERROR_MAX_VALUE;
    }
    if (width < 0 || height < 0) {
        return PIXFOLD_ERROR_DIMENSIONS;
    }
    if (given.key_transparent != 0 && !hasAlpha(job.layout)) {
        return PIXFOLD_ERROR_NO_ALPHA_IN_LAYOUT;
    }
    conversion.keyEnabled = given.key_enabled != 0;
    conversion.keyColour = given.key_colour;
    conversion.matchValue = given.match_value;
    conversion.noMatchValue = given.no_match_value;
    conversion.transparencyKey = given.key_transparent != 0;
    return PIXFOLD_OK;
}

} // namespace

pixfold_error encodeOnPath(Path path, const std::uint8_t* src, std::size_t src_stride,
                           std::size_t src_size, pixfold_layout src_layout,
                           std::uint8_t* dst_records, std::size_t dst_records_size,
                           std::uint8_t* dst_alpha, std::size_t dst_alpha_size, std::int32_t width,
                           std::int32_t height, std::int32_t max_value,
                           const pixfold_settings* settings) {
    EncodeJob job;
    pixfold_settings given;
    ConversionSettings conversion;
    pixfold_error error = checkEncodeArguments(src_layout, settings, width, height, max_value, job,
                                               given, conversion);
    const std::uint64_t pixels = pixelCount(width, height);
    if (error != PIXFOLD_OK || pixels == 0) {
        return error;
    }
    Buffer source;
    error =
        checkPlane(src, src_size, src_stride, pixelBytes(job.layout),
                   static_cast<std::uint64_t>(width), static_cast<std::uint64_t>(height), source);
    Buffer outputs[2] = {{dst_records, dst_records_size, pixels * recordBytes(conversion.format)},
                         {}};
    if (error == PIXFOLD_OK) {
        error = checkBuffer(outputs[0]);
    }
    const bool alpha = writesAlphaStream(conversion.format);
    if (alpha) {
        outputs[1] = {dst_alpha, dst_alpha_size, pixels * 4};
        if (error == PIXFOLD_OK) {
            error = checkBuffer(outputs[1]);
        }
    }
    if (error == PIXFOLD_OK && anyOverlap(&source, 1, outputs, 2)) {
        error = PIXFOLD_ERROR_OVERLAP;
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
    if (max_value < largestMaxValue(job.layout) && !samplesWithin(job)) {
        return PIXFOLD_ERROR_SAMPLE_EXCEEDS_MAX;
    }
    const EncodePlan plan = makeEncodePlan(conversion, max_value, path, job.layout);
    encodeImage(job, plan, dst_records, alpha ? dst_alpha : nullptr);
    return PIXFOLD_OK;
}

namespace {

struct DecodeCall {
    OutputFormat format = OutputFormat::e888;
    PixelLayout layout = PixelLayout::rgb24;
    std::size_t width = 0;
    std::size_t height = 0;
    bool keyPlane = false;
    bool readsKeys = false;             // for the key plane or the alpha bytes
    const std::uint8_t* keys = nullptr; // e655Z's records, e888Alpha's alpha values
};

pixfold_error checkDecodeBuffers(const DecodeCall& call, const uint8_t* src_records,
                                 size_t src_records_size, const uint8_t* src_alpha,
                                 size_t src_alpha_size, const uint8_t* dst, size_t dst_stride,
                                 size_t dst_size, const uint8_t* dst_key, size_t dst_key_stride,
                                 size_t dst_key_size) {
    const std::uint64_t pixels = std::uint64_t{call.width} * call.height;
    Buffer inputs[2] = {{src_records, src_records_size, pixels * recordBytes(call.format)}, {}};
    pixfold_error error = checkBuffer(inputs[0]);
    if (call.readsKeys && call.format == OutputFormat::e888Alpha) {
        inputs[1] = {src_alpha, src_alpha_size, pixels * 4};
        if (error == PIXFOLD_OK) {
            error = checkBuffer(inputs[1]);
        }
    }
    Buffer outputs[2];
    if (error == PIXFOLD_OK) {
        error = checkPlane(dst, dst_size, dst_stride, pixelBytes(call.layout), call.width,
                           call.height, outputs[0]);
    }
    if (error == PIXFOLD_OK && call.keyPlane) {
        error = checkPlane(dst_key, dst_key_size, dst_key_stride, 1, call.width, call.height,
                           outputs[1]);
    }
    if (error == PIXFOLD_OK && anyOverlap(inputs, 2, outputs, 2)) {
        error = PIXFOLD_ERROR_OVERLAP;
    }
    return error;
}

} // namespace

} // namespace pixfold

using namespace pixfold;

namespace {

// The tools say PIXFOLD_FORCE_PATH='<value>': and the same.
constexpr auto pathUnavailableMessage = [] {
    constexpr char prefix[] = "PIXFOLD_FORCE_PATH: ";
    std::array<char, sizeof prefix + sizeof pathUnavailableText - 1> text{};
    for (std::size_t i = 0; i + 1 < sizeof prefix; ++i) {
        text[i] = prefix[i];
    }
    for (std::size_t i = 0; i < sizeof pathUnavailableText; ++i) {
        text[sizeof prefix - 1 + i] = pathUnavailableText[i];
    }
    return text;
}();

} // namespace

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
        return "the maximum value is not 1 to 255 (1 to 65535 for RGB48 and RGBA64)";
    case PIXFOLD_ERROR_SAMPLE_EXCEEDS_MAX:
        return sampleAboveMaximumText;
    case PIXFOLD_ERROR_UNKNOWN_LAYOUT:
        return "unknown pixel layout, or one the call does not take";
    case PIXFOLD_ERROR_UNKNOWN_FORMAT:
        return "unknown record format";
    case PIXFOLD_ERROR_DIMENSIONS:
        return "the width or height is negative";
    case PIXFOLD_ERROR_STRIDE:
        return "the row stride is shorter than a row";
    case PIXFOLD_ERROR_NO_ALPHA_IN_LAYOUT:
        return "transparency keying needs a layout with alpha: RGBA32, BGRA32 or RGBA64";
    case PIXFOLD_ERROR_NO_KEY_VALUE:
        return "a key plane needs a format with a key value: e655Z or e888Alpha";
    case PIXFOLD_ERROR_PATH_UNAVAILABLE:
        return pathUnavailableMessage.data();
    case PIXFOLD_ERROR_TOO_LARGE:
        return "the size does not fit in size_t";
    case PIXFOLD_ERROR_SETTINGS_SIZE:
        return "the settings' size is none this library reads: start from pixfold_settings_init";
    case PIXFOLD_ERROR_OVERLAP:
        return "an output buffer overlaps an input or another output";
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
    PixelLayout known = PixelLayout::rgb24;
    return layoutOf(enumValue(layout), known) ? pixelBytes(known) : 0;
}

namespace {

pixfold_error sizeOut(pixfold_error error, std::uint64_t value, size_t* bytes) {
    if (error == PIXFOLD_OK && value > std::numeric_limits<size_t>::max()) {
        error = PIXFOLD_ERROR_TOO_LARGE;
    }
    if (error == PIXFOLD_OK) {
        *bytes = static_cast<size_t>(value);
    }
    return error;
}

pixfold_error packedSize(pixfold_format format, int32_t width, int32_t height, size_t* bytes,
                         bool alpha) {
    OutputFormat known = OutputFormat::e888;
    if (bytes == nullptr) {
        return PIXFOLD_ERROR_NULL_POINTER;
    }
    if (!formatOf(enumValue(format), known)) {
        return PIXFOLD_ERROR_UNKNOWN_FORMAT;
    }
    if (width < 0 || height < 0) {
        return PIXFOLD_ERROR_DIMENSIONS;
    }
    const std::uint64_t perPixel = alpha ? (writesAlphaStream(known) ? 4 : 0) : recordBytes(known);
    return sizeOut(PIXFOLD_OK, pixelCount(width, height) * perPixel, bytes);
}

} // namespace

pixfold_error pixfold_records_size(pixfold_format format, int32_t width, int32_t height,
                                   size_t* bytes) {
    return packedSize(format, width, height, bytes, false);
}

pixfold_error pixfold_alpha_size(pixfold_format format, int32_t width, int32_t height,
                                 size_t* bytes) {
    return packedSize(format, width, height, bytes, true);
}

pixfold_error pixfold_pixels_size(pixfold_layout layout, int32_t width, int32_t height,
                                  size_t stride, size_t* bytes) {
    PixelLayout known = PixelLayout::rgb24;
    if (bytes == nullptr) {
        return PIXFOLD_ERROR_NULL_POINTER;
    }
    if (!layoutOf(enumValue(layout), known)) {
        return PIXFOLD_ERROR_UNKNOWN_LAYOUT;
    }
    if (width < 0 || height < 0) {
        return PIXFOLD_ERROR_DIMENSIONS;
    }
    const auto columns = static_cast<std::uint64_t>(width);
    const auto rows = static_cast<std::uint64_t>(height);
    const std::uint64_t rowStride = stride == 0 ? columns * pixelBytes(known) : stride;
    std::uint64_t span = 0;
    pixfold_error error = planeSpan(rowStride, pixelBytes(known), columns, rows, span);
    if (error == PIXFOLD_ERROR_BUFFER_TOO_SMALL) {
        error = PIXFOLD_ERROR_TOO_LARGE; // beyond 64 bits
    }
    return sizeOut(error, span, bytes);
}

void pixfold_settings_init_sized(pixfold_settings* settings, size_t size) {
    if (settings == nullptr) {
        return;
    }
    const pixfold_settings defaults = defaultSettings(size);
    const size_t known = std::min(size, sizeof defaults);
    std::memcpy(settings, &defaults, known);
    std::memset(reinterpret_cast<std::uint8_t*>(settings) + known, 0, size - known);
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
    const PathChoice& choice = pathChoice();
    if (!choice.usable) {
        return PIXFOLD_ERROR_PATH_UNAVAILABLE;
    }
    return encodeOnPath(choice.path, src, src_stride, src_size, src_layout, dst_records,
                        dst_records_size, dst_alpha, dst_alpha_size, width, height, max_value,
                        settings);
}

pixfold_error pixfold_decode_to(const uint8_t* src_records, size_t src_records_size,
                                const uint8_t* src_alpha, size_t src_alpha_size,
                                pixfold_format format, uint8_t* dst, pixfold_layout dst_layout,
                                size_t dst_stride, size_t dst_size, uint8_t* dst_key,
                                size_t dst_key_stride, size_t dst_key_size, int32_t width,
                                int32_t height, int match_given, uint32_t match_value) {
    const PathChoice& choice = pathChoice();
    if (!choice.usable) {
        return PIXFOLD_ERROR_PATH_UNAVAILABLE;
    }
    DecodeCall call;
    if (!formatOf(enumValue(format), call.format)) {
        return PIXFOLD_ERROR_UNKNOWN_FORMAT;
    }
    if (!layoutOf(enumValue(dst_layout), call.layout) || !traitsOf(call.layout).decodes) {
        return PIXFOLD_ERROR_UNKNOWN_LAYOUT;
    }
    if (width < 0 || height < 0) {
        return PIXFOLD_ERROR_DIMENSIONS;
    }
    call.keyPlane = dst_key != nullptr;
    if (call.keyPlane && !isKeyedFormat(call.format)) {
        return PIXFOLD_ERROR_NO_KEY_VALUE;
    }
    const std::uint64_t pixels = pixelCount(width, height);
    if (pixels == 0) {
        return PIXFOLD_OK;
    }
    call.width = static_cast<std::size_t>(width);
    call.height = static_cast<std::size_t>(height);
    call.readsKeys = isKeyedFormat(call.format) && (call.keyPlane || hasAlpha(call.layout));
    if (call.readsKeys) {
        call.keys = call.format == OutputFormat::e888Alpha ? src_alpha : src_records;
    }
    const pixfold_error error =
        checkDecodeBuffers(call, src_records, src_records_size, src_alpha, src_alpha_size, dst,
                           dst_stride, dst_size, dst_key, dst_key_stride, dst_key_size);
    if (error != PIXFOLD_OK) {
        return error;
    }
    // The loops pixunfold runs, on the path it would take: a plan holds
    // nothing but constants and the one shared e655 table, so no allocation.
    KeyPlaneTest test;
    test.anyNonZero = match_given == 0;
    test.wanted = match_value;
    const DecodePlan plan = makeDecodePlan(call.format, choice.path, call.layout, test);
    const std::size_t recordSize = recordBytes(call.format);
    const bool tight = dst_stride == call.width * pixelBytes(call.layout) &&
                       (!call.keyPlane || dst_key_stride == call.width);
    const std::size_t rowPixels = tight ? static_cast<std::size_t>(pixels) : call.width;
    const std::size_t rowCount = tight ? 1 : call.height;
    for (std::size_t row = 0; row < rowCount; ++row) {
        const std::size_t first = row * call.width;
        const std::uint8_t* keys = call.keys == nullptr ? nullptr : call.keys + first * 4;
        decodeRecords(src_records + first * recordSize, rowPixels, plan, dst + row * dst_stride,
                      keys);
        if (call.keyPlane) {
            decodeKeyPlane(keys, rowPixels, call.format, test, dst_key + row * dst_key_stride,
                           plan.path);
        }
    }
    return PIXFOLD_OK;
}

pixfold_error pixfold_decode(const uint8_t* src_records, size_t src_records_size,
                             const uint8_t* src_alpha, size_t src_alpha_size, pixfold_format format,
                             uint8_t* dst_rgb, size_t dst_rgb_stride, size_t dst_rgb_size,
                             uint8_t* dst_key, size_t dst_key_stride, size_t dst_key_size,
                             int32_t width, int32_t height, int match_given, uint32_t match_value) {
    return pixfold_decode_to(src_records, src_records_size, src_alpha, src_alpha_size, format,
                             dst_rgb, PIXFOLD_LAYOUT_RGB24, dst_rgb_stride, dst_rgb_size, dst_key,
                             dst_key_stride, dst_key_size, width, height, match_given, match_value);
}

} // extern "C"
