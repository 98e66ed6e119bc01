// The AVX-512 operations of the vector loop (vector_loop.h), 16 pixels a
// step: a byte permute (VBMI) splits 48 bytes of samples into (r, g) and
// (b, 0) pairs in one instruction each, mask registers hold the boundary
// flags and the key test, and three-input logic builds the 6-5-5 values.
#pragma once

#include "encode/vector_loop.h"

#if PIXFOLD_HAS_X86_PATHS

// GCC 12 takes the deliberately undefined registers inside its own AVX-512
// conversion intrinsics for uninitialised variables.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#pragma GCC diagnostic ignored "-Wuninitialized"
#endif

#include <immintrin.h>

#include <array>

#define PIXFOLD_AVX512 __attribute__((target("avx512f,avx512bw,avx512vl,avx512vbmi,fma")))

namespace pixfold {

// Byte indices of vpermb for e655: the 16 values' two low bytes, swapped, to
// the first 32 bytes.
constexpr std::array<std::uint8_t, 64> valueGatherOrder() {
    std::array<std::uint8_t, 64> order{};
    for (std::size_t lane = 0; lane < 16; ++lane) {
        order[lane * 2] = static_cast<std::uint8_t>(lane * 4 + 1);
        order[lane * 2 + 1] = static_cast<std::uint8_t>(lane * 4);
    }
    return order;
}

inline constexpr std::array<std::uint8_t, 64> valueOrder = valueGatherOrder();

struct Avx512 {
    using Int = __m512i;
    static constexpr std::size_t lanes = 16;

    struct Pairs {
        __m512i rg;
        __m512i b;
        __mmask16 transparent; // pixels keyed by their alpha
    };

    struct Constants {
        __m512i rgIndex;
        __m512i bIndex;
        __mmask16 transparentKeys; // all set where the plan keys transparent pixels
        __m512i keyRg;
        __m512i keyB;
        __m512i matchKey; // keyLaneBytes of the two key values
        __m512i noMatchKey;
    };

    // vpermb's indices: lane i takes pixel i's samples; the bytes the keep
    // masks leave out are zero. RGB48's 96 bytes take vpermt2b, whose
    // indices go on into a second register.
    template <PixelLayout layout>
    PIXFOLD_AVX512 static Constants constants(const EncodePlan& plan) {
        static constexpr std::array<std::int8_t, 64> rg =
            redGreenOrder<64>(layout, pixelStarts<64>(layout, 0));
        static constexpr std::array<std::int8_t, 64> b =
            blueOrder<64>(layout, pixelStarts<64>(layout, 0));
        const KeyPairs key = keyPairs(plan.key, layout);
        return {_mm512_loadu_si512(rg.data()),
                _mm512_loadu_si512(b.data()),
                static_cast<__mmask16>(plan.keyTransparent ? 0xFFFFu : 0u),
                _mm512_set1_epi32(key.rg),
                _mm512_set1_epi32(key.b),
                _mm512_set1_epi32(
                    static_cast<std::int32_t>(keyLaneBytes(plan.key.matchValue, plan.format))),
                _mm512_set1_epi32(
                    static_cast<std::int32_t>(keyLaneBytes(plan.key.noMatchValue, plan.format)))};
    }

    // The loop, compiled for this instruction set (vector_loop.inc).
    template <OutputFormat format, PixelLayout layout>
    PIXFOLD_AVX512 static void encode(const std::uint8_t* pixels, std::size_t pixelCount,
                                      const EncodePlan& plan, std::uint8_t* records,
                                      std::uint8_t* alpha);

    template <OutputFormat format, PixelLayout layout>
    PIXFOLD_AVX512 static void steps(const std::uint8_t* pixels, std::size_t last,
                                     std::size_t pixelCount, const Constants& constants,
                                     const EncodePlan& plan, std::uint8_t* records,
                                     std::uint8_t* alpha);

    // 3-byte pixels: a whole 64-byte load where the samples go on for 16
    // bytes past the step's 48 (inside), else a masked load of the 48: on AMD
    // processors the masked load made the loop 10% slower. The others read
    // their 16 pixels exactly.
    static constexpr std::size_t pixelsAStepReads(PixelLayout layout) {
        return pixelBytes(layout) == 3 ? 22 : 16;
    }

    static constexpr std::size_t vectorEnd(PixelLayout /*layout*/, std::size_t pixelCount) {
        return pixelCount - pixelCount % 16;
    }

