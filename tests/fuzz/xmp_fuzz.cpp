// libFuzzer target: any text as an XMP packet through the cleaning, for one fixed size and one
// taken from the input, so that the XML parser meets what a hostile photo's packet holds.
#include "metadata/xmp.h"
#include "tests/fuzz/fuzz_check.h"
#include "tests/support/testimages.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const std::string_view packet(reinterpret_cast<const char *>(data), size);
    const std::uint32_t width = size > 0 ? data[0] * 31u + 1 : 800, height = 600;
    const auto cleaned = meta::cleanXmp(packet, width, height);
    if (!cleaned)
        return 0;
    // What comes out is one well-formed document that fits a segment and names no location,
    // and cleaning it again changes nothing.
    FUZZ_CHECK(cleaned->size() <= meta::kMaxXmpPacket);
    FUZZ_CHECK(testimages::xmpLocates(*cleaned) == false);
    FUZZ_CHECK(meta::cleanXmp(*cleaned, width, height) == cleaned);
    return 0;
}
