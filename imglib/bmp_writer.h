// Writes an image as a 24-bit Windows bitmap file, replacing the destination in one step.
#pragma once

#include "imglib/image.h"

#include <cstdint>
#include <span>

namespace imglib {

// Writes `image` to `path` whole (common/whole_file.h), replacing what was there, with `gainMap`
// (the block of metadata/gain_map.h) and then `carried` (the blocks of metadata/carrier.h, at most
// kMaxCarriedBytes) after the pixels.  False on any failure, after removing the temporary file;
// the destination is then left as it was.
bool writeBmpFile(const Image &image, const char *path, std::span<const std::uint8_t> carried = {},
                  std::span<const std::uint8_t> gainMap = {});

}  // namespace imglib
