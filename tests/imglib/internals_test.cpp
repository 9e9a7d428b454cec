// The resampler's weights and pixels, the handle table and the pool of threads: the parts whose
// faults the four exported functions would only show indirectly.
#include "imglib/blend.h"
#include "imglib/handle_table.h"
#include "imglib/jpeg_reader.h"
#include "imglib/picture.h"
#include "imglib/resample.h"

#include "tests/support/testimages.h"

#include "budget/cores.h"
#include "budget/helpers.h"
#include "common/jpeg_walk.h"
#include "common/regular_file.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <numeric>
#include <random>
#include <thread>

#include <jpeglib.h>
#include <unistd.h>

namespace {

using imglib::axisWeights;
using imglib::Image;

TEST(AxisWeights, CoverTheInputAndAddUpToOne)
{
    const std::pair<int, int> sizes[] = {{100, 10}, {100, 37}, {101, 50}, {7, 3}, {5120, 2560}, {3, 1},
                                         {1, 1},    {37, 37},  {10, 100}, {1, 9}, {2, 3},       {640, 1280}};
    for (const auto &[in, out] : sizes) {
        const auto w = axisWeights(in, out);
        ASSERT_EQ(w.outSize, out);
        for (int o = 0; o < out; ++o) {
            ASSERT_GE(w.count[o], 1);
            ASSERT_LE(w.count[o], w.stride);
            ASSERT_GE(w.first[o], 0);
            ASSERT_LE(w.first[o] + w.count[o], in) << in << "->" << out << " at " << o;
            const std::int16_t *k = w.weightsOf(o);
            EXPECT_EQ(std::accumulate(k, k + w.count[o], 0), 1 << imglib::kWeightBits) << in << "->" << out;
        }
    }
}

TEST(AxisWeights, EqualSizesCopy)
{
    const auto w = axisWeights(9, 9);
    for (int o = 0; o < 9; ++o) {
        EXPECT_EQ(w.first[o], o);
        EXPECT_EQ(w.count[o], 1);
    }
}

// Each output pixel of a reduction reads about 6 input pixels per unit of reduction (Lanczos-3
// widened), centred on where it falls.
TEST(AxisWeights, ReductionWidensTheFilterAroundTheRightPlace)
{
    const auto w = axisWeights(1000, 100);
    const int o = 50;
    EXPECT_NEAR(w.count[o], 60, 2);
    const std::int16_t *k = w.weightsOf(o);
    const int peak = static_cast<int>(std::max_element(k, k + w.count[o]) - k) + w.first[o];
    EXPECT_NEAR(peak, 505, 1);
}

Image filled(int width, int height, std::uint8_t (*value)(int x, int y, int c))
{
    Image image(width, height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            for (int c = 0; c < 3; ++c)
                image.row(y)[3 * x + c] = value(x, y, c);
    return image;
}

TEST(Resize, FlatImagesStayExactlyFlatAtTheEdgesToo)
{
    const Image in = filled(41, 29, [](int, int, int c) {
        return static_cast<std::uint8_t>(c == 0 ? 7 : c == 1 ? 128 : 250);
    });
    for (const auto &[w, h] : {std::pair{4, 3}, {20, 14}, {41, 15}, {82, 58}, {123, 29}, {1, 1}}) {
        const auto out = imglib::resize(in, w, h);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                ASSERT_TRUE(out->row(y)[3 * x] == 7 && out->row(y)[3 * x + 1] == 128 && out->row(y)[3 * x + 2] == 250)
                    << w << "x" << h << " at " << x << "," << y;
    }
}

TEST(Resize, StripesReducedByHalfAreGrey)
{
    const Image across = filled(200, 10, [](int x, int, int) { return static_cast<std::uint8_t>(x % 2 ? 255 : 0); });
    const Image down = filled(10, 200, [](int, int y, int) { return static_cast<std::uint8_t>(y % 2 ? 255 : 0); });
    const auto a = imglib::resize(across, 100, 10);
    const auto d = imglib::resize(down, 10, 100);
    for (int i = 0; i < 100; ++i) {
        // The two colours weigh exactly the same, at the edges too.
        const int tolerance = 1;
        ASSERT_NEAR(a->row(5)[3 * i], 127.5, tolerance) << i;
        ASSERT_NEAR(d->row(i)[15], 127.5, tolerance) << i;
    }
}

// A linear ramp reduced by any factor is the same ramp sampled at the new pixel centres: this
// checks the position of every pixel, through the block average of strong reductions too (whose
// blocks do not always divide the size).
TEST(Resize, RampsStayRampsAtTheRightPlaces)
{
    const std::pair<int, int> sizes[] = {{1003, 100}, {1000, 100}, {999, 37}, {517, 201},
                                         {640, 64},   {5000, 50},  {3001, 31}};
    for (const auto &[inSize, outSize] : sizes) {
        const auto value = [inSize](double x) { return 20.0 + 215.0 * x / (inSize - 1); };
        Image across(inSize, 4);
        Image down(4, inSize);
        for (int i = 0; i < inSize; ++i) {
            const auto v = static_cast<std::uint8_t>(std::lround(value(i)));
            for (int j = 0; j < 4; ++j) {
                std::fill_n(across.row(j) + 3 * i, 3, v);
                std::fill_n(down.row(i) + 3 * j, 3, v);
            }
        }
        const auto a = imglib::resize(across, outSize, 2);
        const auto d = imglib::resize(down, 2, outSize);
        const double scale = static_cast<double>(inSize) / outSize;
        // Away from the ends, where the mirrored image bends the ramp.
        for (int o = 3; o < outSize - 3; ++o) {
            const double expected = value((o + 0.5) * scale - 0.5);
            ASSERT_NEAR(a->row(1)[3 * o], expected, 1.0) << inSize << "->" << outSize << " at " << o;
            ASSERT_NEAR(d->row(o)[3], expected, 1.0) << inSize << "->" << outSize << " at " << o;
        }
    }
}

TEST(Resize, BoxShrinkAveragesBlocksAndTheirRemainders)
{
    Image in(5, 3);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 5; ++x)
            std::fill_n(in.row(y) + 3 * x, 3, static_cast<std::uint8_t>(10 * x + 100 * y));
    const auto out = imglib::boxShrink(in, 2, 2);
    ASSERT_EQ(out->width(), 3);
    ASSERT_EQ(out->height(), 2);
    const int expected[2][3] = {{55, 75, 90}, {205, 225, 240}};  // (0+10+100+110)/4, ...
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 3; ++x)
            EXPECT_EQ(out->row(y)[3 * x + 1], expected[y][x]) << x << "," << y;
}

