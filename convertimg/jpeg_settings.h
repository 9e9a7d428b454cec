// How the converter codes each photo's JPEG: the two settings, and the rule that picks one.
#pragma once

#include "convertimg/bmp_reader.h"

namespace convertimg {

// None of these changes what a decoder must support: baseline Huffman coding of 8-bit YCbCr with
// the JPEG standard's quantisation tables (its Annex K), which every viewer reads.
struct JpegSettings {
    int quality;              // 1..100: libjpeg's scaling of the Annex K tables
    bool fullChroma;          // colour at the image's own resolution (4:4:4) rather than at half of it (4:2:0)
    bool fittedHuffmanTables; // Huffman tables fitted to the photo, at the cost of one more pass over it
};

// For photos with colour detail finer than two pixels, which 4:2:0 would blur.
inline constexpr JpegSettings fineColourSettings{.quality = 83, .fullChroma = true, .fittedHuffmanTables = false};
// For the others: grey or smooth colour, and photos that were 4:2:0 JPEGs at this size already.
inline constexpr JpegSettings smoothColourSettings{.quality = 90, .fullChroma = false, .fittedHuffmanTables = true};

// fineColourSettings when more than 0.4 % of the 2 x 2 squares of pixels have colour that 4:2:0
// would visibly flatten (pixels straying from the square's mean chroma by more than 8 levels of
// 255 on average), estimated from one square in every 8 x 8 block; else smoothColourSettings.
JpegSettings settingsFor(const Bitmap& bitmap);

} // namespace convertimg
