// A file descriptor that closes itself: every file the three programs open goes through one.
#pragma once

#include <utility>

#include <unistd.h>

namespace common {

// Owns one descriptor (or none, -1) and closes it when it goes; moved, never copied.
class unique_fd {
public:
    unique_fd() = default;
    explicit unique_fd(int fd) : fd_(fd) {}
    ~unique_fd() { reset(); }
    unique_fd(unique_fd &&other) noexcept : fd_(other.release()) {}
    unique_fd &operator=(unique_fd &&other) noexcept
    {
        reset(other.release());
        return *this;
    }
    unique_fd(const unique_fd &) = delete;
    unique_fd &operator=(const unique_fd &) = delete;

    int get() const { return fd_; }
    explicit operator bool() const { return fd_ >= 0; }

    // Gives the descriptor up without closing it.
    int release() { return std::exchange(fd_, -1); }

    // Closes the descriptor held, if any, and holds `fd` instead.
    void reset(int fd = -1)
    {
        if (const int old = std::exchange(fd_, fd); old >= 0)
            ::close(old);
    }

    // Closes the descriptor now, saying whether close() succeeded: a writer must know, as on some
    // file systems a failed write shows only there.
    bool close() { return ::close(release()) == 0; }

private:
    int fd_ = -1;
};

}  // namespace common
