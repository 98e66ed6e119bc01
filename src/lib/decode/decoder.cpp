#include "decode/decoder.h"

#include "colour/coefficients.h"
#include "colour/inverse.h"
#include "format/formats.h"
#include "format/pack.h"
#include "format/records.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <type_traits>

// On x86 the AVX2 and AVX-512 loops finish with the portable one: the shared
// steps are inlined into each.
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
// correctly: negative weights become their two's complement. Rounded half
// away from zero, as llround does (the scaling by 2^21 is exact, and so is
// the remainder).
constexpr std::uint32_t fixedPoint(double value) {
    const double scaled = value * static_cast<double>(1u << decodeFractionBits);
    auto rounded = static_cast<std::int64_t>(scaled);
    const double remainder = scaled - static_cast<double>(rounded);
    rounded += remainder >= 0.5 ? 1 : (remainder <= -0.5 ? -1 : 0);
    return static_cast<std::uint32_t>(static_cast<std::uint64_t>(rounded) & 0xFFFFFFFFu);
}

constexpr ChannelEstimate makeChannelEstimate(int channel) {
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

// Worked out when compiled: a plan costs nothing to make.
constexpr ChannelEstimate estimates[3] = {makeChannelEstimate(0), makeChannelEstimate(1),
                                          makeChannelEstimate(2)};

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

// The formula's pixel for one record, as the bytes red, green, blue, 0.
template <OutputFormat format> std::uint32_t formulaWord(const std::uint8_t* record) {
    const RgbPixel pixel = codesToRgb(unpackWord(readRecord(record, format).word, format));
    return bytesInMemoryOrder(pixel.r, pixel.g, pixel.b, 0);
}

// A span of records, into words holding the bytes red, green, blue, 0 in
// memory. Branch-free loops over 32-bit lanes, which compilers vectorise; a
// pixel near a sample boundary is redone by the formula after the span.
// Inlined into each path's entry, so each copy is vectorised for that path's
// instruction set.
template <OutputFormat format>
PIXFOLD_DECODE_INLINE void decodeSpan(const std::uint8_t* records, std::size_t pixelCount,
                                      std::uint32_t* words) {
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
    const ChannelEstimate r = estimates[0];
    const ChannelEstimate g = estimates[1];
    const ChannelEstimate b = estimates[2];
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
                words[i] = formulaWord<format>(records + i * recordBytes(format));
            }
        }
    }
}

// The 32-bit word whose bytes in memory are value, most significant first.
constexpr std::uint32_t asStored(std::uint32_t value) {
    return bigEndianInMemoryOrder(value);
}

// The key values' bits a format keeps, and the wanted value among them, as
// the stored words hold them: loops compare without a swap a record.
struct StoredKeyTest {
    std::uint32_t kept = 0;
    std::uint32_t wanted = 0;
    bool anyNonZero = true;
};

StoredKeyTest storedKeyTest(OutputFormat format, const KeyPlaneTest& test) {
    // e655Z keeps the key value's low 16 bits, after the 6-5-5 value.
    const std::uint32_t kept = asStored(format == OutputFormat::e655Z ? 0xFFFFu : 0xFFFFFFFFu);
    // With anyNonZero the loops look for 0 and flip the answer: a wanted value
    // left over from the caller must not take part.
    return {kept, test.anyNonZero ? 0 : asStored(test.wanted) & kept, test.anyNonZero};
}

std::uint32_t loadStored32(const std::uint8_t* bytes) {
    std::uint32_t word = 0;
    std::memcpy(&word, bytes, 4);
    return word;
}

// 255 where the key value is wanted, 0 elsewhere; loops that compilers vectorise.
PIXFOLD_DECODE_INLINE void keyMask(const std::uint8_t* keys, std::size_t pixelCount,
                                   const StoredKeyTest& test, std::uint8_t* mask) {
    if (test.anyNonZero) {
        for (std::size_t i = 0; i < pixelCount; ++i) {
            mask[i] = (loadStored32(keys + i * 4) & test.kept) != 0 ? 255 : 0;
        }
    } else {
        for (std::size_t i = 0; i < pixelCount; ++i) {
            mask[i] = (loadStored32(keys + i * 4) & test.kept) == test.wanted ? 255 : 0;
        }
    }
}

