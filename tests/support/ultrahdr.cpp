// Ultra HDR JPEGs for the tests, laid out as the format's public description says.
#include "tests/support/ultrahdr.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <stdexcept>

namespace testimages {
namespace {

constexpr std::string_view kXmpId{"http://ns.adobe.com/xap/1.0/\0", 29};
constexpr int kApp1 = 0xE1;
constexpr int kApp2 = 0xE2;
// ISO 21496-1 values are fractions; this denominator keeps the tests' values exact enough.
constexpr std::uint32_t kDenominator = 1u << 20;

void put16(std::vector<std::uint8_t> &out, std::uint32_t value)
{
    out.push_back(static_cast<std::uint8_t>(value >> 8));
    out.push_back(static_cast<std::uint8_t>(value));
}

void put32(std::vector<std::uint8_t> &out, std::uint32_t value)
{
    put16(out, value >> 16);
    put16(out, value & 0xFFFF);
}

void putFraction(std::vector<std::uint8_t> &out, double value)
{
    put32(out, static_cast<std::uint32_t>(static_cast<std::int32_t>(std::llround(value * kDenominator))));
    put32(out, kDenominator);
}

std::string number(double value)
{
    char text[32];
    const auto end = std::to_chars(text, text + sizeof text, value).ptr;
    return std::string(text, end);
}

std::vector<std::uint8_t> xmpPayload(const std::string &packet)
{
    const std::string payload = std::string(kXmpId) + packet;
    return std::vector<std::uint8_t>(payload.begin(), payload.end());
}

std::vector<std::uint8_t> isoId()
{
    return std::vector<std::uint8_t>(kIsoGainMapId, kIsoGainMapId + sizeof kIsoGainMapId);  // with its '\0'
}

const std::string kXmpHead =
    "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\"><rdf:RDF "
    "xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\"><rdf:Description rdf:about=\"\" ";
const std::string kXmpTail = "</rdf:RDF></x:xmpmeta>";

}  // namespace

RgbImage patchGrid(int width, int height, int columns, const std::vector<HdrPatch> &patches, bool mapCodes)
{
    const int rows = (static_cast<int>(patches.size()) + columns - 1) / columns;
    RgbImage image(width, height);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const std::size_t index = static_cast<std::size_t>(y * rows / height * columns + x * columns / width);
            const HdrPatch &patch = patches[std::min(index, patches.size() - 1)];
            std::copy_n((mapCodes ? patch.code : patch.rgb).begin(), 3, image.at(x, y));
        }
    }
    return image;
}

std::vector<std::uint8_t> isoVersionPayload()
{
    std::vector<std::uint8_t> payload = isoId();
    put16(payload, 0);  // minimum_version
    put16(payload, 0);  // writer_version
    return payload;
}

std::vector<std::uint8_t> isoGainMapPayload(const GainMapValues &v)
{
    std::vector<std::uint8_t> payload = isoId();
    put16(payload, 0);
    put16(payload, 0);
    payload.push_back(static_cast<std::uint8_t>((v.multichannel ? 0x80 : 0) | (v.useBaseColourSpace ? 0x40 : 0)));
    putFraction(payload, v.hdrCapacityMin);  // base_hdr_headroom
    putFraction(payload, v.hdrCapacityMax);  // alternate_hdr_headroom
    for (int c = 0; c < (v.multichannel ? 3 : 1); ++c) {
        for (double value : {v.gainMapMin[c], v.gainMapMax[c], v.gamma[c], v.offsetSdr[c], v.offsetHdr[c]})
            putFraction(payload, value);
    }
    return payload;
}

std::string gainMapXmpPacket(const GainMapValues &v, bool elements)
{
    const std::pair<const char *, const std::array<double, 3> &> channelled[] = {{"GainMapMin", v.gainMapMin},
                                                                                 {"GainMapMax", v.gainMapMax},
                                                                                 {"Gamma", v.gamma},
                                                                                 {"OffsetSDR", v.offsetSdr},
                                                                                 {"OffsetHDR", v.offsetHdr}};
    std::string attributes = "xmlns:hdrgm=\"http://ns.adobe.com/hdr-gain-map/1.0/\" hdrgm:Version=\"1.0\" "
                             "hdrgm:BaseRenditionIsHDR=\"False\"";
    std::string children;
    const auto add = [&](const std::string &name, const std::string &value, bool element) {
        if (element)
            children += "<hdrgm:" + name + ">" + value + "</hdrgm:" + name + ">";
        else
            attributes += " hdrgm:" + name + "=\"" + value + "\"";
    };
    add("HDRCapacityMin", number(v.hdrCapacityMin), elements);
    add("HDRCapacityMax", number(v.hdrCapacityMax), elements);
    for (const auto &[name, values] : channelled) {
        if (!v.multichannel) {
            add(name, number(values[0]), elements);
            continue;
        }
        std::string seq = "<rdf:Seq>";
        for (double value : values)
            seq += "<rdf:li>" + number(value) + "</rdf:li>";
        add(name, seq + "</rdf:Seq>", true);
    }
    if (children.empty())
        return kXmpHead + attributes + "/>" + kXmpTail;
    return kXmpHead + attributes + ">" + children + "</rdf:Description>" + kXmpTail;
}

