// The file-system operations the program needs: listing and deleting by extension, the log's
// one-shot writes, and placing a finished file into a folder in one step.
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <optional>

namespace redim {

// True when `name` ends in a dot and `extension`, ignoring letter case ("DSC0001.JPG" for "jpg").
bool hasExtension(const QString &name, const QString &extension);

// Whether a listing takes symbolic links to regular files as the files they name.
enum class Links { Skip, Follow };

// The names (no folder) of the normal files of `folder` that end in "." + `extension`, ignoring
// letter case, in the order the file system returns them: a name that starts with a dot too, as
// on the system the program comes from. Folders, the programs' own files (common::isProgramFile)
// and anything that is not a regular file are left out; so are symbolic links, unless `links` is
// Follow and the link names a regular file (links to folders and dangling links are always left
// out).
// std::nullopt when the folder cannot be listed.
std::optional<QStringList> listFiles(const QString &folder, const QString &extension, Links links = Links::Skip);

// Deletes every normal file of `folder` that `listFiles` would return. A file that cannot be
// deleted does not stop the others; returns how many could not be deleted.
int deleteFiles(const QString &folder, const QString &extension);

// Opens `path`, writes `bytes` and closes it again, truncating or appending; a file it creates
// takes 0666 less the umask, as every file the programs write. False on any failure (the file
// cannot be opened, written or closed, or `path` is a symbolic link).
bool writeFileAtOnce(const QString &path, const QByteArray &bytes, bool append);

// Moves the finished file `source` onto `destination` in one step, replacing it (as
// common::moveIntoPlace): a reader sees either the old file or the complete new one. Both lie on
// one file system (the intermediate bitmap and the result folder share the private folder); across
// file systems the move fails. The source is gone on success. False, with `destination`
// untouched and `source` still there, on any failure.
// The file placed bears a modification time later than those of the file it replaces and of
// `derived` (a file made from an earlier `destination`, which bears that one's time), as its file
// system counts time: given one if it has none such, later by the step the file system counts
// in, which it measures (a whole second on ext2, two on FAT). So nothing made from an earlier
// file of that name passes for being made from this one (isMadeFrom), however quickly they came.
bool placeFile(const QString &source, const QString &destination, const QString &derived = QString());

// True when `path` is a regular file that bears the very modification time of the regular file
// `reference`: the converter gives each JPEG the time of the bitmap it was made from, and no two
// bitmaps of one name bear the same time (placeFile).
bool isMadeFrom(const QString &path, const QString &reference);

// The JPEG the converter makes from the bitmap `bitmap`, beside it ("photo.bmp": "photo.jpg").
QString jpegBeside(const QString &bitmap);

// Removes the temporaries that the programs of Redim Jpeg left in `folder` when they were killed
// (those of processes that no longer exist); returns how many went.
int removeTemporariesOfEndedPrograms(const QString &folder);

// Deletes one file; false when it could not be deleted (a missing file counts as deleted).
bool deleteFile(const QString &path);

// Creates one folder (not its parents), private to this user; true when it exists afterwards.
bool createFolder(const QString &path);

// The folder that holds the running program.
QString executableFolder();

}  // namespace redim
