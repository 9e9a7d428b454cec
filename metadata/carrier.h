// The blocks that carry a photo's metadata from the image library to the converter, at the end
// of the bitmap between the two, after its pixels. Each block is
//   [payload: n bytes][n: 32 bits, little-endian][signature: 8 bytes]
// with one signature per kind: "RedimXmp" (an XMP APP1 payload), "RedimIpt" (an APP13 payload),
// "RedimCom" (a comment), and "RedimExf" (the EXIF APP1 payload), which always comes last: a
// reader that knows only the EXIF block, as the first versions of the program did, still finds
// it at the very end, and takes the file for one without EXIF when another block ends it.
// Anchored at the end of the file, the blocks are found without knowing the pixels' layout, and
// bitmap readers, which go by the headers, never see them.
#pragma once

#include "metadata/exif.h"
#include "metadata/metadata.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace meta {

inline constexpr std::array<std::uint8_t, 8> kCarrierSignature = {'R', 'e', 'd', 'i', 'm', 'E', 'x', 'f'};
// The payload's length field, little-endian, and the signature that follows it.
inline constexpr std::size_t kCarrierLengthBytes = 4;
inline constexpr std::size_t kCarrierTrailerBytes = kCarrierLengthBytes + kCarrierSignature.size();
// imglib.h documents the blocks for everyone who reads the bitmaps: a 4-byte length and 8 bytes
// "RedimExf", "RedimXmp", "RedimIpt" or "RedimCom".
static_assert(kCarrierTrailerBytes == 12, "the trailer is the 12 bytes imglib.h documents");
// The most blocks a bitmap carries; comments past that are not carried.
inline constexpr std::size_t kMaxCarriedBlocks = 32;
inline constexpr std::size_t kMaxCarriedBytes = kMaxCarriedBlocks * (kMaxPayload + kCarrierTrailerBytes);

// The blocks for `metadata`, whose payloads are at most kMaxPayload bytes each, to follow the
// pixels of a bitmap: the XMP, the IPTC, the comments, then the EXIF.
std::vector<std::uint8_t> carrierBlocks(const Metadata &metadata);

// The metadata of the blocks that end `file`, walked back from its end while each block has a
// known signature and a length of at most kMaxPayload, starts at or after `dataEnd` (the end of
// what the file's headers describe), and is one of the last kMaxCarriedBlocks. Nothing of the
// blocks before one that is not so. Not cleaned: the bitmap may come from anywhere.
Metadata carriedMetadata(std::span<const std::uint8_t> file, std::uint64_t dataEnd);

// Where the blocks carriedMetadata() takes begin: the file's size when there are none.  What lies
// between `dataEnd` and there is no metadata block (gain_map.h's block goes there).
std::uint64_t carriedBlocksStart(std::span<const std::uint8_t> file, std::uint64_t dataEnd);

// A block's trailer, shared with the other blocks a bitmap carries: appends the payload's length
// and the signature; reads the length back from a trailer's first kCarrierLengthBytes.
void appendTrailer(std::vector<std::uint8_t> &out, std::uint64_t payloadSize,
                   std::span<const std::uint8_t, 8> signature);
std::uint64_t trailerLength(std::span<const std::uint8_t> trailer);

}  // namespace meta
