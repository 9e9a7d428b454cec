// What both fuzz targets promise of the metadata a bitmap carries to its JPEG: every kind fits
// its segment, nothing leads to a location, and cleaning it again changes nothing.
#pragma once

#include "metadata/exif.h"
#include "metadata/metadata.h"
#include "metadata/xmp.h"
#include "tests/fuzz/fuzz_check.h"
#include "tests/support/testimages.h"

#include <cstdint>
#include <string_view>
#include <vector>

namespace fuzzing {

// An APP1 XMP payload whose packet parses and names no location, in any namespace.
inline bool locatesNothing(const std::vector<std::uint8_t> &xmp)
{
    if (xmp.size() < meta::kXmpId.size())
        return false;
    const std::string_view packet(reinterpret_cast<const char *>(xmp.data()) + meta::kXmpId.size(),
                                  xmp.size() - meta::kXmpId.size());
    return testimages::xmpLocates(packet) == false;
}

inline void checkCleaned(const meta::Metadata &metadata, std::uint32_t width, std::uint32_t height)
{
    FUZZ_CHECK(metadata.exif.size() <= meta::kMaxPayload);
    // Neither a GPS directory nor XMP inside the EXIF; the IPTC block, rebuilt by the cleaning, is
    // the records alone (no XMP resource), which cleaning it again below holds it to.
    FUZZ_CHECK(!testimages::reachesLocation(metadata.exif));
    FUZZ_CHECK(metadata.xmp.size() <= meta::kMaxPayload);
    FUZZ_CHECK(metadata.xmp.empty() || locatesNothing(metadata.xmp));
    FUZZ_CHECK(metadata.iptc.size() <= meta::kMaxPayload);
    for (const std::vector<std::uint8_t> &comment : metadata.comments)
        FUZZ_CHECK(comment.size() <= meta::kMaxPayload);
    const meta::Metadata again = meta::cleaned(metadata, width, height);
    FUZZ_CHECK(again.exif == metadata.exif && again.xmp == metadata.xmp && again.iptc == metadata.iptc &&
               again.comments == metadata.comments);
}

}  // namespace fuzzing
