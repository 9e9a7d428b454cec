// Phone photos with an HDR gain map ("Ultra HDR"): the converter writes the map after the photo,
// declared in the forms the photo had, as an outside reader, exiftool, finds it.
#include "common/jpeg_walk.h"
#include "convertimg/convert.h"
#include "imglib/imglib.h"
#include "metadata/carrier.h"
#include "metadata/gain_map.h"
#include "metadata/xmp.h"
#include "tests/convertimg/bmp_builder.h"
#include "tests/convertimg/exiftool.h"
#include "tests/support/testimages.h"
#include "tests/support/ultrahdr.h"

#include <gtest/gtest.h>
#include <turbojpeg.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cmath>
#include <span>
#include <string>
#include <utility>

namespace {

using namespace testimages;

std::string compact(std::string json)
{
    json.erase(std::remove_if(json.begin(), json.end(), [](unsigned char c) { return std::isspace(c); }), json.end());
    return json;
}

// A phone's packet, with the directory of the file it came from: the cleaning removes the
// directory and hdrgm:Version, and leaves their namespaces declared on the description.
constexpr std::string_view kPhoneXmp =
    "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\"><rdf:RDF xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\">"
    "<rdf:Description xmlns:dc=\"http://purl.org/dc/elements/1.1/\" "
    "xmlns:Container=\"http://ns.google.com/photos/1.0/container/\" "
    "xmlns:Item=\"http://ns.google.com/photos/1.0/container/item/\" "
    "xmlns:hdrgm=\"http://ns.adobe.com/hdr-gain-map/1.0/\" hdrgm:Version=\"1.0\">"
    "<dc:creator><rdf:Seq><rdf:li>Ada</rdf:li></rdf:Seq></dc:creator><Container:Directory><rdf:Seq>"
    "<rdf:li rdf:parseType=\"Resource\"><Container:Item Item:Semantic=\"Primary\" Item:Mime=\"image/jpeg\"/></rdf:li>"
    "<rdf:li rdf:parseType=\"Resource\"><Container:Item Item:Semantic=\"GainMap\" Item:Mime=\"image/jpeg\" "
    "Item:Length=\"3663\"/></rdf:li></rdf:Seq></Container:Directory></rdf:Description></rdf:RDF></x:xmpmeta>";

struct FormCase {
    const char* name;
    bool xmp, iso;
    std::uint8_t channels;
    bool photoXmp;  // the photo has XMP of its own, which takes the declaration
    friend void PrintTo(const FormCase& c, std::ostream* os) { *os << c.name; }
};

meta::GainMap gainMap(const FormCase& c)
{
    meta::GainMap map;
    map.width = 16;
    map.height = 12;
    map.channels = c.channels;
    for (std::uint32_t i = 0; i < map.width * map.height * c.channels; ++i)
        map.pixels.push_back(static_cast<std::uint8_t>(i * 7));
    GainMapValues values;
    values.multichannel = c.channels == 3;
    map.xmpForm = c.xmp;
    if (c.xmp)
        map.xmp = bytesOf(std::string(meta::kXmpId) + gainMapXmpPacket(values));
    if (c.iso) {
        map.isoVersion = isoVersionPayload();
        map.iso = isoGainMapPayload(values);
    }
    return map;
}

class GainMapBitmap : public testing::TestWithParam<FormCase> {};

// The map comes after the photo, both listed in the MPF index, the map's segments byte for byte
// after its start of image, and the photo declares it in the forms the input had.
TEST_P(GainMapBitmap, BecomesAnUltraHdrFile)
{
    if (exiftoolMissing())
        GTEST_SKIP() << "exiftool is not installed (scripts/install-deps installs it)";
    const FormCase& c = GetParam();
    const meta::GainMap map = gainMap(c);
    meta::Metadata metadata;
    if (c.photoXmp)
        metadata.xmp = bytesOf(std::string(meta::kXmpId) + std::string(kPhoneXmp));
    std::vector<std::uint8_t> bitmap = testbmp::makeBmp({.width = 64, .height = 48});
    for (const std::vector<std::uint8_t>& block : {meta::gainMapBlock(map), meta::carrierBlocks(metadata)})
        bitmap.insert(bitmap.end(), block.begin(), block.end());
    TempDir dir;
    writeFile(dir / "photo.bmp", bitmap);
    const convertimg::FileResult result =
        convertimg::convertFile((dir / "photo.bmp").string(), "photo.jpg", {.outDir = dir.path().string()});
    ASSERT_EQ(result.outcome, convertimg::Outcome::Converted) << result.message;

    const std::vector<std::uint8_t> file = readFile(dir / "photo.jpg");
    common::JpegWalk photo;
    photo.advance(file);
    ASSERT_TRUE(photo.ended());
    const std::string p = std::to_string(photo.end()), m = std::to_string(file.size() - photo.end());
    const std::string tags = compact(exiftoolTags({dir / "photo.jpg"}, "-j -struct -ee -G3:1 -n"));
    for (const std::string& expected : std::vector<std::string>{
             "\"MPF0:NumberOfImages\":2", "\"MPImage1:MPImageLength\":" + p, "\"MPImage1:MPImageStart\":0",
             "\"MPImage2:MPImageLength\":" + m, "\"MPImage2:MPImageStart\":" + p, "\"Doc2:File:ImageWidth\":16",
             "\"Doc2:File:ImageHeight\":12", "\"Doc2:File:ColorComponents\":" + std::to_string(c.channels)})
        EXPECT_NE(tags.find(expected), std::string::npos) << expected << " missing from\n" << tags;
    const std::string directory = "\"XMP-Container:Directory\":[{\"Item\":{\"Mime\":\"image/jpeg\",\"Semantic\":"
                                  "\"Primary\"}},{\"Item\":{\"Length\":" +
                                  m + ",\"Mime\":\"image/jpeg\",\"Semantic\":\"GainMap\"}}]";
    for (const std::string& declared : {std::string("\"XMP-hdrgm:Version\":1.0"), directory})
        EXPECT_EQ(tags.find(declared) != std::string::npos, c.xmp) << declared << " in\n" << tags;
    EXPECT_EQ(tags.find("Ada") != std::string::npos, c.photoXmp) << tags;
    // Android's reader takes the declaration from the first description that declares its
    // namespace, which the photo's own still does.
    const std::vector<std::uint8_t> xmp = xmpOfJpeg(file);
    const std::string packet(xmp.begin(), xmp.end());
    const std::size_t first = packet.find("<rdf:Description");
    EXPECT_EQ(first != std::string::npos && packet.find("hdrgm:Version") < packet.find('>', first), c.xmp) << packet;
    EXPECT_EQ(tags.find("Warning"), std::string::npos) << tags;

    const auto photoSegments = segmentsOf(file);
    const bool isoDeclared = std::count(photoSegments.begin(), photoSegments.end(),
                                        std::pair<std::uint8_t, std::vector<std::uint8_t>>{0xE2, map.isoVersion}) == 1;
    EXPECT_EQ(isoDeclared, c.iso);
    std::vector<std::pair<std::uint8_t, std::vector<std::uint8_t>>> carried;
    if (c.xmp)
        carried.emplace_back(0xE1, map.xmp);
    if (c.iso)
        carried.emplace_back(0xE2, map.iso);
    auto mapSegments = segmentsOf({file.begin() + static_cast<std::ptrdiff_t>(photo.end()), file.end()});
    mapSegments.resize(std::min(mapSegments.size(), carried.size()));
    EXPECT_EQ(mapSegments, carried);
}

INSTANTIATE_TEST_SUITE_P(Forms, GainMapBitmap,
                         testing::Values(FormCase{"XmpGrey", true, false, 1, true},
                                         FormCase{"IsoColour", false, true, 3, false},
                                         FormCase{"BothGreyWithoutPhotoXmp", true, true, 1, false},
                                         FormCase{"BothColour", true, true, 3, true}),
                         testing::PrintToStringParamName());

// ---- Both phases ----------------------------------------------------------------------------

// A JPEG's samples, grey or red, green and blue.
struct Decoded {
    int width = 0, height = 0, channels = 0;
    std::vector<std::uint8_t> samples;

