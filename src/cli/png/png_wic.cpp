// The PNG codec on the Windows Imaging Component (WIC), which every Windows
// has, so the tools need no library of their own: the one file that knows it.
//
// Decoding: the PNG is read whole into memory through readPngBytes (which
// stops at IEND), its chunks checked and its header, PLTE and tRNS taken by
// the portable readPngChunks, and WIC decodes frame 0 from that memory. WIC
// gives pixels in a format of its own choosing (BGR order, 16-bit samples
// little-endian, tRNS folded into an alpha channel or a palette, grey with
// alpha as BGRA); each row is copied in the frame's own format and turned
// back into the scanline as stored, which the shared unpacking reads as on
// every other host. Where WIC widened samples (a 2-bit grey as 8 bits) the
// factor is undone exactly; what can't be undone exactly is refused.
//
// Encoding: WIC's PNG encoder, rows without a filter, into a stream in memory
// whose bytes go out through writePngBytes once the PNG is whole.
//
// Built for Windows only (CMake picks it there); elsewhere it is empty, as
// the other Windows sources are, for the tools that read every source.
#ifdef _WIN32
#include "png/png_codec.h"

#include <windows.h>

#include <objbase.h>
#include <wincodec.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace pixfold {

const bool pngBuilt = true;

namespace {

// A pixel format WIC may give a PNG's frame in: bits a sample (or an index),
// samples a pixel, and where red, green, blue and alpha stand among them
// (grey: all three at 0; -1: none). 16-bit samples are little-endian;
// indexed formats hold indices into the frame's palette, packed from the
// high bit below 8 bits as PNG packs them.
struct FrameFormat {
    const GUID* guid;
    int bits;
    int channels;
    int red;
    int green;
    int blue;
    int alpha;
    bool indexed;
};

const FrameFormat frameFormats[] = {
    {&GUID_WICPixelFormat1bppIndexed, 1, 1, 0, 0, 0, -1, true},
    {&GUID_WICPixelFormat2bppIndexed, 2, 1, 0, 0, 0, -1, true},
    {&GUID_WICPixelFormat4bppIndexed, 4, 1, 0, 0, 0, -1, true},
    {&GUID_WICPixelFormat8bppIndexed, 8, 1, 0, 0, 0, -1, true},
    {&GUID_WICPixelFormatBlackWhite, 1, 1, 0, 0, 0, -1, false},
    {&GUID_WICPixelFormat2bppGray, 2, 1, 0, 0, 0, -1, false},
    {&GUID_WICPixelFormat4bppGray, 4, 1, 0, 0, 0, -1, false},
    {&GUID_WICPixelFormat8bppGray, 8, 1, 0, 0, 0, -1, false},
    {&GUID_WICPixelFormat16bppGray, 16, 1, 0, 0, 0, -1, false},
    {&GUID_WICPixelFormat24bppBGR, 8, 3, 2, 1, 0, -1, false},
    {&GUID_WICPixelFormat24bppRGB, 8, 3, 0, 1, 2, -1, false},
    {&GUID_WICPixelFormat32bppBGR, 8, 4, 2, 1, 0, -1, false},
    {&GUID_WICPixelFormat32bppBGRA, 8, 4, 2, 1, 0, 3, false},
    {&GUID_WICPixelFormat32bppRGBA, 8, 4, 0, 1, 2, 3, false},
    {&GUID_WICPixelFormat48bppRGB, 16, 3, 0, 1, 2, -1, false},
    {&GUID_WICPixelFormat48bppBGR, 16, 3, 2, 1, 0, -1, false},
    {&GUID_WICPixelFormat64bppRGB, 16, 4, 0, 1, 2, -1, false},
    {&GUID_WICPixelFormat64bppRGBA, 16, 4, 0, 1, 2, 3, false},
    {&GUID_WICPixelFormat64bppBGRA, 16, 4, 2, 1, 0, 3, false},
};

// How a frame's row becomes the stored scanline.
enum class RowTurn {
    copy,       // the same bytes: indices, or grey of 8 bits or fewer
    bgrToRgb,   // 8-bit BGR to RGB
    bgraToRgba, // 8-bit BGRA to RGBA
    samples,    // sample by sample, through the palette where WIC gives indices
};

// pixunfold's PNGs are written without a filter, the cheapest rows for the
// encoder, as on the other hosts; WIC has no setting for deflate's level, so
// its own is used (docs/performance.md).
constexpr WICPngFilterOption filterChoice = WICPngFilterNone;

} // namespace

