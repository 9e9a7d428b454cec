// JPEG encoder: compresses a decoded bitmap into a JPEG held in memory, with libjpeg-turbo.
#pragma once

#include "convertimg/bmp_reader.h"
#include "convertimg/jpeg_settings.h"
#include "metadata/gain_map.h"
#include "metadata/metadata.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace convertimg {

// A compressed JPEG, or the reason there is none.
class JpegData {
public:
    explicit operator bool() const { return data_ != nullptr; }
    std::span<const std::uint8_t> bytes() const { return {data_.get(), size_}; }
    std::span<std::uint8_t> bytes() { return {data_.get(), size_}; }
    const std::string& error() const { return error_; }

private:
    template <class Source>
    friend JpegData compressed(const Source&);
    struct Free {
        void operator()(unsigned char* p) const { std::free(p); }
    };
    std::unique_ptr<unsigned char, Free> data_; // allocated by libjpeg's memory destination
    std::size_t size_ = 0;
    std::string error_;
};

// Compresses `bitmap` with the settings settingsFor() picks for it (jpeg_settings.h; images of
// more than streamedFromPixels pixels always stream with the standard Huffman tables), and stores
// the bitmap's resolution as the JPEG density in dots per inch when the file gave one.
// Each kind of `metadata` present is written right after the JFIF header, in the order cameras
// and editors use: APP1 EXIF, APP1 XMP, APP13 IPTC, then the comments (COM). The payloads are
// written as they are (clean them first: meta::cleaned()); one too long for a segment (over
// 65533 bytes) is left out.
// Never exits or throws on a libjpeg error: the result is then empty and error() says why.
JpegData encodeJpeg(const Bitmap& bitmap, const meta::Metadata& metadata = {});

// A segment written as it is: its marker (0xE2 for APP2...) and its payload.
struct JpegSegment {
    int marker = 0;
    std::vector<std::uint8_t> payload;
};

// The same with `settings` rather than those settingsFor() picks, and `extra` written after the
// metadata's segments.
JpegData encodeJpeg(const Bitmap& bitmap, const JpegSettings& settings, const meta::Metadata& metadata,
                    std::span<const JpegSegment> extra);

// The JPEG of a gain map's pixels at `quality`: grey in one component, three channels at their
// full resolution (a map's channels are gains, which chroma subsampling would mix), with fitted
// Huffman tables. Its own segments follow the start of image at once, byte for byte: its XMP,
// its ISO 21496-1 block, then its ICC profile; no JFIF header, no density.
JpegData encodeGainMap(const meta::GainMap& map, int quality);

// Images of more pixels than this are coded in one sequential scan with the standard Huffman
// tables, which libjpeg-turbo compresses row by row. Optimised tables (and progressive scans)
// first keep every coefficient of the image, as much memory again as a 4:2:0 image's pixels, for
// a file a few percent smaller. 2^26 pixels (64 Mi, 192 MiB of 4:2:0 coefficients) is above any
// camera's photo at full size, so every photo written at up to 100 % keeps its optimised tables;
// above it are enlargements and bitmaps that declare far more pixels than a photo has, for which
// those few percent are not worth the memory.
inline constexpr std::uint64_t streamedFromPixels = std::uint64_t{1} << 26;

// What encodeJpeg() holds besides the bitmap, for a picture of that size: the compressed file
// (guessed at a tenth of the pixels' bytes), and below streamedFromPixels the coefficients of the
// whole image, counted at their largest (no chroma subsampling).
std::uint64_t encoderBytes(int width, int height);

// What encodeGainMap() holds besides the map, for one of `pixelBytes` bytes of pixels: the
// coefficients of its image (2 bytes a sample, no subsampling) and its JPEG.
constexpr std::uint64_t gainMapEncoderBytes(std::uint64_t pixelBytes)
{
    return pixelBytes * 2 + pixelBytes / 10;
}

// Pixels per metre to whole dots per inch, 0 when unknown or out of range of a JPEG density.
int dotsPerInch(std::int32_t pixelsPerMetre);

} // namespace convertimg
