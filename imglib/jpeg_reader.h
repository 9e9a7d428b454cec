// Reads a JPEG file into an upright sRGB image, at its own size or reduced by libjpeg.
#pragma once

#include "imglib/image.h"
#include "metadata/metadata.h"

#include "common/regular_file.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

namespace imglib {

// Progressive files with more scans than this are refused: real encoders write about ten, and
// each scan of a crafted file can cost a pass over the whole coefficient buffer.
inline constexpr int kMaxScans = 500;

// The bytes of a JPEG file, read once so that the image can be decoded again at another size
// without going back to a file that may have changed since.
struct JpegFile {
    budget::Buffer bytes;
    std::size_t size = 0;  // up to the image's end-of-image marker
    // The file as it was opened: what follows the image (a gain map) is read from it only while
    // it is still the same file.
    common::FileIdentity identity;
};

// The file at `path` up to the end of its image, or null when it is not a regular, non-empty file
// that can be read, or holds no whole image (common::readJpegImage).  Throws std::bad_alloc when
// memory runs out.
std::shared_ptr<const JpegFile> loadJpegFile(const char *path);

// A JPEG's metadata as read (its first EXIF, XMP and IPTC segments and its comments), shared by
// every image made from the photo.
using MetadataPayload = std::shared_ptr<const meta::Metadata>;

// Told what a decode is doing, for the caller to start scaling rows while later ones are still
// being decoded.
class DecodeListener {
public:
    virtual ~DecodeListener() = default;
    // The upright size of the image is known: returns the eighths (1, 2, 4 or 8) of that size
    // to decode at.
    virtual int eighths(int width, int height)
    {
        (void)width;
        (void)height;
        return 8;
    }
    // The image the rows go into exists (its pixels not yet set).  A listener that keeps
    // reading it keeps it alive as long as it does.
    virtual void started(const std::shared_ptr<const Image> &image) { (void)image; }
    // Rows [0, rows) of the image are final.  Called with growing counts, the last time with
    // the image's height once every row is final.
    virtual void rowsDone(int rows) { (void)rows; }
};

// The image, decoded at the size the listener chose, or null if the file cannot be decoded
// completely and cleanly (the file is decoded completely whatever the size).  `width` and
// `height` receive the upright size of the image at full scale, and `metadata`, when given, a
// copy of the file's metadata (null without any).  Throws std::bad_alloc when memory runs out,
// and whatever the listener throws.
std::shared_ptr<Image> decodeJpeg(const JpegFile &file, DecodeListener &listener, int &width, int &height,
                                  MetadataPayload *metadata = nullptr);

// A gain map's JPEG decoded as it is stored: its values are codes, so no colour profile applies,
// and neither does an orientation of its own.
struct DecodedGainMap {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::uint8_t channels = 0;         // 1, or 3 in the order R, G, B
    std::vector<std::uint8_t> pixels;  // rows top to bottom, width * channels bytes each
    std::vector<std::uint8_t> icc;     // its ICC profile, whole; empty without one
};

// `file` decoded as a gain map: 8-bit, one component or three (YCbCr or RGB), at most mostWidth x
// mostHeight, decoding completely and cleanly under the limits decodeJpeg() sets. Nothing
// otherwise.  Throws std::bad_alloc when memory runs out.
std::optional<DecodedGainMap> decodeGainMap(const JpegFile &file, std::uint64_t mostWidth, std::uint64_t mostHeight);

// True when decoding `file` converts its colours through its ICC profile: a profile other than
// sRGB that describes them.
bool convertsColours(const JpegFile &file);

}  // namespace imglib
