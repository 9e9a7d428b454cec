// Sorting a JPEG's segments into the metadata the program carries, and cleaning each kind.
#include "metadata/metadata.h"

#include "metadata/exif.h"
#include "metadata/iptc.h"
#include "metadata/xmp.h"

#include <algorithm>
#include <string_view>

namespace meta {
namespace {

constexpr int kApp1 = 0xE1;
constexpr int kApp13 = 0xED;
constexpr int kComment = 0xFE;

bool startsWith(std::span<const std::uint8_t> payload, std::string_view id)
{
    return payload.size() >= id.size() && std::equal(id.begin(), id.end(), payload.begin());
}

std::string_view asText(std::span<const std::uint8_t> bytes)
{
    return {reinterpret_cast<const char *>(bytes.data()), bytes.size()};
}

}  // namespace

Segment segmentKind(int marker, std::span<const std::uint8_t> payload)
{
    if (marker == kComment)
        return Segment::Comment;
    if (marker == kApp1 && startsWith(payload, {reinterpret_cast<const char *>(kExifId), sizeof kExifId}))
        return Segment::Exif;
    if (marker == kApp1 && startsWith(payload, kXmpId))
        return Segment::Xmp;
    if (marker == kApp13 && startsWith(payload, kPhotoshopId))
        return Segment::Iptc;
    return Segment::Other;
}

void take(Metadata &metadata, Segment kind, std::span<const std::uint8_t> payload)
{
    const auto keepFirst = [&](std::vector<std::uint8_t> &slot) {
        if (slot.empty())
            slot.assign(payload.begin(), payload.end());
    };
    switch (kind) {
    case Segment::Exif: keepFirst(metadata.exif); break;
    case Segment::Xmp: keepFirst(metadata.xmp); break;
    case Segment::Iptc: keepFirst(metadata.iptc); break;
    case Segment::Comment: metadata.comments.emplace_back(payload.begin(), payload.end()); break;
    case Segment::Other: break;
    }
}

Metadata cleaned(const Metadata &metadata, std::uint32_t width, std::uint32_t height)
{
    Metadata out;
    if (!metadata.exif.empty())
        out.exif = clean(metadata.exif, width, height).value_or(std::vector<std::uint8_t>());
    if (startsWith(metadata.xmp, kXmpId)) {
        const std::string_view packet = asText(metadata.xmp).substr(kXmpId.size());
        if (const std::optional<std::string> xmp = cleanXmp(packet, width, height)) {
            out.xmp.assign(kXmpId.begin(), kXmpId.end());
            out.xmp.insert(out.xmp.end(), xmp->begin(), xmp->end());
        }
    }
    if (const std::span<const std::uint8_t> records = iptcRecords(metadata.iptc); !records.empty())
        out.iptc = photoshopPayload(records);
    out.comments = metadata.comments;
    return out;
}

}  // namespace meta
