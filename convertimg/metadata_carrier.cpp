// Finds the metadata blocks at the end of a bitmap, past everything its headers describe, and cleans them.
#include "convertimg/metadata_carrier.h"

#include "metadata/carrier.h"

namespace convertimg {

meta::Metadata carriedMetadataFor(std::span<const std::uint8_t> file, const Bitmap& bitmap)
{
    if (bitmap.width <= 0 || bitmap.height <= 0)
        return {};
    return meta::cleaned(meta::carriedMetadata(file, bitmap.pixelsEnd), static_cast<std::uint32_t>(bitmap.width),
                         static_cast<std::uint32_t>(bitmap.height));
}

} // namespace convertimg
