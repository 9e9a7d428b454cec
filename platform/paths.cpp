// The fixed places the program works in, and the checks that keep other users out of them.
#include "platform/paths.h"
#include "platform/pathcodec.h"

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

bool isPrivateFolder(const QString &folder)
{
    struct stat st {};
    if (::lstat(encodePath(folder).constData(), &st) != 0)
        return false;
    return S_ISDIR(st.st_mode) && st.st_uid == ::getuid() && (st.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

bool preparePrivateFolder(const QString &folder)
{
    // mkdir fails harmlessly when the folder (or anything else under that name) exists; the
    // checks that follow decide whether what exists may be used.
    ::mkdir(encodePath(folder).constData(), 0700);
    return isPrivateFolder(folder);
}

}  // namespace redim
