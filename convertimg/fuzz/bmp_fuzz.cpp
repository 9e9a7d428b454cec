// libFuzzer entry point: any bytes through the bitmap reader, and small accepted pictures through the encoder.
#include "bmp_reader.h"
#include "jpeg_writer.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    convertimg::Bitmap bitmap;
    if (convertimg::readBitmap({data, size}, bitmap) != convertimg::BmpError::None)
        return 0;
    if (static_cast<std::uint64_t>(bitmap.width) * static_cast<std::uint64_t>(bitmap.height) <= 200000) {
        convertimg::encodeJpeg(bitmap);
        return 0;
    }
    // Too big to encode at fuzzing speed: still touch both ends of every row.
    unsigned sum = 0;
    const int last = bitmap.width * bitmap.bytesPerPixel() - 1;
    for (int y = 0; y < bitmap.height; ++y)
        sum += bitmap.row(y)[0] + bitmap.row(y)[last];
    return sum == 0xFFFFFFFF ? 1 : 0;
}