// The alpha bytes of a span: the key plane where the format carries key
// values, else 255.
PIXFOLD_DECODE_INLINE void alphaOfSpan(const std::uint8_t* keys, std::size_t pixelCount,
                                       const DecodePlan& plan, std::uint8_t* alpha) {
    if (keys == nullptr || !isKeyedFormat(plan.format)) {
        std::memset(alpha, 255, pixelCount);
        return;
    }
    keyMask(keys, pixelCount, storedKeyTest(plan.format, plan.test), alpha);
}

// Each word's red, green and blue bytes, and alpha, where the layout puts
// them: byte stores, which compilers turn into shuffles and whole-vector
// stores where the target has a byte shuffle (SSSE3 and later, NEON).
template <PixelLayout layout>
PIXFOLD_DECODE_INLINE void storeWords(const std::uint32_t* words, const std::uint8_t* alpha,
                                      std::size_t pixelCount, std::uint8_t* pixels) {
    constexpr std::size_t bytes = pixelBytes(layout);
    for (std::size_t i = 0; i < pixelCount; ++i) {
        std::uint8_t* pixel = pixels + i * bytes;
        pixel[redByte(layout)] = static_cast<std::uint8_t>(byteInMemoryOrder(words[i], 0));
        pixel[greenByte(layout)] = static_cast<std::uint8_t>(byteInMemoryOrder(words[i], 1));
        pixel[blueByte(layout)] = static_cast<std::uint8_t>(byteInMemoryOrder(words[i], 2));
        if constexpr (hasAlpha(layout)) {
            pixel[alphaByte(layout)] = alpha[i];
        }
    }
}

// e655 and e655Z by the table: the 6-5-5 value is the first two bytes of either record.
template <OutputFormat format>
PIXFOLD_DECODE_INLINE void lookUpSpan(const std::uint8_t* records, std::size_t pixelCount,
                                      const std::uint32_t* table, std::uint32_t* words) {
    for (std::size_t i = 0; i < pixelCount; ++i) {
        words[i] = table[loadBigEndian16(records + i * recordBytes(format))];
    }
}

template <OutputFormat format, PixelLayout layout>
PIXFOLD_DECODE_INLINE void decodeBody(const std::uint8_t* records, const std::uint8_t* keys,
                                      std::size_t pixelCount, const DecodePlan& plan,
                                      std::uint8_t* pixels) {
    std::uint32_t words[spanPixels];
    std::uint8_t alpha[hasAlpha(layout) ? spanPixels : 1];
    for (std::size_t done = 0; done < pixelCount; done += spanPixels) {
        const std::size_t count = std::min(spanPixels, pixelCount - done);
        const std::uint8_t* span = records + done * recordBytes(format);
        if (!usesLayout888(format) && plan.table655 != nullptr) {
            lookUpSpan<format>(span, count, plan.table655, words);
        } else {
            decodeSpan<format>(span, count, words);
        }
        if constexpr (hasAlpha(layout)) {
            alphaOfSpan(keys == nullptr ? nullptr : keys + done * 4, count, plan, alpha);
        }
        storeWords<layout>(words, alpha, count, pixels + done * pixelBytes(layout));
    }
}

// Calls kernel with the format and the decoded layout as compile-time constants.
template <class Kernel> void withFormatAndLayout(const DecodePlan& plan, Kernel&& kernel) {
    const auto withLayout = [&](auto format) {
        switch (plan.layout) {
        case PixelLayout::bgr24:
            kernel(format, std::integral_constant<PixelLayout, PixelLayout::bgr24>{});
            break;
        case PixelLayout::rgba32:
            kernel(format, std::integral_constant<PixelLayout, PixelLayout::rgba32>{});
            break;
        case PixelLayout::bgra32:
            kernel(format, std::integral_constant<PixelLayout, PixelLayout::bgra32>{});
            break;
        default:
            kernel(format, std::integral_constant<PixelLayout, PixelLayout::rgb24>{});
            break;
        }
    };
    switch (plan.format) {
    case OutputFormat::e655:
        withLayout(std::integral_constant<OutputFormat, OutputFormat::e655>{});
        break;
    case OutputFormat::e655Z:
        withLayout(std::integral_constant<OutputFormat, OutputFormat::e655Z>{});
        break;
    default: // e888Alpha's records are e888's
        withLayout(std::integral_constant<OutputFormat, OutputFormat::e888>{});
        break;
    }
}

