// Bitmap (.bmp) file reader: header checks, then either a view on the file's rows or a conversion to BGR.
#include "convertimg/bmp_reader.h"

#include "imglib/imglib.h"

#include "common/bmp_layout.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <limits>
#include <new>

namespace convertimg {

namespace {

// Every bitmap the image library writes is one the converter reads, and the message for a
// larger one says how large.
static_assert(maxDecodedBytes >= IMGLIB_MAX_IMAGE_BYTES,
              "the converter must accept every bitmap the image library writes");
static_assert(maxDecodedBytes == std::uint64_t{1} << 30, "describe(BmpError::TooLarge) says 1 GiB");

using bmp::infoAt;
namespace info = bmp::info;
constexpr std::uint32_t biRgb = bmp::compression::rgb;
constexpr std::uint32_t biRle8 = bmp::compression::rle8;
constexpr std::uint32_t biRle4 = bmp::compression::rle4;
constexpr std::uint32_t biBitfields = bmp::compression::bitfields;

std::uint32_t le16(std::span<const std::uint8_t> b, std::size_t at)
{
    return bmp::get16(b.subspan(at, 2).data());
}

std::uint32_t le32(std::span<const std::uint8_t> b, std::size_t at)
{
    return bmp::get32(b.subspan(at, 4).data());
}

std::int32_t le32s(std::span<const std::uint8_t> b, std::size_t at)
{
    return static_cast<std::int32_t>(le32(b, at));
}

// Turns one colour mask of a 16- or 32-bit pixel into an 8-bit channel value.
struct Channel {
    std::uint32_t mask = 0;
    int shift = 0;                         // position of the mask's lowest bit
    int dropBits = 0;                      // low bits dropped when the mask is wider than 8 bits
    std::array<std::uint8_t, 256> scale{}; // field value (at most 8 bits) -> 0..255

