// A phone's HDR gain map read with its photo, turned and scaled in step with it, and written in its
// block; a map that is damaged, unknown or inconsistent leaves the photo read without it.
#include "tests/imglib/library_helpers.h"
#include "tests/support/ultrahdr.h"

#include <gtest/gtest.h>

#include <functional>

using namespace testimages;
using imglibtest::Handle;

namespace {

// The payload of a JPEG's first segment with `marker` that starts with `id`.
std::vector<std::uint8_t> segmentOf(const std::vector<std::uint8_t> &jpeg, int marker, std::string_view id)
{
    for (const auto &[code, payload] : segmentsOf(jpeg))
        if (code == marker && payload.size() >= id.size() && std::equal(id.begin(), id.end(), payload.begin()))
            return payload;
    return {};
}

// The patch whose primary colour is nearest to a bitmap pixel (B, G, R).
const HdrPatch &nearestPatch(const std::vector<HdrPatch> &patches, const std::uint8_t *bgr)
{
    const auto distance = [&](const HdrPatch &p) { return imglibtest::colourDistance(bgr, p.rgb.data()); };
    return *std::min_element(patches.begin(), patches.end(),
                             [&](const HdrPatch &a, const HdrPatch &b) { return distance(a) < distance(b); });
}

TEST(GainMap, FollowsThePhotoTurnedAndScaledOrIsLeftWhenItCannotBeTrusted)
{
    const std::string_view xmpId("http://ns.adobe.com/xap/1.0/\0", 29);
    const std::vector<std::uint8_t> wide = wideGamutProfile();
    struct Row {
        const char *label;
        bool xmp, iso;
        int orientation;
        std::function<void(UltraHdrOptions &)> tweak;
        bool carried;
    };
    const auto none = [](UltraHdrOptions &) {};
    const auto perChannel = [&](UltraHdrOptions &o) {
        o.mapChannels = 3;
        o.values.multichannel = true;
        o.values.gainMapMax = {2, 1.5, 1};
        o.patches[1].code = {200, 100, 50};
        o.primaryIcc = wide;
    };
    const Row rows[] = {
        {"XMP", true, false, 1, none, true},
        {"ISO", false, true, 1, none, true},
        {"both", true, true, 1, none, true},
        {"XMP turned", true, false, 6, none, true},
        {"ISO turned", false, true, 6, none, true},
        {"both turned", true, true, 6, none, true},
        {"gains per channel in the map's own colours (ISO), from a wide-gamut photo", true, true, 1,
         [&](UltraHdrOptions &o) {
             perChannel(o);
             o.values.useBaseColourSpace = false;
             o.mapIcc = wide;
         },
         true},
        {"gains per channel in a wide-gamut photo's colours", true, false, 1, perChannel, false},
        {"an index pointing past the file", true, false, 1, [](UltraHdrOptions &o) { o.mapOffsetShift = 1 << 20; },
         false},
        {"an index pointing into the map", true, false, 1, [](UltraHdrOptions &o) { o.mapOffsetShift = 2; }, false},
        {"a minimum gain above the maximum", true, false, 1,
         [](UltraHdrOptions &o) {
             o.values.gainMapMin = {3, 3, 3};
         },
         false},
        {"a map for an HDR photo", true, false, 1,
         [](UltraHdrOptions &o) {
             std::string packet = gainMapXmpPacket(o.values);
             packet.replace(packet.find("\"False\""), 7, "\"True\"");
             o.mapXmpPacket = packet;
         },
         false},
        {"a map of other proportions", true, false, 1, [](UltraHdrOptions &o) { o.mapHeight = 20; }, false},
    };
    const TempDir dir;
    for (const Row &row : rows) {
        SCOPED_TRACE(row.label);
        UltraHdrOptions options;
        options.width = 128;
        options.height = 96;
        options.mapWidth = 32;
        options.mapHeight = 24;
        options.xmpForm = row.xmp;
        options.isoForm = row.iso;
        options.orientation = row.orientation;
        row.tweak(options);
        const UltraHdr photo = ultraHdrJpeg(options);
        writeFile(dir / "photo.jpg", photo.file);

        Handle read(ReadFileIntoDIB((dir / "photo.jpg").c_str()));
        ASSERT_TRUE(read);  // never refused for its map
        Handle zoomed(ZoomDIB(read.get(), 50, 50));
        ASSERT_TRUE(zoomed);
        read.reset(0);
        std::string why;
        const auto bmp = imglibtest::pixelsOf(zoomed.get(), dir, &why);
        ASSERT_TRUE(bmp) << why;
        const meta::GainMap &map = bmp->gainMap;
        EXPECT_EQ(!map.empty(), row.carried);
        if (map.empty() || !row.carried)
            continue;
        const bool turned = row.orientation == 6;
        EXPECT_EQ(map.width, turned ? 12u : 16u);
        EXPECT_EQ(map.height, turned ? 16u : 12u);
        EXPECT_EQ(map.channels, options.mapChannels);
        // Every form as the photo had it, but XMP for a map that only ISO applies in its colours.
        const bool xmpKept = row.xmp && options.values.useBaseColourSpace;
        EXPECT_EQ(map.xmpForm, xmpKept);
        EXPECT_EQ(map.xmp, xmpKept ? segmentOf(photo.map, 0xE1, xmpId) : std::vector<std::uint8_t>());
        EXPECT_EQ(map.iso, row.iso ? isoGainMapPayload(options.values) : std::vector<std::uint8_t>());
        EXPECT_EQ(map.isoVersion, row.iso ? isoVersionPayload() : std::vector<std::uint8_t>());
        EXPECT_EQ(map.icc, options.mapIcc);
        // Each patch's codes lie under its colour in the photo.
        for (const double fx : {0.25, 0.75}) {
            for (const double fy : {0.25, 0.75}) {
                const HdrPatch &patch = nearestPatch(
                    options.patches, bmp->at(static_cast<int>(fx * bmp->width), static_cast<int>(fy * bmp->height)));
                const std::uint8_t *code = &map.pixels[(static_cast<std::size_t>(fy * map.height) * map.width +
                                                        static_cast<std::size_t>(fx * map.width)) *
                                                       map.channels];
                for (int c = 0; c < map.channels; ++c)
                    EXPECT_NEAR(code[c], patch.code[c], 4) << "at " << fx << ", " << fy;
            }
        }
    }
}

}  // namespace
