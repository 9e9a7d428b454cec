// A gain map's metadata, read from its ISO 21496-1 block or its XMP (hdrgm:), with the care given
// to EXIF: lengths, counts and every value checked.
#include "metadata/gain_map.h"

#include "metadata/xmp.h"

#include <expat.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <map>
#include <memory>
#include <string>

namespace meta {
namespace {

// ---- ISO 21496-1 ----------------------------------------------------------------------------

constexpr std::uint8_t kMultichannel = 0x80;
constexpr std::uint8_t kUseBaseColourSpace = 0x40;
constexpr std::uint8_t kCommonDenominator = 0x08;
// minimum_version, writer_version, flags, then two fractions of headroom.
constexpr std::size_t kIsoHeadBytes = 2 + 2 + 1 + 16;
constexpr std::size_t kIsoChannelBytes = 5 * 8;

class BigEndian {
public:
    explicit BigEndian(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}
    std::uint32_t u16() { return take(2); }
    std::uint32_t u32() { return take(4); }
    std::uint8_t u8() { return static_cast<std::uint8_t>(take(1)); }
    // A fraction; NaN for a denominator of 0, which valid() refuses.
    double fraction(bool isSigned)
    {
        const std::uint32_t n = u32(), d = u32();
        if (d == 0)
            return std::nan("");
        return (isSigned ? static_cast<double>(static_cast<std::int32_t>(n)) : static_cast<double>(n)) / d;
    }

private:
    // Callers check the length first.
    std::uint32_t take(int size)
    {
        std::uint32_t value = 0;
        for (int i = 0; i < size; ++i)
            value = value << 8 | bytes_[at_++];
        return value;
    }
    std::span<const std::uint8_t> bytes_;
    std::size_t at_ = 0;
};

bool startsWith(std::span<const std::uint8_t> payload, std::string_view id)
{
    return payload.size() >= id.size() && std::equal(id.begin(), id.end(), payload.begin());
}

// ---- XMP ------------------------------------------------------------------------------------

constexpr std::string_view kHdrgm = "http://ns.adobe.com/hdr-gain-map/1.0/";
constexpr std::string_view kRdf = "http://www.w3.org/1999/02/22-rdf-syntax-ns#";
constexpr char kSeparator = '\x01';

// The hdrgm: properties of a packet, each as its list of values: one for an attribute or a plain
// element, one per rdf:li of an array.
class HdrgmReader {
public:
    std::optional<std::map<std::string, std::vector<std::string>>> read(std::string_view packet)
    {
        const std::unique_ptr<XML_ParserStruct, void (*)(XML_Parser)> parser(XML_ParserCreateNS("UTF-8", kSeparator),
                                                                             XML_ParserFree);
        if (!parser)
            return std::nullopt;
        parser_ = parser.get();
        XML_SetUserData(parser_, this);
        XML_SetElementHandler(parser_, onStart, onEnd);
        XML_SetCharacterDataHandler(parser_, onText);
        XML_SetStartDoctypeDeclHandler(parser_, onDoctype);
        XML_SetParamEntityParsing(parser_, XML_PARAM_ENTITY_PARSING_NEVER);
        if (XML_Parse(parser_, packet.data(), static_cast<int>(packet.size()), XML_TRUE) != XML_STATUS_OK || failed_)
            return std::nullopt;
        return std::move(properties_);
    }

private:
    static std::optional<std::string_view> hdrgmName(std::string_view expanded)
    {
        if (expanded.size() > kHdrgm.size() && expanded.starts_with(kHdrgm) && expanded[kHdrgm.size()] == kSeparator)
            return expanded.substr(kHdrgm.size() + 1);
        return std::nullopt;
    }
    static bool isListItem(std::string_view expanded)
    {
        return expanded.size() == kRdf.size() + 3 && expanded.starts_with(kRdf) && expanded.ends_with("\x01li");
    }
    static void onStart(void *self, const XML_Char *name, const XML_Char **attributes)
    {
        static_cast<HdrgmReader *>(self)->start(name, attributes);
    }
    static void onEnd(void *self, const XML_Char *) { static_cast<HdrgmReader *>(self)->end(); }
    static void onText(void *self, const XML_Char *text, int length)
    {
        auto *reader = static_cast<HdrgmReader *>(self);
        if (reader->values_ != nullptr && !reader->broken_ && !reader->values_->empty() &&
            reader->depth_ == reader->valueDepth_)
            reader->values_->back().append(text, static_cast<std::size_t>(length));
    }
    static void onDoctype(void *self, const XML_Char *, const XML_Char *, const XML_Char *, int)
    {
        auto *reader = static_cast<HdrgmReader *>(self);
        reader->failed_ = true;
        XML_StopParser(reader->parser_, XML_FALSE);
    }

