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

// The pixel buffer of the last large image released, kept for the next image.  A fresh buffer
// of tens of megabytes costs a page fault and a page cleared by the kernel for every 4 KiB the
// decoder first writes, a tenth of the time the decode itself takes; a folder of photos
// reuses one buffer instead.  Only one is kept, and only until the next image takes it, so
// the memory a folder needs stays what its largest photo needs.
class SpareBuffers {
public:
    // The spare buffer if it holds at least `bytes`, or null; a spare too small is freed then,
    // not kept beside the new buffer.
    std::unique_ptr<std::uint8_t[]> take(std::size_t bytes, std::size_t &capacity)
    {
        if (bytes < kWorthKeeping)
            return nullptr;
        std::unique_ptr<std::uint8_t[]> spare;
        const std::lock_guard lock(mutex_);
        spare = std::move(spare_);
        if (spare && spareCapacity_ >= bytes) {
            capacity = spareCapacity_;
            return spare;
        }
        return nullptr;
    }

    // Keeps `data` if it is large and larger than the spare, which then goes (after the lock).
    void give(std::unique_ptr<std::uint8_t[]> data, std::size_t capacity)
    {
        if (!data || capacity < kWorthKeeping)
            return;
        const std::lock_guard lock(mutex_);
        if (spare_ && spareCapacity_ >= capacity)
            return;
        std::swap(spare_, data);
        spareCapacity_ = capacity;
    }

private:
    // Below this, malloc keeps freed memory itself and a fresh buffer costs nothing more.
    static constexpr std::size_t kWorthKeeping = std::size_t{1} << 20;
    std::mutex mutex_;
    std::unique_ptr<std::uint8_t[]> spare_;
    std::size_t spareCapacity_ = 0;
};

// Made when the library is loaded, before the handle table, so it is still there when the
// table releases its images at unloading.
SpareBuffers spares;

SpareBuffers &spareBuffers()
{
    return spares;
}

} // namespace

Image::Image(int width, int height) : width_(width), height_(height)
{
    const auto bytes = imageBytes(width, height);
    if (!bytes)
        throw std::length_error("image too large");
    capacity_ = *bytes;
    pixels_ = spareBuffers().take(*bytes, capacity_);
    if (!pixels_)
        pixels_ = std::make_unique_for_overwrite<std::uint8_t[]>(*bytes);
}

Image::~Image()
{
    spareBuffers().give(std::move(pixels_), capacity_);
}

} // namespace imglib