void decodePortable(const std::uint8_t* records, const std::uint8_t* keys, std::size_t pixelCount,
                    const DecodePlan& plan, std::uint8_t* pixels) {
    withFormatAndLayout(plan, [&](auto format, auto layout) {
        decodeBody<decltype(format)::value, decltype(layout)::value>(records, keys, pixelCount,
                                                                     plan, pixels);
    });
}

#if PIXFOLD_HAS_X86_PATHS
// The formula's samples for the pixels of a group flagged in near (bit i for
// pixel i), at the layout's places; alpha stays.
template <OutputFormat format, PixelLayout layout>
void settleNearPixels(const std::uint8_t* records, unsigned near, std::uint8_t* pixels) {
    for (unsigned bits = near; bits != 0; bits &= bits - 1) {
        const auto at = static_cast<std::size_t>(__builtin_ctz(bits));
        const RecordContents contents = readRecord(records + at * recordBytes(format), format);
        const RgbPixel pixel = codesToRgb(unpackWord(contents.word, format));
        std::uint8_t* out = pixels + at * pixelBytes(layout);
        out[redByte(layout)] = pixel.r;
        out[greenByte(layout)] = pixel.g;
        out[blueByte(layout)] = pixel.b;
    }
}

#define PIXFOLD_DECODE_AVX2 __attribute__((target("avx2")))

// The AVX2 loop, 8 pixels a step: the estimate of each channel in 32-bit
// lanes, the clamp by two saturating packs that also gather the channels
// into bytes, and one byte shuffle a 128-bit half that puts them in the
// layout's order. A span's flagged pixels are settled after it.
struct Avx2Decode {
    // Each half's bytes after the packs: r0-3, g0-3, b0-3 and a0-3 (pixels
    // 0-3 of the half). Byte i of a pixel takes channel channels[i]; -1 none.
    static constexpr std::array<std::int8_t, 16> order(PixelLayout layout) {
        std::array<std::int8_t, 16> indices{};
        const std::size_t bytes = pixelBytes(layout);
        for (std::size_t i = 0; i < 16; ++i) {
            indices[i] = -1;
        }
        for (std::size_t pixel = 0; pixel < 4; ++pixel) {
            std::int8_t* at = &indices[pixel * bytes];
            at[redByte(layout)] = static_cast<std::int8_t>(pixel);
            at[greenByte(layout)] = static_cast<std::int8_t>(4 + pixel);
            at[blueByte(layout)] = static_cast<std::int8_t>(8 + pixel);
            if (hasAlpha(layout)) {
                at[alphaByte(layout)] = static_cast<std::int8_t>(12 + pixel);
            }
        }
        return indices;
    }

    // Byte indices that put each record's 6-5-5 value in the low half of a
    // lane, from the record's two bytes swapped. e655's 16 bytes are in both
    // halves; e655Z's records are each in their own lane.
    static constexpr std::array<std::int8_t, 32> valueOrder(OutputFormat format) {
        std::array<std::int8_t, 32> indices{};
        for (std::size_t lane = 0; lane < 8; ++lane) {
            const std::size_t first =
                format == OutputFormat::e655 ? lane * 2 : (lane % 4) * 4; // within its half
            indices[lane * 4] = static_cast<std::int8_t>(first + 1);
            indices[lane * 4 + 1] = static_cast<std::int8_t>(first);
            indices[lane * 4 + 2] = -1;
            indices[lane * 4 + 3] = -1;
        }
        return indices;
    }

