// The fixed places the program works in, and the checks that keep other users out of them.
#include "platform/paths.h"
#include "platform/pathcodec.h"

#include <QDir>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace redim {

FixedPaths pathsUnder(const QString &tempFolder)
{
    return FixedPaths{tempFolder, tempFolder + kSeparator + QStringLiteral("RaduZor"),
                      tempFolder + kSeparator + QStringLiteral("Dib.bmp")};
}

namespace {

constexpr mode_t kOthersRights = S_IRWXG | S_IRWXO;

// The user's photos are the user's alone: a folder of the user's own that others may enter is
// narrowed to its owner. Anything else under that name (a link, another user's folder) is left
// as it is, for the checks to refuse.
void narrowToOwner(const QByteArray &folder)
{
    const int fd = ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return;
    struct stat st {};
    if (::fstat(fd, &st) == 0 && st.st_uid == ::getuid() && (st.st_mode & kOthersRights) != 0)
        ::fchmod(fd, 0700);
    ::close(fd);
}

// Nobody but root and this user may rename or replace what `folder` holds.
bool holdsSafely(const QString &folder)
{
    struct stat st {};
    if (::stat(encodePath(folder).constData(), &st) != 0)
        return false;
    const bool ownersOnly = (st.st_mode & (S_IWGRP | S_IWOTH)) == 0 || (st.st_mode & S_ISVTX) != 0;
    return S_ISDIR(st.st_mode) && (st.st_uid == 0 || st.st_uid == ::getuid()) && ownersOnly;
}

QString parentOf(const QString &folder)
{
    const qsizetype slash = folder.lastIndexOf(kSeparator);
    return slash > 0 ? folder.left(slash) : QString(kSeparator);
}

}  // namespace

bool isPrivateFolder(const QString &folder)
{
    struct stat st {};
    if (::lstat(encodePath(folder).constData(), &st) != 0)
        return false;
    return S_ISDIR(st.st_mode) && st.st_uid == ::getuid() && (st.st_mode & kOthersRights) == 0 &&
           holdsSafely(parentOf(folder));
}

bool preparePrivateFolder(const QString &folder)
{
    // mkdir fails harmlessly when the folder (or anything else under that name) exists; the
    // checks that follow decide whether what exists may be used.
    const QByteArray path = encodePath(folder);
    ::mkdir(path.constData(), 0700);
    narrowToOwner(path);
    return isPrivateFolder(folder);
}

QStringList privateFolderChoices()
{
    const QString cacheHome = qEnvironmentVariable("XDG_CACHE_HOME");
    // A relative XDG_CACHE_HOME is to be ignored.
    const QString cache = QDir::isAbsolutePath(cacheHome) ? cacheHome : QDir::homePath() + QStringLiteral("/.cache");
    return {QStringLiteral("/var/tmp/redim-%1").arg(::getuid()), cache + kSeparator + QStringLiteral("redim")};
}

QString choosePrivateFolder(const QStringList &choices)
{
    for (const QString &folder : choices) {
        ::mkdir(encodePath(parentOf(folder)).constData(), 0700);
        if (preparePrivateFolder(folder))
            return folder;
    }
    return choices.isEmpty() ? QString() : choices.last();
}

const FixedPaths &sessionPaths()
{
    static const FixedPaths paths = pathsUnder(choosePrivateFolder(privateFolderChoices()));
    return paths;
}

}  // namespace redim
