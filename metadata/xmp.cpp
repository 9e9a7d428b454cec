// Fits an XMP packet to the copy the program makes of a photo. libexpat parses it; what is kept is
// copied from the packet as it stands, and only the tags and values that change are written
// again, so that a packet keeps its layout, its padding and every property the program does not
// know.
#include "metadata/xmp.h"

#include <expat.h>

#include <array>
#include <memory>
#include <utility>
#include <vector>

namespace meta {
namespace {

constexpr std::string_view kExif = "http://ns.adobe.com/exif/1.0/";
constexpr std::string_view kTiff = "http://ns.adobe.com/tiff/1.0/";
constexpr std::string_view kMediaManagement = "http://ns.adobe.com/xap/1.0/mm/";
constexpr std::string_view kPhotoshop = "http://ns.adobe.com/photoshop/1.0/";
constexpr std::string_view kRegions = "http://www.metadataworkinggroup.com/schemas/regions/";
constexpr std::string_view kMicrosoftPhoto = "http://ns.microsoft.com/photo/1.2/";
constexpr std::string_view kGainMap = "http://ns.adobe.com/hdr-gain-map/1.0/";
constexpr std::string_view kXmpNote = "http://ns.adobe.com/xmp/note/";
constexpr std::string_view kContainer = "http://ns.google.com/photos/1.0/container/";

// A property's name as XMP knows it: its namespace's URI and its local name.
struct Name {
    std::string_view uri;
    std::string_view local;
    bool is(std::string_view u, std::string_view l) const { return uri == u && local == l; }
};

// Letter case apart, in any locale: only ASCII letters are lowered.
std::string asciiLowered(std::string_view text)
{
    std::string lowered(text);
    for (char &c : lowered)
        c = c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    return lowered;
}

// What places, faces and the history of a photo would give away, or describes what the copy no
// longer has: the gain map's description and the directory of the items stored after the photo,
// which the converter declares again for the items it writes.
bool isRemoved(const Name &n)
{
    return namesLocation(n.local) || n.is(kRegions, "Regions") || n.is(kMicrosoftPhoto, "RegionInfo") ||
           n.is(kMediaManagement, "History") || n.is(kMediaManagement, "DerivedFrom") ||
           n.is(kPhotoshop, "DocumentAncestors") || n.uri == kGainMap || n.is(kContainer, "Directory") ||
           n.is(kXmpNote, "HasExtendedXMP");
}

// The value a property takes in the upright copy of width x height pixels, if it changes.
std::optional<std::string> newValue(const Name &n, std::uint32_t width, std::uint32_t height)
{
    if (n.is(kTiff, "Orientation"))
        return "1";
    if (n.is(kTiff, "ImageWidth") || n.is(kExif, "PixelXDimension"))
        return std::to_string(width);
    if (n.is(kTiff, "ImageLength") || n.is(kExif, "PixelYDimension"))
        return std::to_string(height);
    return std::nullopt;
}

void appendEscaped(std::string &out, std::string_view text)
{
    for (const char c : text) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        // Kept as references: a parser turns raw ones in an attribute into blanks.
        case '\t': out += "&#9;"; break;
        case '\n': out += "&#10;"; break;
        case '\r': out += "&#13;"; break;
        default: out += c;
        }
    }
}

struct ParserFree {
    void operator()(XML_Parser parser) const { XML_ParserFree(parser); }
};

class Cleaner {
public:
    Cleaner(std::string_view packet, std::uint32_t width, std::uint32_t height)
        : in_(packet), width_(width), height_(height)
    {}

