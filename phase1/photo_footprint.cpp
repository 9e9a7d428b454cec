// The frame header of a JPEG file, read far enough to size its decode.
#include "phase1/photo_footprint.h"

#include <algorithm>
#include <array>
#include <optional>

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

class Reader {
public:
    explicit Reader(const QByteArray &bytes) : bytes_(bytes) {}
    bool has(qsizetype at, qsizetype count) const { return at >= 0 && count >= 0 && bytes_.size() - at >= count; }
    unsigned byte(qsizetype at) const { return static_cast<unsigned char>(bytes_[at]); }
    unsigned word(qsizetype at) const { return byte(at) << 8 | byte(at + 1); }

private:
    const QByteArray &bytes_;
};

// The frame header's sizes and the first scan's component count; nothing when the segments
// before them cannot be walked.
std::optional<Frame> readFrame(const QByteArray &bytes)
{
    const Reader in(bytes);
    if (!in.has(0, 2) || in.word(0) != 0xFFD8)
        return std::nullopt;
    Frame frame;
    qsizetype at = 2;
    while (in.has(at, 4)) {
        if (in.byte(at) != 0xFF)
            return std::nullopt;
        const unsigned marker = in.byte(at + 1);
        if (marker == 0xFF) {  // fill byte
            ++at;
            continue;
        }
        if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD8)) {  // markers without a length
            at += 2;
            continue;
        }
        const qsizetype length = in.word(at + 2);
        if (length < 2 || !in.has(at + 2, length))
            return std::nullopt;
        const qsizetype body = at + 4;
        if (isFrameMarker(marker) && length >= 8) {
            frame.height = in.word(body + 1);
            frame.width = in.word(body + 3);
            frame.count = static_cast<int>(in.byte(body + 5));
            frame.progressive = isProgressive(marker);
            if (frame.count < 1 || frame.count > 4 || length < 8 + 3 * frame.count)
                return std::nullopt;
            for (int c = 0; c < frame.count; ++c) {
                const unsigned factors = in.byte(body + 7 + 3 * c);
                frame.components[c] = {std::max(1, static_cast<int>(factors >> 4)),
                                       std::max(1, static_cast<int>(factors & 0x0F))};
            }
        } else if (marker == 0xDA) {  // the first scan
            frame.firstScanComponents = static_cast<int>(in.byte(body));
            break;
        }
        at += 2 + length;
    }
    if (frame.width == 0 || frame.height == 0)
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
