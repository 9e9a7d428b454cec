// Finds the EXIF block at the end of a bitmap, past everything its headers describe, and cleans it.
#include "exif_carrier.h"

#include "carrier.h"
#include "exif.h"

#include <algorithm>

namespace convertimg {

namespace {

std::uint32_t le16(std::span<const std::uint8_t> b, std::size_t at)
{
    return std::uint32_t{b[at]} | std::uint32_t{b[at + 1]} << 8;
}

std::uint32_t le32(std::span<const std::uint8_t> b, std::size_t at)
{
    return le16(b, at) | le16(b, at + 2) << 16;
}

// Where the pixel array the headers describe ends: its offset plus the larger of the size the
// header states and the size of its rows uncompressed (compressed pixels take less, so a block
// after them is never taken for less than it is); nothing for a header too short to say.
// `bitmap` gives the width and height the reader accepted.
std::optional<std::uint64_t> pixelsEnd(std::span<const std::uint8_t> file, const Bitmap& bitmap)
{
    constexpr std::size_t fileHeader = 14;
    if (file.size() < fileHeader + 40 || le32(file, fileHeader) < 40 || bitmap.width <= 0 || bitmap.height <= 0)
        return std::nullopt;
    const std::uint64_t offset = le32(file, 10);
    const std::uint64_t bits = le16(file, fileHeader + 14);
    const std::uint64_t stated = le32(file, fileHeader + 20);
    if (bits > 32)
        return std::nullopt;
    const auto width = static_cast<std::uint64_t>(bitmap.width);
    const auto height = static_cast<std::uint64_t>(bitmap.height);
    const std::uint64_t rows = (width * bits + 31) / 32 * 4 * height;
    return offset + std::max(stated, rows);
}

} // namespace

std::optional<std::vector<std::uint8_t>> carriedExif(std::span<const std::uint8_t> file, const Bitmap& bitmap)
{
    const std::optional<std::uint64_t> end = pixelsEnd(file, bitmap);
    if (!end)
        return std::nullopt;
    const std::span<const std::uint8_t> payload = exif::carriedPayload(file, *end);
    if (payload.empty())
        return std::nullopt;
    return exif::clean(payload, static_cast<std::uint32_t>(bitmap.width), static_cast<std::uint32_t>(bitmap.height));
}

} // namespace convertimg
