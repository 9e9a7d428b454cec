// Fits the EXIF block of a photo to the copy the program makes of it, editing the TIFF block in
// place so that every value kept stays at its offset.
#include "metadata/exif.h"
#include "metadata/tiff.h"

#include <algorithm>
#include <iterator>
#include <set>

namespace meta {
namespace {

constexpr std::uint16_t kImageWidth = 0x0100;
constexpr std::uint16_t kImageLength = 0x0101;
constexpr std::uint16_t kStripOffsets = 0x0111;
constexpr std::uint16_t kStripByteCounts = 0x0117;
constexpr std::uint16_t kSubIfds = 0x014A;
constexpr std::uint16_t kThumbnailOffset = 0x0201;
constexpr std::uint16_t kThumbnailLength = 0x0202;
constexpr std::uint16_t kXmlPacket = 0x02BC;
constexpr std::uint16_t kImageResources = 0x8649;
constexpr std::uint16_t kExifPointer = 0x8769;
constexpr std::uint16_t kGpsPointer = 0x8825;
constexpr std::uint16_t kExifVersion = 0x9000;
constexpr std::uint16_t kColorSpace = 0xA001;
constexpr std::uint16_t kPixelXDimension = 0xA002;
constexpr std::uint16_t kPixelYDimension = 0xA003;
constexpr std::uint16_t kInteropPointer = 0xA005;

struct Range {
    std::uint64_t begin = 0;
    std::uint64_t end = 0;
    bool overlaps(const Range &other) const { return begin < other.end && other.begin < end; }
};

bool anyOverlap(const std::vector<Range> &a, const std::vector<Range> &b)
{
    return std::any_of(a.begin(), a.end(), [&](const Range &r) {
        return std::any_of(b.begin(), b.end(), [&](const Range &s) { return r.overlaps(s); });
    });
}

Range rangeOf(const Directory &d)
{
    return {d.offset, d.end()};
}

// The directories of the block as found.  The Exif directory hangs from IFD0 and the Interop
// directory from the Exif directory, by pointer entries; IFD1 (the thumbnail's) follows IFD0.
// Every other directory reached is dropped with all it leads to: the GPS directory wherever its
// pointer stands, and any directory pointed to from where it does not belong.
struct Structure {
    Directory ifd0;
    std::optional<Directory> exif, interop, ifd1;
    std::vector<Directory> dropped;
};

// The entries that point to directories.  SubIFDs (TIFF's own) has no place in a photo's EXIF
// and is only followed to drop what it leads to.
bool isPointer(std::uint16_t tag)
{
    return tag == kExifPointer || tag == kGpsPointer || tag == kInteropPointer || tag == kSubIfds;
}

// The offsets a pointer entry gives, or nothing when it is not one offset per directory (the
// EXIF pointers name one directory each) or they run past the block.
std::optional<std::vector<std::uint32_t>> pointedOffsets(const Tiff &tiff, const Entry &e)
{
    if ((e.type != kTypeLong && e.type != kTypeIfd) || e.count == 0 || (e.tag != kSubIfds && e.count != 1))
        return std::nullopt;
    if (e.count == 1)
        return std::vector<std::uint32_t>{tiff.order().get32(e.field.data())};
    const std::uint32_t at = tiff.order().get32(e.field.data());
    if (!tiff.has(at, 4ull * e.count))
        return std::nullopt;
    std::vector<std::uint32_t> offsets(e.count);
    for (std::uint32_t i = 0; i < e.count; ++i)
        offsets[i] = tiff.u32(at + 4 * i);
    return offsets;
}

// Reads the directories the pointer entries of `parent` lead to: the first entry tagged `keep`
// (0 for none) into `kept`, every other one into `s.dropped`, followed by all they lead to.  False
// when a pointer or a directory is damaged, or a directory is reached twice.
bool readChildren(const Tiff &tiff, const Directory &parent, std::uint16_t keep, std::optional<Directory> &kept,
                  Structure &s, std::set<std::uint32_t> &reached)
{
    std::vector<std::uint32_t> pending;
    const auto follow = [&](const Directory &d, bool keeping) {
        for (const Entry &e : d.entries) {
            if (!isPointer(e.tag))
                continue;
            const auto offsets = pointedOffsets(tiff, e);
            if (!offsets)
                return false;
            if (keeping && e.tag == keep && !kept) {
                if (!reached.insert((*offsets)[0]).second)
                    return false;
                kept = readDirectory(tiff, (*offsets)[0]);
                if (!kept)
                    return false;
                continue;
            }
            pending.insert(pending.end(), offsets->begin(), offsets->end());
        }
        return true;
    };
    if (!follow(parent, true))
        return false;
    while (!pending.empty()) {
        const std::uint32_t offset = pending.back();
        pending.pop_back();
        auto d = readDirectory(tiff, offset);
        if (!reached.insert(offset).second || !d || !follow(*d, false))
            return false;
        s.dropped.push_back(std::move(*d));
    }
    return true;
}

// Leaves `d` only the first pointer entry tagged `keep` (0 for none): the others lead to
// directories that go.
void dropPointers(Directory &d, std::uint16_t keep)
{
    bool kept = false;
    std::erase_if(d.entries, [&](const Entry &e) {
        if (!isPointer(e.tag))
            return false;
        if (e.tag == keep && !kept) {
            kept = true;
            return false;
        }
        return true;
    });
}

// The header and every directory found.
std::vector<Range> directoryRanges(const Structure &s)
{
    std::vector<Range> ranges = {{0, kHeaderBytes}, rangeOf(s.ifd0)};
    for (const auto *d : {&s.exif, &s.interop, &s.ifd1}) {
        if (*d)
            ranges.push_back(rangeOf(**d));
    }
    for (const Directory &d : s.dropped)
        ranges.push_back(rangeOf(d));
    return ranges;
}

bool anyTwoOverlap(std::vector<Range> ranges)
{
    std::sort(ranges.begin(), ranges.end(), [](const Range &a, const Range &b) { return a.begin < b.begin; });
    for (std::size_t i = 1; i < ranges.size(); ++i) {
        if (ranges[i - 1].overlaps(ranges[i]))
            return true;
    }
    return false;
}

std::optional<Structure> readStructure(const Tiff &tiff)
{
    Structure s;
    auto ifd0 = readDirectory(tiff, tiff.firstDirectory());
    if (!ifd0)
        return std::nullopt;
    s.ifd0 = std::move(*ifd0);
    std::set<std::uint32_t> reached = {tiff.firstDirectory()};
    std::optional<Directory> none;
    if (!readChildren(tiff, s.ifd0, kExifPointer, s.exif, s, reached) ||
        (s.exif && !readChildren(tiff, *s.exif, kInteropPointer, s.interop, s, reached)) ||
        (s.interop && !readChildren(tiff, *s.interop, 0, none, s, reached)))
        return std::nullopt;
    if (s.ifd0.next != 0) {
        s.ifd1 = readDirectory(tiff, s.ifd0.next);
        if (!s.ifd1 || !reached.insert(s.ifd0.next).second || !readChildren(tiff, *s.ifd1, 0, none, s, reached))
            return std::nullopt;
    }
    // No directory may be reached twice or overlap another, or the header.
    if (anyTwoOverlap(directoryRanges(s)))
        return std::nullopt;
    return s;
}

// Adds the ranges of the values of `d` that lie outside it; false when one runs past the
// block or has a type whose size we do not know.
bool addValueRanges(const Tiff &tiff, const Directory &d, std::vector<Range> &out)
{
    for (const Entry &e : d.entries) {
        const auto bytes = valueBytes(e);
        if (!bytes)
            return false;
        if (*bytes <= 4)
            continue;
        const std::uint32_t at = tiff.order().get32(e.field.data());
        if (!tiff.has(at, *bytes))
            return false;
        out.push_back({at, at + *bytes});
    }
    return true;
}

// Value `index` of a SHORT or LONG entry, wherever it is held.
std::optional<std::uint32_t> number(const Tiff &tiff, const Entry &e, std::uint32_t index)
{
    if (index >= e.count || (e.type != kTypeShort && e.type != kTypeLong))
        return std::nullopt;
    const std::uint64_t size = e.type == kTypeShort ? 2 : 4;
    const std::uint8_t *at = e.field.data() + size * index;
    if (size * e.count > 4) {
        const std::uint64_t offset = tiff.order().get32(e.field.data()) + size * index;
        if (!tiff.has(offset, size))
            return std::nullopt;
        at = tiff.bytes().data() + offset;
    }
    return size == 2 ? tiff.order().get16(at) : tiff.order().get32(at);
}

// The thumbnail image of IFD1 (a JPEG, or strips, which follow one another), cut to the block:
// an image cut short goes all the same.
void addThumbnailRanges(const Tiff &tiff, const Directory &ifd1, std::vector<Range> &out)
{
    const auto image = [&](std::uint16_t offsetTag, std::uint16_t lengthTag) -> std::optional<Range> {
        const Entry *offsets = ifd1.find(offsetTag), *lengths = ifd1.find(lengthTag);
        if (offsets == nullptr || lengths == nullptr)
            return std::nullopt;
        std::optional<Range> span;
        for (std::uint32_t i = 0; i < std::min(offsets->count, lengths->count); ++i) {
            const auto offset = number(tiff, *offsets, i), length = number(tiff, *lengths, i);
            if (!offset || !length)
                continue;
            const Range part{*offset, std::uint64_t{*offset} + *length};
            span = span ? Range{std::min(span->begin, part.begin), std::max(span->end, part.end)} : part;
        }
        return span;
    };
    for (const auto &tags :
         {std::pair{kThumbnailOffset, kThumbnailLength}, std::pair{kStripOffsets, kStripByteCounts}}) {
        const auto span = image(tags.first, tags.second);
        if (span && span->begin < tiff.size())
            out.push_back({span->begin, std::min<std::uint64_t>(span->end, tiff.size())});
    }
}

// Everything the dropped directories and the thumbnail take; false when one of their values
// runs past the block.  The thumbnail's image is looked for once IFD1's values are known to lie
// in the block: its offsets and lengths are no more than the block can hold.
bool removedRanges(const Tiff &tiff, const Structure &s, std::vector<Range> &out)
{
    std::vector<const Directory *> removed;
    for (const Directory &d : s.dropped)
        removed.push_back(&d);
    if (s.ifd1)
        removed.push_back(&*s.ifd1);
    for (const Directory *d : removed) {
        if (!addValueRanges(tiff, *d, out))
            return false;
        out.push_back(rangeOf(*d));
    }
    if (s.ifd1)
        addThumbnailRanges(tiff, *s.ifd1, out);
    return true;
}

// XMP (XMLPacket) and Photoshop's image resources, whose resource 0x0424 is an XMP packet: a
// second story of the photo as it was, the location possibly in it, which a reader takes as
// readily as the APP1 one. Dropped rather than cleaned: the XMP segment carries the story.
bool embedsXmp(const Entry &e)
{
    return e.tag == kXmlPacket || e.tag == kImageResources;
}

// Unlinks the entries of `d` that embed XMP and adds their values to `removed`; false when one
// runs past the block or has a type whose size we do not know.
bool dropEmbeddedXmp(const Tiff &tiff, Directory &d, std::vector<Range> &removed)
{
    Directory embedding;
    std::copy_if(d.entries.begin(), d.entries.end(), std::back_inserter(embedding.entries), embedsXmp);
    std::erase_if(d.entries, embedsXmp);
    return addValueRanges(tiff, embedding, removed);
}

// The same for every directory kept.
bool dropEmbeddedXmp(const Tiff &tiff, Structure &s, std::vector<Range> &removed)
{
    for (Directory *d : {&s.ifd0, s.exif ? &*s.exif : nullptr, s.interop ? &*s.interop : nullptr}) {
        if (d != nullptr && !dropEmbeddedXmp(tiff, *d, removed))
            return false;
    }
    return true;
}

// ---- Editing the directories kept --------------------------------------------------------

// The entry for `tag`, added before the first entry of a larger tag when missing.
Entry &entryFor(Directory &d, std::uint16_t tag, bool &added)
{
    const auto found = std::find_if(d.entries.begin(), d.entries.end(), [tag](const Entry &e) { return e.tag == tag; });
    added = found == d.entries.end();
    if (!added)
        return *found;
    const auto before = std::find_if(d.entries.begin(), d.entries.end(), [tag](const Entry &e) { return e.tag > tag; });
    return *d.entries.insert(before, Entry{tag, kTypeShort, 1, {}});
}

void putNumber(Entry &e, const ByteOrder &order, std::uint32_t value, bool asShort)
{
    e.type = asShort ? kTypeShort : kTypeLong;
    e.count = 1;
    e.field = {};
    if (asShort)
        order.put16(e.field.data(), static_cast<std::uint16_t>(value));
    else
        order.put32(e.field.data(), value);
}

// A size keeps its entry's SHORT when it fits one, and is a LONG otherwise.
void putSize(Directory &d, const ByteOrder &order, std::uint16_t tag, std::uint32_t value, bool addWhenMissing)
{
    if (!addWhenMissing && d.find(tag) == nullptr)
        return;
    bool added = false;
    Entry &e = entryFor(d, tag, added);
    putNumber(e, order, value, (added || e.type == kTypeShort) && value <= 0xFFFF);
}

void editIfd0(Directory &ifd0, const ByteOrder &order, std::uint32_t width, std::uint32_t height)
{
    dropPointers(ifd0, kExifPointer);
    ifd0.next = 0;  // no thumbnail
    bool added = false;
    if (ifd0.find(kOrientation) != nullptr)
        putNumber(entryFor(ifd0, kOrientation, added), order, 1, true);
    putSize(ifd0, order, kImageWidth, width, false);
    putSize(ifd0, order, kImageLength, height, false);
    Entry &pointer = entryFor(ifd0, kExifPointer, added);
    if (added)
        pointer.type = kTypeLong;  // its offset is set once the directory has its place
}

void editExif(Directory &exif, bool created, const ByteOrder &order, std::uint32_t width, std::uint32_t height)
{
    dropPointers(exif, kInteropPointer);
    bool added = false;
    if (created) {
        Entry &version = entryFor(exif, kExifVersion, added);
        version.type = kTypeUndefined;
        version.count = 4;
        version.field = {'0', '2', '3', '2'};
    }
    putNumber(entryFor(exif, kColorSpace, added), order, 1, true);  // sRGB
    putSize(exif, order, kPixelXDimension, width, true);
    putSize(exif, order, kPixelYDimension, height, true);
    exif.next = 0;
}

// ---- Writing the block ----------------------------------------------------------------------

// A directory kept: as edited, and where it was found (nothing for one the cleaning adds).
struct Kept {
    Directory *directory;
    std::optional<Range> found;

