// The gain map's block in a bitmap: found between the pixels and the metadata blocks, and nothing
// of it taken when any of it is off.
#include "metadata/carrier.h"
#include "metadata/gain_map.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace {

constexpr std::size_t kPixelsEnd = 100;

meta::GainMap sampleMap()
{
    meta::GainMap map;
    map.width = 3;
    map.height = 2;
    map.channels = 3;
    map.pixels = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18};
    map.xmpForm = true;
    map.isoVersion = {'v', 0};
    map.xmp = {'x', 'm', 'p'};
    map.iso = {'i', 's', 'o', 0};
    map.icc = std::vector<std::uint8_t>(300, 7);
    return map;
}

// Pixels, the map's block, then an XMP and an EXIF block.
std::vector<std::uint8_t> bitmapWith(const std::vector<std::uint8_t> &block)
{
    std::vector<std::uint8_t> file(kPixelsEnd, 0x55);
    file.insert(file.end(), block.begin(), block.end());
    meta::Metadata metadata;
    metadata.xmp = {'p', 'a', 'c', 'k', 'e', 't'};
    metadata.exif = {'E', 'x', 'i', 'f', 0, 0};
    const auto blocks = meta::carrierBlocks(metadata);
    file.insert(file.end(), blocks.begin(), blocks.end());
    return file;
}

TEST(GainMapBlock, IsFoundBetweenThePixelsAndTheMetadataAndNothingOfItWhenAnyIsOff)
{
    const std::vector<std::uint8_t> block = meta::gainMapBlock(sampleMap());
    const std::size_t payload = block.size() - meta::kCarrierTrailerBytes;
    struct Case {
        const char *label;
        std::function<void(std::vector<std::uint8_t> &)> damage;
        bool found;
    };
    const Case cases[] = {
        {"whole", [](auto &) {}, true},
        {"a length one short", [&](auto &b) { --b[payload]; }, false},
        {"a length one long", [&](auto &b) { ++b[payload]; }, false},
        {"two channels", [](auto &b) { b[8] = 2; }, false},
        {"an unknown form", [](auto &b) { b[9] = 2; }, false},
        {"a width of zero", [](auto &b) { b[0] = 0; }, false},
        {"a part's length past the block", [](auto &b) { b[13] = 0x10; }, false},
        {"a signature unknown", [&](auto &b) { b[payload + 4] = 'X'; }, false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.label);
        std::vector<std::uint8_t> damaged = block;
        c.damage(damaged);
        const std::vector<std::uint8_t> file = bitmapWith(damaged);
        const meta::GainMap map = meta::carriedGainMap(file, kPixelsEnd);
        EXPECT_EQ(!map.empty(), c.found);
        // The metadata blocks after it are found either way.
        EXPECT_EQ(meta::carriedMetadata(file, kPixelsEnd).xmp.size(), 6u);
        if (c.found) {
            const meta::GainMap sample = sampleMap();
            EXPECT_EQ(map.width, 3u);
            EXPECT_EQ(map.height, 2u);
            EXPECT_EQ(map.channels, 3);
            EXPECT_EQ(map.pixels, sample.pixels);
            EXPECT_TRUE(map.xmpForm);
            EXPECT_EQ(map.isoVersion, sample.isoVersion);
            EXPECT_EQ(map.xmp, sample.xmp);
            EXPECT_EQ(map.iso, sample.iso);
            EXPECT_EQ(map.icc, sample.icc);
        }
    }
    // A block that does not start right after the pixels is not the map's.
    EXPECT_TRUE(meta::carriedGainMap(bitmapWith(block), kPixelsEnd - 1).empty());
}

}  // namespace
