// Image allocation and the size limit every image obeys.
#include "image.h"

#include <mutex>
#include <stdexcept>

namespace imglib {

std::optional<std::size_t> imageBytes(std::int64_t width, std::int64_t height)
{
    constexpr auto kMaxSide = static_cast<std::int64_t>(kMaxImageBytes);
    if (width <= 0 || height <= 0 || width > kMaxSide || height > kMaxSide)
        return std::nullopt;
    // Both factors are at most 2^30, so the product fits in 64 bits.
    const std::uint64_t bytes = static_cast<std::uint64_t>(width) * static_cast<std::uint64_t>(height) * 3;
    if (bytes > kMaxImageBytes)
        return std::nullopt;
    return static_cast<std::size_t>(bytes);
}

namespace {

// The pixel buffer of the last large image released, kept for the next image.  Even in 2 MiB
// pages, a fresh buffer of tens of megabytes is cleared by the kernel as the decoder first
// writes it; a folder of photos reuses one buffer instead.  Only one is kept, and only until
// the next image takes it, so the memory a folder needs stays what its largest photos need.
class SpareBuffers {
public:
    // The spare buffer if it holds at least `bytes`, or an empty one; a spare too small is freed
    // then, not kept beside the new buffer.
    Buffer take(std::size_t bytes)
    {
        if (bytes < kWorthKeeping)
            return Buffer();
        Buffer spare;
        const std::lock_guard lock(mutex_);
        spare = std::move(spare_);
        if (spare && spare.size() >= bytes)
            return spare;
        return Buffer();
    }

    // Keeps `buffer` if it is large and larger than the spare, which then goes (after the lock).
    void give(Buffer buffer)
    {
        if (!buffer || buffer.size() < kWorthKeeping)
            return;
        const std::lock_guard lock(mutex_);
        if (spare_ && spare_.size() >= buffer.size())
            return;
        std::swap(spare_, buffer);
    }

private:
    // Below this, malloc keeps freed memory itself and a fresh buffer costs nothing more.
    static constexpr std::size_t kWorthKeeping = std::size_t{1} << 20;
    std::mutex mutex_;
    Buffer spare_;
};

// Made when the library is loaded, before the handle table, so it is still there when the
// table releases its images at unloading.
SpareBuffers spares;

SpareBuffers &spareBuffers()
{
    return spares;
}

}  // namespace

Image::Image(int width, int height) : width_(width), height_(height)
{
    const auto bytes = imageBytes(width, height);
    if (!bytes)
        throw std::length_error("image too large");
    pixels_ = spareBuffers().take(*bytes);
    if (!pixels_)
        pixels_ = Buffer(*bytes);
}

Image::~Image()
{
    spareBuffers().give(std::move(pixels_));
}

}  // namespace imglib
