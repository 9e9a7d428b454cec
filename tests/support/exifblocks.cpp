// Metadata for the tests: EXIF like a camera's, written directory by directory, a photo editor's
// XMP, IPTC and comments, and readers for what the program makes of them.
#include "tests/support/testimages.h"

#include "metadata/iptc.h"
#include "metadata/xmp.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <set>
#include <stdexcept>
#include <string>

#include <expat.h>

namespace testimages {
namespace {

constexpr std::size_t kIdBytes = 6;  // "Exif\0\0"
constexpr std::uint16_t kAscii = 2, kShort = 3, kLong = 4, kRational = 5, kUndefined = 7;

bool bigEndianOf(const std::vector<std::uint8_t> &payload)
{
    return payload.size() > kIdBytes && payload[kIdBytes] == 'M';
}

// A TIFF block in the making, in either byte order.  Offsets are the block's own.
class TiffWriter {
public:
    struct Field {
        std::uint16_t tag, type;
        std::uint32_t count;
        std::vector<std::uint8_t> value;  // in the block's order
    };
    // Where a directory went: its offset, each field's value, and its next-directory offset.
    struct Placed {
        std::uint32_t offset = 0;
        std::map<std::uint16_t, std::uint32_t> valueAt;
        std::uint32_t nextAt = 0;
    };

    explicit TiffWriter(bool bigEndian) : big_(bigEndian)
    {
        const std::uint8_t order = bigEndian ? 'M' : 'I';
        bytes_ = {'E', 'x', 'i', 'f', 0, 0, order, order};
        append(number(42, 2));
        append(number(8, 4));
    }

    std::vector<std::uint8_t> number(std::uint32_t v, int bytes) const
    {
        std::vector<std::uint8_t> out;
        for (int i = 0; i < bytes; ++i)
            out.push_back(static_cast<std::uint8_t>(v >> (8 * (big_ ? bytes - 1 - i : i))));
        return out;
    }
    std::vector<std::uint8_t> rationals(std::initializer_list<std::uint32_t> parts) const
    {
        std::vector<std::uint8_t> out;
        for (std::uint32_t p : parts) {
            const auto b = number(p, 4);
            out.insert(out.end(), b.begin(), b.end());
        }
        return out;
    }
    static Field ascii(std::uint16_t tag, const std::string &text)
    {
        std::vector<std::uint8_t> value(text.begin(), text.end());
        value.push_back(0);
        return {tag, kAscii, static_cast<std::uint32_t>(value.size()), value};
    }

    std::uint32_t here() const { return static_cast<std::uint32_t>(bytes_.size() - kIdBytes); }
    void append(const std::vector<std::uint8_t> &b) { bytes_.insert(bytes_.end(), b.begin(), b.end()); }
    void set32(std::uint32_t at, std::uint32_t v)
    {
        const auto b = number(v, 4);
        std::copy(b.begin(), b.end(), bytes_.begin() + kIdBytes + at);
    }

    // A directory of `fields` (in tag order), then the values that do not fit in their entry,
    // each on a word boundary.
    Placed directory(const std::vector<Field> &fields)
    {
        Placed placed;
        placed.offset = here();
        append(number(static_cast<std::uint32_t>(fields.size()), 2));
        std::uint32_t values = here() + 12 * static_cast<std::uint32_t>(fields.size()) + 4;
        for (const Field &f : fields) {
            append(number(f.tag, 2));
            append(number(f.type, 2));
            append(number(f.count, 4));
            if (f.value.size() <= 4) {
                placed.valueAt[f.tag] = here();
                auto field = f.value;
                field.resize(4, 0);
                append(field);
            } else {
                placed.valueAt[f.tag] = values;
                append(number(values, 4));
                values += static_cast<std::uint32_t>((f.value.size() + 1) / 2 * 2);
            }
        }
        placed.nextAt = here();
        append(number(0, 4));
        for (const Field &f : fields) {
            if (f.value.size() > 4) {
                append(f.value);
                if (f.value.size() % 2 != 0)
                    bytes_.push_back(0);
            }
        }
        return placed;
    }