    static PIXFOLD_DECODE_AVX2 __m256i load32(const std::array<std::int8_t, 32>& bytes) {
        return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(bytes.data()));
    }

    static PIXFOLD_DECODE_AVX2 __m256i broadcast16(const std::array<std::int8_t, 16>& bytes) {
        return _mm256_broadcastsi128_si256(
            _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes.data())));
    }

    static PIXFOLD_DECODE_AVX2 __m256i weight(std::uint32_t value) {
        return _mm256_set1_epi32(static_cast<int>(value));
    }

    // The codes as unpackWord fills the dropped bits: the kept bits, and the
    // middle of the dropped ones.
    static PIXFOLD_DECODE_AVX2 __m256i field(__m256i bits, int keep, int middle) {
        return _mm256_or_si256(_mm256_and_si256(bits, _mm256_set1_epi32(keep)),
                               _mm256_set1_epi32(middle));
    }

    static PIXFOLD_DECODE_AVX2 __m256i estimate(const ChannelEstimate& estimate, __m256i y,
                                                __m256i cr, __m256i cb) {
        return _mm256_add_epi32(
            _mm256_add_epi32(_mm256_mullo_epi32(y, weight(estimate.luma)),
                             _mm256_mullo_epi32(cr, weight(estimate.red))),
            _mm256_add_epi32(_mm256_mullo_epi32(cb, weight(estimate.blue)), weight(estimate.bias)));
    }

    // All ones where the fractional bits are below 2 * decodeGuard, a power
    // of two: none of the bits from it up to the binary point set.
    static PIXFOLD_DECODE_AVX2 __m256i nearBand(__m256i estimate) {
        static_assert((2 * decodeGuard & (2 * decodeGuard - 1)) == 0, "a power of two");
        const __m256i band =
            _mm256_set1_epi32(static_cast<int>(fractionMask & ~(2 * decodeGuard - 1)));
        return _mm256_cmpeq_epi32(_mm256_and_si256(estimate, band), _mm256_setzero_si256());
    }

    // T >> 21 less the offset, stopped at 0 by a 16-bit saturating
    // subtraction (T >> 21 is below 2^16); the packs stop it at 255.
    static PIXFOLD_DECODE_AVX2 __m256i sample(__m256i estimate) {
        return _mm256_subs_epu16(_mm256_srli_epi32(estimate, decodeFractionBits),
                                 _mm256_set1_epi32(decodeOffset));
    }

    template <OutputFormat format>
    static PIXFOLD_DECODE_AVX2 void codes(const std::uint8_t* records, __m256i valueIndex,
                                          __m256i& words, __m256i& y, __m256i& cr, __m256i& cb) {
        if constexpr (usesLayout888(format)) {
            const __m256i byteMask = _mm256_set1_epi32(0xFF);
            words = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(records));
            y = _mm256_and_si256(words, byteMask);
            cr = _mm256_and_si256(_mm256_srli_epi32(words, 8), byteMask);
            cb = _mm256_and_si256(_mm256_srli_epi32(words, 16), byteMask);
        } else {
            words = format == OutputFormat::e655
                        ? _mm256_broadcastsi128_si256(
                              _mm_loadu_si128(reinterpret_cast<const __m128i*>(records)))
                        : _mm256_loadu_si256(reinterpret_cast<const __m256i*>(records));
            const __m256i value = _mm256_shuffle_epi8(words, valueIndex);
            y = field(_mm256_srli_epi32(value, 8), 0xFC, 2);
            cr = field(_mm256_srli_epi32(value, 2), 0xF8, 4);
            cb = field(_mm256_slli_epi32(value, 3), 0xF8, 4);
        }
    }

    template <OutputFormat format, PixelLayout layout>
    static PIXFOLD_DECODE_AVX2 void decode(const std::uint8_t* records, const std::uint8_t* keys,
                                           std::size_t pixelCount, const DecodePlan& plan,
                                           std::uint8_t* pixels) {
        static constexpr std::array<std::int8_t, 32> valueBytes = valueOrder(format);
        static constexpr std::array<std::int8_t, 16> layoutBytes = order(layout);
        const __m256i valueIndex = load32(valueBytes);
        const __m256i toLayout = broadcast16(layoutBytes);
        const __m256i joinHalves = _mm256_setr_epi32(0, 1, 2, 4, 5, 6, 7, 7);
        const StoredKeyTest test = storedKeyTest(format, plan.test);
        const __m256i kept = _mm256_set1_epi32(static_cast<int>(test.kept));
        const __m256i wanted = _mm256_set1_epi32(static_cast<int>(test.wanted));
        const __m256i flip = _mm256_set1_epi32(test.anyNonZero ? -1 : 0);
        const __m256i opaque = _mm256_set1_epi32(255);
        const bool keyedAlpha = keys != nullptr && isKeyedFormat(plan.format);
        constexpr std::size_t size = recordBytes(format);
        constexpr std::size_t bytes = pixelBytes(layout);
        constexpr std::size_t groupsPerSpan = spanPixels / 8;
        const std::size_t groups = pixelCount / 8;
        for (std::size_t group = 0; group < groups;) {
            const std::size_t spanGroups = std::min(groupsPerSpan, groups - group);
            std::uint8_t nearGroups[groupsPerSpan];
            unsigned anyNear = 0;
            for (std::size_t g = 0; g < spanGroups; ++g) {
                const std::size_t i = (group + g) * 8;
                __m256i words;
                __m256i y;
                __m256i cr;
                __m256i cb;
                codes<format>(records + i * size, valueIndex, words, y, cr, cb);
                const __m256i red = estimate(estimates[0], y, cr, cb);
                const __m256i green = estimate(estimates[1], y, cr, cb);
                const __m256i blue = estimate(estimates[2], y, cr, cb);
                const __m256i near = _mm256_or_si256(
                    _mm256_or_si256(nearBand(red), nearBand(green)), nearBand(blue));
                __m256i alpha = opaque;
                if constexpr (hasAlpha(layout)) {
                    if (keyedAlpha) {
                        const __m256i stored =
                            format == OutputFormat::e655Z
                                ? words
                                : _mm256_loadu_si256(
                                      reinterpret_cast<const __m256i*>(keys + i * 4));
                        const __m256i matches =
                            _mm256_cmpeq_epi32(_mm256_and_si256(stored, kept), wanted);
                        alpha = _mm256_and_si256(_mm256_xor_si256(matches, flip), opaque);
                    }
                }
                const __m256i packed = _mm256_shuffle_epi8(
                    _mm256_packus_epi16(_mm256_packus_epi32(sample(red), sample(green)),
                                        _mm256_packus_epi32(sample(blue), alpha)),
                    toLayout);
                std::uint8_t* out = pixels + i * bytes;
                if constexpr (bytes == 4) {
                    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out), packed);
                } else {
                    // Each half's 12 bytes side by side, then exactly 24 bytes stored.
                    const __m256i joined = _mm256_permutevar8x32_epi32(packed, joinHalves);
                    _mm_storeu_si128(reinterpret_cast<__m128i*>(out),
                                     _mm256_castsi256_si128(joined));
                    _mm_storel_epi64(reinterpret_cast<__m128i*>(out + 16),
                                     _mm256_extracti128_si256(joined, 1));
                }
                nearGroups[g] =
                    static_cast<std::uint8_t>(_mm256_movemask_ps(_mm256_castsi256_ps(near)));
                anyNear |= nearGroups[g];
            }
            for (std::size_t g = 0; g < spanGroups && anyNear != 0; ++g) {
                const std::size_t i = (group + g) * 8;
                settleNearPixels<format, layout>(records + i * size, nearGroups[g],
                                                 pixels + i * bytes);
            }
            group += spanGroups;
        }
        const std::size_t done = groups * 8;
        decodeBody<format, layout>(records + done * size,
                                   keys == nullptr ? nullptr : keys + done * 4, pixelCount - done,
                                   plan, pixels + done * bytes);
    }
};

