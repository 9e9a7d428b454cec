// A photo's metadata through both phases, as the program runs them: the image library reads, scales
// and writes the bitmap, the converter makes the JPEG.  And bitmaps from elsewhere, whose end
// the converter must not take for a block of ours.
#include "convertimg/bmp_reader.h"
#include "convertimg/convert.h"
#include "convertimg/jpeg_writer.h"
#include "imglib/imglib.h"
#include "metadata/xmp.h"
#include "tests/convertimg/bmp_builder.h"
#include "tests/convertimg/exiftool.h"
#include "tests/support/testimages.h"

#include <gtest/gtest.h>
#include <turbojpeg.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <deque>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <tuple>

namespace {

using namespace testimages;

bool contains(const std::vector<std::uint8_t>& bytes, const std::vector<std::uint8_t>& part)
{
    return std::search(bytes.begin(), bytes.end(), part.begin(), part.end()) != bytes.end();
}

bool hasApp1(const std::vector<std::uint8_t>& jpeg)
{
    const auto segments = segmentsOf(jpeg);
    return std::any_of(segments.begin(), segments.end(), [](const auto& s) { return s.first == 0xE1; });
}

// Width and height of a JPEG that libjpeg-turbo decodes without error or warning, else {0, 0}.
std::pair<int, int> decodedSize(const std::vector<std::uint8_t>& jpeg)
{
    tjhandle tj = tjInitDecompress();
    int width = 0, height = 0, subsampling = 0, colourspace = 0;
    std::vector<std::uint8_t> pixels;
    if (tjDecompressHeader3(tj, jpeg.data(), jpeg.size(), &width, &height, &subsampling, &colourspace) == 0) {
        pixels.resize(static_cast<std::size_t>(width) * height * 3);
        if (tjDecompress2(tj, jpeg.data(), jpeg.size(), pixels.data(), width, 0, height, TJPF_BGR,
                          TJFLAG_STOPONWARNING) != 0)
            width = height = 0;
    }
    tjDestroy(tj);
    return {width, height};
}

// What the converter makes of a bitmap file.
std::vector<std::uint8_t> convert(const TempDir& dir, const std::vector<std::uint8_t>& bitmap)
{
    writeFile(dir / "photo.bmp", bitmap);
    convertimg::ConvertSettings settings;
    settings.outDir = dir.path().string();
    settings.replace = true;
    const auto result = convertimg::convertFile((dir / "photo.bmp").string(), "photo.jpg", settings);
    EXPECT_EQ(result.outcome, convertimg::Outcome::Converted) << result.message;
    return readFile(dir / "photo.jpg");
}

// The bitmap Phase 1 writes of a photo (with that EXIF payload, if any) scaled to half its size.
std::vector<std::uint8_t> phase1(const TempDir& dir, int width, int height, const std::vector<std::uint8_t>& exif)
{
    JpegOptions options;
    options.exifPayload = exif;
    const std::uint32_t read = ReadFileIntoDIB(writeJpeg(dir / "in.jpg", gradient(width, height), options).c_str());
    EXPECT_NE(read, 0u);
    const std::uint32_t scaled = ZoomDIB(read, 50, 50);
    EXPECT_EQ(WriteDIBToFile(scaled, (dir / "photo.bmp").c_str(), 0), 1);
    DIBFree(scaled);
    return readFile(dir / "photo.bmp");
}

struct TaggedCase {
    int orientation;
    bool bigEndian;
    int width, height;  // of the scaled, upright image
    friend void PrintTo(const TaggedCase& c, std::ostream* os) { *os << "Orientation" << c.orientation; }
};

class TaggedPhoto : public testing::TestWithParam<TaggedCase> {};

TEST_P(TaggedPhoto, KeepsChangesAndRemovesWhatItShould)
{
    const TaggedCase c = GetParam();
    TempDir dir;
    const TaggedExif tagged = taggedExif(c.orientation, c.bigEndian, 64, 48);
    const auto bitmap = parseBmp24(phase1(dir, 64, 48, tagged.payload));
    ASSERT_TRUE(bitmap);
    ASSERT_EQ(std::make_pair(bitmap->width, bitmap->height), std::make_pair(c.width, c.height));
    const auto jpeg = convert(dir, readFile(dir / "photo.bmp"));
    EXPECT_EQ(decodedSize(jpeg), std::make_pair(c.width, c.height));
    const auto segments = segmentsOf(jpeg);
    ASSERT_GE(segments.size(), 2u);
    EXPECT_EQ(segments[0].first, 0xE0);  // JFIF, then the EXIF
    EXPECT_EQ(segments[1].first, 0xE1);
    const ExifView in(tagged.payload), out(segments[1].second);

    // Kept, each value byte for byte where it was.
    const std::uint32_t exifDirectory = out.number(*out.find(out.ifd0(), kExifPointer));
    for (const auto& [directory, was, tag] : {std::tuple{out.ifd0(), tagged.ifd0, kImageDescription},
                                              {out.ifd0(), tagged.ifd0, kMake},
                                              {out.ifd0(), tagged.ifd0, kModel},
                                              {out.ifd0(), tagged.ifd0, kDateTime},
                                              {out.ifd0(), tagged.ifd0, kArtist},
                                              {out.ifd0(), tagged.ifd0, kCopyright},
                                              {exifDirectory, tagged.exif, kDateTimeOriginal},
                                              {exifDirectory, tagged.exif, kExposureTime},
                                              {exifDirectory, tagged.exif, kFNumber},
                                              {exifDirectory, tagged.exif, kLensModel},
                                              {exifDirectory, tagged.exif, kMakerNote}}) {
        const auto kept = out.find(directory, tag), original = in.find(was, tag);
        ASSERT_TRUE(kept) << std::hex << tag;
        EXPECT_EQ(kept->value, original->value) << std::hex << tag;
        EXPECT_EQ(kept->valueAt, original->valueAt) << std::hex << tag;
    }
    // The maker note's own entry still points to its text.
    EXPECT_EQ(out.u32(tagged.makerNote + 10), tagged.makerNoteText);
    EXPECT_TRUE(std::equal(in.payload().begin() + 6 + tagged.makerNoteText,
                           in.payload().begin() + 6 + tagged.makerNoteText + 16,
                           out.payload().begin() + 6 + tagged.makerNoteText));

    // Changed: upright, the new size, sRGB.
    EXPECT_EQ(out.number(*out.find(out.ifd0(), kOrientation)), 1u);
    EXPECT_EQ(out.number(*out.find(exifDirectory, kPixelXDimension)), static_cast<std::uint32_t>(c.width));
    EXPECT_EQ(out.number(*out.find(exifDirectory, kPixelYDimension)), static_cast<std::uint32_t>(c.height));
    EXPECT_EQ(out.number(*out.find(exifDirectory, kColorSpace)), 1u);

    // Removed: no GPS and no thumbnail, nor any of their bytes.
    EXPECT_FALSE(out.find(out.ifd0(), kGpsPointer));
    EXPECT_EQ(out.next(out.ifd0()), 0u);
    EXPECT_FALSE(contains(jpeg, tagged.gpsLatitude));
    EXPECT_FALSE(contains(jpeg, tagged.thumbnail));
}

INSTANTIATE_TEST_SUITE_P(Exif, TaggedPhoto, testing::Values(TaggedCase{1, false, 32, 24}, TaggedCase{6, true, 24, 32}),
                         testing::PrintToStringParamName());

// The location never reaches the new JPEG, wherever its directory hangs, and a directory found
// where it does not belong goes with all it leads to; the rest of the EXIF stays.
TEST(GpsDirectory, IsRemovedWhereverItHangs)
{
    const std::string location = "48 51 24.3 N", date = "2024:06:01 10:20:29";
    using Node = ExifTreeNode;
    using Nodes = std::vector<Node>;
    const Node gps{kGpsPointer, {{0x0001, "N"}, {0x0002, location}}, {}};
    const auto interop = [](Nodes children) { return Node{kInteropPointer, {{0x0001, "R98"}}, std::move(children)}; };
    const auto exif = [&](Nodes children) {
        return Node{kExifPointer, {{kDateTimeOriginal, date}}, std::move(children)};
    };
    const auto ifd0 = [](Nodes children) { return Node{0, {{kMake, "RedimCam"}}, std::move(children)}; };
    const std::pair<const char*, Node> cases[] = {
        {"IFD0, Exif, Interop, GPS", ifd0({exif({interop({gps})})})},
        {"IFD0, Exif, GPS", ifd0({exif({gps})})},
        {"IFD0, IFD1, GPS", ifd0({exif({}), Node{0, {{kImageDescription, "thumbnail"}}, {gps}}})},
        {"an Exif directory inside Interop", ifd0({exif({interop({exif({gps})})})})},
        {"an Interop directory inside GPS", ifd0({exif({}), Node{kGpsPointer, {{0x0001, "N"}}, {interop({gps})}}})},
        {"an Interop directory in IFD0", ifd0({exif({}), interop({gps})})},
    };
    for (const auto& [layout, tree] : cases) {
        SCOPED_TRACE(layout);
        TempDir dir;
        const auto bitmap = parseBmp24(phase1(dir, 64, 48, exifTree(tree)));
        ASSERT_TRUE(bitmap);
        EXPECT_FALSE(reachesLocation(bitmap->exif));
        const auto jpeg = convert(dir, readFile(dir / "photo.bmp"));
        const auto exifOut = exifOfJpeg(jpeg);
        EXPECT_FALSE(reachesLocation(exifOut));
        EXPECT_FALSE(contains(jpeg, {location.begin(), location.end()}));
        EXPECT_TRUE(contains(exifOut, {date.begin(), date.end()}));
    }
}

TEST(UntaggedPhoto, GivesABitmapAndAJpegWithoutExif)
{
    TempDir dir;
    const auto file = phase1(dir, 64, 48, {});
    EXPECT_EQ(file.size(), 54u + 32 * 3 * 24);  // headers and pixels, nothing after them
    const auto jpeg = convert(dir, file);
    EXPECT_EQ(decodedSize(jpeg), std::make_pair(32, 24));
    EXPECT_FALSE(hasApp1(jpeg));
}

// What the converter made of these bytes before it looked for EXIF: the bitmap encoded alone.
std::vector<std::uint8_t> encodedAlone(const std::vector<std::uint8_t>& file)
{
    convertimg::Bitmap bitmap;
    EXPECT_EQ(convertimg::readBitmap(file, bitmap), convertimg::BmpError::None);
    const auto jpeg = convertimg::encodeJpeg(bitmap);
    return {jpeg.bytes().begin(), jpeg.bytes().end()};
}

using Damage = std::function<void(TaggedExif&)>;

std::uint32_t entryOf(const TaggedExif& t, std::uint32_t directory, std::uint16_t tag)
{
    return ExifView(t.payload).find(directory, tag)->entryAt;
}

// Damaged EXIF costs the metadata, never the photo: in the library, and in a block crafted
// for the converter.  The block left whole goes through both.
TEST(DamagedExif, IsDroppedAndThePhotoConverts)
{
    const std::pair<const char*, Damage> cases[] = {
        {"whole", nullptr},
        {"truncated", [](TaggedExif& t) { t.payload.resize(6 + t.exif + 20); }},
        {"an offset outside the block",
         [](TaggedExif& t) { putExif32(t.payload, entryOf(t, t.ifd0, kMake) + 8, 0x7FFFFFF0); }},
        {"a directory loop", [](TaggedExif& t) { putExif32(t.payload, entryOf(t, t.ifd0, kExifPointer) + 8, t.ifd0); }},
        {"an entry count past the end", [](TaggedExif& t) { putExif16(t.payload, t.ifd0, 0x1000); }},
    };
    const auto plain = testbmp::makeBmp({.width = 8, .height = 6});
    for (const auto& [what, damage] : cases) {
        SCOPED_TRACE(what);
        TempDir dir;
        TaggedExif t = taggedExif(1, false, 64, 48);
        if (damage)
            damage(t);
        const bool whole = damage == nullptr;
        const auto bitmap = parseBmp24(phase1(dir, 64, 48, t.payload));
        ASSERT_TRUE(bitmap);
        EXPECT_EQ(bitmap->exif.empty(), !whole);
        const auto jpeg = convert(dir, readFile(dir / "photo.bmp"));
        EXPECT_EQ(decodedSize(jpeg), std::make_pair(32, 24));
        EXPECT_EQ(hasApp1(jpeg), whole);

        auto carrying = plain;
        appendExifBlock(carrying, t.payload);
        EXPECT_EQ(convert(dir, carrying) == encodedAlone(plain), !whole);
    }
}

// A bitmap whose end only looks like a block of ours converts as it always did.
TEST(ForeignBitmap, ConvertsAsIfItHadNoBlock)
{
    const auto payload = taggedExif(1, false, 8, 6).payload;
    const auto withBlock = [&](std::vector<std::uint8_t> file, std::vector<std::uint8_t> block) {
        appendExifBlock(file, block);
        return file;
    };
    const auto plain = testbmp::makeBmp({.width = 40, .height = 30});
    auto insidePixels = plain;  // the pixels end with a block
    insidePixels.resize(plain.size() - payload.size() - 12);
    insidePixels = withBlock(insidePixels, payload);
    auto otherSignature = withBlock(plain, payload);
    otherSignature.back() ^= 1;
    auto pastTheFile = withBlock(plain, payload);
    testbmp::put32(pastTheFile, pastTheFile.size() - 12, static_cast<std::uint32_t>(pastTheFile.size()));
    auto overLimit = withBlock(plain, std::vector<std::uint8_t>(65534, 0));
    std::copy(payload.begin(), payload.end(), overLimit.begin() + static_cast<std::ptrdiff_t>(plain.size()));
    auto statedIntoBlock = withBlock(plain, payload);  // the header's image size reaches into it
    testbmp::put32(statedIntoBlock, testbmp::at::imageSize,
                   static_cast<std::uint32_t>(plain.size() - bmp::headersBytes + 1));
    const std::pair<const char*, std::vector<std::uint8_t>> cases[] = {
        {"no block", plain},
        {"a block inside the pixels", insidePixels},
        {"another signature", otherSignature},
        {"a length past the file", pastTheFile},
        {"a length over an APP1's", overLimit},
        {"a block inside the stated image size", statedIntoBlock},
    };
    TempDir dir;
    for (const auto& [what, file] : cases)
        EXPECT_EQ(convert(dir, file), encodedAlone(file)) << what;
    // The same block right after the pixels is taken.
    EXPECT_TRUE(hasApp1(convert(dir, withBlock(plain, payload))));
}

// Both phases at 50 %, as the program runs them, on a 64 x 48 photo made with `options`.
std::filesystem::path throughBothPhases(const TempDir& dir, const JpegOptions& options)
{
    const std::uint32_t read = ReadFileIntoDIB(writeJpeg(dir / "in.jpg", gradient(64, 48), options).c_str());
    EXPECT_NE(read, 0u);
    const std::uint32_t scaled = ZoomDIB(read, 50, 50);
    EXPECT_EQ(WriteDIBToFile(scaled, (dir / "photo.bmp").c_str(), 0), 1);
    DIBFree(scaled);
    convert(dir, readFile(dir / "photo.bmp"));
    return dir / "photo.jpg";
}

// A photo tagged the way a photo editor tags one, through both phases at 50 %: its story kept,
// its size and orientation told anew, its location, faces and history gone.
TEST(TaggedStory, IsKeptAndCleanedAsAnOutsideReaderSeesIt)
{
    if (exiftoolMissing())
        GTEST_SKIP() << "exiftool is not installed (scripts/install-deps installs it)";
    TempDir dir;
    JpegOptions options;
    options.segments = editorsStory();
    const std::string tags = exiftoolTags({throughBothPhases(dir, options)});
    for (const char* kept :
         {"\"XMP-dc:Creator\": \"Ada Lovelace\"", "\"XMP-dc:Subject\": [\"lac\",\"montagne\"]", "\"XMP-xmp:Rating\": 4",
          "\"XMP-tiff:Orientation\": 1", "\"XMP-exif:ExifImageWidth\": 32", "\"XMP-tiff:ImageHeight\": 24",
          "\"IPTC:By-line\": \"Ada\"", "\"IPTC:Keywords\": \"lac\"", "\"File:Comment\": \"Au bord du lac\""})
        EXPECT_NE(tags.find(kept), std::string::npos) << kept << " missing from\n" << tags;
    for (const char* removed : {"GPS", "Region", "History", "Babbage", "Warning"})
        EXPECT_EQ(tags.find(removed), std::string::npos) << removed << " left in\n" << tags;
}

// The tags of exiftool's JSON that tell where a photo was taken, by their names: GPS, latitude,
// longitude, altitude, position (Composite:GPSPosition among them), but the author's job title.
std::vector<std::string> positionTags(const std::string& tags)
{
    std::vector<std::string> found;
    std::istringstream lines(tags);
    for (std::string line; std::getline(lines, line);) {  // one tag per line: "group:name": value
        const std::size_t open = line.find('"'), close = line.find("\":");
        if (open == std::string::npos || close == std::string::npos || close < open)
            continue;
        const std::string name = line.substr(open + 1, close - open - 1);
        std::string lower = name;
        std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return std::tolower(c); });
        for (const char* word : {"gps", "latitude", "longitude", "longtitude", "altitude", "position"}) {
            if (lower.find(word) != std::string::npos && name != "XMP-photoshop:AuthorsPosition") {
                found.push_back(name);
                break;
            }
        }
    }
    return found;
}

