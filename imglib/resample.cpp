// The two-pass resampler behind ZoomDIB.
#include "imglib/resample.h"

#include "imglib/blend.h"

#include "budget/helpers.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <utility>

namespace imglib {
namespace {

double sinc(double x)
{
    if (x == 0.0)
        return 1.0;
    x *= std::numbers::pi;
    return std::sin(x) / x;
}

// Lanczos-3: close to the ideal low-pass filter, so a reduction keeps detail up to the new
// Nyquist limit and removes what lies beyond it.
double lanczos3(double x)
{
    return std::abs(x) < 3.0 ? sinc(x) * sinc(x / 3.0) : 0.0;
}

// Catmull-Rom: for enlargements, where Lanczos-3's second lobe would draw visible halos
// around every edge.  Interpolating and sharp, with one small negative lobe.
double catmullRom(double x)
{
    x = std::abs(x);
    if (x < 1.0)
        return (1.5 * x - 2.5) * x * x + 1.0;
    if (x < 2.0)
        return ((-0.5 * x + 2.5) * x - 4.0) * x + 2.0;
    return 0.0;
}

// A plain copy: one tap of weight 1.0 per pixel.
AxisWeights copyWeights(int size)
{
    AxisWeights w;
    w.inSize = size;
    w.outSize = size;
    w.first.resize(static_cast<std::size_t>(size));
    w.count.resize(static_cast<std::size_t>(size));
    w.stride = 1;
    w.taps.assign(static_cast<std::size_t>(size), std::int16_t{1 << kWeightBits});
    for (int i = 0; i < size; ++i) {
        w.first[i] = i;
        w.count[i] = 1;
    }
    return w;
}

// The filter of one axis and where it reaches, in input pixels.
struct AxisFilter {
    double scale;    // input pixels per output pixel
    double widen;    // how much wider than its own shape the filter is laid on the input
    double support;  // how far from an output pixel's centre the filter reaches
    double (*shape)(double);
};

AxisFilter filterFor(int inSize, int outSize, double givenScale)
{
    const double scale = givenScale > 0.0 ? givenScale : static_cast<double>(inSize) / outSize;
    const bool reduces = scale > 1.0;
    // Widening the filter by the reduction factor makes it average over every input pixel that
    // falls under an output pixel: that is what removes aliasing.
    const double widen = reduces ? scale : 1.0;
    return {scale, widen, (reduces ? 3.0 : 2.0) * widen, reduces ? lanczos3 : catmullRom};
}

// Beyond the edges the image is taken as mirrored about its first and last pixels
// (..., p2, p1, p0, p1, p2, ...), so an edge pixel is made with the whole filter, as an
// inner one is, instead of a truncated and renormalised one whose negative lobes would
// weigh differently.  Folded taps land back inside the filter's window.
int mirrored(int i, int inSize)
{
    if (inSize == 1)
        return 0;
    const int period = 2 * (inSize - 1);
    i %= period;
    if (i < 0)
        i += period;
    return i < inSize ? i : period - i;
}

// The input pixels an output pixel reads, first to last, and the sum of its exact weights.
struct TapWindow {
    int first;
    int last;
    double sum;
};

// The exact weights of output pixel o, mirrored taps added up, into `exact` from the window's
// first pixel on (the rest of `exact` cleared).
TapWindow exactWeights(const AxisFilter &f, int inSize, int o, std::vector<double> &exact)
{
    // Pixel centres: output pixel o covers input [o * scale, (o + 1) * scale).
    const double centre = (o + 0.5) * f.scale;
    const int lo = static_cast<int>(std::floor(centre - f.support + 0.5));
    const int hi = static_cast<int>(std::floor(centre + f.support + 0.5));
    // The folded window: from the smallest to the largest input pixel any tap lands on.
    TapWindow window{inSize, -1, 0.0};
    for (int i = lo; i < hi; ++i) {
        window.first = std::min(window.first, mirrored(i, inSize));
        window.last = std::max(window.last, mirrored(i, inSize));
    }
    std::fill(exact.begin(), exact.end(), 0.0);
    for (int i = lo; i < hi; ++i) {
        const double v = f.shape((i + 0.5 - centre) / f.widen);
        exact[mirrored(i, inSize) - window.first] += v;
        window.sum += v;
    }
    return window;
}

// Quantises n exact weights into `q`, then gives the rounding residue to the largest weight so
// the weights add up to exactly one: a flat area then stays exactly flat.
void quantise(const double *exact, double sum, int n, std::int16_t *q)
{
    int total = 0;
    int largest = 0;
    for (int i = 0; i < n; ++i) {
        q[i] = static_cast<std::int16_t>(std::lround(exact[i] / sum * (1 << kWeightBits)));
        total += q[i];
        if (q[i] > q[largest])
            largest = i;
    }
    q[largest] = static_cast<std::int16_t>(q[largest] + (1 << kWeightBits) - total);
}

// Zero taps at either end cost time and nothing else: drops them from the n weights in `q`,
// moves the rest to its front and clears the stride's other slots.  Returns the first tap kept
// and how many are.
std::pair<int, int> trimZeroTaps(std::int16_t *q, int n, int stride)
{
    int begin = 0;
    int end = n;
    while (end - begin > 1 && q[begin] == 0)
        ++begin;
    while (end - begin > 1 && q[end - 1] == 0)
        --end;
    if (begin > 0)
        std::copy(q + begin, q + end, q);
    std::fill(q + (end - begin), q + stride, std::int16_t{0});
    return {begin, end - begin};
}

}  // namespace

AxisWeights axisWeights(int inSize, int outSize, double givenScale)
{
    if (inSize == outSize && givenScale <= 0.0)
        return copyWeights(inSize);

    AxisWeights w;
    w.inSize = inSize;
    w.outSize = outSize;
    w.first.resize(static_cast<std::size_t>(outSize));
    w.count.resize(static_cast<std::size_t>(outSize));
    const AxisFilter filter = filterFor(inSize, outSize, givenScale);
    const int reach = static_cast<int>(std::ceil(filter.support)) + 1;
    w.stride = std::min(2 * reach + 1, inSize);
    w.taps.assign(static_cast<std::size_t>(outSize) * w.stride, 0);
    std::vector<double> exact(static_cast<std::size_t>(w.stride));

    for (int o = 0; o < outSize; ++o) {
        const TapWindow window = exactWeights(filter, inSize, o, exact);
        std::int16_t *q = w.taps.data() + static_cast<std::size_t>(o) * w.stride;
        const int n = window.last - window.first + 1;
        quantise(exact.data(), window.sum, n, q);
        const auto [begin, count] = trimZeroTaps(q, n, w.stride);
        w.first[o] = window.first + begin;
        w.count[o] = count;
    }
    return w;
}

namespace {

// Output rows [begin, end).  The vertical pass runs first, on the rows each output row needs,
// then the horizontal pass on that one blended row: each input row is read straight from the
// image, no intermediate image is built, and the horizontal pass, which vectorises less well,
// runs on output rows only.
void resizeRows(const Image &in, const AxisWeights &across, const AxisWeights &down, Image &out, int begin, int end,
                std::int16_t *blended, const std::uint8_t **rows) noexcept
{
    const bool sameWidth = across.outSize == across.inSize;
    for (int y = begin; y < end; ++y) {
        const int n = down.count[y];
        for (int k = 0; k < n; ++k)
            rows[k] = in.row(down.first[y] + k);
        if (sameWidth) {
            if (n == 1)  // a single tap weighs exactly one: a copy
                std::copy(rows[0], rows[0] + in.stride(), out.row(y));
            else
                blend::rowsToBytes(rows, down.weightsOf(y), n, in.stride(), out.row(y));
        } else {
            blend::rowsToFixed(rows, down.weightsOf(y), n, in.stride(), blended);
            blend::columnsToBytes(blended, across, out.row(y));
        }
    }
}

// Output rows are taken a few at a time: enough to keep the count of atomic operations low,
// few enough that the two threads end together.
constexpr int kRowsPerTake = 4;

}  // namespace

void RowProgress::publish(int rows)
{
    ready_.store(rows, std::memory_order_release);
    ready_.notify_all();
}

void RowProgress::abandon()
{
    ready_.store(kAbandoned, std::memory_order_release);
    ready_.notify_all();
}

bool RowProgress::waitFor(int rows) const
{
    for (;;) {
        const int ready = ready_.load(std::memory_order_acquire);
        if (ready == kAbandoned)
            return false;
        if (ready >= rows)
            return true;
        ready_.wait(ready, std::memory_order_acquire);
    }
}

Resizer::Resizer(const Image &in, int outWidth, int outHeight, double scaleX, double scaleY)
    : in_(in), out_(std::make_unique<Image>(outWidth, outHeight)), across_(axisWeights(in.width(), outWidth, scaleX)),
      down_(axisWeights(in.height(), outHeight, scaleY))
{
    out_->density = in.density;
    for (Scratch &s : scratch_) {
        s.blended.resize(in.stride() + blend::kSpareValues);
        s.rows.resize(static_cast<std::size_t>(down_.stride));
    }
}

bool Resizer::worthSharing() const
{
    // The job's size is its number of multiplications: a 10 % reduction of a large photo has
    // few output pixels but many taps for each.
    const auto outHeight = static_cast<std::uint64_t>(down_.outSize);
    const std::uint64_t work = outHeight * (static_cast<std::uint64_t>(in_.width()) * down_.stride +
                                            static_cast<std::uint64_t>(across_.outSize) * across_.stride);
    return work >= (1u << 21) && outHeight > 1;
}

bool Resizer::work(int worker, const RowProgress *progress) noexcept
{
    Scratch &s = scratch_[worker];
    const int height = down_.outSize;
    for (;;) {
        const int begin = next_.fetch_add(kRowsPerTake, std::memory_order_relaxed);
        if (begin >= height)
            return true;
        const int end = std::min(begin + kRowsPerTake, height);
        if (progress) {
            int needed = 0;
            for (int y = begin; y < end; ++y)
                needed = std::max(needed, down_.first[y] + down_.count[y]);
            if (!progress->waitFor(needed))
                return false;
        }
        resizeRows(in_, across_, down_, *out_, begin, end, s.blended.data(), s.rows.data());
    }
}

std::unique_ptr<Image> boxShrink(const Image &in, int shrinkX, int shrinkY)
{
    const int width = (in.width() + shrinkX - 1) / shrinkX;
    const int height = (in.height() + shrinkY - 1) / shrinkY;
    auto out = std::make_unique<Image>(width, height);
    out->density = in.density;
    // Column sums of up to shrinkY rows, a row at a time so the loop vectorises.
    std::vector<std::uint32_t> columns(in.stride());
    for (int y = 0; y < height; ++y) {
        const int top = y * shrinkY;
        const int rows = std::min(shrinkY, in.height() - top);
        std::fill(columns.begin(), columns.end(), 0u);
        for (int r = 0; r < rows; ++r) {
            const std::uint8_t *src = in.row(top + r);
            for (std::size_t i = 0; i < columns.size(); ++i)
                columns[i] += src[i];
        }
        std::uint8_t *dst = out->row(y);
        for (int x = 0; x < width; ++x) {
            const int left = x * shrinkX;
            const int cols = std::min(shrinkX, in.width() - left);
            const float scale = 1.0f / static_cast<float>(cols * rows);
            for (int c = 0; c < 3; ++c) {
                std::uint32_t sum = 0;
                for (int i = 0; i < cols; ++i)
                    sum += columns[static_cast<std::size_t>(left + i) * 3 + c];
                dst[3 * x + c] = static_cast<std::uint8_t>(static_cast<float>(sum) * scale + 0.5f);
            }
        }
    }
    return out;
}

namespace {

// The filter pass: `in` to outWidth x outHeight with the given scales (input pixels per output
// pixel, 0 for the plain ratio of the sizes).
std::unique_ptr<Image> filter(const Image &in, int outWidth, int outHeight, double scaleX, double scaleY)
{
    // Large jobs are shared with a helper thread when a core is free for one; each reads the
    // shared input and writes its own rows.  Without a helper the work is all done here.
    Resizer resizer(in, outWidth, outHeight, scaleX, scaleY);
    budget::Helper helper;
    if (resizer.worthSharing())
        helper = budget::Helper::start([&resizer] { resizer.work(1, nullptr); });
    resizer.work(0, nullptr);
    helper.wait();
    return resizer.take();
}

}  // namespace

int boxShrinkFactor(int inSize, int outSize)
{
    return std::max(1, inSize / (kFilterReduction * outSize));
}

bool needsShrink(int inWidth, int inHeight, int outWidth, int outHeight)
{
    return boxShrinkFactor(inWidth, outWidth) > 1 || boxShrinkFactor(inHeight, outHeight) > 1;
}

std::unique_ptr<Image> resize(const Image &in, int outWidth, int outHeight)
{
    // A strong reduction first averages blocks of pixels, one cheap pass over the input, and
    // leaves the filter the rest (kFilterReduction says why).
    const int shrinkX = boxShrinkFactor(in.width(), outWidth);
    const int shrinkY = boxShrinkFactor(in.height(), outHeight);
    if (shrinkX == 1 && shrinkY == 1)
        return filter(in, outWidth, outHeight, 0.0, 0.0);
    const auto shrunk = boxShrink(in, shrinkX, shrinkY);
    const auto scale = [](int size, int shrink, int out) {
        return shrink > 1 ? static_cast<double>(size) / shrink / out : 0.0;
    };
    return filter(*shrunk, outWidth, outHeight, scale(in.width(), shrinkX, outWidth),
                  scale(in.height(), shrinkY, outHeight));
}

}  // namespace imglib
