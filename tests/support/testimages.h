// Test images for Redim Jpeg's tests: real JPEG files made with libjpeg-turbo from generated
// pixels, metadata like a camera's and a photo editor's, and a reader for the 24-bit bitmaps the
// program writes.
// No test framework inside; failures to make or write a file throw std::runtime_error with the
// reason.
#pragma once

#include "metadata/gain_map.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace testimages {

// An RGB picture: rows top to bottom, 3 bytes per pixel in the order R, G, B.
struct RgbImage {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> rgb;

    RgbImage() = default;
    RgbImage(int w, int h);  // black
    std::uint8_t *at(int x, int y) { return rgb.data() + (static_cast<std::size_t>(y) * width + x) * 3; }
    const std::uint8_t *at(int x, int y) const { return rgb.data() + (static_cast<std::size_t>(y) * width + x) * 3; }
};

// ---- Patterns -------------------------------------------------------------------------------

// Every pixel the same colour.
RgbImage flat(int width, int height, std::uint8_t r, std::uint8_t g, std::uint8_t b);
// Smooth ramps: red grows left to right, green top to bottom, blue is constant 96.  Compresses
// well and shows any shift, flip or channel swap.
RgbImage gradient(int width, int height);
// Four flat quadrants, red top left, green top right, blue bottom left, white bottom right:
// tells every orientation apart.
RgbImage quadrants(int width, int height);
// One-pixel vertical stripes, black in even columns and white in odd ones.
RgbImage stripes(int width, int height);

// ---- JPEG -----------------------------------------------------------------------------------

enum class Subsampling {
    S444,     // no subsampling
    S422,     // chroma halved across
    S420,     // halved across and down
    S440,     // halved down
    S411,     // quartered across
    Unusual,  // luma 2x2, Cb 1x2, Cr 2x1: legal, rare, handled by libjpeg's generic code paths
};

enum class ColourModel {
    YCbCr,         // the usual JFIF file
    Rgb,           // RGB stored as it is (Adobe marker with transform 0)
    Gray,          // one channel: the luma of the pixels
    Cmyk,          // CMYK, 255 = full ink, no Adobe marker
    InvertedCmyk,  // CMYK as Adobe's applications write it: 0 = full ink, Adobe marker
    Ycck,          // inverted CMYK stored as YCCK, Adobe marker with transform 2
};

// A scan of a progressive file, as jpegtran's scan scripts give it: the indexes of its
// components, its band Ss..Se and its successive approximation Ah, Al.
struct Scan {
    std::vector<int> components;
    int ss = 0, se = 0, ah = 0, al = 0;
};

struct JpegOptions {
    int quality = 92;
    Subsampling subsampling = Subsampling::S420;  // YCbCr and YCCK only; others are full size
    ColourModel colour = ColourModel::YCbCr;
    bool progressive = false;
    // With progressive: a DC scan, then one scan of all AC coefficients per component, without
    // successive approximation.  Such scans may be repeated in a file without changing it.
    bool spectralSelectionOnly = false;
    std::vector<Scan> scans;  // with progressive: these scans, when there are any
    bool arithmetic = false;
    bool optimizeHuffman = false;
    bool nonInterleaved = false;            // one sequential scan per component (not with progressive)
    int restartInterval = 0;                // in MCUs; 0 = no restart markers
    int exifOrientation = 0;                // 1 to 8 writes an EXIF APP1 with that tag; 0 writes none
    bool exifBigEndian = false;             // "MM" instead of "II" byte order in the EXIF block
    std::vector<std::uint8_t> exifPayload;  // when not empty, the APP1 payload written instead
    std::vector<std::uint8_t> iccProfile;   // written as APP2 ICC_PROFILE markers if not empty
    // Written after the EXIF and the profile, in this order: a marker (0xE1 for APP1, 0xFE for a
    // comment...) and its payload.
    std::vector<std::pair<int, std::vector<std::uint8_t>>> segments;
    int densityUnit = 0;  // JFIF density: 0 none, 1 dots per inch, 2 dots per cm
    int xDensity = 1;
    int yDensity = 1;
};

// A small RGB profile that is not sRGB (Adobe RGB (1998)'s primaries, D65, gamma 2.2), so that a
// reader has a colour transform to make.
std::vector<std::uint8_t> wideGamutProfile();

// CMYK values the plain CMYK models store for an RGB pixel (K = 255 - max(R, G, B)); the
// naive conversion back gives the RGB pixel again, to within rounding.
void rgbToCmyk(const std::uint8_t *rgb, std::uint8_t *cmyk);

