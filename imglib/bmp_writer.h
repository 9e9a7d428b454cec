// Writes an image as a 24-bit Windows bitmap file, replacing the destination in one step.
#pragma once

#include "image.h"

namespace imglib {

// Writes `image` to `path` through a temporary file in the same folder, renamed over `path`
// once complete.  False on any failure, after removing the temporary file; the destination is
// then left as it was.
bool writeBmpFile(const Image &image, const char *path);

} // namespace imglib
