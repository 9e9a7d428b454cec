// IPTC-IIM records, which photo editors keep in a JPEG's APP13 "Photoshop 3.0" segment as its
// image resource 0x0404: caption, keywords, credit and rights; found, checked and written back as
// the segment's one resource (what is carried: cleaned() in metadata.h).
#pragma once

#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

namespace meta {

// What an APP13 payload starts with when Photoshop's image resources follow.
inline constexpr std::string_view kPhotoshopId{"Photoshop 3.0\0", 14};

// The IIM records of an APP13 payload, or nothing (an empty span) when it holds none, or when
// its resources or its records run outside it. Reads only inside `payload`.
std::span<const std::uint8_t> iptcRecords(std::span<const std::uint8_t> payload);

// True when `records` is a whole number of IIM datasets (trailing zero padding allowed).
bool iptcIsWhole(std::span<const std::uint8_t> records);

// The APP13 payload that holds `records` as its one resource, 0x0404, or an empty one when it
// would not fit a segment.
std::vector<std::uint8_t> photoshopPayload(std::span<const std::uint8_t> records);

}  // namespace meta
