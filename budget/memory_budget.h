// The memory that the work in flight of a run may hold at once: the photos a folder run reads
// ahead, the bitmaps the converter converts side by side.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <map>
#include <mutex>
#include <set>

namespace budget {

// Items of work (photos, bitmaps) are started in the order of their tickets, 0, 1, 2..., each
// with the bytes it is expected to hold, estimated from its header before anything large exists.
// An item starts when its bytes fit beside those of the items started and not yet finished, or
// when none is: an item larger than the whole budget is done alone rather than never.
//
// The limit is `units` times the largest unit seen so far in the run, and kLeeway more. A unit
// is what one item of that size holds in the usual case (a decoded photo; a bitmap and its
// encoder): with a unit for each worker and one to spare, the workers of a run of ordinary items
// never wait for memory, while items that need several units (a progressive photo's coefficients,
// a bitmap that declares far more pixels than its file holds) take the room of several. The
// leeway keeps items of a few megabytes from waiting for each other, and leaves room for a small
// item beside one that takes several units, so that a worker does not stand idle for want of a
// few megabytes. The limit grows with the items seen, never shrinks.
//
// Starting in ticket order keeps a large item from being passed over for ever, and lets a folder
// run wait for memory without deadlock: the items that hold it are earlier ones, which finish
// without waiting for later ones. Safe to use from several threads.
class MemoryBudget {
public:
    static constexpr std::uint64_t kLeeway = std::uint64_t{32} << 20;

    explicit MemoryBudget(int units);
    MemoryBudget(const MemoryBudget &) = delete;
    MemoryBudget &operator=(const MemoryBudget &) = delete;

    // Waits for the turn of `ticket`, then for `bytes` to fit, and starts the item; `unit` is what
    // an ordinary item of its size holds, and widens the limit. False, without starting it, once
    // stop() is called.
    bool admit(std::size_t ticket, std::uint64_t bytes, std::uint64_t unit);

    // The item started holds only `bytes` from now on, if that is less.
    void keepOnly(std::size_t ticket, std::uint64_t bytes);

    // The item is finished: its bytes go back to the budget. For an item never started, the
    // tickets after it may go without it.
    void finish(std::size_t ticket);

    // Every wait ends, and admit() refuses from now on.
    void stop();

private:
    void passTurn();

    const std::uint64_t units_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::uint64_t unit_ = 0;
    std::uint64_t held_ = 0;                      // bytes of the items started and not finished
    std::map<std::size_t, std::uint64_t> items_;  // those items, by ticket
    std::set<std::size_t> finishedBeforeTurn_;    // tickets finished without being started
    std::size_t turn_ = 0;                        // the ticket that may start next
    bool stopped_ = false;
};

}  // namespace budget
