// ZoomDIB: output sizes, what the resampler does to pixels, and what becomes of the image it
// was given.
#include "tests/imglib/library_helpers.h"

#include <gtest/gtest.h>

#include <cstring>

using namespace testimages;
using imglibtest::Handle;
using imglibtest::pixelsOf;

namespace {

std::uint32_t readJpeg(const TempDir &dir, const RgbImage &image, const JpegOptions &o = {})
{
    return ReadFileIntoDIB(writeJpeg(dir / "in.jpg", image, o).c_str());
}

struct SizeCase {
    int width, height, rate;
    int expectedWidth, expectedHeight;
    friend void PrintTo(const SizeCase &c, std::ostream *os) { *os << c.width << "x" << c.height << "At" << c.rate; }
};

class ZoomSizes : public ::testing::TestWithParam<SizeCase> {};

TEST_P(ZoomSizes, AreTheRoundedProducts)
{
    const SizeCase c = GetParam();
    TempDir dir;
    Handle h(readJpeg(dir, gradient(c.width, c.height)));
    ASSERT_TRUE(h);
    const std::uint32_t zoomed = ZoomDIB(h.get(), c.rate, c.rate);
    ASSERT_NE(zoomed, 0u);
    h.reset(zoomed);
    const auto bmp = pixelsOf(h.get(), dir);
    ASSERT_TRUE(bmp);
    EXPECT_EQ(bmp->width, c.expectedWidth);
    EXPECT_EQ(bmp->height, c.expectedHeight);
}

INSTANTIATE_TEST_SUITE_P(Rates, ZoomSizes,
                         ::testing::Values(SizeCase{640, 427, 10, 64, 43}, SizeCase{640, 427, 37, 237, 158},
                                           SizeCase{640, 427, 50, 320, 214}, SizeCase{640, 427, 100, 640, 427},
                                           SizeCase{640, 427, 150, 960, 641}, SizeCase{640, 427, 200, 1280, 854},
                                           SizeCase{37, 23, 10, 4, 2}, SizeCase{37, 23, 37, 14, 9},
                                           SizeCase{37, 23, 50, 19, 12}, SizeCase{37, 23, 150, 56, 35},
                                           SizeCase{37, 23, 200, 74, 46}, SizeCase{4, 3, 1, 1, 1},
                                           SizeCase{9, 5, 10, 1, 1}, SizeCase{5, 4, 1000, 50, 40},
                                           SizeCase{1, 1, 200, 2, 2}),
                         ::testing::PrintToStringParamName());

TEST(Zoom, DifferentRatesAcrossAndDown)
{
    TempDir dir;
    Handle h(readJpeg(dir, gradient(100, 80)));
    h.reset(ZoomDIB(h.get(), 25, 150));
    ASSERT_TRUE(h);
    const auto bmp = pixelsOf(h.get(), dir);
    ASSERT_TRUE(bmp);
    EXPECT_EQ(bmp->width, 25);
    EXPECT_EQ(bmp->height, 120);
}

// Fine stripes are detail beyond what half the pixels can show: a correct reduction turns
// them grey, where point sampling would keep only the black or only the white ones.
TEST(Zoom, FineStripesReducedByHalfTurnGrey)
{
    TempDir dir;
    JpegOptions o;
    o.quality = 100;
    o.colour = ColourModel::Gray;  // no chroma subsampling to blur the stripes beforehand
    Handle h(readJpeg(dir, stripes(96, 16), o));
    ASSERT_TRUE(h);
    {
        const auto source = pixelsOf(h.get(), dir);
        ASSERT_TRUE(source);
        ASSERT_LT(source->at(40, 8)[0], 30);
        ASSERT_GT(source->at(41, 8)[0], 225);
    }
    h.reset(ZoomDIB(h.get(), 50, 50));
    ASSERT_TRUE(h);
    const auto bmp = pixelsOf(h.get(), dir);
    ASSERT_TRUE(bmp);
    ASSERT_EQ(bmp->width, 48);
    for (int y = 0; y < bmp->height; ++y)
        for (int x = 0; x < bmp->width; ++x)
            ASSERT_NEAR(bmp->at(x, y)[1], 128, 12) << x << "," << y;
}

TEST(Zoom, FlatColourStaysExactlyFlatAtEveryRate)
{
    TempDir dir;
    JpegOptions o;
    o.quality = 100;
    o.subsampling = Subsampling::S444;
    Handle source(readJpeg(dir, flat(53, 31, 200, 120, 40), o));
    ASSERT_TRUE(source);
    const auto before = pixelsOf(source.get(), dir);
    ASSERT_TRUE(before);
    const std::uint8_t *colour = before->at(0, 0);
    for (const int rate : {1, 10, 37, 50, 99, 101, 150, 200, 333}) {
        Handle copy(ReadFileIntoDIB((dir / "in.jpg").c_str()));
        copy.reset(ZoomDIB(copy.get(), rate, rate));
        ASSERT_TRUE(copy) << rate;
        const auto bmp = pixelsOf(copy.get(), dir);
        ASSERT_TRUE(bmp);
        for (int y = 0; y < bmp->height; ++y)
            for (int x = 0; x < bmp->width; ++x)
                ASSERT_TRUE(std::equal(colour, colour + 3, bmp->at(x, y)))
                    << "rate " << rate << " at " << x << "," << y;
    }
}

// Average brightness of each third of a gradient survives a reduction and an enlargement:
// nothing shifts, darkens or brightens.
TEST(Zoom, KeepsTheAverageAndThePositionOfThings)
{
    TempDir dir;
    JpegOptions o;
    o.quality = 100;
    o.subsampling = Subsampling::S444;
    const RgbImage original = gradient(300, 90);
    for (const int rate : {10, 37, 50, 150, 200}) {
        Handle h(readJpeg(dir, original, o));
        h.reset(ZoomDIB(h.get(), rate, rate));
        ASSERT_TRUE(h);
        const auto bmp = pixelsOf(h.get(), dir);
        ASSERT_TRUE(bmp);
        for (int third = 0; third < 3; ++third) {
            double sumIn = 0, sumOut = 0;
            int nIn = 0, nOut = 0;
            for (int y = 0; y < 90; ++y)
                for (int x = third * 100; x < third * 100 + 100; ++x, ++nIn)
                    sumIn += original.at(x, y)[0];
            const int from = bmp->width * third / 3, to = bmp->width * (third + 1) / 3;
            for (int y = 0; y < bmp->height; ++y)
                for (int x = from; x < to; ++x, ++nOut)
                    sumOut += bmp->at(x, y)[2];  // red
            EXPECT_NEAR(sumOut / nOut, sumIn / nIn, 3.0) << "rate " << rate << " third " << third;
        }
    }
}

// An enlarged edge stays sharp, and the filter's overshoot next to it stays small.
TEST(Zoom, EnlargementIsSharpWithLittleRinging)
{
    TempDir dir;
    RgbImage edge = flat(40, 8, 64, 64, 64);
    for (int y = 0; y < 8; ++y)
        for (int x = 20; x < 40; ++x)
            std::memset(edge.at(x, y), 192, 3);
    JpegOptions o;
    o.quality = 100;
    o.colour = ColourModel::Gray;
    Handle h(readJpeg(dir, edge, o));
    h.reset(ZoomDIB(h.get(), 400, 400));
    ASSERT_TRUE(h);
    const auto bmp = pixelsOf(h.get(), dir);
    ASSERT_TRUE(bmp);
    int lowest = 255, highest = 0;
    for (int x = 0; x < bmp->width; ++x) {
        lowest = std::min<int>(lowest, bmp->at(x, 16)[0]);
        highest = std::max<int>(highest, bmp->at(x, 16)[0]);
    }
    EXPECT_GE(lowest, 64 - 10);
    EXPECT_LE(highest, 192 + 10);
    // Sharp: the step from dark to light takes no more than 6 of the new pixels (1.5 old ones).
    int ramp = 0;
    for (int x = 0; x < bmp->width; ++x)
        ramp += bmp->at(x, 16)[0] > 80 && bmp->at(x, 16)[0] < 176;
    EXPECT_LE(ramp, 6);
}

// ---- The image given to ZoomDIB --------------------------------------------------------------

TEST(Zoom, ReleasesTheImageItScaled)
{
    TempDir dir;
    const std::uint32_t original = readJpeg(dir, gradient(20, 20));
    ASSERT_NE(original, 0u);
    Handle zoomed(ZoomDIB(original, 50, 50));
    ASSERT_TRUE(zoomed);
    EXPECT_NE(zoomed.get(), original);
    EXPECT_EQ(WriteDIBToFile(original, (dir / "x.bmp").c_str(), 0), 0);
    EXPECT_EQ(ZoomDIB(original, 50, 50), 0u);
    DIBFree(original);  // harmless now
    EXPECT_NE(WriteDIBToFile(zoomed.get(), (dir / "y.bmp").c_str(), 0), 0);
}

TEST(Zoom, FailureLeavesTheImageAlone)
{
    TempDir dir;
    Handle h(readJpeg(dir, gradient(30, 20)));
    ASSERT_TRUE(h);
    const auto before = pixelsOf(h.get(), dir);
    ASSERT_TRUE(before);
    const std::pair<int, int> bad[] = {{0, 50}, {50, 0}, {-10, -10}, {1001, 100}, {100, 1001}, {INT32_MIN, INT32_MAX}};
    for (const auto &[sx, sy] : bad)
        EXPECT_EQ(ZoomDIB(h.get(), sx, sy), 0u) << sx << " " << sy;
    const auto after = pixelsOf(h.get(), dir);
    ASSERT_TRUE(after);
    EXPECT_EQ(after->bgr, before->bgr);
}

TEST(Zoom, ResultOverTheSizeLimitFailsAndKeepsTheImage)
{
    TempDir dir;
    // 12000 x 1000 at 1000 % would be 120000 x 10000 pixels, 3.6 GB.
    Handle h(readJpeg(dir, flat(12000, 1000, 10, 20, 30)));
    ASSERT_TRUE(h);
    EXPECT_EQ(ZoomDIB(h.get(), 1000, 1000), 0u);
    EXPECT_NE(WriteDIBToFile(h.get(), (dir / "still.bmp").c_str(), 0), 0);
}

TEST(Zoom, UnknownHandlesFail)
{
    for (const std::uint32_t handle : {0u, 0xFFFFFFF0u, 12345678u})
        EXPECT_EQ(ZoomDIB(handle, 50, 50), 0u);
}

}  // namespace
