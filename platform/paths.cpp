// The fixed places the program works in, and the checks that keep other users out of them.
#include "platform/paths.h"
#include "platform/pathcodec.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace redim {

FixedPaths pathsUnder(const QString &tempFolder)
{
    return FixedPaths{tempFolder, tempFolder + kSeparator + QStringLiteral("RaduZor"),
                      tempFolder + kSeparator + QStringLiteral("Dib.bmp")};
}

FixedPaths defaultPaths()
{
    return pathsUnder(QStringLiteral("/var/tmp/redim-%1").arg(::getuid()));
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

}  // namespace

bool isPrivateFolder(const QString &folder)
{
    struct stat st {};
    if (::lstat(encodePath(folder).constData(), &st) != 0)
        return false;
    return S_ISDIR(st.st_mode) && st.st_uid == ::getuid() && (st.st_mode & kOthersRights) == 0;
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

}  // namespace redim