TEST(Resize, KeepsTheDensity)
{
    Image in = filled(10, 10, [](int, int, int) { return std::uint8_t{1}; });
    in.density = {11811, 5000};
    const auto out = imglib::resize(in, 5, 20);
    EXPECT_EQ(out->density.xPerMetre, 11811);
    EXPECT_EQ(out->density.yPerMetre, 5000);
}

// The horizontal pass gives the plain loop's bytes over a random fixed-point row of w.inSize
// pixels, overshooting the byte range by up to `overshoot`. The row holds exactly its one spare
// value, so that ASan sees any read past it.
void expectHorizontalPassMatches(const imglib::AxisWeights &w, std::mt19937 &random, int overshoot, const char *loop)
{
    std::uniform_int_distribution<int> fixed(-overshoot, 255 * 64 + overshoot);
    std::vector<std::int16_t> row(3 * static_cast<std::size_t>(w.inSize) + 1);
    for (auto &v : row)
        v = static_cast<std::int16_t>(fixed(random));
    std::vector<std::uint8_t> fast(3 * static_cast<std::size_t>(w.outSize)), slow(fast.size());
    imglib::blend::columnsToBytes(row.data(), w, fast.data());
    imglib::blend::plain::columnsToBytes(row.data(), w, slow.data());
    EXPECT_EQ(fast, slow) << w.inSize << "->" << w.outSize << loop;
}

