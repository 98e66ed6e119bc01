// The AVX2 operations of the vector loop (vector_loop.h), 8 pixels a step.
#pragma once

#include "encode/vector_loop.h"

#if PIXFOLD_HAS_X86_PATHS

#include <immintrin.h>

#define PIXFOLD_AVX2 __attribute__((target("avx2,fma")))

namespace pixfold {

struct Avx2 {
    using Int = __m256i;
    static constexpr std::size_t lanes = 8;

    struct Pairs {
        __m256i rg; // (r, g) as 16-bit values in each 32-bit lane
        __m256i b;  // (b, 0)
    };

    struct Constants {
        __m256i halves;
        __m256i rgOrder;
        __m256i bOrder;
        __m256i keyRg;
        __m256i keyB;
        __m256i matchValue;
        __m256i noMatchValue;
    };

    PIXFOLD_AVX2 static Constants constants(const EncodePlan& plan) {
        return {// Dwords 0-2 (pixels 0 to 3) to the low half, 3-5 (4 to 7) to the high.
                _mm256_setr_epi32(0, 1, 2, 2, 3, 4, 5, 5),
                // In each 128-bit half: pixels 0 to 3 at bytes 0 to 11.
                _mm256_setr_epi8(0, -1, 1, -1, 3, -1, 4, -1, 6, -1, 7, -1, 9, -1, 10, -1, 0, -1, 1,
                                 -1, 3, -1, 4, -1, 6, -1, 7, -1, 9, -1, 10, -1),
                _mm256_setr_epi8(2, -1, -1, -1, 5, -1, -1, -1, 8, -1, -1, -1, 11, -1, -1, -1, 2, -1,
                                 -1, -1, 5, -1, -1, -1, 8, -1, -1, -1, 11, -1, -1, -1),
                _mm256_set1_epi32(plan.key.red | (plan.key.green << 16)),
                _mm256_set1_epi32(plan.key.blue),
                _mm256_set1_epi32(static_cast<std::int32_t>(plan.key.matchValue)),
                _mm256_set1_epi32(static_cast<std::int32_t>(plan.key.noMatchValue))};
    }

    // A step reads 32 bytes: its 8 pixels and 8 bytes of the next, so the last
    // step starts 11 pixels or more before the end.
    static std::size_t vectorEnd(std::size_t pixelCount) {
        return pixelCount < 11 ? 0 : (pixelCount - 11) / 8 * 8 + 8;
    }

