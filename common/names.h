// The name of a bitmap's JPEG: the converter writes it, and "Effacer Bmp" looks for it beside the
// bitmap before it erases that bitmap, so the two must never disagree.
#pragma once

#include <string>
#include <string_view>

namespace common {

// "photo.bmp" -> "photo.jpg": the name without its last extension, then ".jpg". A name without
// an extension, or whose only dot starts it, keeps all of itself.
std::string jpegNameFor(std::string_view bitmapName);

}  // namespace common