std::string primaryXmpPacket(std::size_t mapLength)
{
    return kXmpHead +
           "xmlns:Container=\"http://ns.google.com/photos/1.0/container/\" "
           "xmlns:Item=\"http://ns.google.com/photos/1.0/container/item/\" "
           "xmlns:hdrgm=\"http://ns.adobe.com/hdr-gain-map/1.0/\" hdrgm:Version=\"1.0\">"
           "<Container:Directory><rdf:Seq>"
           "<rdf:li rdf:parseType=\"Resource\"><Container:Item Item:Semantic=\"Primary\" "
           "Item:Mime=\"image/jpeg\"/></rdf:li>"
           "<rdf:li rdf:parseType=\"Resource\"><Container:Item Item:Semantic=\"GainMap\" Item:Mime=\"image/jpeg\" "
           "Item:Length=\"" +
           std::to_string(mapLength) + "\"/></rdf:li></rdf:Seq></Container:Directory></rdf:Description>" + kXmpTail;
}

std::vector<std::uint8_t> mpfPayload(std::uint32_t primaryLength, std::uint32_t mapLength, std::uint32_t mapOffset)
{
    std::vector<std::uint8_t> p = {'M', 'P', 'F', 0, 'M', 'M', 0, 42};
    put32(p, 8);  // the MP Index IFD
    put16(p, 3);
    const auto entry = [&](std::uint16_t tag, std::uint16_t type, std::uint32_t count, std::uint32_t value) {
        put16(p, tag);
        put16(p, type);
        put32(p, count);
        put32(p, value);
    };
    entry(0xB000, 7, 4, 0x30313030);  // MPFVersion "0100"
    entry(0xB001, 4, 1, 2);           // NumberOfImages
    entry(0xB002, 7, 32, 50);         // MPEntry: two entries at 50 from the TIFF header
    put32(p, 0);                      // no next IFD
    for (const auto &[attribute, size, offset] : {std::array<std::uint32_t, 3>{0x00030000, primaryLength, 0},
                                                  std::array<std::uint32_t, 3>{0, mapLength, mapOffset}}) {
        put32(p, attribute);
        put32(p, size);
        put32(p, offset);
        put32(p, 0);  // dependent images
    }
    return p;
}

UltraHdr ultraHdrJpeg(const UltraHdrOptions &o)
{
    if (o.mapChannels != 1 && o.mapChannels != 3)
        throw std::runtime_error("a gain map has 1 or 3 channels");
    JpegOptions mapOptions;
    mapOptions.quality = o.quality;
    mapOptions.colour = o.mapChannels == 1 ? ColourModel::Gray : ColourModel::YCbCr;
    mapOptions.subsampling = Subsampling::S444;
    mapOptions.iccProfile = o.mapIcc;
    if (o.xmpForm)
        mapOptions.segments.push_back(
            {kApp1, xmpPayload(o.mapXmpPacket.value_or(gainMapXmpPacket(o.values, o.xmpElements)))});
    if (o.isoForm)
        mapOptions.segments.push_back({kApp2, o.mapIsoPayload.value_or(isoGainMapPayload(o.values))});
    UltraHdr out;
    out.map = encodeJpeg(patchGrid(o.mapWidth, o.mapHeight, o.columns, o.patches, true), mapOptions);

    JpegOptions primary;
    primary.quality = o.quality;
    primary.subsampling = Subsampling::S444;
    primary.exifOrientation = o.orientation;
    primary.iccProfile = o.primaryIcc;
    if (o.xmpForm)
        primary.segments.push_back({kApp1, xmpPayload(primaryXmpPacket(out.map.size()))});
    if (o.isoForm)
        primary.segments.push_back({kApp2, isoVersionPayload()});
    primary.segments.push_back({kApp2, mpfPayload(0, 0, 0)});
    out.file = encodeJpeg(patchGrid(o.width, o.height, o.columns, o.patches, false), primary);
    out.primaryLength = out.file.size();

    // The MPF's offsets count from its TIFF header, 8 bytes into the segment (marker, length, "MPF\0").
    const std::uint8_t signature[] = {0xFF, 0xE2, 0, 88, 'M', 'P', 'F', 0};
    const auto mpf = std::search(out.file.begin(), out.file.end(), std::begin(signature), std::end(signature));
    if (mpf == out.file.end())
        throw std::runtime_error("the MPF segment is missing from the primary");
    const std::size_t tiff = static_cast<std::size_t>(mpf - out.file.begin()) + 8;
    const auto patched =
        mpfPayload(static_cast<std::uint32_t>(out.primaryLength), static_cast<std::uint32_t>(out.map.size()),
                   static_cast<std::uint32_t>(static_cast<std::int64_t>(out.primaryLength - tiff) + o.mapOffsetShift));
    std::copy(patched.begin(), patched.end(), mpf + 4);
    out.file.insert(out.file.end(), out.map.begin(), out.map.end());
    return out;
}

}  // namespace testimages