// An XMP packet with an author, rights, a keyword and the author's job title, and `properties`,
// written as attributes of its rdf:Description or as elements inside it.
std::string storyPacket(const std::string& declaration,
                        const std::vector<std::pair<std::string, std::string>>& properties, bool asAttributes)
{
    std::string attributes, elements;
    for (const auto& [name, value] : properties) {
        attributes += asAttributes ? " " + name + "=\"" + value + "\"" : "";
        elements += asAttributes ? "" : "<" + name + ">" + value + "</" + name + ">";
    }
    return "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\"><rdf:RDF xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\">"
           "<rdf:Description rdf:about=\"\" xmlns:dc=\"http://purl.org/dc/elements/1.1/\""
           " xmlns:photoshop=\"http://ns.adobe.com/photoshop/1.0/\" " +
           declaration + " photoshop:AuthorsPosition=\"Photographe\"" + attributes + ">" +
           "<dc:creator><rdf:Seq><rdf:li>Ada Lovelace</rdf:li></rdf:Seq></dc:creator>"
           "<dc:rights><rdf:Alt><rdf:li xml:lang=\"x-default\">(c) Ada Lovelace</rdf:li></rdf:Alt></dc:rights>"
           "<dc:subject><rdf:Bag><rdf:li>lac</rdf:li></rdf:Bag></dc:subject>" +
           elements + "</rdf:Description></rdf:RDF></x:xmpmeta>";
}