    std::optional<std::string> run()
    {
        // Namespace-aware, so that a packet such a reader refuses (a name with two colons, a
        // local part starting with a digit, a prefix nobody declared) does not parse here either:
        // another reader could see properties in it that we do not. Names come as URI, local
        // name and prefix, split by a character no document may hold.
        const std::unique_ptr<XML_ParserStruct, ParserFree> parser(XML_ParserCreateNS("UTF-8", kSeparator));
        if (!parser)
            return std::nullopt;
        parser_ = parser.get();
        XML_SetReturnNSTriplet(parser_, XML_TRUE);
        XML_SetUserData(parser_, this);
        XML_SetElementHandler(parser_, onStart, onEnd);
        XML_SetStartNamespaceDeclHandler(parser_, onDeclaration);
        XML_SetStartDoctypeDeclHandler(parser_, onDoctype);
        XML_SetParamEntityParsing(parser_, XML_PARAM_ENTITY_PARSING_NEVER);
        if (XML_Parse(parser_, in_.data(), static_cast<int>(in_.size()), XML_TRUE) != XML_STATUS_OK || failed_)
            return std::nullopt;
        copyTo(in_.size());
        return fitted();
    }

private:
    static constexpr char kSeparator = '\x01';

    // A name as expat gives it: its URI, local name and prefix (empty without one).
    struct Qualified {
        Name name;
        std::string_view prefix;
        // As it stands in the packet; only wanted for a tag written again.
        std::string written() const
        {
            return prefix.empty() ? std::string(name.local) : std::string(prefix) + ":" + std::string(name.local);
        }
    };

    static Qualified split(std::string_view expanded)
    {
        const std::size_t first = expanded.find(kSeparator);
        if (first == std::string_view::npos)
            return {{{}, expanded}, {}};
        const std::string_view uri = expanded.substr(0, first), rest = expanded.substr(first + 1);
        const std::size_t second = rest.find(kSeparator);
        if (second == std::string_view::npos)
            return {{uri, rest}, {}};
        return {{uri, rest.substr(0, second)}, rest.substr(second + 1)};
    }

    static void onStart(void *self, const XML_Char *name, const XML_Char **attributes)
    {
        static_cast<Cleaner *>(self)->start(name, attributes);
    }
    static void onEnd(void *self, const XML_Char *) { static_cast<Cleaner *>(self)->end(); }
    static void onDeclaration(void *self, const XML_Char *prefix, const XML_Char *uri)
    {
        static_cast<Cleaner *>(self)->declarations_.emplace_back(prefix ? prefix : "", uri ? uri : "");
    }
    static void onDoctype(void *self, const XML_Char *, const XML_Char *, const XML_Char *, int)
    {
        static_cast<Cleaner *>(self)->fail();
    }

    void fail()
    {
        failed_ = true;
        XML_StopParser(parser_, XML_FALSE);
    }

    // Where the current event stands in the packet.
    std::size_t eventStart() const { return static_cast<std::size_t>(XML_GetCurrentByteIndex(parser_)); }
    std::size_t eventLength() const { return static_cast<std::size_t>(XML_GetCurrentByteCount(parser_)); }

    void start(std::string_view expanded, const XML_Char **attributes)
    {
        const std::size_t tagStart = eventStart();
        const std::size_t tagEnd = tagStart + eventLength();
        tagEnds_.push_back(tagEnd);
        // The declarations expat reported for this element, only needed if its tag is written again.
        std::vector<std::pair<std::string, std::string>> declarations = std::move(declarations_);
        declarations_.clear();
        if (skipping_ > 0) {
            ++skipping_;
            return;
        }
        const Qualified element = split(expanded);
        if (isRemoved(element.name)) {
            if (tagEnds_.size() == 1)  // the root: no document would be left
                return fail();
            copyTo(tagStart);
            skipping_ = 1;
            replacing_ = false;
            return;
        }
        const bool selfClosing = in_.substr(tagStart, tagEnd - tagStart).ends_with("/>");
        rewriteAttributesIfChanged(element, declarations, attributes, tagStart, tagEnd, selfClosing);
        if (const std::optional<std::string> value = newValue(element.name, width_, height_); value && !selfClosing) {
            copyTo(tagEnd);
            appendEscaped(out_, *value);
            skipping_ = 1;
            replacing_ = true;
        }
    }

