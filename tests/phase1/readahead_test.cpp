// The folder run's read-ahead over the real image library: the same bitmaps and failures as
// reading each photo at its turn, whatever the number of workers and whatever happens to the
// files meanwhile, and nothing left behind when it is abandoned.
#include "imglib_client/imagelibrary.h"
#include "phase1/photo_footprint.h"
#include "phase1/readahead.h"

#include "tests/support/testimages.h"

#include <QThreadPool>

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <utility>

#include <sys/stat.h>

namespace redim {
namespace {

namespace fs = std::filesystem;

// The real library, counting reads per file and keeping track of the images it holds.
class CountingLibrary final : public ImageLibrary {
public:
    explicit CountingLibrary(ImageLibrary &inner) : inner_(inner) {}

    quint32 readFileIntoDIB(const QByteArray &path) override
    {
        {
            const std::lock_guard lock(mutex_);
            ++reads_[path];  // counted as it starts
        }
        const quint32 image = inner_.readFileIntoDIB(path);
        const std::lock_guard lock(mutex_);
        if (image != 0)
            live_.insert(image);
        return image;
    }
    quint32 zoomDIB(quint32 image, qint32 scaleX, qint32 scaleY) override
    {
        const quint32 scaled = inner_.zoomDIB(image, scaleX, scaleY);
        const std::lock_guard lock(mutex_);
        if (scaled != 0) {
            live_.erase(image);  // the library releases the image it scaled
            live_.insert(scaled);
        }
        return scaled;
    }
    qint16 writeDIBToFile(quint32 image, const QByteArray &path, qint16 option) override
    {
        return inner_.writeDIBToFile(image, path, option);
    }
    void dibFree(quint32 image) override
    {
        {
            const std::lock_guard lock(mutex_);
            live_.erase(image);
        }
        inner_.dibFree(image);
    }

    int reads(const QByteArray &path)
    {
        const std::lock_guard lock(mutex_);
        return reads_[path];
    }
    std::set<quint32> live()
    {
        const std::lock_guard lock(mutex_);
        return live_;
    }

private:
    ImageLibrary &inner_;
    std::mutex mutex_;
    std::map<QByteArray, int> reads_;
    std::set<quint32> live_;
};

// Counts the photos a read-ahead has prepared; waits for a number of them.
class PreparedPhotos {
public:
    std::function<void(int)> callback()
    {
        return [this](int) {
            const std::lock_guard lock(mutex_);
            ++count_;
            changed_.notify_all();
        };
    }
    bool waitFor(int count)
    {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, std::chrono::seconds(60), [&] { return count_ >= count; });
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    int count_ = 0;
};

// The real library, counting the reads in progress at once, those that hold the coefficients of
// a progressive photo.
class ConcurrentReads final : public ImageLibrary {
public:
    explicit ConcurrentReads(ImageLibrary &inner) : inner_(inner) {}

    quint32 readFileIntoDIB(const QByteArray &path) override
    {
        {
            const std::lock_guard lock(mutex_);
            most_ = std::max(most_, ++reading_);
        }
        const quint32 image = inner_.readFileIntoDIB(path);
        const std::lock_guard lock(mutex_);
        --reading_;
        return image;
    }
    quint32 zoomDIB(quint32 image, qint32 scaleX, qint32 scaleY) override
    {
        return inner_.zoomDIB(image, scaleX, scaleY);
    }
    qint16 writeDIBToFile(quint32 image, const QByteArray &path, qint16 option) override
    {
        return inner_.writeDIBToFile(image, path, option);
    }
    void dibFree(quint32 image) override { inner_.dibFree(image); }

    int most()
    {
        const std::lock_guard lock(mutex_);
        return most_;
    }

private:
    ImageLibrary &inner_;
    std::mutex mutex_;
    int reading_ = 0;
    int most_ = 0;
};

QByteArray pathBytes(const fs::path &path)
{
    return QByteArray::fromStdString(path.string());
}

class ReadAheadTest : public ::testing::Test {
protected:
    ReadAheadTest() { threads.setMaxThreadCount(16); }  // a thread at once for every worker