PIXFOLD_DECODE_AVX2 void decodeAvx2(const std::uint8_t* records, const std::uint8_t* keys,
                                    std::size_t pixelCount, const DecodePlan& plan,
                                    std::uint8_t* pixels) {
    withFormatAndLayout(plan, [&](auto format, auto layout) {
        Avx2Decode::decode<decltype(format)::value, decltype(layout)::value>(
            records, keys, pixelCount, plan, pixels);
    });
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

// Intrinsics, 16 pixels a step in one pass: the words the compiler's loops
// keep in memory between passes stay in registers here. The flags of a
// span's groups are kept and its flagged pixels settled after it, so that no
// call sits in the loop to push its values out of registers; and each group
// is stored as a whole 64-byte vector, its last 16 bytes overwritten by the
// next group, where the output has room for them (a masked byte store is
// slower on AMD processors). What each step gained: docs/performance.md.
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
            const __m128i red = sample16(estimate16(estimates[0], y, cr, cb), near);
            const __m128i green = sample16(estimate16(estimates[1], y, cr, cb), near);
            const __m128i blue = sample16(estimate16(estimates[2], y, cr, cb), near);
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
            settleNearPixels<format, PixelLayout::rgb24>(records + i * size, nearGroups[g],
                                                         samples + i * 3);
        }
        group += spanGroups;
    }
    const std::size_t done = groups * 16;
    decodeBody<format, PixelLayout::rgb24>(records + done * size, nullptr, pixelCount - done, plan,
                                           samples + done * 3);
}

