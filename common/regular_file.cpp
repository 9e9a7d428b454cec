// Opening and reading input files: regular files only, within a limit, never blocking on others.
#include "common/regular_file.h"

#include <cerrno>

#include <fcntl.h>
#include <unistd.h>

namespace common {

namespace {

RegularFile failed(RegularFile file, FileError error, int systemError = 0)
{
    file.error = error;
    file.systemError = systemError;
    file.fd.reset();
    return file;
}

}  // namespace

RegularFile openRegularFile(const char *path, std::uint64_t limit)
{
    RegularFile file;
    file.fd.reset(::open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (!file.fd)
        return failed(std::move(file), FileError::CannotOpen, errno);
    if (::fstat(file.fd.get(), &file.status) != 0)
        return failed(std::move(file), FileError::CannotRead, errno);
    if (!S_ISREG(file.status.st_mode))
        return failed(std::move(file), FileError::NotRegular);
    if (file.status.st_size < 0 || file.size() > limit)
        return failed(std::move(file), FileError::TooLarge);
    // Reads of a regular file then wait for the disk as they should, even where the file system
    // would honour the flag (a file under a mandatory lock would otherwise give EAGAIN).
    const int flags = ::fcntl(file.fd.get(), F_GETFL);
    if (flags < 0 || ::fcntl(file.fd.get(), F_SETFL, flags & ~O_NONBLOCK) != 0)
        return failed(std::move(file), FileError::CannotRead, errno);
    return file;
}

ssize_t readSome(int fd, std::span<std::uint8_t> into)
{
    ssize_t got = 0;
    do {
        got = ::read(fd, into.data(), into.size());
    } while (got < 0 && errno == EINTR);
    return got;
}

ssize_t readFully(int fd, std::span<std::uint8_t> into)
{
    std::size_t done = 0;
    while (done < into.size()) {
        const ssize_t got = readSome(fd, into.subspan(done));
        if (got < 0)
            return -1;
        if (got == 0)
            break;
        done += static_cast<std::size_t>(got);
    }
    return static_cast<ssize_t>(done);
}

bool writeFully(int fd, std::span<const std::uint8_t> bytes)
{
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        bytes = bytes.subspan(static_cast<std::size_t>(n));
    }
    return true;
}

}  // namespace common
