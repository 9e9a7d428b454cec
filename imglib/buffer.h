// Memory for the library's large blocks: pixels and the bytes of JPEG files.
#pragma once

#include <cstddef>
#include <cstdint>

namespace imglib {

// A block of uninitialised bytes. Blocks of several megabytes are mapped on their own and asked
// for in 2 MiB pages: a decoder filling a fresh block then takes one page fault per 2 MiB instead
// of one per 4 KiB, and on a virtual machine the faults of a photo's buffers otherwise cost a
// good part of its decode. Smaller blocks come from the usual heap.
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