#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif

// RGB24 only; the other layouts take the AVX2 loop.
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

// e655's table in static storage, filled in place on first use: no
// allocation, and a function's static is initialised once while other
// threads wait, then only read.
struct Table655 {
    std::uint32_t words[65536];

    Table655() : words() {
        std::uint8_t records[spanPixels * 4];
        for (std::uint32_t first = 0; first < 65536; first += spanPixels) {
            for (std::size_t i = 0; i < spanPixels; ++i) {
                const auto value = static_cast<std::uint32_t>(first + i);
                const YCrCbCodes codes = unpackWord(value << 16, OutputFormat::e655);
                storeBigEndian32(records + i * 4, packWord(codes, OutputFormat::e888));
            }
            decodeSpan<OutputFormat::e888>(records, spanPixels, &words[first]);
        }
    }
};

const std::uint32_t* sharedTable655() {
    static const Table655 table;
    return table.words;
}

} // namespace

const ChannelEstimate* channelEstimates() {
    return estimates;
}

DecodePlan makeDecodePlan(OutputFormat format, Path path, PixelLayout layout, KeyPlaneTest test) {
    DecodePlan plan;
    plan.format = format;
    plan.path = runnablePath(path);
    plan.layout = layout;
    plan.test = test;
    // e655's table: one lookup a pixel beats the portable loop's arithmetic;
    // the vector loops compute faster (docs/performance.md).
    if (!usesLayout888(format) && plan.path == Path::portable) {
        plan.table655 = sharedTable655();
    }
    return plan;
}

void decodeRecords(const std::uint8_t* records, std::size_t pixelCount, const DecodePlan& plan,
                   std::uint8_t* pixels, const std::uint8_t* keys) {
#if PIXFOLD_HAS_X86_PATHS
    if (plan.path == Path::avx512 && plan.layout == PixelLayout::rgb24) {
        decodeAvx512(records, pixelCount, plan, pixels);
        return;
    }
    if (plan.path != Path::portable) {
        decodeAvx2(records, keys, pixelCount, plan, pixels);
        return;
    }
#endif
    decodePortable(records, keys, pixelCount, plan, pixels);
}

namespace {

#if PIXFOLD_HAS_X86_PATHS
// 16 keys a step: a test or compare to a mask, the mask to bytes. Returns the
// pixels done, whole steps only.
PIXFOLD_DECODE_AVX512 std::size_t keyPlaneAvx512(const std::uint8_t* keys, std::size_t pixelCount,
                                                 const StoredKeyTest& test, std::uint8_t* mask) {
    const __m512i keptBits = _mm512_set1_epi32(static_cast<int>(test.kept));
    const __m512i wantedBits = _mm512_set1_epi32(static_cast<int>(test.wanted));
    std::size_t i = 0;
    for (; i + 16 <= pixelCount; i += 16) {
        const __m512i words = _mm512_loadu_si512(keys + i * 4);
        const __mmask16 matches =
            test.anyNonZero
                ? _mm512_test_epi32_mask(words, keptBits)
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
    const StoredKeyTest stored = storedKeyTest(format, test);
    std::size_t done = 0;
#if PIXFOLD_HAS_X86_PATHS
    if (runnablePath(path) == Path::avx512) {
        done = keyPlaneAvx512(keys, pixelCount, stored, mask);
    }
#else
    (void)path;
#endif
    keyMask(keys + done * 4, pixelCount - done, stored, mask + done);
}

} // namespace pixfold
