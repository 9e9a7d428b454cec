// Phone photos with an HDR gain map ("Ultra HDR"): the converter writes the map after the photo,
// declared in the forms the photo had, as an outside reader, exiftool, finds it.
#include "common/jpeg_walk.h"
#include "convertimg/convert.h"
#include "metadata/carrier.h"
#include "metadata/gain_map.h"
#include "metadata/xmp.h"
#include "tests/convertimg/bmp_builder.h"
#include "tests/convertimg/exiftool.h"
#include "tests/support/testimages.h"
#include "tests/support/ultrahdr.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <string>

namespace {

using namespace testimages;

std::string compact(std::string json)
{
    json.erase(std::remove_if(json.begin(), json.end(), [](unsigned char c) { return std::isspace(c); }), json.end());
    return json;
}

// A phone's packet, its directory already gone with the cleaning: the namespaces of the
// declaration stay declared on its description.
constexpr std::string_view kPhoneXmp =
    "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\"><rdf:RDF xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\">"
    "<rdf:Description xmlns:dc=\"http://purl.org/dc/elements/1.1/\" "
    "xmlns:Container=\"http://ns.google.com/photos/1.0/container/\" "
    "xmlns:Item=\"http://ns.google.com/photos/1.0/container/item/\" "
    "xmlns:hdrgm=\"http://ns.adobe.com/hdr-gain-map/1.0/\" hdrgm:Version=\"1.0\">"
    "<dc:creator><rdf:Seq><rdf:li>Ada</rdf:li></rdf:Seq></dc:creator></rdf:Description></rdf:RDF></x:xmpmeta>";

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

}  // namespace