    // 16-bit samples come in less 32768 (vector_loop.h): RGB48's from a
    // 64-byte and a 32-byte load through two-register byte permutes, RGBA64's
    // even and odd 32-bit words, (r, g) and (b, a), from two 64-byte loads.
    template <PixelLayout layout>
    PIXFOLD_AVX512 static Pairs loadPairs(const std::uint8_t* in, const Constants& constants,
                                          bool inside) {
        if constexpr (layout == PixelLayout::gray8) {
            const __m512i grey =
                _mm512_cvtepu8_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(in)));
            return {_mm512_or_si512(grey, _mm512_slli_epi32(grey, 16)), grey, 0};
        } else if constexpr (layout == PixelLayout::rgb48) {
            const __m512i low = _mm512_loadu_si512(in);
            const __m512i high = _mm512_zextsi256_si512(
                _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in + 64)));
            const __m512i bias = _mm512_set1_epi32(wideSampleBias);
            return {_mm512_xor_si512(_mm512_permutex2var_epi8(low, constants.rgIndex, high), bias),
                    _mm512_xor_si512(_mm512_maskz_permutex2var_epi8(0x3333333333333333u, low,
                                                                    constants.bIndex, high),
                                     bias),
                    0};
        } else if constexpr (layout == PixelLayout::rgba64) {
            static_assert(traitsOf(layout).red == 0 && traitsOf(layout).blue == 2 &&
                              traitsOf(layout).alpha == 3,
                          "(r, g) and (b, a) in a pixel's two 32-bit words");
            const __m512i low = _mm512_loadu_si512(in);
            const __m512i high = _mm512_loadu_si512(in + 64);
            const __m512i even =
                _mm512_setr_epi32(0, 2, 4, 6, 8, 10, 12, 14, 16, 18, 20, 22, 24, 26, 28, 30);
            const __m512i rg = _mm512_permutex2var_epi32(low, even, high);
            const __m512i ba =
                _mm512_permutex2var_epi32(low, _mm512_add_epi32(even, _mm512_set1_epi32(1)), high);
            const __m512i bias = _mm512_set1_epi32(wideSampleBias);
            // 0x6A: (a & b) ^ c, the blue alone, less 32768.
            return {
                _mm512_xor_si512(rg, bias),
                _mm512_ternarylogic_epi32(ba, _mm512_set1_epi32(0xFFFF), bias, 0x6A),
                static_cast<__mmask16>(
                    _mm512_testn_epi32_mask(ba, _mm512_set1_epi32(static_cast<int>(0xFFFF0000u))) &
                    constants.transparentKeys)};
        } else {
            __m512i raw;
            __mmask16 transparent = 0;
            if constexpr (pixelBytes(layout) == 3) {
                raw = inside ? _mm512_loadu_si512(in)
                             : _mm512_maskz_loadu_epi8(0x0000FFFFFFFFFFFFu, in);
            } else {
                raw = _mm512_loadu_si512(in);
            }
            if constexpr (hasAlpha(layout)) {
                static_assert(alphaByte(layout) == 3, "alpha in each lane's top byte");
                transparent =
                    _mm512_testn_epi32_mask(raw, _mm512_set1_epi32(static_cast<int>(0xFF000000u))) &
                    constants.transparentKeys;
            }
            return {_mm512_maskz_permutexvar_epi8(0x5555555555555555u, constants.rgIndex, raw),
                    _mm512_maskz_permutexvar_epi8(0x1111111111111111u, constants.bIndex, raw),
                    transparent};
        }
    }

    // A grey's luma sum: the three weights add up to weightScale.
    PIXFOLD_AVX512 static __m512i weighGrey(const Pairs& pixels) {
        return _mm512_madd_epi16(pixels.b, _mm512_set1_epi32(coefficientPair(weightScale, 0)));
    }

    // As the AVX2 loop: the smallest low half of the three in the guard band.
    // The mask compare gives a bit for every 16-bit half: lane i's flag is
    // bit 2i (flagStride); the high halves hold codes, never in the band.
    static constexpr std::uint32_t flagStride = 2;

    PIXFOLD_AVX512 static std::uint32_t nearBoundary(__m512i y, __m512i cr, __m512i cb) {
        return _mm512_cmplt_epu16_mask(_mm512_min_epu16(y, _mm512_min_epu16(cr, cb)),
                                       _mm512_set1_epi16(2 * estimateGuard));
    }

    PIXFOLD_AVX512 static __m512i estimate(__m512i sum, float scale, float bias) {
        return _mm512_cvttps_epi32(
            _mm512_fmadd_ps(_mm512_cvtepi32_ps(sum), _mm512_set1_ps(scale), _mm512_set1_ps(bias)));
    }

    template <PixelLayout layout>
    PIXFOLD_AVX512 static __m512i weigh(const Pairs& pixels, const Weights& weights) {
        return _mm512_add_epi32(
            _mm512_madd_epi16(pixels.rg, _mm512_set1_epi32(redGreenCoefficients(weights))),
            _mm512_madd_epi16(pixels.b, _mm512_set1_epi32(blueCoefficients(weights, layout))));
    }

    PIXFOLD_AVX512 static __m512i keyBytes(const Pairs& pixels, const Constants& constants) {
        const __mmask16 matches = (_mm512_cmpeq_epi32_mask(pixels.rg, constants.keyRg) &
                                   _mm512_cmpeq_epi32_mask(pixels.b, constants.keyB)) |
                                  pixels.transparent;
        return _mm512_mask_blend_epi32(matches, constants.noMatchKey, constants.matchKey);
    }

    // As the AVX2 loop: cr's code in the low half of each lane, cb's in the high.
    PIXFOLD_AVX512 static __m512i differenceCodes(__m512i cr, __m512i cb,
                                                  const Constants& /*constants*/) {
        const __m512i codes = _mm512_mask_blend_epi16(0xAAAAAAAAu, _mm512_srli_epi32(cr, 16), cb);
        return _mm512_mask_add_epi16(codes, _mm512_cmplt_epu16_mask(codes, _mm512_set1_epi16(128)),
                                     codes, _mm512_set1_epi16(1));
    }

    // Bytes y, cr, cb, 0 in memory.
    PIXFOLD_AVX512 static void store888(std::uint8_t* out, __m512i yFixed, __m512i differences) {
        const __m512i toBytes1And2 = _mm512_broadcast_i32x4(
            _mm_setr_epi8(-1, 0, 2, -1, -1, 4, 6, -1, -1, 8, 10, -1, -1, 12, 14, -1));
        _mm512_storeu_si512(out, _mm512_or_si512(_mm512_srli_epi32(yFixed, 16),
                                                 _mm512_shuffle_epi8(differences, toBytes1And2)));
    }

    // As the AVX2 loop; 0xEA is (a & b) | c.
    PIXFOLD_AVX512 static __m512i value655(__m512i yFixed, __m512i differences) {
        const __m512i chroma = _mm512_madd_epi16(_mm512_srli_epi16(differences, 3),
                                                 _mm512_set1_epi32(coefficientPair(32, 1)));
        return _mm512_ternarylogic_epi32(_mm512_srli_epi32(yFixed, 8), _mm512_set1_epi32(0xFC00),
                                         chroma, 0xEA);
    }

    PIXFOLD_AVX512 static void store655(std::uint8_t* out, __m512i value) {
        const __m512i gather = _mm512_loadu_si512(valueOrder.data());
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out),
                            _mm512_castsi512_si256(_mm512_permutexvar_epi8(gather, value)));
    }

    // The value's bytes swapped into bytes 0 and 1 of each lane, the key's in 2 and 3.
    PIXFOLD_AVX512 static void store655Z(std::uint8_t* out, __m512i value, __m512i keyBytes) {
        const __m512i toBytes0And1 = _mm512_broadcast_i32x4(
            _mm_setr_epi8(1, 0, -1, -1, 5, 4, -1, -1, 9, 8, -1, -1, 13, 12, -1, -1));
        _mm512_storeu_si512(out,
                            _mm512_or_si512(_mm512_shuffle_epi8(value, toBytes0And1), keyBytes));
    }

    PIXFOLD_AVX512 static void storeAlpha(std::uint8_t* out, __m512i keyBytes) {
        _mm512_storeu_si512(out, keyBytes);
    }
};

#define PIXFOLD_VECTOR_ISA Avx512
#define PIXFOLD_VECTOR_TARGET PIXFOLD_AVX512
#include "encode/vector_loop.inc"
#undef PIXFOLD_VECTOR_TARGET
#undef PIXFOLD_VECTOR_ISA

} // namespace pixfold

#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif

#endif
