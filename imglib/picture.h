// What a handle names: an image, and for an image just read, the JPEG file it came from and
// perhaps a scaled copy made while reading it.
//
// The program reads a photo and then scales it, photo after photo, at one rate.  Knowing the
// rate while decoding lets the library decode a reduction at a smaller size (libjpeg's reduced
// inverse DCT is cheaper) and scale each band of rows on a second core while the next band is
// being decoded.  So the library remembers the rate of the last scaling and, when reading the
// next photo, prepares that scaling too.  Whatever was prepared, ZoomDIB gives exactly the
// image it would give without it: a scaling is always made from a decode at the size
// decodeEighths() chooses for its rate, from the bytes of the file as they were read.
#pragma once

#include "imglib/image.h"
#include "imglib/jpeg_reader.h"
#include "metadata/gain_map.h"

#include <cstdint>
#include <memory>

namespace imglib {

struct Picture {
    std::shared_ptr<const Image> pixels;   // the image at its size; null when not decoded at it
    std::shared_ptr<const JpegFile> jpeg;  // for an image just read: the file, to decode again
    int width = 0;                         // the image's size, which `pixels` has
    int height = 0;
    Density density;
    MetadataPayload metadata;  // the photo's metadata as read; null without any
    // Its HDR gain map, upright and at the image's scale; null without one.
    std::shared_ptr<const meta::GainMap> gainMap;
    // A scaling prepared while reading, for the ZoomDIB call expected next.
    std::int32_t preparedX = 0;
    std::int32_t preparedY = 0;
    std::shared_ptr<const Image> prepared;
};

// round(size * percent / 100), at least 1; sizes are at most 2^30 and percents 1000.
std::int64_t scaledSize(int size, std::int32_t percent);

// The eighths (1, 2, 4 or 8) of its size a JPEG is decoded at before being scaled by scaleX and
// scaleY percent: the smallest that still leaves the resampler kFilterReduction or more on both
// axes (resample.h says why).
int decodeEighths(std::int32_t scaleX, std::int32_t scaleY);

// Reads the JPEG file at `path`, preparing the scaling expected next.  Null if the file cannot
// be read completely and cleanly.  Throws std::bad_alloc when memory runs out.
std::shared_ptr<const Picture> readPicture(const char *path);

// The picture scaled by scaleX and scaleY percent (1 to 1000), or null when the result would be
// too large to hold.  Throws std::bad_alloc when memory runs out.
std::shared_ptr<const Picture> zoomPicture(const Picture &picture, std::int32_t scaleX, std::int32_t scaleY);

// True when zoomPicture() decodes the file again for this scaling, instead of using what the
// picture holds: the pixels it holds are then of no use to it.
bool zoomDecodesAgain(const Picture &picture, std::int32_t scaleX, std::int32_t scaleY);

// The pixels to write for a picture, decoding them when only a scaling was prepared; null if
// that decode fails.  Throws std::bad_alloc when memory runs out.
std::shared_ptr<const Image> picturePixels(const Picture &picture);

// Forgets the scaling expected next, so that the next read prepares none (for tests).
void forgetExpectedScaling();

}  // namespace imglib
