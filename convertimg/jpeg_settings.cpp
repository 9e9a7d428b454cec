// The converter's JPEG settings and the rule between them, chosen with butteraugli on real photos.
#include "convertimg/jpeg_settings.h"

#include <cstdint>
#include <cstdlib>

namespace convertimg {

namespace {

// Why these (README, "Performance", has the measures: butteraugli distances of each JPEG to the
// bitmap it was made from, on the benchmark's photos at 50, 25 and 100 %, at the total size that
// quality 90 at 4:2:0 gives):
// - On photos with fine colour detail, 4:2:0 makes most of the visible error; 4:4:4 at quality 83
//   has about a fifth less in the same bytes. Where 4:2:0 loses nothing visible, the bytes serve
//   luminance better. And a photo that was a 4:2:0 JPEG, written back at its own size at quality
//   90 and 4:2:0, comes out nearly as it was: at 100 %, 4:4:4 for every photo was 7 % worse.
// - Fitting the Huffman tables to a 4:4:4 photo saves 8 % of its bytes, but its conversion then
//   takes 1.3 to 1.6 times as long as one at 4:2:0 with fitted tables; with the standard tables,
//   two thirds as long.
// - Progressive coding saves 2 % more than fitted tables alone, for 50 to 70 % more time.
// - The published alternatives to the Annex K tables (flat, ImageMagick's, those tuned for MS-SSIM
//   or PSNR-HVS-M, those of Klein, Silverstein and Carney, of Watson and of Ahumada, Watson and
//   Peterson, as mozjpeg ships them) did better only with fitted Huffman tables.
constexpr double fineColourThreshold = 0.004;

// Chroma times 256, without its offset: JFIF's Cb and Cr weights rounded so that grey is 0.
struct Chroma {
    int cb;
    int cr;
};

Chroma chromaOf(const std::uint8_t* bgr)
{
    const int b = bgr[0], g = bgr[1], r = bgr[2];
    return {-43 * r - 85 * g + 128 * b, 128 * r - 107 * g - 21 * b};
}

// The four deviations from the square's mean are summed four times over (4 c - sum), in chroma
// times 256: 8 levels on average over Cb and Cr of four pixels are then 8 * 4 * 4 * 256.
constexpr int visibleDeviation = 8 * 4 * 4 * 256;

bool hasFineColour(const std::uint8_t* top, const std::uint8_t* bottom, int bytesPerPixel)
{
    const Chroma c[4] = {chromaOf(top), chromaOf(top + bytesPerPixel), chromaOf(bottom),
                         chromaOf(bottom + bytesPerPixel)};
    const int sumCb = c[0].cb + c[1].cb + c[2].cb + c[3].cb;
    const int sumCr = c[0].cr + c[1].cr + c[2].cr + c[3].cr;
    int deviation = 0;
    for (const Chroma& p : c)
        deviation += std::abs(4 * p.cb - sumCb) + std::abs(4 * p.cr - sumCr);
    return deviation > visibleDeviation;
}

// The share is estimated from the square in the middle of every 8 x 8 block, which is a sixteenth
// of the work (counting every square took a quarter of the converter's time) and stays away from
// the block edges, where a photo that was a JPEG before has steps of chroma of its own.
constexpr int blockSize = 8;
constexpr int sampleOffset = 4;

double fineColourShare(const Bitmap& bitmap)
{
    const int bytesPerPixel = bitmap.bytesPerPixel();
    std::int64_t squares = 0;
    std::int64_t fine = 0;
    for (int y = sampleOffset; y + 1 < bitmap.height; y += blockSize) {
        const std::uint8_t* top = bitmap.row(y);
        const std::uint8_t* bottom = bitmap.row(y + 1);
        for (int x = sampleOffset; x + 1 < bitmap.width; x += blockSize) {
            const std::ptrdiff_t offset = static_cast<std::ptrdiff_t>(x) * bytesPerPixel;
            fine += hasFineColour(top + offset, bottom + offset, bytesPerPixel) ? 1 : 0;
            ++squares;
        }
    }
    return squares == 0 ? 0.0 : static_cast<double>(fine) / static_cast<double>(squares);
}

} // namespace

JpegSettings settingsFor(const Bitmap& bitmap)
{
    return fineColourShare(bitmap) > fineColourThreshold ? fineColourSettings : smoothColourSettings;
}

} // namespace convertimg
