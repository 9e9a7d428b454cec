// The fixed places the program works in: its private temporary folder, the result folder,
// the intermediate bitmap and the log.
#pragma once

#include <QString>

namespace redim {

struct FixedPaths {
    QString tempFolder;          // the private temporary folder, /var/tmp/redim-<uid>
    QString resultFolder;        // where the bitmaps and the JPEGs of a session go
    QString intermediateBitmap;  // the one file every bitmap is written to first
};

// The path separator the program inserts between a folder and a name, always, even after a
// folder that ends with one (the root folder then gives "//name").
inline constexpr QChar kSeparator = QChar(u'/');

// The paths of a real session: /var/tmp/redim-<uid>/RaduZor and /var/tmp/redim-<uid>/Dib.bmp.
// /var/tmp, not /tmp: it is on disk and kept across a restart, where /tmp is often a RAM disk
// that a folder of bitmaps would fill and a restart would empty.
FixedPaths defaultPaths();

// The same layout below another root; tests hand the window a temporary root this way.
FixedPaths pathsUnder(const QString &tempFolder);

// Creates the private temporary folder (mode 0700) when it is missing, narrows one of this user's
// own to 0700, and tells whether it can be trusted: a real folder, not a symbolic link, owned by
// this user, that nobody else may read, enter or write. Anything written there by another user
// could redirect our files, and the photos in it are the user's, so an untrusted folder is never
// used.
bool preparePrivateFolder(const QString &folder);

// The same checks without creating anything.
bool isPrivateFolder(const QString &folder);

}  // namespace redim
