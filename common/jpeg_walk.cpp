// Walking a JPEG stream's segments and scans the way libjpeg's marker reader and entropy
// decoders do.
#include "common/jpeg_walk.h"

#include <algorithm>
#include <cstring>

namespace common {
namespace {

constexpr std::uint8_t kMarker = 0xFF;
constexpr std::uint8_t kSoi = 0xD8;
constexpr std::uint8_t kEoi = 0xD9;
constexpr std::uint8_t kSos = 0xDA;

bool isRestart(std::uint8_t code)
{
    return code >= 0xD0 && code <= 0xD7;
}

// Markers without a length: restarts, TEM, and SOI (which libjpeg refuses a second time).
bool standsAlone(std::uint8_t code)
{
    return isRestart(code) || code == 0x01 || code == kSoi;
}

// The first marker byte at or after `from`, or the stream's size.  memchr: the whole of a photo's
// data is searched, at memory speed.
std::size_t nextMarkerByte(std::span<const std::uint8_t> stream, std::size_t from)
{
    if (from >= stream.size())
        return stream.size();
    const void *found = std::memchr(stream.data() + from, kMarker, stream.size() - from);
    return found == nullptr ? stream.size()
                            : static_cast<std::size_t>(static_cast<const std::uint8_t *>(found) - stream.data());
}

// Past the fill bytes (more 0xFF) of the marker byte at `at`: where its code is.
std::size_t codeAfter(std::span<const std::uint8_t> stream, std::size_t at)
{
    std::size_t code = at + 1;
    while (code < stream.size() && stream[code] == kMarker)
        ++code;
    return code;
}

}  // namespace

void JpegWalk::advance(std::span<const std::uint8_t> stream)
{
    if (where_ == Where::Start && stream.size() >= 2) {
        const bool soi = stream[0] == kMarker && stream[1] == kSoi;
        where_ = soi ? Where::Segments : Where::NotJpeg;
        at_ = 2;
    }
    for (bool more = true; more;) {
        switch (where_) {
        case Where::Segments: more = segmentStep(stream); break;
        case Where::Data: more = dataStep(stream); break;
        default: more = false; break;
        }
    }
}

// Between segments libjpeg skips any byte until a marker, and a marker's fill bytes; 0xFF 0x00
// there is such a stray pair too.
bool JpegWalk::segmentStep(std::span<const std::uint8_t> stream)
{
    if (at_ >= stream.size())
        return false;
    const std::size_t marker = nextMarkerByte(stream, at_);
    const std::size_t code = codeAfter(stream, marker);
    if (code >= stream.size()) {
        at_ = std::min(marker, stream.size());
        return false;
    }
    const std::uint8_t c = stream[code];
    if (c == 0 || standsAlone(c) || c == kEoi) {
        at_ = code + 1;
        if (c == kEoi)
            where_ = Where::Ended;
        return c != kEoi;
    }
    if (code + 2 >= stream.size()) {
        at_ = marker;
        return false;
    }
    // The length counts its own two bytes.
    const std::size_t length = std::size_t{stream[code + 1]} << 8 | stream[code + 2];
    const std::size_t segmentEnd = code + 1 + std::max<std::size_t>(length, 2);
    if (c != kSos) {
        if (onSegment && segmentEnd <= stream.size())
            onSegment(c, stream.subspan(code + 3, segmentEnd - (code + 3)));
        at_ = segmentEnd;
        return where_ == Where::Segments;
    }
    if (segmentEnd > stream.size()) {
        at_ = marker;
        return false;
    }
    where_ = Where::Data;
    at_ = dataStart_ = segmentEnd;
    if (onScan)
        onScan(stream.subspan(code + 3, segmentEnd - (code + 3)));
    return where_ == Where::Data;
}

// In entropy-coded data 0xFF 0x00 stands for a 0xFF byte and restart markers are part of the
// scan; any other marker ends it.
bool JpegWalk::dataStep(std::span<const std::uint8_t> stream)
{
    const std::size_t marker = nextMarkerByte(stream, at_);
    const std::size_t code = codeAfter(stream, marker);
    if (code >= stream.size()) {
        at_ = std::min(marker, stream.size());
        return false;
    }
    if (stream[code] == 0 || isRestart(stream[code])) {
        at_ = code + 1;
        return true;
    }
    dataBytes_ += marker - dataStart_;
    where_ = Where::Segments;
    at_ = marker;
    return true;
}

}  // namespace common
