// The EXIF block that Phase 1 leaves after a bitmap's pixels: found, checked and cleaned for the JPEG.
#pragma once

#include "bmp_reader.h"

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace convertimg {

// The EXIF payload carried at the end of `file`, a bitmap that readBitmap() read into `bitmap`,
// cleaned for a picture of the bitmap's size; nothing when the file carries none, or one that
// overlaps what its headers describe or is damaged. The bitmap may come from anywhere.
std::optional<std::vector<std::uint8_t>> carriedExif(std::span<const std::uint8_t> file, const Bitmap& bitmap);

} // namespace convertimg
