// The JPEG file of a bitmap that carries a phone's HDR gain map: an Ultra HDR file, the photo's
// JPEG followed by the gain map's, declared as the input declared it.
#pragma once

#include "convertimg/bmp_reader.h"
#include "convertimg/jpeg_writer.h"
#include "metadata/gain_map.h"
#include "metadata/metadata.h"

namespace convertimg {

// The JPEGs of one output file, in their order in it.
struct PhotoJpegs {
    JpegData photo;
    JpegData gainMap; // empty when the file is the photo alone
};

// The photo's JPEG as encodeJpeg() makes it, and when `map` can be written, the map's JPEG
// (encodeGainMap(), at the photo's quality), encoded first so that the photo can state its
// length. The photo then declares it in each form the input did, after its metadata:
//   - XMP: its packet with hdrgm:Version and the GContainer directory (meta::declareGainMap());
//   - ISO 21496-1: the version block the input had, an APP2 segment;
// and lists both JPEGs in an MPF index (APP2 "MPF", CIPA DC-007), which every Ultra HDR reader
// that looks for the map through it needs. A map that cannot be written (no form it can be
// declared in, a payload too large for its segment, pixels that do not match its size, a size
// JPEG cannot code) is left out: the photo is written alone, as for a bitmap without a map.
PhotoJpegs encodePhoto(const Bitmap& bitmap, meta::Metadata metadata, const meta::GainMap& map);

} // namespace convertimg
