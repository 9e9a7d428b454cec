// The fixed places the program works in: its private temporary folder, the result folder,
// the intermediate bitmap and the log.
#pragma once

#include <QString>
#include <QStringList>

namespace redim {

struct FixedPaths {
    QString tempFolder;          // the private temporary folder, /var/tmp/redim-<uid>
    QString resultFolder;        // where the bitmaps and the JPEGs of a session go
    QString intermediateBitmap;  // the one file every bitmap is written to first
};

// The path separator the program inserts between a folder and a name, always, even after a
// folder that ends with one (the root folder then gives "//name").
inline constexpr QChar kSeparator = QChar(u'/');

// The private folders a session may work in, best first: /var/tmp/redim-<uid>, then
// $XDG_CACHE_HOME/redim (~/.cache/redim by default) for when another user has taken that name.
// Both are on disk and kept across a restart, where /tmp is often a RAM disk that a folder of
// bitmaps would fill and a restart would empty; /var/tmp also keeps them out of the home.
QStringList privateFolderChoices();

// The first of `choices` that preparePrivateFolder makes private, after creating the folder that
// holds it when that is missing (mode 0700, one level). When none can be, the last one: the
// session then says at start-up that it cannot use it.
QString choosePrivateFolder(const QStringList &choices);

// The paths of this program's session, in the private folder chosen at the first call:
// <folder>/RaduZor and <folder>/Dib.bmp. Every later call gives the same ones.
const FixedPaths &sessionPaths();

// The same layout below another root; tests hand the window a temporary root this way.
FixedPaths pathsUnder(const QString &tempFolder);

// Creates the private temporary folder (mode 0700) when it is missing, narrows one of this user's
// own to 0700, and tells whether it can be trusted (isPrivateFolder).
bool preparePrivateFolder(const QString &folder);

// Whether the private temporary folder can be trusted: a real folder, not a symbolic link, owned
// by this user, that nobody else may read, enter or write, in a folder where nobody else may
// rename or replace it (one that is root's or the user's, that others may not write in, or only
// under the sticky bit, as in /var/tmp). Anything written there by another user could redirect
// our files, and the photos in it are the user's, so an untrusted folder is never used.
bool isPrivateFolder(const QString &folder);

}  // namespace redim
