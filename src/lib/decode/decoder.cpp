#include "decode/decoder.h"

#include "colour/coefficients.h"
#include "colour/inverse.h"
#include "format/formats.h"
#include "format/pack.h"
#include "format/records.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <vector>

// On x86 the portable loop is compiled for AVX2 too, and AVX-512 has a loop
// with intrinsics: the shared steps are inlined into each.
#if PIXFOLD_HAS_X86_PATHS
#define PIXFOLD_DECODE_INLINE inline __attribute__((always_inline))
#else
#define PIXFOLD_DECODE_INLINE inline
#endif

#if PIXFOLD_HAS_X86_PATHS
#include <immintrin.h>
#endif

namespace pixfold {

namespace {

// Short enough that a span holding a pixel near a sample boundary is cheap to
// go over again, long enough for the loops to run at full speed.
constexpr std::size_t spanPixels = 256;
constexpr std::size_t flagGroupPixels = 16;

constexpr std::uint32_t fractionMask = (1u << decodeFractionBits) - 1;

// A weight in fixed point as the unsigned value whose wrapping products sum
// correctly: negative weights become their two's complement.
std::uint32_t fixedPoint(double value) {
    const auto rounded =
        static_cast<std::int64_t>(std::llround(std::ldexp(value, decodeFractionBits)));
    return static_cast<std::uint32_t>(static_cast<std::uint64_t>(rounded) & 0xFFFFFFFFu);
}

ChannelEstimate makeChannelEstimate(int channel) {
    // The sample before rounding is 255 (a (y - 16) / 219 + b (cr - 128) / 224
    // + c (cb - 128) / 224).
    const double luma = 255.0 * inverseCoefficient(channel, 0) / lumaRange;
    const double red = 255.0 * inverseCoefficient(channel, 1) / differenceRange;
    const double blue = 255.0 * inverseCoefficient(channel, 2) / differenceRange;
    ChannelEstimate estimate;
    estimate.luma = fixedPoint(luma);
    estimate.red = fixedPoint(red);
    estimate.blue = fixedPoint(blue);
    estimate.bias = fixedPoint(decodeOffset + 0.5 - lumaOffset * luma - differenceOffset * red -
                               differenceOffset * blue) +
                    decodeGuard;
    return estimate;
}

PIXFOLD_DECODE_INLINE std::uint32_t estimateChannel(const ChannelEstimate& estimate,
                                                    std::uint32_t y, std::uint32_t cr,
                                                    std::uint32_t cb) {
    return estimate.bias + estimate.luma * y + estimate.red * cr + estimate.blue * cb;
}

PIXFOLD_DECODE_INLINE std::uint32_t sampleOf(std::uint32_t estimate) {
    const std::int32_t sample =
        static_cast<std::int32_t>(estimate >> decodeFractionBits) - decodeOffset;
    return static_cast<std::uint32_t>(std::min(std::max(sample, 0), 255));
}

PIXFOLD_DECODE_INLINE std::uint32_t nearSampleBoundary(std::uint32_t estimate) {
    return static_cast<std::uint32_t>((estimate & fractionMask) < 2 * decodeGuard);
}

// A span of records, into words holding the bytes red, green, blue, 0 in
// memory. Branch-free loops over 32-bit lanes, which compilers vectorise; a
// pixel near a sample boundary is redone by the formula after the span.
// Inlined into each path's entry, so each copy is vectorised for that path's
// instruction set.
template <OutputFormat format>
PIXFOLD_DECODE_INLINE void decodeSpan(const std::uint8_t* records, std::size_t pixelCount,
                                      const DecodePlan& plan, std::uint32_t* words) {
    // Whole records as words, the codes taken out with shifts: cheaper in
    // vector registers than byte loads three at a time.
    std::uint32_t raw[spanPixels];
    if constexpr (format == OutputFormat::e655) {
        std::uint16_t values[spanPixels];
        std::memcpy(values, records, pixelCount * 2);
        for (std::size_t i = 0; i < pixelCount; ++i) {
            // The record's two bytes first in memory order, as in the longer records.
            raw[i] = hostIsBigEndian ? std::uint32_t{values[i]} << 16 : values[i];
        }
    } else {
        std::memcpy(raw, records, pixelCount * 4);
    }
    const ChannelEstimate r = plan.channels[0];
    const ChannelEstimate g = plan.channels[1];
    const ChannelEstimate b = plan.channels[2];
    std::uint32_t near[spanPixels];
    std::uint32_t anyNear = 0;
    for (std::size_t i = 0; i < pixelCount; ++i) {
        const YCrCbCodes codes = codesOfRecord(raw[i], format);
        const auto y = static_cast<std::uint32_t>(codes.y);
        const auto cr = static_cast<std::uint32_t>(codes.cr);
        const auto cb = static_cast<std::uint32_t>(codes.cb);
        const std::uint32_t red8 = estimateChannel(r, y, cr, cb);
        const std::uint32_t green8 = estimateChannel(g, y, cr, cb);
        const std::uint32_t blue8 = estimateChannel(b, y, cr, cb);
        near[i] = nearSampleBoundary(red8) | nearSampleBoundary(green8) | nearSampleBoundary(blue8);
        anyNear |= near[i];
        words[i] = bytesInMemoryOrder(sampleOf(red8), sampleOf(green8), sampleOf(blue8), 0);
    }
    // Groups of flags are tested whole: a vector compare each, not one branch
    // a pixel.
    for (std::size_t group = 0; anyNear != 0 && group < pixelCount; group += flagGroupPixels) {
        const std::size_t groupEnd = std::min(pixelCount, group + flagGroupPixels);
        std::uint32_t groupNear = 0;
        for (std::size_t i = group; i < groupEnd; ++i) {
            groupNear |= near[i];
        }
        for (std::size_t i = group; groupNear != 0 && i < groupEnd; ++i) {
            if (near[i] != 0) {
                const RecordContents contents =
                    readRecord(records + i * recordBytes(format), format);
                const RgbPixel pixel = codesToRgb(unpackWord(contents.word, format));
                words[i] = bytesInMemoryOrder(pixel.r, pixel.g, pixel.b, 0);
            }
        }
    }
}

// Each word's first three bytes, as byte stores: compilers turn this loop
// into shuffles and whole-vector stores where the target has a byte shuffle
// (SSSE3 and later, NEON).
PIXFOLD_DECODE_INLINE void storeSamples(const std::uint32_t* words, std::size_t pixelCount,
                                        std::uint8_t* samples) {
    for (std::size_t i = 0; i < pixelCount; ++i) {
        samples[i * 3] = static_cast<std::uint8_t>(byteInMemoryOrder(words[i], 0));
        samples[i * 3 + 1] = static_cast<std::uint8_t>(byteInMemoryOrder(words[i], 1));
        samples[i * 3 + 2] = static_cast<std::uint8_t>(byteInMemoryOrder(words[i], 2));
    }
}

template <OutputFormat format>
PIXFOLD_DECODE_INLINE void decodeBody(const std::uint8_t* records, std::size_t pixelCount,
                                      const DecodePlan& plan, std::uint8_t* samples) {
    std::uint32_t words[spanPixels];
    for (std::size_t done = 0; done < pixelCount; done += spanPixels) {
        const std::size_t count = std::min(spanPixels, pixelCount - done);
        decodeSpan<format>(records + done * recordBytes(format), count, plan, words);
        storeSamples(words, count, samples + done * 3);
    }
}

void decodePortable(const std::uint8_t* records, std::size_t pixelCount, const DecodePlan& plan,
                    std::uint8_t* samples) {
    decodeBody<OutputFormat::e888>(records, pixelCount, plan, samples);
}

#if PIXFOLD_HAS_X86_PATHS
__attribute__((target("avx2"))) void decodeAvx2(const std::uint8_t* records, std::size_t pixelCount,
                                                const DecodePlan& plan, std::uint8_t* samples) {
    decodeBody<OutputFormat::e888>(records, pixelCount, plan, samples);
}

// GCC otherwise vectorises with 256-bit registers; clang takes no such option
// in the attribute.
#if defined(__clang__)
#define PIXFOLD_DECODE_AVX512 __attribute__((target("avx512f,avx512bw,avx512vl,avx512vbmi")))
#else
#define PIXFOLD_DECODE_AVX512                                                                      \
    __attribute__((target("avx512f,avx512bw,avx512vl,avx512vbmi,prefer-vector-width=512")))
#endif

// GCC's AVX-512 headers start some results from a deliberately undefined
// register, which it then reports as maybe uninitialised.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

// The channel estimate of 16 pixels.
PIXFOLD_DECODE_AVX512 inline __m512i estimate16(const ChannelEstimate& estimate, __m512i y,
                                                __m512i cr, __m512i cb) {
    const __m512i luma = _mm512_mullo_epi32(y, _mm512_set1_epi32(static_cast<int>(estimate.luma)));
    const __m512i red = _mm512_mullo_epi32(cr, _mm512_set1_epi32(static_cast<int>(estimate.red)));
    const __m512i blue = _mm512_mullo_epi32(cb, _mm512_set1_epi32(static_cast<int>(estimate.blue)));
    return _mm512_add_epi32(
        _mm512_add_epi32(luma, red),
        _mm512_add_epi32(blue, _mm512_set1_epi32(static_cast<int>(estimate.bias))));
}

// The sample of each estimate, 0 to 255, and a flag where it is near a boundary.
PIXFOLD_DECODE_AVX512 inline __m128i sample16(__m512i estimate, __mmask16& near) {
    // Fractional bits below 2 * decodeGuard, a power of two: none of the bits
    // from it up to the binary point set, one test instead of a mask and a compare.
    static_assert((2 * decodeGuard & (2 * decodeGuard - 1)) == 0, "a power of two");
    near |= _mm512_testn_epi32_mask(
        estimate, _mm512_set1_epi32(static_cast<int>(fractionMask & ~(2 * decodeGuard - 1))));
    // T >> 21 is below 2^16, so a 16-bit saturating subtraction takes the
    // offset off and stops at 0, and the narrowing to bytes stops at 255.
    return _mm512_cvtusepi32_epi8(_mm512_subs_epu16(_mm512_srli_epi32(estimate, decodeFractionBits),
                                                    _mm512_set1_epi32(decodeOffset)));
}

// The codes of 16 records. For e655 and e655Z, valueIndex (valueIndex16)
// moves each record's first two bytes, swapped, into the low half of its lane.
template <OutputFormat format>
PIXFOLD_DECODE_AVX512 inline void codes16(const std::uint8_t* records, __m512i valueIndex,
                                          __m512i& y, __m512i& cr, __m512i& cb) {
    if constexpr (usesLayout888(format)) {
        const __m512i byteMask = _mm512_set1_epi32(0xFF);
        const __m512i words = _mm512_loadu_si512(records);
        y = _mm512_and_si512(words, byteMask);
        cr = _mm512_and_si512(_mm512_srli_epi32(words, 8), byteMask);
        cb = _mm512_and_si512(_mm512_srli_epi32(words, 16), byteMask);
    } else {
        const __m512i bytes =
            format == OutputFormat::e655
                ? _mm512_zextsi256_si512(_mm256_loadu_si256(
                      reinterpret_cast<const __m256i*>(static_cast<const void*>(records))))
                : _mm512_loadu_si512(records);
        const __m512i value = _mm512_maskz_permutexvar_epi8(0x3333333333333333u, valueIndex, bytes);
        // The codes as unpackWord fills the dropped bits; 0xEA is (a & b) | c.
        y = _mm512_ternarylogic_epi32(_mm512_srli_epi32(value, 8), _mm512_set1_epi32(0xFC),
                                      _mm512_set1_epi32(2), 0xEA);
        cr = _mm512_ternarylogic_epi32(_mm512_srli_epi32(value, 2), _mm512_set1_epi32(0xF8),
                                       _mm512_set1_epi32(4), 0xEA);
        cb = _mm512_ternarylogic_epi32(_mm512_slli_epi32(value, 3), _mm512_set1_epi32(0xF8),
                                       _mm512_set1_epi32(4), 0xEA);
    }
}

// Byte indices of that permute: lane i takes record i's bytes 1 and 0.
template <OutputFormat format> constexpr std::array<std::uint8_t, 64> valueIndex16() {
    std::array<std::uint8_t, 64> order{};
    for (std::size_t lane = 0; lane < 16; ++lane) {
        order[lane * 4] = static_cast<std::uint8_t>(lane * recordBytes(format) + 1);
        order[lane * 4 + 1] = static_cast<std::uint8_t>(lane * recordBytes(format));
    }
    return order;
}

// The formula's samples for the pixels of a group flagged in near.
template <OutputFormat format>
void settleNearPixels(const std::uint8_t* records, unsigned near, std::uint8_t* samples) {
    for (unsigned bits = near; bits != 0; bits &= bits - 1) {
        const auto at = static_cast<std::size_t>(__builtin_ctz(bits));
        const RecordContents contents = readRecord(records + at * recordBytes(format), format);
        const RgbPixel pixel = codesToRgb(unpackWord(contents.word, format));
        samples[at * 3] = pixel.r;
        samples[at * 3 + 1] = pixel.g;
        samples[at * 3 + 2] = pixel.b;
    }
}

// Intrinsics, 16 pixels a step in one pass: the words the compiler's loops
// keep in memory between passes stay in registers here (e888 0.47 to 0.38 ns
// a pixel). The flags of a span's groups are kept and its flagged pixels
// settled after it, so that no call sits in the loop to push its values out
// of registers; and each group is stored as a whole 64-byte vector, its last
// 16 bytes overwritten by the next group, where the output has room for them
// (a masked byte store is several times slower on AMD processors). With the
// one-instruction guard test and the saturating clamp, e888 went from 0.41
// to 0.27 ns a pixel.
template <OutputFormat format>
PIXFOLD_DECODE_AVX512 void decodeAvx512Format(const std::uint8_t* records, std::size_t pixelCount,
                                              const DecodePlan& plan, std::uint8_t* samples) {
    // Red, green and blue of pixel i: byte i and 16 + i of the first source,
    // byte i of the second (64 + i), interleaved into the first 48 bytes.
    alignas(64) std::uint8_t order[64] = {};
    for (std::size_t i = 0; i < 48; ++i) {
        order[i] = static_cast<std::uint8_t>(i % 3 == 2 ? 64 + i / 3 : i % 3 * 16 + i / 3);
    }
    const __m512i pack = _mm512_load_si512(order);
    static constexpr std::array<std::uint8_t, 64> valueOrder = valueIndex16<format>();
    const __m512i valueIndex = _mm512_loadu_si512(valueOrder.data());
    constexpr std::size_t size = recordBytes(format);
    constexpr std::size_t groupsPerSpan = spanPixels / 16;
    // Whole groups; those but the last store 64 bytes, the last only its 48.
    const std::size_t groups = pixelCount / 16;
    std::size_t group = 0;
    while (group < groups) {
        const std::size_t spanGroups = std::min(groupsPerSpan, groups - group);
        std::uint16_t nearGroups[groupsPerSpan];
        unsigned anyNear = 0;
        for (std::size_t g = 0; g < spanGroups; ++g) {
            const std::size_t i = (group + g) * 16;
            __m512i y;
            __m512i cr;
            __m512i cb;
            codes16<format>(records + i * size, valueIndex, y, cr, cb);
            __mmask16 near = 0;
            const __m128i red = sample16(estimate16(plan.channels[0], y, cr, cb), near);
            const __m128i green = sample16(estimate16(plan.channels[1], y, cr, cb), near);
            const __m128i blue = sample16(estimate16(plan.channels[2], y, cr, cb), near);
            const __m512i rgb =
                _mm512_permutex2var_epi8(_mm512_inserti32x4(_mm512_castsi128_si512(red), green, 1),
                                         pack, _mm512_castsi128_si512(blue));
            if (group + g + 1 < groups) {
                _mm512_storeu_si512(samples + i * 3, rgb);
            } else {
                _mm512_mask_storeu_epi8(samples + i * 3, 0xFFFFFFFFFFFFull, rgb);
            }
            nearGroups[g] = near;
            anyNear |= near;
        }
        for (std::size_t g = 0; g < spanGroups && anyNear != 0; ++g) {
            const std::size_t i = (group + g) * 16;
            settleNearPixels<format>(records + i * size, nearGroups[g], samples + i * 3);
        }
        group += spanGroups;
    }
    const std::size_t done = groups * 16;
    decodeBody<format>(records + done * size, pixelCount - done, plan, samples + done * 3);
}

#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif

PIXFOLD_DECODE_AVX512 void decodeAvx512(const std::uint8_t* records, std::size_t pixelCount,
                                        const DecodePlan& plan, std::uint8_t* samples) {
    switch (plan.format) {
    case OutputFormat::e655:
        decodeAvx512Format<OutputFormat::e655>(records, pixelCount, plan, samples);
        break;
    case OutputFormat::e655Z:
        decodeAvx512Format<OutputFormat::e655Z>(records, pixelCount, plan, samples);
        break;
    default:
        decodeAvx512Format<OutputFormat::e888>(records, pixelCount, plan, samples);
        break;
    }
}
#endif

template <OutputFormat format>
void decode655(const std::uint8_t* records, std::size_t pixelCount, const DecodePlan& plan,
               std::uint8_t* samples) {
    const std::uint32_t* table = plan.table655;
    std::uint32_t words[spanPixels];
    for (std::size_t done = 0; done < pixelCount; done += spanPixels) {
        const std::size_t count = std::min(spanPixels, pixelCount - done);
        const std::uint8_t* span = records + done * recordBytes(format);
        for (std::size_t i = 0; i < count; ++i) {
            // The 6-5-5 value is the first two bytes of either record.
            words[i] = table[loadBigEndian16(span + i * recordBytes(format))];
        }
        storeSamples(words, count, samples + done * 3);
    }
}

std::vector<std::uint32_t> makeTable655(const DecodePlan& plan) {
    std::vector<std::uint32_t> table(65536);
    std::uint8_t records[spanPixels * 4];
    for (std::uint32_t first = 0; first < 65536; first += spanPixels) {
        for (std::size_t i = 0; i < spanPixels; ++i) {
            const auto value = static_cast<std::uint32_t>(first + i);
            const YCrCbCodes codes = unpackWord(value << 16, OutputFormat::e655);
            storeBigEndian32(records + i * 4, packWord(codes, OutputFormat::e888));
        }
        decodeSpan<OutputFormat::e888>(records, spanPixels, plan, &table[first]);
    }
    return table;
}

// A function-local static: built once, thread-safely, then only read.
const std::uint32_t* sharedTable655(const DecodePlan& plan) {
    static const std::vector<std::uint32_t> table = makeTable655(plan);
    return table.data();
}

} // namespace

DecodePlan makeDecodePlan(OutputFormat format, Path path) {
    DecodePlan plan;
    plan.format = format;
    plan.path = runnablePath(path);
    for (int channel = 0; channel < 3; ++channel) {
        plan.channels[channel] = makeChannelEstimate(channel);
    }
    // e655's table: one lookup a pixel, 0.9 ns on random values; only the
    // AVX-512 loop is faster (0.6 ns; AVX2 1.3 ns, portable SSE2 6 ns).
    if (!usesLayout888(format) && plan.path != Path::avx512) {
        plan.table655 = sharedTable655(plan);
    }
    return plan;
}

void decodeRecords(const std::uint8_t* records, std::size_t pixelCount, const DecodePlan& plan,
                   std::uint8_t* samples) {
    if (plan.table655 != nullptr) {
        if (plan.format == OutputFormat::e655) {
            decode655<OutputFormat::e655>(records, pixelCount, plan, samples);
        } else {
            decode655<OutputFormat::e655Z>(records, pixelCount, plan, samples);
        }
        return;
    }
#if PIXFOLD_HAS_X86_PATHS
    if (plan.path == Path::avx512) {
        decodeAvx512(records, pixelCount, plan, samples);
        return;
    }
    if (plan.path == Path::avx2) {
        decodeAvx2(records, pixelCount, plan, samples);
        return;
    }
#endif
    decodePortable(records, pixelCount, plan, samples);
}

namespace {

// The 32-bit word whose bytes in memory are value, most significant first.
std::uint32_t asStored(std::uint32_t value) {
    std::uint8_t bytes[4];
    storeBigEndian32(bytes, value);
    std::uint32_t word = 0;
    std::memcpy(&word, bytes, 4);
    return word;
}

std::uint32_t loadStored32(const std::uint8_t* bytes) {
    std::uint32_t word = 0;
    std::memcpy(&word, bytes, 4);
    return word;
}

#if PIXFOLD_HAS_X86_PATHS
// 16 keys a step: a test or compare to a mask, the mask to bytes. Returns the
// pixels done, whole steps only.
PIXFOLD_DECODE_AVX512 std::size_t keyPlaneAvx512(const std::uint8_t* keys, std::size_t pixelCount,
                                                 std::uint32_t kept, std::uint32_t wanted,
                                                 bool anyNonZero, std::uint8_t* mask) {
    const __m512i keptBits = _mm512_set1_epi32(static_cast<int>(kept));
    const __m512i wantedBits = _mm512_set1_epi32(static_cast<int>(wanted));
    std::size_t i = 0;
    for (; i + 16 <= pixelCount; i += 16) {
        const __m512i words = _mm512_loadu_si512(keys + i * 4);
        const __mmask16 matches =
            anyNonZero ? _mm512_test_epi32_mask(words, keptBits)
                       : _mm512_cmpeq_epi32_mask(_mm512_and_si512(words, keptBits), wantedBits);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(static_cast<void*>(mask + i)),
                         _mm_movm_epi8(matches));
    }
    return i;
}
#endif

} // namespace

