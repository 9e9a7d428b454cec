// Writes the seed corpora of the fuzz targets: small JPEGs of every encoding the image library
// reads (and scans it refuses for their cost), bitmaps of every layout the converter reads, both
// with EXIF whole and damaged, with a photo editor's XMP, IPTC and comments, phones' HDR photos and
// the parts of their gain maps, and a few paths for the short-path routine.
//   fuzz_make_corpus tests/fuzz/corpus     (replaces the files it makes, keeps any other)
#include "metadata/carrier.h"
#include "metadata/gain_map.h"
#include "metadata/xmp.h"
#include "tests/convertimg/bmp_builder.h"
#include "tests/support/testimages.h"
#include "tests/support/ultrahdr.h"

#include <cstdio>
#include <exception>
#include <filesystem>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using testimages::ColourModel;
using testimages::JpegOptions;
using testimages::Subsampling;

namespace {

void writeJpegs(const fs::path &dir)
{
    // Odd sizes leave partial blocks at the right and bottom edges.
    const testimages::RgbImage picture = testimages::gradient(37, 23);
    const testimages::RgbImage quadrants = testimages::quadrants(24, 16);
    // Each seed at quality 75 (small files) with a few options changed.
    using Set = void (*)(JpegOptions &);
    struct Seed {
        const char *name;
        Set set;
        const testimages::RgbImage *image;
    };
    const Seed seeds[] = {
        {"baseline_420", [](JpegOptions &) {}, &picture},
        {"baseline_444", [](JpegOptions &o) { o.subsampling = Subsampling::S444; }, &picture},
        {"baseline_422", [](JpegOptions &o) { o.subsampling = Subsampling::S422; }, &picture},
        {"baseline_440", [](JpegOptions &o) { o.subsampling = Subsampling::S440; }, &picture},
        {"baseline_411", [](JpegOptions &o) { o.subsampling = Subsampling::S411; }, &picture},
        {"baseline_unusual", [](JpegOptions &o) { o.subsampling = Subsampling::Unusual; }, &picture},
        {"optimized_huffman", [](JpegOptions &o) { o.optimizeHuffman = true; }, &picture},
        {"non_interleaved", [](JpegOptions &o) { o.nonInterleaved = true; }, &picture},
        {"progressive_420", [](JpegOptions &o) { o.progressive = true; }, &picture},
        {"progressive_444",
         [](JpegOptions &o) {
             o.subsampling = Subsampling::S444;
             o.progressive = true;
         },
         &picture},
        {"progressive_dc_then_ac",
         [](JpegOptions &o) {
             o.progressive = true;
             o.spectralSelectionOnly = true;
         },
         &picture},
        {"arithmetic", [](JpegOptions &o) { o.arithmetic = true; }, &picture},
        {"arithmetic_progressive",
         [](JpegOptions &o) {
             o.progressive = true;
             o.arithmetic = true;
         },
         &picture},
        {"restart_1", [](JpegOptions &o) { o.restartInterval = 1; }, &picture},
        {"restart_3_422",
         [](JpegOptions &o) {
             o.subsampling = Subsampling::S422;
             o.restartInterval = 3;
         },
         &picture},
        {"restart_progressive",
         [](JpegOptions &o) {
             o.progressive = true;
             o.restartInterval = 2;
         },
         &picture},
        {"gray", [](JpegOptions &o) { o.colour = ColourModel::Gray; }, &picture},
        {"gray_progressive",
         [](JpegOptions &o) {
             o.colour = ColourModel::Gray;
             o.progressive = true;
         },
         &picture},
        {"rgb",
         [](JpegOptions &o) {
             o.subsampling = Subsampling::S444;
             o.colour = ColourModel::Rgb;
         },
         &picture},
        {"cmyk",
         [](JpegOptions &o) {
             o.subsampling = Subsampling::S444;
             o.colour = ColourModel::Cmyk;
         },
         &picture},
        {"cmyk_inverted",
         [](JpegOptions &o) {
             o.subsampling = Subsampling::S444;
             o.colour = ColourModel::InvertedCmyk;
         },
         &picture},
        {"ycck", [](JpegOptions &o) { o.colour = ColourModel::Ycck; }, &picture},
        {"ycck_progressive",
         [](JpegOptions &o) {
             o.colour = ColourModel::Ycck;
             o.progressive = true;
         },
         &picture},
        {"density_dpi",
         [](JpegOptions &o) {
             o.densityUnit = 1;
             o.xDensity = 300;
             o.yDensity = 300;
         },
         &picture},
        {"density_dpcm",
         [](JpegOptions &o) {
             o.densityUnit = 2;
             o.xDensity = 118;
             o.yDensity = 59;
         },
         &picture},
        {"tiny_1x1", [](JpegOptions &) {}, nullptr},
        {"exif_1", [](JpegOptions &o) { o.exifOrientation = 1; }, &quadrants},
        {"exif_2", [](JpegOptions &o) { o.exifOrientation = 2; }, &quadrants},
        {"exif_3", [](JpegOptions &o) { o.exifOrientation = 3; }, &quadrants},
        {"exif_4_motorola",
         [](JpegOptions &o) {
             o.exifOrientation = 4;
             o.exifBigEndian = true;
         },
         &quadrants},
        {"exif_5", [](JpegOptions &o) { o.exifOrientation = 5; }, &quadrants},
        {"exif_6", [](JpegOptions &o) { o.exifOrientation = 6; }, &quadrants},
        {"exif_7_motorola",
         [](JpegOptions &o) {
             o.exifOrientation = 7;
             o.exifBigEndian = true;
         },
         &quadrants},
        {"exif_8", [](JpegOptions &o) { o.exifOrientation = 8; }, &quadrants},
        {"icc_wide_gamut", [](JpegOptions &o) { o.iccProfile = testimages::wideGamutProfile(); }, &quadrants},
        {"icc_cmyk_exif",
         [](JpegOptions &o) {
             o.colour = ColourModel::InvertedCmyk;
             o.exifOrientation = 6;
             o.iccProfile = testimages::wideGamutProfile();
         },
         &quadrants},
    };
    const testimages::RgbImage onePixel = testimages::flat(1, 1, 200, 100, 50);
    std::vector<std::uint8_t> baseline;
    for (const Seed &seed : seeds) {
        JpegOptions options;
        options.quality = 75;
        seed.set(options);
        auto bytes = testimages::encodeJpeg(seed.image ? *seed.image : onePixel, options);
        if (std::string(seed.name) == "baseline_420")
            baseline = bytes;
        testimages::writeFile(dir / (std::string(seed.name) + ".jpg"), bytes);
    }
    // A flat image's AC scan a hundred times over: a few bytes each, a pass over every block
    // each, refused for the work it asks.
    JpegOptions twoScans;
    twoScans.colour = ColourModel::Gray;
    twoScans.progressive = true;
    twoScans.spectralSelectionOnly = true;
    const auto flatScans = testimages::encodeJpeg(testimages::flat(512, 512, 128, 128, 128), twoScans);
    std::size_t lastScan = flatScans.size() - 2;
    while (lastScan > 0 && !(flatScans[lastScan] == 0xFF && flatScans[lastScan + 1] == 0xDA))
        --lastScan;
    const auto imageEnd = flatScans.end() - 2;
    std::vector<std::uint8_t> scans(flatScans.begin(), imageEnd);
    for (int i = 0; i < 100; ++i)
        scans.insert(scans.end(), flatScans.begin() + static_cast<std::ptrdiff_t>(lastScan), imageEnd);
    scans.insert(scans.end(), imageEnd, flatScans.end());
    testimages::writeFile(dir / "progressive_scans_past_their_data.jpg", scans);
    // Damaged files, so that the failure paths are in the corpus from the start.
    testimages::writeFile(dir / "damaged_truncated.jpg",
                          std::vector<std::uint8_t>(baseline.begin(), baseline.begin() + baseline.size() / 2));
    auto corrupt = baseline;
    for (std::size_t i = corrupt.size() / 2; i < corrupt.size() / 2 + 16; ++i)
        corrupt[i] = static_cast<std::uint8_t>(corrupt[i] * 7 + 1);
    testimages::writeFile(dir / "damaged_data.jpg", corrupt);
}

// EXIF like a camera's (GPS, a thumbnail in IFD1, a maker note), whole and damaged, and a
// location where cameras do not put it.
std::vector<std::pair<std::string, std::vector<std::uint8_t>>> exifPayloads(int width, int height)
{
    using testimages::ExifView;
    const auto tagged = testimages::taggedExif(1, false, width, height);
    const ExifView view(tagged.payload);
    std::vector<std::pair<std::string, std::vector<std::uint8_t>>> payloads = {
        {"tagged", tagged.payload},
        {"tagged_motorola_6", testimages::taggedExif(6, true, width, height).payload},
    };
    auto truncated = tagged.payload;
    truncated.resize(6 + tagged.exif + 20);
    payloads.push_back({"damaged_truncated", truncated});
    auto outside = tagged.payload;
    testimages::putExif32(outside, view.find(tagged.ifd0, testimages::kMake)->entryAt + 8, 0x7FFFFFF0);
    payloads.push_back({"damaged_offset_outside", outside});
    auto loop = tagged.payload;
    testimages::putExif32(loop, view.find(tagged.ifd0, testimages::kExifPointer)->entryAt + 8, tagged.ifd0);
    payloads.push_back({"damaged_loop", loop});
    auto count = tagged.payload;
    testimages::putExif16(count, tagged.exif, 0x1000);
    payloads.push_back({"damaged_count", count});
    // A location hung where no camera puts it: IFD0, Exif, Interop, then GPS.
    using Node = testimages::ExifTreeNode;
    const Node gps{testimages::kGpsPointer, {{0x0001, "N"}, {0x0002, "48 51 24.3 N"}}, {}};
    const Node interop{testimages::kInteropPointer, {{0x0001, "R98"}}, {gps}};
    const Node exif{testimages::kExifPointer, {{testimages::kDateTimeOriginal, "2024:06:01 10:20:29"}}, {interop}};
    payloads.push_back({"gps_in_interop", testimages::exifTree(Node{0, {{testimages::kMake, "RedimCam"}}, {exif}})});
    // XMP inside the EXIF, a drone's position in it: in IFD0, and in Photoshop's resources in the
    // Exif directory.
    const std::string located =
        "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\"><rdf:RDF xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\">"
        "<rdf:Description rdf:about=\"\" xmlns:dji=\"http://www.dji.com/drone-dji/1.0/\" dji:GpsLatitude=\"48.85\"/>"
        "</rdf:RDF></x:xmpmeta>";
    const Node resources{
        testimages::kExifPointer, {{testimages::kImageResources, testimages::photoshopResource(0x0424, located)}}, {}};
    payloads.push_back(
        {"xmp_inside", testimages::exifTree(Node{
                           0, {{testimages::kMake, "RedimCam"}, {testimages::kXmlPacket, located}}, {resources}})});
    return payloads;
}

// A photo editor's story, as the metadata a bitmap carries.
meta::Metadata story()
{
    meta::Metadata metadata;
    for (const auto &[marker, payload] : testimages::editorsStory())
        meta::take(metadata, meta::segmentKind(marker, payload), payload);
    return metadata;
}

void writeStories(const fs::path &jpegs, const fs::path &bitmaps)
{
    const meta::Metadata metadata = story();
    JpegOptions options;
    options.quality = 75;
    options.segments = testimages::editorsStory();
    testimages::writeJpeg(jpegs / "story.jpg", testimages::gradient(37, 23), options);
    auto carrying = testbmp::makeBmp({.width = 7, .height = 5});
    const std::vector<std::uint8_t> blocks = meta::carrierBlocks(metadata);
    carrying.insert(carrying.end(), blocks.begin(), blocks.end());
    testimages::writeFile(bitmaps / "story.bmp", carrying);
}

// XMP packets alone: the story's, and one of every form a property takes.
void writeXmpPackets(const fs::path &dir)
{
    const std::vector<std::uint8_t> xmp = story().xmp;
    testimages::writeFile(dir / "story.xml",
                          {xmp.begin() + static_cast<std::ptrdiff_t>(meta::kXmpId.size()), xmp.end()});
    testimages::writeFile(
        dir / "forms.xml",
        testimages::bytesOf(
            "<?xpacket begin=\"\xEF\xBB\xBF\" id=\"W5M0MpCehiHzreSzNTczkc9d\"?>"
            "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\"><rdf:RDF xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\">"
            "<rdf:Description rdf:about=\"\" xmlns:e=\"http://ns.adobe.com/exif/1.0/\""
            " xmlns:ext=\"http://iptc.org/std/Iptc4xmpExt/2008-02-29/\" xmlns:MP=\"http://ns.microsoft.com/photo/1.2/\""
            " xmlns:hdrgm=\"http://ns.adobe.com/hdr-gain-map/1.0/\" xmlns:xmpNote=\"http://ns.adobe.com/xmp/note/\""
            " xmlns:dji=\"http://www.dji.com/drone-dji/1.0/\" dji:GpsLongtitude=\"2.29\""
            " e:GPSAltitude=\"12/1\" hdrgm:Version=\"1.0\" xmpNote:HasExtendedXMP=\"0123\">"
            "<dji:AbsoluteAltitude>35</dji:AbsoluteAltitude>"
            "<ext:LocationShown><rdf:Bag><rdf:li ext:City=\"Lyon\" "
            "e:GPSLatitude=\"45,45N\"/></rdf:Bag></ext:LocationShown>"
            "<MP:RegionInfo rdf:parseType=\"Resource\"/><e:PixelYDimension>3000</e:PixelYDimension>"
            "</rdf:Description></rdf:RDF></x:xmpmeta><?xpacket end=\"w\"?>"));
}

void writeExifJpegs(const fs::path &dir)
{
    const testimages::RgbImage picture = testimages::gradient(37, 23);
    for (const auto &[name, payload] : exifPayloads(37, 23)) {
        JpegOptions options;
        options.quality = 75;
        options.exifPayload = payload;
        testimages::writeJpeg(dir / ("exif_" + name + ".jpg"), picture, options);
    }
}

// Bitmaps ending with the EXIF block Phase 1 writes, and with things that only look like it.
void writeExifBitmaps(const fs::path &dir)
{
    const auto plain = testbmp::makeBmp({.width = 7, .height = 5});
    for (const auto &[name, payload] : exifPayloads(7, 5)) {
        auto carrying = plain;
        testimages::appendExifBlock(carrying, payload);
        testimages::writeFile(dir / ("exif_" + name + ".bmp"), carrying);
    }
    const auto payload = testimages::orientationExif(1, false);
    auto inside = testbmp::makeBmp({.width = 12, .height = 5});
    inside.resize(inside.size() - payload.size() - 12);
    testimages::appendExifBlock(inside, payload);
    testimages::writeFile(dir / "exif_block_inside_pixels.bmp", inside);
    auto longer = plain;
    testimages::appendExifBlock(longer, payload);
    testbmp::put32(longer, longer.size() - 12, static_cast<std::uint32_t>(longer.size()));
    testimages::writeFile(dir / "exif_block_length_past_file.bmp", longer);
}

void writeBitmaps(const fs::path &dir)
{
    struct Seed {
        const char *name;
        testbmp::Layout layout;
    };
    const Seed seeds[] = {
        {"1bit", {.width = 9, .bits = 1}},
        {"1bit_topdown", {.width = 33, .height = 3, .bits = 1, .topDown = true}},
        {"4bit", {.width = 3, .bits = 4}},
        {"4bit_5colours", {.width = 9, .bits = 4, .colours = 5}},
        {"8bit", {.width = 5, .height = 4, .bits = 8, .content = testbmp::Content::Noise}},
        {"8bit_20colours_topdown", {.width = 5, .bits = 8, .topDown = true, .colours = 20}},
        {"16bit_555", {.width = 3, .bits = 16}},
        {"16bit_565_bitfields", {.width = 5, .bits = 16, .compression = 3, .masks = {0xF800, 0x07E0, 0x001F}}},
        {"16bit_565_v5",
         {.width = 6, .bits = 16, .headerSize = 124, .compression = 3, .masks = {0xF800, 0x07E0, 0x001F}}},
        {"24bit", {.width = 5}},
        {"24bit_noise", {.width = 7, .height = 5, .content = testbmp::Content::Noise}},
        {"24bit_topdown", {.width = 5, .topDown = true}},
        {"24bit_v4", {.width = 7, .headerSize = 108}},
        {"24bit_v5_topdown", {.width = 7, .topDown = true, .headerSize = 124}},
        {"32bit", {.width = 3, .bits = 32}},
        {"32bit_bitfields", {.width = 3, .bits = 32, .compression = 3, .masks = {0xFF0000, 0xFF00, 0xFF}}},
        {"32bit_bitfields_rgbx", {.width = 3, .bits = 32, .compression = 3, .masks = {0xFF000000, 0xFF0000, 0xFF00}}},
        {"32bit_10bit_v5_topdown",
         {.width = 4,
          .bits = 32,
          .topDown = true,
          .headerSize = 124,
          .compression = 3,
          .masks = {0x3FF00000, 0xFFC00, 0x3FF}}},
        {"32bit_bitfields_v3",
         {.width = 2, .bits = 32, .headerSize = 56, .compression = 3, .masks = {0xFF0000, 0xFF00, 0xFF}}},
        {"1x1", {.width = 1, .height = 1}},
    };
    for (const Seed &seed : seeds)
        testimages::writeFile(dir / (std::string(seed.name) + ".bmp"), testbmp::makeBmp(seed.layout));
    // Run-length codes: encoded and absolute runs (with and without padding), end of line, delta
    // and end of bitmap.
    testimages::writeFile(dir / "rle8.bmp", testbmp::makeRleBmp(6, 4, 8, {3, 10, 0, 3, 1,   2, 3, 0, 0, 0, 0,
                                                                          2, 2,  1, 2, 200, 0, 0, 6, 7, 0, 1}));
    testimages::writeFile(dir / "rle4.bmp",
                          testbmp::makeRleBmp(7, 3, 4, {0,    5, 0x34, 0x56, 0x70, 0, 2, 0x12, 0,    0, 3,
                                                        0x9A, 0, 2,    1,    1,    0, 3, 0xAB, 0xC0, 0, 1}));
    auto truncated = testbmp::makeBmp({.width = 5});
    truncated.resize(truncated.size() - 7);
    testimages::writeFile(dir / "damaged_truncated.bmp", truncated);
}

void writePaths(const fs::path &dir)
{
    const std::pair<const char *, std::string> seeds[] = {
        {"program_files", "C:\\Program Files\\Photo album\\vacances ete.jpg"},
        {"short_name", "C:\\PHOTOS\\IMG_0001.JPG"},
        {"short_name_blanks", "D:\\a b\\x y.bmp"},
        {"no_extension", "C:\\Temp\\RaduZor\\photo"},
        {"drive_only", "C:"},
        {"unc", "\\\\serveur\\partage\\dossier tres long\\photographie de famille.jpeg.bmp"},
        {"accents_utf8",
         "C:\\Mes documents\\\xC3\xA9t\xC3\xA9 \xC3\xA0 la plage\\\xC3\xA9l\xC3\xA8ve tr\xC3\xA8s long.jpg"},
        {"accents_latin1", "C:\\Mes documents\\\xE9t\xE9\\\xE9l\xE8ve tr\xE8s long.jpg"},
        // One path a line: the same stem again and again, so the numbering runs past 9.
        {"numbering",
         [] {
             std::string lines;
             for (int i = 1; i <= 12; ++i)
                 lines += "C:\\Windows\\Temp\\RaduZor\\vacances ete " + std::to_string(i) + ".bmp\n";
             return lines + "C:\\Windows\\Temp\\RaduZor\\vacances ete 1.jpg\nC:\\Windows\\Temp\\RaduZor\\vacanze.bmp\n";
         }()},
        {"numbers_in_record", "C:\\X\\ABCDEF~9.BMP\nC:\\X\\abcdefghijkl.bmp\nC:\\X\\abcdefghijkm.bmp\n"},
    };
    for (const auto &[name, text] : seeds)
        testimages::writeFile(dir / (std::string(name) + ".txt"), std::vector<std::uint8_t>(text.begin(), text.end()));
}

// A 4 x 3 grey map in both forms, as the library carries one (without the map's XMP).
meta::GainMap smallGainMap()
{
    meta::GainMap map;
    map.width = 4;
    map.height = 3;
    map.channels = 1;
    map.pixels.assign(12, 200);
    map.xmpForm = true;
    map.isoVersion = testimages::isoVersionPayload();
    map.iso = testimages::isoGainMapPayload({});
    return map;
}

// Phones' HDR photos in both forms of metadata, turned and not, a colour map in its own colours;
// and the parts of them the gain map target reads: an MPF index, the ISO and XMP metadata, a block.
void writeGainMaps(const fs::path &jpegs, const fs::path &parts)
{
    using testimages::UltraHdrOptions;
    const auto small = [](bool xmp, bool iso, int orientation) {
        UltraHdrOptions o;
        o.quality = 75;
        o.xmpForm = xmp;
        o.isoForm = iso;
        o.orientation = orientation;
        return o;
    };
    UltraHdrOptions colour = small(false, true, 8);
    colour.mapChannels = 3;
    colour.values.multichannel = true;
    colour.values.gainMapMax = {2, 1.5, 1};
    colour.values.useBaseColourSpace = false;
    colour.primaryIcc = colour.mapIcc = testimages::wideGamutProfile();
    const std::pair<const char *, UltraHdrOptions> photos[] = {
        {"ultrahdr_xmp", small(true, false, 0)},
        {"ultrahdr_iso_6", small(false, true, 6)},
        {"ultrahdr_both_3", small(true, true, 3)},
        {"ultrahdr_colour_own_space_8", colour},
    };
    for (const auto &[name, options] : photos)
        testimages::writeFile(jpegs / (std::string(name) + ".jpg"), testimages::ultraHdrJpeg(options).file);

    const auto without = [](std::vector<std::uint8_t> payload, std::size_t id) {
        payload.erase(payload.begin(), payload.begin() + static_cast<std::ptrdiff_t>(id));
        return payload;
    };
    const auto text = [](const std::string &packet) { return std::vector<std::uint8_t>(packet.begin(), packet.end()); };
    testimages::GainMapValues single;
    const std::pair<const char *, std::vector<std::uint8_t>> seeds[] = {
        {"mpf", without(testimages::mpfPayload(40000, 3000, 39000), 4)},
        {"iso_single", without(testimages::isoGainMapPayload(single), meta::kIsoGainMapId.size())},
        {"iso_multichannel", without(testimages::isoGainMapPayload(colour.values), meta::kIsoGainMapId.size())},
        {"xmp_attributes", text(testimages::gainMapXmpPacket(single))},
        {"xmp_elements", text(testimages::gainMapXmpPacket(single, true))},
        {"xmp_sequences", text(testimages::gainMapXmpPacket(colour.values))},
        {"block", meta::gainMapBlock(smallGainMap())},
    };
    for (const auto &[name, bytes] : seeds)
        testimages::writeFile(parts / (std::string(name) + ".bin"), bytes);
}

// A bitmap as Phase 1 writes one of a phone's HDR photo: a gain map declared in both forms, and
// the story, for the converter to write back.
void writeGainMapBitmap(const fs::path &dir)
{
    meta::GainMap map = smallGainMap();
    map.xmp = testimages::bytesOf(std::string(meta::kXmpId) + testimages::gainMapXmpPacket({}));
    auto bitmap = testbmp::makeBmp({.width = 8, .height = 6});
    for (const std::vector<std::uint8_t> &block : {meta::gainMapBlock(map), meta::carrierBlocks(story())})
        bitmap.insert(bitmap.end(), block.begin(), block.end());
    testimages::writeFile(dir / "ultrahdr.bmp", bitmap);
}

}  // namespace

int main(int argc, char **argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s CORPUS_FOLDER\n", argv[0]);
        return 2;
    }
    try {
        const fs::path root = argv[1];
        for (const char *target : {"imglib", "bmp", "xmp", "gainmap", "shortpath"})
            fs::create_directories(root / target);
        writeJpegs(root / "imglib");
        writeExifJpegs(root / "imglib");
        writeBitmaps(root / "bmp");
        writeExifBitmaps(root / "bmp");
        writeStories(root / "imglib", root / "bmp");
        writeXmpPackets(root / "xmp");
        writeGainMaps(root / "imglib", root / "gainmap");
        writeGainMapBitmap(root / "bmp");
        writePaths(root / "shortpath");
    } catch (const std::exception &e) {
        std::fprintf(stderr, "%s: %s\n", argv[0], e.what());
        return 1;
    }
    return 0;
}
