// The frame header of a JPEG file, read far enough to size its decode.
#include "phase1/photo_footprint.h"

#include "common/jpeg_walk.h"
#include "common/mpf.h"
#include "common/regular_file.h"

#include <algorithm>
#include <optional>
#include <vector>

#include <unistd.h>

namespace redim {
namespace {

struct Frame {
    common::JpegFrame header;
    int firstScanComponents = 0;  // 0 when the header ends before the first scan
};

// What the walk through a file's first bytes found: its frame header, the first scan's component
// count, and the bytes the library reads besides the image's data.
struct Head {
    std::optional<Frame> frame;
    std::uint64_t headers = 0;                 // up to the first scan's data, or all of the bytes walked
    std::optional<common::MpfImage> follower;  // the first image its MPF index lists after it
};

// The frame header and the first scan's component count, walked to as libjpeg walks a file.
Head walkHead(std::span<const std::uint8_t> bytes)
{
    common::JpegWalk walk;
    Head head;
    head.headers = bytes.size();
    int firstScanComponents = 0;
    walk.onScan = [&](std::span<const std::uint8_t> header) {
        firstScanComponents = header.empty() ? 0 : header[0];
        head.headers = static_cast<std::uint64_t>(header.data() + header.size() - bytes.data());
        walk.stop();
    };
    walk.onSegment = [&](std::uint8_t code, std::span<const std::uint8_t> payload) {
        if (head.follower || !common::isMpf(code, payload))
            return;
        const auto at = static_cast<std::uint64_t>(payload.data() - bytes.data());
        const auto images = common::mpfImagesOf(payload, at + sizeof common::kMpfId, at + payload.size());
        if (!images.empty())
            head.follower = images.front();
    };
    walk.advance(bytes);
    if (walk.frame())
        head.frame = Frame{*walk.frame(), firstScanComponents};
    return head;
}

std::uint64_t scaledSide(std::uint64_t side, qint32 rate)
{
    return std::max<std::uint64_t>(1, (side * static_cast<std::uint64_t>(rate) + 50) / 100);
}

// The first bytes of a gain map read after a photo: enough for its frame header.
constexpr std::size_t kFollowerHead = std::size_t{64} << 10;

// What the library holds of a photo's gain map, whose JPEG of `bytes` bytes starts with `head`:
// its bytes and its pixels while it reads, and its pixels at the photo's rate.  Nothing when the
// head gives no frame of 1 or 3 components: the library does not keep such a map.
void addGainMap(PhotoFootprint &footprint, std::span<const std::uint8_t> head, std::uint64_t bytes, qint32 rate)
{
    const Head found = walkHead(head);
    if (!found.frame || (found.frame->header.count != 1 && found.frame->header.count != 3))
        return;
    const common::JpegFrame &frame = found.frame->header;
    const std::uint64_t decoded = frame.width * frame.height * static_cast<std::uint64_t>(frame.count);
    const std::uint64_t scaled = rate != 100 && rate > 0
                                     ? scaledSide(frame.width, rate) * scaledSide(frame.height, rate) * frame.count
                                     : decoded;
    footprint.held += bytes + decoded + (rate != 100 ? scaled : 0) + (frame.progressive ? frame.coefficientBytes() : 0);
    footprint.kept += scaled;
}

// The footprint of a photo whose first bytes are `head`, and of the gain map listed after it whose
// first bytes are `followerHead`.
PhotoFootprint footprintWith(std::span<const std::uint8_t> head, std::uint64_t size, qint32 rate,
                             std::span<const std::uint8_t> followerHead);

}  // namespace

PhotoFootprint footprintOf(int fd, std::uint64_t size, qint32 rate)
{
    // A piece at a time, twice as large as the last, until the walk reaches the first scan.
    constexpr std::size_t kFirstPiece = std::size_t{64} << 10;
    std::vector<std::uint8_t> head;
    common::JpegWalk walk;
    bool scanned = false;
    walk.onScan = [&](std::span<const std::uint8_t>) {
        scanned = true;
        walk.stop();
    };
    while (head.size() < size && !scanned && !walk.notJpeg() && !walk.ended() && !walk.outgrown()) {
        const std::size_t done = head.size();
        head.resize(static_cast<std::size_t>(std::min<std::uint64_t>(size, done + std::max(kFirstPiece, done))));
        const ssize_t got = common::readSome(fd, {head.data() + done, head.size() - done});
        head.resize(done + static_cast<std::size_t>(std::max<ssize_t>(got, 0)));
        if (got <= 0)
            break;
        walk.advance(head);
    }
    // A gain map listed after the photo: the first bytes of it, read where it starts.
    const std::optional<common::MpfImage> follower = walkHead(head).follower;
    std::vector<std::uint8_t> followerHead;
    if (follower && follower->start < size) {
        followerHead.resize(
            static_cast<std::size_t>(std::min<std::uint64_t>({kFollowerHead, follower->size, size - follower->start})));
        const ssize_t got = pread(fd, followerHead.data(), followerHead.size(), static_cast<off_t>(follower->start));
        followerHead.resize(static_cast<std::size_t>(std::max<ssize_t>(got, 0)));
    }
    return footprintWith(head, size, rate, followerHead);
}

PhotoFootprint footprintOf(std::span<const std::uint8_t> head, std::uint64_t size, qint32 rate)
{
    const std::optional<common::MpfImage> follower = walkHead(head).follower;
    std::span<const std::uint8_t> followerHead;
    if (follower && follower->start < head.size())
        followerHead = head.subspan(static_cast<std::size_t>(follower->start),
                                    static_cast<std::size_t>(std::min<std::uint64_t>(
                                        {kFollowerHead, follower->size, head.size() - follower->start})));
    return footprintWith(head, size, rate, followerHead);
}

namespace {

PhotoFootprint footprintWith(std::span<const std::uint8_t> head, std::uint64_t size, qint32 rate,
                             std::span<const std::uint8_t> followerHead)
{
    const Head found = walkHead(head);
    const std::uint64_t blocks = found.frame ? found.frame->header.blocks() : 0;
    const std::uint64_t copy = std::min(size, found.headers + common::JpegWalk::kLooseBytesBesides +
                                                  blocks * common::JpegWalk::kLooseBytesPerBlock);
    PhotoFootprint footprint;
    footprint.held = copy;
    if (!found.frame)
        return footprint;
    const common::JpegFrame &header = found.frame->header;
    footprint.decoded = header.width * header.height * 3;
    footprint.kept = footprint.decoded + copy;
    if (rate != 100 && rate > 0)
        footprint.kept = scaledSide(header.width, rate) * scaledSide(header.height, rate) * 3;
    footprint.held += footprint.decoded + (rate != 100 ? footprint.kept : 0);
    // A scan of fewer components than the frame has means several scans: the decoder then keeps
    // every coefficient too.
    const int firstScanComponents = found.frame->firstScanComponents;
    if (header.progressive || (firstScanComponents > 0 && firstScanComponents < header.count))
        footprint.held += header.coefficientBytes();
    if (found.follower && found.follower->start < size)
        addGainMap(footprint, followerHead, std::min(found.follower->size, size - found.follower->start), rate);
    return footprint;
}

}  // namespace

}  // namespace redim
