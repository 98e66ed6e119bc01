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
#include "format/pack.h"

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

// The byte of a value in memory order (bytesInMemoryOrder's index-th).
constexpr std::uint32_t byteInMemoryOrder(std::uint32_t value, int index) {
    return (value >> (hostIsBigEndian ? 24 - 8 * index : 8 * index)) & 0xFFu;
}

// The value in memory order whose bytes are value's, most significant first.
constexpr std::uint32_t bigEndianInMemoryOrder(std::uint32_t value) {
    return hostIsBigEndian ? value : byteSwap32(value);
}

// Each record as the value in memory order whose bytes are the record: the
// pixel loops build them so, with shifts only (a byte swap keeps SSE2
// compilers from vectorising), and store them with memcpy.

// e888 and e888Alpha: y, cr, cb, 0 (codes below 256, as every code is).
constexpr std::uint32_t record888(std::uint32_t y, std::uint32_t cr, std::uint32_t cb) {
    return bytesInMemoryOrder(y, cr, cb, 0);
}

// e655Z: the 6-5-5 value, then the key value's low 16 bits, each high byte first.
constexpr std::uint32_t record655Z(std::uint32_t value, std::uint32_t keyValue) {
    return bytesInMemoryOrder((value >> 8) & 0xFFu, value & 0xFFu, (keyValue >> 8) & 0xFFu,
                              keyValue & 0xFFu);
}

// Two e655 records, one after the other.
constexpr std::uint32_t records655(std::uint32_t first, std::uint32_t second) {
    return bytesInMemoryOrder((first >> 8) & 0xFFu, first & 0xFFu, (second >> 8) & 0xFFu,
                              second & 0xFFu);
}

// e888Alpha's alpha stream: the whole key value, most significant byte first.
constexpr std::uint32_t alphaRecord(std::uint32_t keyValue) {
    return bigEndianInMemoryOrder(keyValue);
}

// The codes of a record loaded from memory (e655's two bytes in the first two).
constexpr YCrCbCodes codesOfRecord(std::uint32_t inMemoryOrder, OutputFormat format) {
    const std::uint32_t first = byteInMemoryOrder(inMemoryOrder, 0);
    const std::uint32_t second = byteInMemoryOrder(inMemoryOrder, 1);
    return usesLayout888(format)
               ? YCrCbCodes{static_cast<std::int32_t>(first), static_cast<std::int32_t>(second),
                            static_cast<std::int32_t>(byteInMemoryOrder(inMemoryOrder, 2))}
               : codesOf655((first << 8) | second);
}

// The records are the packed words most significant byte first.
static_assert(record888(0xEB, 0x80, 0x81) == bigEndianInMemoryOrder(word888(0xEB, 0x80, 0x81)));
static_assert(record655Z(value655(0xEB, 0x80, 0x81), 0x1234) ==
              bigEndianInMemoryOrder((value655(0xEB, 0x80, 0x81) << 16) | 0x1234));
static_assert(codesOfRecord(record888(0xEB, 0x80, 0x81), OutputFormat::e888).cr == 0x80);
static_assert(codesOfRecord(records655(0xEA10, 0), OutputFormat::e655).y == 0xEA);

inline void storeBigEndian32(std::uint8_t* out, std::uint32_t value) {
    const std::uint32_t inMemoryOrder = bigEndianInMemoryOrder(value);
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
    return bigEndianInMemoryOrder(inMemoryOrder);
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
// store: for e655Z the low 16 bits in the record's bytes 2 and 3 (the 6-5-5
// value fills 0 and 1); for e888Alpha the whole alpha record.
constexpr std::uint32_t keyLaneBytes(std::uint32_t keyValue, OutputFormat format) {
    return format == OutputFormat::e655Z ? record655Z(0, keyValue) : alphaRecord(keyValue);
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
