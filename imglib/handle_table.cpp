// Handle allocation and lookup, under one mutex.
#include "imglib/handle_table.h"

namespace imglib {

std::uint32_t HandleTable::addLocked(std::shared_ptr<const Picture> image)
{
    // A live handle can only be met again after the counter wraps; the loop ends because the
    // table never holds anywhere near 2^32 images.
    do {
        ++last_;
    } while (last_ == 0 || images_.contains(last_));
    images_.emplace(last_, std::move(image));
    return last_;
}

std::uint32_t HandleTable::add(std::shared_ptr<const Picture> image)
{
    std::lock_guard lock(mutex_);
    return addLocked(std::move(image));
}

std::shared_ptr<const Picture> HandleTable::find(std::uint32_t handle) const
{
    std::lock_guard lock(mutex_);
    const auto it = images_.find(handle);
    return it == images_.end() ? nullptr : it->second;
}

bool HandleTable::remove(std::uint32_t handle)
{
    std::shared_ptr<const Picture> released;  // freed after the lock is let go
    std::lock_guard lock(mutex_);
    const auto it = images_.find(handle);
    if (it == images_.end())
        return false;
    released = std::move(it->second);
    images_.erase(it);
    return true;
}

std::uint32_t HandleTable::replace(std::uint32_t old, std::shared_ptr<const Picture> image)
{
    std::shared_ptr<const Picture> released;
    std::lock_guard lock(mutex_);
    const std::uint32_t handle = addLocked(std::move(image));
    if (const auto it = images_.find(old); it != images_.end()) {
        released = std::move(it->second);
        images_.erase(it);
    }
    return handle;
}

bool HandleTable::update(std::uint32_t handle, std::shared_ptr<const Picture> image)
{
    std::lock_guard lock(mutex_);
    const auto it = images_.find(handle);
    if (it == images_.end())
        return false;
    std::swap(it->second, image);  // the old one is freed after the lock is let go
    return true;
}

std::size_t HandleTable::size() const
{
    std::lock_guard lock(mutex_);
    return images_.size();
}

HandleTable &handles()
{
    static HandleTable table;
    return table;
}

}  // namespace imglib
