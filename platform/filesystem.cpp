// File-system operations on POSIX: directory listing in the file system's own order, one-shot
// writes, and atomic placement of finished files.
#include "platform/filesystem.h"
#include "platform/paths.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <cerrno>
#include <cstdio>
#include <memory>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace redim {

bool hasExtension(const QString &name, const QString &extension)
{
    const qsizetype dot = name.size() - extension.size() - 1;
    return dot >= 0 && name.at(dot) == QLatin1Char('.')
        && QStringView(name).sliced(dot + 1).compare(extension, Qt::CaseInsensitive) == 0;
}

namespace {

struct DirCloser {
    void operator()(DIR *dir) const { ::closedir(dir); }
};

bool isRegularFile(DIR *dir, const dirent *entry)
{
    if (entry->d_type == DT_REG)
        return true;
    if (entry->d_type != DT_UNKNOWN)
        return false;
    // Some file systems do not fill d_type in; ask without following links.
    struct stat st {};
    return ::fstatat(::dirfd(dir), entry->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode);
}

}  // namespace

std::optional<QStringList> listFiles(const QString &folder, const QString &extension)
{
    std::unique_ptr<DIR, DirCloser> dir(::opendir(QFile::encodeName(folder).constData()));
    if (!dir)
        return std::nullopt;
    QStringList names;
    while (const dirent *entry = ::readdir(dir.get())) {
        if (entry->d_name[0] == '.' || !isRegularFile(dir.get(), entry))
            continue;
        const QString name = QFile::decodeName(entry->d_name);
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

bool deleteFile(const QString &path)
{
    return ::unlink(QFile::encodeName(path).constData()) == 0 || errno == ENOENT;
}

bool writeFileAtOnce(const QString &path, const QByteArray &bytes, bool append)
{
    QFile file(path);
    const QIODevice::OpenMode mode = QIODevice::WriteOnly | (append ? QIODevice::Append : QIODevice::Truncate);
    if (!file.open(mode))
        return false;
    const bool written = file.write(bytes) == bytes.size();
    return file.flush() && written;  // QFile reports a failed flush here, not from close()
}

namespace {

// Copies `source` beside `destination` under a temporary name and renames it into place.
bool copyIntoPlace(const QString &source, const QString &destination)
{
    QFile in(source);
    QSaveFile out(destination);
    out.setDirectWriteFallback(false);
    if (!in.open(QIODevice::ReadOnly) || !out.open(QIODevice::WriteOnly))
        return false;
    QByteArray chunk;
    while (!(chunk = in.read(4 << 20)).isEmpty()) {
        if (out.write(chunk) != chunk.size())
            return false;  // QSaveFile's destructor removes the temporary file
    }
    return in.error() == QFileDevice::NoError && out.commit();
}

}  // namespace

bool placeFile(const QString &source, const QString &destination)
{
    const QByteArray from = QFile::encodeName(source);
    if (::rename(from.constData(), QFile::encodeName(destination).constData()) == 0)
        return true;
    if (errno != EXDEV || !copyIntoPlace(source, destination))
        return false;
    deleteFile(source);
    return true;
}

QString executableFolder()
{
    return QCoreApplication::applicationDirPath();
}

}  // namespace redim
