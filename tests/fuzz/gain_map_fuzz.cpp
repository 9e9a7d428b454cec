// libFuzzer target: any bytes as each part of a phone's HDR gain map that the library reads with
// the care given to EXIF: an MPF index, the map's ISO 21496-1 block and its XMP (hdrgm:), and the
// block a bitmap carries the map in.
#include "common/mpf.h"
#include "metadata/carrier.h"
#include "metadata/gain_map.h"
#include "metadata/xmp.h"
#include "tests/fuzz/fuzz_check.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace {

std::vector<std::uint8_t> prefixed(std::string_view id, std::span<const std::uint8_t> bytes)
{
    std::vector<std::uint8_t> payload(id.begin(), id.end());
    payload.insert(payload.end(), bytes.begin(), bytes.end());
    return payload;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const std::span<const std::uint8_t> bytes(data, size);
    // The index, its TIFF header at 1000 in a file whose photo ends at 2000: every image listed
    // starts at or after that end, and there are fewer than the most it may list.
    const auto mpf = prefixed({"MPF\0", 4}, bytes);
    const std::vector<common::MpfImage> images = common::mpfImagesOf(mpf, 1000, 2000);
    FUZZ_CHECK(images.size() < common::kMaxMpfImages);
    for (const common::MpfImage &image : images)
        FUZZ_CHECK(image.start >= 2000 && image.size > 0);

    // Both forms of metadata give valid values or none.
    if (const auto values = meta::isoGainMapValues(prefixed(meta::kIsoGainMapId, bytes)))
        FUZZ_CHECK(values->valid());
    meta::isoVersionUsable(prefixed(meta::kIsoGainMapId, bytes));
    const auto xmp = prefixed(meta::kXmpId, bytes);
    if (const auto values = meta::xmpGainMapValues(xmp))
        FUZZ_CHECK(values->valid() && meta::declaresGainMap(xmp));

    // A block found at the start is the one the map it gives is written as, byte for byte.
    const meta::GainMap map = meta::carriedGainMap(bytes, 0);
    if (!map.empty()) {
        FUZZ_CHECK(map.channels == 1 || map.channels == 3);
        const std::vector<std::uint8_t> block = meta::gainMapBlock(map);
        FUZZ_CHECK(block.size() == meta::carriedBlocksStart(bytes, 0));
        FUZZ_CHECK(std::equal(block.begin(), block.end(), bytes.begin()));
    }
    return 0;
}
