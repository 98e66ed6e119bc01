#include "image_input.h"

#include "files.h"

#include <algorithm>
#include <string_view>

namespace pixfold {

namespace {

// The first bytes of what users give pixfold by mistake; '?' stands for any
// byte. None starts as a Netpbm header or PNG does.
struct Signature {
    InputKind kind;
    std::string_view bytes;
};

using namespace std::string_view_literals;
constexpr Signature signatures[] = {
    {InputKind::jpeg, "\xFF\xD8\xFF"sv},
    {InputKind::gif, "GIF87a"sv},
    {InputKind::gif, "GIF89a"sv},
    {InputKind::tiff, "II*\0"sv},
    {InputKind::tiff, "MM\0*"sv},
    {InputKind::webp, "RIFF????WEBP"sv},
    {InputKind::bmp, "BM????\0\0\0\0"sv}, // the file size, then the reserved zeros
    {InputKind::isoMedia, "\0???ftyp"sv}, // an ftyp box under 16 MiB: MP4, MOV, HEIF
    {InputKind::matroska, "\x1A\x45\xDF\xA3"sv},
};
constexpr std::size_t longestSignature = 12;

bool startsAs(const Signature& signature, const std::uint8_t* bytes, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) {
        const char expected = signature.bytes[i];
        if (expected != '?' && static_cast<char>(bytes[i]) != expected) {
            return false;
        }
    }
    return true;
}

// What the input is, taking a byte more only while some signature still
// matches what was seen: a pipe read exactly gives up no byte it need not.
InputKind recognise(InputStream& input) {
    std::uint8_t bytes[longestSignature];
    std::size_t seen = 0;
    while (true) {
        bool possible = false;
        for (const Signature& signature : signatures) {
            const std::size_t length = signature.bytes.size();
            if (startsAs(signature, bytes, std::min(seen, length))) {
                if (length <= seen) {
                    return signature.kind;
                }
                possible = true;
            }
        }
        if (!possible || peekBytes(input, bytes, seen + 1) <= seen) {
            return InputKind::unknown;
        }
        ++seen;
    }
}

} // namespace

Result readImageHeader(InputStream& input, ImageReader& reader) {
    closeImage(reader);
    const int first = peekByte(input);
    reader.png = first == pngSignature[0];
    const InputKind kind = first < 0 ? (input.failed ? InputKind::unknown : InputKind::empty)
                           : first == 'P' || reader.png ? InputKind::unknown
                                                        : recognise(input);
    if (kind != InputKind::unknown) {
        Result result = failure(ErrorCode::wrongInputFormat);
        result.inputKind = kind;
        return result;
    }
    if (!reader.png) {
        return failure(readPpmHeader(input, reader.raster.header));
    }
    Result result = openPngReader(input, reader.pngReader);
    if (!succeeded(result)) {
        return result;
    }
    const PngLayout& layout = reader.pngReader.layout;
    PpmHeader& header = reader.raster.header;
    header = PpmHeader{};
    header.width = static_cast<std::int32_t>(layout.width);
    header.height = static_cast<std::int32_t>(layout.height);
    header.maxValue = layout.maxValue;
    header.hasOpacity = layout.hasOpacity;
    header.kind = RasterKind::binary; // read exactly, as binary rasters are
    return {};
}

Result readImagePixels(InputStream& input, ImageReader& reader, std::uint8_t* samples,
                       std::uint8_t* opacity, std::size_t count, std::size_t& pixels) {
    return reader.png ? readPngPixels(reader.pngReader, samples, opacity, count, pixels)
                      : failure(readRaster(input, reader.raster, samples, opacity, count, pixels));
}

Result finishImage(ImageReader& reader, bool& animated) {
    animated = reader.png && reader.pngReader.source.animated;
    return reader.png ? finishPngReader(reader.pngReader) : Result{};
}

bool anotherImageFollows(InputStream& input) {
    bool found = false;
    if (!isRegularFile(input.descriptor) || findNextImage(input, found) != Status::ok || !found) {
        return false;
    }
    const int first = readByte(input);
    if (first == pngSignature[0]) {
        for (std::size_t i = 1; i < pngSignature.size(); ++i) {
            if (readByte(input) != pngSignature[i]) {
                return false;
            }
        }
        return true;
    }
    const int digit = peekByte(input);
    return first == 'P' && digit >= '1' && digit <= '7';
}

void closeImage(ImageReader& reader) {
    closePngReader(reader.pngReader);
    reader.png = false;
    reader.raster = RasterReader{};
}

} // namespace pixfold
