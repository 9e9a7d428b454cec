// WriteDIBToFile: the bitmap's exact bytes, and a destination that stays whole when writing
// fails.
#include "tests/imglib/library_helpers.h"

#include "common/bmp_layout.h"

#include <gtest/gtest.h>

#include <QImage>
#include <QImageReader>

#include <csignal>
#include <sys/resource.h>

using namespace testimages;
using imglibtest::Handle;
namespace fs = std::filesystem;

namespace {

// A 24-bit bitmap of one flat colour, spelt out field by field.
std::vector<std::uint8_t> flatBitmap(int width, int height, const std::uint8_t bgr[3], std::uint32_t perMetre)
{
    using bmp::infoAt;
    namespace info = bmp::info;
    const std::uint32_t row = (static_cast<std::uint32_t>(width) * 3 + 3) / 4 * 4;
    const std::uint32_t pixels = row * static_cast<std::uint32_t>(height);
    std::vector<std::uint8_t> b(bmp::headersBytes, 0);  // reserved fields, no palette: 0
    b[bmp::file::signature] = 'B';
    b[bmp::file::signature + 1] = 'M';
    bmp::put32(&b[bmp::file::fileSize], bmp::headersBytes + pixels);
    bmp::put32(&b[bmp::file::pixelOffset], bmp::headersBytes);
    bmp::put32(&b[infoAt(info::headerSize)], info::bytes);
    bmp::put32(&b[infoAt(info::width)], static_cast<std::uint32_t>(width));
    bmp::put32(&b[infoAt(info::height)], static_cast<std::uint32_t>(height));  // positive: bottom-up
    bmp::put16(&b[infoAt(info::planes)], 1);
    bmp::put16(&b[infoAt(info::bitsPerPixel)], 24);
    bmp::put32(&b[infoAt(info::compression)], bmp::compression::rgb);
    bmp::put32(&b[infoAt(info::imageSize)], pixels);
    bmp::put32(&b[infoAt(info::xPixelsPerMetre)], perMetre);
    bmp::put32(&b[infoAt(info::yPixelsPerMetre)], perMetre);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x)
            b.insert(b.end(), bgr, bgr + 3);
        b.resize(b.size() + (row - static_cast<std::uint32_t>(width) * 3), 0);
    }
    return b;
}

struct ExactCase {
    int width, height;
    std::uint8_t grey;
    int dpi;
    std::uint32_t perMetre;
    friend void PrintTo(const ExactCase &c, std::ostream *os)
    {
        *os << c.width << "x" << c.height << "At" << c.dpi << "Dpi";
    }
};

class ExactBitmaps : public ::testing::TestWithParam<ExactCase> {};

TEST_P(ExactBitmaps, AreWrittenByteForByte)
{
    const ExactCase c = GetParam();
    TempDir dir;
    JpegOptions o;
    o.quality = 100;
    o.subsampling = Subsampling::S444;
    if (c.dpi != 0) {
        o.densityUnit = 1;
        o.xDensity = o.yDensity = c.dpi;
    }
    // Flat greys survive JPEG at quality 100 exactly, so every byte of the file is known.
    Handle h(ReadFileIntoDIB(writeJpeg(dir / "in.jpg", flat(c.width, c.height, c.grey, c.grey, c.grey), o).c_str()));
    ASSERT_TRUE(h);
    const auto path = dir / "out.bmp";
    ASSERT_EQ(WriteDIBToFile(h.get(), path.c_str(), 0), 1);
    const std::uint8_t bgr[3] = {c.grey, c.grey, c.grey};
    EXPECT_EQ(readFile(path), flatBitmap(c.width, c.height, bgr, c.perMetre));
}

INSTANTIATE_TEST_SUITE_P(Bmp, ExactBitmaps,
                         ::testing::Values(ExactCase{4, 2, 255, 0, 3780},     // no padding
                                           ExactCase{5, 3, 0, 0, 3780},       // 1 byte of padding
                                           ExactCase{6, 1, 128, 72, 2835},    // 2 bytes
                                           ExactCase{7, 4, 255, 300, 11811},  // 3 bytes
                                           ExactCase{1, 1, 128, 0, 3780}),
                         ::testing::PrintToStringParamName());

