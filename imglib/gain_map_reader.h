// A phone's HDR gain map ("Ultra HDR"): found through the photo's MPF index, read from the file,
// checked, decoded, turned upright with the photo, and scaled in step with it.
#pragma once

#include "imglib/jpeg_reader.h"
#include "metadata/gain_map.h"

#include <cstdint>
#include <memory>

namespace imglib {

// The gain map of the photo at `path`, read as `photo` (up to its end of image) with `metadata`
// (null without any), whose upright size is width x height.  The map is the first image the
// photo's MPF index lists after it whose JPEG holds gain map metadata in a form the photo declares
// (hdrgm:Version in its XMP, or the ISO 21496-1 version block); only the forms whose metadata is
// valid are kept.  Null, and the photo read without its map, when there is none, or it lies
// outside the file, decodes with any error, is not 8-bit grey or colour, is larger than the photo,
// its proportions differ from the photo's by more than 1 %, or its gains differ between
// channels while the photo's colours were converted to sRGB and no ISO alternate colour profile
// makes up for it.  Throws std::bad_alloc when memory runs out.
std::shared_ptr<const meta::GainMap> readGainMap(const char *path, const JpegFile &photo,
                                                 const meta::Metadata *metadata, int width, int height);

// The map scaled as its photo is by scaleX and scaleY percent: each side round(side * scale /
// 100), at least 1, by the photo's resampler.  Throws std::bad_alloc when memory runs out.
std::shared_ptr<const meta::GainMap> scaleGainMap(const meta::GainMap &map, std::int32_t scaleX, std::int32_t scaleY);

}  // namespace imglib
