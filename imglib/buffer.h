// Memory for the library's large blocks: pixels and the bytes of JPEG files.
#pragma once

#include <cstddef>
#include <cstdint>

namespace imglib {

// A block of uninitialised bytes. Blocks of several megabytes are mapped on their own, in 2 MiB
// pages, and kept for the next blocks when released (see buffer.cpp): a photo needs blocks of tens
// of megabytes, and a block mapped afresh costs a page fault and a page cleared by the kernel for
// every page the decoder first writes, a good part of a decode on a virtual machine. Smaller
// blocks come from the usual heap.
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

}  // namespace imglib
