// Fixed-point inner loops of the resampler, plain and with SSE2.
//
// Weights are int16 with kWeightBits fractional bits and pixels 8-bit, so every product fits
// in 32 bits.  SSE2's pmaddwd multiplies eight int16 pairs and adds neighbours into four int32
// sums: the vertical pass feeds it two rows at once (a byte of one row next to the same byte of
// the next), the horizontal pass two neighbouring pixels at once.  Rounding is a half added
// before the final shift; the clamp comes last.
#include "blend.h"

#include <algorithm>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#include <immintrin.h>
#endif

namespace imglib::blend {
namespace {

constexpr int kFixedShift = kWeightBits - kExtraBits;  // vertical sums to the int16 row
constexpr int kFinalShift = kWeightBits + kExtraBits;  // horizontal sums to bytes

constexpr std::int32_t half(int shift) { return std::int32_t{1} << (shift - 1); }

inline std::uint8_t toByte(std::int32_t sum, int shift)
{
    return static_cast<std::uint8_t>(std::clamp(sum >> shift, 0, 255));
}

inline std::int16_t toFixed(std::int32_t sum)
{
    return static_cast<std::int16_t>(std::clamp(sum >> kFixedShift, -32768, 32767));
}

} // namespace

// ---- Plain ----------------------------------------------------------------------------------

namespace plain {
namespace {

template <typename Store>
void rows(const std::uint8_t *const *rows, const std::int16_t *weights, int count,
          std::size_t from, std::size_t bytes, std::int32_t rounding, Store store)
{
    for (std::size_t i = from; i < bytes; ++i) {
        std::int32_t sum = rounding;
        for (int k = 0; k < count; ++k)
            sum += weights[k] * rows[k][i];
        store(i, sum);
    }
}

} // namespace

void rowsToBytes(const std::uint8_t *const *r, const std::int16_t *weights, int count,
                 std::size_t bytes, std::uint8_t *out)
{
    rows(r, weights, count, 0, bytes, half(kWeightBits),
         [out](std::size_t i, std::int32_t sum) { out[i] = toByte(sum, kWeightBits); });
}

void rowsToFixed(const std::uint8_t *const *r, const std::int16_t *weights, int count,
                 std::size_t bytes, std::int16_t *out)
{
    rows(r, weights, count, 0, bytes, half(kFixedShift),
         [out](std::size_t i, std::int32_t sum) { out[i] = toFixed(sum); });
}

void columnsToBytes(const std::int16_t *in, const AxisWeights &w, std::uint8_t *out)
{
    for (int o = 0; o < w.outSize; ++o) {
        const std::int16_t *p = in + static_cast<std::size_t>(w.first[o]) * 3;
        const std::int16_t *k = w.weightsOf(o);
        std::int32_t b = half(kFinalShift), g = b, r = b;
        for (int i = 0; i < w.count[o]; ++i) {
            b += k[i] * p[3 * i];
            g += k[i] * p[3 * i + 1];
            r += k[i] * p[3 * i + 2];
        }
        out[3 * o] = toByte(b, kFinalShift);
        out[3 * o + 1] = toByte(g, kFinalShift);
        out[3 * o + 2] = toByte(r, kFinalShift);
    }
}

} // namespace plain

// ---- SSE2 -----------------------------------------------------------------------------------

#if defined(__SSE2__)
namespace {

// The weights at w[0] and w[1] side by side in each 32-bit lane, as pmaddwd pairs them: one
// 32-bit load, since they lie side by side in memory already.
inline __m128i adjacentWeights(const std::int16_t *w)
{
    std::int32_t both;
    std::memcpy(&both, w, sizeof both);
    return _mm_set1_epi32(both);
}

// Two int16 weights side by side in each 32-bit lane, as pmaddwd pairs them.
inline __m128i weightPair(std::int16_t first, std::int16_t second)
{
    return _mm_set1_epi32(static_cast<std::int32_t>(static_cast<std::uint16_t>(first)) |
                          static_cast<std::int32_t>(static_cast<std::uint32_t>(static_cast<std::uint16_t>(second)) << 16));
}

// Sums of 16 bytes from each of `count` rows, in four registers of four int32 each.
inline void sum16(const std::uint8_t *const *rows, const std::int16_t *weights, int count,
                  std::size_t i, __m128i rounding, __m128i s[4])
{
    const __m128i zero = _mm_setzero_si128();
    s[0] = s[1] = s[2] = s[3] = rounding;
    int k = 0;
    for (; k + 1 < count; k += 2) {
        const __m128i w = adjacentWeights(weights + k);
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i *>(rows[k] + i));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i *>(rows[k + 1] + i));
        const __m128i lo = _mm_unpacklo_epi8(a, b);  // a0 b0 a1 b1 ... a7 b7
        const __m128i hi = _mm_unpackhi_epi8(a, b);
        s[0] = _mm_add_epi32(s[0], _mm_madd_epi16(_mm_unpacklo_epi8(lo, zero), w));
        s[1] = _mm_add_epi32(s[1], _mm_madd_epi16(_mm_unpackhi_epi8(lo, zero), w));
        s[2] = _mm_add_epi32(s[2], _mm_madd_epi16(_mm_unpacklo_epi8(hi, zero), w));
        s[3] = _mm_add_epi32(s[3], _mm_madd_epi16(_mm_unpackhi_epi8(hi, zero), w));
    }
    if (k < count) {  // the odd row out, paired with nothing
        const __m128i w = weightPair(weights[k], 0);
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i *>(rows[k] + i));
        const __m128i lo = _mm_unpacklo_epi8(a, zero);
        const __m128i hi = _mm_unpackhi_epi8(a, zero);
        s[0] = _mm_add_epi32(s[0], _mm_madd_epi16(_mm_unpacklo_epi16(lo, zero), w));
        s[1] = _mm_add_epi32(s[1], _mm_madd_epi16(_mm_unpackhi_epi16(lo, zero), w));
        s[2] = _mm_add_epi32(s[2], _mm_madd_epi16(_mm_unpacklo_epi16(hi, zero), w));
        s[3] = _mm_add_epi32(s[3], _mm_madd_epi16(_mm_unpackhi_epi16(hi, zero), w));
    }
}

} // namespace

