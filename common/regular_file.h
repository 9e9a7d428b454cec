// Opening and reading the files the programs take as input (photos, bitmaps), so that none of
// them can block a program, reach its terminal or leak into a program it starts: only regular
// files are read, each within a size limit.
#pragma once

#include "common/unique_fd.h"

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <span>
#include <utility>

#include <sys/stat.h>
#include <sys/types.h>

namespace common {

// Why a file could not be opened or read. `systemError` holds errno for CannotOpen and
// CannotRead, so that each program can say it in its own words.
enum class FileError { None, CannotOpen, NotRegular, TooLarge, CannotRead };

inline constexpr std::uint64_t kNoLimit = std::numeric_limits<std::uint64_t>::max();

// What tells a file unchanged, as make and rsync tell it: the same device and inode, size, and
// modification and change times.
struct FileIdentity {
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
    std::pair<time_t, long> modified, changed;  // seconds and nanoseconds
    bool operator==(const FileIdentity &) const = default;
};

inline FileIdentity identityOf(const struct stat &status)
{
    return {status.st_dev,
            status.st_ino,
            status.st_size,
            {status.st_mtim.tv_sec, status.st_mtim.tv_nsec},
            {status.st_ctim.tv_sec, status.st_ctim.tv_nsec}};
}

// A regular file opened for reading, or why it is not.
struct RegularFile {
    unique_fd fd;
    struct stat status {};  // as it was once opened
    FileError error = FileError::None;
    int systemError = 0;

    explicit operator bool() const { return error == FileError::None; }
    std::uint64_t size() const { return static_cast<std::uint64_t>(status.st_size); }
};

// Opens `path` for reading if it is a regular file of at most `limit` bytes. It is opened without
// blocking (a FIFO with no writer would block the opening for ever), without becoming the
// controlling terminal and closed on exec; a FIFO, a device or a folder is refused before
// anything is read from it, and a regular file then reads in blocking mode.
RegularFile openRegularFile(const char *path, std::uint64_t limit);

// One read() into `into`, retried when a signal interrupts it: what read() returns.
ssize_t readSome(int fd, std::span<std::uint8_t> into);

// Reads until `into` is full or the file ends: the bytes read, or -1 with errno set.
ssize_t readFully(int fd, std::span<std::uint8_t> into);

// Writes all of `bytes`, retried when a signal interrupts it: false, with errno set, when a
// write fails (the results the programs write go through it too).
bool writeFully(int fd, std::span<const std::uint8_t> bytes);

// Reads the whole regular file at `path`, to its end as it is now, into `bytes` (a contiguous
// container of bytes with resize(), data() and size(), such as std::vector or QByteArray); a file
// that grows past `limit` while it is read is TooLarge too. `bytes` is left in any state on
// failure.
template <typename Bytes>
RegularFile readRegularFile(const char *path, std::uint64_t limit, Bytes &bytes);

// ---- Implementation ------------------------------------------------------------------------

template <typename Bytes>
RegularFile readRegularFile(const char *path, std::uint64_t limit, Bytes &bytes)
{
    RegularFile file = openRegularFile(path, limit);
    if (!file)
        return file;
    // One byte more than expected, so that the end shows; doubled as long as the file goes on.
    const std::uint64_t most = limit == kNoLimit ? limit : limit + 1;
    bytes.resize(static_cast<std::size_t>(std::min(file.size(), limit) + 1));
    std::size_t size = 0;
    for (;;) {
        if (size == static_cast<std::size_t>(bytes.size())) {
            if (size > limit) {
                file.error = FileError::TooLarge;
                return file;
            }
            bytes.resize(static_cast<std::size_t>(std::min<std::uint64_t>(2 * std::uint64_t{size}, most)));
        }
        auto *at = reinterpret_cast<std::uint8_t *>(bytes.data()) + size;
        const ssize_t got = readSome(file.fd.get(), {at, static_cast<std::size_t>(bytes.size()) - size});
        if (got < 0) {
            file.error = FileError::CannotRead;
            file.systemError = errno;
            return file;
        }
        if (got == 0)
            break;
        size += static_cast<std::size_t>(got);
    }
    bytes.resize(size);
    return file;
}

}  // namespace common
