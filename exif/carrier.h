// The block that carries a photo's EXIF payload from the image library to the converter, at
// the end of the bitmap between the two, after its pixels:
//   [payload: n bytes, "Exif\0\0" and a TIFF block][n: 32 bits, little-endian][kCarrierSignature]
// Anchored at the end of the file, it is found without knowing the pixels' layout, and bitmap
// readers, which go by the headers, never see it.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace exif {

inline constexpr std::array<std::uint8_t, 8> kCarrierSignature = {'R', 'e', 'd', 'i', 'm', 'E', 'x', 'f'};
// The payload's length field, little-endian.
inline constexpr std::size_t kCarrierLengthBytes = 4;
inline constexpr std::size_t kCarrierTrailerBytes = kCarrierLengthBytes + kCarrierSignature.size();
// imglib.h documents the block for everyone who reads the bitmaps: a 4-byte length and the 8
// bytes "RedimExf".
static_assert(kCarrierTrailerBytes == 12, "the trailer is the 12 bytes imglib.h documents");

// What follows a payload of `size` bytes (at most kMaxPayload): its length and the signature.
std::array<std::uint8_t, kCarrierTrailerBytes> carrierTrailer(std::size_t size);

// The payload of the block that ends `file`, or nothing (an empty span) when the file ends
// otherwise: another signature, a length over kMaxPayload, or a block that would start before
// `dataEnd`, the end of what the file's headers describe.
std::span<const std::uint8_t> carriedPayload(std::span<const std::uint8_t> file, std::uint64_t dataEnd);

}  // namespace exif
