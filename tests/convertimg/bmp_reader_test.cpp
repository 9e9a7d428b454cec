// Bitmap reader: every supported layout read pixel for pixel, and every kind of bad file refused safely.
#include "convertimg/bmp_reader.h"
#include "convertimg/jpeg_writer.h"
#include "tests/convertimg/bmp_builder.h"

#include <gtest/gtest.h>

#include <climits>
#include <functional>
#include <random>

using convertimg::Bitmap;
using convertimg::BmpError;
using convertimg::readBitmap;

namespace {

struct GoodCase {
    const char* name;
    testbmp::Layout layout;
    friend void PrintTo(const GoodCase& c, std::ostream* os) { *os << c.name; }
};

// Widths are chosen so that rows need every amount of padding (0 to 3 bytes) for each depth.
const GoodCase goodCases[] = {
    {"1bit_w1", {.width = 1, .bits = 1}},
    {"1bit_w9", {.width = 9, .bits = 1}},
    {"1bit_w33_topdown", {.width = 33, .bits = 1, .topDown = true}},
    {"4bit_w1", {.width = 1, .bits = 4}},
    {"4bit_w3", {.width = 3, .bits = 4}},
    {"4bit_w9_5colours", {.width = 9, .bits = 4, .colours = 5}},
    {"8bit_w1", {.width = 1, .bits = 8}},
    {"8bit_w2", {.width = 2, .bits = 8}},
    {"8bit_w3_topdown", {.width = 3, .bits = 8, .topDown = true}},
    {"8bit_w5_20colours", {.width = 5, .bits = 8, .colours = 20}},
    {"16bit_555_w1", {.width = 1, .bits = 16}},
    {"16bit_555_w3", {.width = 3, .bits = 16}},
    {"16bit_565_bitfields", {.width = 5, .bits = 16, .compression = 3, .masks = {0xF800, 0x07E0, 0x001F}}},
    {"16bit_565_v5", {.width = 6, .bits = 16, .headerSize = 124, .compression = 3, .masks = {0xF800, 0x07E0, 0x001F}}},
    {"24bit_w1", {.width = 1}},
    {"24bit_w2", {.width = 2}},
    {"24bit_w3", {.width = 3}},
    {"24bit_w4", {.width = 4}},
    {"24bit_w5_topdown", {.width = 5, .topDown = true}},
    {"24bit_v4", {.width = 7, .headerSize = 108}},
    {"24bit_v5_topdown", {.width = 7, .topDown = true, .headerSize = 124}},
    {"32bit_rgb", {.width = 3, .bits = 32}},
    {"32bit_bitfields_plain", {.width = 3, .bits = 32, .compression = 3, .masks = {0xFF0000, 0xFF00, 0xFF}}},
    {"32bit_bitfields_rgbx", {.width = 3, .bits = 32, .compression = 3, .masks = {0xFF000000, 0xFF0000, 0xFF00}}},
    {"32bit_bitfields_10bit_v5",
     {.width = 4,
      .bits = 32,
      .topDown = true,
      .headerSize = 124,
      .compression = 3,
      .masks = {0x3FF00000, 0xFFC00, 0x3FF}}},
    {"32bit_bitfields_v3",
     {.width = 2, .bits = 32, .headerSize = 56, .compression = 3, .masks = {0xFF0000, 0xFF00, 0xFF}}},
};

class ReadsBitmap : public testing::TestWithParam<GoodCase> {};

TEST_P(ReadsBitmap, GivesEveryPixelTopRowFirst)
{
    testbmp::Layout layout = GetParam().layout;
    layout.content = testbmp::Content::Noise;
    testbmp::Picture expected;
    const std::vector<std::uint8_t> file = testbmp::makeBmp(layout, &expected);

    Bitmap bitmap;
    ASSERT_EQ(readBitmap(file, bitmap), BmpError::None);
    ASSERT_EQ(bitmap.width, layout.width);
    ASSERT_EQ(bitmap.height, layout.height);
    EXPECT_EQ(bitmap.xPixelsPerMetre, layout.pixelsPerMetre);
    for (int y = 0; y < bitmap.height; ++y)
        for (int x = 0; x < bitmap.width; ++x) {
            const std::uint8_t* got = bitmap.row(y) + x * bitmap.bytesPerPixel();
            const std::uint8_t* want = expected.at(x, y);
            ASSERT_TRUE(got[0] == want[0] && got[1] == want[1] && got[2] == want[2])
                << "pixel (" << x << ", " << y << "): got " << int(got[0]) << "," << int(got[1]) << "," << int(got[2])
                << " want " << int(want[0]) << "," << int(want[1]) << "," << int(want[2]);
        }
}

INSTANTIATE_TEST_SUITE_P(Layouts, ReadsBitmap, testing::ValuesIn(goodCases), testing::PrintToStringParamName());

struct BadCase {
    const char* name;
    testbmp::Layout layout;
    std::function<void(std::vector<std::uint8_t>&)> damage;
    BmpError expected;
    friend void PrintTo(const BadCase& c, std::ostream* os) { *os << c.name; }
};

using Bytes = std::vector<std::uint8_t>;
namespace at = testbmp::at;
void set32(Bytes& b, std::size_t at, std::int64_t v)
{
    testbmp::put32(b, at, static_cast<std::uint32_t>(v));
}

const testbmp::Layout bits8{.width = 5, .bits = 8};
const testbmp::Layout bits16{.width = 5, .bits = 16, .compression = 3, .masks = {0xF800, 0x07E0, 0x001F}};

const BadCase badCases[] = {
    {"empty", {}, [](Bytes& b) { b.clear(); }, BmpError::Truncated},
    {"signature_only", {}, [](Bytes& b) { b.resize(2); }, BmpError::Truncated},
    {"no_signature", {}, [](Bytes& b) { b[0] = 'P'; }, BmpError::NotBitmap},
    {"cut_in_header", {}, [](Bytes& b) { b.resize(at::compression); }, BmpError::Truncated},
    {"os2_core_header", {}, [](Bytes& b) { set32(b, at::headerSize, 12); }, BmpError::UnsupportedHeader},
    {"os2_v2_header", {}, [](Bytes& b) { set32(b, at::headerSize, 64); }, BmpError::UnsupportedHeader},
    {"huge_header", {}, [](Bytes& b) { set32(b, at::headerSize, 0xFFFFFFF0); }, BmpError::UnsupportedHeader},
    {"rle8_on_4bit",
     {.width = 5, .bits = 4},
     [](Bytes& b) { set32(b, at::compression, bmp::compression::rle8); },
     BmpError::UnsupportedCompression},
    {"rle4_on_8bit", bits8, [](Bytes& b) { set32(b, at::compression, bmp::compression::rle4); },
     BmpError::UnsupportedCompression},
    {"embedded_png", {}, [](Bytes& b) { set32(b, at::compression, 5); }, BmpError::UnsupportedCompression},
    {"bitfields_on_24bit",
     {},
     [](Bytes& b) { set32(b, at::compression, bmp::compression::bitfields); },
     BmpError::UnsupportedCompression},
    {"depth_2", {}, [](Bytes& b) { b[at::bitsPerPixel] = 2; }, BmpError::UnsupportedDepth},
    {"depth_0", {}, [](Bytes& b) { b[at::bitsPerPixel] = 0; }, BmpError::UnsupportedDepth},
    {"width_0", {}, [](Bytes& b) { set32(b, at::width, 0); }, BmpError::BadDimensions},
    {"width_negative", {}, [](Bytes& b) { set32(b, at::width, -5); }, BmpError::BadDimensions},
    {"height_0", {}, [](Bytes& b) { set32(b, at::height, 0); }, BmpError::BadDimensions},
    {"height_most_negative", {}, [](Bytes& b) { set32(b, at::height, INT32_MIN); }, BmpError::BadDimensions},
    {"over_1GiB",
     {},
     [](Bytes& b) {
         set32(b, at::width, 20000);
         set32(b, at::height, -20000);
     },
     BmpError::TooLarge},
    {"widest_int", {.bits = 1}, [](Bytes& b) { set32(b, at::width, INT32_MAX); }, BmpError::TooLarge},
    {"one_row_more_than_file", {}, [](Bytes& b) { set32(b, at::height, 7); }, BmpError::Truncated},
    {"pixels_cut", {}, [](Bytes& b) { b.erase(b.end() - 30, b.end()); }, BmpError::Truncated},
    {"offset_past_end", {}, [](Bytes& b) { set32(b, at::pixelOffset, 0xFFFFFFFF); }, BmpError::Truncated},
    {"offset_in_header", {}, [](Bytes& b) { set32(b, at::pixelOffset, at::width + 2); }, BmpError::BadPixelOffset},
    {"offset_on_masks", bits16, [](Bytes& b) { set32(b, at::pixelOffset, at::masks + 6); }, BmpError::BadPixelOffset},
    {"too_many_colours", bits8, [](Bytes& b) { set32(b, at::coloursUsed, 257); }, BmpError::BadPalette},
    {"palette_past_end",
     {.width = 1, .height = 1, .bits = 8, .colours = 2},
     [](Bytes& b) {
         set32(b, at::coloursUsed, 256);
         set32(b, at::pixelOffset, bmp::headersBytes);
     },
     BmpError::Truncated},
    {"mask_empty", bits16, [](Bytes& b) { set32(b, at::masks + 4, 0); }, BmpError::BadMasks},
    {"masks_overlap", bits16, [](Bytes& b) { set32(b, at::masks + 4, 0xFFE0); }, BmpError::BadMasks},
    {"mask_with_gap", bits16,
     [](Bytes& b) {
         set32(b, at::masks, 0xF0F0);
         set32(b, at::masks + 4, 0);
     },
     BmpError::BadMasks},
    {"mask_past_16_bits", bits16, [](Bytes& b) { set32(b, at::masks, 0x1F800); }, BmpError::BadMasks},
};

class RefusesBitmap : public testing::TestWithParam<BadCase> {};

TEST_P(RefusesBitmap, WithItsReason)
{
    Bytes file = testbmp::makeBmp(GetParam().layout);
    GetParam().damage(file);
    Bitmap bitmap;
    // An exact-size copy lets AddressSanitizer see any read past the end.
    const auto exact = std::make_unique<std::uint8_t[]>(file.size());
    std::copy(file.begin(), file.end(), exact.get());
    EXPECT_EQ(readBitmap({exact.get(), file.size()}, bitmap), GetParam().expected)
        << convertimg::describe(GetParam().expected);
    EXPECT_EQ(bitmap.width, 0);
    EXPECT_EQ(bitmap.height, 0);
}

INSTANTIATE_TEST_SUITE_P(Damage, RefusesBitmap, testing::ValuesIn(badCases), testing::PrintToStringParamName());

// Run-length-encoded files: codes written by hand (bottom row first), and the palette indexes a
// reader should give, top row first, or the reason it should refuse them.
struct RleCase {
    const char* name;
    int width;
    int height;
    int bits;
    Bytes codes;
    std::vector<int> expected;
    BmpError error = BmpError::None;
    void (*damage)(Bytes&) = nullptr;
    friend void PrintTo(const RleCase& c, std::ostream* os) { *os << c.name; }
};

const RleCase rleCases[] = {
    // Absolute runs of 3 pixels need a padding byte, of 4 none.
    {"rle8_runs",
     5,
     2,
     8,
     {2, 200, 0, 3, 1, 2, 3, 0, 0, 0, 0, 4, 9, 8, 7, 6, 1, 5, 0, 0, 0, 1},
     {9, 8, 7, 6, 5, 200, 200, 1, 2, 3}},
    // End of line before the right edge, a delta up and right, end of bitmap before the top row.
    {"rle8_skips",
     4,
     4,
     8,
     {2, 9, 0, 0, 1, 4, 0, 2, 1, 1, 2, 6, 0, 1},
     {0, 0, 0, 0, 0, 0, 6, 6, 4, 0, 0, 0, 9, 9, 0, 0}},
    // 5 pixels take 3 bytes and a padding byte; 3 pixels take 2 bytes and none.
    {"rle4_runs",
     7,
     2,
     4,
     {0, 5, 0x34, 0x56, 0x70, 0, 2, 0x12, 0, 0, 0, 3, 0xAB, 0xC0, 4, 0xDE, 0, 0, 0, 1},
     {10, 11, 12, 13, 14, 13, 14, 3, 4, 5, 6, 7, 1, 2}},
    {"rle4_skips", 5, 3, 4, {3, 0x9A, 0, 2, 1, 1, 1, 0x50, 0, 1}, {0, 0, 0, 0, 0, 0, 0, 0, 0, 5, 9, 10, 9, 0, 0}},
    // Runs may cover the row's padding (up to 8 pixels for 5 at 8 bits, 3 at 4 bits), as ImageMagick writes.
    {"rle8_runs_into_padding",
     5,
     2,
     8,
     {8, 3, 0, 0, 0, 5, 1, 2, 3, 4, 5, 0, 3, 6, 0, 1},
     {1, 2, 3, 4, 5, 3, 3, 3, 3, 3}},
    {"rle4_runs_into_padding", 3, 1, 4, {0, 7, 0x12, 0x34, 0x56, 0x70, 1, 0x90, 0, 1}, {1, 2, 3}},
    {"size_image_0", 2, 1, 8, {2, 5, 0, 0, 0, 1}, {5, 5}, BmpError::None, [](Bytes& b) { set32(b, at::imageSize, 0); }},
    {"size_image_past_file",
     2,
     1,
     8,
     {2, 5, 0, 0, 0, 1},
     {5, 5},
     BmpError::None,
     [](Bytes& b) { set32(b, at::imageSize, 1000); }},

    {"run_past_right_edge", 4, 2, 8, {5, 1, 0, 1}, {}, BmpError::BadRunLength},
    {"runs_past_right_edge", 4, 2, 8, {3, 1, 2, 1, 0, 1}, {}, BmpError::BadRunLength},
    {"run_past_row_padding", 5, 2, 8, {9, 1, 0, 1}, {}, BmpError::BadRunLength},
    {"rle4_run_past_row_padding", 3, 2, 4, {9, 0x11, 0, 1}, {}, BmpError::BadRunLength},
    {"absolute_past_right_edge", 4, 2, 8, {1, 1, 0, 4, 1, 2, 3, 4, 0, 1}, {}, BmpError::BadRunLength},
    {"absolute_past_end", 4, 2, 8, {0, 3, 1, 2}, {}, BmpError::Truncated},
    {"rle4_absolute_past_end", 6, 2, 4, {0, 5, 0x12, 0x34}, {}, BmpError::Truncated},
    {"delta_past_right_edge", 4, 2, 8, {1, 1, 0, 2, 4, 0, 0, 1}, {}, BmpError::BadRunLength},
    {"delta_past_top", 4, 2, 8, {0, 2, 0, 2, 0, 1}, {}, BmpError::BadRunLength},
    {"pixels_above_top", 4, 2, 8, {0, 0, 0, 0, 1, 1, 0, 1}, {}, BmpError::BadRunLength},
    {"line_above_top", 4, 2, 8, {0, 0, 0, 0, 0, 0, 0, 1}, {}, BmpError::BadRunLength},
    {"no_end_of_bitmap", 4, 2, 8, {4, 1, 0, 0, 4, 1, 0, 0}, {}, BmpError::Truncated},
    {"cut_in_code", 4, 2, 8, {4, 1, 0}, {}, BmpError::Truncated},
    {"cut_in_delta", 4, 2, 8, {0, 2, 1}, {}, BmpError::Truncated},
    {"size_image_short",
     4,
     2,
     8,
     {4, 1, 0, 0, 0, 1},
     {},
     BmpError::Truncated,
     [](Bytes& b) { set32(b, at::imageSize, 4); }},
    {"offset_past_end",
     4,
     2,
     8,
     {0, 1},
     {},
     BmpError::Truncated,
     [](Bytes& b) { set32(b, at::pixelOffset, 0xFFFFFFFF); }},
    {"top_down", 4, 2, 8, {0, 1}, {}, BmpError::BadDimensions, [](Bytes& b) { set32(b, at::height, -2); }},
};

// The file of a case in an exact-size buffer, so that AddressSanitizer sees any read past its end.
std::unique_ptr<std::uint8_t[]> exactCopy(const Bytes& file)
{
    auto exact = std::make_unique<std::uint8_t[]>(file.size());
    std::copy(file.begin(), file.end(), exact.get());
    return exact;
}

class ReadsRunLength : public testing::TestWithParam<RleCase> {};

TEST_P(ReadsRunLength, PixelForPixelOrRefused)
{
    const RleCase& c = GetParam();
    Bytes file = testbmp::makeRleBmp(c.width, c.height, c.bits, c.codes);
    if (c.damage)
        c.damage(file);
    const auto exact = exactCopy(file);
    Bitmap bitmap;
    ASSERT_EQ(readBitmap({exact.get(), file.size()}, bitmap), c.error) << convertimg::describe(c.error);
    if (c.error != BmpError::None) {
        EXPECT_EQ(bitmap.width, 0);
        EXPECT_EQ(bitmap.height, 0);
        return;
    }
    ASSERT_EQ(bitmap.width, c.width);
    ASSERT_EQ(bitmap.height, c.height);
    for (int y = 0; y < c.height; ++y)
        for (int x = 0; x < c.width; ++x) {
            const int index = c.expected[static_cast<std::size_t>(y * c.width + x)];
            const auto want = testbmp::paletteColour(index, 1 << c.bits);
            const std::uint8_t* got = bitmap.row(y) + x * 3;
            ASSERT_TRUE(std::equal(want.begin(), want.end(), got))
                << "pixel (" << x << ", " << y << ") not index " << index;
        }
}

INSTANTIATE_TEST_SUITE_P(Codes, ReadsRunLength, testing::ValuesIn(rleCases), testing::PrintToStringParamName());

// A good run-length file cut anywhere in its codes has lost its end-of-bitmap code.
TEST(BmpReader, RefusesEveryCutOfRunLengthCodes)
{
    for (const RleCase& c : rleCases) {
        if (c.error != BmpError::None || c.damage)
            continue;
        const Bytes file = testbmp::makeRleBmp(c.width, c.height, c.bits, c.codes);
        for (std::size_t size = file.size() - c.codes.size(); size < file.size(); ++size) {
            const Bytes cut(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(size));
            const auto exact = exactCopy(cut);
            Bitmap bitmap;
            ASSERT_EQ(readBitmap({exact.get(), size}, bitmap), BmpError::Truncated) << c.name << " cut at " << size;
        }
    }
}

const testbmp::Layout prefixLayouts[] = {
    {.width = 9, .height = 3, .bits = 1},
    {.width = 5, .height = 3, .bits = 24},
    {.width = 3, .height = 3, .bits = 16, .headerSize = 124, .compression = 3, .masks = {0xF800, 0x07E0, 0x001F}},
};

// A file cut anywhere before its last pixel is refused; cutting only the last row's padding is harmless.
TEST(BmpReader, RefusesEveryCutBeforeTheLastPixel)
{
    for (const testbmp::Layout& layout : prefixLayouts) {
        const Bytes file = testbmp::makeBmp(layout);
        const std::size_t rowBytes = (static_cast<std::size_t>(layout.width) * layout.bits + 7) / 8;
        const std::size_t padding = (static_cast<std::size_t>(layout.width) * layout.bits + 31) / 32 * 4 - rowBytes;
        for (std::size_t size = 0; size < file.size(); ++size) {
            const Bytes cut(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(size));
            Bitmap bitmap;
            const BmpError e = readBitmap(cut, bitmap);
            if (size < file.size() - padding)
                ASSERT_NE(e, BmpError::None) << layout.bits << " bits, cut at " << size;
            else
                ASSERT_EQ(e, BmpError::None) << layout.bits << " bits, cut at " << size;
        }
    }
}

// Random damage to headers and masks: the reader and the encoder must answer, never crash or read
// out of bounds (the point of this test under AddressSanitizer).
TEST(BmpReader, SurvivesRandomDamage)
{
    const testbmp::Layout bases[] = {
        {.width = 7, .height = 3, .bits = 4},
        {.width = 5, .height = 4, .bits = 24, .headerSize = 108},
        {.width = 3, .height = 2, .bits = 32, .compression = 3, .masks = {0xFF000000, 0xFF0000, 0xFF00}},
    };
    std::mt19937 random(1234);
    int accepted = 0;
    for (const testbmp::Layout& base : bases) {
        const Bytes original = testbmp::makeBmp(base);
        for (int round = 0; round < 1500; ++round) {
            Bytes file = original;
            const int changes = 1 + static_cast<int>(random() % 4);
            for (int c = 0; c < changes; ++c) {
                // Mostly the headers, where the offsets and sizes live.
                const std::size_t span = random() % 4 == 0 ? file.size() : std::min<std::size_t>(70, file.size());
                file[random() % span] = static_cast<std::uint8_t>(random());
            }
            if (random() % 8 == 0)
                file.resize(random() % file.size());
            const auto exact = std::make_unique<std::uint8_t[]>(file.size() + 1);
            std::copy(file.begin(), file.end(), exact.get());
            Bitmap bitmap;
            if (readBitmap({exact.get(), file.size()}, bitmap) != BmpError::None)
                continue;
            ++accepted;
            if (static_cast<std::uint64_t>(bitmap.width) * bitmap.height < 100000)
                convertimg::encodeJpeg(bitmap);
        }
    }
    EXPECT_GT(accepted, 0);  // some damage (pixels, resolution) leaves a readable file
}

}  // namespace