    testimages::TempDir folder;
    DynamicImageLibrary real{REDIM_IMGLIB_PATH};
    CountingLibrary library{real};
    QThreadPool threads;

    QByteArray photo(const std::string &name, int width, int height, testimages::JpegOptions options = {})
    {
        return pathBytes(testimages::writeJpeg(folder / name, testimages::gradient(width, height), options));
    }

    QByteArray damaged(const std::string &name)
    {
        auto bytes = testimages::encodeJpeg(testimages::gradient(64, 48));
        bytes.resize(bytes.size() / 2);
        testimages::writeFile(folder / name, bytes);
        return pathBytes(folder / name);
    }

    // What the window does with each photo in turn: read, scale, write a bitmap, release. Each
    // entry is the bitmap's bytes, or what failed.
    std::vector<std::string> convert(ImageLibrary &images, const std::vector<QByteArray> &paths, int rate)
    {
        std::vector<std::string> outcomes;
        const fs::path bitmap = folder / "out.bmp";
        for (const QByteArray &path : paths) {
            quint32 image = images.readFileIntoDIB(path);
            if (image == 0) {
                outcomes.push_back("read failed");
                continue;
            }
            if (rate != 100) {
                const quint32 scaled = images.zoomDIB(image, rate, rate);
                if (scaled == 0) {
                    images.dibFree(image);
                    outcomes.push_back("zoom failed");
                    continue;
                }
                image = scaled;
            }
            const bool written = images.writeDIBToFile(image, pathBytes(bitmap), 0) != 0;
            images.dibFree(image);
            const auto bytes = written ? testimages::readFile(bitmap) : std::vector<std::uint8_t>();
            outcomes.push_back(written ? std::string(bytes.begin(), bytes.end()) : "write failed");
        }
        return outcomes;
    }
};

TEST_F(ReadAheadTest, GivesWhatReadingEachPhotoAtItsTurnGives)
{
    testimages::JpegOptions progressive;
    progressive.progressive = true;
    testimages::JpegOptions turned;
    turned.exifOrientation = 6;
    const std::vector<QByteArray> paths = {
        photo("a.jpg", 600, 400),
        photo("b.jpg", 64, 48),
        damaged("c.jpg"),
        photo("d.jpg", 800, 400, progressive),
        photo("e.jpg", 300, 500, turned),
        photo("f.jpg", 33, 17),
    };
    for (const int rate : {50, 25, 100, 200}) {
        const auto expected = convert(real, paths, rate);
        for (const int workers : {1, 3}) {
            SCOPED_TRACE(testing::Message() << "rate " << rate << ", " << workers << " workers");
            ReadAhead::Options options;
            options.workers = workers;
            ReadAhead readAhead(library, paths, rate, threads, options);
            EXPECT_TRUE(convert(readAhead, paths, rate) == expected);
        }
    }
    EXPECT_TRUE(library.live().empty());
}

// Writes a file's own bytes over it and puts its modification time back, once the clock has
// moved on from its last change: only its change time tells.
void rewriteInPlace(const fs::path &file)
{
    const auto changeTime = [&] {
        struct stat status {};
        EXPECT_EQ(::stat(file.c_str(), &status), 0);
        return std::pair(status.st_ctim.tv_sec, status.st_ctim.tv_nsec);
    };
    const auto bytes = testimages::readFile(file);
    const auto modified = fs::last_write_time(file);
    const auto changed = changeTime();
    do {
        testimages::writeFile(file, bytes);
        fs::last_write_time(file, modified);
    } while (changeTime() == changed);
}

TEST_F(ReadAheadTest, FilesChangedAfterBeingReadAheadGiveWhatTheyHoldAtTheirTurn)
{
    const std::vector<QByteArray> paths = {photo("same.jpg", 80, 60),     photo("replaced.jpg", 80, 60),
                                           photo("removed.jpg", 80, 60),  photo("cut.jpg", 80, 60),
                                           photo("copied.jpg", 80, 60),   photo("swapped.jpg", 80, 60),
                                           photo("rewritten.jpg", 80, 60)};
    PreparedPhotos prepared;
    ReadAhead::Options options;
    options.workers = static_cast<int>(paths.size());
    options.prepared = prepared.callback();
    ReadAhead readAhead(library, paths, 50, threads, options);
    ASSERT_TRUE(prepared.waitFor(static_cast<int>(paths.size())));

    photo("replaced.jpg", 120, 40);
    fs::remove(folder / "removed.jpg");
    damaged("cut.jpg");
    // The same bytes again, each time in a way that could have brought others: a new file; another
    // file of the same size and modification time put in its place; the file written over.
    const auto bytes = testimages::readFile(folder / "copied.jpg");
    fs::remove(folder / "copied.jpg");
    testimages::writeFile(folder / "copied.jpg", bytes);
    testimages::writeFile(folder / "other.jpg", bytes);
    fs::last_write_time(folder / "other.jpg", fs::last_write_time(folder / "swapped.jpg"));
    fs::rename(folder / "other.jpg", folder / "swapped.jpg");
    rewriteInPlace(folder / "rewritten.jpg");

    const auto outcomes = convert(readAhead, paths, 50);
    const auto expected = convert(real, paths, 50);
    EXPECT_TRUE(outcomes == expected);
    EXPECT_EQ(outcomes[2], "read failed");
    EXPECT_EQ(outcomes[3], "read failed");
    EXPECT_NE(outcomes[1], convert(real, {paths[0]}, 50)[0]);  // the new picture, not the old one
    // A file left alone is read once, any other again at its turn.
    for (std::size_t i = 0; i < paths.size(); ++i)
        EXPECT_EQ(library.reads(paths[i]), i == 0 ? 1 : 2) << paths[i].toStdString();
}

// A photo followed by gigabytes of nothing is read ahead like any other, up to its end of image;
// one cut short before its end and followed by as much is refused, as the library refuses it.
TEST_F(ReadAheadTest, ReadsAheadUpToTheEndOfEachPhotoOnly)
{
    const std::vector<std::uint8_t> bytes = testimages::encodeJpeg(testimages::gradient(64, 48));
    testimages::writeFile(folder / "alone.jpg", bytes);
    testimages::writeFile(folder / "tail.jpg", bytes);
    testimages::writeFile(folder / "cut.jpg", {bytes.begin(), bytes.end() - 2});
    for (const char *name : {"tail.jpg", "cut.jpg"})
        fs::resize_file(folder / name, std::uintmax_t{2} << 30);
    const std::vector<QByteArray> paths = {pathBytes(folder / "tail.jpg"), pathBytes(folder / "cut.jpg")};
    PreparedPhotos prepared;
    ReadAhead::Options options;
    options.workers = 2;
    options.prepared = prepared.callback();
    ReadAhead readAhead(library, paths, 50, threads, options);
    ASSERT_TRUE(prepared.waitFor(2));
    EXPECT_EQ(library.reads(paths[0]), 1);
    const auto outcomes = convert(readAhead, paths, 50);
    EXPECT_EQ(library.reads(paths[0]), 1);
    EXPECT_EQ(outcomes[0], convert(real, {pathBytes(folder / "alone.jpg")}, 50)[0]);
    EXPECT_EQ(outcomes[1], "read failed");
}

TEST_F(ReadAheadTest, KeepsAtMostItsWorkersAheadAndLeavesNothingWhenAbandoned)
{
    // The first photo is small: its worker is free long before the other one, and must wait.
    std::vector<QByteArray> paths = {photo("p0.jpg", 64, 48)};
    for (int i = 1; i < 12; ++i)
        paths.push_back(photo("p" + std::to_string(i) + ".jpg", 1600, 1200));
    {
        DynamicImageLibrary own(REDIM_IMGLIB_PATH);
        CountingLibrary counted(own);
        {
            PreparedPhotos prepared;
            ReadAhead::Options options;
            options.workers = 2;
            options.prepared = prepared.callback();
            ReadAhead readAhead(counted, paths, 50, threads, options);
            ASSERT_TRUE(prepared.waitFor(2));
            EXPECT_EQ(counted.reads(paths[2]), 0);
            convert(readAhead, {paths[0]}, 50);  // lets one more photo start
        }                                        // the run ends here with a photo still being read
        EXPECT_TRUE(counted.live().empty());
        for (std::size_t i = 3; i < paths.size(); ++i)
            EXPECT_EQ(counted.reads(paths[i]), 0) << i;
    }  // and the library is unloaded right after
}

}  // namespace
}  // namespace redim

