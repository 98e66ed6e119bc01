// The records each format writes for one pixel, most significant byte first
// on every host.
//
//   format     output file, per pixel                 standard output
//   e655       [6-5-5 hi][6-5-5 lo]                    -
//   e655Z      [6-5-5 hi][6-5-5 lo][key 15-8][key 7-0] -
//   e888       [y][cr][cb][0]                          -
//   e888Alpha  [y][cr][cb][0]                          [key 31-24][23-16][15-8][7-0]
#pragma once

#include "core/types.h"
#include "format/formats.h"

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace pixfold {

#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
constexpr bool hostIsBigEndian = true;
#else
constexpr bool hostIsBigEndian = false;
#endif

// The 32-bit value whose bytes lie in memory, on this host, in the order
// first, second, third, fourth: stored with memcpy, they are a record's bytes.
constexpr std::uint32_t bytesInMemoryOrder(std::uint32_t first, std::uint32_t second,
                                           std::uint32_t third, std::uint32_t fourth) {
    return hostIsBigEndian ? (first << 24) | (second << 16) | (third << 8) | fourth
                           : first | (second << 8) | (third << 16) | (fourth << 24);
}

// memcpy of a byte-swapped word, not four shifted byte stores: compilers make
// it one swap and one store, and vectorise loops of it where the target has a
// byte shuffle (written with shifts, such a loop lost every vector instruction
// and ran 2.4 times slower).
inline void storeBigEndian32(std::uint8_t* out, std::uint32_t value) {
    const std::uint32_t inMemoryOrder = hostIsBigEndian ? value : byteSwap32(value);
    std::memcpy(out, &inMemoryOrder, sizeof inMemoryOrder);
}

inline void storeBigEndian16(std::uint8_t* out, std::uint32_t value) {
    out[0] = static_cast<std::uint8_t>(value >> 8);
    out[1] = static_cast<std::uint8_t>(value);
}

// e655 or e888: recordBytes(format) bytes at out.
inline void writePlainRecord(PackedWord word, OutputFormat format, std::uint8_t* out) {
    if (format == OutputFormat::e888) {
        storeBigEndian32(out, word);
    } else {
        storeBigEndian16(out, word >> 16);
    }
}

inline std::uint32_t loadBigEndian32(const std::uint8_t* in) {
    std::uint32_t inMemoryOrder = 0;
    std::memcpy(&inMemoryOrder, in, sizeof inMemoryOrder);
    return hostIsBigEndian ? inMemoryOrder : byteSwap32(inMemoryOrder);
}

inline std::uint32_t loadBigEndian16(const std::uint8_t* in) {
    return (static_cast<std::uint32_t>(in[0]) << 8) | in[1];
}

// e655Z: 4 bytes at record, the key value's low 16 bits below the 6-5-5 value.
// e888Alpha: the e888 record at record, the whole key value at alpha.
inline void writeKeyedRecord(PackedWord word, std::uint32_t keyValue, OutputFormat format,
                             std::uint8_t* record, std::uint8_t* alpha) {
    if (format == OutputFormat::e888Alpha) {
        storeBigEndian32(record, word);
        storeBigEndian32(alpha, keyValue);
    } else {
        storeBigEndian32(record, word | (keyValue & 0xFFFFu));
    }
}

// The key value's bytes as a vector loop's 32-bit lane holds them, ready to
// store: for e655Z the low 16 bits, most significant first, in the record's
// bytes 2 and 3 (the 6-5-5 value fills 0 and 1); for e888Alpha the whole
// value, most significant byte first, for the alpha stream.
constexpr std::uint32_t keyLaneBytes(std::uint32_t keyValue, OutputFormat format) {
    const std::uint32_t byte3 = (keyValue >> 24) & 0xFFu;
    const std::uint32_t byte2 = (keyValue >> 16) & 0xFFu;
    const std::uint32_t byte1 = (keyValue >> 8) & 0xFFu;
    const std::uint32_t byte0 = keyValue & 0xFFu;
    return format == OutputFormat::e655Z ? bytesInMemoryOrder(0, 0, byte1, byte0)
                                         : bytesInMemoryOrder(byte3, byte2, byte1, byte0);
}

// What one output-file record holds: the packed word, and for e655Z the low
// 16 bits of the key value (zero for the other formats).
struct RecordContents {
    PackedWord word = 0;
    std::uint32_t keyValue = 0;
};

inline RecordContents readRecord(const std::uint8_t* record, OutputFormat format) {
    switch (format) {
    case OutputFormat::e655:
        return {loadBigEndian16(record) << 16, 0};
    case OutputFormat::e655Z: {
        const std::uint32_t value = loadBigEndian32(record);
        return {value & 0xFFFF0000u, value & 0xFFFFu};
    }
    default:
        return {loadBigEndian32(record), 0};
    }
}

} // namespace pixfold