    std::vector<std::uint8_t> take() { return std::move(bytes_); }

private:
    bool big_;
    std::vector<std::uint8_t> bytes_;
};

// A maker note as some cameras write it: a directory of its own whose offsets count from the
// TIFF block, here one ASCII entry pointing to text after the directory.  The offset is set
// once the note has its place.
std::vector<std::uint8_t> makerNote(const TiffWriter &w)
{
    std::vector<std::uint8_t> note = w.number(1, 2);
    for (const auto &part : {w.number(0x0001, 2), w.number(kAscii, 2), w.number(16, 4), w.number(0, 4), w.number(0, 4)})
        note.insert(note.end(), part.begin(), part.end());
    const std::string text = "maker note text";  // 15 characters and the NUL
    note.insert(note.end(), text.begin(), text.end());
    note.push_back(0);
    return note;
}

}  // namespace

TaggedExif taggedExif(int orientation, bool bigEndian, int width, int height)
{
    TaggedExif t;
    t.bigEndian = bigEndian;
    TiffWriter w(bigEndian);
    using F = TiffWriter::Field;
    const auto ifd0 =
        w.directory({TiffWriter::ascii(kImageDescription, "A day at the lake"), TiffWriter::ascii(kMake, "RedimCam"),
                     TiffWriter::ascii(kModel, "Model 7 Pro"),
                     F{kOrientation, kShort, 1, w.number(static_cast<std::uint32_t>(orientation), 2)},
                     TiffWriter::ascii(kDateTime, "2024:06:01 10:20:30"), TiffWriter::ascii(kArtist, "Jeanne Martin"),
                     TiffWriter::ascii(kCopyright, "(c) 2024 Jeanne Martin"), F{kExifPointer, kLong, 1, w.number(0, 4)},
                     F{kGpsPointer, kLong, 1, w.number(0, 4)}});
    const auto note = makerNote(w);
    const auto exif = w.directory({F{kExposureTime, kRational, 1, w.rationals({1, 250})},
                                   F{kFNumber, kRational, 1, w.rationals({28, 10})},
                                   TiffWriter::ascii(kDateTimeOriginal, "2024:06:01 10:20:29"),
                                   F{kMakerNote, kUndefined, static_cast<std::uint32_t>(note.size()), note},
                                   F{kColorSpace, kShort, 1, w.number(0xFFFF, 2)},
                                   F{kPixelXDimension, kShort, 1, w.number(static_cast<std::uint32_t>(width), 2)},
                                   F{kPixelYDimension, kLong, 1, w.number(static_cast<std::uint32_t>(height), 4)},
                                   TiffWriter::ascii(kLensModel, "Zoom 24-70mm f/2.8")});
    t.gpsLatitude = w.rationals({48, 1, 5123, 100, 987654, 10000});
    const auto gps = w.directory({F{0x0000, 1, 4, {2, 3, 0, 0}}, TiffWriter::ascii(0x0001, "N"),
                                  F{0x0002, kRational, 3, t.gpsLatitude}, TiffWriter::ascii(0x0003, "E"),
                                  F{0x0004, kRational, 3, w.rationals({2, 1, 2113, 100, 123456, 10000})}});
    JpegOptions small;
    small.quality = 60;
    t.thumbnail = encodeJpeg(gradient(16, 12), small);
    const auto ifd1 = w.directory({F{0x0103, kShort, 1, w.number(6, 2)}, F{kThumbnailOffset, kLong, 1, w.number(0, 4)},
                                   F{0x0202, kLong, 1, w.number(static_cast<std::uint32_t>(t.thumbnail.size()), 4)}});
    w.set32(ifd1.valueAt.at(kThumbnailOffset), w.here());
    w.append(t.thumbnail);
    w.set32(ifd0.valueAt.at(kExifPointer), exif.offset);
    w.set32(ifd0.valueAt.at(kGpsPointer), gps.offset);
    w.set32(ifd0.nextAt, ifd1.offset);
    t.makerNote = exif.valueAt.at(kMakerNote);
    t.makerNoteText = t.makerNote + 18;  // after the note's count, entry and next offset
    w.set32(t.makerNote + 2 + 8, t.makerNoteText);
    t.ifd0 = ifd0.offset;
    t.exif = exif.offset;
    t.gps = gps.offset;
    t.ifd1 = ifd1.offset;
    t.payload = w.take();
    return t;
}

namespace {

// Writes `node` and, after it, the directories it leads to; returns where it went and its fields
// in the order of its entries.
std::pair<TiffWriter::Placed, std::vector<TiffWriter::Field>> writeTree(TiffWriter &w, const ExifTreeNode &node)
{
    std::vector<TiffWriter::Field> fields;
    for (const auto &[tag, text] : node.texts)
        fields.push_back(TiffWriter::ascii(tag, text));
    for (const ExifTreeNode &child : node.children) {
        if (child.pointer != 0)
            fields.push_back({child.pointer, kLong, 1, w.number(0, 4)});
    }
    std::sort(fields.begin(), fields.end(), [](const auto &a, const auto &b) { return a.tag < b.tag; });
    const auto placed = w.directory(fields);
    for (const ExifTreeNode &child : node.children) {
        const std::uint32_t at = writeTree(w, child).first.offset;
        w.set32(child.pointer != 0 ? placed.valueAt.at(child.pointer) : placed.nextAt, at);
    }
    return {placed, fields};
}

}  // namespace

std::vector<std::uint8_t> exifTree(const ExifTreeNode &ifd0)
{
    TiffWriter w(false);
    const auto [placed, fields] = writeTree(w, ifd0);
    // IFD0's texts are written again at the very end and pointed to there: what the cleaning
    // removes then lies before bytes it keeps, and has to be zeroed rather than cut off.
    for (std::size_t i = 0; i < fields.size(); ++i) {
        if (fields[i].type != kAscii || fields[i].value.size() <= 4)
            continue;
        w.set32(placed.offset + 2 + 12 * static_cast<std::uint32_t>(i) + 8, w.here());
        w.append(fields[i].value);
    }
    return w.take();
}

bool reachesLocation(const std::vector<std::uint8_t> &payload)
{
    if (payload.size() < kIdBytes + 8)
        return false;
    const ExifView view(payload);
    const std::uint64_t size = payload.size() - kIdBytes;
    const auto fits = [size](std::uint64_t at, std::uint64_t bytes) { return at + bytes <= size; };
    std::set<std::uint32_t> seen;
    std::vector<std::uint32_t> pending = {view.ifd0()};
    while (!pending.empty()) {
        const std::uint32_t directory = pending.back();
        pending.pop_back();
        if (directory == 0 || !fits(directory, 2) || !seen.insert(directory).second)
            continue;  // 0: no directory
        const std::uint32_t count = view.u16(directory);
        for (std::uint32_t i = 0; i < count && fits(directory + 2 + 12 * i, 12); ++i) {
            const std::uint32_t at = directory + 2 + 12 * i;
            const std::uint16_t tag = view.u16(at), type = view.u16(at + 2);
            const std::uint32_t values = view.u32(at + 4);
            if (tag == kGpsPointer || tag == kXmlPacket || tag == kImageResources)
                return true;
            const bool pointer = tag == kExifPointer || tag == kInteropPointer || tag == kSubIfds || type == 13;
            if (!pointer || (type != kLong && type != 13) || values == 0)
                continue;
            const std::uint32_t first = values == 1 ? at + 8 : view.u32(at + 8);
            for (std::uint32_t v = 0; v < values && fits(first + 4ull * v, 4); ++v)
                pending.push_back(view.u32(first + 4 * v));
        }
        if (fits(directory + 2 + 12ull * count, 4))
            pending.push_back(view.next(directory));
    }
    return false;
}

namespace {

// The payload of a JPEG's first segment of `marker` that starts with `id`, before its first scan.
std::vector<std::uint8_t> segmentOfJpeg(const std::vector<std::uint8_t> &jpeg, std::uint8_t marker, std::string_view id)
{
    for (const auto &[code, payload] : segmentsOf(jpeg)) {
        if (code == marker && payload.size() >= id.size() && std::equal(id.begin(), id.end(), payload.begin()))
            return payload;
    }
    return {};
}

// Expat gives namespaced names as URI, separator, local name. The separator is a character no
// XML document may hold, so that no URI can hide it.
constexpr char kNameSeparator = '\x01';

// Whatever the namespace: the rule is on the local name alone (npos + 1 is 0: a name without a
// namespace is all local name).
bool isLocation(std::string_view name)
{
    return meta::namesLocation(name.substr(name.find(kNameSeparator) + 1));
}

void onElement(void *located, const XML_Char *name, const XML_Char **attributes)
{
    bool &found = *static_cast<bool *>(located);
    found = found || isLocation(name);
    for (; *attributes != nullptr; attributes += 2)
        found = found || isLocation(*attributes);
}

}  // namespace

std::string photoshopResource(std::uint16_t id, std::string data)
{
    const auto size = static_cast<std::uint32_t>(data.size());
    std::string resource = "8BIM";
    for (const std::uint32_t byte :
         {std::uint32_t{id} >> 8, std::uint32_t{id}, 0u, 0u, size >> 24, size >> 16, size >> 8, size})
        resource += static_cast<char>(byte & 0xFF);
    if (data.size() % 2 != 0)
        data += '\0';
    return resource + data;
}

std::vector<std::uint8_t> bytesOf(std::string_view text)
{
    return {text.begin(), text.end()};
}

std::vector<std::pair<std::uint8_t, std::vector<std::uint8_t>>> segmentsOf(const std::vector<std::uint8_t> &jpeg)
{
    std::vector<std::pair<std::uint8_t, std::vector<std::uint8_t>>> segments;
    for (std::size_t at = 2; at + 4 <= jpeg.size() && jpeg[at] == 0xFF && jpeg[at + 1] != 0xDA;) {
        const std::size_t length = std::size_t{jpeg[at + 2]} << 8 | jpeg[at + 3];
        const auto payload = jpeg.begin() + static_cast<std::ptrdiff_t>(at + 4);
        const std::size_t bytes = std::min(length, jpeg.size() - at - 2) - std::min<std::size_t>(length, 2);
        segments.push_back({jpeg[at + 1], {payload, payload + static_cast<std::ptrdiff_t>(bytes)}});
        at += 2 + length;
    }
    return segments;
}

std::vector<std::pair<int, std::vector<std::uint8_t>>> editorsStory()
{
    const std::string xmp =
        std::string(meta::kXmpId) +
        "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\"><rdf:RDF xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\">"
        "<rdf:Description rdf:about=\"\" xmlns:dc=\"http://purl.org/dc/elements/1.1/\""
        " xmlns:xmp=\"http://ns.adobe.com/xap/1.0/\" xmlns:tiff=\"http://ns.adobe.com/tiff/1.0/\""
        " xmlns:exif=\"http://ns.adobe.com/exif/1.0/\" xmlns:xmpMM=\"http://ns.adobe.com/xap/1.0/mm/\""
        " xmlns:mwg-rs=\"http://www.metadataworkinggroup.com/schemas/regions/\""
        " xmp:Rating=\"4\" tiff:Orientation=\"6\" exif:PixelXDimension=\"64\" exif:GPSLatitude=\"48,51.4N\">"
        "<dc:creator><rdf:Seq><rdf:li>Ada Lovelace</rdf:li></rdf:Seq></dc:creator>"
        "<dc:subject><rdf:Bag><rdf:li>lac</rdf:li><rdf:li>montagne</rdf:li></rdf:Bag></dc:subject>"
        "<exif:GPSLongitude>2,21.1E</exif:GPSLongitude><tiff:ImageLength>48</tiff:ImageLength>"
        "<xmpMM:History><rdf:Seq><rdf:li rdf:parseType=\"Resource\"/></rdf:Seq></xmpMM:History>"
        "<mwg-rs:Regions rdf:parseType=\"Resource\"><mwg-rs:RegionList><rdf:Bag><rdf:li rdf:parseType=\"Resource\">"
        "<mwg-rs:Name>Charles Babbage</mwg-rs:Name><mwg-rs:Type>Face</mwg-rs:Type></rdf:li></rdf:Bag>"
        "</mwg-rs:RegionList></mwg-rs:Regions>"
        "</rdf:Description></rdf:RDF></x:xmpmeta>";
    const std::vector<std::uint8_t> iptc = meta::photoshopPayload(
        std::vector<std::uint8_t>{0x1C, 2, 80, 0, 3, 'A', 'd', 'a', 0x1C, 2, 25, 0, 3, 'l', 'a', 'c'});
    return {{0xE1, bytesOf(xmp)}, {0xED, iptc}, {0xFE, bytesOf("Au bord du lac")}};
}

std::vector<std::uint8_t> exifOfJpeg(const std::vector<std::uint8_t> &jpeg)
{
    return segmentOfJpeg(jpeg, 0xE1, std::string_view("Exif\0\0", 6));
}

std::vector<std::uint8_t> xmpOfJpeg(const std::vector<std::uint8_t> &jpeg)
{
    return segmentOfJpeg(jpeg, 0xE1, std::string_view("http://ns.adobe.com/xap/1.0/\0", 29));
}

std::optional<bool> xmpLocates(std::string_view packet)
{
    const std::unique_ptr<XML_ParserStruct, void (*)(XML_Parser)> parser(XML_ParserCreateNS("UTF-8", kNameSeparator),
                                                                         XML_ParserFree);
    bool located = false;
    XML_SetUserData(parser.get(), &located);
    XML_SetStartElementHandler(parser.get(), onElement);
    if (XML_Parse(parser.get(), packet.data(), static_cast<int>(packet.size()), XML_TRUE) != XML_STATUS_OK)
        return std::nullopt;
    return located;
}

void putExif16(std::vector<std::uint8_t> &payload, std::uint32_t at, std::uint16_t value)
{
    const bool big = bigEndianOf(payload);
    payload.at(kIdBytes + at) = static_cast<std::uint8_t>(big ? value >> 8 : value);
    payload.at(kIdBytes + at + 1) = static_cast<std::uint8_t>(big ? value : value >> 8);
}

void putExif32(std::vector<std::uint8_t> &payload, std::uint32_t at, std::uint32_t value)
{
    const bool big = bigEndianOf(payload);
    putExif16(payload, at, static_cast<std::uint16_t>(big ? value >> 16 : value));
    putExif16(payload, at + 2, static_cast<std::uint16_t>(big ? value : value >> 16));
}

ExifView::ExifView(std::vector<std::uint8_t> payload) : payload_(std::move(payload)), bigEndian_(bigEndianOf(payload_))
{
    if (payload_.size() < kIdBytes + 8 || !std::equal(payload_.begin(), payload_.begin() + kIdBytes, "Exif\0\0"))
        throw std::runtime_error("ExifView: not an EXIF payload");
}

std::uint16_t ExifView::u16(std::uint32_t at) const
{
    const std::uint8_t a = payload_.at(kIdBytes + at), b = payload_.at(kIdBytes + at + 1);
    return static_cast<std::uint16_t>(bigEndian_ ? a << 8 | b : b << 8 | a);
}

std::uint32_t ExifView::u32(std::uint32_t at) const
{
    const std::uint32_t first = u16(at), second = u16(at + 2);
    return bigEndian_ ? first << 16 | second : second << 16 | first;
}

std::uint32_t ExifView::next(std::uint32_t directory) const
{
    return u32(directory + 2 + 12 * std::uint32_t{u16(directory)});
}

std::optional<ExifView::Entry> ExifView::find(std::uint32_t directory, std::uint16_t tag) const
{
    static constexpr std::uint32_t sizes[] = {0, 1, 1, 2, 4, 8, 1, 1, 2, 4, 8, 4, 8};
    for (std::uint32_t i = 0; i < u16(directory); ++i) {
        const std::uint32_t at = directory + 2 + 12 * i;
        if (u16(at) != tag)
            continue;
        Entry e{at, u16(at + 2), u32(at + 4), at + 8, {}};
        const std::size_t bytes = std::size_t{sizes[e.type < 13 ? e.type : 0]} * e.count;
        if (bytes > 4)
            e.valueAt = u32(at + 8);
        if (e.valueAt + bytes + kIdBytes > payload_.size())
            throw std::runtime_error("ExifView: a value runs past the payload");
        e.value.assign(payload_.begin() + kIdBytes + e.valueAt, payload_.begin() + kIdBytes + e.valueAt + bytes);
        return e;
    }
    return std::nullopt;
}

std::uint32_t ExifView::number(const Entry &entry) const
{
    return entry.type == kShort ? u16(entry.valueAt) : u32(entry.valueAt);
}

}  // namespace testimages
