#include "png/png_reader.h"

#include <algorithm>
#include <cstring>

namespace pixfold {

namespace {

// Slabs of a pass store hold this many bytes of scanlines, or one scanline.
constexpr std::size_t slabBytes = std::size_t{4} << 20;

Result outOfOrder() {
    Result result = failure(ErrorCode::damagedPng);
    result.detail = "its interlaced scanlines come out of order";
    return result;
}

// Each pass's size; the total held must stay within pngInterlacedLimit.
Result planPasses(PngReader& reader) {
    const PngLayout& layout = reader.layout;
    std::uint64_t total = 0;
    for (std::size_t p = 0; p < 7; ++p) {
        const AdamPass& pass = adamPasses[p];
        PngPassStore& store = reader.passes[p];
        store = PngPassStore{};
        store.width = passExtent(layout.width, pass.xStart, pass.xStep);
        store.rows = store.width == 0 ? 0 : passExtent(layout.height, pass.yStart, pass.yStep);
        const std::uint64_t bytes = scanlineBytes(store.width, layout.bitsPerPixel);
        total += bytes * store.rows;
        store.scanlineBytes = static_cast<std::size_t>(bytes);
        store.rowsPerSlab =
            std::max<std::size_t>(1, slabBytes / std::max<std::size_t>(1, store.scanlineBytes));
    }
    return total > pngInterlacedLimit ? failure(ErrorCode::interlacedPngTooLarge) : Result{};
}

std::uint8_t* scanlineAt(PngPassStore& store, std::uint32_t row) {
    return store.slabs[row / store.rowsPerSlab].data() +
           row % store.rowsPerSlab * store.scanlineBytes;
}

// Keeps a pass's next scanline, from the row buffer it was decoded into.
Result keepScanline(PngReader& reader, int pass) {
    if (pass < 0 || pass > 6 || reader.passes[pass].filled == reader.passes[pass].rows) {
        return outOfOrder();
    }
    PngPassStore& store = reader.passes[pass];
    if (store.filled % store.rowsPerSlab == 0) {
        const std::size_t rows =
            std::min<std::size_t>(store.rowsPerSlab, store.rows - store.filled);
        store.slabs.emplace_back(rows * store.scanlineBytes);
    }
    std::memcpy(scanlineAt(store, store.filled), reader.row.data(), store.scanlineBytes);
    ++store.filled;
    return {};
}

// Decodes every scanline of an interlaced image; the first is in the row buffer.
Result holdPasses(PngReader& reader, int firstPass) {
    Result result = keepScanline(reader, firstPass);
    std::uint64_t left = 0;
    for (const PngPassStore& store : reader.passes) {
        left += store.rows - store.filled;
    }
    for (; left > 0 && succeeded(result); --left) {
        int pass = -1;
        result = decodePngScanline(*reader.decoder, reader.row.data(), reader.row.size(), pass);
        if (succeeded(result)) {
            result = keepScanline(reader, pass);
        }
    }
    reader.passesHeld = succeeded(result);
    return result;
}

// Puts row y of an interlaced image together from its passes.
void gatherRow(PngReader& reader, std::uint32_t y) {
    std::fill(reader.row.begin(), reader.row.end(), std::uint8_t{0});
    for (std::size_t p = 0; p < 7; ++p) {
        const AdamPass& pass = adamPasses[p];
        PngPassStore& store = reader.passes[p];
        if (store.rows > 0 && y >= pass.yStart && (y - pass.yStart) % pass.yStep == 0) {
            placePassPixels(scanlineAt(store, (y - pass.yStart) / pass.yStep), store.width, pass,
                            reader.layout.bitsPerPixel, reader.row.data());
        }
    }
}

Result nextRow(PngReader& reader) {
    if (reader.passesHeld) {
        gatherRow(reader, reader.rowsTaken++);
        return {};
    }
    int pass = -1;
    Result result = decodePngScanline(*reader.decoder, reader.row.data(), reader.row.size(), pass);
    if (succeeded(result) && reader.rowsTaken == 0 && pass >= 0) {
        // The passes come one by one: hold them all.
        result = holdPasses(reader, pass);
        return succeeded(result) ? nextRow(reader) : result;
    }
    if (succeeded(result) && pass >= 0) {
        result = outOfOrder();
    }
    ++reader.rowsTaken;
    return result;
}

} // namespace

Result openPngReader(InputStream& input, PngReader& reader) {
    closePngReader(reader);
    if (!startPngSource(input, reader.source)) {
        return failure(input.failed ? ErrorCode::cantReadInput : ErrorCode::wrongInputFormat);
    }
    PngHeader header;
    Result result = openPngDecoder(reader.source, reader.decoder, header);
    if (succeeded(result)) {
        result = decidePngLayout(header, reader.layout);
    }
    if (succeeded(result) && reader.layout.interlaced) {
        result = planPasses(reader);
    }
    if (!succeeded(result)) {
        closePngReader(reader);
        return result;
    }
    reader.row.assign(reader.layout.rowBytes, 0);
    reader.column = reader.layout.width;
    return {};
}

Result readPngPixels(PngReader& reader, std::uint8_t* samples, std::uint8_t* opacity,
                     std::size_t count, std::size_t& pixels) {
    const PngLayout& layout = reader.layout;
    const std::size_t sampleBytes = layout.wide ? 6 : 3;
    Result result;
    pixels = 0;
    while (pixels < count && succeeded(result)) {
        if (reader.column == layout.width) {
            result = nextRow(reader);
            reader.column = 0;
            continue;
        }
        const std::size_t run = std::min(count - pixels, layout.width - reader.column);
        result = unpackPngPixels(layout, reader.row.data(), reader.column, run,
                                 samples + pixels * sampleBytes, opacity + pixels);
        if (succeeded(result)) {
            reader.column += run;
            pixels += run;
        }
    }
    return result;
}

Result finishPngReader(PngReader& reader) {
    return reader.decoder == nullptr ? Result{} : finishPngDecoder(*reader.decoder);
}

void closePngReader(PngReader& reader) {
    closePngDecoder(reader.decoder);
    reader.decoder = nullptr;
    reader.rowsTaken = 0;
    reader.passesHeld = false;
    for (PngPassStore& store : reader.passes) {
        store = PngPassStore{};
    }
}

} // namespace pixfold
