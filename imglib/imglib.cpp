// The four exported functions: argument checks, the handle table, and one catch-all each so
// that no exception ever reaches the caller.
#include "imglib.h"

#include "bmp_writer.h"
#include "handle_table.h"
#include "jpeg_reader.h"
#include "resample.h"

namespace {

constexpr std::int32_t kMinScale = 1;
constexpr std::int32_t kMaxScale = 1000;

// round(size * percent / 100), at least 1; inputs are at most 2^30 and 1000.
std::int64_t scaled(int size, std::int32_t percent)
{
    const std::int64_t n = (static_cast<std::int64_t>(size) * percent + 50) / 100;
    return n < 1 ? 1 : n;
}

} // namespace

extern "C" {

IMGLIB_API uint32_t ReadFileIntoDIB(const char *path)
{
    try {
        if (path == nullptr || *path == '\0')
            return 0;
        std::shared_ptr<const imglib::Image> image = imglib::readJpegFile(path);
        if (!image)
            return 0;
        return imglib::handles().add(std::move(image));
    } catch (...) {
        return 0;
    }
}

IMGLIB_API uint32_t ZoomDIB(uint32_t handle, int32_t scaleX, int32_t scaleY)
{
    try {
        if (scaleX < kMinScale || scaleX > kMaxScale || scaleY < kMinScale || scaleY > kMaxScale)
            return 0;
        const auto source = imglib::handles().find(handle);
        if (!source)
            return 0;
        const std::int64_t width = scaled(source->width(), scaleX);
        const std::int64_t height = scaled(source->height(), scaleY);
        if (!imglib::imageBytes(width, height))
            return 0;
        std::shared_ptr<const imglib::Image> result =
            imglib::resize(*source, static_cast<int>(width), static_cast<int>(height));
        // The program keeps only the new handle, so the original goes now rather than
        // piling up over a folder of photos.
        return imglib::handles().replace(handle, std::move(result));
    } catch (...) {
        return 0;
    }
}

IMGLIB_API int16_t WriteDIBToFile(uint32_t handle, const char *path, int16_t option)
{
    try {
        if (option != 0 || path == nullptr || *path == '\0')
            return 0;
        const auto image = imglib::handles().find(handle);
        if (!image)
            return 0;
        return imglib::writeBmpFile(*image, path) ? 1 : 0;
    } catch (...) {
        return 0;
    }
}

IMGLIB_API void DIBFree(uint32_t handle)
{
    try {
        imglib::handles().remove(handle);
    } catch (...) {
        // Nothing to report: releasing never fails in a way the caller could act on.
    }
}

} // extern "C"
