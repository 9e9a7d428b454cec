// libFuzzer target: any bytes through the converter's bitmap reader and the search for the
// metadata blocks at its end, accepted pictures through its JPEG encoder, and the same bytes as a file
// through the whole conversion of one file.
#include "common/bmp_layout.h"
#include "convertimg/bmp_reader.h"
#include "convertimg/convert.h"
#include "convertimg/jpeg_writer.h"
#include "convertimg/metadata_carrier.h"
#include "tests/fuzz/fuzz_check.h"
#include "tests/fuzz/metadata_check.h"
#include "tests/support/testimages.h"

#include <turbojpeg.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

// Larger pictures take too long to encode at fuzzing speed; for them only the rows are read.
constexpr std::uint64_t kMaxEncodedPixels = 200000;
// JPEG holds at most 65535 pixels across and down; libjpeg-turbo refuses more than 65500.
constexpr int kMaxJpegSide = 65500;

// A few run-length codes may describe a huge picture, and reading it takes time linear in its
// pixels: past this many a single input takes seconds under the sanitizers (over the 10 s limit on
// a busy machine) and the fuzzer spends its time there instead of in new paths. The unit tests
// cover every code on small pictures. Uncompressed files must hold their pixels, so the input's
// size already bounds theirs.
constexpr std::uint64_t kMaxRunLengthPixels = std::uint64_t{1} << 22;

// Width * height declared by a run-length-encoded bitmap (BI_RLE8 or BI_RLE4), or 0 for any other input.
std::uint64_t runLengthPixels(const std::uint8_t *data, std::size_t size)
{
    using bmp::infoAt;
    const auto le32 = [data](std::size_t at) { return bmp::get32(data + at); };
    const std::size_t compression = infoAt(bmp::info::compression);
    if (size < compression + 4 ||
        (le32(compression) != bmp::compression::rle8 && le32(compression) != bmp::compression::rle4))
        return 0;
    const auto side = [&le32](std::size_t at) {  // a negative height means top-down
        const std::int64_t v = static_cast<std::int32_t>(le32(at));
        return static_cast<std::uint64_t>(v < 0 ? -v : v);
    };
    return side(infoAt(bmp::info::width)) * side(infoAt(bmp::info::height));
}

// Width and height of a JPEG held in memory, or {0, 0} when libjpeg-turbo cannot read its header.
std::pair<int, int> jpegSize(std::span<const std::uint8_t> jpeg)
{
    tjhandle tj = tjInitDecompress();
    int width = 0, height = 0, subsampling = 0, colourspace = 0;
    if (tjDecompressHeader3(tj, jpeg.data(), static_cast<unsigned long>(jpeg.size()), &width, &height, &subsampling,
                            &colourspace) != 0)
        width = height = 0;
    tjDestroy(tj);
    return {width, height};
}

const fs::path &folder()
{
    static const testimages::TempDir dir;
    return dir.path();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (runLengthPixels(data, size) > kMaxRunLengthPixels)
        return 0;
    convertimg::Bitmap bitmap;
    const convertimg::BmpError error = convertimg::readBitmap({data, size}, bitmap);
    if (error != convertimg::BmpError::None) {
        FUZZ_CHECK(bitmap.width == 0 && bitmap.height == 0);
        FUZZ_CHECK(!convertimg::describe(error).empty());
    } else {
        FUZZ_CHECK(bitmap.width > 0 && bitmap.height > 0);
        FUZZ_CHECK(static_cast<std::uint64_t>(bitmap.width) * bitmap.height * 3 <= convertimg::maxDecodedBytes);
    }
    const std::uint64_t pixels = static_cast<std::uint64_t>(bitmap.width) * static_cast<std::uint64_t>(bitmap.height);
    const bool encodable = bitmap.width <= kMaxJpegSide && bitmap.height <= kMaxJpegSide;
    if (pixels > kMaxEncodedPixels) {
        // Still touch both ends of every row, where a wrong stride or offset would show.
        unsigned sum = 0;
        const int last = bitmap.width * bitmap.bytesPerPixel() - 1;
        for (int y = 0; y < bitmap.height; ++y)
            sum += bitmap.row(y)[0] + bitmap.row(y)[last];
        return sum == 0xFFFFFFFF ? 1 : 0;
    }
    if (error == convertimg::BmpError::None) {
        // Whatever metadata the file carries comes out fit for its segments, with no location,
        // and cleaning it again changes nothing.
        const meta::Metadata metadata = convertimg::carriedMetadataFor({data, size}, bitmap);
        fuzzing::checkCleaned(metadata, static_cast<std::uint32_t>(bitmap.width),
                              static_cast<std::uint32_t>(bitmap.height));
        const convertimg::JpegData jpeg = convertimg::encodeJpeg(bitmap, metadata);
        FUZZ_CHECK(static_cast<bool>(jpeg) == encodable);
        FUZZ_CHECK(static_cast<bool>(jpeg) == jpeg.error().empty());
        if (jpeg)
            FUZZ_CHECK(jpegSize(jpeg.bytes()) == std::make_pair(bitmap.width, bitmap.height));
    }

    // The whole file conversion: a complete JPEG with no location in its EXIF when the bitmap is
    // good, otherwise a reason and nothing left in the folder but the bitmap.
    const fs::path input = folder() / "photo.bmp";
    testimages::writeFile(input, std::vector<std::uint8_t>(data, data + size));
    convertimg::ConvertSettings settings;
    settings.outDir = folder().string();
    settings.replace = true;
    const convertimg::FileResult result = convertimg::convertFile(input.string(), "photo.jpg", settings);
    const bool converted = result.outcome == convertimg::Outcome::Converted;
    FUZZ_CHECK(converted == (error == convertimg::BmpError::None && encodable));
    FUZZ_CHECK(converted == result.message.empty());
    if (converted) {
        FUZZ_CHECK((fuzzing::entries(folder()) == std::set<std::string>{"photo.bmp", "photo.jpg"}));
        const auto jpeg = fuzzing::readAll(folder() / "photo.jpg");
        FUZZ_CHECK(jpegSize(jpeg) == std::make_pair(bitmap.width, bitmap.height));
        FUZZ_CHECK(!testimages::reachesLocation(testimages::exifOfJpeg(jpeg)));
        const std::vector<std::uint8_t> xmp = testimages::xmpOfJpeg(jpeg);
        FUZZ_CHECK(xmp.empty() || fuzzing::locatesNothing(xmp));
        fs::remove(folder() / "photo.jpg");
    } else {
        FUZZ_CHECK(result.outcome == convertimg::Outcome::Failed);
        FUZZ_CHECK(fuzzing::entries(folder()) == std::set<std::string>{"photo.bmp"});
    }
    return 0;
}
