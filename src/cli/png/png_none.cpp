// The PNG codec of a build without PNG support: a PNG input or output is
// refused with a message that says so.
#include "png/png_codec.h"

namespace pixfold {

const bool pngBuilt = false;

struct PngDecoder {};
struct PngEncoder {};

Result openPngDecoder(PngSource& /*source*/, PngDecoder*& decoder, PngHeader& /*header*/) {
    decoder = nullptr;
    return failure(ErrorCode::pngInputNotBuilt);
}

Result decodePngScanline(PngDecoder& /*decoder*/, std::uint8_t* /*into*/, std::size_t /*size*/,
                         int& pass) {
    pass = -1;
    return failure(ErrorCode::pngInputNotBuilt);
}

Result finishPngDecoder(PngDecoder& /*decoder*/) {
    return failure(ErrorCode::pngInputNotBuilt);
}

void closePngDecoder(PngDecoder* /*decoder*/) {}

Result openPngEncoder(PngSink& /*sink*/, std::uint32_t /*width*/, std::uint32_t /*height*/,
                      int /*channels*/, PngEncoder*& encoder) {
    encoder = nullptr;
    return failure(ErrorCode::pngOutputNotBuilt);
}

Result encodePngRow(PngEncoder& /*encoder*/, const std::uint8_t* /*row*/) {
    return failure(ErrorCode::pngOutputNotBuilt);
}

void closePngEncoder(PngEncoder* /*encoder*/) {}

} // namespace pixfold
