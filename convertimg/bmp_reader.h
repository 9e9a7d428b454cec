// Bitmap (.bmp) file reader: turns the bytes of a Windows bitmap into rows the JPEG encoder can take.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string_view>

namespace convertimg {

// Why a file was refused. Every value but None names one way a file can be unusable.
enum class BmpError {
    None,
    NotBitmap,              // no "BM" signature
    Truncated,              // the file ends inside the headers, the palette or the pixels (for
                            // run-length-encoded pixels: before their end-of-bitmap code)
    UnsupportedHeader,      // OS/2 or unknown information header
    UnsupportedCompression, // RLE on a depth other than 8 or 4, embedded JPEG/PNG, alpha bit fields...
    UnsupportedDepth,       // bits per pixel other than 1, 4, 8, 16, 24, 32 (or 16/32 without masks support)
    BadDimensions,          // width not positive, height zero, or top-down run-length-encoded pixels
    TooLarge,               // decoded image would exceed maxDecodedBytes
    BadMasks,               // empty, overlapping or non-contiguous colour masks
    BadPalette,             // more colours declared than the depth allows
    BadPixelOffset,         // pixel data said to start inside the headers
    OutOfMemory,            // no memory for the converted pixels
    BadRunLength,           // a run-length code leaves the picture (past the row's padding or the top)
};

// A short English phrase for messages ("truncated file", ...).
std::string_view describe(BmpError error);

// How the pixels of a row are laid out in memory.
enum class PixelLayout {
    Bgr,  // 3 bytes per pixel: blue, green, red
    Bgrx, // 4 bytes per pixel: blue, green, red, ignored
};

// A decoded bitmap. Rows either point into the file's bytes (24-bit and plain 32-bit files, read
// without a copy) or into pixels converted by the reader; in the first case the bytes handed to
// readBitmap must outlive the Bitmap.
class Bitmap {
public:
    int width = 0;
    int height = 0;
    PixelLayout layout = PixelLayout::Bgr;
    // Resolution in pixels per metre as the file states it; 0 or negative means unknown.
    std::int32_t xPixelsPerMetre = 0;
    std::int32_t yPixelsPerMetre = 0;
    // Where in the file the pixel data the headers describe ends: their offset plus the larger of
    // the size the header states and that of the rows uncompressed (compressed pixels take less,
    // so nothing after this is ever pixel data). What follows may be a block of our own.
    std::uint64_t pixelsEnd = 0;

    // First byte of row y, counted from the top of the picture.
    const std::uint8_t* row(int y) const { return base() + topOffset_ + static_cast<std::ptrdiff_t>(y) * stride_; }
    int bytesPerPixel() const { return layout == PixelLayout::Bgr ? 3 : 4; }

private:
    friend BmpError decodeBitmap(std::span<const std::uint8_t>, Bitmap&);
    const std::uint8_t* base() const { return converted_ ? converted_.get() : external_; }

    const std::uint8_t* external_ = nullptr;    // start of the file's bytes when rows are not copied
    std::unique_ptr<std::uint8_t[]> converted_; // own pixels, top-down BGR, when the reader converted them
    std::ptrdiff_t topOffset_ = 0;              // from base() to the top row
    std::ptrdiff_t stride_ = 0;                 // from one row to the row below; negative for bottom-up files
};

// Largest picture accepted, counted as 3 bytes per pixel: 1 GiB.
inline constexpr std::uint64_t maxDecodedBytes = std::uint64_t{1} << 30;

// A picture's size as its headers declare it, and whether the reader converts its rows into
// pixels of its own (every layout but 24-bit and plain 32-bit rows, which are read in place).
struct BitmapShape {
    int width = 0;
    int height = 0;
    bool convertsRows = false;
    std::uint64_t pixelsEnd = 0; // as Bitmap::pixelsEnd: what follows may be blocks of our own
};

// The shape declared by the first bytes of a bitmap file (the file header and the start of the
// information header: 54 bytes), or nothing when they hold no picture readBitmap() would take on.
// Only an estimate of what reading it will need: readBitmap() checks everything.
std::optional<BitmapShape> peekShape(std::span<const std::uint8_t> head);

// Reads a whole bitmap file held in `file`. On success fills `out` and returns BmpError::None;
// otherwise returns the reason and leaves `out` empty (width and height 0). Never reads outside
// `file`, whatever its content.
BmpError readBitmap(std::span<const std::uint8_t> file, Bitmap& out);

} // namespace convertimg
