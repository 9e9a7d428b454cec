// File-system operations on POSIX: directory listing in the file system's own order, one-shot
// writes, and placing finished files in one step. Names go through pathcodec, so a file whose
// name is not valid UTF-8 is still found, read, written and deleted.
#include "platform/filesystem.h"
#include "platform/pathcodec.h"
#include "platform/paths.h"

#include "common/names.h"
#include "common/regular_file.h"
#include "common/temporaries.h"
#include "common/unique_fd.h"
#include "common/whole_file.h"

#include <QCoreApplication>

#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <initializer_list>
#include <memory>

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

namespace redim {

bool hasExtension(const QString &name, const QString &extension)
{
    const qsizetype dot = name.size() - extension.size() - 1;
    return dot >= 0 && name.at(dot) == QLatin1Char('.') &&
           QStringView(name).sliced(dot + 1).compare(extension, Qt::CaseInsensitive) == 0;
}

namespace {

struct DirCloser {
    void operator()(DIR *dir) const { ::closedir(dir); }
};

bool isRegularFile(DIR *dir, const dirent *entry, Links links)
{
    if (entry->d_type == DT_REG)
        return true;
    const bool followed = entry->d_type == DT_LNK && links == Links::Follow;
    if (entry->d_type != DT_UNKNOWN && !followed)
        return false;
    // Some file systems do not fill d_type in; and a link followed is judged by what it names.
    struct stat st {};
    const int flags = links == Links::Follow ? 0 : AT_SYMLINK_NOFOLLOW;
    return ::fstatat(::dirfd(dir), entry->d_name, &st, flags) == 0 && S_ISREG(st.st_mode);
}

constexpr long long kNanoseconds = 1'000'000'000;

bool earlier(const timespec &a, const timespec &b)
{
    return a.tv_sec < b.tv_sec || (a.tv_sec == b.tv_sec && a.tv_nsec < b.tv_nsec);
}

timespec plus(const timespec &time, long long nanoseconds)
{
    const long long sum = time.tv_nsec + nanoseconds;
    return {time.tv_sec + static_cast<time_t>(sum / kNanoseconds), static_cast<long>(sum % kNanoseconds)};
}

// The latest modification time among those of `paths` that exist.
std::optional<timespec> latestTime(std::initializer_list<QByteArray> paths)
{
    std::optional<timespec> latest;
    for (const QByteArray &path : paths) {
        struct stat st {};
        if (!path.isEmpty() && ::stat(path.constData(), &st) == 0 && (!latest || earlier(*latest, st.st_mtim)))
            latest = st.st_mtim;
    }
    return latest;
}

bool setModified(int fd, const timespec &time, timespec &kept)
{
    const timespec times[2] = {{0, UTIME_OMIT}, time};
    struct stat st {};
    if (::futimens(fd, times) != 0 || ::fstat(fd, &st) != 0)
        return false;
    kept = st.st_mtim;
    return true;
}

// The step in which the file system of `fd` counts modification times: 1 ns on most, 1 s on
// ext2 and on ext3 with small inodes, 2 s on FAT. The file is given the last nanosecond of an odd
// second, and what the file system kept of it tells.
long long timeStep(int fd)
{
    const timespec probe{1'000'000'001, kNanoseconds - 1};
    timespec kept{};
    if (!setModified(fd, probe, kept))
        return 0;
    return (probe.tv_sec - kept.tv_sec) * kNanoseconds + (probe.tv_nsec - kept.tv_nsec) + 1;
}

// Gives the open file `fd`, unless it has one already, a modification time that its file system
// keeps later than `floor`: later by the step it counts in.
bool makeLaterThan(int fd, const std::optional<timespec> &floor)
{
    struct stat st {};
    if (!floor || (::fstat(fd, &st) == 0 && earlier(*floor, st.st_mtim)))
        return true;
    timespec kept{};
    // A file system that would round rather than truncate the probe gets FAT's step, the
    // coarsest there is.
    for (const long long step : {timeStep(fd), 2 * kNanoseconds})
        if (step > 0 && setModified(fd, plus(*floor, step), kept) && earlier(*floor, kept))
            return true;
    return false;
}

}  // namespace

std::optional<QStringList> listFiles(const QString &folder, const QString &extension, Links links)
{
    std::unique_ptr<DIR, DirCloser> dir(::opendir(encodePath(folder).constData()));
    if (!dir)
        return std::nullopt;
    QStringList names;
    while (const dirent *entry = ::readdir(dir.get())) {
        if (common::isProgramFile(entry->d_name) || !isRegularFile(dir.get(), entry, links))
            continue;
        const QString name = decodePath(entry->d_name);
        if (hasExtension(name, extension))
            names.append(name);
    }
    return names;
}

int deleteFiles(const QString &folder, const QString &extension)
{
    int failures = 0;
    for (const QString &name : listFiles(folder, extension).value_or(QStringList()))
        failures += deleteFile(folder + kSeparator + name) ? 0 : 1;
    return failures;
}

bool isMadeFrom(const QString &path, const QString &reference)
{
    struct stat made {};
    struct stat from {};
    if (::stat(encodePath(path).constData(), &made) != 0 || !S_ISREG(made.st_mode) ||
        ::stat(encodePath(reference).constData(), &from) != 0 || !S_ISREG(from.st_mode))
        return false;
    return made.st_mtim.tv_sec == from.st_mtim.tv_sec && made.st_mtim.tv_nsec == from.st_mtim.tv_nsec;
}

QString jpegBeside(const QString &bitmap)
{
    const qsizetype slash = bitmap.lastIndexOf(kSeparator);
    const std::string name = encodePath(bitmap.mid(slash + 1)).toStdString();
    return bitmap.left(slash + 1) + decodePath(QByteArray::fromStdString(common::jpegNameFor(name)));
}

int removeTemporariesOfEndedPrograms(const QString &folder)
{
    std::unique_ptr<DIR, DirCloser> dir(::opendir(encodePath(folder).constData()));
    if (!dir)
        return 0;
    int removed = 0;
    while (const dirent *entry = ::readdir(dir.get())) {
        const std::optional<pid_t> writer = common::temporaryWriter(entry->d_name);
        struct stat st {};
        // A process that still runs, whoever it is, may be writing the file: only one of a
        // process that no longer exists is left over.
        if (!writer || ::kill(*writer, 0) == 0 || errno != ESRCH ||
            ::fstatat(::dirfd(dir.get()), entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode))
            continue;
        removed += ::unlinkat(::dirfd(dir.get()), entry->d_name, 0) == 0 ? 1 : 0;
    }
    return removed;
}

bool deleteFile(const QString &path)
{
    return ::unlink(encodePath(path).constData()) == 0 || errno == ENOENT;
}

bool createFolder(const QString &path)
{
    return ::mkdir(encodePath(path).constData(), 0700) == 0 || errno == EEXIST;
}

bool writeFileAtOnce(const QString &path, const QByteArray &bytes, bool append)
{
    const int mode = O_WRONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW | (append ? O_APPEND : O_TRUNC);
    common::unique_fd file(::open(encodePath(path).constData(), mode, 0666));
    if (!file)
        return false;
    const bool written = common::writeFully(file.get(), {reinterpret_cast<const std::uint8_t *>(bytes.constData()),
                                                         static_cast<std::size_t>(bytes.size())});
    return file.close() && written;
}

bool placeFile(const QString &source, const QString &destination, const QString &derived)
{
    const QByteArray from = encodePath(source);
    const QByteArray to = encodePath(destination);
    const common::unique_fd placed(::open(from.constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    return placed && makeLaterThan(placed.get(), latestTime({to, encodePath(derived)})) &&
           common::moveIntoPlace(from.constData(), to.constData(), common::Replace::Yes) == common::Published::Done;
}

QString executableFolder()
{
    return QCoreApplication::applicationDirPath();
}

}  // namespace redim
