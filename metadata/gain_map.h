// A phone's HDR gain map ("Ultra HDR"): the second, small JPEG after the photo that HDR screens
// use to show its highlights, found through the photo's MPF index and declared in its XMP
// (hdrgm:, with a GContainer directory) or in ISO 21496-1 form, or both. The library reads it
// with the photo and carries it, scaled in step with the photo, in a block of the bitmap; the
// converter writes it back after the new JPEG.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

namespace meta {

// A gain map as the bitmap carries it from the library to the converter: its pixels, upright and
// scaled like the photo's, and the metadata of its JPEG, unchanged.
struct GainMap {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::uint8_t channels = 0;         // 1 (grey) or 3 (red, green, blue)
    std::vector<std::uint8_t> pixels;  // rows top to bottom, width * channels bytes each
    // How the photo declared its map, which the new JPEG declares the same way: hdrgm:Version in
    // the photo's XMP, and the ISO 21496-1 version block (its APP2 payload, identifier included).
    bool xmpForm = false;
    std::vector<std::uint8_t> isoVersion;
    // The map JPEG's own segments, as payloads: its XMP APP1 (kXmpId and the hdrgm: values), its
    // ISO 21496-1 APP2 (identifier and metadata) and its ICC profile, whole; each empty when absent.
    std::vector<std::uint8_t> xmp;
    std::vector<std::uint8_t> iso;
    std::vector<std::uint8_t> icc;

    bool empty() const { return pixels.empty(); }
};

// The most a carried map holds: pixels as many bytes as the library's largest image, and an ICC
// profile as long as the 255 APP2 segments of a JPEG can hold.
inline constexpr std::uint64_t kMaxGainMapBytes = std::uint64_t{1} << 30;
inline constexpr std::size_t kMaxGainMapIccBytes = 255 * (0xFFFF - 2 - 14);

// The bitmap block that carries `map`:
//   [payload: n bytes][n: 32 bits, little-endian]["RedimGmp"]
// It is written first after the pixel array, before the metadata blocks (carrier.h): readers
// that walk back from the end through the blocks they know stop at it, as its n may exceed
// 65533. The payload holds width and height (32 bits each), channels (8 bits), the forms (8 bits:
// bit 0 for xmpForm), then isoVersion, xmp, iso and icc, each as a 32-bit length and its bytes,
// then the pixels; numbers little-endian. Empty for an empty map or one past the limits above.
std::vector<std::uint8_t> gainMapBlock(const GainMap &map);

// The gain map carried by `file`, a bitmap whose headers describe data up to `dataEnd`: the
// block that starts exactly at `dataEnd` and ends where the metadata blocks begin. Empty when
// there is none or it is damaged in any way (sizes, counts, lengths past the block).
GainMap carriedGainMap(std::span<const std::uint8_t> file, std::uint64_t dataEnd);

// ---- The map's metadata, in either form ------------------------------------------------------

// What an APP2 payload starts with when it holds an ISO 21496-1 block, its final zero included.
inline constexpr std::string_view kIsoGainMapId{"urn:iso:std:iso:ts:21496:-1\0", 28};

// A map's metadata in the terms of its XMP form (gains and capacities in log2 units), one value
// per channel (the three alike for a single value).
struct GainMapValues {
    std::array<double, 3> gainMapMin{};
    std::array<double, 3> gainMapMax{};
    std::array<double, 3> gamma{};
    std::array<double, 3> offsetSdr{};
    std::array<double, 3> offsetHdr{};
    double hdrCapacityMin = 0;
    double hdrCapacityMax = 0;
    bool useBaseColourSpace = true;  // false: the map applies in the colours of its own ICC profile

    // Every value finite, gamma above 0, each minimum at most its maximum, offsets and the lower
    // capacity not negative, and the upper capacity above the lower (an SDR photo).
    bool valid() const;
    bool sameOnEveryChannel() const;
};

// The primary's ISO 21496-1 version block (identifier, minimum_version, writer_version): true when
// a reader of version 0 may use the form.
bool isoVersionUsable(std::span<const std::uint8_t> payload);

// The values of a map's ISO 21496-1 APP2 payload: minimum_version 0, no flag but
// is_multichannel, use_base_colour_space and the reserved bits a common denominator is not
// among (0x08 lays the block out otherwise), exactly the length its channels take, no
// denominator of 0, and valid(). Nothing otherwise.
std::optional<GainMapValues> isoGainMapValues(std::span<const std::uint8_t> payload);

// Whether a photo's XMP APP1 payload declares a gain map (hdrgm:Version).
bool declaresGainMap(std::span<const std::uint8_t> xmpPayload);

// The hdrgm: values of a map's XMP APP1 payload, as attributes or elements, a channelled value as
// one number or an rdf:Seq of 1 or 3: Version "1.0", GainMapMax and HDRCapacityMax present, the
// others defaulting as the format says, BaseRenditionIsHDR not True, and valid(). Nothing
// otherwise.
std::optional<GainMapValues> xmpGainMapValues(std::span<const std::uint8_t> xmpPayload);

}  // namespace meta
