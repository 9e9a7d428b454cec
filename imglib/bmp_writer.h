// Writes an image as a 24-bit Windows bitmap file, replacing the destination in one step.
#pragma once

#include "imglib/image.h"

#include <cstdint>
#include <span>

namespace imglib {

// Writes `image` to `path` through a temporary file in the same folder, renamed over `path`
// once complete, with `carried` (the blocks of metadata/carrier.h, at most kMaxCarriedBytes) after
// the pixels.  False on any failure, after removing the temporary file; the destination is then
// left as it was.
bool writeBmpFile(const Image &image, const char *path, std::span<const std::uint8_t> carried = {});

}  // namespace imglib
