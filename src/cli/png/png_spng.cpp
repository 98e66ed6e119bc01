// The PNG codec on libspng: the one file that knows it.
#include "png/png_codec.h"

#include <spng.h>

#include <algorithm>

namespace pixfold {

const bool pngBuilt = true;

struct PngDecoder {
    spng_ctx* context = nullptr;
    PngSource* source = nullptr;
    bool started = false; // the image data's decoding
};

struct PngEncoder {
    spng_ctx* context = nullptr;
    std::size_t rowBytes = 0;
};

namespace {

// Chunks other than the image data are held in memory while read (text,
// ICC profiles, Exif): this much each and all together.
constexpr std::size_t chunkLimit = std::size_t{64} << 20;

// pixunfold's PNGs: deflate's stored blocks (zlib level 0) and no filter, so
// that writing a PNG costs what writing its PPM does (a CRC and a checksum
// more). zlib's fastest coding that compresses (run-length matching and the
// Up filter) made the benchmark's 8000x6000 photograph 57% of the PPM's size
// but took 8 times as long (docs/performance.md).
constexpr int compressionLevel = 0;
constexpr int filterChoice = SPNG_FILTER_CHOICE_NONE;

int readSource(spng_ctx* /*context*/, void* user, void* into, std::size_t length) {
    auto& source = *static_cast<PngSource*>(user);
    if (readPngBytes(source, static_cast<std::uint8_t*>(into), length) == length) {
        return SPNG_OK;
    }
    return source.input->failed ? SPNG_IO_ERROR : SPNG_IO_EOF;
}

int writeSink(spng_ctx* /*context*/, void* user, void* bytes, std::size_t length) {
    return writePngBytes(*static_cast<PngSink*>(user), static_cast<const std::uint8_t*>(bytes),
                         length)
               ? SPNG_OK
               : SPNG_IO_ERROR;
}

Result decodeFailure(int error) {
    if (error == SPNG_IO_ERROR) {
        return failure(ErrorCode::cantReadInput);
    }
    if (error == SPNG_EUSER_WIDTH) {
        return failure(ErrorCode::pngTooWide);
    }
    Result result = failure(ErrorCode::damagedPng);
    result.detail = error == SPNG_IO_EOF ? "it ends before its IEND chunk" : spng_strerror(error);
    return result;
}

void fillHeader(spng_ctx* context, const spng_ihdr& ihdr, PngHeader& header) {
    header.width = ihdr.width;
    header.height = ihdr.height;
    header.bitDepth = ihdr.bit_depth;
    header.colourType = ihdr.color_type;
    header.interlaced = ihdr.interlace_method != SPNG_INTERLACE_NONE;
    spng_plte palette{};
    if (spng_get_plte(context, &palette) == SPNG_OK) {
        header.paletteEntries = static_cast<int>(std::min<std::uint32_t>(palette.n_entries, 256));
        for (int i = 0; i < header.paletteEntries; ++i) {
            header.palette[i][0] = palette.entries[i].red;
            header.palette[i][1] = palette.entries[i].green;
            header.palette[i][2] = palette.entries[i].blue;
        }
    }
    spng_trns transparency{};
    if (spng_get_trns(context, &transparency) == SPNG_OK) {
        header.paletteAlphas =
            static_cast<int>(std::min<std::uint32_t>(transparency.n_type3_entries, 256));
        std::copy(transparency.type3_alpha, transparency.type3_alpha + header.paletteAlphas,
                  header.paletteAlpha);
        header.colourKey = ihdr.color_type == SPNG_COLOR_TYPE_GRAYSCALE ||
                           ihdr.color_type == SPNG_COLOR_TYPE_TRUECOLOR;
        const bool grey = ihdr.color_type == SPNG_COLOR_TYPE_GRAYSCALE;
        header.keySample[0] = grey ? transparency.gray : transparency.red;
        header.keySample[1] = grey ? transparency.gray : transparency.green;
        header.keySample[2] = grey ? transparency.gray : transparency.blue;
    }
}

} // namespace

Result openPngDecoder(PngSource& source, PngDecoder*& decoder, PngHeader& header) {
    decoder = nullptr;
    spng_ctx* context = spng_ctx_new(0);
    if (context == nullptr) {
        return decodeFailure(SPNG_EMEM);
    }
    // Any chunk whose CRC fails makes the file damaged, ancillary ones too:
    // tRNS is one, and its loss would change the pixels.
    int error = spng_set_crc_action(context, SPNG_CRC_ERROR, SPNG_CRC_ERROR);
    if (error == SPNG_OK) {
        error = spng_set_chunk_limits(context, chunkLimit, chunkLimit);
    }
    if (error == SPNG_OK) {
        error = spng_set_image_limits(context, pngWidestRow, 0x7FFFFFFFu);
    }
    if (error == SPNG_OK) {
        error = spng_set_png_stream(context, readSource, &source);
    }
    spng_ihdr ihdr{};
    if (error == SPNG_OK) {
        error = spng_get_ihdr(context, &ihdr);
    }
    spng_plte palette{}; // reads every chunk before the image data
    if (error == SPNG_OK) {
        error = spng_get_plte(context, &palette);
        error = error == SPNG_ECHUNKAVAIL ? SPNG_OK : error;
    }
    if (error != SPNG_OK) {
        spng_ctx_free(context);
        return decodeFailure(error);
    }
    fillHeader(context, ihdr, header);
    decoder = new PngDecoder{context, &source, false};
    return {};
}

Result decodePngScanline(PngDecoder& decoder, std::uint8_t* into, std::size_t size, int& pass) {
    // The image data is read from the first scanline on, once the caller has
    // checked the header. SPNG_FMT_RAW: scanlines as stored, untransformed.
    int error = decoder.started ? SPNG_OK
                                : spng_decode_image(decoder.context, nullptr, 0, SPNG_FMT_RAW,
                                                    SPNG_DECODE_PROGRESSIVE);
    decoder.started = true;
    spng_row_info row{};
    if (error == SPNG_OK) {
        error = spng_get_row_info(decoder.context, &row);
    }
    if (error == SPNG_OK) {
        error = spng_decode_scanline(decoder.context, into, size);
    }
    if (error != SPNG_OK && error != SPNG_EOI) { // SPNG_EOI: this was the last scanline
        return decodeFailure(error);
    }
    spng_ihdr ihdr{};
    spng_get_ihdr(decoder.context, &ihdr);
    pass = ihdr.interlace_method == SPNG_INTERLACE_NONE ? -1 : row.pass;
    return {};
}

Result finishPngDecoder(PngDecoder& decoder) {
    const int error = spng_decode_chunks(decoder.context);
    if (error != SPNG_OK) {
        return decodeFailure(error);
    }
    if (decoder.source->piece != PngPiece::ended) { // stopped early: no IEND
        return decodeFailure(SPNG_IO_EOF);
    }
    return {};
}

void closePngDecoder(PngDecoder* decoder) {
    if (decoder != nullptr) {
        spng_ctx_free(decoder->context);
        delete decoder;
    }
}

Result openPngEncoder(PngSink& sink, std::uint32_t width, std::uint32_t height, int channels,
                      PngEncoder*& encoder) {
    encoder = nullptr;
    spng_ctx* context = spng_ctx_new(SPNG_CTX_ENCODER);
    if (context == nullptr) {
        return failure(ErrorCode::cantWriteOutput);
    }
    spng_ihdr ihdr{};
    ihdr.width = width;
    ihdr.height = height;
    ihdr.bit_depth = 8;
    ihdr.color_type = channels == 1 ? SPNG_COLOR_TYPE_GRAYSCALE : SPNG_COLOR_TYPE_TRUECOLOR;
    int error = spng_set_png_stream(context, writeSink, &sink);
    if (error == SPNG_OK) {
        error = spng_set_ihdr(context, &ihdr);
    }
    if (error == SPNG_OK) {
        error = spng_set_option(context, SPNG_IMG_COMPRESSION_LEVEL, compressionLevel);
    }
    if (error == SPNG_OK) {
        error = spng_set_option(context, SPNG_FILTER_CHOICE, filterChoice);
    }
    if (error == SPNG_OK) {
        error = spng_encode_image(context, nullptr, 0, SPNG_FMT_PNG,
                                  SPNG_ENCODE_PROGRESSIVE | SPNG_ENCODE_FINALIZE);
    }
    if (error != SPNG_OK) {
        spng_ctx_free(context);
        return failure(ErrorCode::cantWriteOutput);
    }
    encoder = new PngEncoder{context, std::size_t{width} * static_cast<std::size_t>(channels)};
    return {};
}

Result encodePngRow(PngEncoder& encoder, const std::uint8_t* row) {
    const int error = spng_encode_row(encoder.context, row, encoder.rowBytes);
    return error == SPNG_OK || error == SPNG_EOI ? Result{} : failure(ErrorCode::cantWriteOutput);
}

void closePngEncoder(PngEncoder* encoder) {
    if (encoder != nullptr) {
        spng_ctx_free(encoder->context);
        delete encoder;
    }
}

} // namespace pixfold
