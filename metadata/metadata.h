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

// The metadata made fit for an upright sRGB copy of width x height pixels.  This is the metadata
// policy of the program, stated here only: both phases apply it, the converter again with the
// bitmap's own size, since a bitmap may come from elsewhere.
//   - EXIF (clean() in exif.h, which says how):
//       kept: every tag but those below: dates, camera and lens, exposure settings, author,
//         copyright, description, the maker note...;
//       changed: Orientation becomes 1 (upright); PixelXDimension and PixelYDimension, and
//         ImageWidth and ImageLength where IFD0 has them, give the new size; ColorSpace becomes 1
//         (sRGB); an Exif directory is added when there is none;
//       removed: the GPS directory, wherever its pointer stands; the thumbnail (IFD1 and its
//         image); any directory found where it does not belong (the Exif directory belongs in
//         IFD0, the Interop directory in the Exif directory, nothing else anywhere), with all it
//         leads to; the XMP (tag 0x02BC) and Photoshop's image resources (tag 0x8649, whose
//         resource 0x0424 is XMP) stored inside the EXIF: a second story of the photo as it was,
//         its location possibly in it, which the XMP segment tells already.
//   - XMP (cleanXmp() in xmp.h, which says how):
//       kept: every property but those below: creator, rights, title, description and keywords
//         (dc:), the rating, photoshop:, Iptc4xmpCore: and xmpRights: fields, camera and lens
//         data...;
//       changed: tiff:Orientation becomes 1; tiff:ImageWidth and exif:PixelXDimension, and
//         tiff:ImageLength and exif:PixelYDimension, where present, give the new size;
//       removed: every property that names a location (the location rule: namesLocation() in
//         xmp.h), face and person regions (mwg-rs:Regions, MP:RegionInfo), the edit history and
//         ancestry (xmpMM:History, xmpMM:DerivedFrom, photoshop:DocumentAncestors), the gain
//         map's description (hdrgm:) and the directory of the items stored after the photo
//         (Container:Directory), which the converter declares again for a gain map it writes,
//         and the pointer to extended XMP (xmpNote:HasExtendedXMP).
//   - IPTC-IIM (iptc.h): the records kept as they are (caption, keywords, credit, rights: no
//     coordinates), as the one resource of a new segment; Photoshop's other resources
//     (thumbnails, its own settings) removed.
//   - Comments: kept as they are, in their order.
// A kind that is damaged in any way is dropped whole and alone, never the photo.  Not carried at
// all (segmentKind(), and the readers, which stop at the end of the image): extended XMP, and the
// depth images and other pictures that follow a phone's photo; they describe pixels the copy no
// longer has.  An HDR gain map ("Ultra HDR", gain_map.h) is the one exception: scaled in step
// with the photo, it goes in a block of its own with its metadata unchanged.
Metadata cleaned(const Metadata &metadata, std::uint32_t width, std::uint32_t height);

}  // namespace meta
