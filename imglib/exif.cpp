// Finds the orientation tag in an EXIF block (a TIFF header and its first directory).
#include "exif.h"

#include <cstring>

namespace imglib {
namespace {

class TiffReader {
public:
    TiffReader(const std::uint8_t *data, std::size_t size, bool bigEndian)
        : data_(data), size_(size), bigEndian_(bigEndian)
    {
    }

    bool has(std::size_t offset, std::size_t bytes) const
    {
        return offset <= size_ && bytes <= size_ - offset;
    }

    // Callers check has() first.
    std::uint16_t u16(std::size_t offset) const
    {
        const std::uint8_t *p = data_ + offset;
        return bigEndian_ ? static_cast<std::uint16_t>(p[0] << 8 | p[1])
                          : static_cast<std::uint16_t>(p[1] << 8 | p[0]);
    }

    std::uint32_t u32(std::size_t offset) const
    {
        const std::uint32_t hi = u16(offset + (bigEndian_ ? 0 : 2));
        const std::uint32_t lo = u16(offset + (bigEndian_ ? 2 : 0));
        return hi << 16 | lo;
    }

private:
    const std::uint8_t *data_;
    std::size_t size_;
    bool bigEndian_;
};

constexpr std::uint8_t kExifId[6] = {'E', 'x', 'i', 'f', 0, 0};
constexpr std::uint16_t kOrientationTag = 0x0112;
constexpr std::uint16_t kTypeShort = 3;

} // namespace

int exifOrientation(const std::uint8_t *data, std::size_t size)
{
    if (data == nullptr || size < sizeof kExifId + 8 || std::memcmp(data, kExifId, sizeof kExifId) != 0)
        return 1;
    const std::uint8_t *tiff = data + sizeof kExifId;
    const std::size_t tiffSize = size - sizeof kExifId;

    bool bigEndian;
    if (tiff[0] == 'I' && tiff[1] == 'I')
        bigEndian = false;
    else if (tiff[0] == 'M' && tiff[1] == 'M')
        bigEndian = true;
    else
        return 1;
    const TiffReader in(tiff, tiffSize, bigEndian);
    if (in.u16(2) != 42)
        return 1;

    const std::size_t directory = in.u32(4);
    if (!in.has(directory, 2))
        return 1;
    const std::size_t entries = in.u16(directory);
    for (std::size_t i = 0; i < entries; ++i) {
        const std::size_t entry = directory + 2 + 12 * i;
        if (!in.has(entry, 12))
            return 1;
        if (in.u16(entry) != kOrientationTag)
            continue;
        if (in.u16(entry + 2) != kTypeShort || in.u32(entry + 4) != 1)
            return 1;
        // A single SHORT sits left-aligned in the 4-byte value field, in either byte order.
        const int value = in.u16(entry + 8);
        return value >= 1 && value <= 8 ? value : 1;
    }
    return 1;
}

} // namespace imglib