    std::uint8_t operator()(std::uint32_t pixel) const { return scale[((pixel & mask) >> shift) >> dropBits]; }
};

// A usable mask is one run of set bits within the pixel's width.
bool makeChannel(std::uint32_t mask, int bitsPerPixel, Channel& c)
{
    if (mask == 0 || (bitsPerPixel < 32 && mask >> bitsPerPixel != 0))
        return false;
    c.mask = mask;
    c.shift = std::countr_zero(mask);
    const std::uint32_t field = mask >> c.shift;
    if ((field & (field + 1)) != 0) // not contiguous
        return false;
    const int bits = std::popcount(field);
    c.dropBits = bits > 8 ? bits - 8 : 0;
    const int kept = bits - c.dropBits;
    const std::uint32_t top = (std::uint32_t{1} << kept) - 1;
    for (std::uint32_t v = 0; v <= top; ++v)
        c.scale[v] = static_cast<std::uint8_t>((v * 255 + top / 2) / top);
    return true;
}

struct Layout {
    int width = 0;
    int height = 0; // always positive
    bool topDown = false;
    int bitsPerPixel = 0;
    std::uint32_t compression = 0;
    bool runLength = false; // BI_RLE8 or BI_RLE4: pixels as codes, not rows
    std::size_t headerSize = 0;
    std::uint64_t pixelOffset = 0;
    std::uint64_t stride = 0;    // bytes per row in the file, padding included
    std::uint32_t sizeImage = 0; // the pixel data's size as the header states it; 0 when it does not
};

// Compression and depth must go together: run-length codes for 8 and 4 bits only, colour masks
// for 16 and 32 bits only.
BmpError checkCompression(Layout& l)
{
    if (l.compression > biBitfields)
        return BmpError::UnsupportedCompression; // embedded JPEG or PNG, alpha bit fields...
    switch (l.bitsPerPixel) {
    case 1:
    case 4:
    case 8:
    case 24:
        l.runLength =
            (l.compression == biRle8 && l.bitsPerPixel == 8) || (l.compression == biRle4 && l.bitsPerPixel == 4);
        return l.compression == biRgb || l.runLength ? BmpError::None : BmpError::UnsupportedCompression;
    case 16:
    case 32:
        return l.compression == biRgb || l.compression == biBitfields ? BmpError::None
                                                                      : BmpError::UnsupportedCompression;
    default: return BmpError::UnsupportedDepth;
    }
}

// Every row but the last must be complete with its padding; the last needs only its pixels.
BmpError checkRowsInFile(std::span<const std::uint8_t> file, const Layout& l)
{
    const std::uint64_t lastRow =
        (static_cast<std::uint64_t>(l.width) * static_cast<std::uint64_t>(l.bitsPerPixel) + 7) / 8;
    const std::uint64_t end = l.pixelOffset + l.stride * static_cast<std::uint64_t>(l.height - 1) + lastRow;
    return end > file.size() ? BmpError::Truncated : BmpError::None;
}

BmpError readLayout(std::span<const std::uint8_t> file, Layout& l, Bitmap& out)
{
    if (file.size() < 2 || file[0] != 'B' || file[1] != 'M')
        return file.size() < 2 ? BmpError::Truncated : BmpError::NotBitmap;
    if (file.size() < infoAt(info::headerSize) + 4)
        return BmpError::Truncated;
    l.pixelOffset = le32(file, bmp::file::pixelOffset);
    l.headerSize = le32(file, infoAt(info::headerSize));
    switch (l.headerSize) {
    case info::bytes:
    case 52:
    case 56:
    case 108:
    case 124: break;
    default: return BmpError::UnsupportedHeader; // OS/2 (12, 16, 64) and unknown headers
    }
    if (file.size() < bmp::file::bytes + l.headerSize)
        return BmpError::Truncated;

    const std::int32_t width = le32s(file, infoAt(info::width));
    const std::int32_t height = le32s(file, infoAt(info::height));
    l.bitsPerPixel = static_cast<int>(le16(file, infoAt(info::bitsPerPixel)));
    l.compression = le32(file, infoAt(info::compression));
    l.sizeImage = le32(file, infoAt(info::imageSize));
    out.xPixelsPerMetre = le32s(file, infoAt(info::xPixelsPerMetre));
    out.yPixelsPerMetre = le32s(file, infoAt(info::yPixelsPerMetre));

    if (const BmpError e = checkCompression(l); e != BmpError::None)
        return e;
    // Run-length codes always go from the bottom row up: a top-down file of them is malformed.
    if (width <= 0 || height == 0 || height == std::numeric_limits<std::int32_t>::min() || (l.runLength && height < 0))
        return BmpError::BadDimensions;
    l.width = width;
    l.topDown = height < 0;
    l.height = l.topDown ? -height : height;
    if (std::uint64_t{3} * static_cast<std::uint64_t>(l.width) * static_cast<std::uint64_t>(l.height) > maxDecodedBytes)
        return BmpError::TooLarge;

    // The pixels may not start inside the headers (nor inside the masks that follow a short header).
    std::uint64_t headersEnd = bmp::file::bytes + l.headerSize;
    if (l.headerSize == info::bytes && l.compression == biBitfields)
        headersEnd += 12;
    if (l.pixelOffset < headersEnd)
        return BmpError::BadPixelOffset;
    l.stride = (static_cast<std::uint64_t>(l.width) * static_cast<std::uint64_t>(l.bitsPerPixel) + 31) / 32 * 4;
    // Run-length codes are checked against the file as they are decoded.
    return l.runLength ? BmpError::None : checkRowsInFile(file, l);
}

// Reads the colour masks of a 16- or 32-bit file: the defaults for BI_RGB, otherwise those stored
// in or right after the information header (same place for every header size we accept).
BmpError readMasks(std::span<const std::uint8_t> file, const Layout& l, std::array<Channel, 3>& rgb)
{
    std::uint32_t masks[3];
    if (l.compression == biRgb) {
        if (l.bitsPerPixel == 16) {
            masks[0] = 0x7C00;
            masks[1] = 0x03E0;
            masks[2] = 0x001F;
        } else {
            masks[0] = 0xFF0000;
            masks[1] = 0x00FF00;
            masks[2] = 0x0000FF;
        }
    } else {
        const std::size_t at = infoAt(info::masks);
        if (file.size() < at + 12)
            return BmpError::Truncated;
        for (int i = 0; i < 3; ++i)
            masks[i] = le32(file, at + 4 * static_cast<std::size_t>(i));
    }
    if ((masks[0] & masks[1]) != 0 || (masks[0] & masks[2]) != 0 || (masks[1] & masks[2]) != 0)
        return BmpError::BadMasks;
    for (int i = 0; i < 3; ++i)
        if (!makeChannel(masks[i], l.bitsPerPixel, rgb[static_cast<std::size_t>(i)]))
            return BmpError::BadMasks;
    return BmpError::None;
}

// Palette of a 1-, 4- or 8-bit file as BGR triplets. Indexes past the declared colours read black.
BmpError readPalette(std::span<const std::uint8_t> file, const Layout& l, std::array<std::uint8_t, 256 * 3>& bgr)
{
    const std::uint32_t maxColours = std::uint32_t{1} << l.bitsPerPixel;
    std::uint32_t colours = le32(file, infoAt(info::coloursUsed));
    if (colours == 0)
        colours = maxColours;
    if (colours > maxColours)
        return BmpError::BadPalette;
    const std::size_t at = bmp::file::bytes + l.headerSize;
    if (file.size() < at || (file.size() - at) / 4 < colours)
        return BmpError::Truncated;
    bgr.fill(0);
    for (std::size_t i = 0; i < colours; ++i)
        for (std::size_t c = 0; c < 3; ++c)
            bgr[i * 3 + c] = file[at + i * 4 + c];
    return BmpError::None;
}

void convertIndexed(const std::uint8_t* src, int width, int bitsPerPixel,
                    const std::array<std::uint8_t, 256 * 3>& palette, std::uint8_t* dst)
{
    const int perByte = 8 / bitsPerPixel;
    const unsigned valueMask = (1u << bitsPerPixel) - 1;
    for (int x = 0; x < width; ++x) {
        // The leftmost pixel sits in the highest bits of its byte.
        const int shift = (perByte - 1 - x % perByte) * bitsPerPixel;
        const unsigned index = (src[x / perByte] >> shift) & valueMask;
        const std::uint8_t* colour = &palette[index * 3];
        dst[0] = colour[0];
        dst[1] = colour[1];
        dst[2] = colour[2];
        dst += 3;
    }
}

void convertMasked(const std::uint8_t* src, int width, int bitsPerPixel, const std::array<Channel, 3>& rgb,
                   std::uint8_t* dst)
{
    const int bytes = bitsPerPixel / 8;
    for (int x = 0; x < width; ++x, src += bytes, dst += 3) {
        const std::uint32_t pixel = bytes == 2 ? std::uint32_t{src[0]} | std::uint32_t{src[1]} << 8
                                               : std::uint32_t{src[0]} | std::uint32_t{src[1]} << 8 |
                                                     std::uint32_t{src[2]} << 16 | std::uint32_t{src[3]} << 24;
        dst[0] = rgb[2](pixel);
        dst[1] = rgb[1](pixel);
        dst[2] = rgb[0](pixel);
    }
}

// Where run-length codes paint: the converted picture (top-down BGR) and a cursor that counts rows
// from the bottom, as the codes do. Codes may cover a row's padding, as in the rows of an
// uncompressed file (ImageMagick encodes whole padded rows); what lands there is dropped. The
// cursor may stand at the end of the padded row or just above the top row (after that row's end
// of line), but nothing may be painted beyond either.
struct RleCanvas {
    std::uint8_t* pixels = nullptr;
    int width = 0;
    int height = 0;
    int paddedWidth = 0; // pixels in a row with its padding
    const std::array<std::uint8_t, 256 * 3>* palette = nullptr;
    int x = 0;
    int y = 0;

