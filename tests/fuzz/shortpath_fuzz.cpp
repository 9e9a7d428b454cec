// libFuzzer target: any text through the short-path routine, read as UTF-8 and as Latin-1, with
// a fresh record, with records that outlive the input (one growing, one full), and line by line
// through one record so that numbering sequences replay the same way every time.
#include "phase2/shortpath.h"
#include "tests/fuzz/fuzz_check.h"

#include <QString>
#include <QStringList>

#include <cstddef>
#include <cstdint>

namespace {

// One call, and what it must keep: either a rewritten path whose folders have at most
// 8 characters and a record grown by at most one entry, or nothing changed at all.
void shorten(redim::ShortPaths &paths, const QString &path)
{
    // Sizes and the newest entry rather than copies of the lists: a copy would make the
    // routine's own resize() copy the whole record on every call.
    const qint16 count = paths.nbcourt;
    const qsizetype made = paths.tabcourt.size();
    const qsizetype longNames = paths.tablong.size();
    const QString newest = paths.tabcourt.isEmpty() ? QString() : paths.tabcourt.last();
    paths.chemcv = path;
    const qint16 result = paths.chemcourt();
    FUZZ_CHECK(result == 0 || result == 1);
    if (result == 0) {
        FUZZ_CHECK(paths.chemcv == path);
        FUZZ_CHECK(paths.nbcourt == count && paths.tabcourt.size() == made && paths.tablong.size() == longNames);
        FUZZ_CHECK(paths.tabcourt.last() == newest);
        return;
    }
    FUZZ_CHECK(paths.nbcourt == count || paths.nbcourt == count + 1);
    FUZZ_CHECK(paths.nbcourt <= redim::ShortPaths::maxEntries);
    FUZZ_CHECK(paths.tabcourt.size() == paths.nbcourt + 1 && paths.tablong.size() == paths.nbcourt + 1);
    FUZZ_CHECK(paths.tabcourt.last() == (paths.nbcourt == count ? newest : paths.chemcv));
    // Past the drive, every name but the last is a folder name.
    const QStringList names = paths.chemcv.mid(2).split(QLatin1Char('\\'));
    for (qsizetype i = 0; i + 1 < names.size(); ++i)
        FUZZ_CHECK(names[i].size() <= 8);
}

// A record as a long session leaves it: full but for a few entries, many of them on one stem.
redim::ShortPaths nearlyFull()
{
    redim::ShortPaths paths;
    paths.tabcourt.reserve(redim::ShortPaths::maxEntries + 1);
    paths.tablong.reserve(redim::ShortPaths::maxEntries + 1);
    while (paths.nbcourt < redim::ShortPaths::maxEntries - 4) {
        const int n = paths.nbcourt % 12 + 1;
        const QString stem = QStringLiteral("IMG%1").arg(paths.nbcourt / 12, 3, 36, QLatin1Char('0')).toUpper();
        paths.tabcourt.append(QStringLiteral("C:\\TEMP\\") + (n < 10 ? stem : stem.left(5)) + QLatin1Char('~') +
                              QString::number(n) + QStringLiteral(".BMP"));
        paths.tablong.append(stem + QStringLiteral("LONGNAME.BMP"));
        ++paths.nbcourt;
    }
    return paths;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    // A session converts a few thousand photos at most; past that the growing record starts
    // again, or every call would walk tens of thousands of entries and fuzzing would crawl.
    static redim::ShortPaths growing;
    static redim::ShortPaths full = nearlyFull();
    if (growing.nbcourt >= 4096)
        growing = redim::ShortPaths();

    const auto *text = reinterpret_cast<const char *>(data);
    const auto length = static_cast<qsizetype>(size);
    const QString inputs[] = {QString::fromUtf8(text, length), QString::fromLatin1(text, length)};
    for (const QString &input : inputs) {
        redim::ShortPaths fresh;
        shorten(fresh, input);
        shorten(growing, input);
    }
    // The full record is slow to search; one input in eight goes through it.
    if (size % 8 == 0)
        shorten(full, inputs[0]);
    redim::ShortPaths sequence;
    for (const QString &line : inputs[0].split(QLatin1Char('\n')))
        shorten(sequence, line);
    return 0;
}
