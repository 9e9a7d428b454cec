// The metadata that Phase 1 leaves after a bitmap's pixels: found, checked and cleaned for the JPEG.
#pragma once

#include "convertimg/bmp_reader.h"
#include "metadata/metadata.h"

#include <cstdint>
#include <span>

namespace convertimg {

// The metadata carried at the end of `file`, a bitmap that readBitmap() read into `bitmap`, each
// kind cleaned for a picture of the bitmap's size (meta::cleaned()); empty when the file carries
// none, or a block that overlaps what its headers describe or is damaged. The bitmap may come
// from anywhere, so it is cleaned again here whoever wrote it.
meta::Metadata carriedMetadataFor(std::span<const std::uint8_t> file, const Bitmap& bitmap);

} // namespace convertimg