    bool fits(unsigned count) const { return y < height && count <= static_cast<unsigned>(paddedWidth - x); }
    std::uint8_t* at(int column, int row) const
    {
        return pixels + (static_cast<std::size_t>(height - 1 - row) * static_cast<std::size_t>(width) +
                         static_cast<std::size_t>(column)) *
                            3;
    }
    void put(unsigned index)
    {
        if (x < width)
            std::memcpy(at(x, y), &(*palette)[index * 3], 3);
        ++x;
    }

    // The cursor only moves forward (left to right, bottom row first), so the pixels it passes over
    // will not be painted: they take palette index 0, as bitmap readers usually show them. Filling
    // them now, rather than the whole picture first, writes each pixel once and spares a damaged
    // file that claims a huge picture the cost of filling it.
    void skipTo(int toX, int toY)
    {
        for (; y < toY; ++y, x = 0)
            fillWithFirstColour(x, width);
        if (y < height)
            fillWithFirstColour(x, toX);
        x = toX;
    }

private:
    // Pixels [from, to) of the cursor's row, in doubling copies (rows may be very wide).
    void fillWithFirstColour(int from, int to) const
    {
        const int end = std::min(to, width);
        if (from >= end)
            return;
        std::uint8_t* start = at(from, y);
        const std::size_t bytes = static_cast<std::size_t>(end - from) * 3;
        std::memcpy(start, palette->data(), 3);
        for (std::size_t filled = 3; filled < bytes; filled *= 2)
            std::memcpy(start + filled, start, std::min(filled, bytes - filled));
    }
};

// The codes run from the pixel offset to the end of biSizeImage, or to the end of the file when
// biSizeImage is 0 or claims more than the file holds.
std::span<const std::uint8_t> runLengthCodes(std::span<const std::uint8_t> file, const Layout& l)
{
    if (l.pixelOffset >= file.size())
        return {};
    const std::span<const std::uint8_t> codes = file.subspan(static_cast<std::size_t>(l.pixelOffset));
    return l.sizeImage != 0 && l.sizeImage < codes.size() ? codes.first(l.sizeImage) : codes;
}

// An encoded run: `count` pixels of one index (RLE8), or of two alternating ones, high nibble first (RLE4).
BmpError paintRun(RleCanvas& c, unsigned count, unsigned value, int bitsPerPixel)
{
    if (!c.fits(count))
        return BmpError::BadRunLength;
    for (unsigned i = 0; i < count; ++i)
        c.put(bitsPerPixel == 8 ? value : (i % 2 == 0 ? value >> 4 : value & 0x0F));
    return BmpError::None;
}

// An absolute run: `count` indexes stored one a byte (RLE8) or two a byte, high nibble first (RLE4),
// padded to an even number of bytes. Moves `at` past them.
BmpError paintAbsolute(RleCanvas& c, std::span<const std::uint8_t> codes, std::size_t& at, unsigned count,
                       int bitsPerPixel)
{
    const std::size_t bytes = bitsPerPixel == 8 ? count : (count + 1) / 2;
    if (!c.fits(count))
        return BmpError::BadRunLength;
    if (codes.size() - at < bytes + bytes % 2)
        return BmpError::Truncated;
    for (unsigned i = 0; i < count; ++i)
        c.put(bitsPerPixel == 8 ? codes[at + i] : (codes[at + i / 2] >> (i % 2 == 0 ? 4 : 0)) & 0x0F);
    at += bytes + bytes % 2;
    return BmpError::None;
}

// An end of line: the cursor goes to the start of the row above, if there is one to go to.
BmpError endLine(RleCanvas& c)
{
    if (c.y >= c.height)
        return BmpError::BadRunLength;
    c.skipTo(0, c.y + 1);
    return BmpError::None;
}

// A delta: the cursor moves right by the next byte and up by the one after, to a row of the picture.
BmpError moveCursor(RleCanvas& c, std::span<const std::uint8_t> codes, std::size_t& at)
{
    if (codes.size() - at < 2)
        return BmpError::Truncated;
    const int right = codes[at];
    const int up = codes[at + 1];
    at += 2;
    if (right > c.paddedWidth - c.x || up >= c.height - c.y)
        return BmpError::BadRunLength;
    c.skipTo(c.x + right, c.y + up);
    return BmpError::None;
}

// Paints the picture from BI_RLE8 or BI_RLE4 codes: pairs of bytes, a count and a value, where a
// count of 0 makes the value an escape (end of line, end of bitmap, delta or absolute run).
BmpError decodeRunLength(std::span<const std::uint8_t> codes, int bitsPerPixel, RleCanvas& c)
{
    std::size_t at = 0;
    while (codes.size() - at >= 2) {
        const unsigned count = codes[at];
        const unsigned value = codes[at + 1];
        at += 2;
        if (count == 0 && value == 1) { // end of bitmap
            c.skipTo(0, c.height);
            return BmpError::None;
        }
        BmpError e = BmpError::None;
        if (count > 0)
            e = paintRun(c, count, value, bitsPerPixel);
        else if (value == 0)
            e = endLine(c);
        else if (value == 2)
            e = moveCursor(c, codes, at);
        else
            e = paintAbsolute(c, codes, at, value, bitsPerPixel);
        if (e != BmpError::None)
            return e;
    }
    return BmpError::Truncated; // the data ends before its end-of-bitmap code
}

// Decodes the codes of a BI_RLE8 or BI_RLE4 file into `pixels`, the converted picture.
BmpError convertRunLength(std::span<const std::uint8_t> file, const Layout& l,
                          const std::array<std::uint8_t, 256 * 3>& palette, std::uint8_t* pixels)
{
    const auto paddedWidth = static_cast<int>(l.stride * 8 / static_cast<std::uint64_t>(l.bitsPerPixel));
    RleCanvas canvas{pixels, l.width, l.height, paddedWidth, &palette};
    return decodeRunLength(runLengthCodes(file, l), l.bitsPerPixel, canvas);
}

} // namespace

std::string_view describe(BmpError error)
{
    switch (error) {
    case BmpError::None: return "no error";
    case BmpError::NotBitmap: return "not a bitmap file (no BM signature)";
    case BmpError::Truncated: return "truncated bitmap file";
    case BmpError::UnsupportedHeader: return "unsupported bitmap header (OS/2 or unknown)";
    case BmpError::UnsupportedCompression: return "unsupported bitmap compression";
    case BmpError::UnsupportedDepth: return "unsupported number of bits per pixel";
    case BmpError::BadDimensions: return "invalid bitmap width or height";
    case BmpError::TooLarge: return "bitmap too large (over 1 GiB decoded)";
    case BmpError::BadMasks: return "invalid colour masks";
    case BmpError::BadPalette: return "invalid palette size";
    case BmpError::BadPixelOffset: return "invalid pixel data offset";
    case BmpError::OutOfMemory: return "not enough memory for the bitmap";
    case BmpError::BadRunLength: return "invalid run-length data";
    }
    return "unknown bitmap error";
}

BmpError decodeBitmap(std::span<const std::uint8_t> file, Bitmap& out)
{
    Layout l;
    if (const BmpError e = readLayout(file, l, out); e != BmpError::None)
        return e;
    out.width = l.width;
    out.height = l.height;
    out.pixelsEnd =
        l.pixelOffset + std::max<std::uint64_t>(l.sizeImage, l.stride * static_cast<std::uint64_t>(l.height));

    // Where picture row 0 (the top one) starts in the file, and the step to the row below it.
    const auto stride = static_cast<std::ptrdiff_t>(l.stride);
    const std::ptrdiff_t fileTop =
        static_cast<std::ptrdiff_t>(l.pixelOffset) + (l.topDown ? 0 : (l.height - 1) * stride);
    const std::ptrdiff_t fileStep = l.topDown ? stride : -stride;

    std::array<Channel, 3> rgb;
    const bool masked = l.bitsPerPixel == 16 || l.bitsPerPixel == 32;
    if (masked) {
        if (const BmpError e = readMasks(file, l, rgb); e != BmpError::None)
            return e;
    }
    const bool plainBgrx =
        l.bitsPerPixel == 32 && rgb[0].mask == 0xFF0000 && rgb[1].mask == 0xFF00 && rgb[2].mask == 0xFF;
    if (l.bitsPerPixel == 24 || plainBgrx) {
        // The file's rows are already what the encoder takes: no copy.
        out.layout = l.bitsPerPixel == 24 ? PixelLayout::Bgr : PixelLayout::Bgrx;
        out.external_ = file.data();
        out.topOffset_ = fileTop;
        out.stride_ = fileStep;
        return BmpError::None;
    }

    std::array<std::uint8_t, 256 * 3> palette{};
    if (!masked) {
        if (const BmpError e = readPalette(file, l, palette); e != BmpError::None)
            return e;
    }
    const std::size_t rowBytes = static_cast<std::size_t>(l.width) * 3;
    try {
        out.converted_ = std::make_unique_for_overwrite<std::uint8_t[]>(rowBytes * static_cast<std::size_t>(l.height));
    } catch (const std::bad_alloc&) {
        return BmpError::OutOfMemory;
    }
    out.layout = PixelLayout::Bgr;
    out.topOffset_ = 0;
    out.stride_ = static_cast<std::ptrdiff_t>(rowBytes);
    if (l.runLength)
        return convertRunLength(file, l, palette, out.converted_.get());
    for (int y = 0; y < l.height; ++y) {
        const std::uint8_t* src = file.data() + fileTop + y * fileStep;
        std::uint8_t* dst = out.converted_.get() + static_cast<std::size_t>(y) * rowBytes;
        if (masked)
            convertMasked(src, l.width, l.bitsPerPixel, rgb, dst);
        else
            convertIndexed(src, l.width, l.bitsPerPixel, palette, dst);
    }
    return BmpError::None;
}

std::optional<BitmapShape> peekShape(std::span<const std::uint8_t> head)
{
    constexpr std::size_t needed = bmp::headersBytes;
    if (head.size() < needed || head[0] != 'B' || head[1] != 'M')
        return std::nullopt;
    const std::int32_t width = le32s(head, infoAt(info::width));
    const std::int32_t height = le32s(head, infoAt(info::height));
    if (width <= 0 || height == 0 || height == std::numeric_limits<std::int32_t>::min())
        return std::nullopt;
    const std::uint64_t rows = static_cast<std::uint64_t>(height < 0 ? -static_cast<std::int64_t>(height) : height);
    if (3 * static_cast<std::uint64_t>(width) * rows > maxDecodedBytes)
        return std::nullopt; // refused as too large before anything is allocated
    const std::uint32_t bits = le16(head, infoAt(info::bitsPerPixel));
    const std::uint32_t compression = le32(head, infoAt(info::compression));
    const bool inPlace = bits == 24 || (bits == 32 && compression == biRgb);
    const std::uint64_t stride = (static_cast<std::uint64_t>(width) * bits + 31) / 32 * 4;
    const std::uint64_t pixelsEnd = le32(head, bmp::file::pixelOffset) +
                                    std::max<std::uint64_t>(le32(head, infoAt(info::imageSize)), stride * rows);
    return BitmapShape{width, static_cast<int>(rows), !inPlace, pixelsEnd};
}

BmpError readBitmap(std::span<const std::uint8_t> file, Bitmap& out)
{
    out = Bitmap{};
    const BmpError error = decodeBitmap(file, out);
    if (error != BmpError::None)
        out = Bitmap{}; // no half-described picture for the caller to trip on
    return error;
}

} // namespace convertimg
