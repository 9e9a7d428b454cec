// Short path form of a Windows-style path for the converter's command line.
//
// chemcourt() turns a path such as C:\Program Files\Photo album\vacances ete.jpg into
// C:\PROGRA~1\PHOTOA~1\VACANC~1.JPG: upper case, no blanks, no folder name longer than
// 8 characters, long file names numbered from the record of the short names made so far.
// It is a pure string routine: it never looks at the disk.
#pragma once

#include <QString>
#include <QStringList>

namespace redim {

// The short-path routine and the record of the short file names it has made.
struct ShortPaths {
    // Past this many entries a long file name still gets its short form but is no longer
    // recorded (the count is a 16-bit signed number).
    static constexpr qint16 maxEntries = 32767;

    QString chemcv;                   // the path to rewrite; replaced by its short form on success
    QStringList tabcourt{QString()};  // short forms made so far, index 1..nbcourt (index 0 unused)
    QStringList tablong{QString()};   // the blank-free upper-case long names they were made from
    qint16 nbcourt = 0;               // number of entries
    qint16 chemcourt();               // 1 when chemcv was rewritten, 0 when left as it was
};

ShortPaths& shortPaths();  // the process-wide instance the window uses

}  // namespace redim