// The vector loops must give exactly what the plain ones give, for every number of taps
// (odd ones included), negative weights, and row lengths that are not whole vectors.
TEST(Blend, VectorLoopsMatchThePlainOnes)
{
    std::mt19937 random(7);
    std::uniform_int_distribution<int> byte(0, 255);
    for (const auto &[inSize, outSize] : {std::pair{97, 31}, {50, 49}, {300, 17}, {13, 40}, {8, 3}}) {
        const auto w = axisWeights(inSize, outSize);
        std::vector<std::vector<std::uint8_t>> rows(static_cast<std::size_t>(w.stride),
                                                    std::vector<std::uint8_t>(3 * 53 + 1));
        for (auto &row : rows)
            for (auto &v : row)
                v = static_cast<std::uint8_t>(byte(random));
        std::vector<const std::uint8_t *> pointers;
        for (const auto &row : rows)
            pointers.push_back(row.data());
        for (int o = 0; o < outSize; ++o) {
            const std::size_t bytes = 3 * 53;
            std::vector<std::uint8_t> fast(bytes), slow(bytes);
            imglib::blend::rowsToBytes(pointers.data(), w.weightsOf(o), w.count[o], bytes, fast.data());
            imglib::blend::plain::rowsToBytes(pointers.data(), w.weightsOf(o), w.count[o], bytes, slow.data());
            ASSERT_EQ(fast, slow) << inSize << "->" << outSize << " row " << o;
            std::vector<std::int16_t> fastFixed(bytes + 1), slowFixed(bytes + 1);
            imglib::blend::rowsToFixed(pointers.data(), w.weightsOf(o), w.count[o], bytes, fastFixed.data());
            imglib::blend::plain::rowsToFixed(pointers.data(), w.weightsOf(o), w.count[o], bytes, slowFixed.data());
            ASSERT_EQ(fastFixed, slowFixed) << inSize << "->" << outSize << " row " << o;
        }
        // The horizontal pass, over a fixed-point row of inSize pixels with overshoots.
        expectHorizontalPassMatches(w, random, 2000, "");
    }
}

// The horizontal pass gives exactly the plain loop's bytes with AVX2 (two pixels at a time) and
// with SSE2 alone: over odd and even tap counts, a single tap, neighbours with different counts,
// reductions by over a hundred taps, and rows too short for AVX2, whose last pixels it leaves
// to SSE2.  The row holds exactly its one spare value, so that ASan sees any read past it.
class HorizontalPass : public ::testing::TestWithParam<bool> {
protected:
    void TearDown() override { imglib::blend::useAvx2(true); }
};

TEST_P(HorizontalPass, MatchesThePlainOne)
{
    const bool avx2 = GetParam();
    if (imglib::blend::useAvx2(avx2) != avx2)
        GTEST_SKIP() << "this processor has no AVX2";
    const std::pair<int, int> sizes[] = {{10, 30},  {7, 20},  {50, 49}, {9, 7}, {101, 50},
                                         {100, 37}, {999, 9}, {3, 2},   {1, 4}};
    std::mt19937 random(11);
    for (const auto &[inSize, outSize] : sizes)
        expectHorizontalPassMatches(axisWeights(inSize, outSize), random, 4000, avx2 ? " with AVX2" : " with SSE2");
}

INSTANTIATE_TEST_SUITE_P(Blend, HorizontalPass, ::testing::Bool(),
                         [](const auto &info) { return info.param ? "Avx2" : "Sse2"; });

// Scaling an image while it is being decoded gives exactly what scaling it afterwards gives,
// however the rows arrive: the second thread waits for the input rows each output row reads.
TEST(Resizer, WhileTheInputArrivesGivesWhatResizeGives)
{
    std::mt19937 random(7);
    Image in(700, 500);
    for (int y = 0; y < in.height(); ++y)
        for (std::size_t i = 0; i < in.stride(); ++i)
            in.row(y)[i] = static_cast<std::uint8_t>(random());
    // Reductions under 4, where resize() is this filter pass alone, and enlargements.
    for (const auto &[w, h] : {std::pair{350, 250}, {176, 126}, {701, 499}, {1400, 1000}, {200, 150}}) {
        ASSERT_FALSE(imglib::needsShrink(in.width(), in.height(), w, h));
        const auto expected = imglib::resize(in, w, h);
        imglib::Resizer resizer(in, w, h);
        imglib::RowProgress progress;
        std::thread helper([&] { EXPECT_TRUE(resizer.work(1, &progress)); });
        for (int rows = 0; rows < in.height(); rows += 16) {
            progress.publish(rows);
            std::this_thread::yield();
        }
        progress.publish(in.height());
        EXPECT_TRUE(resizer.work(0, &progress));
        helper.join();
        const auto out = resizer.take();
        for (int y = 0; y < h; ++y)
            ASSERT_TRUE(std::equal(out->row(y), out->row(y) + out->stride(), expected->row(y)))
                << w << "x" << h << " row " << y;
    }
}