TEST(Write, RowsGoBottomUpInBgrOrder)
{
    TempDir dir;
    JpegOptions o;
    o.subsampling = Subsampling::S444;
    o.quality = 100;
    const RgbImage picture = quadrants(32, 32);
    Handle h(ReadFileIntoDIB(writeJpeg(dir / "q.jpg", picture, o).c_str()));
    ASSERT_TRUE(h);
    ASSERT_EQ(WriteDIBToFile(h.get(), (dir / "q.bmp").c_str(), 0), 1);
    const auto file = readFile(dir / "q.bmp");
    const auto bmp = parseBmp24(file);
    ASSERT_TRUE(bmp);
    EXPECT_TRUE(bmp->bottomUp);
    // The first pixel in the file is the bottom-left one: blue, stored B, G, R.
    EXPECT_GT(file[54], 230);
    EXPECT_LT(file[55], 25);
    EXPECT_LT(file[56], 25);
    // The top-left pixel of the picture is red.
    EXPECT_LT(bmp->at(0, 0)[0], 25);
    EXPECT_GT(bmp->at(0, 0)[2], 230);
}

// The EXIF block after the pixels is invisible to bitmap readers: the headers and pixels are
// those the same photo without EXIF gives, and Qt reads the same image from both files.
TEST(Write, TheExifBlockLeavesTheBitmapAsReadersSeeIt)
{
    TempDir dir;
    const RgbImage picture = gradient(37, 23);  // rows padded
    JpegOptions tagged;
    tagged.exifPayload = taggedExif(1, false, 37, 23).payload;
    Handle plain(ReadFileIntoDIB(writeJpeg(dir / "plain.jpg", picture).c_str()));
    Handle withExif(ReadFileIntoDIB(writeJpeg(dir / "exif.jpg", picture, tagged).c_str()));
    ASSERT_EQ(WriteDIBToFile(plain.get(), (dir / "plain.bmp").c_str(), 0), 1);
    ASSERT_EQ(WriteDIBToFile(withExif.get(), (dir / "exif.bmp").c_str(), 0), 1);
    const auto without = readFile(dir / "plain.bmp"), with = readFile(dir / "exif.bmp");
    // The same bitmap followed by the block, which only the file size in the header counts.
    ASSERT_GT(with.size(), without.size());
    EXPECT_TRUE(std::equal(without.begin() + 6, without.end(), with.begin() + 6));
    EXPECT_FALSE(parseBmp24(with)->exif.empty());

    QImageReader reader(QString::fromStdString((dir / "exif.bmp").string()));
    const QImage read = reader.read();
    ASSERT_FALSE(read.isNull()) << reader.errorString().toStdString();
    EXPECT_EQ(read, QImage(QString::fromStdString((dir / "plain.bmp").string())));
    EXPECT_EQ(read.size(), QSize(37, 23));
}

TEST(Write, ReplacesAnExistingFileAndLeavesNothingElse)
{
    TempDir dir;
    Handle h(ReadFileIntoDIB(writeJpeg(dir / "in.jpg", gradient(30, 20)).c_str()));
    const auto path = dir / "out.bmp";
    writeFile(path, {'o', 'l', 'd'});
    ASSERT_EQ(WriteDIBToFile(h.get(), path.c_str(), 0), 1);
    EXPECT_TRUE(parseBmp24(readFile(path)));
    int files = 0;
    for (const auto &entry : fs::directory_iterator(dir.path()))
        files += entry.is_regular_file();
    EXPECT_EQ(files, 2);  // in.jpg and out.bmp, no temporary file
}