void decodeKeyPlane(const std::uint8_t* keys, std::size_t pixelCount, OutputFormat format,
                    const KeyPlaneTest& test, std::uint8_t* mask, Path path) {
    if (keys == nullptr) {
        const bool zeroMatches = !test.anyNonZero && test.wanted == 0;
        std::memset(mask, zeroMatches ? 255 : 0, pixelCount);
        return;
    }
    // e655Z keeps the key value's low 16 bits, after the 6-5-5 value. The
    // records are compared as stored, with the kept bits and the wanted value
    // put in their byte order once: loops without a swap a record, which
    // compilers vectorise.
    const std::uint32_t kept = asStored(format == OutputFormat::e655Z ? 0xFFFFu : 0xFFFFFFFFu);
    const std::uint32_t wanted = asStored(test.wanted) & kept;
    std::size_t done = 0;
#if PIXFOLD_HAS_X86_PATHS
    if (runnablePath(path) == Path::avx512) {
        done = keyPlaneAvx512(keys, pixelCount, kept, wanted, test.anyNonZero, mask);
    }
#else
    (void)path;
#endif
    keys += done * 4;
    mask += done;
    pixelCount -= done;
    if (test.anyNonZero) {
        for (std::size_t i = 0; i < pixelCount; ++i) {
            mask[i] = (loadStored32(keys + i * 4) & kept) != 0 ? 255 : 0;
        }
    } else {
        for (std::size_t i = 0; i < pixelCount; ++i) {
            mask[i] = (loadStored32(keys + i * 4) & kept) == wanted ? 255 : 0;
        }
    }
}

} // namespace pixfold
