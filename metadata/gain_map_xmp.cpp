// Adds a gain map's declaration to an XMP packet: libexpat finds where the packet's rdf:RDF
// starts, and the declaration goes first in it, leaving every other byte as it was.
#include "metadata/gain_map_xmp.h"

#include "metadata/exif.h"
#include "metadata/xmp.h"

#include <expat.h>

#include <algorithm>
#include <memory>
#include <string>
#include <string_view>

namespace meta {
namespace {

constexpr std::string_view kRdf = "http://www.w3.org/1999/02/22-rdf-syntax-ns#";

// The description, whose rdf prefix is `rdf` ("rdf" declared on it when empty). Its namespaces
// are declared on it, and bind its prefixes whatever the packet binds them to elsewhere. It goes
// first in rdf:RDF: Android's reader takes the first description that declares the namespaces it
// looks for, and the photo's own may still declare them, the cleaning having removed only its
// properties.
std::string declaration(std::string_view rdf, std::uint64_t mapLength)
{
    const std::string r = rdf.empty() ? "rdf" : std::string(rdf);
    const std::string ownRdf = rdf.empty() ? " xmlns:rdf=\"" + std::string(kRdf) + "\"" : "";
    return "<" + r + ":Description" + ownRdf + " " + r +
           ":about=\"\""
           " xmlns:hdrgm=\"http://ns.adobe.com/hdr-gain-map/1.0/\""
           " xmlns:Container=\"http://ns.google.com/photos/1.0/container/\""
           " xmlns:Item=\"http://ns.google.com/photos/1.0/container/item/\""
           " hdrgm:Version=\"1.0\"><Container:Directory><" +
           r + ":Seq><" + r + ":li " + r +
           ":parseType=\"Resource\"><Container:Item Item:Semantic=\"Primary\" Item:Mime=\"image/jpeg\"/></" + r +
           ":li><" + r + ":li " + r +
           ":parseType=\"Resource\"><Container:Item Item:Semantic=\"GainMap\" Item:Mime=\"image/jpeg\" "
           "Item:Length=\"" +
           std::to_string(mapLength) + "\"/></" + r + ":li></" + r + ":Seq></Container:Directory></" + r +
           ":Description>";
}

std::string packetOfItsOwn(std::uint64_t mapLength)
{
    return "<?xpacket begin=\"\xEF\xBB\xBF\" id=\"W5M0MpCehiHzreSzNTczkc9d\"?>"
           "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\"><rdf:RDF xmlns:rdf=\"" +
           std::string(kRdf) + "\">" + declaration("rdf", mapLength) + "</rdf:RDF></x:xmpmeta><?xpacket end=\"w\"?>";
}

// Where the content of the first rdf:RDF element of a packet starts, and the prefix it is written
// with.
class RdfStart {
public:
    // False when the packet does not parse.
    bool find(std::string_view packet)
    {
        struct Free {
            void operator()(XML_Parser p) const { XML_ParserFree(p); }
        };
        const std::unique_ptr<XML_ParserStruct, Free> parser(XML_ParserCreateNS("UTF-8", kSeparator));
        if (!parser)
            return false;
        packet_ = packet;
        parser_ = parser.get();
        XML_SetReturnNSTriplet(parser_, XML_TRUE);
        XML_SetUserData(parser_, this);
        XML_SetStartElementHandler(parser_, onStart);
        XML_SetParamEntityParsing(parser_, XML_PARAM_ENTITY_PARSING_NEVER);
        return XML_Parse(parser_, packet.data(), static_cast<int>(packet.size()), XML_TRUE) == XML_STATUS_OK;
    }

    // The offset just after its start tag; nothing when it has no content (no rdf:RDF, or an
    // empty one: no property either way).
    std::optional<std::size_t> at;
    std::string prefix;

private:
    static constexpr char kSeparator = '\x01';

    static void onStart(void* self, const XML_Char* name, const XML_Char**)
    {
        static_cast<RdfStart*>(self)->start(name);
    }

    void start(std::string_view expanded)
    {
        const std::string rdfRoot = std::string(kRdf) + kSeparator + "RDF";
        if (seen_ || expanded.substr(0, rdfRoot.size()) != rdfRoot)
            return;
        const std::string_view rest = expanded.substr(rdfRoot.size());
        if (!rest.empty() && rest.front() != kSeparator)
            return;  // another local name that starts with RDF
        seen_ = true;
        const auto end = static_cast<std::size_t>(XML_GetCurrentByteIndex(parser_) + XML_GetCurrentByteCount(parser_));
        if (end >= 2 && end <= packet_.size() && packet_.substr(end - 2, 2) != "/>") {
            at = end;
            prefix = rest.empty() ? "" : std::string(rest.substr(1));
        }
    }

    std::string_view packet_;
    XML_Parser parser_ = nullptr;
    bool seen_ = false;
};

}  // namespace

std::optional<std::vector<std::uint8_t>> declareGainMap(std::span<const std::uint8_t> xmp, std::uint64_t mapLength)
{
    std::string packet;
    if (xmp.empty()) {
        packet = packetOfItsOwn(mapLength);
    } else {
        if (xmp.size() < kXmpId.size() || !std::equal(kXmpId.begin(), kXmpId.end(), xmp.begin()))
            return std::nullopt;
        packet.assign(reinterpret_cast<const char*>(xmp.data()) + kXmpId.size(), xmp.size() - kXmpId.size());
        RdfStart rdf;
        if (!rdf.find(packet))
            return std::nullopt;
        if (rdf.at)
            packet.insert(*rdf.at, declaration(rdf.prefix, mapLength));
        else
            packet = packetOfItsOwn(mapLength);
    }
    if (packet.size() > kMaxXmpPacket)
        return std::nullopt;
    std::vector<std::uint8_t> payload(kXmpId.begin(), kXmpId.end());
    payload.insert(payload.end(), packet.begin(), packet.end());
    return payload;
}

}  // namespace meta