TEST(Write, ASymbolicLinkIsReplacedNotFollowed)
{
    TempDir dir;
    Handle h(ReadFileIntoDIB(writeJpeg(dir / "in.jpg", gradient(30, 20)).c_str()));
    writeFile(dir / "target.txt", {'k', 'e', 'e', 'p'});
    fs::create_symlink("target.txt", dir / "link.bmp");
    ASSERT_EQ(WriteDIBToFile(h.get(), (dir / "link.bmp").c_str(), 0), 1);
    EXPECT_FALSE(fs::is_symlink(dir / "link.bmp"));
    EXPECT_TRUE(parseBmp24(readFile(dir / "link.bmp")));
    EXPECT_EQ(readFile(dir / "target.txt"), (std::vector<std::uint8_t>{'k', 'e', 'e', 'p'}));
}

TEST(Write, RelativePathsAreWrittenInTheCurrentFolder)
{
    TempDir dir;
    Handle h(ReadFileIntoDIB(writeJpeg(dir / "in.jpg", gradient(9, 9)).c_str()));
    const fs::path before = fs::current_path();
    fs::current_path(dir.path());
    const int16_t result = WriteDIBToFile(h.get(), "relative.bmp", 0);
    fs::current_path(before);
    EXPECT_EQ(result, 1);
    EXPECT_TRUE(parseBmp24(readFile(dir / "relative.bmp")));
}

// Everything in a folder, by name and content.
std::map<std::string, std::vector<std::uint8_t>> snapshot(const fs::path &folder)
{
    std::map<std::string, std::vector<std::uint8_t>> files;
    for (const auto &entry : fs::recursive_directory_iterator(folder))
        files[entry.path().string()] = entry.is_regular_file() ? readFile(entry.path()) : std::vector<std::uint8_t>{};
    return files;
}

TEST(Write, FailuresLeaveTheFolderAsItWas)
{
    TempDir dir;
    Handle h(ReadFileIntoDIB(writeJpeg(dir / "in.jpg", gradient(30, 20)).c_str()));
    ASSERT_TRUE(h);
    writeFile(dir / "old.bmp", {'o', 'l', 'd'});
    fs::create_directory(dir / "folder.bmp");
    writeFile(dir / "folder.bmp" / "inside", {'x'});
    const auto before = snapshot(dir.path());

    const std::string old = (dir / "old.bmp").string();
    const struct {
        const char *what;
        std::uint32_t handle;
        std::string path;
        int16_t option;
    } cases[] = {
        {"missing folder", h.get(), (dir / "missing" / "out.bmp").string(), 0},
        {"destination is a folder", h.get(), (dir / "folder.bmp").string(), 0},
        {"path ends with a slash", h.get(), (dir / "new").string() + "/", 0},
        {"folder is a file", h.get(), old + "/out.bmp", 0},
        {"unknown handle", 0xFFFFFFF0u, old, 0},
        {"handle 0", 0u, old, 0},
        {"option 1", h.get(), old, 1},
        {"option -1", h.get(), old, -1},
        {"empty path", h.get(), "", 0},
    };
    for (const auto &c : cases)
        EXPECT_EQ(WriteDIBToFile(c.handle, c.path.c_str(), c.option), 0) << c.what;
    EXPECT_EQ(WriteDIBToFile(h.get(), nullptr, 0), 0);
    EXPECT_EQ(snapshot(dir.path()), before);
}

// A write that fails halfway (here the file size limit of the process, which holds even for
// root) removes its temporary file and leaves the old destination whole.
TEST(Write, ADiskFullHalfwayKeepsTheOldFile)
{
    TempDir dir;
    Handle h(ReadFileIntoDIB(writeJpeg(dir / "in.jpg", gradient(300, 200)).c_str()));
    ASSERT_TRUE(h);
    writeFile(dir / "old.bmp", {'o', 'l', 'd'});
    const auto before = snapshot(dir.path());

    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = saved;
    small.rlim_cur = 4096;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    const int16_t result = WriteDIBToFile(h.get(), (dir / "old.bmp").c_str(), 0);
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previousHandler);

    EXPECT_EQ(result, 0);
    EXPECT_EQ(snapshot(dir.path()), before);
}

}  // namespace
