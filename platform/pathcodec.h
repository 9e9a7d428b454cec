// File names on Linux are bytes, and most of them are UTF-8. These two functions carry any name
// into a QString and back without losing a byte.
#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringView>

namespace redim {

// Decodes UTF-8; each byte that is not part of valid UTF-8 becomes the lone surrogate
// U+DC00 + byte, which no valid UTF-8 text can produce, so encodePath() can restore it.
QString decodePath(QByteArrayView bytes);

// The bytes of `path` as decodePath() read them; any other lone surrogate becomes '?'.
QByteArray encodePath(QStringView path);

}  // namespace redim