    void start(std::string_view expanded, const XML_Char **attributes)
    {
        ++depth_;
        for (const XML_Char **a = attributes; *a != nullptr; a += 2) {
            if (const auto name = hdrgmName(a[0]))
                properties_[std::string(*name)] = {a[1]};
        }
        if (values_ == nullptr) {
            if (const auto name = hdrgmName(expanded)) {
                values_ = &properties_[std::string(*name)];
                values_->assign(1, std::string());
                propertyDepth_ = valueDepth_ = depth_;
            }
        } else if (!broken_ && isListItem(expanded)) {
            // An item anywhere but in an array right under the property leaves it without a value.
            broken_ = depth_ != propertyDepth_ + 2;
            if (!inArray_ || broken_)
                values_->clear();  // what came before the array was blanks
            if (broken_)
                return;
            inArray_ = true;
            values_->emplace_back();
            valueDepth_ = depth_;
        }
    }

    void end()
    {
        if (values_ != nullptr && depth_ == propertyDepth_) {
            values_ = nullptr;
            inArray_ = broken_ = false;
        }
        --depth_;
    }

    XML_Parser parser_ = nullptr;
    bool failed_ = false;
    std::map<std::string, std::vector<std::string>> properties_;
    std::vector<std::string> *values_ = nullptr;  // of the hdrgm: element open, if any
    int depth_ = 0;
    int propertyDepth_ = 0;
    int valueDepth_ = 0;  // where its text goes: the element itself or its rdf:li
    bool inArray_ = false;
    bool broken_ = false;
};

std::optional<std::map<std::string, std::vector<std::string>>> hdrgmProperties(std::span<const std::uint8_t> payload)
{
    if (!startsWith(payload, kXmpId) || payload.size() - kXmpId.size() > kMaxXmpPacket)
        return std::nullopt;
    const auto *text = reinterpret_cast<const char *>(payload.data()) + kXmpId.size();
    return HdrgmReader().read(std::string_view(text, payload.size() - kXmpId.size()));
}

std::string_view trimmed(std::string_view text)
{
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; };
    while (!text.empty() && blank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && blank(text.back()))
        text.remove_suffix(1);
    return text;
}

std::optional<double> number(std::string_view text)
{
    text = trimmed(text);
    if (!text.empty() && text.front() == '+')
        text.remove_prefix(1);
    double value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || text.empty())
        return std::nullopt;
    return value;
}

}  // namespace

bool GainMapValues::valid() const
{
    const auto finite = [](double v) { return std::isfinite(v); };
    for (int c = 0; c < 3; ++c) {
        if (!finite(gainMapMin[c]) || !finite(gainMapMax[c]) || !finite(gamma[c]) || !finite(offsetSdr[c]) ||
            !finite(offsetHdr[c]) || gamma[c] <= 0 || gainMapMin[c] > gainMapMax[c] || offsetSdr[c] < 0 ||
            offsetHdr[c] < 0)
            return false;
    }
    return finite(hdrCapacityMin) && finite(hdrCapacityMax) && hdrCapacityMin >= 0 && hdrCapacityMax > hdrCapacityMin;
}

bool GainMapValues::sameOnEveryChannel() const
{
    const auto same = [](const std::array<double, 3> &v) { return v[0] == v[1] && v[1] == v[2]; };
    return same(gainMapMin) && same(gainMapMax) && same(gamma) && same(offsetSdr) && same(offsetHdr);
}

bool isoVersionUsable(std::span<const std::uint8_t> payload)
{
    if (!startsWith(payload, kIsoGainMapId) || payload.size() < kIsoGainMapId.size() + 4)
        return false;
    return BigEndian(payload.subspan(kIsoGainMapId.size())).u16() == 0;
}

