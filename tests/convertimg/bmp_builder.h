// Test bitmaps: writes .bmp files of any depth and header kind, and the picture a reader should see.
#pragma once

#include "common/bmp_layout.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <utility>
#include <vector>

namespace testbmp {

struct Picture {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> bgr;  // top-down, 3 bytes per pixel, no padding
    const std::uint8_t* at(int x, int y) const { return &bgr[(static_cast<std::size_t>(y) * width + x) * 3]; }
};

enum class Content { Smooth, Noise };

struct Layout {
    int width = 8;
    int height = 6;
    int bits = 24;
    bool topDown = false;
    std::uint32_t headerSize = bmp::info::bytes;
    std::uint32_t compression = bmp::compression::rgb;  // or bmp::compression::bitfields
    std::array<std::uint32_t, 3> masks{};               // red, green, blue, for BI_BITFIELDS
    std::uint32_t colours = 0;                          // biClrUsed; 0 means every colour the depth allows
    std::int32_t pixelsPerMetre = 2835;
    Content content = Content::Smooth;
};

// Where each field of the information header stands in the file.
namespace at {
using bmp::file::fileSize;
using bmp::file::pixelOffset;
inline constexpr std::size_t headerSize = bmp::infoAt(bmp::info::headerSize);
inline constexpr std::size_t width = bmp::infoAt(bmp::info::width);
inline constexpr std::size_t height = bmp::infoAt(bmp::info::height);
inline constexpr std::size_t planes = bmp::infoAt(bmp::info::planes);
inline constexpr std::size_t bitsPerPixel = bmp::infoAt(bmp::info::bitsPerPixel);
inline constexpr std::size_t compression = bmp::infoAt(bmp::info::compression);
inline constexpr std::size_t imageSize = bmp::infoAt(bmp::info::imageSize);
inline constexpr std::size_t xPixelsPerMetre = bmp::infoAt(bmp::info::xPixelsPerMetre);
inline constexpr std::size_t yPixelsPerMetre = bmp::infoAt(bmp::info::yPixelsPerMetre);
inline constexpr std::size_t coloursUsed = bmp::infoAt(bmp::info::coloursUsed);
inline constexpr std::size_t masks = bmp::infoAt(bmp::info::masks);
}  // namespace at

inline void put16(std::vector<std::uint8_t>& b, std::size_t at, std::uint32_t v)
{
    bmp::put16(&b.at(at + 1) - 1, v);
}

inline void put32(std::vector<std::uint8_t>& b, std::size_t at, std::uint32_t v)
{
    bmp::put32(&b.at(at + 3) - 3, v);
}

// Colour wanted at (x, y) as 0xRRGGBB; for indexed files the palette index instead.
inline std::uint32_t sample(const Layout& l, int x, int y, int paletteSize)
{
    if (l.content == Content::Noise) {
        std::uint32_t h = static_cast<std::uint32_t>(x) * 2654435761u ^ static_cast<std::uint32_t>(y) * 40503u;
        h ^= h >> 13;
        h *= 0x5bd1e995u;
        h ^= h >> 15;
        return paletteSize ? h % static_cast<std::uint32_t>(paletteSize) : h & 0xFFFFFF;
    }
    if (paletteSize)
        return static_cast<std::uint32_t>(x * paletteSize / l.width);
    const std::uint32_t red = static_cast<std::uint32_t>(255 * x / std::max(1, l.width - 1));
    const std::uint32_t green = 60 + static_cast<std::uint32_t>(120 * y / std::max(1, l.height - 1));
    const std::uint32_t blue = 255 - red / 2;
    return red << 16 | green << 8 | blue;
}

// Palette entry i of n as B, G, R: red falls while blue rises, so swapped channels show.
inline std::array<std::uint8_t, 3> paletteColour(int i, int n)
{
    const auto v = static_cast<std::uint8_t>(n > 1 ? i * 255 / (n - 1) : 0);
    return {v, 90, static_cast<std::uint8_t>(255 - v)};
}

// Writes the bitmap described by `l` and fills `expected` with the picture it holds.
inline std::vector<std::uint8_t> makeBmp(const Layout& l, Picture* expected = nullptr)
{
    const bool indexed = l.bits <= 8;
    const int paletteSize = indexed ? static_cast<int>(l.colours ? l.colours : 1u << l.bits) : 0;
    const bool masksAfterHeader = l.compression == bmp::compression::bitfields && l.headerSize == bmp::info::bytes;
    const std::size_t paletteAt = bmp::file::bytes + l.headerSize + (masksAfterHeader ? 12 : 0);
    const std::size_t pixelsAt = paletteAt + static_cast<std::size_t>(paletteSize) * 4;
    const std::size_t stride = (static_cast<std::size_t>(l.width) * l.bits + 31) / 32 * 4;
    std::vector<std::uint8_t> b(pixelsAt + stride * static_cast<std::size_t>(l.height), 0);

    b[bmp::file::signature] = 'B';
    b[bmp::file::signature + 1] = 'M';
    put32(b, at::fileSize, static_cast<std::uint32_t>(b.size()));
    put32(b, at::pixelOffset, static_cast<std::uint32_t>(pixelsAt));
    put32(b, at::headerSize, l.headerSize);
    put32(b, at::width, static_cast<std::uint32_t>(l.width));
    put32(b, at::height, static_cast<std::uint32_t>(l.topDown ? -l.height : l.height));
    put16(b, at::planes, 1);
    put16(b, at::bitsPerPixel, static_cast<std::uint32_t>(l.bits));
    put32(b, at::compression, l.compression);
    put32(b, at::xPixelsPerMetre, static_cast<std::uint32_t>(l.pixelsPerMetre));
    put32(b, at::yPixelsPerMetre, static_cast<std::uint32_t>(l.pixelsPerMetre));
    put32(b, at::coloursUsed, l.colours);
    if (l.compression == bmp::compression::bitfields)
        for (int i = 0; i < 3; ++i)
            put32(b, at::masks + 4 * static_cast<std::size_t>(i), l.masks[static_cast<std::size_t>(i)]);
    for (int i = 0; i < paletteSize; ++i) {
        const auto c = paletteColour(i, paletteSize);
        for (int k = 0; k < 3; ++k)
            b[paletteAt + 4 * static_cast<std::size_t>(i) + static_cast<std::size_t>(k)] =
                c[static_cast<std::size_t>(k)];
    }

    // Channel masks, red first, and the value a reader gives back for a field of `bits` bits.
    std::array<std::uint32_t, 3> masks = l.masks;
    if (l.compression == bmp::compression::rgb)
        masks = l.bits == 16 ? std::array<std::uint32_t, 3>{0x7C00, 0x03E0, 0x001F}
                             : std::array<std::uint32_t, 3>{0xFF0000, 0x00FF00, 0x0000FF};
    Picture pic{l.width, l.height, std::vector<std::uint8_t>(static_cast<std::size_t>(l.width) * l.height * 3)};
    for (int y = 0; y < l.height; ++y) {
        const int fileRow = l.topDown ? y : l.height - 1 - y;
        std::uint8_t* row = &b[pixelsAt + stride * static_cast<std::size_t>(fileRow)];
        for (int x = 0; x < l.width; ++x) {
            const std::uint32_t s = sample(l, x, y, paletteSize);
            std::uint8_t* out = &pic.bgr[(static_cast<std::size_t>(y) * l.width + x) * 3];
            if (indexed) {
                const int perByte = 8 / l.bits;
                row[x / perByte] |= static_cast<std::uint8_t>(s << ((perByte - 1 - x % perByte) * l.bits));
                const auto c = paletteColour(static_cast<int>(s), paletteSize);
                std::copy(c.begin(), c.end(), out);
            } else if (l.bits == 24) {
                row[x * 3] = out[0] = static_cast<std::uint8_t>(s);
                row[x * 3 + 1] = out[1] = static_cast<std::uint8_t>(s >> 8);
                row[x * 3 + 2] = out[2] = static_cast<std::uint8_t>(s >> 16);
            } else {
                std::uint32_t pixel = 0;
                for (int c = 0; c < 3; ++c) {
                    const std::uint32_t mask = masks[static_cast<std::size_t>(c)];
                    const std::uint32_t wanted = (s >> (16 - 8 * c)) & 0xFF;
                    int shift = 0, width = 0;
                    while (!((mask >> shift) & 1))
                        ++shift;
                    while (shift + width < 32 && ((mask >> (shift + width)) & 1))
                        ++width;
                    const std::uint32_t field = width >= 8 ? wanted << (width - 8) : wanted >> (8 - width);
                    pixel |= field << shift;
                    const double max = (1u << std::min(width, 8)) - 1;
                    const double kept = width >= 8 ? wanted : field;
                    out[2 - c] = static_cast<std::uint8_t>(kept * 255.0 / max + 0.5);
                }
                for (int k = 0; k < l.bits / 8; ++k)
                    row[x * (l.bits / 8) + k] = static_cast<std::uint8_t>(pixel >> (8 * k));
            }
        }
    }
    if (expected)
        *expected = std::move(pic);
    return b;
}

// Writes a bottom-up BI_RLE8 (bits 8) or BI_RLE4 (bits 4) bitmap with a full palette and `codes` as
// its pixel data, which biSizeImage counts.
inline std::vector<std::uint8_t> makeRleBmp(int width, int height, int bits, const std::vector<std::uint8_t>& codes)
{
    std::vector<std::uint8_t> b = makeBmp({.width = width, .height = height, .bits = bits});
    b.resize(bmp::get32(b.data() + at::pixelOffset));  // up to the pixels
    b.insert(b.end(), codes.begin(), codes.end());
    put32(b, at::fileSize, static_cast<std::uint32_t>(b.size()));
    put32(b, at::compression, bits == 8 ? bmp::compression::rle8 : bmp::compression::rle4);
    put32(b, at::imageSize, static_cast<std::uint32_t>(codes.size()));
    return b;
}

}  // namespace testbmp