    std::uint64_t bytes() const { return Directory::bytesFor(directory->entries.size()); }
    bool inPlace() const { return found && bytes() <= found->end - found->begin; }
};

// The edited block: its bytes up to the last one still in use, the removed bytes zeroed, the
// directories that did not grow where they were, and those that grew after everything else.
std::optional<std::vector<std::uint8_t>> layOut(const Tiff &tiff, const std::vector<Kept> &kept,
                                                const std::vector<Range> &values, const std::vector<Range> &removed)
{
    std::uint64_t used = kHeaderBytes;
    for (const Range &r : values)
        used = std::max(used, r.end);
    for (const Kept &k : kept) {
        if (k.inPlace())
            used = std::max(used, k.found->begin + k.bytes());
    }
    constexpr std::size_t id = sizeof kExifId;
    std::vector<std::uint8_t> out(kExifId, kExifId + id);
    out.insert(out.end(), tiff.bytes().begin(), tiff.bytes().begin() + static_cast<std::ptrdiff_t>(used));
    const auto zero = [&](Range r) {
        r.end = std::min(r.end, used);
        if (r.begin < r.end)
            std::fill(out.begin() + static_cast<std::ptrdiff_t>(id + r.begin),
                      out.begin() + static_cast<std::ptrdiff_t>(id + r.end), 0);
    };
    for (const Range &r : removed)
        zero(r);
    for (const Kept &k : kept) {
        if (k.found)
            zero(*k.found);
    }
    // Directories that grew go at the end, on a word boundary as TIFF wants.
    std::vector<std::uint64_t> at;
    for (const Kept &k : kept) {
        if (k.inPlace()) {
            at.push_back(k.found->begin);
            continue;
        }
        if ((out.size() - id) % 2 != 0)
            out.push_back(0);
        at.push_back(out.size() - id);
        out.resize(out.size() + k.bytes());
    }
    if (out.size() > kMaxPayload)
        return std::nullopt;
    const ByteOrder &order = tiff.order();
    // kept[0] is IFD0, kept[1] the Exif directory it points to.
    bool added = false;
    order.put32(entryFor(*kept[0].directory, kExifPointer, added).field.data(), static_cast<std::uint32_t>(at[1]));
    order.put32(out.data() + id + 4, static_cast<std::uint32_t>(at[0]));
    for (std::size_t i = 0; i < kept.size(); ++i)
        writeDirectory(order, *kept[i].directory, out.data() + id + at[i]);
    return out;
}

}  // namespace

std::optional<std::vector<std::uint8_t>> clean(std::span<const std::uint8_t> payload, std::uint32_t width,
                                               std::uint32_t height)
{
    if (payload.size() > kMaxPayload)
        return std::nullopt;
    const auto tiff = Tiff::open(payload);
    if (!tiff)
        return std::nullopt;
    auto s = readStructure(*tiff);
    std::vector<Range> removed;
    if (!s || !removedRanges(*tiff, *s, removed) || !dropEmbeddedXmp(*tiff, *s, removed))
        return std::nullopt;

    const std::vector<Range> directories = directoryRanges(*s);
    const bool exifCreated = !s->exif;
    std::vector<Kept> kept = {{&s->ifd0, rangeOf(s->ifd0)}, {nullptr, std::nullopt}};
    if (exifCreated)
        s->exif.emplace();
    else
        kept[1].found = rangeOf(*s->exif);
    kept[1].directory = &*s->exif;
    if (s->interop)
        kept.push_back({&*s->interop, rangeOf(*s->interop)});

    editIfd0(s->ifd0, tiff->order(), width, height);
    editExif(*s->exif, exifCreated, tiff->order(), width, height);
    if (s->interop) {
        dropPointers(*s->interop, 0);
        s->interop->next = 0;
    }

    // The values kept must lie inside the block, clear of every directory and of what goes.
    std::vector<Range> values;
    for (const Kept &k : kept) {
        if (!addValueRanges(*tiff, *k.directory, values))
            return std::nullopt;
    }
    std::vector<Range> keptDirectories = {{0, kHeaderBytes}};
    for (const Kept &k : kept) {
        if (k.found)
            keptDirectories.push_back(*k.found);
    }
    if (anyOverlap(values, directories) || anyOverlap(values, removed) || anyOverlap(removed, keptDirectories))
        return std::nullopt;
    return layOut(*tiff, kept, values, removed);
}

}  // namespace meta
