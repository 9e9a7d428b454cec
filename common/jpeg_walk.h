// The structure of a JPEG stream as libjpeg reads it, found without decoding: its segments,
// its scans and where its image ends. Plain C++, for the image library and the window alike.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>

namespace common {

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

    // Told of each scan as it starts, with the payload of its SOS segment (after the length).
    std::function<void(std::span<const std::uint8_t> header)> onScan;
    // Told of each other segment that the stream holds whole, with its marker's code (0xE1 for
    // APP1...) and its payload (after the length).
    std::function<void(std::uint8_t code, std::span<const std::uint8_t> payload)> onSegment;
    // Ends the walk where it stands, for a caller that has seen what it wanted.
    void stop() { where_ = Where::Stopped; }
    // Bytes of entropy-coded data walked through so far, restart markers included.
    std::uint64_t dataBytes() const { return dataBytes_ + (where_ == Where::Data ? at_ - dataStart_ : 0); }

private:
    enum class Where { Start, Segments, Data, Ended, NotJpeg, Stopped };

    // Each returns false when the rest of the step is not in the stream yet.
    bool segmentStep(std::span<const std::uint8_t> stream);
    bool dataStep(std::span<const std::uint8_t> stream);

    Where where_ = Where::Start;
    std::size_t at_ = 0;         // the first byte not walked through yet
    std::size_t dataStart_ = 0;  // in a scan's data: where it starts
    std::uint64_t dataBytes_ = 0;
};

}  // namespace common