void rowsToBytes(const std::uint8_t *const *rows, const std::int16_t *weights, int count,
                 std::size_t bytes, std::uint8_t *out)
{
    const __m128i rounding = _mm_set1_epi32(half(kWeightBits));
    std::size_t i = 0;
    for (; i + 16 <= bytes; i += 16) {
        __m128i s[4];
        sum16(rows, weights, count, i, rounding, s);
        const __m128i lo = _mm_packs_epi32(_mm_srai_epi32(s[0], kWeightBits), _mm_srai_epi32(s[1], kWeightBits));
        const __m128i hi = _mm_packs_epi32(_mm_srai_epi32(s[2], kWeightBits), _mm_srai_epi32(s[3], kWeightBits));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(out + i), _mm_packus_epi16(lo, hi));
    }
    plain::rows(rows, weights, count, i, bytes, half(kWeightBits),
                [out](std::size_t j, std::int32_t sum) { out[j] = toByte(sum, kWeightBits); });
}

#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
namespace {

// The vertical pass with AVX2, where the processor has it: 16 bytes of two rows widened to
// int16 at once, so that each pair of rows costs two multiply-adds instead of four.  The lanes
// come out of the pack in pixel order: the low one holds bytes 0-7, the high one 8-15.
// Returns how many bytes it did; the caller does the rest.
__attribute__((target("avx2"))) std::size_t rowsToFixedAvx2(const std::uint8_t *const *rows,
                                                            const std::int16_t *weights, int count,
                                                            std::size_t bytes, std::int16_t *out)
{
    const __m256i rounding = _mm256_set1_epi32(half(kFixedShift));
    const __m256i zero = _mm256_setzero_si256();
    std::size_t i = 0;
    for (; i + 16 <= bytes; i += 16) {
        __m256i lo = rounding;  // bytes 0-3 and 8-11
        __m256i hi = rounding;  // bytes 4-7 and 12-15
        int k = 0;
        for (; k + 1 < count; k += 2) {
            std::int32_t both;
            std::memcpy(&both, weights + k, sizeof both);
            const __m256i w = _mm256_set1_epi32(both);
            const __m256i a = _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i *>(rows[k] + i)));
            const __m256i b = _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i *>(rows[k + 1] + i)));
            lo = _mm256_add_epi32(lo, _mm256_madd_epi16(_mm256_unpacklo_epi16(a, b), w));
            hi = _mm256_add_epi32(hi, _mm256_madd_epi16(_mm256_unpackhi_epi16(a, b), w));
        }
        if (k < count) {  // the odd row out, paired with nothing
            const __m256i w = _mm256_set1_epi32(static_cast<std::uint16_t>(weights[k]));
            const __m256i a = _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i *>(rows[k] + i)));
            lo = _mm256_add_epi32(lo, _mm256_madd_epi16(_mm256_unpacklo_epi16(a, zero), w));
            hi = _mm256_add_epi32(hi, _mm256_madd_epi16(_mm256_unpackhi_epi16(a, zero), w));
        }
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(out + i),
                            _mm256_packs_epi32(_mm256_srai_epi32(lo, kFixedShift), _mm256_srai_epi32(hi, kFixedShift)));
    }
    return i;
}

