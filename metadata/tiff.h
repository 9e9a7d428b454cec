// The numbers of a TIFF block (the body of an EXIF payload) in its byte order, and its
// directories, read without ever reaching outside the block.
#pragma once

#include "metadata/exif.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace meta {

// The TIFF header: "II" or "MM", 42, and the offset of the first directory.
inline constexpr std::size_t kHeaderBytes = 8;
// A directory entry: tag, type, count, and a 4-byte value field.
inline constexpr std::size_t kEntryBytes = 12;

// IFD0's Orientation tag.
inline constexpr std::uint16_t kOrientation = 0x0112;

// TIFF value types the cleaning reads or writes.
inline constexpr std::uint16_t kTypeShort = 3;
inline constexpr std::uint16_t kTypeLong = 4;
inline constexpr std::uint16_t kTypeUndefined = 7;
inline constexpr std::uint16_t kTypeIfd = 13;

class ByteOrder {
public:
    explicit ByteOrder(bool bigEndian) : bigEndian_(bigEndian) {}
    std::uint16_t get16(const std::uint8_t *p) const;
    std::uint32_t get32(const std::uint8_t *p) const;
    void put16(std::uint8_t *p, std::uint16_t value) const;
    void put32(std::uint8_t *p, std::uint32_t value) const;

private:
    bool bigEndian_;
};

// The TIFF block of an EXIF payload.  Offsets count from its first byte, as TIFF's own do.
class Tiff {
public:
    // The block after the "Exif\0\0" of `payload`, or nothing without a TIFF header ("II" or
    // "MM", 42, the offset of the first directory).
    static std::optional<Tiff> open(std::span<const std::uint8_t> payload);

    std::span<const std::uint8_t> bytes() const { return bytes_; }
    std::size_t size() const { return bytes_.size(); }
    const ByteOrder &order() const { return order_; }

    bool has(std::uint64_t offset, std::uint64_t count) const
    {
        return offset <= bytes_.size() && count <= bytes_.size() - offset;
    }
    // Callers check has() first.
    std::uint16_t u16(std::size_t offset) const { return order_.get16(bytes_.data() + offset); }
    std::uint32_t u32(std::size_t offset) const { return order_.get32(bytes_.data() + offset); }
    std::uint32_t firstDirectory() const { return u32(4); }

private:
    Tiff(std::span<const std::uint8_t> bytes, bool bigEndian) : bytes_(bytes), order_(bigEndian) {}
    std::span<const std::uint8_t> bytes_;
    ByteOrder order_;
};

// One directory entry.  The value field stays raw bytes, so that a value held in the
// entry itself goes out again exactly as it came.
struct Entry {
    std::uint16_t tag = 0;
    std::uint16_t type = 0;
    std::uint32_t count = 0;
    std::array<std::uint8_t, 4> field{};
};
static_assert(kEntryBytes == 2 + 2 + 4 + std::tuple_size_v<decltype(Entry::field)>, "an entry is 12 bytes");

// Bytes of an entry's values, or nothing for a type whose size we do not know.
std::optional<std::uint64_t> valueBytes(const Entry &entry);

// A directory: its entries and the offset of the next directory (0 for none).
struct Directory {
    std::uint32_t offset = 0;
    std::vector<Entry> entries;
    std::uint32_t next = 0;

    static std::uint64_t bytesFor(std::size_t entries) { return 2 + kEntryBytes * std::uint64_t{entries} + 4; }
    std::uint64_t end() const { return offset + bytesFor(entries.size()); }
    const Entry *find(std::uint16_t tag) const;
};

// The directory at `offset`, or nothing when its count, entries or next offset run past the block.
std::optional<Directory> readDirectory(const Tiff &tiff, std::uint32_t offset);

// Writes `directory` (count, entries, next offset) at `at`, which has room for it.
void writeDirectory(const ByteOrder &order, const Directory &directory, std::uint8_t *at);

}  // namespace meta
