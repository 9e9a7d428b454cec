// Reading with a scaling prepared: the library guesses the next ZoomDIB call from the last one
// and prepares it while decoding, at a reduced size when the rate allows.  Whatever it guessed,
// every call gives exactly what it gives without a guess, and a file that cannot be read
// completely still fails at ReadFileIntoDIB.
#include "tests/imglib/library_helpers.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

using namespace testimages;
using imglibtest::Handle;
using imglibtest::pixelsOf;

namespace {

// Detail at every scale, as a photo has: smooth ramps, sharp edges and fine texture.
RgbImage detailed(int width, int height)
{
    RgbImage image(width, height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            std::uint8_t *p = image.at(x, y);
            const double wave = std::sin(x * 0.07) * std::cos(y * 0.05);
            p[0] = static_cast<std::uint8_t>(x * 255 / width);
            p[1] = static_cast<std::uint8_t>(128 + 100 * wave);
            p[2] = static_cast<std::uint8_t>(((x / 9 + y / 7) % 2 ? 200 : 40) + ((x * 31 + y * 17) % 23));
        }
    return image;
}

// Leaves the library expecting `rate` (0: a read written without scaling), as the previous
// photo of a folder would.
void expectNext(const TempDir &dir, int rate)
{
    Handle h(ReadFileIntoDIB(writeJpeg(dir / "previous.jpg", gradient(40, 30)).c_str()));
    ASSERT_TRUE(h);
    if (rate == 0) {
        ASSERT_NE(WriteDIBToFile(h.get(), (dir / "previous.bmp").c_str(), 0), 0);
        return;
    }
    const std::uint32_t zoomed = ZoomDIB(h.get(), rate, rate);
    ASSERT_NE(zoomed, 0u);
    h.reset(zoomed);
}

// What the program gets for `jpeg` at `rate` (0: not scaled) after the library was left
// expecting `guess`.
std::optional<Bitmap> afterGuess(const TempDir &dir, const std::filesystem::path &jpeg, int guess, int rate)
{
    expectNext(dir, guess);
    Handle h(ReadFileIntoDIB(jpeg.c_str()));
    if (!h)
        return std::nullopt;
    if (rate != 0) {
        const std::uint32_t zoomed = ZoomDIB(h.get(), rate, rate);
        if (zoomed == 0)
            return std::nullopt;
        h.reset(zoomed);
    }
    return pixelsOf(h.get(), dir);
}

struct FileCase {
    const char *name;
    int width, height;
    JpegOptions options;
    friend void PrintTo(const FileCase &c, std::ostream *os) { *os << c.name; }
};

JpegOptions with(void (*change)(JpegOptions &))
{
    JpegOptions o;
    change(o);
    return o;
}

// Large enough for a second thread to scale while the decoder works; odd sizes, turned and
// converted files, whose rows reach the scaling in other ways.
const FileCase kFiles[] = {
    {"Baseline", 1203, 805, {}},
    {"Progressive444", 960, 720, with([](JpegOptions &o) {
         o.progressive = true;
         o.subsampling = Subsampling::S444;
     })},
    {"TurnedAQuarter", 1001, 667, with([](JpegOptions &o) { o.exifOrientation = 6; })},
    {"UpsideDown", 801, 603, with([](JpegOptions &o) { o.exifOrientation = 3; })},
    {"Cmyk", 640, 480, with([](JpegOptions &o) { o.colour = ColourModel::InvertedCmyk; })},
    {"Gray", 517, 389, with([](JpegOptions &o) { o.colour = ColourModel::Gray; })},
};

class PreparedScaling : public ::testing::TestWithParam<FileCase> {};

TEST_P(PreparedScaling, GivesWhatAnUnpreparedReadGivesWhateverTheGuess)
{
    const FileCase &c = GetParam();
    TempDir dir;
    const auto jpeg = writeJpeg(dir / "photo.jpg", detailed(c.width, c.height), c.options);
    // 0: written as read.  25 and 10 are decoded at a reduced size, 50 and 150 at full size.
    for (const int rate : {25, 50, 0, 10, 150}) {
        const auto reference = afterGuess(dir, jpeg, 0, rate);
        ASSERT_TRUE(reference) << "rate " << rate;
        for (const int guess : {25, 50, 0}) {
            const auto result = afterGuess(dir, jpeg, guess, rate);
            ASSERT_TRUE(result) << "rate " << rate << " after guessing " << guess;
            EXPECT_EQ(result->width, reference->width) << "rate " << rate << " after guessing " << guess;
            EXPECT_EQ(result->height, reference->height) << "rate " << rate << " after guessing " << guess;
            EXPECT_TRUE(result->bgr == reference->bgr) << "rate " << rate << " after guessing " << guess;
        }
        // The same rate twice in a row: the second read prepares it.
        const auto again = afterGuess(dir, jpeg, rate, rate);
        ASSERT_TRUE(again);
        EXPECT_TRUE(again->bgr == reference->bgr) << "rate " << rate << " prepared";
    }
}

INSTANTIATE_TEST_SUITE_P(Files, PreparedScaling, ::testing::ValuesIn(kFiles), ::testing::PrintToStringParamName());

// Damaged files fail at ReadFileIntoDIB, as they must for the program to log them, whether or
// not a reduced decode was prepared: every decode reads the whole file.
TEST(PreparedScaling, DamagedFilesFailAtReadWhateverTheGuess)
{
    TempDir dir;
    const std::vector<std::uint8_t> good = encodeJpeg(detailed(800, 600));
    const std::vector<std::uint8_t> progressive =
        encodeJpeg(detailed(800, 600), with([](JpegOptions &o) { o.progressive = true; }));
    struct Damage {
        const char *name;
        std::vector<std::uint8_t> bytes;
    };
    const auto cut = [](std::vector<std::uint8_t> b, std::size_t size) {
        b.resize(size);
        return b;
    };
    const auto flipped = [](std::vector<std::uint8_t> b, std::size_t at) {
        b[at] = 0xFF;
        b[at + 1] = 0xD3;
        return b;
    };
    const Damage damages[] = {
        {"cut halfway", cut(good, good.size() / 2)},
        {"cut in the last rows", cut(good, good.size() - 40)},
        {"cut before EOI", cut(good, good.size() - 2)},
        {"stray restart marker in the last rows", flipped(good, good.size() - 30)},
        {"progressive cut in its last scan", cut(progressive, progressive.size() - 50)},
    };
    for (const Damage &d : damages) {
        writeFile(dir / "damaged.jpg", d.bytes);
        for (const int guess : {0, 50, 25, 10}) {
            expectNext(dir, guess);
            Handle h(ReadFileIntoDIB((dir / "damaged.jpg").c_str()));
            EXPECT_FALSE(h) << d.name << " after guessing " << guess;
        }
    }
}

}  // namespace
