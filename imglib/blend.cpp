// Fixed-point inner loops of the resampler, plain, with SSE2 and with AVX2.
//
// Weights are int16 with kWeightBits fractional bits and pixels 8-bit, so every product fits
// in 32 bits.  SSE2's pmaddwd multiplies eight int16 pairs and adds neighbours into four int32
// sums: the vertical pass feeds it two rows at once (a byte of one row next to the same byte of
// the next), the horizontal pass two neighbouring pixels at once.  Rounding is a half added
// before the final shift; the clamp comes last.
#include "imglib/blend.h"

#include <algorithm>
#include <atomic>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#include <immintrin.h>
#endif

namespace imglib::blend {
namespace {

constexpr int kFixedShift = kWeightBits - kExtraBits;  // vertical sums to the int16 row
constexpr int kFinalShift = kWeightBits + kExtraBits;  // horizontal sums to bytes

constexpr std::int32_t half(int shift)
{
    return std::int32_t{1} << (shift - 1);
}

inline std::uint8_t toByte(std::int32_t sum, int shift)
{
    return static_cast<std::uint8_t>(std::clamp(sum >> shift, 0, 255));
}

inline std::int16_t toFixed(std::int32_t sum)
{
    return static_cast<std::int16_t>(std::clamp(sum >> kFixedShift, -32768, 32767));
}

}  // namespace

// ---- Plain ----------------------------------------------------------------------------------

namespace plain {
namespace {

template <typename Store>
void rows(const std::uint8_t *const *rows, const std::int16_t *weights, int count, std::size_t from, std::size_t bytes,
          std::int32_t rounding, Store store)
{
    for (std::size_t i = from; i < bytes; ++i) {
        std::int32_t sum = rounding;
        for (int k = 0; k < count; ++k)
            sum += weights[k] * rows[k][i];
        store(i, sum);
    }
}

}  // namespace

void rowsToBytes(const std::uint8_t *const *r, const std::int16_t *weights, int count, std::size_t bytes,
                 std::uint8_t *out)
{
    rows(r, weights, count, 0, bytes, half(kWeightBits),
         [out](std::size_t i, std::int32_t sum) { out[i] = toByte(sum, kWeightBits); });
}

void rowsToFixed(const std::uint8_t *const *r, const std::int16_t *weights, int count, std::size_t bytes,
                 std::int16_t *out)
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

}  // namespace plain

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
    return _mm_set1_epi32(
        static_cast<std::int32_t>(static_cast<std::uint16_t>(first)) |
        static_cast<std::int32_t>(static_cast<std::uint32_t>(static_cast<std::uint16_t>(second)) << 16));
}

// Sums of 16 bytes from each of `count` rows, in four registers of four int32 each.
inline void sum16(const std::uint8_t *const *rows, const std::int16_t *weights, int count, std::size_t i,
                  __m128i rounding, __m128i s[4])
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

}  // namespace

void rowsToBytes(const std::uint8_t *const *rows, const std::int16_t *weights, int count, std::size_t bytes,
                 std::uint8_t *out)
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
                                                            const std::int16_t *weights, int count, std::size_t bytes,
                                                            std::int16_t *out)
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

// The weights at w[0] and w[1] side by side in each 32-bit lane, as adjacentWeights(), in both
// 128-bit lanes.
__attribute__((target("avx2"))) inline __m256i adjacentWeights256(const std::int16_t *w)
{
    std::int32_t both;
    std::memcpy(&both, w, sizeof both);
    return _mm256_set1_epi32(both);
}

// 16 bytes at `low` in the low lane, 16 at `high` in the high one.
__attribute__((target("avx2"))) inline __m256i loadLanes(const std::int16_t *low, const std::int16_t *high)
{
    return _mm256_loadu2_m128i(reinterpret_cast<const __m128i *>(high), reinterpret_cast<const __m128i *>(low));
}