struct PngDecoder {
    std::vector<std::uint8_t> png; // the whole PNG, signature to IEND
    PngHeader header;
    std::uint64_t imageDataBytes = 0;
    bool comStarted = false;
    IWICImagingFactory* factory = nullptr;
    IWICStream* stream = nullptr;
    IWICBitmapDecoder* decoder = nullptr;
    IWICBitmapFrameDecode* frame = nullptr;
    const FrameFormat* format = nullptr;
    RowTurn turn = RowTurn::copy;
    PngLayout layout;
    std::vector<std::uint8_t> frameRow;
    std::uint8_t palette[256][4] = {}; // the frame's palette: red, green, blue, alpha
    UINT paletteColours = 0;
    std::uint32_t rowsCopied = 0;
};

struct PngEncoder {
    PngSink* sink = nullptr;
    bool comStarted = false;
    IWICImagingFactory* factory = nullptr;
    IStream* memory = nullptr;
    IWICBitmapEncoder* encoder = nullptr;
    IWICBitmapFrameEncode* frame = nullptr;
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::uint32_t rowsWritten = 0;
    int channels = 3;
    std::vector<std::uint8_t> row; // in the frame's order: BGR or grey
};

namespace {

template <typename Interface> void release(Interface*& object) {
    if (object != nullptr) {
        object->Release();
        object = nullptr;
    }
}

std::string hresultText(HRESULT status) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08lX", static_cast<unsigned long>(status));
    return text;
}

Result systemFailure(const std::string& reason) {
    Result result = failure(ErrorCode::pngSystemDecoder);
    result.detail = reason;
    return result;
}

// WIC's objects live in a COM apartment of this thread; one that the
// caller's thread is in already serves as well.
bool startCom() {
    const HRESULT status = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    return SUCCEEDED(status);
}

HRESULT createFactory(IWICImagingFactory*& factory) {
    return CoCreateInstance(CLSID_WICImagingFactory1, nullptr, CLSCTX_INPROC_SERVER,
                            IID_IWICImagingFactory, reinterpret_cast<void**>(&factory));
}

// Sample index of a row of samples of bits each: sub-byte ones from the high
// bit, 16-bit ones little-endian (WIC's order).
inline unsigned frameSample(const std::uint8_t* row, std::size_t index, int bits) {
    if (bits == 16) {
        return row[index * 2] | (unsigned{row[index * 2 + 1]} << 8);
    }
    if (bits == 8) {
        return row[index];
    }
    const std::size_t bit = index * static_cast<std::size_t>(bits);
    const unsigned shift = 8u - static_cast<unsigned>(bits) - static_cast<unsigned>(bit & 7u);
    return (row[bit >> 3] >> shift) & ((1u << bits) - 1u);
}

// Stores sample index of a scanline as PNG stores it: sub-byte samples from
// the high bit (the scanline zeroed first), 16-bit ones most significant first.
inline void storeSample(std::uint8_t* scanline, std::size_t index, int bits, unsigned value) {
    if (bits == 16) {
        scanline[index * 2] = static_cast<std::uint8_t>(value >> 8);
        scanline[index * 2 + 1] = static_cast<std::uint8_t>(value);
        return;
    }
    if (bits == 8) {
        scanline[index] = static_cast<std::uint8_t>(value);
        return;
    }
    const std::size_t bit = index * static_cast<std::size_t>(bits);
    const unsigned shift = 8u - static_cast<unsigned>(bits) - static_cast<unsigned>(bit & 7u);
    scanline[bit >> 3] = static_cast<std::uint8_t>(scanline[bit >> 3] | (value << shift));
}

// Channels a stored pixel has, by colour type: grey, -, RGB, index, grey and
// alpha, -, RGBA.
constexpr int storedChannels[7] = {1, 0, 3, 1, 2, 0, 4};

