// The AVX-512 operations of the vector loop (vector_loop.h), 16 pixels a
// step: a byte permute (VBMI) splits 48 bytes of samples into (r, g) and
// (b, 0) pairs in one instruction each, mask registers hold the boundary
// flags and the key test, and three-input logic builds the 8-8-8 words.
#pragma once

#include "encode/vector_loop.h"

#if PIXFOLD_HAS_X86_PATHS

// GCC 12 takes the deliberately undefined registers inside its own AVX-512
// conversion intrinsics for uninitialised variables.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

#include <immintrin.h>

#include <array>

#define PIXFOLD_AVX512 __attribute__((target("avx512f,avx512bw,avx512vl,avx512vbmi,fma")))

namespace pixfold {

// Byte indices of vpermb: lane i takes sample 3i + first and, with pairs,
// 3i + first + 1 as two 16-bit values; bytes the keep mask leaves out are zero.
constexpr std::array<std::uint8_t, 64> permuteOrder(std::size_t first, bool pairs) {
    std::array<std::uint8_t, 64> order{};
    for (std::size_t lane = 0; lane < 16; ++lane) {
        order[lane * 4] = static_cast<std::uint8_t>(lane * 3 + first);
        if (pairs) {
            order[lane * 4 + 2] = static_cast<std::uint8_t>(lane * 3 + first + 1);
        }
    }
    return order;
}

inline constexpr std::array<std::uint8_t, 64> rgOrder = permuteOrder(0, true);
inline constexpr std::array<std::uint8_t, 64> bOrder = permuteOrder(2, false);

struct Avx512 {
    using Int = __m512i;
    static constexpr std::size_t lanes = 16;

    struct Pairs {
        __m512i rg;
        __m512i b;
    };

    struct Constants {
        __m512i rgIndex;
        __m512i bIndex;
        __m512i keyRg;
        __m512i keyB;
        __m512i matchValue;
        __m512i noMatchValue;
    };

    PIXFOLD_AVX512 static Constants constants(const EncodePlan& plan) {
        return {_mm512_loadu_si512(rgOrder.data()),
                _mm512_loadu_si512(bOrder.data()),
                _mm512_set1_epi32(plan.key.red | (plan.key.green << 16)),
                _mm512_set1_epi32(plan.key.blue),
                _mm512_set1_epi32(static_cast<std::int32_t>(plan.key.matchValue)),
                _mm512_set1_epi32(static_cast<std::int32_t>(plan.key.noMatchValue))};
    }

    // The loop, compiled for this instruction set (vector_loop.inc).
    template <OutputFormat format>
    PIXFOLD_AVX512 static void encode(const std::uint8_t* samples, std::size_t pixelCount,
                                      const EncodePlan& plan, std::uint8_t* records,
                                      std::uint8_t* alpha);

    PIXFOLD_AVX512 static __m512i byteSwapped(__m512i words) {
        const __m512i order = _mm512_set4_epi32(0x0C0D0E0F, 0x08090A0B, 0x04050607, 0x00010203);
        return _mm512_shuffle_epi8(words, order);
    }

    PIXFOLD_AVX512 static void storeAlpha(std::uint8_t* out, __m512i keyValue) {
        _mm512_storeu_si512(out, byteSwapped(keyValue));
    }

    PIXFOLD_AVX512 static Pairs loadPairs(const std::uint8_t* in, const Constants& constants) {
        const __m512i raw = _mm512_maskz_loadu_epi8(0x0000FFFFFFFFFFFFu, in);
        return {_mm512_maskz_permutexvar_epi8(0x5555555555555555u, constants.rgIndex, raw),
                _mm512_maskz_permutexvar_epi8(0x1111111111111111u, constants.bIndex, raw)};
    }

    // As the AVX2 loop: the smallest low half of the three, plus the guard, in
    // the band. The mask compare gives a bit for every 16-bit half: lane i's
    // flag is bit 2i (flagStride).
    static constexpr std::uint32_t flagStride = 2;