    PIXFOLD_AVX2 static Pairs loadPairs(const std::uint8_t* in, const Constants& constants) {
        const __m256i raw = _mm256_permutevar8x32_epi32(
            _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in)), constants.halves);
        return {_mm256_shuffle_epi8(raw, constants.rgOrder),
                _mm256_shuffle_epi8(raw, constants.bOrder)};
    }

    PIXFOLD_AVX2 static __m256i weigh(const Pairs& pixels, std::int32_t r, std::int32_t g,
                                      std::int32_t b) {
        return _mm256_add_epi32(
            _mm256_madd_epi16(pixels.rg, _mm256_set1_epi32(coefficientPair(r, g))),
            _mm256_madd_epi16(pixels.b, _mm256_set1_epi32(coefficientPair(b, 0))));
    }

    PIXFOLD_AVX2 static __m256i estimate(__m256i sum, float scale, float bias) {
        return _mm256_cvttps_epi32(
            _mm256_fmadd_ps(_mm256_cvtepi32_ps(sum), _mm256_set1_ps(scale), _mm256_set1_ps(bias)));
    }

    static constexpr std::uint32_t flagStride = 1;

    // A bit for each lane where any of the three estimates is within
    // estimateGuard of a code boundary. Only the low 16 bits of a lane matter,
    // so 16-bit arithmetic serves: the guard added to the low half, the
    // smallest of the three low halves, compared (unsigned) with the band.
    PIXFOLD_AVX2 static std::uint32_t nearBoundary(__m256i y, __m256i cr, __m256i cb) {
        const __m256i guard = _mm256_set1_epi32(estimateGuard);
        const __m256i lowest = _mm256_min_epu16(
            _mm256_add_epi16(y, guard),
            _mm256_min_epu16(_mm256_add_epi16(cr, guard), _mm256_add_epi16(cb, guard)));
        const __m256i inBand = _mm256_cmpeq_epi16(
            _mm256_min_epu16(lowest, _mm256_set1_epi32(2 * estimateGuard - 1)), lowest);
        // The low half's answer into the sign bit of each lane.
        return static_cast<std::uint32_t>(
            _mm256_movemask_ps(_mm256_castsi256_ps(_mm256_slli_epi32(inBand, 16))));
    }

    PIXFOLD_AVX2 static __m256i lumaCode(__m256i fixed) { return _mm256_srli_epi32(fixed, 16); }

    // Truncation toward zero rounds a negative difference up.
    PIXFOLD_AVX2 static __m256i differenceCode(__m256i fixed) {
        return _mm256_sub_epi32(
            _mm256_srli_epi32(fixed, 16),
            _mm256_cmpgt_epi32(_mm256_set1_epi32(negativeDifferenceLimit), fixed));
    }

    PIXFOLD_AVX2 static __m256i keyValue(const Pairs& pixels, const Constants& constants) {
        const __m256i matches = _mm256_and_si256(_mm256_cmpeq_epi32(pixels.rg, constants.keyRg),
                                                 _mm256_cmpeq_epi32(pixels.b, constants.keyB));
        return _mm256_blendv_epi8(constants.noMatchValue, constants.matchValue, matches);
    }

    // Bytes y, cr, cb, 0 in memory: the 8-8-8 word most significant byte first.
    PIXFOLD_AVX2 static void store888(std::uint8_t* out, __m256i y, __m256i cr, __m256i cb) {
        const __m256i words = _mm256_or_si256(
            y, _mm256_or_si256(_mm256_slli_epi32(cr, 8), _mm256_slli_epi32(cb, 16)));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out), words);
    }

    PIXFOLD_AVX2 static __m256i value655(__m256i y, __m256i cr, __m256i cb) {
        return _mm256_or_si256(_mm256_slli_epi32(_mm256_srli_epi32(y, 2), 10),
                               _mm256_or_si256(_mm256_slli_epi32(_mm256_srli_epi32(cr, 3), 5),
                                               _mm256_srli_epi32(cb, 3)));
    }

    PIXFOLD_AVX2 static void store655(std::uint8_t* out, __m256i value) {
        const __m256i swapped =
            _mm256_or_si256(_mm256_srli_epi32(value, 8),
                            _mm256_slli_epi32(_mm256_and_si256(value, _mm256_set1_epi32(0xFF)), 8));
        // Each 128-bit half packs its 4 values; qwords 0 and 2 hold all 8.
        const __m256i packed =
            _mm256_permute4x64_epi64(_mm256_packus_epi32(swapped, swapped), 0x08);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm256_castsi256_si128(packed));
    }

    PIXFOLD_AVX2 static void store655Z(std::uint8_t* out, __m256i value, __m256i keyValue) {
        const __m256i words = _mm256_or_si256(
            _mm256_slli_epi32(value, 16), _mm256_and_si256(keyValue, _mm256_set1_epi32(0xFFFF)));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out), byteSwapped(words));
    }

    PIXFOLD_AVX2 static void storeAlpha(std::uint8_t* out, __m256i keyValue) {
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out), byteSwapped(keyValue));
    }

    PIXFOLD_AVX2 static __m256i byteSwapped(__m256i words) {
        const __m256i order =
            _mm256_setr_epi8(3, 2, 1, 0, 7, 6, 5, 4, 11, 10, 9, 8, 15, 14, 13, 12, 3, 2, 1, 0, 7, 6,
                             5, 4, 11, 10, 9, 8, 15, 14, 13, 12);
        return _mm256_shuffle_epi8(words, order);
    }

    // The loop, compiled for this instruction set (vector_loop.inc).
    template <OutputFormat format>
    PIXFOLD_AVX2 static void encode(const std::uint8_t* samples, std::size_t pixelCount,
                                    const EncodePlan& plan, std::uint8_t* records,
                                    std::uint8_t* alpha);
};

#define PIXFOLD_VECTOR_ISA Avx2
#define PIXFOLD_VECTOR_TARGET PIXFOLD_AVX2
#include "encode/vector_loop.inc"
#undef PIXFOLD_VECTOR_TARGET
#undef PIXFOLD_VECTOR_ISA

} // namespace pixfold

#endif
