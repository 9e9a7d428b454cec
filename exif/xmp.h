// XMP packets, the payload of a JPEG's APP1 "http://ns.adobe.com/xap/1.0/" segment: the photo's
// story as photo editors write it, fitted to the upright, resized copy the program makes.
#pragma once

#include "exif.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace exif {

// What an APP1 payload starts with when an XMP packet follows, its final zero included.
inline constexpr std::string_view kXmpId{"http://ns.adobe.com/xap/1.0/\0", 29};

// Largest XMP packet in one APP1 segment: the segment's payload less the identifier. Larger
// packets are split into extended XMP, which describes pixels the copy no longer has and is
// never carried.
inline constexpr std::size_t kMaxXmpPacket = kMaxPayload - kXmpId.size();

// The packet made fit for an upright copy of width x height pixels, or nothing when it does not
// parse as one UTF-8 XML document (a DOCTYPE included: XMP has none) or cannot be made to fit
// kMaxXmpPacket. Properties are known by their namespace's URI, whatever the prefix, written as
// attributes of their rdf:Description or as elements alike; everything else stays byte for byte:
//   - changed: tiff:Orientation becomes 1; tiff:ImageWidth and exif:PixelXDimension, and
//     tiff:ImageLength and exif:PixelYDimension, where present, give the new size;
//   - removed: every exif:GPS* property (the location coordinates of Iptc4xmpExt locations among
//     them) and Iptc4xmpExt GPS* fields, face and person regions (mwg-rs:Regions, MP:RegionInfo),
//     the edit history and ancestry (xmpMM:History, xmpMM:DerivedFrom,
//     photoshop:DocumentAncestors), the gain map's description (hdrgm:*) and the pointer to
//     extended XMP (xmpNote:HasExtendedXMP).
// Cleaning a cleaned packet again with the same size gives the same bytes.
std::optional<std::string> cleanXmp(std::string_view packet, std::uint32_t width, std::uint32_t height);

}  // namespace exif