// A complete JPEG file in memory.  The pixels are stored as they are: the EXIF orientation
// and the ICC profile are only labels on them.  Throws std::runtime_error with libjpeg's
// message if it refuses the options.
std::vector<std::uint8_t> encodeJpeg(const RgbImage &image, const JpegOptions &options = {});

// ---- EXIF -----------------------------------------------------------------------------------
// Offsets in an EXIF payload count from the first byte of its TIFF block (after "Exif\0\0"),
// as the block's own offsets do.

enum ExifTag : std::uint16_t {
    kImageDescription = 0x010E,
    kMake = 0x010F,
    kModel = 0x0110,
    kOrientation = 0x0112,
    kDateTime = 0x0132,
    kArtist = 0x013B,
    kSubIfds = 0x014A,
    kThumbnailOffset = 0x0201,
    kXmlPacket = 0x02BC,
    kCopyright = 0x8298,
    kExposureTime = 0x829A,
    kFNumber = 0x829D,
    kImageResources = 0x8649,
    kExifPointer = 0x8769,
    kGpsPointer = 0x8825,
    kDateTimeOriginal = 0x9003,
    kMakerNote = 0x927C,
    kColorSpace = 0xA001,
    kPixelXDimension = 0xA002,
    kPixelYDimension = 0xA003,
    kInteropPointer = 0xA005,
    kLensModel = 0xA434,
};

// What a camera writes: IFD0 (ImageDescription, Make, Model, Orientation, DateTime, Artist,
// Copyright), an Exif directory (ExposureTime, FNumber, DateTimeOriginal, a maker note, ColorSpace
// uncalibrated, PixelXDimension as a SHORT and PixelYDimension as a LONG, LensModel), a GPS
// directory and IFD1 with a JPEG thumbnail, laid out in that order.  The maker note holds a
// directory of its own whose one entry points to text inside the note.
// IFD0 with the orientation alone, as the older tests write it.
std::vector<std::uint8_t> orientationExif(int orientation, bool bigEndian);

struct TaggedExif {
    std::vector<std::uint8_t> payload;  // "Exif\0\0" and the TIFF block
    bool bigEndian = false;
    std::uint32_t ifd0 = 0, exif = 0, gps = 0, ifd1 = 0;  // the directories
    std::uint32_t makerNote = 0;                          // the maker note's value
    std::uint32_t makerNoteText = 0;                      // where the maker note's own entry points
    std::vector<std::uint8_t> gpsLatitude;                // the latitude's three rationals as stored
    std::vector<std::uint8_t> thumbnail;                  // the thumbnail JPEG
};
TaggedExif taggedExif(int orientation, bool bigEndian, int width, int height);

// A directory of a block made by exifTree(): ASCII values, and the directories it leads to, each
// hung from the pointer entry of this one with the tag `pointer` (0: as its next directory).
struct ExifTreeNode {
    std::uint16_t pointer = 0;
    std::vector<std::pair<std::uint16_t, std::string>> texts;
    std::vector<ExifTreeNode> children;
};
// The little-endian EXIF payload of a tree of directories, IFD0 at its root: any layout, the
// ones no camera writes too.
std::vector<std::uint8_t> exifTree(const ExifTreeNode &ifd0);

// True when a directory reached from IFD0, through next offsets and every entry that points to
// directories (Exif, Interop, SubIFDs, or of the IFD type), holds a GPS pointer, an XMP packet
// or Photoshop's image resources (which may hold one): a reader could find a location there.
// Reads only inside the payload.
bool reachesLocation(const std::vector<std::uint8_t> &payload);

// Photoshop's image resource `id` holding `data`, as EXIF's tag 0x8649 holds its resources:
// "8BIM", the id, an empty name, the size and the data padded to an even length.
std::string photoshopResource(std::uint16_t id, std::string data);

// The bytes of a text, as a segment's payload.
std::vector<std::uint8_t> bytesOf(std::string_view text);

// The markers and payloads of a JPEG's segments before its first scan.
std::vector<std::pair<std::uint8_t, std::vector<std::uint8_t>>> segmentsOf(const std::vector<std::uint8_t> &jpeg);

// A photo editor's story of a 64 x 48 photo, as the segments (marker and payload, for
// JpegOptions::segments) it writes: XMP with an author, keywords, a rating, an orientation and
// sizes, a location in attribute and element form, a named face and an edit history; IPTC by-line
// and keyword records; a comment.
std::vector<std::pair<int, std::vector<std::uint8_t>>> editorsStory();

// The payload of a JPEG's first APP1 "Exif" segment before its first scan; empty without one.
std::vector<std::uint8_t> exifOfJpeg(const std::vector<std::uint8_t> &jpeg);
// The same for its first APP1 XMP segment ("http://ns.adobe.com/xap/1.0/\0" and the packet).
std::vector<std::uint8_t> xmpOfJpeg(const std::vector<std::uint8_t> &jpeg);

