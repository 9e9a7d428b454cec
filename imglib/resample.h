// High-quality image scaling: separable filters with weights computed once per output line.
#pragma once

#include "image.h"

#include <cstdint>
#include <memory>
#include <vector>

namespace imglib {

// Weights are fixed point with this many fractional bits: 1.0 is 1 << 14.  Products of an
// 8-bit pixel and a weight stay well inside 32 bits even summed over the 60-odd taps of a 10 %
// reduction, and int16 weights let the compiler use 16-bit multiplies.
inline constexpr int kWeightBits = 14;

// For each output pixel along one axis: the first input pixel it reads, how many, and their
// weights, which add up to exactly 1 << kWeightBits.
struct AxisWeights {
    int inSize = 0;
    int outSize = 0;
    int stride = 0;                  // weights stored per output pixel
    std::vector<int> first;          // per output pixel
    std::vector<int> count;          // per output pixel, at least 1
    std::vector<std::int16_t> taps;  // outSize * stride, unused ones zero

    const std::int16_t *weightsOf(int out) const { return taps.data() + static_cast<std::size_t>(out) * stride; }
};

// Lanczos-3 widened by the reduction factor for reductions, Catmull-Rom for enlargements,
// a plain copy when the sizes are equal.  Sizes are at least 1.  `scale` is the number of input
// pixels per output pixel, inSize / outSize unless given (after a shrink by a factor that does
// not divide the size, the last input pixel stands for fewer than the others).
AxisWeights axisWeights(int inSize, int outSize, double scale = 0.0);

// The box average of every shrinkX x shrinkY block of `in` (blocks at the right and bottom
// edges may be smaller), with the density of `in`.
std::unique_ptr<Image> boxShrink(const Image &in, int shrinkX, int shrinkY);

// The image scaled to outWidth x outHeight (both at least 1), with the density of the
// original.  Throws std::bad_alloc, or std::length_error for an image too large to hold.
std::unique_ptr<Image> resize(const Image &in, int outWidth, int outHeight);

} // namespace imglib
