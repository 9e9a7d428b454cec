// Reading with the expected scaling prepared on a second core, and scaling that uses it.
#include "imglib/picture.h"

#include "imglib/gain_map_reader.h"
#include "imglib/imglib.h"
#include "imglib/resample.h"

#include "budget/helpers.h"

#include <atomic>
#include <optional>

namespace imglib {
namespace {

// The scaling of the last ZoomDIB call on an image just read, both percents in one value
// (scaleX << 16 | scaleY), or 0 when the next read prepares nothing: after an image just read
// was written unscaled, or scaled beyond IMGLIB_LARGEST_PREPARED_SCALE.  Only a guess of what
// comes next: a wrong guess costs time, never a different result.
std::atomic<std::uint32_t> expected{0};

// Only scales the library prepares are packed, 16 bits each.
static_assert(IMGLIB_LARGEST_PREPARED_SCALE <= 0xFFFF, "a prepared scale must fit 16 bits");

std::uint32_t packScaling(std::int32_t scaleX, std::int32_t scaleY)
{
    return static_cast<std::uint32_t>(scaleX) << 16 | static_cast<std::uint32_t>(scaleY);
}

// Decodes a JPEG at the size decodeEighths() chooses for a scaling and scales it, starting
// on a helper thread, when a core is free for one, as soon as the first rows are decoded.
class ScalingDecode final : public DecodeListener {
public:
    ScalingDecode(std::int32_t scaleX, std::int32_t scaleY) : scaleX_(scaleX), scaleY_(scaleY) {}

    ~ScalingDecode() override
    {
        progress_.abandon();
        helper_.wait();
    }

    ScalingDecode(const ScalingDecode &) = delete;
    ScalingDecode &operator=(const ScalingDecode &) = delete;

    int eighths(int width, int height) override
    {
        outWidth_ = scaledSize(width, scaleX_);
        outHeight_ = scaledSize(height, scaleY_);
        // A result too large to hold is not prepared; ZoomDIB will refuse it.
        active_ = imageBytes(outWidth_, outHeight_).has_value();
        return active_ ? decodeEighths(scaleX_, scaleY_) : 8;
    }

    void started(const std::shared_ptr<const Image> &image) override
    {
        if (!active_)
            return;
        decoded_ = image;
        const int width = static_cast<int>(outWidth_), height = static_cast<int>(outHeight_);
        // When the reduction left after the decode still averages blocks first (below about
        // 3 % at equal rates), the scaling waits for the whole decode.
        if (needsShrink(image->width(), image->height(), width, height))
            return;
        resizer_.emplace(*image, width, height);
        // Without a helper, finish() does it all.
        if (resizer_->worthSharing())
            helper_ = budget::Helper::start([this] { resizer_->work(1, &progress_); });
    }

    void rowsDone(int rows) override { progress_.publish(rows); }

    // The scaled image, once the decode has succeeded; null when nothing was prepared.
    std::unique_ptr<Image> finish()
    {
        if (!active_ || !decoded_)
            return nullptr;
        if (!resizer_)
            return resize(*decoded_, static_cast<int>(outWidth_), static_cast<int>(outHeight_));
        resizer_->work(0, &progress_);
        helper_.wait();
        return resizer_->take();
    }

