// Reading a file's image up to its end, walking it as it is read.
#include "jpeg_walk.h"

#include "common/regular_file.h"

#include <algorithm>
#include <cstring>

namespace imglib {
namespace {

// A file's bytes are read into a buffer of its size, up to this much at first: what follows the
// image's end is not read, and the buffer grows only as far as the image goes.
constexpr std::size_t kFirstBuffer = std::size_t{64} << 20;
// Read a piece at a time, each walked through before the next is read.
constexpr std::size_t kReadPiece = std::size_t{1} << 20;

}  // namespace

std::optional<std::size_t> readJpegImage(int fd, std::size_t size, Buffer &bytes)
{
    bytes = Buffer(std::min(size, kFirstBuffer));
    std::size_t done = 0;
    JpegWalk walk;
    while (done < size && !walk.ended() && !walk.notJpeg()) {
        if (done == bytes.size()) {
            Buffer larger(std::min(size, 2 * done));
            std::memcpy(larger.data(), bytes.data(), done);
            bytes = std::move(larger);
        }
        const ssize_t n =
            common::readSome(fd, {bytes.data() + done, std::min({kReadPiece, size - done, bytes.size() - done})});
        if (n < 0)
            return std::nullopt;
        if (n == 0)
            break;
        done += static_cast<std::size_t>(n);
        walk.advance({bytes.data(), done});
    }
    return walk.ended() ? walk.end() : done;
}

}  // namespace imglib
