// The declaration of a gain map in a photo's XMP, as Ultra HDR files make it: hdrgm:Version, which
// tells readers the file has one, and the GContainer directory, which lists the JPEGs of the file.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace meta {

// The XMP APP1 payload `xmp` (kXmpId and a packet, or empty for a photo without XMP) that also
// declares a gain map JPEG of `mapLength` bytes right after the photo: hdrgm:Version="1.0" and a
// Container:Directory of two items, the photo ("Primary"), then the map ("GainMap", Item:Length
// `mapLength`), in an rdf:Description of their own with their namespaces declared on it, the
// first of the packet's rdf:RDF; a packet of its own when it has none. Everything else
// stays byte for byte. Clean the packet first (cleanXmp() removes an earlier declaration).
// Nothing when the packet does not parse or the result would not fit one segment.
std::optional<std::vector<std::uint8_t>> declareGainMap(std::span<const std::uint8_t> xmp, std::uint64_t mapLength);

}  // namespace meta
