// Admission of work in ticket order, against a limit in bytes that grows with the run.
#include "budget/memory_budget.h"

#include <algorithm>

namespace budget {

MemoryBudget::MemoryBudget(int units) : units_(static_cast<std::uint64_t>(std::max(units, 1))) {}

bool MemoryBudget::admit(std::size_t ticket, std::uint64_t bytes, std::uint64_t unit)
{
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return stopped_ || turn_ == ticket; });
    if (stopped_)
        return false;
    unit_ = std::max(unit_, unit);
    // Units are at most a few GiB, and there are a few thousand of them: the limit fits in 64 bits.
    const std::uint64_t limit = units_ * unit_ + kLeeway;
    changed_.wait(lock, [&] { return stopped_ || items_.empty() || held_ + bytes <= limit; });
    if (stopped_)
        return false;
    held_ += bytes;
    items_.emplace(ticket, bytes);
    passTurn();
    changed_.notify_all();
    return true;
}

void MemoryBudget::keepOnly(std::size_t ticket, std::uint64_t bytes)
{
    {
        const std::lock_guard lock(mutex_);
        const auto item = items_.find(ticket);
        if (item == items_.end() || item->second <= bytes)
            return;
        held_ -= item->second - bytes;
        item->second = bytes;
    }
    changed_.notify_all();
}

void MemoryBudget::finish(std::size_t ticket)
{
    {
        const std::lock_guard lock(mutex_);
        if (const auto item = items_.find(ticket); item != items_.end()) {
            held_ -= item->second;
            items_.erase(item);
        } else if (ticket == turn_) {
            passTurn();
        } else if (ticket > turn_) {
            finishedBeforeTurn_.insert(ticket);
        }
    }
    changed_.notify_all();
}

void MemoryBudget::stop()
{
    {
        const std::lock_guard lock(mutex_);
        stopped_ = true;
    }
    changed_.notify_all();
}

// The turn goes to the next ticket that is not finished already.
void MemoryBudget::passTurn()
{
    ++turn_;
    while (finishedBeforeTurn_.erase(turn_) != 0)
        ++turn_;
}

}  // namespace budget
