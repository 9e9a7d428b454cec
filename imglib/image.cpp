// Image allocation and the size limit every image obeys.
#include "imglib/image.h"

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

Image::Image(int width, int height) : width_(width), height_(height)
{
    const auto bytes = imageBytes(width, height);
    if (!bytes)
        throw std::length_error("image too large");
    pixels_ = budget::Buffer(*bytes);
}

}  // namespace imglib