// Asked once, when the library is loaded; the processor's features are read first, as a
// static initializer may run before the compiler's own runtime has read them.
const bool hasAvx2 = (__builtin_cpu_init(), __builtin_cpu_supports("avx2"));

} // namespace
#endif

void rowsToFixed(const std::uint8_t *const *rows, const std::int16_t *weights, int count,
                 std::size_t bytes, std::int16_t *out)
{
    const __m128i rounding = _mm_set1_epi32(half(kFixedShift));
    std::size_t i = 0;
#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
    if (hasAvx2)
        i = rowsToFixedAvx2(rows, weights, count, bytes, out);
#endif
    for (; i + 16 <= bytes; i += 16) {
        __m128i s[4];
        sum16(rows, weights, count, i, rounding, s);
        _mm_storeu_si128(reinterpret_cast<__m128i *>(out + i),
                         _mm_packs_epi32(_mm_srai_epi32(s[0], kFixedShift), _mm_srai_epi32(s[1], kFixedShift)));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(out + i + 8),
                         _mm_packs_epi32(_mm_srai_epi32(s[2], kFixedShift), _mm_srai_epi32(s[3], kFixedShift)));
    }
    plain::rows(rows, weights, count, i, bytes, half(kFixedShift),
                [out](std::size_t j, std::int32_t sum) { out[j] = toFixed(sum); });
}

void columnsToBytes(const std::int16_t *in, const AxisWeights &w, std::uint8_t *out)
{
    const __m128i rounding = _mm_set1_epi32(half(kFinalShift));
    for (int o = 0; o < w.outSize; ++o) {
        // One pixel is B, G, R and the next pixel's B, loaded as four int16; the fourth lane
        // is computed and thrown away.
        const std::int16_t *p = in + static_cast<std::size_t>(w.first[o]) * 3;
        const std::int16_t *k = w.weightsOf(o);
        const int n = w.count[o];
        __m128i sum = rounding;
        int i = 0;
        for (; i + 1 < n; i += 2) {
            const __m128i a = _mm_loadl_epi64(reinterpret_cast<const __m128i *>(p + 3 * i));
            const __m128i b = _mm_loadl_epi64(reinterpret_cast<const __m128i *>(p + 3 * i + 3));
            sum = _mm_add_epi32(sum, _mm_madd_epi16(_mm_unpacklo_epi16(a, b), adjacentWeights(k + i)));
        }
        if (i < n) {
            const __m128i a = _mm_loadl_epi64(reinterpret_cast<const __m128i *>(p + 3 * i));
            sum = _mm_add_epi32(sum, _mm_madd_epi16(_mm_unpacklo_epi16(a, _mm_setzero_si128()), weightPair(k[i], 0)));
        }
        const __m128i words = _mm_packs_epi32(_mm_srai_epi32(sum, kFinalShift), _mm_setzero_si128());
        const auto bgr = static_cast<std::uint32_t>(_mm_cvtsi128_si32(_mm_packus_epi16(words, words)));
        out[3 * o] = static_cast<std::uint8_t>(bgr);
        out[3 * o + 1] = static_cast<std::uint8_t>(bgr >> 8);
        out[3 * o + 2] = static_cast<std::uint8_t>(bgr >> 16);
    }
}

#else

void rowsToBytes(const std::uint8_t *const *rows, const std::int16_t *weights, int count,
                 std::size_t bytes, std::uint8_t *out)
{
    plain::rowsToBytes(rows, weights, count, bytes, out);
}

void rowsToFixed(const std::uint8_t *const *rows, const std::int16_t *weights, int count,
                 std::size_t bytes, std::int16_t *out)
{
    plain::rowsToFixed(rows, weights, count, bytes, out);
}

void columnsToBytes(const std::int16_t *in, const AxisWeights &w, std::uint8_t *out)
{
    plain::columnsToBytes(in, w, out);
}

#endif

} // namespace imglib::blend