namespace redim {
namespace {

TEST_F(ReadAheadTest, ReadsAheadOnlyTheProgressivePhotosItsMemoryBudgetHolds)
{
    // Each photo needs its pixels (3 bytes a pixel), its scaled copy (0.75) and, while it
    // decodes, the coefficients of a progressive 4:4:4 file (6): 9.75 bytes a pixel, 120 MB for
    // these. Two of them and the scaled copy the window keeps (9 MB) are more than a budget of
    // four decoded photos (148 MB) and 32 MiB for two workers: the photos are decoded one at a
    // time, not two at once.
    testimages::JpegOptions progressive;
    progressive.progressive = true;
    progressive.subsampling = testimages::Subsampling::S444;
    std::vector<QByteArray> paths;
    for (int i = 0; i < 3; ++i)
        paths.push_back(photo("p" + std::to_string(i) + ".jpg", 4400, 2800, progressive));
    ConcurrentReads watched(real);
    ReadAhead::Options options;
    options.workers = 2;
    ReadAhead readAhead(watched, paths, 50, threads, options);
    for (const QByteArray &path : paths) {
        const quint32 image = readAhead.readFileIntoDIB(path);
        ASSERT_NE(image, 0u);
        const quint32 scaled = readAhead.zoomDIB(image, 50, 50);
        ASSERT_NE(scaled, 0u);
        readAhead.dibFree(scaled);
    }
    EXPECT_EQ(watched.most(), 1);
}

TEST_F(ReadAheadTest, ReadsAPhotoThatNeedsMoreThanTheRoomTheWindowLeaves)
{
    // At 200 % the window keeps the enlarged copy of its photo (46 MB) while the next one needs
    // its pixels and its own enlarged copy (58 MB): more than a budget of four decoded photos and
    // 32 MiB (80 MB) for two workers beside it, so the next photo is read once the window has let
    // its last one go, rather than never.
    const std::vector<QByteArray> paths = {photo("a.jpg", 2400, 1600), photo("b.jpg", 2400, 1600)};
    ReadAhead::Options options;
    options.workers = 2;
    ReadAhead readAhead(library, paths, 200, threads, options);
    EXPECT_TRUE(convert(readAhead, paths, 200) == convert(real, paths, 200));
}
// A photo's footprint comes from its headers as libjpeg reads them: bytes a writer left between
// two segments, which libjpeg passes over, hide neither its size nor its coefficients.
TEST(PhotoFootprint, IsReadFromTheHeadersAsLibjpegReadsThem)
{
    testimages::JpegOptions progressive;
    progressive.progressive = true;
    const std::vector<std::uint8_t> clean = testimages::encodeJpeg(testimages::gradient(64, 48), progressive);
    std::vector<std::uint8_t> stray = clean;
    stray.insert(stray.begin() + 2, {0x00, 0x00});  // after the start of image
    const PhotoFootprint expected = footprintOf(clean, clean.size(), 50), found = footprintOf(stray, stray.size(), 50);
    EXPECT_EQ(found.decoded, 64u * 48 * 3);
    EXPECT_EQ(found.decoded, expected.decoded);
    EXPECT_EQ(found.held - stray.size(), expected.held - clean.size());
}

}  // namespace
}  // namespace redim
