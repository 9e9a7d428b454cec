// Reading a JPEG file's image up to its end, walking it as it comes in.
#pragma once

#include "buffer.h"
#include "common/jpeg_walk.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace imglib {

using common::JpegWalk;

// Reads the image at the start of `fd`, a file of `size` bytes, into `bytes`: up to its
// end-of-image marker, so that what may follow (a phone's video, a camera's second image, or
// gigabytes of nothing) is neither read nor held.  A stream without that marker is read to the
// file's end, for libjpeg to find it cut short; one that is no JPEG at all, no further than its
// first piece.  A file that shrinks meanwhile is read as far as it goes; one that grows, as far as
// its size said.  Returns the bytes of the image, or nothing when reading fails.  Throws
// std::bad_alloc when memory runs out.
std::optional<std::size_t> readJpegImage(int fd, std::size_t size, Buffer &bytes);

}  // namespace imglib
