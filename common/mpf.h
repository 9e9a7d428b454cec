// The MPF index (CIPA DC-007 "Multi-Picture Format") by which a JPEG lists the images stored after
// it in the same file: a phone's HDR gain map, a camera's second image. Read with the care given
// to EXIF: every count, offset and size checked against the segment and the photo.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace common {

// An image the index lists after the photo: its first byte in the file and its length.
struct MpfImage {
    std::uint64_t start = 0;
    std::uint64_t size = 0;
};

// The most images an index may list; an index that claims more is not read.
inline constexpr std::uint32_t kMaxMpfImages = 16;

// The images listed by an APP2 payload ("MPF\0" and a TIFF block whose header stands at `tiffAt`
// in the file) after its first entry, which must be the photo itself (offset 0, the Baseline MP
// Primary type): those of the JPEG format that start at or after `photoEnd`, in the index's order.
// Nothing when the payload is not such an index or any of it lies outside the payload: the version
// tag must say "0100", the number of images be 2 to kMaxMpfImages and the entries 16 bytes each.
std::vector<MpfImage> mpfImagesOf(std::span<const std::uint8_t> payload, std::uint64_t tiffAt, std::uint64_t photoEnd);

// The same for `photo`, a JPEG stream up to its end of image: from the first MPF segment before
// its first scan, the images that start at or after its end. Walks only the segments.
std::vector<MpfImage> mpfImages(std::span<const std::uint8_t> photo);

// What an APP2 payload starts with when it holds an MPF index.
inline constexpr std::uint8_t kMpfId[4] = {'M', 'P', 'F', 0};
bool isMpf(std::uint8_t code, std::span<const std::uint8_t> payload);

}  // namespace common
