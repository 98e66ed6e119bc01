// The AVX-512 pixel loop, 16 pixels a step: the AVX2 loop's method
// (encoder_avx2.cpp) with 512-bit registers, a byte permute (VBMI) that splits
// 48 bytes of samples into (r, g) and (b, 0) pairs in one instruction each,
// mask registers for the boundary flags and the key test, and three-input
// logic for the 8-8-8 words.
#include "encode/pixel_store.h"

#if (defined(__GNUC__) || defined(__clang__)) && (defined(__x86_64__) || defined(__i386__))

// GCC 12 takes the deliberately undefined registers inside its own AVX-512
// conversion intrinsics for uninitialised variables.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

#include <immintrin.h>

#include <algorithm>
#include <array>

#define PIXFOLD_AVX512 __attribute__((target("avx512f,avx512bw,avx512vl,avx512vbmi,fma")))

namespace pixfold {

namespace {

// Byte indices of vpermb: lane i takes samples 3i + first and, when pairs is
// set, 3i + first + 1 as two 16-bit values; bytes the keep mask leaves out
// are zero.
constexpr std::array<std::uint8_t, 64> permuteOrder(int first, bool pairs) {
    std::array<std::uint8_t, 64> order{};
    for (int lane = 0; lane < 16; ++lane) {
        order[static_cast<std::size_t>(lane * 4)] = static_cast<std::uint8_t>(lane * 3 + first);
        if (pairs) {
            order[static_cast<std::size_t>(lane * 4 + 2)] =
                static_cast<std::uint8_t>(lane * 3 + first + 1);
        }
    }
    return order;
}

constexpr std::array<std::uint8_t, 64> rgOrder = permuteOrder(0, true);
constexpr std::array<std::uint8_t, 64> bOrder = permuteOrder(2, false);
constexpr __mmask64 rgKeep = 0x5555555555555555u;
constexpr __mmask64 bKeep = 0x1111111111111111u;
constexpr __mmask64 sampleBytes = 0x0000FFFFFFFFFFFFu; // 16 pixels

constexpr std::int32_t coefficientPair(std::int32_t low, std::int32_t high) {
    return static_cast<std::int32_t>((static_cast<std::uint32_t>(high) << 16) |
                                     (static_cast<std::uint32_t>(low) & 0xFFFFu));
}

PIXFOLD_AVX512 inline __m512i weigh(__m512i rg, __m512i b, std::int32_t rCoefficient,
                                    std::int32_t gCoefficient, std::int32_t bCoefficient) {
    return _mm512_add_epi32(
        _mm512_madd_epi16(rg, _mm512_set1_epi32(coefficientPair(rCoefficient, gCoefficient))),
        _mm512_madd_epi16(b, _mm512_set1_epi32(coefficientPair(bCoefficient, 0))));
}

PIXFOLD_AVX512 inline __m512i estimate(__m512i sum, float scale, float bias) {
    return _mm512_cvttps_epi32(
        _mm512_fmadd_ps(_mm512_cvtepi32_ps(sum), _mm512_set1_ps(scale), _mm512_set1_ps(bias)));
}

PIXFOLD_AVX512 inline __mmask16 nearBoundary(__m512i fixed) {
    const __m512i low = _mm512_and_si512(_mm512_add_epi32(fixed, _mm512_set1_epi32(estimateGuard)),
                                         _mm512_set1_epi32(0xFFFF));
    return _mm512_cmplt_epi32_mask(low, _mm512_set1_epi32(2 * estimateGuard));
}

PIXFOLD_AVX512 inline __m512i differenceCode(__m512i fixed) {
    const __m512i code = _mm512_srli_epi32(fixed, 16);
    const __mmask16 negative =
        _mm512_cmplt_epi32_mask(fixed, _mm512_set1_epi32(negativeDifferenceLimit));
    return _mm512_mask_add_epi32(code, negative, code, _mm512_set1_epi32(1));
}

PIXFOLD_AVX512 inline __m512i byteSwapLanes(__m512i words) {
    const __m512i order = _mm512_set4_epi32(0x0C0D0E0F, 0x08090A0B, 0x04050607, 0x00010203);
    return _mm512_shuffle_epi8(words, order);
}

template <OutputFormat format>
PIXFOLD_AVX512 void encodeAvx512(const std::uint8_t* samples, std::size_t pixelCount,
                                 const EncodePlan& plan, std::uint8_t* records,
                                 std::uint8_t* alpha) {
    const __m512i rgIndex = _mm512_loadu_si512(rgOrder.data());
    const __m512i bIndex = _mm512_loadu_si512(bOrder.data());
    const __m512i keyRg = _mm512_set1_epi32(plan.key.red | (plan.key.green << 16));
    const __m512i keyB = _mm512_set1_epi32(plan.key.blue);
    const __m512i matchValue = _mm512_set1_epi32(static_cast<std::int32_t>(plan.key.matchValue));
    const __m512i noMatchValue =
        _mm512_set1_epi32(static_cast<std::int32_t>(plan.key.noMatchValue));
    const EstimateScale scale = plan.estimate;

    const std::size_t vectorEnd = pixelCount - pixelCount % 16;
    for (std::size_t chunk = 0; chunk < vectorEnd; chunk += chunkGroups * 16) {
        const std::size_t chunkEnd = std::min(vectorEnd, chunk + chunkGroups * 16);
        std::uint32_t flaggedGroups[chunkGroups];
        for (std::size_t i = chunk; i < chunkEnd; i += 16) {
            const __m512i raw = _mm512_maskz_loadu_epi8(sampleBytes, samples + i * 3);
            const __m512i rg = _mm512_maskz_permutexvar_epi8(rgKeep, rgIndex, raw);
            const __m512i b = _mm512_maskz_permutexvar_epi8(bKeep, bIndex, raw);
            const __m512i yFixed =
                estimate(weigh(rg, b, 299, 587, 114), scale.luma, lumaEstimateBias);
            const __m512i crFixed =
                estimate(weigh(rg, b, 500, -419, -81), scale.difference, differenceEstimateBias);
            const __m512i cbFixed =
                estimate(weigh(rg, b, -169, -331, 500), scale.difference, differenceEstimateBias);
            const auto flagged = static_cast<std::uint32_t>(
                nearBoundary(yFixed) | nearBoundary(crFixed) | nearBoundary(cbFixed));

            const __m512i y = _mm512_srli_epi32(yFixed, 16);
            const __m512i cr = differenceCode(crFixed);
            const __m512i cb = differenceCode(cbFixed);
            __m512i keyValue = noMatchValue;
            if constexpr (isKeyedFormat(format)) {
                const __mmask16 matches =
                    _mm512_cmpeq_epi32_mask(rg, keyRg) & _mm512_cmpeq_epi32_mask(b, keyB);
                keyValue = _mm512_mask_blend_epi32(matches, noMatchValue, matchValue);
            }
            if constexpr (usesLayout888(format)) {
                // Bytes y, cr, cb, 0 in memory: 0xFE is a | b | c.
                const __m512i words = _mm512_ternarylogic_epi32(y, _mm512_slli_epi32(cr, 8),
                                                                _mm512_slli_epi32(cb, 16), 0xFE);
                _mm512_storeu_si512(records + i * 4, words);
            } else {
                const __m512i value = _mm512_ternarylogic_epi32(
                    _mm512_slli_epi32(_mm512_srli_epi32(y, 2), 10),
                    _mm512_slli_epi32(_mm512_srli_epi32(cr, 3), 5), _mm512_srli_epi32(cb, 3), 0xFE);
                if constexpr (format == OutputFormat::e655) {
                    const __m512i swapped = _mm512_or_si512(
                        _mm512_srli_epi32(value, 8),
                        _mm512_slli_epi32(_mm512_and_si512(value, _mm512_set1_epi32(0xFF)), 8));
                    _mm256_storeu_si256(reinterpret_cast<__m256i*>(records + i * 2),
                                        _mm512_cvtepi32_epi16(swapped));
                } else {
                    const __m512i words =
                        _mm512_or_si512(_mm512_slli_epi32(value, 16),
                                        _mm512_and_si512(keyValue, _mm512_set1_epi32(0xFFFF)));
                    _mm512_storeu_si512(records + i * 4, byteSwapLanes(words));
                }
            }
            if constexpr (writesAlphaStream(format)) {
                _mm512_storeu_si512(alpha + i * 4, byteSwapLanes(keyValue));
            }
            flaggedGroups[(i - chunk) / 16] = flagged;
        }
        encodeFlaggedGroups<format>(samples, chunk, (chunkEnd - chunk) / 16, 16, flaggedGroups,
                                    plan, records, alpha);
    }
    encodeExactly<format>(samples, vectorEnd, pixelCount, plan, records, alpha);
}

} // namespace

void encodePixelsAvx512(const std::uint8_t* samples, std::size_t pixelCount, const EncodePlan& plan,
                        std::uint8_t* records, std::uint8_t* alpha) {
    withFormat(plan.format, [&](auto format) {
        encodeAvx512<decltype(format)::value>(samples, pixelCount, plan, records, alpha);
    });
}

} // namespace pixfold

#endif
