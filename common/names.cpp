// The JPEG's name after its bitmap's.
#include "common/names.h"

namespace common {

std::string jpegNameFor(std::string_view bitmapName)
{
    const std::size_t dot = bitmapName.rfind('.');
    return std::string(bitmapName.substr(0, dot == 0 || dot == std::string_view::npos ? bitmapName.size() : dot)) +
           ".jpg";
}

}  // namespace common
