// Handles: release, reuse, and use from several threads at once.
#include "tests/imglib/library_helpers.h"

#include <gtest/gtest.h>

#include <atomic>
#include <set>
#include <thread>

using namespace testimages;
using imglibtest::Handle;

namespace {

TEST(Handles, ReleasedHandlesFailEverywhereAndAreNotReused)
{
    TempDir dir;
    const auto jpeg = writeJpeg(dir / "in.jpg", gradient(16, 16));
    std::set<std::uint32_t> seen;
    for (int i = 0; i < 50; ++i) {
        const std::uint32_t h = ReadFileIntoDIB(jpeg.c_str());
        ASSERT_NE(h, 0u);
        EXPECT_TRUE(seen.insert(h).second) << "handle " << h << " given out twice";
        DIBFree(h);
        EXPECT_EQ(WriteDIBToFile(h, (dir / "out.bmp").c_str(), 0), 0);
        EXPECT_EQ(ZoomDIB(h, 50, 50), 0u);
        DIBFree(h);  // twice: ignored
    }
    DIBFree(0);
    DIBFree(0xFFFFFFFFu);
    EXPECT_FALSE(std::filesystem::exists(dir / "out.bmp"));
}

TEST(Handles, ReleasingOneImageLeavesTheOthers)
{
    TempDir dir;
    const std::uint32_t a = ReadFileIntoDIB(writeJpeg(dir / "a.jpg", gradient(10, 10)).c_str());
    Handle b(ReadFileIntoDIB(writeJpeg(dir / "b.jpg", gradient(12, 12)).c_str()));
    ASSERT_NE(a, 0u);
    ASSERT_TRUE(b);
    DIBFree(a);
    const auto bmp = imglibtest::pixelsOf(b.get(), dir);
    ASSERT_TRUE(bmp);
    EXPECT_EQ(bmp->width, 12);
}

// Several threads read, scale, write and release at once, and some also free handles they
// never got: every image must still come out right.
TEST(Handles, SeveralThreadsAtOnce)
{
    TempDir dir;
    const auto jpeg = writeJpeg(dir / "in.jpg", gradient(120, 80));
    constexpr int kThreads = 4;
    constexpr int kRounds = 15;
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            const auto out = dir / ("out" + std::to_string(t) + ".bmp");
            for (int i = 0; i < kRounds; ++i) {
                const std::uint32_t h = ReadFileIntoDIB(jpeg.c_str());
                const std::uint32_t z = h ? ZoomDIB(h, 50 + 10 * t, 50 + 10 * t) : 0;
                if (z == 0 || WriteDIBToFile(z, out.c_str(), 0) == 0) {
                    ++failures;
                    DIBFree(h);
                    continue;
                }
                DIBFree(z);
                DIBFree(z + 100000);  // a handle nobody holds yet: ignored
                const auto bmp = parseBmp24(readFile(out));
                if (!bmp || bmp->width != 120 * (50 + 10 * t) / 100)
                    ++failures;
            }
        });
    }
    for (auto &thread : threads)
        thread.join();
    EXPECT_EQ(failures.load(), 0);
}

}  // namespace
