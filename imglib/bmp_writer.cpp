// BMP layout (BITMAPFILEHEADER + BITMAPINFOHEADER, bottom-up BGR rows padded to 4 bytes), written
// whole (common/whole_file.h) straight from the image's rows.
#include "imglib/bmp_writer.h"

#include "metadata/carrier.h"
#include "metadata/exif.h"
#include "metadata/gain_map.h"

#include "common/bmp_layout.h"
#include "common/whole_file.h"

#include <climits>
#include <cstring>

#include <sys/uio.h>

namespace imglib {
namespace {

constexpr std::size_t kHeaderSize = bmp::headersBytes;
// Every image the library holds can be written: its rows padded to 4 bytes (at worst 4 bytes
// for 3), the headers and the metadata blocks fit the 32-bit sizes of the headers.
static_assert(kMaxImageBytes / 3 * 4 + kHeaderSize + meta::kMaxCarriedBytes <= 0xFFFFFFFFu,
              "the largest image must fit a bitmap's 32-bit sizes");
// A gain map is no larger than its image (gain_map_reader.h), so the largest image with the
// largest map fits too.
static_assert(kMaxImageBytes / 3 * 4 + kHeaderSize + meta::kMaxCarriedBytes + meta::kMaxGainMapBytes +
                      meta::kMaxGainMapIccBytes + 4 * meta::kMaxPayload + 64 <=
                  0xFFFFFFFFu,
              "the largest image and its gain map must fit a bitmap's 32-bit sizes");
// 96 dpi, what Windows assumes for a bitmap with no density of its own.
constexpr std::int32_t kDefaultPerMetre = 3780;

// `after` is the size of what follows the pixels (the metadata blocks), which the file size counts.
void writeHeaders(const Image &image, std::size_t paddedRow, std::size_t after, std::uint8_t *h)
{
    using bmp::put16;
    using bmp::put32;
    const std::uint64_t pixelBytes = static_cast<std::uint64_t>(paddedRow) * image.height();
    std::memset(h, 0, kHeaderSize);
    h[bmp::file::signature] = 'B';
    h[bmp::file::signature + 1] = 'M';
    put32(h + bmp::file::fileSize, static_cast<std::uint32_t>(kHeaderSize + pixelBytes + after));
    put32(h + bmp::file::pixelOffset, kHeaderSize);
    std::uint8_t *info = h + bmp::file::bytes;
    put32(info + bmp::info::headerSize, bmp::info::bytes);
    put32(info + bmp::info::width, static_cast<std::uint32_t>(image.width()));
    put32(info + bmp::info::height, static_cast<std::uint32_t>(image.height()));  // positive: bottom-up
    put16(info + bmp::info::planes, 1);
    put16(info + bmp::info::bitsPerPixel, 24);
    put32(info + bmp::info::compression, bmp::compression::rgb);
    put32(info + bmp::info::imageSize, static_cast<std::uint32_t>(pixelBytes));
    const Density d = image.density;
    const bool known = d.xPerMetre > 0 && d.yPerMetre > 0;
    put32(info + bmp::info::xPixelsPerMetre, static_cast<std::uint32_t>(known ? d.xPerMetre : kDefaultPerMetre));
    put32(info + bmp::info::yPixelsPerMetre, static_cast<std::uint32_t>(known ? d.yPerMetre : kDefaultPerMetre));
    // Colours used and important colours stay 0: no palette.
}

// Rows go out straight from the image, bottom row first, gathered by writev() into calls of
// about this many bytes.  Moderate calls cost the kernel far less than huge ones: writing a
// 22 MB bitmap in 128 KiB calls takes a fraction of the time of 16 MiB calls (the copy into
// the page cache then works from data the processor's caches still hold), and no copy of
// the image is made on our side.
constexpr std::size_t kBytesPerCall = 128u << 10;

// A row adds up to this many vectors to a call: its pixels and its padding, and with the last
// row the gain map's block and the metadata blocks.
constexpr int kVectorsPerRow = 4;
// Vectors gathered into one call, within the system's limit.
constexpr int kMaxVectors = 512;
static_assert(kMaxVectors <= IOV_MAX, "writev() takes at most IOV_MAX vectors");
static_assert(1 + kVectorsPerRow <= kMaxVectors, "the header and a row must fit one call");

}  // namespace

bool writeBmpFile(const Image &image, const char *path, std::span<const std::uint8_t> carried,
                  std::span<const std::uint8_t> gainMap)
{
    if (path == nullptr || *path == '\0')
        return false;
    const std::size_t rowBytes = image.stride();
    const std::size_t paddedRow = (rowBytes + 3) & ~std::size_t{3};
    // The metadata blocks go out with the last rows, in the same writes.
    if (carried.size() > meta::kMaxCarriedBytes)
        return false;
    const std::size_t after = gainMap.size() + carried.size();
    const std::size_t total = kHeaderSize + paddedRow * static_cast<std::size_t>(image.height()) + after;
    if (total > 0xFFFFFFFFu)
        return false;  // the header's 32-bit sizes could not say it

    common::WholeFile file(path, common::Writer::Imglib);
    if (!file)
        return false;

    std::uint8_t header[kHeaderSize];
    writeHeaders(image, paddedRow, after, header);
    static constexpr std::uint8_t padding[3] = {0, 0, 0};
    const std::size_t pad = paddedRow - rowBytes;

    iovec vectors[kMaxVectors];
    int count = 0;
    std::size_t gathered = 0;
    vectors[count++] = {header, kHeaderSize};
    gathered += kHeaderSize;
    for (int y = image.height() - 1; y >= 0; --y) {
        vectors[count++] = {const_cast<std::uint8_t *>(image.row(y)), rowBytes};
        if (pad != 0)
            vectors[count++] = {const_cast<std::uint8_t *>(padding), pad};
        gathered += paddedRow;
        if (y == 0 && !gainMap.empty())
            vectors[count++] = {const_cast<std::uint8_t *>(gainMap.data()), gainMap.size()};
        if (y == 0 && !carried.empty())
            vectors[count++] = {const_cast<std::uint8_t *>(carried.data()), carried.size()};
        if (gathered >= kBytesPerCall || count + kVectorsPerRow > kMaxVectors || y == 0) {
            if (!file.write(std::span(vectors, static_cast<std::size_t>(count))))
                return false;
            count = 0;
            gathered = 0;
        }
    }
    return file.publish(common::Replace::Yes) == common::Published::Done;
}

}  // namespace imglib