    bool active() const { return active_; }

private:
    std::int32_t scaleX_;
    std::int32_t scaleY_;
    std::int64_t outWidth_ = 0;
    std::int64_t outHeight_ = 0;
    bool active_ = false;
    std::shared_ptr<const Image> decoded_;  // kept alive until the helper has stopped
    RowProgress progress_;
    std::optional<Resizer> resizer_;
    budget::Helper helper_;  // last: stopped and waited for before anything it uses goes
};

// Decodes at full size, telling nobody.
class FullDecode final : public DecodeListener {};

// The scaling of a JPEG file, decoded for it; null if the decode fails.
std::shared_ptr<const Image> decodeScaled(const JpegFile &file, std::int32_t scaleX, std::int32_t scaleY)
{
    ScalingDecode scaling(scaleX, scaleY);
    int width = 0, height = 0;
    if (!decodeJpeg(file, scaling, width, height) || !scaling.active())
        return nullptr;
    return scaling.finish();
}

}  // namespace

std::int64_t scaledSize(int size, std::int32_t percent)
{
    const std::int64_t n = (static_cast<std::int64_t>(size) * percent + 50) / 100;
    return n < 1 ? 1 : n;
}

int decodeEighths(std::int32_t scaleX, std::int32_t scaleY)
{
    const std::int32_t largest = std::max(scaleX, scaleY);
    for (int eighths : {1, 2, 4}) {
        // eighths / 8 >= kFilterReduction * largest / 100
        if (eighths * 100 >= kFilterReduction * 8 * largest)
            return eighths;
    }
    return 8;
}

std::shared_ptr<const Picture> readPicture(const char *path)
{
    auto jpeg = loadJpegFile(path);
    if (!jpeg)
        return nullptr;
    auto picture = std::make_shared<Picture>();
    const std::uint32_t scaling = expected.load(std::memory_order_relaxed);
    std::shared_ptr<const Image> decoded;
    if (scaling != 0) {
        const auto scaleX = static_cast<std::int32_t>(scaling >> 16);
        const auto scaleY = static_cast<std::int32_t>(scaling & 0xFFFF);
        ScalingDecode prepare(scaleX, scaleY);
        decoded = decodeJpeg(*jpeg, prepare, picture->width, picture->height, &picture->metadata);
        if (!decoded)
            return nullptr;
        if (prepare.active()) {
            picture->prepared = prepare.finish();
            picture->preparedX = scaleX;
            picture->preparedY = scaleY;
        }
    } else {
        FullDecode full;
        decoded = decodeJpeg(*jpeg, full, picture->width, picture->height, &picture->metadata);
        if (!decoded)
            return nullptr;
    }
    picture->density = decoded->density;
    picture->gainMap = readGainMap(path, *jpeg, picture->metadata.get(), picture->width, picture->height);
    // A decode at full size is the image itself; a reduced one served only the scaling.
    if (decoded->width() == picture->width && decoded->height() == picture->height)
        picture->pixels = std::move(decoded);
    picture->jpeg = std::move(jpeg);
    return picture;
}

std::shared_ptr<const Picture> zoomPicture(const Picture &picture, std::int32_t scaleX, std::int32_t scaleY)
{
    const std::int64_t width = scaledSize(picture.width, scaleX);
    const std::int64_t height = scaledSize(picture.height, scaleY);
    if (!imageBytes(width, height))
        return nullptr;
    std::shared_ptr<const Image> scaled;
    if (picture.jpeg) {
        // Only the window's rates are prepared on the next read.
        const bool windowRates = scaleX <= IMGLIB_LARGEST_PREPARED_SCALE && scaleY <= IMGLIB_LARGEST_PREPARED_SCALE;
        expected.store(windowRates ? packScaling(scaleX, scaleY) : 0, std::memory_order_relaxed);
        if (zoomDecodesAgain(picture, scaleX, scaleY))
            scaled = decodeScaled(*picture.jpeg, scaleX, scaleY);
        else if (picture.prepared && picture.preparedX == scaleX && picture.preparedY == scaleY)
            scaled = picture.prepared;
        else
            scaled = resize(*picture.pixels, static_cast<int>(width), static_cast<int>(height));
    } else {
        scaled = resize(*picture.pixels, static_cast<int>(width), static_cast<int>(height));
    }
    if (!scaled)
        return nullptr;
    auto result = std::make_shared<Picture>();
    result->width = scaled->width();
    result->height = scaled->height();
    result->density = picture.density;
    result->metadata = picture.metadata;
    if (picture.gainMap)
        result->gainMap = scaleGainMap(*picture.gainMap, scaleX, scaleY);
    result->pixels = std::move(scaled);
    return result;
}

bool zoomDecodesAgain(const Picture &picture, std::int32_t scaleX, std::int32_t scaleY)
{
    if (!picture.jpeg)
        return false;
    if (picture.prepared && picture.preparedX == scaleX && picture.preparedY == scaleY)
        return false;
    return !picture.pixels || decodeEighths(scaleX, scaleY) < 8;
}

std::shared_ptr<const Image> picturePixels(const Picture &picture)
{
    if (picture.jpeg)  // an image written as it was read: the next one will likely be too
        expected.store(0, std::memory_order_relaxed);
    if (picture.pixels)
        return picture.pixels;
    FullDecode full;
    int width = 0, height = 0;
    return decodeJpeg(*picture.jpeg, full, width, height);
}

void forgetExpectedScaling()
{
    expected.store(0, std::memory_order_relaxed);
}

}  // namespace imglib
