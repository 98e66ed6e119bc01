// The AVX2 pixel loop, 8 pixels a step:
//
//   24 bytes  r g b r g b ...   one load, vpermd: 4 pixels in each 128-bit half
//      | vpshufb                (r, g) and (b, 0) as 16-bit pairs in 32-bit lanes
//      | vpmaddwd, vpaddd       the exact sums L = 299 r + 587 g + 114 b, and the two D
//      | vcvtdq2ps, vfmadd      16.16 fixed-point code estimates (colour/convert.h)
//      | vcvttps2dq, shifts     codes, and a flag where the estimate is near a boundary
//      | shifts, vpor, vpshufb  the format's records, most significant byte first
//
// Flagged pixels (about 3 in 10,000) are then redone exactly, one by one.
#include "encode/pixel_store.h"

#if (defined(__GNUC__) || defined(__clang__)) && (defined(__x86_64__) || defined(__i386__))

#include <immintrin.h>

#include <algorithm>

#define PIXFOLD_AVX2 __attribute__((target("avx2,fma")))

namespace pixfold {

namespace {

// Two 16-bit coefficients for vpmaddwd: low multiplies the pair's first
// sample, high the second.
constexpr std::int32_t coefficientPair(std::int32_t low, std::int32_t high) {
    return static_cast<std::int32_t>((static_cast<std::uint32_t>(high) << 16) |
                                     (static_cast<std::uint32_t>(low) & 0xFFFFu));
}

struct Avx2Sums {
    __m256i luma;
    __m256i red;
    __m256i blue;
};

PIXFOLD_AVX2 inline __m256i weigh(__m256i rg, __m256i b, std::int32_t rCoefficient,
                                  std::int32_t gCoefficient, std::int32_t bCoefficient) {
    return _mm256_add_epi32(
        _mm256_madd_epi16(rg, _mm256_set1_epi32(coefficientPair(rCoefficient, gCoefficient))),
        _mm256_madd_epi16(b, _mm256_set1_epi32(coefficientPair(bCoefficient, 0))));
}

PIXFOLD_AVX2 inline __m256i estimate(__m256i sum, float scale, float bias) {
    return _mm256_cvttps_epi32(
        _mm256_fmadd_ps(_mm256_cvtepi32_ps(sum), _mm256_set1_ps(scale), _mm256_set1_ps(bias)));
}

// A bit for each of the 8 lanes where any of the three estimates is within
// estimateGuard of a code boundary. Only the low 16 bits of each lane matter,
// so 16-bit arithmetic serves: the guard added to the low half, the smallest
// of the three low halves, compared (unsigned) with the band's width.
PIXFOLD_AVX2 inline std::uint32_t nearBoundary(__m256i y, __m256i cr, __m256i cb) {
    const __m256i guard = _mm256_set1_epi32(estimateGuard);
    const __m256i lowest =
        _mm256_min_epu16(_mm256_add_epi16(y, guard), _mm256_min_epu16(_mm256_add_epi16(cr, guard),
                                                                      _mm256_add_epi16(cb, guard)));
    const __m256i inBand = _mm256_cmpeq_epi16(
        _mm256_min_epu16(lowest, _mm256_set1_epi32(2 * estimateGuard - 1)), lowest);
    // The low half's answer into the sign bit of each lane.
    return static_cast<std::uint32_t>(
        _mm256_movemask_ps(_mm256_castsi256_ps(_mm256_slli_epi32(inBand, 16))));
}

// A colour-difference code: truncation toward zero rounds negatives up.
PIXFOLD_AVX2 inline __m256i differenceCode(__m256i fixed) {
    return _mm256_sub_epi32(_mm256_srli_epi32(fixed, 16),
                            _mm256_cmpgt_epi32(_mm256_set1_epi32(negativeDifferenceLimit), fixed));
}

PIXFOLD_AVX2 inline __m256i byteSwapLanes(__m256i words) {
    const __m256i order = _mm256_setr_epi8(3, 2, 1, 0, 7, 6, 5, 4, 11, 10, 9, 8, 15, 14, 13, 12, 3,
                                           2, 1, 0, 7, 6, 5, 4, 11, 10, 9, 8, 15, 14, 13, 12);
    return _mm256_shuffle_epi8(words, order);
}

template <OutputFormat format>
PIXFOLD_AVX2 void encodeAvx2(const std::uint8_t* samples, std::size_t pixelCount,
                             const EncodePlan& plan, std::uint8_t* records, std::uint8_t* alpha) {
    // In each 128-bit half: pixels 0 to 3 at bytes 0 to 11.
    const __m256i rgOrder =
        _mm256_setr_epi8(0, -1, 1, -1, 3, -1, 4, -1, 6, -1, 7, -1, 9, -1, 10, -1, 0, -1, 1, -1, 3,
                         -1, 4, -1, 6, -1, 7, -1, 9, -1, 10, -1);
    const __m256i bOrder =
        _mm256_setr_epi8(2, -1, -1, -1, 5, -1, -1, -1, 8, -1, -1, -1, 11, -1, -1, -1, 2, -1, -1, -1,
                         5, -1, -1, -1, 8, -1, -1, -1, 11, -1, -1, -1);
    const __m256i keyRg = _mm256_set1_epi32(plan.key.red | (plan.key.green << 16));
    const __m256i keyB = _mm256_set1_epi32(plan.key.blue);
    const __m256i matchValue = _mm256_set1_epi32(static_cast<std::int32_t>(plan.key.matchValue));
    const __m256i noMatchValue =
        _mm256_set1_epi32(static_cast<std::int32_t>(plan.key.noMatchValue));
    const EstimateScale scale = plan.estimate;

    // Dwords 0-2 (pixels 0 to 3) to the low half, dwords 3-5 (pixels 4 to 7)
    // to the high half.
    const __m256i halves = _mm256_setr_epi32(0, 1, 2, 2, 3, 4, 5, 5);
    // A step reads 32 bytes: its 8 pixels and 8 bytes of the next, so the
    // last step starts 11 pixels or more before the end.
    const std::size_t vectorEnd = pixelCount < 11 ? 0 : (pixelCount - 11) / 8 * 8 + 8;
    for (std::size_t chunk = 0; chunk < vectorEnd; chunk += chunkGroups * 8) {
        const std::size_t chunkEnd = std::min(vectorEnd, chunk + chunkGroups * 8);
        std::uint32_t flaggedGroups[chunkGroups];
        for (std::size_t i = chunk; i < chunkEnd; i += 8) {
            const std::uint8_t* in = samples + i * 3;
            const __m256i raw = _mm256_permutevar8x32_epi32(
                _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in)), halves);
            const __m256i rg = _mm256_shuffle_epi8(raw, rgOrder);
            const __m256i b = _mm256_shuffle_epi8(raw, bOrder);
            const __m256i yFixed =
                estimate(weigh(rg, b, 299, 587, 114), scale.luma, lumaEstimateBias);
            const __m256i crFixed =
                estimate(weigh(rg, b, 500, -419, -81), scale.difference, differenceEstimateBias);
            const __m256i cbFixed =
                estimate(weigh(rg, b, -169, -331, 500), scale.difference, differenceEstimateBias);
            const std::uint32_t flagged = nearBoundary(yFixed, crFixed, cbFixed);

            const __m256i y = _mm256_srli_epi32(yFixed, 16);
            const __m256i cr = differenceCode(crFixed);
            const __m256i cb = differenceCode(cbFixed);
            __m256i keyValue = noMatchValue;
            if constexpr (isKeyedFormat(format)) {
                const __m256i matches =
                    _mm256_and_si256(_mm256_cmpeq_epi32(rg, keyRg), _mm256_cmpeq_epi32(b, keyB));
                keyValue = _mm256_blendv_epi8(noMatchValue, matchValue, matches);
            }
            if constexpr (usesLayout888(format)) {
                // Bytes y, cr, cb, 0 in memory: the 8-8-8 word most significant byte first.
                const __m256i words = _mm256_or_si256(
                    y, _mm256_or_si256(_mm256_slli_epi32(cr, 8), _mm256_slli_epi32(cb, 16)));
                _mm256_storeu_si256(reinterpret_cast<__m256i*>(records + i * 4), words);
            } else {
                const __m256i value =
                    _mm256_or_si256(_mm256_slli_epi32(_mm256_srli_epi32(y, 2), 10),
                                    _mm256_or_si256(_mm256_slli_epi32(_mm256_srli_epi32(cr, 3), 5),
                                                    _mm256_srli_epi32(cb, 3)));
                if constexpr (format == OutputFormat::e655) {
                    const __m256i swapped = _mm256_or_si256(
                        _mm256_srli_epi32(value, 8),
                        _mm256_slli_epi32(_mm256_and_si256(value, _mm256_set1_epi32(0xFF)), 8));
                    // Each 128-bit half packs its 4 values; qwords 0 and 2 hold all 8.
                    const __m256i packed =
                        _mm256_permute4x64_epi64(_mm256_packus_epi32(swapped, swapped), 0x08);
                    _mm_storeu_si128(reinterpret_cast<__m128i*>(records + i * 2),
                                     _mm256_castsi256_si128(packed));
                } else {
                    const __m256i words =
                        _mm256_or_si256(_mm256_slli_epi32(value, 16),
                                        _mm256_and_si256(keyValue, _mm256_set1_epi32(0xFFFF)));
                    _mm256_storeu_si256(reinterpret_cast<__m256i*>(records + i * 4),
                                        byteSwapLanes(words));
                }
            }
            if constexpr (writesAlphaStream(format)) {
                _mm256_storeu_si256(reinterpret_cast<__m256i*>(alpha + i * 4),
                                    byteSwapLanes(keyValue));
            }
            flaggedGroups[(i - chunk) / 8] = flagged;
        }
        encodeFlaggedGroups<format>(samples, chunk, (chunkEnd - chunk) / 8, 8, flaggedGroups, plan,
                                    records, alpha);
    }
    encodeExactly<format>(samples, vectorEnd, pixelCount, plan, records, alpha);
}

} // namespace

void encodePixelsAvx2(const std::uint8_t* samples, std::size_t pixelCount, const EncodePlan& plan,
                      std::uint8_t* records, std::uint8_t* alpha) {
    withFormat(plan.format, [&](auto format) {
        encodeAvx2<decltype(format)::value>(samples, pixelCount, plan, records, alpha);
    });
}

} // namespace pixfold

#endif