    PIXFOLD_AVX512 static std::uint32_t nearBoundary(__m512i y, __m512i cr, __m512i cb) {
        const __m512i guard = _mm512_set1_epi32(estimateGuard);
        const __m512i lumaAndRed =
            _mm512_min_epu16(_mm512_add_epi16(y, guard), _mm512_add_epi16(cr, guard));
        return _mm512_mask_cmplt_epu16_mask(
            0x55555555u, _mm512_min_epu16(lumaAndRed, _mm512_add_epi16(cb, guard)),
            _mm512_set1_epi16(2 * estimateGuard));
    }

    PIXFOLD_AVX512 static __m512i estimate(__m512i sum, float scale, float bias) {
        return _mm512_cvttps_epi32(
            _mm512_fmadd_ps(_mm512_cvtepi32_ps(sum), _mm512_set1_ps(scale), _mm512_set1_ps(bias)));
    }

    PIXFOLD_AVX512 static __m512i weigh(const Pairs& pixels, std::int32_t r, std::int32_t g,
                                        std::int32_t b) {
        return _mm512_add_epi32(
            _mm512_madd_epi16(pixels.rg, _mm512_set1_epi32(coefficientPair(r, g))),
            _mm512_madd_epi16(pixels.b, _mm512_set1_epi32(coefficientPair(b, 0))));
    }

    PIXFOLD_AVX512 static __m512i keyValue(const Pairs& pixels, const Constants& constants) {
        const __mmask16 matches = _mm512_cmpeq_epi32_mask(pixels.rg, constants.keyRg) &
                                  _mm512_cmpeq_epi32_mask(pixels.b, constants.keyB);
        return _mm512_mask_blend_epi32(matches, constants.noMatchValue, constants.matchValue);
    }

    PIXFOLD_AVX512 static __m512i lumaCode(__m512i fixed) { return _mm512_srli_epi32(fixed, 16); }

    PIXFOLD_AVX512 static __m512i differenceCode(__m512i fixed) {
        const __m512i code = _mm512_srli_epi32(fixed, 16);
        const __mmask16 negative =
            _mm512_cmplt_epi32_mask(fixed, _mm512_set1_epi32(negativeDifferenceLimit));
        return _mm512_mask_add_epi32(code, negative, code, _mm512_set1_epi32(1));
    }

    PIXFOLD_AVX512 static __m512i value655(__m512i y, __m512i cr, __m512i cb) {
        return _mm512_ternarylogic_epi32(_mm512_slli_epi32(_mm512_srli_epi32(y, 2), 10),
                                         _mm512_slli_epi32(_mm512_srli_epi32(cr, 3), 5),
                                         _mm512_srli_epi32(cb, 3), 0xFE);
    }

    // Bytes y, cr, cb, 0 in memory; 0xFE is a | b | c.
    PIXFOLD_AVX512 static void store888(std::uint8_t* out, __m512i y, __m512i cr, __m512i cb) {
        _mm512_storeu_si512(out, _mm512_ternarylogic_epi32(y, _mm512_slli_epi32(cr, 8),
                                                           _mm512_slli_epi32(cb, 16), 0xFE));
    }

    PIXFOLD_AVX512 static void store655Z(std::uint8_t* out, __m512i value, __m512i keyValue) {
        const __m512i words = _mm512_or_si512(
            _mm512_slli_epi32(value, 16), _mm512_and_si512(keyValue, _mm512_set1_epi32(0xFFFF)));
        _mm512_storeu_si512(out, byteSwapped(words));
    }

    PIXFOLD_AVX512 static void store655(std::uint8_t* out, __m512i value) {
        const __m512i swapped =
            _mm512_or_si512(_mm512_srli_epi32(value, 8),
                            _mm512_slli_epi32(_mm512_and_si512(value, _mm512_set1_epi32(0xFF)), 8));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out), _mm512_cvtepi32_epi16(swapped));
    }

    // The masked load reads exactly a step's 48 bytes.
    static std::size_t vectorEnd(std::size_t pixelCount) { return pixelCount - pixelCount % 16; }
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
