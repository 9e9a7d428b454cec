// The TIFF reader behind every EXIF block of the program, and the orientation it records.
#include "metadata/tiff.h"
#include "metadata/exif.h"

#include <algorithm>

namespace meta {

std::uint16_t ByteOrder::get16(const std::uint8_t *p) const
{
    return bigEndian_ ? static_cast<std::uint16_t>(p[0] << 8 | p[1]) : static_cast<std::uint16_t>(p[1] << 8 | p[0]);
}

std::uint32_t ByteOrder::get32(const std::uint8_t *p) const
{
    const std::uint32_t first = get16(p), second = get16(p + 2);
    return bigEndian_ ? first << 16 | second : second << 16 | first;
}

void ByteOrder::put16(std::uint8_t *p, std::uint16_t value) const
{
    const auto high = static_cast<std::uint8_t>(value >> 8), low = static_cast<std::uint8_t>(value);
    p[0] = bigEndian_ ? high : low;
    p[1] = bigEndian_ ? low : high;
}

void ByteOrder::put32(std::uint8_t *p, std::uint32_t value) const
{
    const auto high = static_cast<std::uint16_t>(value >> 16), low = static_cast<std::uint16_t>(value);
    put16(p, bigEndian_ ? high : low);
    put16(p + 2, bigEndian_ ? low : high);
}

std::optional<Tiff> Tiff::open(std::span<const std::uint8_t> payload)
{
    if (payload.size() < sizeof kExifId + kHeaderBytes ||
        !std::equal(kExifId, kExifId + sizeof kExifId, payload.begin()))
        return std::nullopt;
    const auto tiff = payload.subspan(sizeof kExifId);
    bool bigEndian;
    if (tiff[0] == 'I' && tiff[1] == 'I')
        bigEndian = false;
    else if (tiff[0] == 'M' && tiff[1] == 'M')
        bigEndian = true;
    else
        return std::nullopt;
    const Tiff result(tiff, bigEndian);
    if (result.u16(2) != 42)
        return std::nullopt;
    return result;
}

std::optional<std::uint64_t> valueBytes(const Entry &entry)
{
    // BYTE, ASCII, SHORT, LONG, RATIONAL, SBYTE, UNDEFINED, SSHORT, SLONG, SRATIONAL, FLOAT,
    // DOUBLE, IFD.
    static constexpr std::uint8_t sizes[] = {0, 1, 1, 2, 4, 8, 1, 1, 2, 4, 8, 4, 8, 4};
    if (entry.type == 0 || entry.type >= std::size(sizes))
        return std::nullopt;
    return std::uint64_t{sizes[entry.type]} * entry.count;
}

const Entry *Directory::find(std::uint16_t tag) const
{
    const auto found = std::find_if(entries.begin(), entries.end(), [tag](const Entry &e) { return e.tag == tag; });
    return found == entries.end() ? nullptr : &*found;
}

std::optional<Directory> readDirectory(const Tiff &tiff, std::uint32_t offset)
{
    if (!tiff.has(offset, 2))
        return std::nullopt;
    const std::size_t count = tiff.u16(offset);
    if (!tiff.has(offset, Directory::bytesFor(count)))
        return std::nullopt;
    Directory directory;
    directory.offset = offset;
    directory.entries.resize(count);
    for (std::size_t i = 0; i < count; ++i) {
        const std::size_t at = offset + 2 + kEntryBytes * i;
        Entry &e = directory.entries[i];
        e.tag = tiff.u16(at);
        e.type = tiff.u16(at + 2);
        e.count = tiff.u32(at + 4);
        std::copy_n(tiff.bytes().begin() + static_cast<std::ptrdiff_t>(at + 8), 4, e.field.begin());
    }
    directory.next = tiff.u32(offset + 2 + kEntryBytes * count);
    return directory;
}

void writeDirectory(const ByteOrder &order, const Directory &directory, std::uint8_t *at)
{
    order.put16(at, static_cast<std::uint16_t>(directory.entries.size()));
    at += 2;
    for (const Entry &e : directory.entries) {
        order.put16(at, e.tag);
        order.put16(at + 2, e.type);
        order.put32(at + 4, e.count);
        std::copy(e.field.begin(), e.field.end(), at + 8);
        at += kEntryBytes;
    }
    order.put32(at, directory.next);
}

int orientation(std::span<const std::uint8_t> payload)
{
    const auto tiff = Tiff::open(payload);
    if (!tiff)
        return 1;
    // Only as much of IFD0 as comes before the tag is read: a directory damaged after it still
    // says how the photo stands.
    const std::size_t directory = tiff->firstDirectory();
    if (!tiff->has(directory, 2))
        return 1;
    const std::size_t entries = tiff->u16(directory);
    for (std::size_t i = 0; i < entries; ++i) {
        const std::size_t entry = directory + 2 + kEntryBytes * i;
        if (!tiff->has(entry, kEntryBytes))
            return 1;
        if (tiff->u16(entry) != kOrientation)
            continue;
        if (tiff->u16(entry + 2) != kTypeShort || tiff->u32(entry + 4) != 1)
            return 1;
        // A single SHORT sits left-aligned in the 4-byte value field, in either byte order.
        const int value = tiff->u16(entry + 8);
        return value >= 1 && value <= 8 ? value : 1;
    }
    return 1;
}

}  // namespace meta
