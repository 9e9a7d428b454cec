// The short-path routine: the folders and the last name of a path cut to short form, and long
// names numbered from the record of those made before.
#include "phase2/shortpath.h"

#include <algorithm>

namespace redim {

namespace {

// The routine counts positions in a string from 1, and taking more characters than a string
// holds gives what is there (an empty string past the end, never an out-of-range read).
// QString::left/right cannot be used directly because they return the whole string for a
// negative count.

// First n characters; empty when n <= 0.
QString leftOf(const QString& s, qsizetype n)
{
    return n <= 0 ? QString() : s.left(n);
}

// Last n characters; empty when n <= 0.
QString rightOf(const QString& s, qsizetype n)
{
    return n <= 0 ? QString() : s.right(n);
}

// From position `start` (1-based) to the end; empty past the end.
QString midFrom(const QString& s, qsizetype start)
{
    start = std::max<qsizetype>(start, 1);
    return start > s.size() ? QString() : s.mid(start - 1);
}

// The single character at position pos (1-based); empty outside the string.
QString charAt(const QString& s, qsizetype pos)
{
    return pos < 1 || pos > s.size() ? QString() : QString(s.at(pos - 1));
}

// All but the last n characters; empty when the string is not longer than n.
QString dropLast(const QString& s, qsizetype n)
{
    return leftOf(s, s.size() - n);
}

// Position (1-based) of the first backslash, 0 when there is none.
qsizetype backslashPos(const QString& s)
{
    return s.indexOf(QLatin1Char('\\')) + 1;
}

QString withoutBlanks(QString s)
{
    return s.remove(QLatin1Char(' '));
}

// The number a short piece of text starts with: blanks, tabs and line breaks are ignored, an
// optional sign, then digits up to the first other character; text that does not start with
// a number gives 0. Only the whole part is kept (".5" gives 0): the value becomes the number
// written into a short name.
int leadingNumber(const QString& s)
{
    int sign = 1;
    int value = 0;
    bool signSeen = false;
    bool digitSeen = false;
    for (const QChar c : s) {
        if (c == QLatin1Char(' ') || c == QLatin1Char('\t') || c == QLatin1Char('\n') || c == QLatin1Char('\r'))
            continue;
        if (!signSeen && !digitSeen && (c == QLatin1Char('-') || c == QLatin1Char('+'))) {
            signSeen = true;
            sign = c == QLatin1Char('-') ? -1 : 1;
            continue;
        }
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            break;
        digitSeen = true;
        value = std::min(value * 10 + (c.unicode() - u'0'), 100000);
    }
    return sign * value;
}

// Entry k of a record list, empty when k is outside it (the lists are public, so the
// routine does not count on them having exactly nbcourt + 1 slots).
QString entry(const QStringList& list, qsizetype k)
{
    return k < 0 || k >= list.size() ? QString() : list.at(k);
}

// The drive, its colon and the short forms of the folders of `upper`, an upper-case path;
// `name` receives the last name, what follows the last backslash.
QString shortFolders(const QString& upper, QString& name)
{
    // Drive and colon; the backslash after them is skipped without being looked at.
    QString shortPath = leftOf(upper, 2);
    QString rest = midFrom(upper, 4);

    // Folder names: 8 characters or fewer (blanks counted) stay whole, longer ones become
    // their first 6 characters and "~1". Folders are never numbered.
    for (qsizetype p = backslashPos(rest); p > 0; p = backslashPos(rest)) {
        const QString folder = leftOf(rest, p - 1);
        const qsizetype length = folder.size();
        const QString compact = withoutBlanks(folder);
        shortPath += QLatin1Char('\\');
        shortPath += length < 9 ? compact : leftOf(compact, 6) + QStringLiteral("~1");
        rest = midFrom(rest, p + 1);
    }
    name = rest;
    return shortPath;
}

// The last name must end in a dot and three characters (for a name of fewer than
// 4 characters, its first character must be the dot).
bool endsInDotAndThree(const QString& name)
{
    const qsizetype dotPos = name.size() < 4 ? 1 : name.size() - 3;
    return charAt(name, dotPos) == QLatin1String(".");
}

// One more than the number of `made`, a recorded short name that ends in "~" and one digit,
// or in "~" and two digits, before its extension.
int nextNumber(const QString& made)
{
    const QString madeTail = rightOf(made, 6);
    return madeTail.startsWith(QLatin1Char('~')) ? leadingNumber(charAt(madeTail, 2)) + 1
                                                 : leadingNumber(leftOf(madeTail, 2)) + 1;
}

// `shortPath`, which ends in "~1" and the extension, with `number` in place of the 1: below
// 10 it takes the digit's place, from 10 on it takes the place of the character before the
// "~" too.
QString withNumber(const QString& shortPath, int number)
{
    const QString extension = rightOf(shortPath, 4);
    if (number < 10)
        return dropLast(shortPath, 5) + QString::number(number) + extension;
    return dropLast(shortPath, 7) + QLatin1Char('~') + QString::number(number) + extension;
}

// Chooses the number of `shortPath` from the record, newest entry first. The candidate ends in
// "~1" and the extension; an entry ends either so ("~" and one digit) or in "~" and two digits.
QString numberedFromRecord(const ShortPaths& record, const QString& shortPath, const QString& longName)
{
    const qsizetype count = std::max<qsizetype>(record.nbcourt, 0);
    const QString newestName8 = leftOf(entry(record.tablong, count), 8);
    for (qsizetype k = count; k >= 1; --k) {
        const QString made = entry(record.tabcourt, k);
        const qsizetype tail = charAt(made, made.size() - 6) == QLatin1String("~") ? 7 : 5;
        if (dropLast(made, tail) != dropLast(shortPath, tail))
            continue;
        // Same stem: a name that does not share its first 8 characters with the newest
        // entry's name keeps "~1", whichever entry matched.
        if (leftOf(longName, 8) != newestName8)
            break;
        if (rightOf(made, 3) != rightOf(shortPath, 3))
            continue;  // another extension
        return withNumber(shortPath, nextNumber(made));
    }
    return shortPath;
}

// Records a new short name. Once the 16-bit count is full, further long names still get
// their short form but are no longer recorded, so the count never wraps round.
void recordShortName(ShortPaths& record, const QString& shortPath, const QString& longName)
{
    if (record.nbcourt < 0 || record.nbcourt >= ShortPaths::maxEntries)
        return;
    record.tabcourt.resize(record.nbcourt + 1);
    record.tablong.resize(record.nbcourt + 1);
    ++record.nbcourt;
    record.tabcourt.append(shortPath);
    record.tablong.append(longName);
}

}  // namespace

qint16 ShortPaths::chemcourt()
{
    QString name;
    const QString folders = shortFolders(chemcv.toUpper(), name);
    if (!endsInDotAndThree(name))
        return 0;  // the path stays as it was

    if (name.size() < 13) {
        // A short file name passes as it is, blanks included, and is not recorded.
        chemcv = folders + QLatin1Char('\\') + name;
        return 1;
    }

    const QString longName = withoutBlanks(name);
    const QString candidate =
        folders + QLatin1Char('\\') + leftOf(longName, 6) + QStringLiteral("~1") + rightOf(longName, 4);
    const QString shortPath = numberedFromRecord(*this, candidate, longName);
    recordShortName(*this, shortPath, longName);
    chemcv = shortPath;
    return 1;
}

ShortPaths& shortPaths()
{
    static ShortPaths instance;
    return instance;
}

}  // namespace redim
