// The frame header of a JPEG file, read far enough to size its decode.
#include "phase1/photo_footprint.h"

#include "common/jpeg_walk.h"

#include <algorithm>
#include <optional>
#include <span>

namespace redim {
namespace {

struct Frame {
    common::JpegFrame header;
    int firstScanComponents = 0;  // 0 when the header ends before the first scan
};

// The frame header and the first scan's component count, walked to as libjpeg walks a file;
// nothing when the file has no usable frame header before its first scan.
std::optional<Frame> readFrame(const QByteArray &bytes)
{
    int firstScanComponents = 0;
    common::JpegWalk walk;
    walk.onScan = [&](std::span<const std::uint8_t> header) {
        firstScanComponents = header.empty() ? 0 : header[0];
        walk.stop();
    };
    walk.advance({reinterpret_cast<const std::uint8_t *>(bytes.constData()), static_cast<std::size_t>(bytes.size())});
    if (!walk.frame())
        return std::nullopt;
    return Frame{*walk.frame(), firstScanComponents};
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
    const common::JpegFrame &header = frame->header;
    footprint.decoded = header.width * header.height * 3;
    footprint.kept = footprint.decoded + static_cast<std::uint64_t>(file.size());
    if (rate != 100 && rate > 0)
        footprint.kept = scaledSide(header.width, rate) * scaledSide(header.height, rate) * 3;
    footprint.held += footprint.decoded + (rate != 100 ? footprint.kept : 0);
    // A scan of fewer components than the frame has means several scans: the decoder then keeps
    // every coefficient too.
    if (header.progressive || (frame->firstScanComponents > 0 && frame->firstScanComponents < header.count))
        footprint.held += header.coefficientBytes();
    return footprint;
}

}  // namespace redim