TEST(Resizer, AbandonedInputStopsTheWaitingThread)
{
    Image in(300, 200);
    imglib::Resizer resizer(in, 150, 100);
    imglib::RowProgress progress;
    bool finished = true;
    std::thread helper([&] { finished = resizer.work(1, &progress); });
    progress.publish(40);
    progress.abandon();
    helper.join();
    EXPECT_FALSE(finished);
}

// The reduction behind ZoomDIB at 25 %: libjpeg decodes at half size, then the resampler
// halves.  It must stay within 40 dB of the resampler alone on the full-size decode.
TEST(ReducedDecode, StaysCloseToTheResamplerAloneOnTheFullImage)
{
    using namespace testimages;
    TempDir dir;
    // As a photo is: smooth shading, texture, and a few sharp edges.
    RgbImage photo(1600, 1200);
    for (int y = 0; y < photo.height; ++y)
        for (int x = 0; x < photo.width; ++x) {
            std::uint8_t *p = photo.at(x, y);
            p[0] = static_cast<std::uint8_t>(x * 255 / photo.width);
            p[1] = static_cast<std::uint8_t>(128 + 100 * std::sin(x * 0.07) * std::cos(y * 0.05));
            p[2] = static_cast<std::uint8_t>((x / 150 + y / 110) % 2 ? 200 : 40);  // sharp edges
        }
    JpegOptions o;
    o.quality = 95;
    const auto path = writeJpeg(dir / "photo.jpg", photo, o);
    for (const int rate : {25, 10}) {
        ASSERT_LT(imglib::decodeEighths(rate, rate), 8);
        imglib::forgetExpectedScaling();
        const auto picture = imglib::readPicture(path.c_str());
        ASSERT_TRUE(picture && picture->pixels);
        const auto scaled = imglib::zoomPicture(*picture, rate, rate);
        ASSERT_TRUE(scaled && scaled->pixels);
        const auto full = imglib::resize(*picture->pixels, scaled->width, scaled->height);
        double squares = 0;
        for (int y = 0; y < full->height(); ++y)
            for (std::size_t i = 0; i < full->stride(); ++i) {
                const double d = full->row(y)[i] - scaled->pixels->row(y)[i];
                squares += d * d;
            }
        const double mean = squares / static_cast<double>(full->sizeBytes());
        EXPECT_GE(10 * std::log10(255.0 * 255.0 / mean), 40.0) << "rate " << rate;
    }
    imglib::forgetExpectedScaling();
}

TEST(ReducedDecode, LeavesTheResamplerAReductionByTwoOrMore)
{
    const struct {
        int scaleX, scaleY, eighths;
    } cases[] = {{50, 50, 8}, {25, 25, 4}, {24, 24, 4},   {12, 12, 2},   {10, 10, 2}, {6, 6, 1},
                 {1, 1, 1},   {26, 26, 8}, {100, 100, 8}, {200, 200, 8}, {25, 50, 8}, {10, 25, 4}};
    for (const auto &c : cases)
        EXPECT_EQ(imglib::decodeEighths(c.scaleX, c.scaleY), c.eighths) << c.scaleX << " " << c.scaleY;
}

// ---- The file's bytes ------------------------------------------------------------------------

