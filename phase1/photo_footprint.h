// What reading a photo ahead holds in memory, estimated from its JPEG header before it is decoded.
#pragma once

#include <QByteArray>
#include <QtGlobal>

#include <cstdint>

namespace redim {

struct PhotoFootprint {
    // Its pixels at full size: one "decoded photo", the unit of the read-ahead's memory budget.
    std::uint64_t decoded = 0;
    // What a read and scaling ahead hold until the window takes the photo: its bytes twice (the
    // read-ahead's copy, to compare, and the library's), the pixels at full size, the scaled copy
    // when `rate` is not 100, and for a progressive or multi-scan file the coefficients of the
    // whole image that libjpeg-turbo keeps while it decodes (JpegFrame::coefficientBytes()).
    std::uint64_t held = 0;
    // What stays of it once the window has it: the scaled copy, or when `rate` is 100 the pixels
    // and the library's copy of the file, which it keeps with an image just read.
    std::uint64_t kept = 0;
};

// The footprint of the JPEG image whose bytes are `file` (up to its end of image, as the library
// reads it), read ahead at `rate` percent. Anything
// whose header does not give a size holds only its bytes: the library refuses it before
// decoding. Orientation does not matter: a turned photo has as many pixels.
PhotoFootprint footprintOf(const QByteArray &file, qint32 rate);

}  // namespace redim
