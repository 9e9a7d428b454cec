// Photoshop's image resources ("8BIM", an id, a padded Pascal name, a size, padded data) and the
// IIM datasets of resource 0x0404 (0x1C, record, dataset, a 15-bit size or an extended one).
#include "metadata/iptc.h"

#include "metadata/exif.h"

#include <algorithm>

namespace meta {
namespace {

constexpr std::string_view kResourceSignature = "8BIM";
constexpr std::uint16_t kIptcResource = 0x0404;
constexpr std::uint8_t kDatasetTag = 0x1C;

std::uint32_t bigEndian(std::span<const std::uint8_t> bytes)
{
    std::uint32_t value = 0;
    for (const std::uint8_t b : bytes)
        value = value << 8 | b;
    return value;
}

}  // namespace

bool iptcIsWhole(std::span<const std::uint8_t> records)
{
    std::size_t at = 0;
    while (at < records.size() && records[at] == kDatasetTag) {
        if (records.size() - at < 5)
            return false;
        std::uint64_t size = bigEndian(records.subspan(at + 3, 2));
        at += 5;
        if (size & 0x8000) {  // an extended dataset: the size's own length, then the size
            const std::size_t lengthBytes = size & 0x7FFF;
            if (lengthBytes == 0 || lengthBytes > 4 || records.size() - at < lengthBytes)
                return false;
            size = bigEndian(records.subspan(at, lengthBytes));
            at += lengthBytes;
        }
        if (records.size() - at < size)
            return false;
        at += static_cast<std::size_t>(size);
    }
    return at > 0 && std::all_of(records.begin() + static_cast<std::ptrdiff_t>(at), records.end(),
                                 [](std::uint8_t b) { return b == 0; });
}

std::span<const std::uint8_t> iptcRecords(std::span<const std::uint8_t> payload)
{
    if (payload.size() < kPhotoshopId.size() || !std::equal(kPhotoshopId.begin(), kPhotoshopId.end(), payload.begin()))
        return {};
    std::size_t at = kPhotoshopId.size();
    while (payload.size() - at >= 12 &&
           std::equal(kResourceSignature.begin(), kResourceSignature.end(), payload.begin() + at)) {
        const auto id = static_cast<std::uint16_t>(bigEndian(payload.subspan(at + 4, 2)));
        const std::size_t nameBytes = (std::size_t{payload[at + 6]} + 2) & ~std::size_t{1};  // with its length, even
        at += 6 + nameBytes;
        if (payload.size() - std::min(at, payload.size()) < 4)
            return {};
        const std::uint32_t size = bigEndian(payload.subspan(at, 4));
        at += 4;
        if (payload.size() - at < size)
            return {};
        const std::span<const std::uint8_t> data = payload.subspan(at, size);
        if (id == kIptcResource)
            return iptcIsWhole(data) ? data : std::span<const std::uint8_t>{};
        at += size + (size & 1);
        if (at > payload.size())
            return {};
    }
    return {};
}

std::vector<std::uint8_t> photoshopPayload(std::span<const std::uint8_t> records)
{
    std::vector<std::uint8_t> payload(kPhotoshopId.begin(), kPhotoshopId.end());
    payload.insert(payload.end(), kResourceSignature.begin(), kResourceSignature.end());
    const auto size = static_cast<std::uint32_t>(records.size());
    const std::uint8_t header[] = {kIptcResource >> 8,
                                   kIptcResource & 0xFF,
                                   0,
                                   0,  // an empty name, padded to an even length
                                   static_cast<std::uint8_t>(size >> 24),
                                   static_cast<std::uint8_t>(size >> 16),
                                   static_cast<std::uint8_t>(size >> 8),
                                   static_cast<std::uint8_t>(size)};
    payload.insert(payload.end(), std::begin(header), std::end(header));
    payload.insert(payload.end(), records.begin(), records.end());
    if (size & 1)
        payload.push_back(0);
    if (payload.size() > kMaxPayload)
        return {};
    return payload;
}

}  // namespace meta
