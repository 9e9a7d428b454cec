// The four exported functions: argument checks, the handle table, and one catch-all each so
// that no exception ever reaches the caller.  Each call that computes counts itself among the
// library's computing threads (budget/helpers.h).
#include "imglib/imglib.h"

#include "imglib/bmp_writer.h"
#include "imglib/handle_table.h"
#include "imglib/picture.h"
#include "metadata/carrier.h"
#include "metadata/gain_map.h"

#include "budget/helpers.h"

#include <optional>
#include <span>
#include <vector>

namespace {

constexpr std::int32_t kMinScale = 1;
constexpr std::int32_t kMaxScale = 1000;

}  // namespace

extern "C" {

IMGLIB_API uint32_t ReadFileIntoDIB(const char *path)
{
    const budget::Computing computing;
    try {
        if (path == nullptr || *path == '\0')
            return 0;
        std::shared_ptr<const imglib::Picture> picture = imglib::readPicture(path);
        if (!picture)
            return 0;
        return imglib::handles().add(std::move(picture));
    } catch (...) {
        return 0;
    }
}

IMGLIB_API uint32_t ZoomDIB(uint32_t handle, int32_t scaleX, int32_t scaleY)
{
    const budget::Computing computing;
    try {
        if (scaleX < kMinScale || scaleX > kMaxScale || scaleY < kMinScale || scaleY > kMaxScale)
            return 0;
        auto source = imglib::handles().find(handle);
        if (!source)
            return 0;
        if (source->pixels && imglib::zoomDecodesAgain(*source, scaleX, scaleY)) {
            // The file is decoded again at a reduced size: the full-size pixels go first, so
            // that both never take memory at once.  The image stays what it was: its pixels
            // are decoded again from the same bytes if they are needed after all.
            auto lighter = std::make_shared<imglib::Picture>(*source);
            lighter->pixels.reset();
            if (!imglib::handles().update(handle, lighter))
                return 0;
            source = std::move(lighter);
        }
        std::shared_ptr<const imglib::Picture> result = imglib::zoomPicture(*source, scaleX, scaleY);
        if (!result)
            return 0;
        // The program keeps only the new handle, so the original goes now rather than
        // piling up over a folder of photos.
        return imglib::handles().replace(handle, std::move(result));
    } catch (...) {
        return 0;
    }
}

IMGLIB_API int16_t WriteDIBToFile(uint32_t handle, const char *path, int16_t option)
{
    const budget::Computing computing;
    try {
        if (option != 0 || path == nullptr || *path == '\0')
            return 0;
        const auto picture = imglib::handles().find(handle);
        if (!picture)
            return 0;
        const auto image = imglib::picturePixels(*picture);
        if (!image)
            return 0;
        // The photo's metadata, made to describe this image; each kind dropped when damaged.
        std::vector<std::uint8_t> carried;
        if (picture->metadata)
            carried = meta::carrierBlocks(meta::cleaned(*picture->metadata, static_cast<std::uint32_t>(image->width()),
                                                        static_cast<std::uint32_t>(image->height())));
        const std::vector<std::uint8_t> gainMap =
            picture->gainMap ? meta::gainMapBlock(*picture->gainMap) : std::vector<std::uint8_t>();
        return imglib::writeBmpFile(*image, path, carried, gainMap) ? 1 : 0;
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

}  // extern "C"
