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
        __m256i rg;          // (r, g) as 16-bit values in each 32-bit lane (vector_loop.h)
        __m256i b;           // (b, empty)
        __m256i transparent; // all ones where the pixel is keyed by its alpha
    };

    struct Constants {
        __m256i rgOrder;
        __m256i bOrder;
        __m256i rgOrderOfSecond; // RGB48: the orders of a step's second register
        __m256i bOrderOfSecond;
        __m256i transparentKeys; // all ones where the plan keys transparent pixels
        __m256i keyRg;
        __m256i keyB;
        __m256i matchKey; // keyLaneBytes of the two key values
        __m256i noMatchKey;
        __m256i negativeBelow; // 128 in each 16-bit half
    };

    // Where the high 128-bit half's first pixel lies in it: 3-byte pixels
    // are loaded from byte 8 of the step, so pixel 4 starts at its byte 4.
    static constexpr std::size_t highHalf(PixelLayout layout) {
        return pixelBytes(layout) == 3 ? 4 : 0;
    }

    // RGB48's 8 pixels take two registers of two 16-byte windows each
    // (loadPairs): the first holds pixels 0 and 1 in its low half and 4 and
    // 5 in its high, the second 2 and 3, and 6 and 7, each to the lanes of
    // their pixels.
    static constexpr std::array<int, 8> wideFirstStarts = {0, 6, -1, -1, 0, 6, -1, -1};
    static constexpr std::array<int, 8> wideSecondStarts = {-1, -1, 0, 6, -1, -1, 4, 10};

    template <PixelLayout layout> PIXFOLD_AVX2 static Constants constants(const EncodePlan& plan) {
        // Hidden from the optimiser: GCC rewrites a compare with a known 128
        // as a min and an equality test, one instruction more a step.
        __m256i negativeBelow = _mm256_set1_epi16(128);
        __asm__("" : "+x"(negativeBelow));
        constexpr bool wide = layout == PixelLayout::rgb48;
        constexpr std::array<int, 8> starts =
            wide ? wideFirstStarts : pixelStarts<32>(layout, highHalf(layout));
        static constexpr std::array<std::int8_t, 32> rg = redGreenOrder<32>(layout, starts);
        static constexpr std::array<std::int8_t, 32> b = blueOrder<32>(layout, starts);
        static constexpr std::array<std::int8_t, 32> rgSecond =
            redGreenOrder<32>(layout, wideSecondStarts);
        static constexpr std::array<std::int8_t, 32> bSecond =
            blueOrder<32>(layout, wideSecondStarts);
        const KeyPairs key = keyPairs(plan.key, layout);
        return {_mm256_loadu_si256(reinterpret_cast<const __m256i*>(rg.data())),
                _mm256_loadu_si256(reinterpret_cast<const __m256i*>(b.data())),
                _mm256_loadu_si256(reinterpret_cast<const __m256i*>(rgSecond.data())),
                _mm256_loadu_si256(reinterpret_cast<const __m256i*>(bSecond.data())),
                _mm256_set1_epi32(plan.keyTransparent ? -1 : 0),
                _mm256_set1_epi32(key.rg),
                _mm256_set1_epi32(key.b),
                _mm256_set1_epi32(
                    static_cast<std::int32_t>(keyLaneBytes(plan.key.matchValue, plan.format))),
                _mm256_set1_epi32(
                    static_cast<std::int32_t>(keyLaneBytes(plan.key.noMatchValue, plan.format))),
                negativeBelow};
    }

    // A step reads its 8 pixels and no byte more.
    static constexpr std::size_t pixelsAStepReads(PixelLayout /*layout*/) { return 8; }

    static constexpr std::size_t vectorEnd(PixelLayout /*layout*/, std::size_t pixelCount) {
        return pixelCount - pixelCount % 8;
    }

    // 3-byte pixels 0 to 3 to the low 128-bit half (bytes 0 to 11 of the
    // step) and 4 to 7 to the high (bytes 8 to 23, the pixels from its byte
    // 4 on): two loads, not one and a cross-half permute, which would queue
    // on the shuffle port, and none past the step's last pixel. 4-byte pixels
    // fill the halves so; greys widen to lanes. 16-bit samples come in less
    // 32768 (vector_loop.h): RGB48's 48 bytes through two shuffles each of
    // (r, g) and (b, 0), from two registers of 16-byte windows; RGBA64's 64
    // bytes in two registers of pixels 0, 1 and 4, 5, and 2, 3 and 6, 7, whose
    // even and odd words one float shuffle each puts in order.
    template <PixelLayout layout>
    PIXFOLD_AVX2 static Pairs loadPairs(const std::uint8_t* in, const Constants& constants,
                                        bool /*inside: always*/) {
        const auto at = [in](std::size_t offset) {
            return reinterpret_cast<const __m128i*>(in + offset);
        };
        if constexpr (layout == PixelLayout::gray8) {
            const __m256i grey = _mm256_cvtepu8_epi32(_mm_loadl_epi64(at(0)));
            return {_mm256_or_si256(grey, _mm256_slli_epi32(grey, 16)), grey,
                    _mm256_setzero_si256()};
        } else if constexpr (layout == PixelLayout::rgb48) {
            const __m256i first = _mm256_loadu2_m128i(at(24), at(0));
            const __m256i second = _mm256_loadu2_m128i(at(32), at(12));
            const __m256i rg =
                _mm256_or_si256(_mm256_shuffle_epi8(first, constants.rgOrder),
                                _mm256_shuffle_epi8(second, constants.rgOrderOfSecond));
            const __m256i b =
                _mm256_or_si256(_mm256_shuffle_epi8(first, constants.bOrder),
                                _mm256_shuffle_epi8(second, constants.bOrderOfSecond));
            const __m256i bias = _mm256_set1_epi32(wideSampleBias);
            return {_mm256_xor_si256(rg, bias), _mm256_xor_si256(b, bias), _mm256_setzero_si256()};
        } else if constexpr (layout == PixelLayout::rgba64) {
            static_assert(traitsOf(layout).red == 0 && traitsOf(layout).blue == 2 &&
                              traitsOf(layout).alpha == 3,
                          "(r, g) and (b, a) in a pixel's two 32-bit words");
            const __m256 first = _mm256_castsi256_ps(_mm256_loadu2_m128i(at(32), at(0)));
            const __m256 second = _mm256_castsi256_ps(_mm256_loadu2_m128i(at(48), at(16)));
            const __m256i rg = _mm256_castps_si256(_mm256_shuffle_ps(first, second, 0x88));
            const __m256i ba = _mm256_castps_si256(_mm256_shuffle_ps(first, second, 0xDD));
            const __m256i transparent = _mm256_and_si256(
                _mm256_cmpeq_epi32(_mm256_srli_epi32(ba, 16), _mm256_setzero_si256()),
                constants.transparentKeys);
            const __m256i bias = _mm256_set1_epi32(wideSampleBias);
            return {_mm256_xor_si256(rg, bias),
                    _mm256_xor_si256(_mm256_and_si256(ba, _mm256_set1_epi32(0xFFFF)), bias),
                    transparent};
        } else {
            const __m256i raw = pixelBytes(layout) == 3
                                    ? _mm256_loadu2_m128i(at(8), at(0))
                                    : _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in));
            __m256i transparent = _mm256_setzero_si256();
            if constexpr (hasAlpha(layout)) {
                static_assert(alphaByte(layout) == 3, "alpha in each lane's top byte");
                transparent = _mm256_and_si256(
                    _mm256_cmpeq_epi32(
                        _mm256_and_si256(raw, _mm256_set1_epi32(static_cast<int>(0xFF000000u))),
                        _mm256_setzero_si256()),
                    constants.transparentKeys);
            }
            return {_mm256_shuffle_epi8(raw, constants.rgOrder),
                    _mm256_shuffle_epi8(raw, constants.bOrder), transparent};
        }
    }

    // A grey's luma sum: the three weights add up to weightScale.
    PIXFOLD_AVX2 static __m256i weighGrey(const Pairs& pixels) {
        return _mm256_madd_epi16(pixels.b, _mm256_set1_epi32(coefficientPair(weightScale, 0)));
    }

    template <PixelLayout layout>
    PIXFOLD_AVX2 static __m256i weigh(const Pairs& pixels, const Weights& weights) {
        return _mm256_add_epi32(
            _mm256_madd_epi16(pixels.rg, _mm256_set1_epi32(redGreenCoefficients(weights))),
            _mm256_madd_epi16(pixels.b, _mm256_set1_epi32(blueCoefficients(weights, layout))));
    }

    PIXFOLD_AVX2 static __m256i estimate(__m256i sum, float scale, float bias) {
        return _mm256_cvttps_epi32(
            _mm256_fmadd_ps(_mm256_cvtepi32_ps(sum), _mm256_set1_ps(scale), _mm256_set1_ps(bias)));
    }

    // A flag where any of the three estimates has its low 16 bits in the guard
    // band, below 2 estimateGuard. The high halves hold codes, never below 16,
    // so all 16-bit halves may be compared: lane i's flag is bit 4i of the
    // byte mask (its low half's first byte).
    static constexpr std::uint32_t flagStride = 4;

    PIXFOLD_AVX2 static std::uint32_t nearBoundary(__m256i y, __m256i cr, __m256i cb) {
        const __m256i lowest = _mm256_min_epu16(y, _mm256_min_epu16(cr, cb));
        const __m256i inBand = _mm256_cmpeq_epi16(
            _mm256_min_epu16(lowest, _mm256_set1_epi16(2 * estimateGuard - 1)), lowest);
        return static_cast<std::uint32_t>(_mm256_movemask_epi8(inBand));
    }

    // cr's code in the low half of each lane, cb's in the high: bits 16-23 of
    // each estimate (cb's are there already, as estimates stay below 2^24),
    // plus one below 128, as truncation toward zero rounds a negative
    // difference up.
    PIXFOLD_AVX2 static __m256i differenceCodes(__m256i cr, __m256i cb,
                                                const Constants& constants) {
        const __m256i codes = _mm256_blend_epi16(_mm256_srli_epi32(cr, 16), cb, 0xAA);
        return _mm256_sub_epi16(codes, _mm256_cmpgt_epi16(constants.negativeBelow, codes));
    }

    PIXFOLD_AVX2 static __m256i keyBytes(const Pairs& pixels, const Constants& constants) {
        const __m256i matches =
            _mm256_or_si256(_mm256_and_si256(_mm256_cmpeq_epi32(pixels.rg, constants.keyRg),
                                             _mm256_cmpeq_epi32(pixels.b, constants.keyB)),
                            pixels.transparent);
        return _mm256_blendv_epi8(constants.noMatchKey, constants.matchKey, matches);
    }

    // Bytes y, cr, cb, 0 in memory: the 8-8-8 word most significant byte first.
    PIXFOLD_AVX2 static void store888(std::uint8_t* out, __m256i yFixed, __m256i differences) {
        const __m256i toBytes1And2 =
            _mm256_setr_epi8(-1, 0, 2, -1, -1, 4, 6, -1, -1, 8, 10, -1, -1, 12, 14, -1, -1, 0, 2,
                             -1, -1, 4, 6, -1, -1, 8, 10, -1, -1, 12, 14, -1);
        const __m256i words = _mm256_or_si256(_mm256_srli_epi32(yFixed, 16),
                                              _mm256_shuffle_epi8(differences, toBytes1And2));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out), words);
    }

    // The 6-5-5 value in the low half of each lane: y's top 6 bits (bits
    // 18-23 of its estimate) shifted to bits 10-15, and one multiply-add of
    // pairs for (cr >> 3) * 32 + (cb >> 3).
    PIXFOLD_AVX2 static __m256i value655(__m256i yFixed, __m256i differences) {
        const __m256i luma =
            _mm256_and_si256(_mm256_srli_epi32(yFixed, 8), _mm256_set1_epi32(0xFC00));
        const __m256i chroma = _mm256_madd_epi16(_mm256_srli_epi16(differences, 3),
                                                 _mm256_set1_epi32(coefficientPair(32, 1)));
        return _mm256_or_si256(luma, chroma);
    }

    // Each value's two bytes, swapped, gathered into the low 8 bytes of each
    // 128-bit half; a qword permute joins the halves.
    PIXFOLD_AVX2 static void store655(std::uint8_t* out, __m256i value) {
        const __m256i gather =
            _mm256_setr_epi8(1, 0, 5, 4, 9, 8, 13, 12, -1, -1, -1, -1, -1, -1, -1, -1, 1, 0, 5, 4,
                             9, 8, 13, 12, -1, -1, -1, -1, -1, -1, -1, -1);
        const __m256i packed = _mm256_permute4x64_epi64(_mm256_shuffle_epi8(value, gather), 0x08);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm256_castsi256_si128(packed));
    }

    // The value's bytes swapped into bytes 0 and 1 of each lane, the key's
    // record bytes in 2 and 3.
    PIXFOLD_AVX2 static void store655Z(std::uint8_t* out, __m256i value, __m256i keyBytes) {
        const __m256i toBytes0And1 =
            _mm256_setr_epi8(1, 0, -1, -1, 5, 4, -1, -1, 9, 8, -1, -1, 13, 12, -1, -1, 1, 0, -1, -1,
                             5, 4, -1, -1, 9, 8, -1, -1, 13, 12, -1, -1);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out),
                            _mm256_or_si256(_mm256_shuffle_epi8(value, toBytes0And1), keyBytes));
    }

    PIXFOLD_AVX2 static void storeAlpha(std::uint8_t* out, __m256i keyBytes) {
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out), keyBytes);
    }

    // The loop, compiled for this instruction set (vector_loop.inc).
    template <OutputFormat format, PixelLayout layout>
    PIXFOLD_AVX2 static void encode(const std::uint8_t* pixels, std::size_t pixelCount,
                                    const EncodePlan& plan, std::uint8_t* records,
                                    std::uint8_t* alpha);

    template <OutputFormat format, PixelLayout layout>
    PIXFOLD_AVX2 static void steps(const std::uint8_t* pixels, std::size_t last,
                                   std::size_t pixelCount, const Constants& constants,
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
