// Large blocks mapped in 2 MiB pages and kept for reuse while the process is busy, small ones from
// the heap.
#include "budget/buffer.h"

#include "budget/helpers.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <new>
#include <utility>
#include <vector>

#include <sys/mman.h>

namespace budget {
namespace {

constexpr std::size_t kHugePage = std::size_t{2} << 20;
// Below this a block comes from the heap: a few dozen pages, which it keeps itself when freed.
// Larger ones the heap maps afresh (glibc, from 128 KiB until it has freed larger ones) or hands
// back when it trims, and a run would fault in its photos' pixels and file bytes photo after
// photo. A block kept here is rounded up to 2 MiB: at this size, eight times what it holds, for
// the few small images and files a run has in flight at once.
constexpr std::size_t kMappedFrom = std::size_t{256} << 10;

std::size_t roundUp(std::size_t bytes, std::size_t unit)
{
    return (bytes + unit - 1) / unit * unit;
}

// A mapping of `bytes` (a multiple of 2 MiB) that starts on a 2 MiB boundary, so that the
// kernel can back all of it with huge pages: one 2 MiB more is mapped, and what lies outside the
// aligned part given back at once. With PROT_NONE, only an address range to move a block to.
std::uint8_t *mapAligned(std::size_t bytes, int protection = PROT_READ | PROT_WRITE)
{
    void *mapped = ::mmap(nullptr, bytes + kHugePage, protection, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
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

struct Block {
    std::uint8_t *data = nullptr;
    std::size_t size = 0;
};

// `block` grown to `bytes`: where it stands if the addresses after it are free, otherwise moved
// to a 2 MiB boundary. Either way its pages stay as they are (a move carries the page tables, it
// copies nothing), and only the pages added are new.
std::uint8_t *grow(Block block, std::size_t bytes)
{
    if (::mremap(block.data, block.size, bytes, 0) != MAP_FAILED)
        return block.data;
    std::uint8_t *target = nullptr;
    try {
        target = mapAligned(bytes, PROT_NONE);
    } catch (const std::bad_alloc &) {
        ::munmap(block.data, block.size);
        throw;
    }
    if (::mremap(block.data, block.size, bytes, MREMAP_MAYMOVE | MREMAP_FIXED, target) == MAP_FAILED) {
        ::munmap(target, bytes);
        ::munmap(block.data, block.size);
        return mapAligned(bytes);
    }
    ::madvise(target, bytes, MADV_HUGEPAGE);
    return target;
}

// A block of `bytes` made from `block`, which the cache no longer holds: cut down, grown, or
// mapped anew when there is none.
std::uint8_t *reshape(Block block, std::size_t bytes)
{
    if (block.data == nullptr)
        return mapAligned(bytes);
    if (block.size > bytes)
        ::munmap(block.data + bytes, block.size - bytes);
    return block.size < bytes ? grow(block, bytes) : block.data;
}

void unmapAll(const std::vector<Block> &blocks)
{
    for (const Block &block : blocks)
        ::munmap(block.data, block.size);
}

// The mapped blocks released, kept for the blocks asked for next. A folder run (or a conversion)
// asks for the same few sizes photo after photo, on several threads at once, so the blocks of one
// photo serve the next ones and the run maps its blocks once instead of once per photo; unmapping a
// block in a process whose threads run on several cores also makes every core drop its address
// translations.
//
// A kept block serves a block of its size, or a little smaller; when none is of about the size,
// the nearest larger one is cut down to it, or else the largest one grown, so that photos of
// other sizes still reuse the pages the last ones had. What is kept never makes the process hold
// more than it held in use at its busiest since it was last idle: when a block takes new pages,
// kept blocks are unmapped, the smallest first, until the blocks in use and those kept fit
// within that peak. A second after the last block was asked for or released, a job on the pool of
// threads (helpers.h) hands every kept block back: the end of a run, or a program that waits for
// its user.
class BlockCache {
public:
    ~BlockCache()
    {
        std::vector<Block> kept;
        {
            const std::lock_guard lock(mutex_);
            quitting_ = true;
            kept = takeKept();
        }
        wake_.notify_all();
        keeper_.wait();
        unmapAll(kept);
    }

    // A block of at least `bytes` (a multiple of 2 MiB). Throws std::bad_alloc.
    Block take(std::size_t bytes)
    {
        std::vector<Block> unwanted;
        Block reshaped;
        {
            const std::lock_guard lock(mutex_);
            lastUse_ = Clock::now();
            auto kept = kept_.lower_bound(bytes);
            if (kept != kept_.end() && kept->first <= loosestFit(bytes))
                return lend(kept);
            if (kept == kept_.end() && !kept_.empty())
                kept = std::prev(kept_.end());
            if (kept != kept_.end())
                reshaped = lend(kept);
            inUse_ = inUse_ - reshaped.size + bytes;
            peak_ = std::max(peak_, inUse_);
            while (!kept_.empty() && inUse_ + keptBytes_ > peak_) {
                const auto smallest = kept_.begin();
                unwanted.push_back({smallest->second, smallest->first});
                keptBytes_ -= smallest->first;
                kept_.erase(smallest);
            }
        }
        unmapAll(unwanted);
        try {
            return {reshape(reshaped, bytes), bytes};
        } catch (const std::bad_alloc &) {
            const std::lock_guard lock(mutex_);
            inUse_ -= bytes;
            throw;
        }
    }

    void give(Block block) noexcept
    {
        {
            const std::lock_guard lock(mutex_);
            inUse_ -= block.size;
            lastUse_ = Clock::now();
            if (!quitting_ && keeperRunning()) {
                try {
                    kept_.emplace(block.size, block.data);
                    keptBytes_ += block.size;
                    return;
                } catch (...) {
                    // No room to note it: it goes back now.
                }
            }
        }
        ::munmap(block.data, block.size);
    }

private:
    using Clock = std::chrono::steady_clock;

    // The kept block, handed out; with the mutex held.
    Block lend(std::multimap<std::size_t, std::uint8_t *>::iterator kept)
    {
        const Block block{kept->second, kept->first};
        kept_.erase(kept);
        keptBytes_ -= block.size;
        inUse_ += block.size;
        return block;
    }

    // The largest kept block that may serve `bytes`: a block much larger would hold memory
    // unused for as long as it serves, and be missing when a block of its own size is asked for.
    static std::size_t loosestFit(std::size_t bytes) { return bytes + bytes / 4 + kHugePage; }
    static constexpr auto kIdle = std::chrono::seconds(1);

    // True when the keeper runs, started now if it was not; with the mutex held. A block is kept
    // only while a keeper will hand it back.
    bool keeperRunning() noexcept
    {
        if (!keeperAwake_) {
            keeper_ = Helper::startWaiting([this] { keep(); });  // the last one has ended
            keeperAwake_ = static_cast<bool>(keeper_);
        }
        return keeperAwake_;
    }

    // Hands every kept block back once the cache has been idle for a second, then ends.
    void keep()
    {
        std::unique_lock lock(mutex_);
        while (!quitting_) {
            const auto idleSince = lastUse_;
            wake_.wait_until(lock, idleSince + kIdle, [&] { return quitting_; });
            if (quitting_ || Clock::now() - lastUse_ < kIdle)
                continue;
            std::vector<Block> kept = takeKept();
            peak_ = inUse_;
            keeperAwake_ = false;
            lock.unlock();
            unmapAll(kept);
            return;
        }
    }

    std::vector<Block> takeKept()
    {
        std::vector<Block> blocks;
        for (const auto &[size, data] : kept_)
            blocks.push_back({data, size});
        kept_.clear();
        keptBytes_ = 0;
        return blocks;
    }

    std::mutex mutex_;
    std::condition_variable wake_;
    std::multimap<std::size_t, std::uint8_t *> kept_;  // by size
    std::size_t keptBytes_ = 0;
    std::size_t inUse_ = 0;  // bytes of the mapped blocks handed out and not given back
    std::size_t peak_ = 0;   // the most inUse_ has been since the cache was last idle
    Clock::time_point lastUse_;
    bool keeperAwake_ = false;
    bool quitting_ = false;
    Helper keeper_;  // last: its job uses everything above
};

// Made when the library or the program is loaded, before the image library's handle table, so it
// is still there when the table releases its images at unloading.
BlockCache cache;

}  // namespace

Buffer::Buffer(std::size_t bytes)
{
    if (bytes >= kMappedFrom) {
        const Block block = cache.take(roundUp(bytes, kHugePage));
        data_ = block.data;
        size_ = block.size;
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
        cache.give({data_, size_});
    else
        delete[] data_;
    data_ = nullptr;
}

}  // namespace budget
