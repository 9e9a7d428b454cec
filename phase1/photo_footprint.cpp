// The frame header of a JPEG file, read far enough to size its decode.
#include "phase1/photo_footprint.h"

#include "common/jpeg_walk.h"

#include <algorithm>
#include <array>
#include <optional>
#include <span>

namespace redim {
namespace {

struct Component {
    int across = 1;  // sampling factors
    int down = 1;
};

struct Frame {
    std::uint64_t width = 0;
    std::uint64_t height = 0;
    bool progressive = false;
    int count = 0;
    std::array<Component, 4> components{};
    int firstScanComponents = 0;  // 0 when the header ends before the first scan
};

bool isFrameMarker(unsigned marker)
{
    // SOF0 to SOF15, but for DHT (C4), JPG (C8) and DAC (CC), which share the range.
    return marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
}

bool isProgressive(unsigned marker)
{
    return marker == 0xC2 || marker == 0xC6 || marker == 0xCA || marker == 0xCE;
}

std::uint64_t bigEndian16(std::span<const std::uint8_t> bytes, std::size_t at)
{
    return std::uint64_t{bytes[at]} << 8 | bytes[at + 1];
}

// The frame header's sizes and the first scan's component count, walked to as libjpeg walks a
// file; nothing when the file has no frame header before its first scan.
std::optional<Frame> readFrame(const QByteArray &bytes)
{
    Frame frame;
    bool damaged = false;
    common::JpegWalk walk;
    walk.onSegment = [&](std::uint8_t marker, std::span<const std::uint8_t> body) {
        if (!isFrameMarker(marker) || body.size() < 6)
            return;
        frame.height = bigEndian16(body, 1);
        frame.width = bigEndian16(body, 3);
        frame.count = body[5];
        frame.progressive = isProgressive(marker);
        damaged = frame.count < 1 || frame.count > 4 || body.size() < 6 + 3 * std::size_t(frame.count);
        for (int c = 0; c < frame.count && !damaged; ++c) {
            const unsigned factors = body[7 + 3 * c];
            frame.components[c] = {std::max(1, static_cast<int>(factors >> 4)),
                                   std::max(1, static_cast<int>(factors & 0x0F))};
        }
        if (damaged)
            walk.stop();
    };
    walk.onScan = [&](std::span<const std::uint8_t> header) {
        frame.firstScanComponents = header.empty() ? 0 : header[0];
        walk.stop();
    };
    walk.advance({reinterpret_cast<const std::uint8_t *>(bytes.constData()), static_cast<std::size_t>(bytes.size())});
    if (damaged || frame.width == 0 || frame.height == 0)
        return std::nullopt;
    return frame;
}

std::uint64_t blocks(std::uint64_t pixels, int factor, int largest)
{
    const std::uint64_t sampled = (pixels * static_cast<std::uint64_t>(factor) + largest - 1) / largest;
    const std::uint64_t count = (sampled + 7) / 8;
    // libjpeg-turbo rounds each component up to whole MCUs.
    return (count + factor - 1) / factor * factor;
}

// The coefficient buffer of the whole image, as libjpeg-turbo allocates it for a decode that
// needs one.
std::uint64_t coefficientBytes(const Frame &frame)
{
    int largestAcross = 1, largestDown = 1;
    for (int c = 0; c < frame.count; ++c) {
        largestAcross = std::max(largestAcross, frame.components[c].across);
        largestDown = std::max(largestDown, frame.components[c].down);
    }
    constexpr std::uint64_t kBytesPerBlock = 64 * 2;
    std::uint64_t bytes = 0;
    for (int c = 0; c < frame.count; ++c)
        bytes += blocks(frame.width, frame.components[c].across, largestAcross) *
                 blocks(frame.height, frame.components[c].down, largestDown) * kBytesPerBlock;
    return bytes;
}

std::uint64_t scaledSide(std::uint64_t side, qint32 rate)
{
    return std::max<std::uint64_t>(1, (side * static_cast<std::uint64_t>(rate) + 50) / 100);
}

}  // namespace

PhotoFootprint footprintOf(const QByteArray &file, qint32 rate)
{
    PhotoFootprint footprint;
    footprint.held = 2 * static_cast<std::uint64_t>(file.size());
    const std::optional<Frame> frame = readFrame(file);
    if (!frame)
        return footprint;
    footprint.decoded = frame->width * frame->height * 3;
    footprint.kept = footprint.decoded + static_cast<std::uint64_t>(file.size());
    if (rate != 100 && rate > 0)
        footprint.kept = scaledSide(frame->width, rate) * scaledSide(frame->height, rate) * 3;
    footprint.held += footprint.decoded + (rate != 100 ? footprint.kept : 0);
    // A scan of fewer components than the frame has means several scans: the decoder then keeps
    // every coefficient too.
    if (frame->progressive || (frame->firstScanComponents > 0 && frame->firstScanComponents < frame->count))
        footprint.held += coefficientBytes(*frame);
    return footprint;
}

}  // namespace redim
