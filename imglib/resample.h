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
// a plain copy when the sizes are equal.  Sizes are at least 1.
AxisWeights axisWeights(int inSize, int outSize);

// The image scaled to outWidth x outHeight (both at least 1), with the density of the
// original.  Throws std::bad_alloc, or std::length_error for an image too large to hold.
std::unique_ptr<Image> resize(const Image &in, int outWidth, int outHeight);

} // namespace imglib