// Which of the frame's channels give each stored channel: red, green, blue
// and alpha, as many as the colour type has (grey: green).
void channelSources(const FrameFormat& format, int colourType, int (&sources)[4]) {
    switch (colourType) {
    case 0:
    case 4:
        sources[0] = format.green;
        sources[1] = format.alpha;
        break;
    default:
        sources[0] = format.red;
        sources[1] = format.green;
        sources[2] = format.blue;
        sources[3] = format.alpha;
        break;
    }
}

// Decides how the frame's rows become stored scanlines, or refuses a format
// whose samples are not the PNG's own.
Result decideTurn(PngDecoder& decoder) {
    const FrameFormat& format = *decoder.format;
    const PngHeader& header = decoder.header;
    const int depth = header.bitDepth;
    if (header.colourType == 3 || format.indexed) {
        // Indices are the PNG's own when the PNG has a palette; a grey image
        // given as indices is read through the frame's palette, 8 bits.
        const bool exact =
            header.colourType == 3 ? format.indexed : header.colourType == 0 && depth <= 8;
        decoder.turn =
            header.colourType == 3 && format.bits == depth ? RowTurn::copy : RowTurn::samples;
        return exact ? Result{}
                     : systemFailure("its pixels come as indices the PNG's samples can't be "
                                     "taken from exactly");
    }
    const bool alpha = header.colourType == 4 || header.colourType == 6;
    if (format.bits < depth || (alpha && format.alpha < 0)) {
        return systemFailure("its pixels come with fewer bits or channels than it stores");
    }
    decoder.turn = RowTurn::samples;
    if (format.bits == depth && depth <= 8 && format.channels == 1 && header.colourType == 0) {
        decoder.turn = RowTurn::copy;
    } else if (format.bits == 8 && depth == 8 && format.red == 2 && format.channels == 3 &&
               header.colourType == 2) {
        decoder.turn = RowTurn::bgrToRgb;
    } else if (format.bits == 8 && depth == 8 && format.red == 2 && format.alpha == 3 &&
               header.colourType == 6) {
        decoder.turn = RowTurn::bgraToRgba;
    }
    return {};
}

// Turns the frame's row into the stored scanline, sample by sample: indices
// as they are, or samples scaled from the frame's bits back to the PNG's
// depth (2^depth - 1 divides 2^bits - 1 for every pair), refused where a
// sample is not a multiple of the factor.
Result turnSamples(PngDecoder& decoder, std::uint8_t* into) {
    const FrameFormat& format = *decoder.format;
    const PngHeader& header = decoder.header;
    const int depth = header.bitDepth;
    const int channels = storedChannels[header.colourType];
    const std::uint8_t* row = decoder.frameRow.data();
    const bool throughPalette = format.indexed && header.colourType != 3;
    const int frameBits = throughPalette ? 8 : format.bits;
    const unsigned factor = ((1u << frameBits) - 1u) / ((1u << depth) - 1u);
    // A palette entry is taken as a pixel of red, green, blue and alpha.
    constexpr FrameFormat paletteEntry = {nullptr, 8, 4, 0, 1, 2, 3, false};
    int sources[4] = {-1, -1, -1, -1};
    channelSources(throughPalette ? paletteEntry : format, header.colourType, sources);
    std::fill(into, into + decoder.layout.rowBytes, std::uint8_t{0});
    for (std::size_t x = 0; x < header.width; ++x) {
        const std::size_t pixel = x * static_cast<std::size_t>(format.channels);
        if (header.colourType == 3) {
            storeSample(into, x, depth, frameSample(row, pixel, format.bits));
            continue;
        }
        const unsigned index = throughPalette ? frameSample(row, pixel, format.bits) : 0;
        for (int c = 0; c < channels; ++c) {
            const auto source = static_cast<std::size_t>(sources[c]);
            const unsigned value = !throughPalette ? frameSample(row, pixel + source, format.bits)
                                   : index < decoder.paletteColours ? decoder.palette[index][source]
                                                                    : 0;
            if (value % factor != 0) {
                return systemFailure("its pixels come widened in a way that can't be undone "
                                     "exactly");
            }
            storeSample(into, x * static_cast<std::size_t>(channels) + static_cast<std::size_t>(c),
                        depth, value / factor);
        }
    }
    return {};
}