    // The mean of channel `c` over a box of an eighth of each side around (u, v), in fractions
    // of the width and height.
    double around(double u, double v, int c) const
    {
        const int cx = static_cast<int>(u * width), cy = static_cast<int>(v * height);
        const int rx = std::max(1, width / 16), ry = std::max(1, height / 16);
        double sum = 0;
        int n = 0;
        for (int y = cy - ry; y <= cy + ry; ++y)
            for (int x = cx - rx; x <= cx + rx; ++x, ++n)
                sum += samples[(static_cast<std::size_t>(y) * width + x) * channels + c];
        return sum / n;
    }
};

Decoded decode(std::span<const std::uint8_t> jpeg)
{
    Decoded d;
    tjhandle tj = tjInitDecompress();
    int subsampling = 0, colourspace = 0;
    if (tjDecompressHeader3(tj, jpeg.data(), jpeg.size(), &d.width, &d.height, &subsampling, &colourspace) == 0) {
        d.channels = colourspace == TJCS_GRAY ? 1 : 3;
        d.samples.resize(static_cast<std::size_t>(d.width) * d.height * d.channels);
        if (tjDecompress2(tj, jpeg.data(), jpeg.size(), d.samples.data(), d.width, 0, d.height,
                          d.channels == 1 ? TJPF_GRAY : TJPF_RGB, 0) != 0)
            d = {};
    }
    tjDestroy(tj);
    return d;
}

// The HDR rendition of a photo and its map around (u, v), on a display that shows the map in
// full, by the format's equations: each channel of the photo in linear light, plus its offset,
// times 2 to the power of the map's log2 gain, less the HDR offset.
std::array<double, 3> hdrAround(const Decoded& photo, const Decoded& map, double u, double v, const GainMapValues& g)
{
    std::array<double, 3> hdr{};
    for (int c = 0; c < 3; ++c) {
        const double s = photo.around(u, v, c) / 255;
        const double sdr = s <= 0.04045 ? s / 12.92 : std::pow((s + 0.055) / 1.055, 2.4);
        const int k = g.multichannel ? c : 0;
        const double recovery = std::pow(map.around(u, v, map.channels == 1 ? 0 : c) / 255, 1 / g.gamma[k]);
        const double gain = g.gainMapMin[k] + (g.gainMapMax[k] - g.gainMapMin[k]) * recovery;
        hdr[c] = (sdr + g.offsetSdr[k]) * std::exp2(gain) - g.offsetHdr[k];
    }
    return hdr;
}

struct PhaseCase {
    const char* name;
    bool xmp, iso;
    int channels;
    int orientation;
    friend void PrintTo(const PhaseCase& c, std::ostream* os) { *os << c.name; }
};

class UltraHdrPhoto : public testing::TestWithParam<PhaseCase> {};

// A phone's Ultra HDR photo through both phases at 50 %, as the program runs them: the new file
// holds the photo and its map at half their sizes, upright, and shows the same HDR highlights.
TEST_P(UltraHdrPhoto, KeepsItsHdrThroughBothPhases)
{
    if (exiftoolMissing())
        GTEST_SKIP() << "exiftool is not installed (scripts/install-deps installs it)";
    const PhaseCase& c = GetParam();
    UltraHdrOptions options;
    options.width = 128;
    options.height = 96;
    options.mapWidth = 32;
    options.mapHeight = 24;
    options.mapChannels = c.channels;
    options.orientation = c.orientation;
    options.xmpForm = c.xmp;
    options.isoForm = c.iso;
    if (c.channels == 3) {
        options.values.multichannel = true;
        options.values.gainMapMax = {2, 1.5, 1};
        for (std::size_t i = 0; i < options.patches.size(); ++i)
            options.patches[i].code = {std::uint8_t(255 - 60 * i), std::uint8_t(60 * i), std::uint8_t(128 + 40 * i)};
    }
    const UltraHdr input = ultraHdrJpeg(options);
    TempDir dir;
    writeFile(dir / "in.jpg", input.file);
    const std::uint32_t read = ReadFileIntoDIB((dir / "in.jpg").c_str());
    ASSERT_NE(read, 0u);
    const std::uint32_t scaled = ZoomDIB(read, 50, 50);
    ASSERT_EQ(WriteDIBToFile(scaled, (dir / "photo.bmp").c_str(), 0), 1);
    DIBFree(scaled);
    const convertimg::FileResult result =
        convertimg::convertFile((dir / "photo.bmp").string(), "photo.jpg", {.outDir = dir.path().string()});
    ASSERT_EQ(result.outcome, convertimg::Outcome::Converted) << result.message;

    const bool turned = c.orientation == 6;
    const std::string tags = compact(exiftoolTags({dir / "photo.jpg"}, "-j -ee -G3:1 -n"));
    for (const std::string& expected : std::vector<std::string>{
             "\"MPF0:NumberOfImages\":2", "\"Doc2:File:ImageWidth\":" + std::string(turned ? "12" : "16"),
             "\"Doc2:File:ImageHeight\":" + std::string(turned ? "16" : "12")})
        EXPECT_NE(tags.find(expected), std::string::npos) << expected << " missing from\n" << tags;

    const std::vector<std::uint8_t> file = readFile(dir / "photo.jpg");
    common::JpegWalk walk;
    walk.advance(file);
    ASSERT_TRUE(walk.ended());
    const std::span<const std::uint8_t> bytes(file);
    const Decoded photo = decode(bytes.first(walk.end())), map = decode(bytes.subspan(walk.end()));
    const Decoded inPhoto = decode(std::span(input.file).first(input.primaryLength)), inMap = decode(input.map);
    ASSERT_EQ(map.channels, c.channels);
    // Each patch, at the middle of its quarter of the stored photo: turned a quarter clockwise
    // by orientation 6, its middle (u, v) stands at (1 - v, u) in the upright copy.
    for (const auto& [u, v] : {std::pair{0.25, 0.25}, {0.75, 0.25}, {0.25, 0.75}, {0.75, 0.75}}) {
        const std::array<double, 3> before = hdrAround(inPhoto, inMap, u, v, options.values);
        const std::array<double, 3> after = hdrAround(photo, map, turned ? 1 - v : u, turned ? u : v, options.values);
        for (int ch = 0; ch < 3; ++ch)
            EXPECT_NEAR(after[ch], before[ch], 0.04 * before[ch] + 0.005) << "patch at " << u << ", " << v;
    }
}

INSTANTIATE_TEST_SUITE_P(Forms, UltraHdrPhoto,
                         testing::Values(PhaseCase{"Xmp", true, false, 1, 0}, PhaseCase{"IsoTurned", false, true, 1, 6},
                                         PhaseCase{"BothColourTurned", true, true, 3, 6}),
                         testing::PrintToStringParamName());

}  // namespace
