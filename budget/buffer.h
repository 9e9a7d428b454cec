// Memory kept for the next photo: the one block cache of a process, for its large blocks (the image
// library's pixels, the bytes of the files it reads and libjpeg-turbo's coefficients; the bytes of
// the bitmaps the converter reads).
#pragma once

#include <cstddef>
#include <cstdint>

namespace budget {

// A block of uninitialised bytes. Blocks of 256 KiB or more are mapped on their own, in 2 MiB
// pages, and kept for the next blocks when released (see buffer.cpp): a photo needs blocks of up
// to tens of megabytes, and a block mapped afresh costs a page fault and a page cleared by the
// kernel for every page first written, a good part of a decode on a virtual machine and a fifth
// of a conversion. Smaller blocks come from the usual heap, which keeps what is freed itself.
class Buffer {
public:
    Buffer() = default;
    // Throws std::bad_alloc.
    explicit Buffer(std::size_t bytes);
    ~Buffer();
    Buffer(Buffer &&other) noexcept;
    Buffer &operator=(Buffer &&other) noexcept;
    Buffer(const Buffer &) = delete;
    Buffer &operator=(const Buffer &) = delete;

    std::uint8_t *data() const { return data_; }
    std::size_t size() const { return size_; }  // at least the bytes asked for
    explicit operator bool() const { return data_ != nullptr; }

private:
    void release() noexcept;

    std::uint8_t *data_ = nullptr;
    std::size_t size_ = 0;
    bool mapped_ = false;
};

}  // namespace budget
