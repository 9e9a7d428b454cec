// High-quality image scaling: separable filters with weights computed once per output line.
#pragma once

#include "imglib/image.h"

#include <atomic>
#include <cstdint>
#include <limits>
#include <memory>
#include <vector>

namespace imglib {

// Weights are fixed point with this many fractional bits: 1.0 is 1 << 14.  Products of an
// 8-bit pixel and a weight stay well inside 32 bits even summed over the 60-odd taps of a 10 %
// reduction, and int16 weights let the compiler use 16-bit multiplies.
inline constexpr int kWeightBits = 14;
// An int16 tap holds any weight from -2.0 to just under 2.0: the filters' lobes and the
// rounding residue take a weight past 1.0 by little, if at all.
static_assert((2 << kWeightBits) - 1 <= std::numeric_limits<std::int16_t>::max(),
              "weights up to 2.0 must fit an int16 tap");
// A pixel sum over 64 taps of weights up to 2.0 in magnitude fits an int32.
static_assert(std::int64_t{255} * (2 << kWeightBits) * 64 <= std::numeric_limits<std::int32_t>::max(),
              "the resampler's sums must fit an int32");

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

// The reduction the filter always makes itself.  A strong reduction is begun by cheaper means:
// libjpeg-turbo's reduced decode, at 1/2, 1/4 or 1/8 of the size (decodeEighths() in picture.h),
// then the box average of blocks of pixels (boxShrinkFactor()).  Each stops where the filter
// still has this factor or more to do, so that Lanczos-3 decides what the result looks like: it
// sees every detail they let through, and smooths out the block edges of libjpeg's reduction and
// the aliasing the box average alone would leave.  The cheap passes save most of the work, as
// the filter's taps grow with its reduction (60-odd per pixel at 10 %).
inline constexpr int kFilterReduction = 2;

// The box average of every shrinkX x shrinkY block of `in` (blocks at the right and bottom
// edges may be smaller), with the density of `in`.
std::unique_ptr<Image> boxShrink(const Image &in, int shrinkX, int shrinkY);

// The factor resize() averages blocks of pixels by along a side of inSize pixels scaled to
// outSize: the largest whole factor that leaves the filter kFilterReduction or more, and 1 (no
// averaging) below a reduction by twice that.
int boxShrinkFactor(int inSize, int outSize);

// The image scaled to outWidth x outHeight (both at least 1), with the density of the
// original.  Throws std::bad_alloc, or std::length_error for an image too large to hold.
std::unique_ptr<Image> resize(const Image &in, int outWidth, int outHeight);

// True when resize() averages blocks of pixels before filtering (boxShrinkFactor()).
bool needsShrink(int inWidth, int inHeight, int outWidth, int outHeight);

// How many rows of an image being decoded are final, for scaling it while the rest is still
// being decoded.  One thread publishes, others wait.
class RowProgress {
public:
    // Rows [0, rows) are final; counts only grow.
    void publish(int rows);
    // No more rows will come: every wait ends.
    void abandon();
    // Waits until `rows` rows are final: true, or false once abandoned.
    bool waitFor(int rows) const;

private:
    static constexpr int kAbandoned = -1;
    std::atomic<int> ready_{0};
};

// One filter pass, shared by up to two threads that each call work() and take the next few
// output rows until none are left.  Every output row is made the same way whichever thread
// makes it, so when needsShrink() is false the result is the one resize() gives.
class Resizer {
public:
    // The filter pass of resize(), with the scales axisWeights() takes.  Everything the work
    // needs is allocated here, so that work() cannot fail.  Throws std::bad_alloc, or
    // std::length_error for an image too large to hold.  `in` must outlive the work; its
    // pixels need be final only as `progress` says.
    Resizer(const Image &in, int outWidth, int outHeight, double scaleX = 0.0, double scaleY = 0.0);

    // True when the job is large enough to be worth a helper thread.
    bool worthSharing() const;

    // Makes output rows until none are left, as worker 0 or 1 (each has its own scratch
    // space).  With `progress`, waits for the input rows each output row reads; false if the
    // input was abandoned first.
    bool work(int worker, const RowProgress *progress) noexcept;

    // The scaled image, once every work() call has returned true.
    std::unique_ptr<Image> take() { return std::move(out_); }

private:
    struct Scratch {
        std::vector<std::int16_t> blended;
        std::vector<const std::uint8_t *> rows;
    };
    const Image &in_;
    std::unique_ptr<Image> out_;
    AxisWeights across_;
    AxisWeights down_;
    Scratch scratch_[2];
    std::atomic<int> next_{0};  // the first output row no worker has taken yet
};

}  // namespace imglib
