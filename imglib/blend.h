// The resampler's inner loops: weighted sums of rows (vertical pass) and of neighbouring
// pixels within a row (horizontal pass), in fixed point.
#pragma once

#include "imglib/resample.h"

#include <cstddef>
#include <cstdint>
#include <limits>

namespace imglib::blend {

// Between the two passes pixels are kept as int16 with this many extra fractional bits, so the
// image is rounded once, at the end, instead of after each pass.  255 << 6 plus the filters'
// overshoot stays well inside int16.
inline constexpr int kExtraBits = 6;
static_assert(2 * (255 << kExtraBits) <= std::numeric_limits<std::int16_t>::max(),
              "a blended row must hold twice a byte's range in an int16");
// The vertical pass shifts its sums right by kWeightBits - kExtraBits.
static_assert(kExtraBits < kWeightBits, "the vertical pass must shift its sums right");

// out[i] = sum over k of weights[k] * rows[k][i], for i < bytes, rounded and clamped to a byte.
void rowsToBytes(const std::uint8_t *const *rows, const std::int16_t *weights, int count, std::size_t bytes,
                 std::uint8_t *out);

// The same sums kept with kExtraBits more bits, for the horizontal pass.
void rowsToFixed(const std::uint8_t *const *rows, const std::int16_t *weights, int count, std::size_t bytes,
                 std::int16_t *out);

// The horizontal pass reads a pixel as four int16, its B, G and R and the next pixel's B, so a
// row handed to it has this many readable values after its last pixel.
inline constexpr std::size_t kSpareValues = 1;

// One row of the horizontal pass: BGR pixels of a rowsToFixed() row, weighted by `w`, to
// BGR bytes.  `in` must have kSpareValues readable int16 after its last pixel.
void columnsToBytes(const std::int16_t *in, const AxisWeights &w, std::uint8_t *out);

// The straightforward versions of the same loops.  The functions above use vector
// instructions where the processor has them and give exactly the same results.
namespace plain {
void rowsToBytes(const std::uint8_t *const *rows, const std::int16_t *weights, int count, std::size_t bytes,
                 std::uint8_t *out);
void rowsToFixed(const std::uint8_t *const *rows, const std::int16_t *weights, int count, std::size_t bytes,
                 std::int16_t *out);
void columnsToBytes(const std::int16_t *in, const AxisWeights &w, std::uint8_t *out);
}  // namespace plain

// Whether the functions above may use AVX2 where the processor has it, which they do unless
// told otherwise: the tests turn it off to check the SSE2 loops on a processor with AVX2.
// Returns whether AVX2 is used from now on.
bool useAvx2(bool allowed);

}  // namespace imglib::blend
