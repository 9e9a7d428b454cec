// Finds the EXIF block at the end of a bitmap, past everything its headers describe, and cleans it.
#include "exif_carrier.h"

#include "carrier.h"
#include "exif.h"

namespace convertimg {

std::optional<std::vector<std::uint8_t>> carriedExif(std::span<const std::uint8_t> file, const Bitmap& bitmap)
{
    if (bitmap.width <= 0 || bitmap.height <= 0)
        return std::nullopt;
    const std::vector<std::uint8_t> payload = exif::carriedMetadata(file, bitmap.pixelsEnd).exif;
    if (payload.empty())
        return std::nullopt;
    return exif::clean(payload, static_cast<std::uint32_t>(bitmap.width), static_cast<std::uint32_t>(bitmap.height));
}

} // namespace convertimg
