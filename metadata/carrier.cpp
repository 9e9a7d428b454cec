// Writing and finding the metadata blocks at the end of a bitmap.
#include "metadata/carrier.h"

#include "metadata/exif.h"

#include <algorithm>
#include <optional>

namespace meta {
namespace {

static_assert(kMaxPayload < std::uint64_t{1} << (8 * kCarrierLengthBytes), "the length field must hold any payload");

using Signature = std::array<std::uint8_t, 8>;
constexpr Signature kXmpSignature = {'R', 'e', 'd', 'i', 'm', 'X', 'm', 'p'};
constexpr Signature kIptcSignature = {'R', 'e', 'd', 'i', 'm', 'I', 'p', 't'};
constexpr Signature kCommentSignature = {'R', 'e', 'd', 'i', 'm', 'C', 'o', 'm'};

std::optional<Segment> kindOf(std::span<const std::uint8_t> signature)
{
    const std::pair<const Signature &, Segment> kinds[] = {{kCarrierSignature, Segment::Exif},
                                                           {kXmpSignature, Segment::Xmp},
                                                           {kIptcSignature, Segment::Iptc},
                                                           {kCommentSignature, Segment::Comment}};
    for (const auto &[known, kind] : kinds) {
        if (std::equal(known.begin(), known.end(), signature.begin(), signature.end()))
            return kind;
    }
    return std::nullopt;
}

void append(std::vector<std::uint8_t> &out, std::span<const std::uint8_t> payload, const Signature &signature)
{
    out.insert(out.end(), payload.begin(), payload.end());
    appendTrailer(out, payload.size(), signature);
}

// Walks the blocks that end `file` back from its end (carriedMetadata() says which it takes),
// noting each in `found` when given; returns where the first one taken begins.
std::uint64_t walkBack(std::span<const std::uint8_t> file, std::uint64_t dataEnd,
                       std::vector<std::pair<Segment, std::span<const std::uint8_t>>> *found)
{
    std::uint64_t end = file.size();
    for (std::size_t blocks = 0; blocks < kMaxCarriedBlocks && end >= kCarrierTrailerBytes; ++blocks) {
        const auto trailer = file.subspan(static_cast<std::size_t>(end - kCarrierTrailerBytes), kCarrierTrailerBytes);
        const std::optional<Segment> kind = kindOf(trailer.subspan(kCarrierLengthBytes));
        const std::uint64_t size = trailerLength(trailer);
        const std::uint64_t blockEnd = end - kCarrierTrailerBytes;
        if (!kind || size > kMaxPayload || size > blockEnd || blockEnd - size < dataEnd)
            break;
        if (found)
            found->emplace_back(
                *kind, file.subspan(static_cast<std::size_t>(blockEnd - size), static_cast<std::size_t>(size)));
        end = blockEnd - size;
    }
    return end;
}

}  // namespace

void appendTrailer(std::vector<std::uint8_t> &out, std::uint64_t payloadSize,
                   std::span<const std::uint8_t, 8> signature)
{
    for (std::size_t i = 0; i < kCarrierLengthBytes; ++i)
        out.push_back(static_cast<std::uint8_t>(payloadSize >> (8 * i)));
    out.insert(out.end(), signature.begin(), signature.end());
}

std::uint64_t trailerLength(std::span<const std::uint8_t> trailer)
{
    std::uint64_t size = 0;
    for (std::size_t i = 0; i < kCarrierLengthBytes; ++i)
        size |= std::uint64_t{trailer[i]} << (8 * i);
    return size;
}

std::uint64_t carriedBlocksStart(std::span<const std::uint8_t> file, std::uint64_t dataEnd)
{
    return walkBack(file, dataEnd, nullptr);
}

std::vector<std::uint8_t> carrierBlocks(const Metadata &metadata)
{
    std::vector<std::uint8_t> out;
    std::size_t blocks = 0;
    const auto add = [&](std::span<const std::uint8_t> payload, const Signature &signature) {
        if (!payload.empty() && payload.size() <= kMaxPayload && blocks < kMaxCarriedBlocks - 1) {
            append(out, payload, signature);
            ++blocks;
        }
    };
    add(metadata.xmp, kXmpSignature);
    add(metadata.iptc, kIptcSignature);
    for (const std::vector<std::uint8_t> &comment : metadata.comments)
        add(comment, kCommentSignature);
    if (!metadata.exif.empty() && metadata.exif.size() <= kMaxPayload)
        append(out, metadata.exif, kCarrierSignature);  // last, and always room for it
    return out;
}

Metadata carriedMetadata(std::span<const std::uint8_t> file, std::uint64_t dataEnd)
{
    std::vector<std::pair<Segment, std::span<const std::uint8_t>>> found;  // from the end back
    walkBack(file, dataEnd, &found);
    Metadata metadata;
    for (auto block = found.rbegin(); block != found.rend(); ++block)
        take(metadata, block->first, block->second);
    return metadata;
}

}  // namespace meta
