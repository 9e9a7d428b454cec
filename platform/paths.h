// The fixed places the program works in: its private temporary folder, the result folder,
// the intermediate bitmap and the log.
#pragma once

#include <QString>

namespace redim {

struct FixedPaths {
    QString tempFolder;          // the private temporary folder ("C:\Windows\Temp" on Windows)
    QString resultFolder;        // where the bitmaps and the JPEGs of a session go
    QString intermediateBitmap;  // the one file every bitmap is written to first
};

// The path separator the program inserts between a folder and a name.
#ifdef _WIN32
inline constexpr QChar kSeparator = QChar(u'\\');
#else
inline constexpr QChar kSeparator = QChar(u'/');
#endif

// The paths of a real session: /tmp/redim-<uid>/RaduZor and /tmp/redim-<uid>/Dib.bmp on Linux.
FixedPaths defaultPaths();

// The same layout below another root; tests hand the window a temporary root this way.
FixedPaths pathsUnder(const QString &tempFolder);

// Creates the private temporary folder (mode 0700) when it is missing and tells whether it can
// be trusted: a real folder, not a symbolic link, owned by this user and writable by nobody else.
// Anything written there by another user could redirect our files, so an untrusted folder is
// never written into.
bool preparePrivateFolder(const QString &folder);

// The same checks without creating anything.
bool isPrivateFolder(const QString &folder);

}  // namespace redim