// Whether an XMP packet names a location (an element or attribute whose local name
// meta::namesLocation() takes for one, in any namespace), as a reader of XMP sees it; nothing
// when the packet is not well-formed XML. Its own expat reading, apart from the program's cleaning.
std::optional<bool> xmpLocates(std::string_view packet);

// Writes a 16- or 32-bit number into an EXIF payload at a TIFF offset, in the block's order
// (for tests that damage a block).
void putExif16(std::vector<std::uint8_t> &payload, std::uint32_t at, std::uint16_t value);
void putExif32(std::vector<std::uint8_t> &payload, std::uint32_t at, std::uint32_t value);

// The parts of an EXIF payload tests look at.  Throws std::runtime_error when what it is asked
// for lies outside the payload.
class ExifView {
public:
    explicit ExifView(std::vector<std::uint8_t> payload);

    struct Entry {
        std::uint32_t entryAt = 0;  // the 12-byte entry
        std::uint16_t type = 0;
        std::uint32_t count = 0;
        std::uint32_t valueAt = 0;  // its value: in the entry when it fits, elsewhere otherwise
        std::vector<std::uint8_t> value;
    };
    std::uint32_t ifd0() const { return u32(4); }
    std::uint32_t next(std::uint32_t directory) const;
    std::optional<Entry> find(std::uint32_t directory, std::uint16_t tag) const;
    std::uint32_t number(const Entry &entry) const;  // its first SHORT or LONG
    std::uint16_t u16(std::uint32_t at) const;
    std::uint32_t u32(std::uint32_t at) const;
    const std::vector<std::uint8_t> &payload() const { return payload_; }

private:
    std::vector<std::uint8_t> payload_;
    bool bigEndian_;
};

// ---- Files ----------------------------------------------------------------------------------

// Both throw std::runtime_error naming the file when it cannot be written or read.
void writeFile(const std::filesystem::path &path, const std::vector<std::uint8_t> &bytes);
std::vector<std::uint8_t> readFile(const std::filesystem::path &path);

// encodeJpeg() then writeFile(); returns `path` for convenience.
std::filesystem::path writeJpeg(const std::filesystem::path &path, const RgbImage &image,
                                const JpegOptions &options = {});

// A fresh, empty folder under the system's temporary folder, removed with its contents when
// the object goes.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;
    const std::filesystem::path &path() const { return path_; }
    std::filesystem::path operator/(const std::string &name) const { return path_ / name; }

private:
    std::filesystem::path path_;
};

// ---- Bitmaps --------------------------------------------------------------------------------

// A decoded 24-bit bitmap: rows top to bottom whatever the file's order, 3 bytes per pixel in
// the file's order B, G, R.
struct Bitmap {
    int width = 0;
    int height = 0;
    bool bottomUp = true;
    std::int32_t xPelsPerMeter = 0;
    std::int32_t yPelsPerMeter = 0;
    std::vector<std::uint8_t> bgr;
    // The payloads of the blocks after the pixels, if any.
    std::vector<std::uint8_t> exif;
    std::vector<std::uint8_t> xmp;
    std::vector<std::uint8_t> iptc;
    std::vector<std::vector<std::uint8_t>> comments;
    meta::GainMap gainMap;  // the gain map block, first after the pixels, if any

    const std::uint8_t *at(int x, int y) const { return bgr.data() + (static_cast<std::size_t>(y) * width + x) * 3; }
};

// Parses an uncompressed 24-bit bitmap (BITMAPFILEHEADER followed by a BITMAPINFOHEADER or a
// larger header), bottom-up or top-down, and the gain map and metadata blocks the image library may put after
// its pixels.  Strict on purpose, so that a test notices a bitmap other programs might refuse:
// nothing when the bytes are not such a file, are truncated, the sizes in the headers (file
// size included, which counts the headers and pixels only) disagree with each other or with
// the file, or anything but well-formed metadata blocks, the EXIF one last, follows the pixels;
// `why` then says what was wrong.
std::optional<Bitmap> parseBmp24(const std::vector<std::uint8_t> &file, std::string *why = nullptr);

// The EXIF block after a bitmap's pixels: [payload][its size, 32-bit little-endian][signature].
inline constexpr char kExifBlockSignature[8] = {'R', 'e', 'd', 'i', 'm', 'E', 'x', 'f'};
void appendExifBlock(std::vector<std::uint8_t> &bitmap, const std::vector<std::uint8_t> &payload);

}  // namespace testimages
