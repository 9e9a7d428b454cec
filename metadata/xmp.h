// XMP packets, the payload of a JPEG's APP1 "http://ns.adobe.com/xap/1.0/" segment: the photo's
// story as photo editors write it, fitted to the upright, resized copy the program makes.
#pragma once

#include "metadata/exif.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace meta {

// What an APP1 payload starts with when an XMP packet follows, its final zero included.
inline constexpr std::string_view kXmpId{"http://ns.adobe.com/xap/1.0/\0", 29};

// Largest XMP packet in one APP1 segment: the segment's payload less the identifier. Larger
// packets are split into extended XMP, which describes pixels the copy no longer has and is
// never carried.
inline constexpr std::size_t kMaxXmpPacket = kMaxPayload - kXmpId.size();

// The location rule: a property gives away where the photo was taken when its local name says
// so, whatever its namespace, prefix or letter case, as an attribute or as an element (which goes
// with all it holds):
//   - a name that starts with "GPS": exif:GPS*, whatever URI the exif namespace is written
//     with, the coordinates of Iptc4xmpExt locations, DJI's drone-dji:GpsLatitude,
//     GpsLongitude and the misspelt GpsLongtitude, a GPSLatitude in any namespace;
//   - a name that ends with "Latitude", "Longitude", "Longtitude" or "Altitude": DJI's Latitude,
//     Longitude, AbsoluteAltitude and RelativeAltitude, Darwin Core's decimalLatitude...;
//   - a name that starts with "EarthPose": a depth photo's position on Earth (Device:EarthPose
//     and its fields, EarthPoseLatitude as exiftool names them).
// Names that only look alike stay: photoshop:AuthorsPosition (a job title), tiff:YCbCrPositioning,
// exif:SubjectLocation (a point of the picture), exifEX:ISOSpeedLatitudeyyy (an exposure
// setting), poses relative to the camera (Device:Pose, PositionX...) and headings, which tell
// no place; and place names (photoshop:City, Iptc4xmpCore:Location...), which people write
// themselves and which IPTC records carry too.
bool namesLocation(std::string_view localName);

// The packet made fit for an upright copy of width x height pixels, changing and removing what
// the metadata policy says (cleaned() in metadata.h), or nothing when it does not parse as one
// UTF-8 XML document (a DOCTYPE included: XMP has none), when its root element would go, or when
// it cannot be made to fit kMaxXmpPacket. Properties are known by their namespace's URI, whatever
// the prefix (a location by its name alone), written as attributes of their rdf:Description or as
// elements alike, an element going with all it holds; everything else stays byte for byte.
// Cleaning a cleaned packet again with the same size gives the same bytes.
std::optional<std::string> cleanXmp(std::string_view packet, std::uint32_t width, std::uint32_t height);

}  // namespace meta
