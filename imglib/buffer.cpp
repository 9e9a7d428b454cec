// Large blocks mapped in 2 MiB pages, small ones from the heap.
#include "buffer.h"

#include <new>
#include <utility>

#include <sys/mman.h>

namespace imglib {
namespace {

constexpr std::size_t kHugePage = std::size_t{2} << 20;
// Below this a block is not worth a mapping of its own: the heap keeps freed memory itself.
constexpr std::size_t kMappedFrom = std::size_t{4} << 20;

std::size_t roundUp(std::size_t bytes, std::size_t unit)
{
    return (bytes + unit - 1) / unit * unit;
}

// A mapping of `bytes` (a multiple of 2 MiB) that starts on a 2 MiB boundary, so that the
// kernel can back all of it with huge pages: one 2 MiB more is mapped, and what lies outside the
// aligned part given back at once.
std::uint8_t *mapAligned(std::size_t bytes)
{
    void *mapped = ::mmap(nullptr, bytes + kHugePage, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (mapped == MAP_FAILED)
        throw std::bad_alloc();
    auto *start = static_cast<std::uint8_t *>(mapped);
    const auto address = reinterpret_cast<std::uintptr_t>(start);
    const std::size_t head = roundUp(address, kHugePage) - address;
    if (head > 0)
        ::munmap(start, head);
    if (kHugePage - head > 0)
        ::munmap(start + head + bytes, kHugePage - head);
    // Only advice: where huge pages are off, the block is mapped in small pages all the same.
    ::madvise(start + head, bytes, MADV_HUGEPAGE);
    return start + head;
}

}  // namespace

Buffer::Buffer(std::size_t bytes)
{
    if (bytes >= kMappedFrom) {
        size_ = roundUp(bytes, kHugePage);
        data_ = mapAligned(size_);
        mapped_ = true;
    } else {
        data_ = new std::uint8_t[bytes == 0 ? 1 : bytes];
        size_ = bytes;
    }
}

Buffer::~Buffer()
{
    release();
}

Buffer::Buffer(Buffer &&other) noexcept
    : data_(std::exchange(other.data_, nullptr)), size_(std::exchange(other.size_, 0)),
      mapped_(std::exchange(other.mapped_, false))
{}

Buffer &Buffer::operator=(Buffer &&other) noexcept
{
    if (this != &other) {
        release();
        data_ = std::exchange(other.data_, nullptr);
        size_ = std::exchange(other.size_, 0);
        mapped_ = std::exchange(other.mapped_, false);
    }
    return *this;
}

void Buffer::release() noexcept
{
    if (data_ == nullptr)
        return;
    if (mapped_)
        ::munmap(data_, size_);
    else
        delete[] data_;
    data_ = nullptr;
}

}  // namespace imglib
