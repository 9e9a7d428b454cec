// A photo's metadata as the program carries it from a JPEG through its bitmap to the new JPEG:
// each kind as the payload of the segment that holds it in a JPEG file.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace meta {

struct Metadata {
    std::vector<std::uint8_t> exif;                   // APP1: "Exif\0\0" and a TIFF block
    std::vector<std::uint8_t> xmp;                    // APP1: kXmpId and an XMP packet
    std::vector<std::uint8_t> iptc;                   // APP13: "Photoshop 3.0\0" and IIM records
    std::vector<std::vector<std::uint8_t>> comments;  // COM segments, in their order

    bool empty() const { return exif.empty() && xmp.empty() && iptc.empty() && comments.empty(); }
};

// The kinds of segment a JPEG file has, as its reader finds them.
enum class Segment { Exif, Xmp, Iptc, Comment, Other };

// The kind of an APPn (n = marker - 0xE0) or COM (marker 0xFE) segment with `payload`. Extended
// XMP ("http://ns.adobe.com/xmp/extension/") is Other: it describes pixels the copy no longer
// has.
Segment segmentKind(int marker, std::span<const std::uint8_t> payload);

// Adds a segment found in a JPEG file, in the file's order: the first of each kind but the
// comments is kept, every comment is.
void take(Metadata &metadata, Segment kind, std::span<const std::uint8_t> payload);

// The metadata made fit for an upright sRGB copy of width x height pixels: the EXIF by clean(),
// the XMP packet by cleanXmp(), the IPTC records kept whole (as the one resource of a new
// segment), the comments as they are. A kind that is damaged is dropped alone.
Metadata cleaned(const Metadata &metadata, std::uint32_t width, std::uint32_t height);

}  // namespace meta