    void end()
    {
        const std::size_t tagStart = eventStart();
        const std::size_t length = eventLength();
        const std::size_t startTagEnd = tagEnds_.back();
        tagEnds_.pop_back();
        if (skipping_ == 0 || --skipping_ > 0)
            return;
        // A replaced value's end tag is kept; a removed element goes whole, end tag included (an
        // empty-element tag has no end tag of its own).
        copied_ = replacing_ ? tagStart : length > 0 ? tagStart + length : startTagEnd;
    }

    // The start tag written again, its namespace declarations first, when one of its attributes
    // goes or changes.
    void rewriteAttributesIfChanged(const Qualified &element,
                                    const std::vector<std::pair<std::string, std::string>> &declarations,
                                    const XML_Char **attributes, std::size_t tagStart, std::size_t tagEnd,
                                    bool selfClosing)
    {
        std::string tag = "<" + element.written();
        for (const auto &[prefix, uri] : declarations) {
            tag += prefix.empty() ? " xmlns=\"" : " xmlns:" + prefix + "=\"";
            appendEscaped(tag, uri);
            tag += "\"";
        }
        bool changed = false;
        for (const XML_Char **a = attributes; *a != nullptr; a += 2) {
            const Qualified attribute = split(a[0]);
            std::string_view value = a[1];
            if (isRemoved(attribute.name)) {
                changed = true;
                continue;
            }
            const std::optional<std::string> replaced = newValue(attribute.name, width_, height_);
            if (replaced && *replaced != value) {
                changed = true;
                value = *replaced;
            }
            tag += " " + attribute.written() + "=\"";
            appendEscaped(tag, value);
            tag += "\"";
        }
        if (!changed)
            return;
        copyTo(tagStart);
        out_ += tag + (selfClosing ? "/>" : ">");
        copied_ = tagEnd;
    }

    void copyTo(std::size_t position)
    {
        if (position > copied_)
            out_.append(in_.substr(copied_, position - copied_));
        copied_ = std::max(copied_, position);
    }

    // The packet, within kMaxXmpPacket: a packet that grew (a longer size) gives up some of the
    // padding XMP writers leave before the packet's end for such edits.
    std::optional<std::string> fitted()
    {
        if (out_.size() <= kMaxXmpPacket)
            return std::move(out_);
        const std::size_t trailer = out_.rfind("<?xpacket end");
        std::size_t padding = trailer;
        while (padding > 0 && padding != std::string::npos && (out_[padding - 1] == ' ' || out_[padding - 1] == '\n'))
            --padding;
        const std::size_t excess = out_.size() - kMaxXmpPacket;
        if (trailer == std::string::npos || trailer - padding < excess)
            return std::nullopt;
        out_.erase(trailer - excess, excess);
        return std::move(out_);
    }

    const std::string_view in_;
    const std::uint32_t width_;
    const std::uint32_t height_;
    XML_Parser parser_ = nullptr;
    bool failed_ = false;

    std::vector<std::pair<std::string, std::string>> declarations_;  // prefix and URI, for the next start tag
    std::vector<std::size_t> tagEnds_;                               // where each open element's start tag ends

    std::string out_;
    std::size_t copied_ = 0;  // the packet is in out_ up to here
    int skipping_ = 0;        // depth inside an element whose content is removed or replaced
    bool replacing_ = false;  // that element's value is replaced, not the element removed
};

}  // namespace

bool namesLocation(std::string_view localName)
{
    const std::string name = asciiLowered(localName);
    return name.starts_with("gps") || name.starts_with("earthpose") || name.ends_with("latitude") ||
           name.ends_with("longitude") || name.ends_with("longtitude") || name.ends_with("altitude");
}

std::optional<std::string> cleanXmp(std::string_view packet, std::uint32_t width, std::uint32_t height)
{
    if (packet.size() > kMaxXmpPacket)
        return std::nullopt;
    return Cleaner(packet, width, height).run();
}

}  // namespace meta