// The horizontal pass with AVX2: two output pixels at once, one in each 128-bit lane.  AVX2's
// shuffles and multiply-adds stay within their lane, so each lane does what the SSE2 loop does
// for one pixel, from its own window and weights, and nothing crosses lanes until the store.
// A lane's 16-byte load brings B G R of two neighbouring pixels (and part of a third), and one
// byte shuffle pairs their B, G and R as pmaddwd wants them, where SSE2 needs two loads and an
// unpack.  Both pixels take as many taps as the longer of the two: the shorter one's extra
// weights are the zeros that pad each pixel's weights up to `stride`.
// The loads read up to two pixels past a window, and each pixel is stored as four bytes, the
// fourth being overwritten by the next pixel; so this stops before a pair whose windows come
// within two pixels of the row's end, or that holds the last output pixel.  Returns how many
// output pixels it did; the caller does the rest.
__attribute__((target("avx2"))) int columnsToBytesAvx2(const std::int16_t *in, const AxisWeights &w, std::uint8_t *out)
{
    // B0 G0 R0 B1 G1 R1 B2 G2 (int16) to B0 B1 G0 G1 R0 R1 0 0, in each lane.
    const __m256i pairChannels = _mm256_setr_epi8(0, 1, 6, 7, 2, 3, 8, 9, 4, 5, 10, 11, -1, -1, -1, -1, 0, 1, 6, 7, 2,
                                                  3, 8, 9, 4, 5, 10, 11, -1, -1, -1, -1);
    const __m256i rounding = _mm256_set1_epi32(half(kFinalShift));
    // Read once here: the stores through `out` could alias them, as far as the compiler knows.
    const int *first = w.first.data();
    const int *count = w.count.data();
    const std::int16_t *taps = w.taps.data();
    const std::size_t stride = static_cast<std::size_t>(w.stride);
    const int inSize = w.inSize;
    const int outSize = w.outSize;
    int o = 0;
    for (; o + 2 < outSize; o += 2) {
        const int n = std::max(count[o], count[o + 1]);
        if (std::max(first[o], first[o + 1]) + n + 2 > inSize)
            break;
        const std::int16_t *p0 = in + static_cast<std::size_t>(first[o]) * 3;
        const std::int16_t *p1 = in + static_cast<std::size_t>(first[o + 1]) * 3;
        const std::int16_t *k0 = taps + static_cast<std::size_t>(o) * stride;
        const std::int16_t *k1 = k0 + stride;
        __m256i sum = rounding;
        int i = 0;
        for (; i + 1 < n; i += 2) {
            const __m256i weights = _mm256_blend_epi32(adjacentWeights256(k0 + i), adjacentWeights256(k1 + i), 0xF0);
            const __m256i pixels = _mm256_shuffle_epi8(loadLanes(p0 + 3 * i, p1 + 3 * i), pairChannels);
            sum = _mm256_add_epi32(sum, _mm256_madd_epi16(pixels, weights));
        }
        if (i < n) {  // the odd tap out, paired with a weight of zero
            const __m256i weights = _mm256_set_m128i(weightPair(k1[i], 0), weightPair(k0[i], 0));
            const __m256i pixels = _mm256_shuffle_epi8(loadLanes(p0 + 3 * i, p1 + 3 * i), pairChannels);
            sum = _mm256_add_epi32(sum, _mm256_madd_epi16(pixels, weights));
        }
        const __m256i words = _mm256_packs_epi32(_mm256_srai_epi32(sum, kFinalShift), _mm256_setzero_si256());
        const __m256i bytes = _mm256_packus_epi16(words, words);
        const auto left = static_cast<std::uint32_t>(_mm_cvtsi128_si32(_mm256_castsi256_si128(bytes)));
        const auto right = static_cast<std::uint32_t>(_mm_cvtsi128_si32(_mm256_extracti128_si256(bytes, 1)));
        std::memcpy(out + 3 * o, &left, sizeof left);
        std::memcpy(out + 3 * o + 3, &right, sizeof right);
    }
    return o;
}

// Whether the processor has AVX2 is asked once, when the library is loaded; its features are
// read first, as a static initializer may run before the compiler's own runtime has read them.
const bool cpuHasAvx2 = (__builtin_cpu_init(), __builtin_cpu_supports("avx2"));
std::atomic<bool> avx2Allowed{true};

bool hasAvx2()
{
    return cpuHasAvx2 && avx2Allowed.load(std::memory_order_relaxed);
}

}  // namespace

bool useAvx2(bool allowed)
{
    avx2Allowed.store(allowed, std::memory_order_relaxed);
    return allowed && hasAvx2();
}

#else

bool useAvx2(bool)
{
    return false;
}

#endif

void rowsToFixed(const std::uint8_t *const *rows, const std::int16_t *weights, int count, std::size_t bytes,
                 std::int16_t *out)
{
    const __m128i rounding = _mm_set1_epi32(half(kFixedShift));
    std::size_t i = 0;
#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
    if (hasAvx2())
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
    int o = 0;
#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
    if (hasAvx2())
        o = columnsToBytesAvx2(in, w, out);
#endif
    for (; o < w.outSize; ++o) {
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

void rowsToBytes(const std::uint8_t *const *rows, const std::int16_t *weights, int count, std::size_t bytes,
                 std::uint8_t *out)
{
    plain::rowsToBytes(rows, weights, count, bytes, out);
}

void rowsToFixed(const std::uint8_t *const *rows, const std::int16_t *weights, int count, std::size_t bytes,
                 std::int16_t *out)
{
    plain::rowsToFixed(rows, weights, count, bytes, out);
}

void columnsToBytes(const std::int16_t *in, const AxisWeights &w, std::uint8_t *out)
{
    plain::columnsToBytes(in, w, out);
}

bool useAvx2(bool)
{
    return false;
}

#endif

}  // namespace imglib::blend
