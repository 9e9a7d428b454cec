// The orientation tag of an EXIF block, and how applying it moves pixels.
#pragma once

#include <cstddef>
#include <cstdint>

namespace imglib {

// Orientation (1 to 8) recorded in the payload of an APP1 marker, or 1 (upright) when the
// payload is not EXIF, has no orientation tag, or is malformed.  Reads only inside
// [data, data + size).
int exifOrientation(const std::uint8_t *data, std::size_t size);

// Orientations 5 to 8 turn the image a quarter, so the upright image is height x width.
constexpr bool swapsAxes(int orientation) { return orientation >= 5 && orientation <= 8; }

} // namespace imglib