// What follows a JPEG's end of image is neither read nor kept: gigabytes of nothing (a hole the
// file system holds no blocks for), or a second image after one with a thumbnail JPEG inside it.
// Cut short before its end, an image is refused, read no further than its frame can need.
TEST(JpegFile, EndsWithTheImage)
{
    using namespace testimages;
    JpegOptions withThumbnail;
    withThumbnail.exifPayload = taggedExif(1, false, 64, 48).payload;
    const auto image = encodeJpeg(gradient(64, 48), withThumbnail);
    const auto second = encodeJpeg(gradient(32, 32));
    TempDir dir;
    const auto path = dir / "photo.jpg";
    enum class Tail { Nothing, SecondImage, CutShort };
    for (const Tail tail : {Tail::Nothing, Tail::SecondImage, Tail::CutShort}) {
        SCOPED_TRACE(static_cast<int>(tail));
        auto bytes = image;
        if (tail == Tail::SecondImage)
            bytes.insert(bytes.end(), second.begin(), second.end());
        if (tail == Tail::CutShort)
            bytes.resize(bytes.size() - 2);
        writeFile(path, bytes);
        if (tail != Tail::SecondImage)
            std::filesystem::resize_file(path, std::uintmax_t{2} << 30);
        const auto file = imglib::loadJpegFile(path.c_str());
        if (tail == Tail::CutShort) {
            EXPECT_FALSE(file);
            continue;
        }
        ASSERT_TRUE(file);
        ASSERT_EQ(file->size, image.size());
        EXPECT_TRUE(std::equal(image.begin(), image.end(), file->bytes.data()));
    }
    // The 72 blocks of the cut image need a few kilobytes, and are given a megabyte more.
    std::vector<std::uint8_t> room;
    const common::RegularFile cut = common::openRegularFile(path.c_str(), common::kNoLimit);
    EXPECT_FALSE(common::readJpegImage(cut.fd.get(), cut.size(), [&](std::size_t wanted) {
        room.resize(wanted);
        return std::span<std::uint8_t>(room);
    }));
    EXPECT_LE(room.size(), std::size_t{3} << 20);
}

// The coefficient buffer counted for a frame is the one libjpeg-turbo allocates for it: each
// component's blocks, as its header gives them, rounded up to whole MCUs on both sides.
TEST(JpegFrame, CountsTheCoefficientBufferLibjpegAllocates)
{
    using namespace testimages;
    const auto roundUp = [](std::uint64_t n, int factor) { return (n + factor - 1) / factor * factor; };
    std::vector<JpegOptions> kinds(7);
    const Subsampling samplings[] = {Subsampling::S444, Subsampling::S420, Subsampling::S422,
                                     Subsampling::S440, Subsampling::S411, Subsampling::Unusual};
    for (std::size_t i = 0; i < std::size(samplings); ++i)
        kinds[i].subsampling = samplings[i];
    kinds.back().colour = ColourModel::Gray;
    for (JpegOptions &options : kinds) {
        options.progressive = true;
        for (const auto &[width, height] : {std::pair{67, 45}, {1, 1}, {17, 33}}) {
            const auto jpeg = encodeJpeg(gradient(width, height), options);
            jpeg_decompress_struct cinfo;
            jpeg_error_mgr errors;
            cinfo.err = jpeg_std_error(&errors);
            jpeg_create_decompress(&cinfo);
            jpeg_mem_src(&cinfo, jpeg.data(), jpeg.size());
            jpeg_read_header(&cinfo, TRUE);
            std::uint64_t allocated = 0;
            for (int c = 0; c < cinfo.num_components; ++c) {
                const jpeg_component_info &component = cinfo.comp_info[c];
                allocated += roundUp(component.width_in_blocks, component.h_samp_factor) *
                             roundUp(component.height_in_blocks, component.v_samp_factor) * sizeof(JBLOCK);
            }
            jpeg_destroy_decompress(&cinfo);
            common::JpegWalk walk;
            walk.advance(jpeg);
            ASSERT_TRUE(walk.frame());
            EXPECT_EQ(walk.frame()->coefficientBytes(), allocated) << width << "x" << height;
        }
    }
}

// ---- Handles --------------------------------------------------------------------------------

