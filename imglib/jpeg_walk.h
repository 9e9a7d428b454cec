// Reading a JPEG file's image up to its end, walking it as it comes in.
#pragma once

#include "buffer.h"
#include "common/jpeg_walk.h"

#include <cstddef>
#include <cstdint>
#include <optional>

namespace imglib {

using common::JpegWalk;

// Reads the image at the start of `fd`, a file of `size` bytes, into `bytes` (common::readJpegImage
// says how far): the size of the image, or nothing when the file holds no whole image.  Throws
// std::bad_alloc when memory runs out.
std::optional<std::size_t> readJpegImage(int fd, std::size_t size, Buffer &bytes);

}  // namespace imglib
