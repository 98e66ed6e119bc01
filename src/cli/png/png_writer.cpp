#include "png/png_writer.h"

#include <algorithm>
#include <cstring>

namespace pixfold {

namespace {

// The sink's write failure first, with its reason; else the encoder's own
// failure, which names the output as a write failure does.
Result outcome(const PngSink& sink, const Result& result) {
    if (!succeeded(sink.result)) {
        return sink.result;
    }
    return result.code == ErrorCode::cantWriteOutput ? writeFailure(*sink.output, result.reason)
                                                     : result;
}

} // namespace

bool writePngBytes(PngSink& sink, const std::uint8_t* bytes, std::size_t count) {
    if (succeeded(sink.result)) {
        sink.result = writeOutput(*sink.output, bytes, count);
    }
    return succeeded(sink.result);
}

bool namesPng(const char* path) {
    const std::size_t length = std::strlen(path);
    if (length < 4) {
        return false;
    }
    const char* suffix = path + length - 4;
    return suffix[0] == '.' && (suffix[1] | 0x20) == 'p' && (suffix[2] | 0x20) == 'n' &&
           (suffix[3] | 0x20) == 'g';
}

Result startPngPicture(PngPictureWriter& writer, OutputFile& output, std::uint32_t width,
                       std::uint32_t height, int channels) {
    closePngPicture(writer);
    writer.sink.output = &output;
    writer.sink.result = Result{};
    writer.row.assign(std::size_t{width} * static_cast<std::size_t>(channels), 0);
    writer.filled = 0;
    const Result result = openPngEncoder(writer.sink, width, height, channels, writer.encoder);
    return outcome(writer.sink, result);
}

Result writePngPixels(PngPictureWriter& writer, const std::uint8_t* bytes, std::size_t count) {
    while (count > 0) {
        if (writer.filled == 0 && count >= writer.row.size()) { // a whole row, as it is
            const Result result = encodePngRow(*writer.encoder, bytes);
            if (!succeeded(result)) {
                return outcome(writer.sink, result);
            }
            bytes += writer.row.size();
            count -= writer.row.size();
            continue;
        }
        const std::size_t part = std::min(count, writer.row.size() - writer.filled);
        std::memcpy(writer.row.data() + writer.filled, bytes, part);
        writer.filled += part;
        bytes += part;
        count -= part;
        if (writer.filled == writer.row.size()) {
            const Result result = encodePngRow(*writer.encoder, writer.row.data());
            if (!succeeded(result)) {
                return outcome(writer.sink, result);
            }
            writer.filled = 0;
        }
    }
    return {};
}

void closePngPicture(PngPictureWriter& writer) {
    closePngEncoder(writer.encoder);
    writer.encoder = nullptr;
}

} // namespace pixfold
