#include "image_input.h"

#include "files.h"

namespace pixfold {

Result readImageHeader(InputStream& input, ImageReader& reader) {
    closeImage(reader);
    reader.png = peekByte(input) == pngSignature[0];
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
