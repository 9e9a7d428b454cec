// The table that maps the handles given to the program onto the images behind them.
#pragma once

#include "imglib/picture.h"

#include <cstdint>
#include <memory>
#include <mutex>
#include <unordered_map>

namespace imglib {

// Handles are taken from an incrementing counter that skips 0 (and any handle still in use
// after a wrap), so a released handle is not given out again before 2^32 more images.  Images
// are shared_ptrs: a thread scaling or writing an image keeps it alive even if another thread
// releases its handle meanwhile.  Every member is safe to call from several threads.
class HandleTable {
public:
    // `last` is the handle the counter starts after; tests start near the wrap.
    explicit HandleTable(std::uint32_t last = 0) : last_(last) {}

    // Returns the new handle.  Throws std::bad_alloc if the table cannot grow.
    std::uint32_t add(std::shared_ptr<const Picture> image);

    // The image behind a handle, or null for 0 and unknown handles.
    std::shared_ptr<const Picture> find(std::uint32_t handle) const;

    // Releases a handle; false if it was not in use.
    bool remove(std::uint32_t handle);

    // Replaces the image of `old` by `image` under a new handle, in one step, so no other
    // thread ever sees both or neither.  `old` may already be gone.  Throws std::bad_alloc,
    // in which case nothing changed.
    std::uint32_t replace(std::uint32_t old, std::shared_ptr<const Picture> image);

    // Puts `image` behind `handle` in place of what was there, if the handle is in use;
    // false otherwise.
    bool update(std::uint32_t handle, std::shared_ptr<const Picture> image);

    std::size_t size() const;

private:
    std::uint32_t addLocked(std::shared_ptr<const Picture> image);

    mutable std::mutex mutex_;
    std::unordered_map<std::uint32_t, std::shared_ptr<const Picture>> images_;
    std::uint32_t last_;
};

// The one table behind the exported functions.
HandleTable &handles();

}  // namespace imglib