TEST(HandleTable, WrapsPastZeroAndReplacesInOneStep)
{
    imglib::HandleTable table(0xFFFFFFFEu);
    const auto image = std::make_shared<const imglib::Picture>();
    const std::uint32_t last = table.add(image);
    const std::uint32_t wrapped = table.add(image);
    EXPECT_EQ(last, 0xFFFFFFFFu);
    EXPECT_EQ(wrapped, 1u);  // 0 means "no image" to the program
    EXPECT_EQ(table.find(0), nullptr);

    const std::uint32_t replaced = table.replace(last, image);
    EXPECT_EQ(replaced, 2u);
    EXPECT_EQ(table.find(last), nullptr);
    EXPECT_EQ(table.size(), 2u);
    EXPECT_EQ(table.replace(last, image), 3u);  // the old one already gone: just added
    EXPECT_FALSE(table.remove(last));
    EXPECT_TRUE(table.remove(wrapped));
    EXPECT_EQ(table.size(), 2u);

    // In place: the same handle, now naming the other image.
    const auto other = std::make_shared<const imglib::Picture>();
    EXPECT_TRUE(table.update(replaced, other));
    EXPECT_EQ(table.find(replaced), other);
    EXPECT_FALSE(table.update(wrapped, other));
    EXPECT_EQ(table.find(wrapped), nullptr);
    EXPECT_EQ(table.size(), 2u);
}

// Only the window's rates are prepared on the next read: after a scaling past 200 %, reading
// the next photo would otherwise pay for an enlargement up to a hundred times its size.
TEST(ExpectedScaling, OnlyRatesUpTo200PercentArePreparedForTheNextRead)
{
    struct Case {
        int scaleX, scaleY;
        bool prepared;
    };
    const Case cases[] = {{10, 10, true},    {50, 50, true},    {200, 200, true},
                          {200, 201, false}, {201, 100, false}, {1000, 1000, false}};
    testimages::TempDir dir;
    const auto path = testimages::writeJpeg(dir / "photo.jpg", testimages::gradient(64, 48));
    for (const Case &c : cases) {
        imglib::forgetExpectedScaling();
        const auto first = imglib::readPicture(path.c_str());
        ASSERT_TRUE(first);
        ASSERT_TRUE(imglib::zoomPicture(*first, c.scaleX, c.scaleY));
        const auto next = imglib::readPicture(path.c_str());
        ASSERT_TRUE(next);
        EXPECT_EQ(next->prepared != nullptr, c.prepared) << c.scaleX << " x " << c.scaleY;
    }
    imglib::forgetExpectedScaling();
}

// ---- The pool of threads ----------------------------------------------------------------------

// A thread leaves after a second without work, even while a helper still holds it (its job done
// and not yet waited for): the pool must keep what that helper reaches until it lets go.
TEST(Helpers, AThreadThatLeftIsKeptUntilItsHelperLetsGo)
{
    std::atomic<pid_t> thread{0};
    budget::Helper held = budget::Helper::startWaiting([&thread] { thread = gettid(); });
    ASSERT_TRUE(held);
    held.wait();
    const auto task = std::filesystem::path("/proc/self/task") / std::to_string(thread.load());
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(1);
    while (std::filesystem::exists(task)) {
        ASSERT_LT(std::chrono::steady_clock::now(), deadline) << "the thread never left";
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    const budget::Helper next = budget::Helper::startWaiting([] {});  // the pool tidies its threads here
    EXPECT_FALSE(held.offer([] {}));                                  // gone: the caller does the job
    held.wait();
}

// The block cache hands its blocks back from a job that waits: it must run while the library's
// calls fill every core, or a folder run would keep no memory for its next photos.
TEST(Helpers, AJobThatWaitsTakesNoCore)
{
    const auto everyCore = std::make_unique<budget::Computing[]>(static_cast<std::size_t>(budget::usableCores()));
    EXPECT_FALSE(budget::Helper::hire());
    std::atomic<bool> ran{false};
    budget::Helper waiting = budget::Helper::startWaiting([&ran] { ran = true; });
    ASSERT_TRUE(waiting);
    waiting.wait();
    EXPECT_TRUE(ran);
}

}  // namespace
