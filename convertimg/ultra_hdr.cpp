// An Ultra HDR file (Android's "Ultra HDR Image Format"): the gain map's JPEG first, then the
// photo's with its declarations and an MPF index, patched once the photo's length is known.
#include "convertimg/ultra_hdr.h"

#include "convertimg/jpeg_settings.h"

#include "common/jpeg_walk.h"
#include "metadata/exif.h"
#include "metadata/gain_map_xmp.h"

#include <algorithm>
#include <limits>
#include <optional>
#include <vector>

namespace convertimg {

namespace {

constexpr int app2 = 0xE2;

bool fitsSegment(const std::vector<std::uint8_t>& payload)
{
    return payload.size() <= meta::kMaxPayload;
}

bool wellFormed(const meta::GainMap& map)
{
    return (map.channels == 1 || map.channels == 3) && map.width > 0 && map.height > 0 &&
           map.pixels.size() == std::uint64_t{map.width} * map.height * map.channels && fitsSegment(map.xmp) &&
           fitsSegment(map.iso);
}

// The forms the file can declare the map in: each needs the photo's declaration and the map's
// own metadata.
bool xmpForm(const meta::GainMap& map)
{
    return map.xmpForm && !map.xmp.empty();
}

bool isoForm(const meta::GainMap& map)
{
    return !map.isoVersion.empty() && fitsSegment(map.isoVersion) && !map.iso.empty();
}

// The MPF index of a file of two JPEGs: the photo (the primary image, at offset 0 by definition)
// of `photoLength` bytes, then the gain map of `mapLength` bytes at `mapOffset`, counted from the
// index's TIFF header. Big-endian; exactly the three tags of an MP Index IFD and no attribute
// IFD, as Android's reader requires. Its size does not depend on the values.
//   "MPF\0", "MM", 42, offset of the IFD (8)
//   3 entries: MPFVersion "0100", NumberOfImages 2, MPEntry (2 x 16 bytes at offset 50)
//   next IFD 0, then the two MP entries: attributes, size, offset, two dependent images
std::vector<std::uint8_t> mpfPayload(std::uint32_t photoLength, std::uint32_t mapLength, std::uint32_t mapOffset)
{
    std::vector<std::uint8_t> out{'M', 'P', 'F', 0, 'M', 'M', 0, 42};
    const auto put16 = [&out](std::uint32_t v) {
        out.push_back(static_cast<std::uint8_t>(v >> 8));
        out.push_back(static_cast<std::uint8_t>(v));
    };
    const auto put32 = [&put16](std::uint32_t v) {
        put16(v >> 16);
        put16(v & 0xFFFF);
    };
    const auto entry = [&](std::uint32_t tag, std::uint32_t type, std::uint32_t count, std::uint32_t value) {
        put16(tag);
        put16(type);
        put32(count);
        put32(value);
    };
    constexpr std::uint32_t undefined = 7, longType = 4;
    constexpr std::uint32_t entriesAt = 8 + 2 + 3 * 12 + 4;
    put32(8);
    put16(3);
    entry(0xB000, undefined, 4, 0x30313030); // "0100"
    entry(0xB001, longType, 1, 2);
    entry(0xB002, undefined, 2 * 16, entriesAt);
    put32(0);
    constexpr std::uint32_t primaryJpeg = 0x030000; // format JPEG (0), type Baseline MP Primary Image
    constexpr std::uint32_t undefinedJpeg = 0;      // format JPEG, type Undefined: what gain maps are
    for (const std::uint32_t v : {primaryJpeg, photoLength, 0u, 0u, undefinedJpeg, mapLength, mapOffset, 0u})
        put32(v);
    return out;
}

// Fills in the index that `photo` holds as a placeholder (the first APP2 "MPF" segment before
// its image data): the photo's length, and the map's just after it. False when it has none.
bool patchMpf(std::span<std::uint8_t> photo, std::uint32_t mapLength)
{
    const std::vector<std::uint8_t> placeholder = mpfPayload(0, 0, 0);
    std::optional<std::size_t> payloadAt;
    common::JpegWalk walk;
    walk.onSegment = [&](std::uint8_t code, std::span<const std::uint8_t> payload) {
        if (code == app2 && payload.size() == placeholder.size() &&
            std::equal(placeholder.begin(), placeholder.end(), payload.begin())) {
            payloadAt = static_cast<std::size_t>(payload.data() - photo.data());
            walk.stop();
        }
    };
    walk.onScan = [&walk](std::span<const std::uint8_t>) { walk.stop(); };
    walk.advance(photo);
    if (!payloadAt)
        return false;
    const std::size_t tiffHeader = *payloadAt + 4; // after "MPF\0"
    const auto length = static_cast<std::uint32_t>(photo.size());
    const std::vector<std::uint8_t> index =
        mpfPayload(length, mapLength, length - static_cast<std::uint32_t>(tiffHeader));
    std::copy(index.begin(), index.end(), photo.begin() + static_cast<std::ptrdiff_t>(*payloadAt));
    return true;
}

} // namespace

PhotoJpegs encodePhoto(const Bitmap& bitmap, meta::Metadata metadata, const meta::GainMap& map)
{
    const JpegSettings settings = settingsFor(bitmap);
    const auto alone = [&] { return PhotoJpegs{encodeJpeg(bitmap, settings, metadata, {}), {}}; };
    if (map.empty() || !wellFormed(map) || !(xmpForm(map) || isoForm(map)))
        return alone();
    JpegData mapJpeg = encodeGainMap(map, settings.quality);
    constexpr std::size_t maxLength = std::numeric_limits<std::uint32_t>::max();
    if (!mapJpeg || mapJpeg.bytes().size() > maxLength)
        return alone();

    meta::Metadata declared = metadata;
    std::vector<JpegSegment> extra;
    if (xmpForm(map)) {
        if (std::optional<std::vector<std::uint8_t>> xmp = meta::declareGainMap(metadata.xmp, mapJpeg.bytes().size()))
            declared.xmp = std::move(*xmp);
    }
    if (isoForm(map))
        extra.push_back({app2, map.isoVersion});
    if (declared.xmp == metadata.xmp && extra.empty())
        return alone(); // declared in no form
    extra.push_back({app2, mpfPayload(0, 0, 0)});

    JpegData photo = encodeJpeg(bitmap, settings, declared, extra);
    if (!photo)
        return {std::move(photo), {}};
    if (photo.bytes().size() > maxLength ||
        !patchMpf(photo.bytes(), static_cast<std::uint32_t>(mapJpeg.bytes().size())))
        return alone();
    return {std::move(photo), std::move(mapJpeg)};
}

} // namespace convertimg
