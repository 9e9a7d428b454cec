// Walking a JPEG stream's segments and scans the way libjpeg's marker reader and entropy
// decoders do, and reading a file's image by that walk.
#include "common/jpeg_walk.h"

#include "common/regular_file.h"

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

// Where to walk on from when the stream ends at or after the marker byte at `marker`, before the
// marker's code: at its last fill byte, which stands for all of them, so that a stream of fill
// bytes is not searched again each time it grows.
std::size_t beforeCode(std::span<const std::uint8_t> stream, std::size_t marker)
{
    return marker < stream.size() ? stream.size() - 1 : stream.size();
}

bool isFrameMarker(std::uint8_t code)
{
    // SOF0 to SOF15, but for DHT (C4), JPG (C8) and DAC (CC), which share the range.
    return code >= 0xC0 && code <= 0xCF && code != 0xC4 && code != 0xC8 && code != 0xCC;
}

// A frame header's payload, or nothing when libjpeg would refuse it or could not decode it.
std::optional<JpegFrame> frameOf(std::uint8_t code, std::span<const std::uint8_t> payload)
{
    if (payload.size() < 6)
        return std::nullopt;
    JpegFrame frame;
    frame.height = std::uint64_t{payload[1]} << 8 | payload[2];
    frame.width = std::uint64_t{payload[3]} << 8 | payload[4];
    frame.count = payload[5];
    frame.progressive = code == 0xC2 || code == 0xC6 || code == 0xCA || code == 0xCE;
    if (frame.width == 0 || frame.height == 0 || frame.count < 1 || frame.count > 4 ||
        payload.size() < 6 + 3 * std::size_t(frame.count))
        return std::nullopt;
    for (int c = 0; c < frame.count; ++c) {
        const unsigned factors = payload[7 + 3 * c];
        frame.components[c] = {std::max(1, static_cast<int>(factors >> 4)),
                               std::max(1, static_cast<int>(factors & 0x0F))};
    }
    return frame;
}

// Blocks of one side of a component sampled by `factor` of the largest factor `largest`, rounded
// up to whole MCUs.
std::uint64_t blocksAlong(std::uint64_t pixels, int factor, int largest)
{
    const std::uint64_t sampled = (pixels * static_cast<std::uint64_t>(factor) + largest - 1) / largest;
    const std::uint64_t count = (sampled + 7) / 8;
    return (count + factor - 1) / factor * factor;
}

}  // namespace

std::uint64_t JpegFrame::blocks() const
{
    int largestAcross = 1, largestDown = 1;
    for (int c = 0; c < count; ++c) {
        largestAcross = std::max(largestAcross, components[c].across);
        largestDown = std::max(largestDown, components[c].down);
    }
    std::uint64_t total = 0;
    for (int c = 0; c < count; ++c)
        total += blocksAlong(width, components[c].across, largestAcross) *
                 blocksAlong(height, components[c].down, largestDown);
    return total;
}

bool JpegWalk::outgrown() const
{
    const std::uint64_t loose = at_ - segmentBytes_;
    return loose > kLooseBytesBesides + (frame_ ? frame_->blocks() * kLooseBytesPerBlock : 0);
}

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
        at_ = beforeCode(stream, marker);
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
        at_ = code - 1;
        return false;
    }
    // The length counts its own two bytes.
    const std::size_t length = std::size_t{stream[code + 1]} << 8 | stream[code + 2];
    const std::size_t segmentEnd = code + 1 + std::max<std::size_t>(length, 2);
    if (c != kSos) {
        if (segmentEnd <= stream.size()) {
            const std::span<const std::uint8_t> payload = stream.subspan(code + 3, segmentEnd - (code + 3));
            if (isFrameMarker(c) && !sawFrame_) {
                sawFrame_ = true;
                frame_ = frameOf(c, payload);
            }
            if (onSegment)
                onSegment(c, payload);
        }
        segmentBytes_ += segmentEnd - (code - 1);
        at_ = segmentEnd;
        return where_ == Where::Segments;
    }
    if (segmentEnd > stream.size()) {
        at_ = code - 1;
        return false;
    }
    where_ = Where::Data;
    segmentBytes_ += segmentEnd - (code - 1);
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
        at_ = beforeCode(stream, marker);
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

std::optional<std::size_t> readJpegImage(int fd, std::uint64_t size,
                                         const std::function<std::span<std::uint8_t>(std::size_t wanted)> &room)
{
    // A piece at a time, each walked through before the next is read.
    constexpr std::size_t kPiece = std::size_t{1} << 20;
    JpegWalk walk;
    std::size_t done = 0;
    while (done < size && !walk.ended() && !walk.notJpeg() && !walk.outgrown()) {
        const auto wanted = static_cast<std::size_t>(std::min<std::uint64_t>(size, done + kPiece));
        const std::span<std::uint8_t> bytes = room(wanted);
        const ssize_t got = readSome(fd, bytes.subspan(done, wanted - done));
        if (got < 0)
            return std::nullopt;
        if (got == 0)
            break;
        done += static_cast<std::size_t>(got);
        walk.advance(bytes.first(done));
    }
    return walk.ended() ? std::optional<std::size_t>(walk.end()) : std::nullopt;
}

}  // namespace common
