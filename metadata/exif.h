// EXIF blocks, the payload of a JPEG's APP1 "Exif" segment: the orientation a photo asks for,
// and the cleaning that fits a photo's EXIF to the upright, resized sRGB copy made of it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace meta {

// What an APP1 payload starts with when an EXIF block (a TIFF block) follows.
inline constexpr std::uint8_t kExifId[6] = {'E', 'x', 'i', 'f', 0, 0};

// Largest payload of a JPEG segment (APP1 and the others): its 16-bit length counts its own two
// bytes.
inline constexpr std::size_t kMaxPayload = 0xFFFF - 2;

// Orientation (1 to 8) recorded in IFD0 of an EXIF payload ("Exif\0\0" and a TIFF block), or 1
// (upright) when the payload is not EXIF, has no orientation tag, or is malformed.  Reads only
// inside `payload`.
int orientation(std::span<const std::uint8_t> payload);

// Orientations 5 to 8 turn the image a quarter, so the upright image is height x width.
constexpr bool swapsAxes(int orientation)
{
    return orientation >= 5 && orientation <= 8;
}

// The payload made fit for an upright sRGB image of width x height pixels, keeping, changing and
// removing what the metadata policy says (cleaned() in metadata.h), or nothing when it is not
// EXIF, is damaged in any way (an offset or a count running past its end, a directory reached
// twice or overlapping another, a value type we cannot size...), or would grow past kMaxPayload.
// The TIFF block is edited in place, never laid out again, so that every value kept stays at its
// offset (a maker note's own offsets keep pointing where they did):
//   - PixelXDimension and PixelYDimension are SHORT when the entry was a SHORT or is new and the
//     value fits, LONG otherwise;
//   - what is removed is unlinked, with all it leads to, and its bytes zeroed, or cut when
//     nothing kept lies after them;
//   - a directory that must grow is written again after the last byte still in use, and its
//     pointer updated; the block ends there.
// Cleaning a cleaned payload again with the same size gives the same bytes.
std::optional<std::vector<std::uint8_t>> clean(std::span<const std::uint8_t> payload, std::uint32_t width,
                                               std::uint32_t height);

}  // namespace meta
