// The EXIF editor on blocks made by the tests: the orientation of malformed blocks, every kind
// of damage that drops a block whole, and what cleaning keeps, adds and cuts.
#include "metadata/exif.h"

#include "tests/support/testimages.h"

#include <gtest/gtest.h>

#include <functional>

namespace {

using namespace testimages;

std::vector<std::uint8_t> exifOf(std::initializer_list<std::uint8_t> tiff)
{
    static constexpr std::uint8_t id[] = {'E', 'x', 'i', 'f', 0, 0};
    std::vector<std::uint8_t> b(sizeof id + tiff.size());
    std::copy(std::begin(id), std::end(id), b.begin());
    std::copy(tiff.begin(), tiff.end(), b.begin() + sizeof id);
    return b;
}

// ---- Orientation ----------------------------------------------------------------------------

TEST(Orientation, MalformedBlocksMeanUpright)
{
    const std::vector<std::uint8_t> cases[] = {
        {},
        {'E', 'x', 'i', 'f'},
        exifOf({'I', 'I', 42, 0}),                                                              // no directory offset
        exifOf({'I', 'X', 42, 0, 8, 0, 0, 0, 0, 0}),                                            // bad byte order
        exifOf({'I', 'I', 43, 0, 8, 0, 0, 0, 0, 0}),                                            // bad magic number
        exifOf({'I', 'I', 42, 0, 0xF0, 0xFF, 0xFF, 0xFF}),                                      // directory far outside
        exifOf({'I', 'I', 42, 0, 8, 0, 0, 0, 5, 0, 0x12, 0x01, 3, 0, 1, 0}),                    // entries cut short
        exifOf({'I', 'I', 42, 0, 8, 0, 0, 0, 1, 0, 0x12, 0x01, 4, 0, 1, 0, 0, 0, 6, 0, 0, 0}),  // LONG, not SHORT
        exifOf({'I', 'I', 42, 0, 8, 0, 0, 0, 1, 0, 0x12, 0x01, 3, 0, 2, 0, 0, 0, 6, 0, 0, 0}),  // two values
        exifOf({'I', 'I', 42, 0, 8, 0, 0, 0, 1, 0, 0x12, 0x01, 3, 0, 1, 0, 0, 0, 9, 0, 0, 0}),  // 9
        exifOf({'I', 'I', 42, 0, 8, 0, 0, 0, 1, 0, 0x12, 0x01, 3, 0, 1, 0, 0, 0, 0, 0, 0, 0}),  // 0
        exifOf({'M', 'M', 0, 42, 0, 0, 0, 8, 0, 1, 0x01, 0x12, 0, 3, 0, 0, 0, 1, 6, 0, 0, 0}),  // 6 in the wrong half
    };
    for (const auto &c : cases)
        EXPECT_EQ(meta::orientation(c), 1);
}

TEST(Orientation, FindsTheTagAmongOthers)
{
    const auto block =
        exifOf({'M',  'M',  0, 42, 0, 0, 0, 8, 0, 2, 0x01, 0x0F, 0, 2, 0, 0, 0, 4, 'A', 'b', 'c', 0,  // make
                0x01, 0x12, 0, 3,  0, 0, 0, 1, 0, 8, 0,    0,                                         // orientation 8
                0,    0,    0, 0});
    EXPECT_EQ(meta::orientation(block), 8);
}

// ---- Cleaning -------------------------------------------------------------------------------

std::uint32_t entryOf(const TaggedExif &t, std::uint32_t directory, std::uint16_t tag)
{
    return ExifView(t.payload).find(directory, tag)->entryAt;
}

std::uint32_t nextOf(const TaggedExif &t, std::uint32_t directory)
{
    return directory + 2 + 12 * std::uint32_t{ExifView(t.payload).u16(directory)};
}

bool contains(const std::vector<std::uint8_t> &bytes, const std::vector<std::uint8_t> &part)
{
    return std::search(bytes.begin(), bytes.end(), part.begin(), part.end()) != bytes.end();
}

TEST(Clean, AnyDamageDropsTheWholeBlock)
{
    using Damage = std::function<void(TaggedExif &)>;
    const std::pair<const char *, Damage> cases[] = {
        {"nothing", nullptr},
        {"not EXIF", [](TaggedExif &t) { t.payload[0] = 'X'; }},
        {"no byte order", [](TaggedExif &t) { t.payload[7] = 'M'; }},
        {"cut in the Exif directory", [](TaggedExif &t) { t.payload.resize(6 + t.exif + 10); }},
        {"a value outside the block",
         [](TaggedExif &t) { putExif32(t.payload, entryOf(t, t.ifd0, kMake) + 8, 0xFFFFFF00); }},
        {"a value running past the end",
         [](TaggedExif &t) { putExif32(t.payload, entryOf(t, t.ifd0, kMake) + 4, 0x10000); }},
        {"a value inside a directory",
         [](TaggedExif &t) { putExif32(t.payload, entryOf(t, t.ifd0, kCopyright) + 8, t.exif); }},
        {"a value type of no known size",
         [](TaggedExif &t) { putExif16(t.payload, entryOf(t, t.ifd0, kArtist) + 2, 99); }},
        {"an entry count past the end", [](TaggedExif &t) { putExif16(t.payload, t.exif, 0x7FFF); }},
        {"a directory past the end",
         [](TaggedExif &t) { putExif32(t.payload, entryOf(t, t.ifd0, kExifPointer) + 8, 0xFFFFFFF0); }},
        {"the Exif pointer to IFD0",
         [](TaggedExif &t) {
             putExif16(t.payload, entryOf(t, t.ifd0, kGpsPointer), 0x8826);  // no GPS to trip on first
             putExif32(t.payload, entryOf(t, t.ifd0, kExifPointer) + 8, t.ifd0);
         }},
        {"IFD0 followed by itself", [](TaggedExif &t) { putExif32(t.payload, nextOf(t, t.ifd0), t.ifd0); }},
        {"the GPS pointer to the Exif directory",
         [](TaggedExif &t) { putExif32(t.payload, entryOf(t, t.ifd0, kGpsPointer) + 8, t.exif); }},
        {"a pointer that is not one offset",
         [](TaggedExif &t) { putExif32(t.payload, entryOf(t, t.ifd0, kExifPointer) + 4, 2); }},
        {"a thumbnail over the maker note",
         [](TaggedExif &t) { putExif32(t.payload, entryOf(t, t.ifd1, kThumbnailOffset) + 8, t.makerNote); }},
        {"a thumbnail over the header",
         [](TaggedExif &t) {
             putExif32(t.payload, entryOf(t, t.ifd1, kThumbnailOffset) + 8, 0);
             putExif32(t.payload, entryOf(t, t.ifd1, kThumbnailOffset) + 12 + 8, 4);  // its length
         }},
        {"larger than an APP1 segment", [](TaggedExif &t) { t.payload.resize(meta::kMaxPayload + 1); }},
    };
    for (const auto &[what, damage] : cases) {
        TaggedExif t = taggedExif(1, false, 64, 48);
        if (damage)
            damage(t);
        EXPECT_EQ(meta::clean(t.payload, 32, 24).has_value(), damage == nullptr) << what;
    }
}

// The converter cleans again what Phase 1 cleaned: that must change nothing.
TEST(Clean, CleaningTwiceChangesNothing)
{
    const struct {
        std::vector<std::uint8_t> payload;
        std::uint32_t width, height;
    } cases[] = {
        {taggedExif(6, false, 640, 480).payload, 240, 320},
        {taggedExif(3, true, 640, 480).payload, 70000, 2},  // sizes past a SHORT
        {orientationExif(5, false), 10, 9},                 // an Exif directory added
        {orientationExif(1, true), 10, 9},
        // The GPS directory, the Exif directory, then IFD0, which loses its GPS pointer.
        {exifOf({'I', 'I', 42, 0, 68,   0,    0,    0,    1,    0,    0, 0, 1, 0, 4, 0, 0,    0,    2,    3,    0, 0,
                 0,   0,   0,  0, 3,    0,    0x01, 0xA0, 3,    0,    1, 0, 0, 0, 1, 0, 0,    0,    0x02, 0xA0, 3, 0,
                 1,   0,   0,  0, 10,   0,    0,    0,    0x03, 0xA0, 3, 0, 1, 0, 0, 0, 9,    0,    0,    0,    0, 0,
                 0,   0,   3,  0, 0x12, 0x01, 3,    0,    1,    0,    0, 0, 6, 0, 0, 0, 0x69, 0x87, 4,    0,    1, 0,
                 0,   0,   26, 0, 0,    0,    0x25, 0x88, 4,    0,    1, 0, 0, 0, 8, 0, 0,    0,    0,    0,    0, 0}),
         10, 9},
    };
    for (const auto &c : cases) {
        const auto once = meta::clean(c.payload, c.width, c.height);
        ASSERT_TRUE(once);
        EXPECT_EQ(meta::clean(*once, c.width, c.height), once);
    }
}

TEST(Clean, AnExifDirectoryIsAddedWhenThereIsNone)
{
    const auto cleaned = meta::clean(orientationExif(6, true), 30, 40);
    ASSERT_TRUE(cleaned);
    const ExifView view(*cleaned);
    EXPECT_EQ(view.number(*view.find(view.ifd0(), kOrientation)), 1u);
    const auto pointer = view.find(view.ifd0(), kExifPointer);
    ASSERT_TRUE(pointer);
    const std::uint32_t exifDirectory = view.number(*pointer);
    EXPECT_EQ(view.number(*view.find(exifDirectory, kColorSpace)), 1u);
    EXPECT_EQ(view.number(*view.find(exifDirectory, kPixelXDimension)), 30u);
    EXPECT_EQ(view.number(*view.find(exifDirectory, kPixelYDimension)), 40u);
}

// A size stays a SHORT when it was one and fits; PixelYDimension is a LONG in the block made here.
TEST(Clean, SizesKeepTheirTypeWhenTheyFit)
{
    const struct {
        std::uint32_t width, height;
        std::uint16_t typeX, typeY;
    } cases[] = {{640, 480, 3, 4}, {70000, 65535, 4, 4}};
    for (const auto &c : cases) {
        const TaggedExif t = taggedExif(1, false, 64, 48);
        const ExifView view(*meta::clean(t.payload, c.width, c.height));
        const auto x = view.find(t.exif, kPixelXDimension), y = view.find(t.exif, kPixelYDimension);
        EXPECT_EQ(x->type, c.typeX);
        EXPECT_EQ(y->type, c.typeY);
        EXPECT_EQ(view.number(*x), c.width);
        EXPECT_EQ(view.number(*y), c.height);
    }
}

// GPS and thumbnail bytes are cut when nothing kept follows them, zeroed otherwise.
TEST(Clean, RemovedBytesAreCutOrZeroed)
{
    for (const bool valueAtTheEnd : {false, true}) {
        TaggedExif t = taggedExif(1, false, 64, 48);
        if (valueAtTheEnd) {
            const std::uint32_t at = static_cast<std::uint32_t>(t.payload.size() - 6);
            const std::string make = "RedimCam";
            t.payload.insert(t.payload.end(), make.begin(), make.end());
            t.payload.push_back(0);
            putExif32(t.payload, entryOf(t, t.ifd0, kMake) + 8, at);
        }
        const auto cleaned = meta::clean(t.payload, 32, 24);
        ASSERT_TRUE(cleaned);
        // The lens model is the last value before the GPS directory.
        const auto lens = ExifView(t.payload).find(t.exif, kLensModel);
        EXPECT_EQ(cleaned->size(), valueAtTheEnd ? t.payload.size() : 6 + lens->valueAt + lens->value.size());
        EXPECT_FALSE(contains(*cleaned, t.gpsLatitude));
        EXPECT_FALSE(contains(*cleaned, t.thumbnail));
        EXPECT_EQ(ExifView(*cleaned).find(t.ifd0, kMake)->value, ExifView(t.payload).find(t.ifd0, kMake)->value);
    }
}

}  // namespace
