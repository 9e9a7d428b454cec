// Fits an XMP packet to the copy the program makes of a photo. libexpat parses it; what is kept is
// copied from the packet as it stands, and only the tags and values that change are written
// again, so that a packet keeps its layout, its padding and every property the program does not
// know.
#include "xmp.h"

#include <expat.h>

#include <array>
#include <memory>
#include <utility>
#include <vector>

namespace exif {
namespace {

constexpr std::string_view kExif = "http://ns.adobe.com/exif/1.0/";
constexpr std::string_view kTiff = "http://ns.adobe.com/tiff/1.0/";
constexpr std::string_view kMediaManagement = "http://ns.adobe.com/xap/1.0/mm/";
constexpr std::string_view kPhotoshop = "http://ns.adobe.com/photoshop/1.0/";
constexpr std::string_view kRegions = "http://www.metadataworkinggroup.com/schemas/regions/";
constexpr std::string_view kMicrosoftPhoto = "http://ns.microsoft.com/photo/1.2/";
constexpr std::string_view kGainMap = "http://ns.adobe.com/hdr-gain-map/1.0/";
constexpr std::string_view kXmpNote = "http://ns.adobe.com/xmp/note/";
constexpr std::string_view kIptcExtension = "http://iptc.org/std/Iptc4xmpExt/2008-02-29/";
constexpr std::string_view kXmlNamespace = "http://www.w3.org/XML/1998/namespace";

// A property's name as XMP knows it: its namespace's URI and its local name.
struct Name {
    std::string_view uri;
    std::string_view local;
    bool is(std::string_view u, std::string_view l) const { return uri == u && local == l; }
};

// What places, faces and the history of a photo would give away, or describes what the copy no
// longer has.
bool isRemoved(const Name &n)
{
    const bool coordinates = (n.uri == kExif || n.uri == kIptcExtension) && n.local.starts_with("GPS");
    return coordinates || n.is(kRegions, "Regions") || n.is(kMicrosoftPhoto, "RegionInfo") ||
           n.is(kMediaManagement, "History") || n.is(kMediaManagement, "DerivedFrom") ||
           n.is(kPhotoshop, "DocumentAncestors") || n.uri == kGainMap || n.is(kXmpNote, "HasExtendedXMP");
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

void stopAtDoctype(void *parser, const XML_Char *, const XML_Char *, const XML_Char *, int)
{
    XML_StopParser(static_cast<XML_Parser>(parser), XML_FALSE);
}

// Whether a namespace-aware reader takes the packet: the cleaning reads names itself, and a
// packet such a reader refuses (a name with two colons, a local part starting with a digit...)
// is one where another reader could see properties the cleaning does not.
bool namespaceAwareReaderTakes(std::string_view packet)
{
    const std::unique_ptr<XML_ParserStruct, ParserFree> parser(XML_ParserCreateNS("UTF-8", '\x01'));
    if (!parser)
        return false;
    XML_SetUserData(parser.get(), parser.get());
    XML_SetStartDoctypeDeclHandler(parser.get(), stopAtDoctype);
    XML_SetParamEntityParsing(parser.get(), XML_PARAM_ENTITY_PARSING_NEVER);
    return XML_Parse(parser.get(), packet.data(), static_cast<int>(packet.size()), XML_TRUE) == XML_STATUS_OK;
}

class Cleaner {
public:
    Cleaner(std::string_view packet, std::uint32_t width, std::uint32_t height)
        : in_(packet), width_(width), height_(height)
    {}

    std::optional<std::string> run()
    {
        const std::unique_ptr<XML_ParserStruct, ParserFree> parser(XML_ParserCreate("UTF-8"));
        if (!parser)
            return std::nullopt;
        parser_ = parser.get();
        XML_SetUserData(parser_, this);
        XML_SetElementHandler(parser_, onStart, onEnd);
        XML_SetStartDoctypeDeclHandler(parser_, onDoctype);
        XML_SetParamEntityParsing(parser_, XML_PARAM_ENTITY_PARSING_NEVER);
        if (XML_Parse(parser_, in_.data(), static_cast<int>(in_.size()), XML_TRUE) != XML_STATUS_OK || failed_)
            return std::nullopt;
        copyTo(in_.size());
        return fitted();
    }

private:
    static void onStart(void *self, const XML_Char *name, const XML_Char **attributes)
    {
        static_cast<Cleaner *>(self)->start(name, attributes);
    }
    static void onEnd(void *self, const XML_Char *) { static_cast<Cleaner *>(self)->end(); }
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

    void start(std::string_view name, const XML_Char **attributes)
    {
        const std::size_t tagStart = eventStart();
        const std::size_t tagEnd = tagStart + eventLength();
        scopes_.push_back(bindings_.size());
        tagEnds_.push_back(tagEnd);
        for (const XML_Char **a = attributes; *a != nullptr; a += 2) {
            const std::string_view attribute = a[0];
            if (attribute == "xmlns")
                bindings_.emplace_back("", a[1]);
            else if (attribute.starts_with("xmlns:"))
                bindings_.emplace_back(attribute.substr(6), a[1]);
        }
        if (skipping_ > 0) {
            ++skipping_;
            return;
        }
        const std::optional<Name> element = resolve(name, false);
        if (!element)
            return;
        if (isRemoved(*element)) {
            copyTo(tagStart);
            skipping_ = 1;
            replacing_ = false;
            return;
        }
        const bool selfClosing = in_.substr(tagStart, tagEnd - tagStart).ends_with("/>");
        rewriteAttributesIfChanged(name, attributes, tagStart, tagEnd, selfClosing);
        if (const std::optional<std::string> value = newValue(*element, width_, height_); value && !selfClosing) {
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
        bindings_.resize(scopes_.back());
        scopes_.pop_back();
        if (skipping_ == 0 || --skipping_ > 0)
            return;
        // A replaced value's end tag is kept; a removed element goes whole, end tag included (an
        // empty-element tag has no end tag of its own).
        copied_ = replacing_ ? tagStart : length > 0 ? tagStart + length : startTagEnd;
    }

    // The start tag written again when one of its attributes goes or changes.
    void rewriteAttributesIfChanged(std::string_view name, const XML_Char **attributes, std::size_t tagStart,
                                    std::size_t tagEnd, bool selfClosing)
    {
        std::string tag = "<" + std::string(name);
        bool changed = false;
        for (const XML_Char **a = attributes; *a != nullptr && !failed_; a += 2) {
            std::string_view value = a[1];
            std::optional<std::string> replaced;
            if (const std::optional<Name> attribute = resolve(a[0], true)) {
                if (isRemoved(*attribute)) {
                    changed = true;
                    continue;
                }
                replaced = newValue(*attribute, width_, height_);
                if (replaced && *replaced != value) {
                    changed = true;
                    value = *replaced;
                }
            }
            tag += " ";
            tag += a[0];
            tag += "=\"";
            appendEscaped(tag, value);
            tag += "\"";
        }
        if (!changed || failed_)
            return;
        copyTo(tagStart);
        out_ += tag + (selfClosing ? "/>" : ">");
        copied_ = tagEnd;
    }

    // The URI and local name of `qualified` ("prefix:local", as namespaceAwareReaderTakes()
    // made sure); an attribute without a prefix is in no namespace, an element without one in
    // the default namespace; nothing for a namespace declaration. A prefix nobody declared makes
    // the packet one that does not parse.
    std::optional<Name> resolve(std::string_view qualified, bool attribute)
    {
        if (attribute && (qualified == "xmlns" || qualified.starts_with("xmlns:")))
            return std::nullopt;
        const std::size_t colon = qualified.find(':');
        if (colon == std::string_view::npos && attribute)
            return Name{{}, qualified};
        const std::string_view prefix =
            colon == std::string_view::npos ? std::string_view() : qualified.substr(0, colon);
        const std::string_view local = colon == std::string_view::npos ? qualified : qualified.substr(colon + 1);
        if (prefix == "xml")
            return Name{kXmlNamespace, local};
        for (auto b = bindings_.rbegin(); b != bindings_.rend(); ++b) {
            if (b->first == prefix)
                return Name{b->second, local};
        }
        if (prefix.empty())
            return Name{{}, local};
        fail();
        return std::nullopt;
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

    std::vector<std::pair<std::string, std::string>> bindings_;  // prefix and URI, innermost last
    std::vector<std::size_t> scopes_;                            // bindings_'s size at each open element
    std::vector<std::size_t> tagEnds_;                           // where each open element's start tag ends

    std::string out_;
    std::size_t copied_ = 0;  // the packet is in out_ up to here
    int skipping_ = 0;        // depth inside an element whose content is removed or replaced
    bool replacing_ = false;  // that element's value is replaced, not the element removed
};

}  // namespace

std::optional<std::string> cleanXmp(std::string_view packet, std::uint32_t width, std::uint32_t height)
{
    if (packet.size() > kMaxXmpPacket || !namespaceAwareReaderTakes(packet))
        return std::nullopt;
    return Cleaner(packet, width, height).run();
}

}  // namespace exif
