// The library's threads on the cores the process may use: held to one core, the library does all
// of its work on the calling thread, however much of a photo it shares with a helper on more.
#include "tests/imglib/library_helpers.h"

#include <gtest/gtest.h>

#include <ctime>

#include <sched.h>
#include <sys/resource.h>

using namespace testimages;
using imglibtest::Handle;

namespace {

double seconds(const timeval &t)
{
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
}

// CPU time of every thread of the process, those that have ended included.
double processCpu()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

double threadCpu()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

// Holds the calling thread, and the threads it starts, to the first core it may use.
class OneCore {
public:
    OneCore()
    {
        sched_getaffinity(0, sizeof before_, &before_);
        cpu_set_t one;
        CPU_ZERO(&one);
        for (int cpu = 0; cpu < CPU_SETSIZE; ++cpu)
            if (CPU_ISSET(cpu, &before_)) {
                CPU_SET(cpu, &one);
                break;
            }
        held_ = sched_setaffinity(0, sizeof one, &one) == 0;
    }
    ~OneCore() { sched_setaffinity(0, sizeof before_, &before_); }
    bool held() const { return held_; }

private:
    cpu_set_t before_{};
    bool held_ = false;
};

// A photo of a folder run at 50 %, after one at 50 %: its scaling prepared while it decodes, its
// rows turned in bands, then scaled once more from the scaled image.
void readAndScale(const TempDir &dir, const std::filesystem::path &photo)
{
    Handle previous(ReadFileIntoDIB(writeJpeg(dir / "previous.jpg", gradient(40, 30)).c_str()));
    ASSERT_TRUE(previous);
    previous.reset(ZoomDIB(previous.get(), 50, 50));
    ASSERT_TRUE(previous);
    Handle image(ReadFileIntoDIB(photo.c_str()));
    ASSERT_TRUE(image);
    image.reset(ZoomDIB(image.get(), 50, 50));
    ASSERT_TRUE(image);
    image.reset(ZoomDIB(image.get(), 70, 70));
    ASSERT_TRUE(image);
}

TEST(Cores, HeldToOneCoreTheLibraryComputesOnTheCallingThreadAlone)
{
    const OneCore oneCore;
    ASSERT_TRUE(oneCore.held());
    const TempDir dir;
    JpegOptions turnedProgressive;
    turnedProgressive.exifOrientation = 6;
    turnedProgressive.progressive = true;
    const auto photo = writeJpeg(dir / "photo.jpg", gradient(2400, 1600), turnedProgressive);
    readAndScale(dir, photo);  // whatever the library starts once, it has started now

    const double processBefore = processCpu(), threadBefore = threadCpu();
    for (int i = 0; i < 3; ++i)
        readAndScale(dir, photo);
    const double byThisThread = threadCpu() - threadBefore;
    const double byOthers = (processCpu() - processBefore) - byThisThread;
    // Helpers sharing the core would do a third of the work or more; what else runs (the
    // library's thread that hands memory back, a sanitizer's) does next to nothing.
    EXPECT_LT(byOthers, 0.05 * byThisThread) << byOthers << " s on other threads, " << byThisThread << " s on this one";
}

}  // namespace