Result turnRow(PngDecoder& decoder, std::uint8_t* into) {
    const std::uint8_t* row = decoder.frameRow.data();
    const std::size_t width = decoder.header.width;
    switch (decoder.turn) {
    case RowTurn::copy:
        std::memcpy(into, row, decoder.layout.rowBytes);
        return {};
    case RowTurn::bgrToRgb:
        for (std::size_t x = 0; x < width; ++x) {
            into[x * 3] = row[x * 3 + 2];
            into[x * 3 + 1] = row[x * 3 + 1];
            into[x * 3 + 2] = row[x * 3];
        }
        return {};
    case RowTurn::bgraToRgba:
        for (std::size_t x = 0; x < width; ++x) {
            into[x * 4] = row[x * 4 + 2];
            into[x * 4 + 1] = row[x * 4 + 1];
            into[x * 4 + 2] = row[x * 4];
            into[x * 4 + 3] = row[x * 4 + 3];
        }
        return {};
    case RowTurn::samples:
        break;
    }
    return turnSamples(decoder, into);
}

Result imageDataRefused(HRESULT status) {
    Result result = failure(ErrorCode::damagedPng);
    result.detail = "the system's decoder refuses its image data (" + hresultText(status) + ")";
    return result;
}

// Frame 0 of the PNG in memory, its pixel format, and its palette where it
// has one.
Result startDecoding(PngDecoder& decoder) {
    Result result = decidePngLayout(decoder.header, decoder.layout);
    if (succeeded(result)) {
        result = checkImageDataSize(decoder.layout, decoder.imageDataBytes);
    }
    if (!succeeded(result)) {
        return result;
    }
    if (decoder.png.size() > 0xFFFFFFFFu) {
        return systemFailure("it is over 4 GiB");
    }
    decoder.comStarted = startCom();
    HRESULT status = createFactory(decoder.factory);
    if (SUCCEEDED(status)) {
        status = decoder.factory->CreateStream(&decoder.stream);
    }
    if (SUCCEEDED(status)) {
        status = decoder.stream->InitializeFromMemory(decoder.png.data(),
                                                      static_cast<DWORD>(decoder.png.size()));
    }
    if (SUCCEEDED(status)) {
        status = decoder.factory->CreateDecoder(GUID_ContainerFormatPng, nullptr, &decoder.decoder);
    }
    if (FAILED(status)) {
        return systemFailure("the Windows Imaging Component is not at hand (" +
                             hresultText(status) + ")");
    }
    status = decoder.decoder->Initialize(decoder.stream, WICDecodeMetadataCacheOnDemand);
    if (SUCCEEDED(status)) {
        status = decoder.decoder->GetFrame(0, &decoder.frame);
    }
    WICPixelFormatGUID pixelFormat{};
    UINT width = 0;
    UINT height = 0;
    if (SUCCEEDED(status)) {
        status = decoder.frame->GetPixelFormat(&pixelFormat);
    }
    if (SUCCEEDED(status)) {
        status = decoder.frame->GetSize(&width, &height);
    }
    if (FAILED(status)) {
        return imageDataRefused(status);
    }
    if (width != decoder.header.width || height != decoder.header.height) {
        return systemFailure("the system's decoder gives another size than its header");
    }
    for (const FrameFormat& format : frameFormats) {
        if (IsEqualGUID(pixelFormat, *format.guid) != 0) {
            decoder.format = &format;
        }
    }
    if (decoder.format == nullptr) {
        return systemFailure("its pixels come in a format pixfold does not know");
    }
    if (decoder.format->indexed && decoder.header.colourType != 3) {
        IWICPalette* palette = nullptr;
        WICColor colours[256] = {};
        status = decoder.factory->CreatePalette(&palette);
        if (SUCCEEDED(status)) {
            status = decoder.frame->CopyPalette(palette);
        }
        if (SUCCEEDED(status)) {
            status = palette->GetColors(256, colours, &decoder.paletteColours);
        }
        release(palette);
        if (FAILED(status)) {
            return imageDataRefused(status);
        }
        for (UINT i = 0; i < decoder.paletteColours; ++i) { // WICColor: 0xAARRGGBB
            decoder.palette[i][0] = static_cast<std::uint8_t>(colours[i] >> 16);
            decoder.palette[i][1] = static_cast<std::uint8_t>(colours[i] >> 8);
            decoder.palette[i][2] = static_cast<std::uint8_t>(colours[i]);
            decoder.palette[i][3] = static_cast<std::uint8_t>(colours[i] >> 24);
        }
    }
    decoder.frameRow.assign(static_cast<std::size_t>(scanlineBytes(
                                width, decoder.format->bits * decoder.format->channels)),
                            0);
    return decideTurn(decoder);
}

} // namespace

