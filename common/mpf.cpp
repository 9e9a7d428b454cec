// Reading an MPF index: a TIFF block of one directory, in either byte order.
#include "common/mpf.h"

#include "common/jpeg_walk.h"

#include <algorithm>
#include <optional>

namespace common {
namespace {

constexpr std::uint16_t kVersionTag = 0xB000;
constexpr std::uint16_t kNumberOfImagesTag = 0xB001;
constexpr std::uint16_t kEntriesTag = 0xB002;
constexpr std::uint16_t kUndefined = 7;
constexpr std::uint16_t kLong = 4;
constexpr std::size_t kEntryBytes = 16;
constexpr std::uint32_t kPrimaryType = 0x030000;
constexpr std::uint32_t kTypeMask = 0xFFFFFF;
constexpr std::uint32_t kFormatMask = 0x07000000;  // 0: JPEG

class Tiff {
public:
    explicit Tiff(std::span<const std::uint8_t> bytes) : bytes_(bytes)
    {
        static constexpr std::uint8_t big[] = {'M', 'M', 0, 42}, little[] = {'I', 'I', 42, 0};
        if (bytes.size() >= 8 && std::equal(big, big + 4, bytes.begin()))
            valid_ = bigEndian_ = true;
        else if (bytes.size() >= 8 && std::equal(little, little + 4, bytes.begin()))
            valid_ = true;
    }
    bool valid() const { return valid_; }
    bool holds(std::uint64_t at, std::uint64_t size) const { return at <= bytes_.size() && size <= bytes_.size() - at; }
    // Callers check holds() first.
    std::uint32_t get(std::size_t at, int size) const
    {
        std::uint32_t value = 0;
        for (int i = 0; i < size; ++i)
            value |= std::uint32_t{bytes_[at + static_cast<std::size_t>(bigEndian_ ? size - 1 - i : i)]} << (8 * i);
        return value;
    }
    std::uint32_t u16(std::size_t at) const { return get(at, 2); }
    std::uint32_t u32(std::size_t at) const { return get(at, 4); }

private:
    std::span<const std::uint8_t> bytes_;
    bool valid_ = false;
    bool bigEndian_ = false;
};

struct Index {
    bool version = false;
    std::uint32_t images = 0;
    std::optional<std::uint32_t> entries;  // where the entries start
    std::uint32_t entriesSize = 0;
};

std::optional<Index> readDirectory(const Tiff &tiff)
{
    const std::uint32_t ifd = tiff.u32(4);
    if (ifd < 8 || !tiff.holds(ifd, 2))
        return std::nullopt;
    const std::uint32_t count = tiff.u16(ifd);
    if (!tiff.holds(ifd + 2, std::uint64_t{count} * 12))
        return std::nullopt;
    Index index;
    for (std::uint32_t i = 0; i < count; ++i) {
        const std::size_t entry = ifd + 2 + std::size_t{i} * 12;
        const std::uint32_t tag = tiff.u16(entry), type = tiff.u16(entry + 2), n = tiff.u32(entry + 4);
        if (tag == kVersionTag)
            index.version = type == kUndefined && n == 4 && tiff.get(entry + 8, 1) == '0' &&
                            tiff.get(entry + 9, 1) == '1' && tiff.get(entry + 10, 1) == '0' &&
                            tiff.get(entry + 11, 1) == '0';
        else if (tag == kNumberOfImagesTag && type == kLong && n == 1)
            index.images = tiff.u32(entry + 8);
        else if (tag == kEntriesTag && type == kUndefined) {
            index.entries = tiff.u32(entry + 8);
            index.entriesSize = n;
        }
    }
    return index;
}

}  // namespace

bool isMpf(std::uint8_t code, std::span<const std::uint8_t> payload)
{
    return code == 0xE2 && payload.size() >= sizeof kMpfId &&
           std::equal(kMpfId, kMpfId + sizeof kMpfId, payload.begin());
}

std::vector<MpfImage> mpfImagesOf(std::span<const std::uint8_t> payload, std::uint64_t tiffAt, std::uint64_t photoEnd)
{
    if (!isMpf(0xE2, payload))
        return {};
    const Tiff tiff(payload.subspan(sizeof kMpfId));
    if (!tiff.valid())
        return {};
    const std::optional<Index> index = readDirectory(tiff);
    if (!index || !index->version || index->images < 2 || index->images > kMaxMpfImages || !index->entries ||
        index->entriesSize != kEntryBytes * index->images || !tiff.holds(*index->entries, index->entriesSize))
        return {};
    const std::size_t first = *index->entries;
    if ((tiff.u32(first) & kTypeMask) != kPrimaryType || tiff.u32(first + 8) != 0)
        return {};
    std::vector<MpfImage> images;
    for (std::uint32_t i = 1; i < index->images; ++i) {
        const std::size_t entry = first + i * kEntryBytes;
        const std::uint32_t attribute = tiff.u32(entry), size = tiff.u32(entry + 4), offset = tiff.u32(entry + 8);
        const std::uint64_t start = tiffAt + offset;
        if ((attribute & kFormatMask) == 0 && offset != 0 && size > 0 && start >= photoEnd)
            images.push_back({start, size});
    }
    return images;
}

std::vector<MpfImage> mpfImages(std::span<const std::uint8_t> photo)
{
    std::vector<MpfImage> images;
    JpegWalk walk;
    walk.onSegment = [&](std::uint8_t code, std::span<const std::uint8_t> payload) {
        if (!isMpf(code, payload))
            return;
        const auto tiffAt = static_cast<std::uint64_t>(payload.data() - photo.data()) + sizeof kMpfId;
        images = mpfImagesOf(payload, tiffAt, photo.size());
        walk.stop();
    };
    walk.onScan = [&](std::span<const std::uint8_t>) { walk.stop(); };
    walk.advance(photo);
    return images;
}

}  // namespace common