std::optional<GainMapValues> isoGainMapValues(std::span<const std::uint8_t> payload)
{
    if (!startsWith(payload, kIsoGainMapId) || payload.size() < kIsoGainMapId.size() + kIsoHeadBytes)
        return std::nullopt;
    BigEndian in(payload.subspan(kIsoGainMapId.size()));
    const std::uint32_t minimumVersion = in.u16();
    in.u16();  // writer_version: any
    const std::uint8_t flags = in.u8();
    const int channels = (flags & kMultichannel) != 0 ? 3 : 1;
    if (minimumVersion != 0 || (flags & kCommonDenominator) != 0 ||
        payload.size() != kIsoGainMapId.size() + kIsoHeadBytes + channels * kIsoChannelBytes)
        return std::nullopt;
    GainMapValues values;
    values.useBaseColourSpace = (flags & kUseBaseColourSpace) != 0;
    values.hdrCapacityMin = in.fraction(false);
    values.hdrCapacityMax = in.fraction(false);
    for (int c = 0; c < channels; ++c) {
        values.gainMapMin[c] = in.fraction(true);
        values.gainMapMax[c] = in.fraction(true);
        values.gamma[c] = in.fraction(false);
        values.offsetSdr[c] = in.fraction(true);
        values.offsetHdr[c] = in.fraction(true);
    }
    for (int c = channels; c < 3; ++c) {
        values.gainMapMin[c] = values.gainMapMin[0];
        values.gainMapMax[c] = values.gainMapMax[0];
        values.gamma[c] = values.gamma[0];
        values.offsetSdr[c] = values.offsetSdr[0];
        values.offsetHdr[c] = values.offsetHdr[0];
    }
    if (!values.valid())
        return std::nullopt;
    return values;
}

bool declaresGainMap(std::span<const std::uint8_t> xmpPayload)
{
    const auto properties = hdrgmProperties(xmpPayload);
    return properties && properties->contains("Version");
}

std::optional<GainMapValues> xmpGainMapValues(std::span<const std::uint8_t> xmpPayload)
{
    const auto properties = hdrgmProperties(xmpPayload);
    if (!properties)
        return std::nullopt;
    const auto single = [&](const char *name) -> const std::string * {
        const auto found = properties->find(name);
        return found != properties->end() && found->second.size() == 1 ? &found->second[0] : nullptr;
    };
    const std::string *version = single("Version");
    const std::string *baseIsHdr = single("BaseRenditionIsHDR");
    if (version == nullptr || trimmed(*version) != "1.0" || !properties->contains("GainMapMax") ||
        !properties->contains("HDRCapacityMax") || (baseIsHdr != nullptr && trimmed(*baseIsHdr) != "False") ||
        (baseIsHdr == nullptr && properties->contains("BaseRenditionIsHDR")))
        return std::nullopt;
    GainMapValues values;
    // A capacity is one number; a channelled value one, or an array of one or three.
    const auto capacity = [&](const char *name, double fallback, double &out) {
        if (!properties->contains(name)) {
            out = fallback;
            return true;
        }
        const std::string *text = single(name);
        const std::optional<double> value = text ? number(*text) : std::nullopt;
        out = value.value_or(0);
        return value.has_value();
    };
    const auto channelled = [&](const char *name, double fallback, std::array<double, 3> &out) {
        const auto found = properties->find(name);
        if (found == properties->end()) {
            out.fill(fallback);
            return true;
        }
        const std::vector<std::string> &texts = found->second;
        if (texts.size() != 1 && texts.size() != 3)
            return false;
        for (std::size_t c = 0; c < 3; ++c) {
            const std::optional<double> value = number(texts[texts.size() == 1 ? 0 : c]);
            if (!value)
                return false;
            out[c] = *value;
        }
        return true;
    };
    constexpr double kDefaultOffset = 1.0 / 64;
    if (!capacity("HDRCapacityMin", 0, values.hdrCapacityMin) ||
        !capacity("HDRCapacityMax", 0, values.hdrCapacityMax) || !channelled("GainMapMin", 0, values.gainMapMin) ||
        !channelled("GainMapMax", 0, values.gainMapMax) || !channelled("Gamma", 1, values.gamma) ||
        !channelled("OffsetSDR", kDefaultOffset, values.offsetSdr) ||
        !channelled("OffsetHDR", kDefaultOffset, values.offsetHdr) || !values.valid())
        return std::nullopt;
    return values;
}

}  // namespace meta
