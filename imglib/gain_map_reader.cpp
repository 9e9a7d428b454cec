// Reading a gain map after its photo, as the Ultra HDR format (v1.1) lays it out, and scaling it.
#include "imglib/gain_map_reader.h"

#include "imglib/picture.h"
#include "imglib/resample.h"
#include "metadata/exif.h"
#include "metadata/xmp.h"

#include "common/jpeg_walk.h"
#include "common/mpf.h"
#include "common/regular_file.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <new>
#include <optional>
#include <span>

#include <unistd.h>

namespace imglib {
namespace {

// The images after the photo that are looked into for a map: phones list one, a camera's second
// image or a depth map may come first.
constexpr std::size_t kMaxCandidates = 4;
// A map's file is no larger than a photo's may be (jpeg_reader.cpp's limit).
constexpr std::uint64_t kMaxMapFileBytes = 2 * kMaxImageBytes;
// "The gain map needs a similar aspect ratio to the primary image": readers resample a map
// whose proportions differ by more than 1 % to the photo's first, which we do not.
constexpr double kAspectTolerance = 0.01;

bool startsWith(std::span<const std::uint8_t> payload, std::string_view id)
{
    return payload.size() >= id.size() && std::equal(id.begin(), id.end(), payload.begin());
}

// The first APP1 XMP and APP2 ISO 21496-1 payloads of a JPEG stream, before its first scan.
struct FormSegments {
    std::vector<std::uint8_t> xmp;
    std::vector<std::uint8_t> iso;
};

FormSegments formSegmentsOf(std::span<const std::uint8_t> stream)
{
    FormSegments found;
    common::JpegWalk walk;
    walk.onSegment = [&](std::uint8_t code, std::span<const std::uint8_t> payload) {
        if (code == 0xE1 && found.xmp.empty() && startsWith(payload, meta::kXmpId))
            found.xmp.assign(payload.begin(), payload.end());
        else if (code == 0xE2 && found.iso.empty() && startsWith(payload, meta::kIsoGainMapId))
            found.iso.assign(payload.begin(), payload.end());
    };
    walk.onScan = [&](std::span<const std::uint8_t>) { walk.stop(); };
    walk.advance(stream);
    return found;
}

// Exactly `size` bytes of `fd` from `start`, or nothing.
bool readAt(int fd, std::uint64_t start, std::uint8_t *into, std::size_t size)
{
    for (std::size_t done = 0; done < size;) {
        const ssize_t got = pread(fd, into + done, size - done, static_cast<off_t>(start + done));
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return false;
        done += static_cast<std::size_t>(got);
    }
    return true;
}

// The bytes of an image the index lists, when they lie in the file and start a JPEG stream.
std::shared_ptr<JpegFile> imageBytesAt(const common::RegularFile &file, const common::MpfImage &image)
{
    const std::uint64_t fileSize = file.size();
    if (image.start > fileSize || image.size > fileSize - image.start || image.size > kMaxMapFileBytes ||
        image.size < 4)
        return nullptr;
    std::uint8_t soi[2];
    if (!readAt(file.fd.get(), image.start, soi, 2) || soi[0] != 0xFF || soi[1] != 0xD8)
        return nullptr;
    auto bytes = std::make_shared<JpegFile>();
    bytes->bytes = budget::Buffer(static_cast<std::size_t>(image.size));
    bytes->size = static_cast<std::size_t>(image.size);
    if (!readAt(file.fd.get(), image.start, bytes->bytes.data(), bytes->size))
        return nullptr;
    return bytes;
}

// The stored pixels turned by `orientation` (1 to 8), as the photo's are.
std::vector<std::uint8_t> upright(const DecodedGainMap &map, int orientation, std::uint32_t &width,
                                  std::uint32_t &height)
{
    const std::uint32_t w = map.width, h = map.height;
    const bool turns = meta::swapsAxes(orientation);
    width = turns ? h : w;
    height = turns ? w : h;
    if (orientation <= 1 || orientation > 8)
        return map.pixels;
    std::vector<std::uint8_t> out(map.pixels.size());
    const std::size_t channels = map.channels;
    for (std::uint32_t y = 0; y < h; ++y) {
        for (std::uint32_t x = 0; x < w; ++x) {
            std::uint32_t u = x, v = y;
            switch (orientation) {
            case 2: u = w - 1 - x; break;
            case 3:
                u = w - 1 - x;
                v = h - 1 - y;
                break;
            case 4: v = h - 1 - y; break;
            case 5:
                u = y;
                v = x;
                break;
            case 6:
                u = h - 1 - y;
                v = x;
                break;
            case 7:
                u = h - 1 - y;
                v = w - 1 - x;
                break;
            case 8:
                u = y;
                v = w - 1 - x;
                break;
            }
            std::memcpy(&out[(std::size_t{v} * width + u) * channels], &map.pixels[(std::size_t{y} * w + x) * channels],
                        channels);
        }
    }
    return out;
}

bool similarProportions(std::uint64_t mapWidth, std::uint64_t mapHeight, std::uint64_t width, std::uint64_t height)
{
    const double map = static_cast<double>(mapWidth) / static_cast<double>(mapHeight);
    const double photo = static_cast<double>(width) / static_cast<double>(height);
    return std::abs(map - photo) <= kAspectTolerance * photo;
}

// The primary's ISO 21496-1 version block, when it has one.
std::vector<std::uint8_t> isoVersionOf(const JpegFile &photo)
{
    return formSegmentsOf({photo.bytes.data(), photo.size}).iso;
}

std::shared_ptr<const meta::GainMap> readGainMapOrThrow(const char *path, const JpegFile &photo,
                                                        const meta::Metadata *metadata, int width, int height)
{
    const std::vector<common::MpfImage> images = common::mpfImages({photo.bytes.data(), photo.size});
    if (images.empty())
        return nullptr;
    const bool xmpDeclared = metadata != nullptr && meta::declaresGainMap(metadata->xmp);
    std::vector<std::uint8_t> isoVersion = isoVersionOf(photo);
    const bool isoDeclared = meta::isoVersionUsable(isoVersion);
    if (!xmpDeclared && !isoDeclared)
        return nullptr;
    const int orientation = metadata != nullptr ? meta::orientation(metadata->exif) : 1;
    const bool turns = meta::swapsAxes(orientation);
    const auto storedWidth = static_cast<std::uint64_t>(turns ? height : width);
    const auto storedHeight = static_cast<std::uint64_t>(turns ? width : height);

    const common::RegularFile file = common::openRegularFile(path, common::kNoLimit);
    if (!file || common::identityOf(file.status) != photo.identity)
        return nullptr;  // not the file the photo was read from any more
    for (std::size_t i = 0; i < images.size() && i < kMaxCandidates; ++i) {
        const std::shared_ptr<JpegFile> bytes = imageBytesAt(file, images[i]);
        if (!bytes)
            continue;
        FormSegments forms = formSegmentsOf({bytes->bytes.data(), bytes->size});
        std::optional<meta::GainMapValues> xmp = xmpDeclared ? meta::xmpGainMapValues(forms.xmp) : std::nullopt;
        const std::optional<meta::GainMapValues> iso = isoDeclared ? meta::isoGainMapValues(forms.iso) : std::nullopt;
        if (!xmp && !iso)
            continue;  // not a gain map, or in no form we may read: maybe the next image is
        // The first gain map found is the photo's; anything wrong with it, and it has none.
        const std::optional<DecodedGainMap> decoded = decodeGainMap(*bytes, storedWidth, storedHeight);
        if (!decoded || !similarProportions(decoded->width, decoded->height, storedWidth, storedHeight))
            return nullptr;
        // The photo's colours become sRGB.  A gain the same on every channel commutes with that
        // conversion, and so does a map applied in its own alternate colours (ISO, with the map's
        // profile kept): the HDR rendition stays exact.  Gains per channel applied in the photo's
        // old colours would now be applied in sRGB's, which XMP cannot say otherwise.
        const bool uniform =
            decoded->channels == 1 && (!xmp || xmp->sameOnEveryChannel()) && (!iso || iso->sameOnEveryChannel());
        if (!uniform && convertsColours(photo)) {
            if (!iso || iso->useBaseColourSpace || decoded->icc.empty())
                return nullptr;
            xmp.reset();  // its readers would apply the map in sRGB
        }
        auto map = std::make_shared<meta::GainMap>();
        map->pixels = upright(*decoded, orientation, map->width, map->height);
        map->channels = decoded->channels;
        map->xmpForm = xmp.has_value();
        if (xmp)
            map->xmp = std::move(forms.xmp);
        if (iso) {
            map->isoVersion = std::move(isoVersion);
            map->iso = std::move(forms.iso);
        }
        map->icc = decoded->icc;
        return map;
    }
    return nullptr;
}

}  // namespace

std::shared_ptr<const meta::GainMap> readGainMap(const char *path, const JpegFile &photo,
                                                 const meta::Metadata *metadata, int width, int height)
{
    try {
        return readGainMapOrThrow(path, photo, metadata, width, height);
    } catch (const std::bad_alloc &) {
        throw;
    } catch (...) {
        return nullptr;  // the photo is read without its map, never refused for it
    }
}

std::shared_ptr<const meta::GainMap> scaleGainMap(const meta::GainMap &map, std::int32_t scaleX, std::int32_t scaleY)
{
    // The resampler works on three channels: a grey map goes through as three equal ones.
    Image in(static_cast<int>(map.width), static_cast<int>(map.height));
    const std::size_t channels = map.channels;
    for (std::uint32_t y = 0; y < map.height; ++y) {
        std::uint8_t *row = in.row(static_cast<int>(y));
        const std::uint8_t *from = map.pixels.data() + std::size_t{y} * map.width * channels;
        for (std::uint32_t x = 0; x < map.width; ++x)
            for (std::size_t c = 0; c < 3; ++c)
                row[x * 3 + c] = from[x * channels + (channels == 1 ? 0 : c)];
    }
    const std::unique_ptr<Image> out = resize(in, static_cast<int>(scaledSize(static_cast<int>(map.width), scaleX)),
                                              static_cast<int>(scaledSize(static_cast<int>(map.height), scaleY)));
    auto scaled = std::make_shared<meta::GainMap>();
    scaled->channels = map.channels;
    scaled->xmpForm = map.xmpForm;
    scaled->isoVersion = map.isoVersion;
    scaled->xmp = map.xmp;
    scaled->iso = map.iso;
    scaled->icc = map.icc;
    scaled->width = static_cast<std::uint32_t>(out->width());
    scaled->height = static_cast<std::uint32_t>(out->height());
    scaled->pixels.resize(std::size_t{scaled->width} * scaled->height * channels);
    for (std::uint32_t y = 0; y < scaled->height; ++y) {
        const std::uint8_t *row = out->row(static_cast<int>(y));
        std::uint8_t *to = scaled->pixels.data() + std::size_t{y} * scaled->width * channels;
        for (std::uint32_t x = 0; x < scaled->width; ++x)
            for (std::size_t c = 0; c < channels; ++c)
                to[x * channels + c] = row[x * 3 + c];
    }
    return scaled;
}

}  // namespace imglib
