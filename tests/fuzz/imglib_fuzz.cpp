// libFuzzer target: any bytes, saved as a file, through the image library's four functions the
// way Phase 1 calls them: read, scale by a rate taken from the bytes, write the bitmap, free.
#include "imglib/imglib.h"
#include "metadata/exif.h"
#include "tests/fuzz/fuzz_check.h"
#include "tests/fuzz/metadata_check.h"
#include "tests/support/testimages.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <utility>

namespace fs = std::filesystem;

namespace {

// Reading, scaling and writing are linear in the pixels; past this many a single input takes
// seconds under the sanitizers (and over the 10 s limit on a busy machine), and the fuzzer
// spends its time there instead of in new paths. The unit tests cover large images.
constexpr std::uint64_t kMaxPixels = 1u << 19;

// Largest width * height declared by anything that looks like a start-of-frame segment.  It
// may see a frame inside some other segment and skip an input that would have been cheap;
// it never misses the frame libjpeg-turbo reads.
std::uint64_t largestFrame(const std::uint8_t *data, std::size_t size)
{
    std::uint64_t largest = 0;
    for (std::size_t i = 0; i + 9 <= size; ++i) {
        const std::uint8_t marker = data[i + 1];
        if (data[i] != 0xFF || marker < 0xC0 || marker > 0xCF || marker == 0xC4 || marker == 0xC8 || marker == 0xCC)
            continue;
        const std::uint64_t height = data[i + 5] << 8 | data[i + 6];
        const std::uint64_t width = data[i + 7] << 8 | data[i + 8];
        largest = std::max(largest, width * height);
    }
    return largest;
}

// FNV-1a: every change to the input picks other rates.
std::uint32_t hashOf(const std::uint8_t *data, std::size_t size)
{
    std::uint32_t h = 2166136261u;
    for (std::size_t i = 0; i < size; ++i)
        h = (h ^ data[i]) * 16777619u;
    return h;
}

std::int64_t scaled(int size, int percent)
{
    return std::max<std::int64_t>(1, (static_cast<std::int64_t>(size) * percent + 50) / 100);
}

const fs::path &folder()
{
    static const testimages::TempDir dir;
    return dir.path();
}

// Width and height of the bitmap at `path`, which must be a complete 24-bit bitmap.  The EXIF
// and other metadata it may carry are already what the converter's cleaning would make of them,
// upright, and lead to no location.
std::pair<int, int> bitmapSize(const fs::path &path)
{
    std::string why;
    const auto bitmap = testimages::parseBmp24(fuzzing::readAll(path), &why);
    if (!bitmap)
        std::fprintf(stderr, "written bitmap refused: %s\n", why.c_str());
    FUZZ_CHECK(bitmap);
    if (!bitmap->exif.empty())
        FUZZ_CHECK(meta::orientation(bitmap->exif) == 1);
    const meta::Metadata carried{bitmap->exif, bitmap->xmp, bitmap->iptc, bitmap->comments};
    fuzzing::checkCleaned(carried, static_cast<std::uint32_t>(bitmap->width),
                          static_cast<std::uint32_t>(bitmap->height));
    // A gain map is carried only in a form the photo declared, and is never larger than it.
    const meta::GainMap &map = bitmap->gainMap;
    if (!map.empty())
        FUZZ_CHECK((map.xmpForm || !map.iso.empty()) && map.width <= static_cast<std::uint32_t>(bitmap->width) &&
                   map.height <= static_cast<std::uint32_t>(bitmap->height));
    return {bitmap->width, bitmap->height};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (largestFrame(data, size) > kMaxPixels)
        return 0;
    const fs::path input = folder() / "photo.jpg";
    const fs::path output = folder() / "photo.bmp";
    {
        std::ofstream out(input, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char *>(data), static_cast<std::streamsize>(size));
        FUZZ_CHECK(out.good());
    }
    const std::set<std::string> inputOnly{"photo.jpg"};
    const std::set<std::string> inputAndBitmap{"photo.bmp", "photo.jpg"};

    const std::uint32_t handle = ReadFileIntoDIB(input.c_str());
    FUZZ_CHECK(fuzzing::entries(folder()) == inputOnly);
    if (handle == 0)
        return 0;

    // Failures write nothing; success writes one complete bitmap and no temporary beside it.
    FUZZ_CHECK(WriteDIBToFile(handle, output.c_str(), 1) == 0);
    FUZZ_CHECK(WriteDIBToFile(handle, (folder() / "missing" / "photo.bmp").c_str(), 0) == 0);
    FUZZ_CHECK(fuzzing::entries(folder()) == inputOnly);
    FUZZ_CHECK(WriteDIBToFile(handle, output.c_str(), 0) == 1);
    FUZZ_CHECK(fuzzing::entries(folder()) == inputAndBitmap);
    const auto [width, height] = bitmapSize(output);
    FUZZ_CHECK(width > 0 && height > 0);

    // The window offers 10 to 200 % on both axes at once; the library takes 1 to 1000 on each.
    const std::uint32_t h = hashOf(data, size);
    int scaleX = 10 + static_cast<int>(h % 191);
    int scaleY = scaleX;
    if ((h >> 8) % 8 == 0)
        scaleY = 10 + static_cast<int>((h >> 12) % 191);
    if ((h >> 20) % 16 == 0) {
        scaleX = 1 + static_cast<int>((h >> 4) % 1000);
        scaleY = 1 + static_cast<int>((h >> 14) % 1000);
    }
    const std::int64_t newWidth = scaled(width, scaleX);
    const std::int64_t newHeight = scaled(height, scaleY);

    // Out-of-range rates fail and leave the image as it was.
    FUZZ_CHECK(ZoomDIB(handle, 0, scaleY) == 0 && ZoomDIB(handle, scaleX, 1001) == 0);
    std::uint32_t image = handle;
    if (static_cast<std::uint64_t>(newWidth * newHeight) <= kMaxPixels) {
        image = ZoomDIB(handle, scaleX, scaleY);
        FUZZ_CHECK(image != 0 && image != handle);
        // The original is released on success.
        FUZZ_CHECK(ZoomDIB(handle, 100, 100) == 0 && WriteDIBToFile(handle, output.c_str(), 0) == 0);
        FUZZ_CHECK(WriteDIBToFile(image, output.c_str(), 0) == 1);
        FUZZ_CHECK(fuzzing::entries(folder()) == inputAndBitmap);
        FUZZ_CHECK(bitmapSize(output) == std::make_pair(static_cast<int>(newWidth), static_cast<int>(newHeight)));
    }

    DIBFree(image);
    DIBFree(image);  // a second release is ignored
    FUZZ_CHECK(WriteDIBToFile(image, output.c_str(), 0) == 0 && ZoomDIB(image, 100, 100) == 0);
    fs::remove(output);
    return 0;
}