// A location in any form a camera, a phone, a drone or a photo editor writes it, through both
// phases: exiftool finds it in the photo, and nothing of it in the new JPEG, the rest of the story
// still there.
TEST(Location, IsGoneInEveryFormAnOutsideReaderFinds)
{
    if (exiftoolMissing())
        GTEST_SKIP() << "exiftool is not installed (scripts/install-deps installs it)";
    const std::vector<std::pair<std::string, std::string>> exifGps = {{"exif:GPSLatitude", "48,51.48N"},
                                                                      {"exif:GPSLongitude", "2,17.68E"}};
    const struct {
        const char* form;
        std::string declaration;
        std::vector<std::pair<std::string, std::string>> properties;
    } namespaces[] = {
        {"DJI's drone-dji",
         "xmlns:drone-dji=\"http://www.dji.com/drone-dji/1.0/\"",
         {{"drone-dji:GpsLatitude", "48.858093"},
          {"drone-dji:GpsLongitude", "2.294694"},
          {"drone-dji:GpsLongtitude", "2.294694"},
          {"drone-dji:AbsoluteAltitude", "+35.20"}}},
        {"exif without its final slash", "xmlns:exif=\"http://ns.adobe.com/exif/1.0\"", exifGps},
        {"exif 2.0", "xmlns:exif=\"http://ns.adobe.com/exif/2.0/\"", exifGps},
        {"exif in another case",
         "xmlns:exif=\"http://ns.adobe.com/exif/1.0/\"",
         {{"exif:GpsLatitude", "48,51.48N"}, {"exif:gpslongitude", "2,17.68E"}}},
        {"an unknown namespace",
         "xmlns:geo=\"http://example.org/geo/1.0/\"",
         {{"geo:GPSLatitude", "48,51.48N"}, {"geo:GPSLongitude", "2,17.68E"}}},
        {"a depth photo's Device",
         "xmlns:Device=\"http://ns.google.com/photos/dd/1.0/device/\"",
         {{"Device:EarthPoseLatitude", "48.858093"}, {"Device:EarthPoseLongitude", "2.294694"}}},
    };
    const std::string located = storyPacket("xmlns:exif=\"http://ns.adobe.com/exif/1.0/\"", exifGps, false);
    std::vector<std::pair<std::string, JpegOptions>> cases;
    for (const auto& n : namespaces) {
        for (const bool asAttributes : {true, false}) {
            JpegOptions options;
            options.segments = {
                {0xE1, bytesOf(std::string(meta::kXmpId) + storyPacket(n.declaration, n.properties, asAttributes))}};
            cases.emplace_back(n.form + std::string(asAttributes ? ", attributes" : ", elements"), options);
        }
    }
    for (const auto& [form, tag, value] :
         {std::tuple{"XMP in the EXIF", kXmlPacket, located},
          std::tuple{"Photoshop's resources in the EXIF", kImageResources, photoshopResource(0x0424, located)}}) {
        JpegOptions options;
        options.exifPayload = exifTree({0, {{kArtist, "Ada Lovelace"}, {tag, value}}, {}});
        options.segments = {{0xE1, bytesOf(std::string(meta::kXmpId) + storyPacket("", {}, true))}};
        cases.emplace_back(form, options);
    }

    std::deque<TempDir> dirs;
    std::vector<std::filesystem::path> files;
    for (const auto& c : cases) {
        files.push_back(throughBothPhases(dirs.emplace_back(), c.second));
        files.push_back(dirs.back() / "in.jpg");
    }
    const std::string tags = exiftoolTags(files);
    std::vector<std::size_t> starts;
    for (std::size_t at = tags.find("\"SourceFile\""); at != std::string::npos;
         at = tags.find("\"SourceFile\"", at + 1))
        starts.push_back(at);
    starts.push_back(tags.size());
    ASSERT_EQ(starts.size(), files.size() + 1) << tags;
    for (std::size_t i = 0; i < cases.size(); ++i) {
        SCOPED_TRACE(cases[i].first);
        const std::string out = tags.substr(starts[2 * i], starts[2 * i + 1] - starts[2 * i]);
        const std::string in = tags.substr(starts[2 * i + 1], starts[2 * i + 2] - starts[2 * i + 1]);
        EXPECT_FALSE(positionTags(in).empty()) << "no location to remove in\n" << in;
        EXPECT_EQ(positionTags(out), std::vector<std::string>()) << out;
        for (const char* kept : {"\"XMP-dc:Creator\": \"Ada Lovelace\"", "\"XMP-dc:Rights\": \"(c) Ada Lovelace\"",
                                 "\"XMP-dc:Subject\": \"lac\"", "\"XMP-photoshop:AuthorsPosition\": \"Photographe\""})
            EXPECT_NE(out.find(kept), std::string::npos) << kept << " missing from\n" << out;
    }
}

}  // namespace
