// Reading a file's image up to its end into the library's blocks.
#include "jpeg_walk.h"

#include <algorithm>
#include <cstring>

namespace imglib {
namespace {

// A file's bytes are read into a block of its size, up to this much at first: what follows the
// image's end is not read, and the block grows only as far as the image goes.
constexpr std::size_t kFirstBuffer = std::size_t{64} << 20;

}  // namespace

std::optional<std::size_t> readJpegImage(int fd, std::size_t size, Buffer &bytes)
{
    std::size_t asked = 0;  // the most of the file the block holds so far
    return common::readJpegImage(fd, size, [&](std::size_t wanted) {
        if (wanted > bytes.size()) {
            Buffer larger(std::min(size, std::max({wanted, 2 * bytes.size(), kFirstBuffer})));
            if (asked > 0)
                std::memcpy(larger.data(), bytes.data(), asked);
            bytes = std::move(larger);
        }
        asked = wanted;
        return std::span<std::uint8_t>(bytes.data(), bytes.size());
    });
}

}  // namespace imglib
