// The image held behind a handle: 8-bit BGR pixels, rows top to bottom, and the density to put
// in the bitmap.
#pragma once

#include "imglib/imglib.h"

#include "budget/buffer.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>

namespace imglib {

// Largest image held, in bytes of pixels: the limit the public header states.
inline constexpr std::uint64_t kMaxImageBytes = IMGLIB_MAX_IMAGE_BYTES;

// Pixel density, in pixels per metre, as a bitmap header wants it.
struct Density {
    std::int32_t xPerMetre = 0;
    std::int32_t yPerMetre = 0;
};

// Bytes of BGR pixels for a width and height, or nothing when they do not give an image the
// library may hold (zero, negative or above kMaxImageBytes).
std::optional<std::size_t> imageBytes(std::int64_t width, std::int64_t height);

class Image {
public:
    // Allocates without clearing: untouched pages cost no memory until a decoder fills them,
    // so a file that fails early never commits the whole buffer.  Large buffers are taken
    // from those of images released before when one is big enough (budget/buffer.h).  Throws
    // std::bad_alloc, or std::length_error for sizes imageBytes() refuses.
    Image(int width, int height);
    Image(Image &&) noexcept = default;
    Image &operator=(Image &&) noexcept = default;

    int width() const { return width_; }
    int height() const { return height_; }
    std::size_t stride() const { return static_cast<std::size_t>(width_) * 3; }
    std::size_t sizeBytes() const { return stride() * static_cast<std::size_t>(height_); }

    std::uint8_t *row(int y) { return pixels_.data() + stride() * static_cast<std::size_t>(y); }
    const std::uint8_t *row(int y) const { return pixels_.data() + stride() * static_cast<std::size_t>(y); }

    // Density from the JPEG file; zero when it gave none.
    Density density;

private:
    int width_;
    int height_;
    budget::Buffer pixels_;  // at least sizeBytes()
};

}  // namespace imglib
