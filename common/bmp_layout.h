// The layout of a bitmap's headers (BITMAPFILEHEADER, then BITMAPINFOHEADER), little-endian:
// the image library writes it, the converter reads it, and the tests build and check it.
#pragma once

#include <cstddef>
#include <cstdint>

namespace bmp {

// The file header: offsets from the start of the file.
namespace file {
inline constexpr std::size_t signature = 0;     // "BM"
inline constexpr std::size_t fileSize = 2;      // 32 bits: the whole file
inline constexpr std::size_t reserved = 6;      // 2 x 16 bits, 0
inline constexpr std::size_t pixelOffset = 10;  // 32 bits: where the pixels start
inline constexpr std::size_t bytes = 14;
}  // namespace file

// The information header: offsets from its start, which is file::bytes. Later versions (52 to
// 124 bytes) begin the same way.
namespace info {
inline constexpr std::size_t headerSize = 0;         // 32 bits: 40, or a later version's size
inline constexpr std::size_t width = 4;              // 32 bits, signed
inline constexpr std::size_t height = 8;             // 32 bits, signed: positive is bottom-up
inline constexpr std::size_t planes = 12;            // 16 bits, 1
inline constexpr std::size_t bitsPerPixel = 14;      // 16 bits
inline constexpr std::size_t compression = 16;       // 32 bits, one of bmp::compression
inline constexpr std::size_t imageSize = 20;         // 32 bits: the pixels' bytes, or 0
inline constexpr std::size_t xPixelsPerMetre = 24;   // 32 bits, signed
inline constexpr std::size_t yPixelsPerMetre = 28;   // 32 bits, signed
inline constexpr std::size_t coloursUsed = 32;       // 32 bits: palette entries, 0 for all
inline constexpr std::size_t coloursImportant = 36;  // 32 bits
inline constexpr std::size_t bytes = 40;
// The red, green and blue masks (32 bits each) of BI_BITFIELDS: right after a 40-byte header,
// and at the same place inside the later versions.
inline constexpr std::size_t masks = 40;
}  // namespace info

// Where a field of the information header stands in the file.
constexpr std::size_t infoAt(std::size_t field)
{
    return file::bytes + field;
}

// Both headers of a plain bitmap, where its pixels start when no palette follows.
inline constexpr std::size_t headersBytes = file::bytes + info::bytes;

namespace compression {
inline constexpr std::uint32_t rgb = 0;
inline constexpr std::uint32_t rle8 = 1;
inline constexpr std::uint32_t rle4 = 2;
inline constexpr std::uint32_t bitfields = 3;
}  // namespace compression

inline void put16(std::uint8_t *p, std::uint32_t v)
{
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
}

inline void put32(std::uint8_t *p, std::uint32_t v)
{
    put16(p, v & 0xFFFF);
    put16(p + 2, v >> 16);
}

inline std::uint32_t get16(const std::uint8_t *p)
{
    return std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8;
}

inline std::uint32_t get32(const std::uint8_t *p)
{
    return get16(p) | get16(p + 2) << 16;
}

}  // namespace bmp
