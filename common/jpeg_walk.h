// The structure of a JPEG stream as libjpeg reads it, found without decoding: its segments,
// its scans, its frame and where its image ends; and the reading of a file's image up to that end.
// Plain C++, for the image library and the window alike.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>

namespace common {

// A frame header (SOFn) as libjpeg reads it: the image's size and its components' sampling.
struct JpegFrame {
    std::uint64_t width = 0;
    std::uint64_t height = 0;
    bool progressive = false;
    int count = 0;  // components, 1 to 4
    struct Sampling {
        int across = 1;
        int down = 1;
    };
    std::array<Sampling, 4> components{};

    // The 8 x 8 blocks of every component, each rounded up to whole MCUs as libjpeg-turbo
    // allocates them: the most a scan visits.
    std::uint64_t blocks() const;

    // The bytes of the buffer of every DCT coefficient that libjpeg-turbo allocates, and clears,
    // to decode a progressive or multi-scan file: 64 coefficients of 2 bytes (a JBLOCK) for each
    // of blocks(), exactly.  The library's limits and the read-ahead's budget both count it here.
    std::uint64_t coefficientBytes() const { return blocks() * kCoefficientBytesPerBlock; }
    static constexpr std::uint64_t kCoefficientBytesPerBlock = 64 * 2;
};

// Walks a JPEG stream, segment by segment by their lengths, and through each scan's entropy-coded
// data up to the first marker that is not a restart marker, as libjpeg reads it.  It may be fed
// the stream as it is being read: each call gives the stream's first bytes, more of them than the
// call before.
class JpegWalk {
public:
    // Walks on through `stream` as far as it goes, or up to the end-of-image marker.
    void advance(std::span<const std::uint8_t> stream);

    // The end-of-image marker was found: the image is the stream's first end() bytes, and
    // libjpeg reads nothing after them.
    bool ended() const { return where_ == Where::Ended; }
    std::size_t end() const { return at_; }
    // The stream does not start with a start-of-image marker: libjpeg refuses it at once.
    bool notJpeg() const { return where_ == Where::NotJpeg; }
    // The stream has gone on without an end of image for longer than its frame can need: more
    // bytes outside segments (entropy-coded data, restart markers, stray bytes) than the most any
    // coding of its blocks takes, kLooseBytesPerBlock a block, and kLooseBytesBesides.  What
    // follows is not the image's (gigabytes of nothing after a photo cut short, say), and libjpeg
    // would find the image cut short.
    bool outgrown() const;

    // The stream's frame header, once it holds it whole; nothing when the first one is damaged
    // (libjpeg refuses the stream then).
    const std::optional<JpegFrame> &frame() const { return frame_; }

    // Told of each scan as it starts, with the payload of its SOS segment (after the length).
    std::function<void(std::span<const std::uint8_t> header)> onScan;
    // Told of each other segment that the stream holds whole, with its marker's code (0xE1 for
    // APP1...) and its payload (after the length).
    std::function<void(std::uint8_t code, std::span<const std::uint8_t> payload)> onSegment;
    // Ends the walk where it stands, for a caller that has seen what it wanted.
    void stop() { where_ = Where::Stopped; }
    // Bytes of entropy-coded data walked through so far, restart markers included.
    std::uint64_t dataBytes() const { return dataBytes_ + (where_ == Where::Data ? at_ - dataStart_ : 0); }

    // Sequential Huffman coding takes at most 209 bytes a block, 417 with every byte stuffed;
    // encoders write at most 90 (random noise at quality 100 without subsampling), photos 15.
    static constexpr std::uint64_t kLooseBytesPerBlock = 512;
    static constexpr std::uint64_t kLooseBytesBesides = std::uint64_t{1} << 20;

private:
    enum class Where { Start, Segments, Data, Ended, NotJpeg, Stopped };

    // Each returns false when the rest of the step is not in the stream yet.
    bool segmentStep(std::span<const std::uint8_t> stream);
    bool dataStep(std::span<const std::uint8_t> stream);

    Where where_ = Where::Start;
    std::size_t at_ = 0;         // the first byte not walked through yet
    std::size_t dataStart_ = 0;  // in a scan's data: where it starts
    std::uint64_t dataBytes_ = 0;
    std::uint64_t segmentBytes_ = 0;  // of the segments walked over, markers and lengths included
    bool sawFrame_ = false;
    std::optional<JpegFrame> frame_;
};

// Reads the JPEG image at the start of the regular file open as `fd`, at most `size` bytes, a
// piece at a time, each walked through before the next is read: up to its end-of-image marker, so
// that what may follow (a phone's video, a camera's second image, or gigabytes of nothing) is
// neither read nor held.  `room(wanted)` gives room for at least `wanted` bytes, starting with
// those read so far.  Returns the size of the image, or nothing when the file cannot be read, is
// no JPEG, or ends without an end of image, or goes on for longer than its frame can need
// (JpegWalk::outgrown): cut short, it is read no further.  A file that shrinks meanwhile is read as
// far as it goes.  Throws what `room` throws.
std::optional<std::size_t> readJpegImage(int fd, std::uint64_t size,
                                         const std::function<std::span<std::uint8_t>(std::size_t wanted)> &room);

}  // namespace common