Result openPngDecoder(PngSource& source, PngDecoder*& decoder, PngHeader& header) {
    decoder = new PngDecoder;
    // The whole PNG, up to the end of IEND and no further.
    // The vector's capacity grows by doubling, and only what is read is written.
    std::vector<std::uint8_t>& png = decoder->png;
    constexpr std::size_t step = std::size_t{64} << 10;
    std::size_t filled = 0;
    bool more = true;
    while (more) {
        png.resize(filled + step);
        const std::size_t got = readPngBytes(source, png.data() + filled, step);
        filled += got;
        more = got == step && source.piece != PngPiece::ended;
    }
    png.resize(filled);
    Result result = source.input->failed ? failure(ErrorCode::cantReadInput)
                                         : readPngChunks(png.data(), png.size(), decoder->header,
                                                         decoder->imageDataBytes);
    if (!succeeded(result)) {
        closePngDecoder(decoder);
        decoder = nullptr;
        return result;
    }
    header = decoder->header;
    return {};
}

Result decodePngScanline(PngDecoder& decoder, std::uint8_t* into, std::size_t size, int& pass) {
    // WIC gives an interlaced image's rows in their final order.
    pass = -1;
    if (decoder.frame == nullptr) {
        Result result = startDecoding(decoder);
        if (!succeeded(result)) {
            return result;
        }
    }
    if (decoder.rowsCopied == decoder.header.height || size < decoder.layout.rowBytes) {
        Result result = failure(ErrorCode::damagedPng);
        result.detail = "it has more rows than its header says";
        return result;
    }
    const WICRect rect = {0, static_cast<INT>(decoder.rowsCopied),
                          static_cast<INT>(decoder.header.width), 1};
    const auto stride = static_cast<UINT>(decoder.frameRow.size());
    const HRESULT status =
        decoder.frame->CopyPixels(&rect, stride, stride, decoder.frameRow.data());
    if (FAILED(status)) {
        return imageDataRefused(status);
    }
    ++decoder.rowsCopied;
    return turnRow(decoder, into);
}

Result finishPngDecoder(PngDecoder& /*decoder*/) {
    return {}; // every chunk was read and checked when it was opened
}

void closePngDecoder(PngDecoder* decoder) {
    if (decoder == nullptr) {
        return;
    }
    release(decoder->frame);
    release(decoder->decoder);
    release(decoder->stream);
    release(decoder->factory);
    if (decoder->comStarted) {
        CoUninitialize();
    }
    delete decoder;
}

namespace {

// The PNG's length: its chunks walked from the signature to the end of IEND
// (the stream in memory is larger, set to the size of the uncompressed rows
// beforehand so that it never grows a write at a time); 0 if it has no IEND.
std::size_t encodedLength(const std::uint8_t* bytes, std::size_t size) {
    for (std::size_t at = pngSignature.size(); size - at >= 12;) {
        const std::size_t length = (std::size_t{bytes[at]} << 24) |
                                   (std::size_t{bytes[at + 1]} << 16) |
                                   (std::size_t{bytes[at + 2]} << 8) | bytes[at + 3];
        const bool end = std::memcmp(bytes + at + 4, "IEND", 4) == 0;
        if (length > size - at - 12) {
            break;
        }
        at += 12 + length;
        if (end) {
            return at;
        }
    }
    return 0;
}

// The PNG, once whole, from its stream in memory to the sink.
Result sendEncoded(PngEncoder& encoder) {
    STATSTG facts{};
    HGLOBAL memory = nullptr;
    HRESULT status = encoder.memory->Stat(&facts, STATFLAG_NONAME);
    if (SUCCEEDED(status)) {
        status = GetHGlobalFromStream(encoder.memory, &memory);
    }
    const auto* bytes =
        static_cast<const std::uint8_t*>(SUCCEEDED(status) ? GlobalLock(memory) : nullptr);
    if (bytes == nullptr) {
        return failure(ErrorCode::cantWriteOutput);
    }
    const std::size_t length =
        encodedLength(bytes, static_cast<std::size_t>(facts.cbSize.QuadPart));
    const bool written = length > 0 && writePngBytes(*encoder.sink, bytes, length);
    GlobalUnlock(memory);
    return written ? Result{} : failure(ErrorCode::cantWriteOutput);
}

} // namespace

