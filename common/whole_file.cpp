// Writing a result whole: a temporary beside the destination, then a rename.
#include "common/whole_file.h"

#include "common/regular_file.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <ctime>
#include <string_view>

#include <fcntl.h>
#include <sys/random.h>
#include <unistd.h>

namespace common {

namespace {

// Six letters or digits, drawn as mkstemp draws them; a counter keeps two draws of one process
// apart even where the system has no random bytes to give.
std::string randomLetters()
{
    static constexpr std::string_view kLetters = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    static std::atomic<std::uint64_t> counter{0};
    std::uint64_t bits = 0;
    if (::getrandom(&bits, sizeof bits, GRND_NONBLOCK) != static_cast<ssize_t>(sizeof bits)) {
        timespec now{};
        ::clock_gettime(CLOCK_MONOTONIC, &now);
        bits = static_cast<std::uint64_t>(now.tv_sec) << 30 ^ static_cast<std::uint64_t>(now.tv_nsec);
    }
    bits += counter.fetch_add(0x9E3779B97F4A7C15u);
    std::string letters(6, '0');
    for (char &letter : letters) {
        letter = kLetters[bits % kLetters.size()];
        bits /= kLetters.size();
    }
    return letters;
}

}  // namespace

void TemporaryRecord::removeAllForGood()
{
    lock_.lock();  // kept: no temporary is created from here on
    for (const std::string &path : paths_)
        ::unlink(path.c_str());
}

Published moveIntoPlace(const char *from, const char *to, Replace replace)
{
    if (replace == Replace::Yes)
        return ::rename(from, to) == 0 ? Published::Done : Published::CannotPlace;
    if (::renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE) == 0)
        return Published::Done;
    // A file system without the no-replace rename: a hard link fails just as well on an existing name.
    if ((errno == EINVAL || errno == ENOSYS) && ::link(from, to) == 0) {
        ::unlink(from);
        return Published::Done;
    }
    return errno == EEXIST ? Published::Kept : Published::CannotPlace;
}

WholeFile::WholeFile(const std::string &destination, Writer writer, TemporaryRecord *record)
    : destination_(destination), record_(record)
{
    const std::size_t slash = destination.rfind('/');
    const std::string_view folder = std::string_view(destination).substr(0, slash == std::string::npos ? 0 : slash + 1);
    const std::string_view name = std::string_view(destination).substr(folder.size());
    if (name.empty()) {
        errno = EISDIR;
        return;
    }
    // Hidden, and not ending in the destination's extension: never taken for a finished file.
    const std::string prefix = temporaryPrefix(writer, ::getpid());
    const bool fits = prefix.size() + name.size() + 7 <= NAME_MAX;
    const std::string stem = std::string(folder) + prefix + (fits ? std::string(name) + "." : std::string());
    for (int attempt = 0; attempt < 100; ++attempt) {
        path_ = stem + randomLetters();
        if (create())
            return;
        if (errno != EEXIST)
            break;
    }
    path_.clear();
}

bool WholeFile::create()
{
    // 0666: the umask decides, as for any file a user's program makes.
    const auto open = [this] {
        fd_.reset(::open(path_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666));
        return static_cast<bool>(fd_);
    };
    if (!record_)
        return open();
    const std::lock_guard lock(record_->lock_);
    const auto recorded = record_->paths_.insert(path_);  // before the file exists: a signal finds it
    if (open())
        return true;
    const int error = errno;
    record_->paths_.erase(recorded);
    errno = error;
    return false;
}

WholeFile::~WholeFile()
{
    const int error = errno;
    fd_.reset();
    if (!path_.empty()) {
        ::unlink(path_.c_str());
        forget();
    }
    errno = error;
}

void WholeFile::forget()
{
    if (!record_)
        return;
    const std::lock_guard lock(record_->lock_);
    if (const auto at = record_->paths_.find(path_); at != record_->paths_.end())
        record_->paths_.erase(at);
}

bool WholeFile::write(std::span<const std::uint8_t> bytes)
{
    return writeFully(fd_.get(), bytes);
}

bool WholeFile::write(std::span<iovec> vectors)
{
    while (!vectors.empty()) {
        const ssize_t n = ::writev(fd_.get(), vectors.data(), static_cast<int>(vectors.size()));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        auto left = static_cast<std::size_t>(n);
        while (!vectors.empty() && left >= vectors.front().iov_len) {
            left -= vectors.front().iov_len;
            vectors = vectors.subspan(1);
        }
        if (!vectors.empty()) {
            vectors.front().iov_base = static_cast<std::uint8_t *>(vectors.front().iov_base) + left;
            vectors.front().iov_len -= left;
        }
    }
    return true;
}

Published WholeFile::publish(Replace replace)
{
    if (!fd_.close())  // delayed write errors (a full disk, a quota) show up here
        return Published::CannotWrite;
    const Published published = moveIntoPlace(path_.c_str(), destination_.c_str(), replace);
    if (published == Published::Done) {
        forget();
        path_.clear();
    }
    return published;
}

}  // namespace common
