// What reading a photo ahead holds in memory, estimated from its JPEG header before it is decoded.
#pragma once

#include <QtGlobal>

#include <cstdint>
#include <span>

namespace redim {

struct PhotoFootprint {
    // Its pixels at full size: one "decoded photo", the unit of the read-ahead's memory budget.
    std::uint64_t decoded = 0;
    // What a read and scaling ahead hold until the window takes the photo: the library's copy of
    // the file, the pixels at full size, the scaled copy when `rate` is not 100, and for a
    // progressive or multi-scan file the coefficients of the whole image that libjpeg-turbo keeps
    // while it decodes (JpegFrame::coefficientBytes()); and for a photo with an HDR gain map, the
    // map's bytes, its pixels and their scaled copy.
    std::uint64_t held = 0;
    // What stays of it once the window has it: the scaled copy, or when `rate` is 100 the pixels
    // and the library's copy of the file, which it keeps with an image just read; and the gain
    // map's pixels at that rate.
    std::uint64_t kept = 0;
};

// The footprint of the JPEG file open as `fd`, of `size` bytes, read ahead at `rate` percent: its
// headers are read, up to its first scan, and nothing after them but the first bytes of the image
// its MPF index lists after it (a phone's gain map), for that image's size.
PhotoFootprint footprintOf(int fd, std::uint64_t size, qint32 rate);

// The footprint of a JPEG file of `size` bytes whose first bytes are `head`: up to its first scan
// at least, or the whole file. The library's copy of the file is all of it but for what follows
// the image, which the library does not read: it reads no more data than the frame can need
// (common::JpegWalk::outgrown). Anything whose header does not give a size holds only that copy:
// the library refuses it before decoding. Orientation does not matter: a turned photo has as many
// pixels. A gain map counts when `head` holds its first bytes.
PhotoFootprint footprintOf(std::span<const std::uint8_t> head, std::uint64_t size, qint32 rate);

}  // namespace redim