Result openPngEncoder(PngSink& sink, std::uint32_t width, std::uint32_t height, int channels,
                      PngEncoder*& encoder) {
    encoder = new PngEncoder;
    encoder->sink = &sink;
    encoder->width = width;
    encoder->height = height;
    encoder->channels = channels;
    encoder->row.resize(std::size_t{width} * static_cast<std::size_t>(channels));
    encoder->comStarted = startCom();
    IPropertyBag2* options = nullptr;
    HRESULT status = createFactory(encoder->factory);
    if (SUCCEEDED(status)) {
        status = CreateStreamOnHGlobal(nullptr, TRUE, &encoder->memory);
    }
    if (SUCCEEDED(status)) {
        ULARGE_INTEGER size{}; // the rows, uncompressed, and room for chunks and zlib's blocks
        size.QuadPart = std::uint64_t{height} *
                            (std::uint64_t{width} * static_cast<std::uint64_t>(channels) + 1) +
                        (std::uint64_t{1} << 20);
        status = encoder->memory->SetSize(size);
    }
    if (SUCCEEDED(status)) {
        status =
            encoder->factory->CreateEncoder(GUID_ContainerFormatPng, nullptr, &encoder->encoder);
    }
    if (SUCCEEDED(status)) {
        status = encoder->encoder->Initialize(encoder->memory, WICBitmapEncoderNoCache);
    }
    if (SUCCEEDED(status)) {
        status = encoder->encoder->CreateNewFrame(&encoder->frame, &options);
    }
    if (SUCCEEDED(status)) {
        wchar_t name[] = L"FilterOption";
        PROPBAG2 option{};
        option.pstrName = name;
        VARIANT value{};
        value.vt = VT_UI1;
        value.bVal = static_cast<BYTE>(filterChoice);
        status = options->Write(1, &option, &value);
    }
    if (SUCCEEDED(status)) {
        status = encoder->frame->Initialize(options);
    }
    release(options);
    if (SUCCEEDED(status)) {
        status = encoder->frame->SetSize(width, height);
    }
    const GUID wanted = channels == 1 ? GUID_WICPixelFormat8bppGray : GUID_WICPixelFormat24bppBGR;
    WICPixelFormatGUID format = wanted;
    if (SUCCEEDED(status)) {
        status = encoder->frame->SetPixelFormat(&format);
    }
    if (FAILED(status) || IsEqualGUID(format, wanted) == 0) {
        closePngEncoder(encoder);
        encoder = nullptr;
        return failure(ErrorCode::cantWriteOutput);
    }
    return {};
}

Result encodePngRow(PngEncoder& encoder, const std::uint8_t* row) {
    std::uint8_t* out = encoder.row.data();
    if (encoder.channels == 3) {
        for (std::size_t x = 0; x < encoder.width; ++x) { // RGB to WIC's BGR
            out[x * 3] = row[x * 3 + 2];
            out[x * 3 + 1] = row[x * 3 + 1];
            out[x * 3 + 2] = row[x * 3];
        }
    } else {
        std::memcpy(out, row, encoder.row.size());
    }
    const auto stride = static_cast<UINT>(encoder.row.size());
    HRESULT status = encoder.frame->WritePixels(1, stride, stride, out);
    if (SUCCEEDED(status) && ++encoder.rowsWritten == encoder.height) {
        status = encoder.frame->Commit();
        if (SUCCEEDED(status)) {
            status = encoder.encoder->Commit();
        }
        if (SUCCEEDED(status)) {
            return sendEncoded(encoder);
        }
    }
    return SUCCEEDED(status) ? Result{} : failure(ErrorCode::cantWriteOutput);
}

void closePngEncoder(PngEncoder* encoder) {
    if (encoder == nullptr) {
        return;
    }
    release(encoder->frame);
    release(encoder->encoder);
    release(encoder->memory);
    release(encoder->factory);
    if (encoder->comStarted) {
        CoUninitialize();
    }
    delete encoder;
}

} // namespace pixfold
#endif
