// The block that carries a gain map in a bitmap, between the pixels and the metadata blocks.
#include "metadata/gain_map.h"

#include "metadata/carrier.h"

#include <algorithm>
#include <array>
#include <optional>

namespace meta {
namespace {

constexpr std::array<std::uint8_t, 8> kGainMapSignature = {'R', 'e', 'd', 'i', 'm', 'G', 'm', 'p'};
constexpr std::uint8_t kXmpFormFlag = 0x01;

// The payload: width and height (32 bits each), channels (8 bits), the forms (8 bits: bit 0 the
// XMP form), then the ISO version block, the map's XMP, ISO and ICC each as a 32-bit length and
// its bytes, then the pixels; every number little-endian, like the trailers.
constexpr std::size_t kFixedBytes = 4 + 4 + 1 + 1 + 4 * 4;

void put32(std::vector<std::uint8_t> &out, std::uint64_t value)
{
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

bool fits(const GainMap &map)
{
    const auto under = [](const std::vector<std::uint8_t> &bytes, std::size_t most) { return bytes.size() <= most; };
    return (map.channels == 1 || map.channels == 3) && map.width > 0 && map.height > 0 &&
           std::uint64_t{map.width} * map.height * map.channels == map.pixels.size() &&
           map.pixels.size() <= kMaxGainMapBytes && under(map.isoVersion, kMaxPayload) && under(map.xmp, kMaxPayload) &&
           under(map.iso, kMaxPayload) && under(map.icc, kMaxGainMapIccBytes);
}

// Reads the payload front to back, refusing anything past its end.
class Reader {
public:
    explicit Reader(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}

    std::optional<std::uint64_t> number(std::size_t size)
    {
        if (bytes_.size() - at_ < size)
            return std::nullopt;
        std::uint64_t value = 0;
        for (std::size_t i = 0; i < size; ++i)
            value |= std::uint64_t{bytes_[at_ + i]} << (8 * i);
        at_ += size;
        return value;
    }

    bool bytes(std::vector<std::uint8_t> &out, std::uint64_t size)
    {
        if (bytes_.size() - at_ < size)
            return false;
        out.assign(bytes_.begin() + static_cast<std::ptrdiff_t>(at_),
                   bytes_.begin() + static_cast<std::ptrdiff_t>(at_ + size));
        at_ += static_cast<std::size_t>(size);
        return true;
    }

    bool sized(std::vector<std::uint8_t> &out, std::uint64_t most)
    {
        const auto size = number(4);
        return size && *size <= most && bytes(out, *size);
    }

    bool atEnd() const { return at_ == bytes_.size(); }

private:
    std::span<const std::uint8_t> bytes_;
    std::size_t at_ = 0;
};

std::optional<GainMap> parsed(std::span<const std::uint8_t> payload)
{
    Reader reader(payload);
    GainMap map;
    const auto width = reader.number(4), height = reader.number(4), channels = reader.number(1),
               forms = reader.number(1);
    if (!width || !height || !channels || !forms || (*channels != 1 && *channels != 3) || *width == 0 || *height == 0 ||
        (*forms & ~kXmpFormFlag) != 0)
        return std::nullopt;
    map.width = static_cast<std::uint32_t>(*width);
    map.height = static_cast<std::uint32_t>(*height);
    map.channels = static_cast<std::uint8_t>(*channels);
    map.xmpForm = (*forms & kXmpFormFlag) != 0;
    // Both factors are below 2^32 and channels at most 3: no overflow in 64 bits.
    const std::uint64_t pixelBytes = *width * *height * *channels;
    if (pixelBytes > kMaxGainMapBytes || !reader.sized(map.isoVersion, kMaxPayload) ||
        !reader.sized(map.xmp, kMaxPayload) || !reader.sized(map.iso, kMaxPayload) ||
        !reader.sized(map.icc, kMaxGainMapIccBytes) || !reader.bytes(map.pixels, pixelBytes) || !reader.atEnd())
        return std::nullopt;
    return map;
}

}  // namespace

std::vector<std::uint8_t> gainMapBlock(const GainMap &map)
{
    std::vector<std::uint8_t> out;
    if (map.empty() || !fits(map))
        return out;
    const std::size_t payload =
        kFixedBytes + map.isoVersion.size() + map.xmp.size() + map.iso.size() + map.icc.size() + map.pixels.size();
    out.reserve(payload + kCarrierTrailerBytes);
    put32(out, map.width);
    put32(out, map.height);
    out.push_back(map.channels);
    out.push_back(map.xmpForm ? kXmpFormFlag : 0);
    for (const std::vector<std::uint8_t> *part : {&map.isoVersion, &map.xmp, &map.iso, &map.icc}) {
        put32(out, part->size());
        out.insert(out.end(), part->begin(), part->end());
    }
    out.insert(out.end(), map.pixels.begin(), map.pixels.end());
    appendTrailer(out, payload, kGainMapSignature);
    return out;
}

GainMap carriedGainMap(std::span<const std::uint8_t> file, std::uint64_t dataEnd)
{
    const std::uint64_t end = carriedBlocksStart(file, dataEnd);
    if (dataEnd > end || end - dataEnd < kCarrierTrailerBytes)
        return {};
    const auto trailer = file.subspan(static_cast<std::size_t>(end - kCarrierTrailerBytes), kCarrierTrailerBytes);
    const auto signature = trailer.subspan(kCarrierLengthBytes);
    if (!std::equal(signature.begin(), signature.end(), kGainMapSignature.begin(), kGainMapSignature.end()))
        return {};
    const std::uint64_t size = trailerLength(trailer);
    if (size != end - kCarrierTrailerBytes - dataEnd)
        return {};
    return parsed(file.subspan(static_cast<std::size_t>(dataEnd), static_cast<std::size_t>(size))).value_or(GainMap{});
}

}  // namespace meta
