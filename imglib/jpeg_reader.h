// Reads a JPEG file into an upright sRGB image.
#pragma once

#include "image.h"

#include <memory>

namespace imglib {

// Progressive files with more scans than this are refused: real encoders write about ten, and
// each scan of a crafted file can cost a pass over the whole coefficient buffer.
inline constexpr int kMaxScans = 500;

// The image in `path`, or null if the file cannot be read completely and cleanly.  Throws
// std::bad_alloc when memory runs out.
std::unique_ptr<Image> readJpegFile(const char *path);

} // namespace imglib
