// "Ecrire Jpeg" starts the converter on the result folder; "Effacer Bmp" erases the bitmaps it
// has converted.
#include "app/form1.h"
#include "app/messages.h"
#include "phase2/shortpath.h"
#include "platform/filesystem.h"
#include "platform/process.h"

#include <QElapsedTimer>

namespace redim {

namespace {

// "Effacer Bmp" looks at the converters this often while it waits for them.
constexpr std::chrono::milliseconds kWaitSlice(100);

}  // namespace

void Form1::Command5_Click()
{
    setStatus(messages::converting + chemir);

    ShortPaths &shortForm = shortPaths();
    shortForm.chemcv = chemir;
    shortForm.chemcourt();
    chemir = shortForm.chemcv;

    // The converter works in the private folder: never where another user could redirect it.
    // Each piece is one argument: blanks or shell characters in a path are never interpreted.
    const QString program = chemin + kSeparator + QStringLiteral("ConvertImg");
    const QStringList arguments = {QStringLiteral("/jpg"), QStringLiteral("/S"), QStringLiteral("/R"),
                                   chemir + kSeparator + QStringLiteral("*.bmp"), chemir};
    if (!tempFolderTrusted())
        setStatus(messages::folderUnusable + env_.paths.tempFolder + messages::folderUnusableEnd);
    else if (!env_.processes->start(program, arguments))
        setStatus(messages::converterMissing);
}

void Form1::Command6_Click()
{
    setStatus(messages::erasing);
    runLive([this] {
        waitForConverters();
        if (tempFolderTrusted())
            eraseConvertedBitmaps();
        setStatus(messages::jpegsIn + chemir);
    });
}

// Waits for the converters this window started, as long as they keep finishing JPEGs: one that
// has finished none for converterPatience is taken as hung. Closing the window ends the wait.
void Form1::waitForConverters()
{
    QElapsedTimer sinceLastJpeg;
    sinceLastJpeg.start();
    qsizetype jpegs = -1;
    while (!stopRequested() && !keepingAlive([this] { return env_.processes->waitForAll(kWaitSlice); })) {
        const qsizetype now = listFiles(chemir, QStringLiteral("jpg")).value_or(QStringList()).size();
        if (now != jpegs) {
            jpegs = now;
            sinceLastJpeg.restart();
        } else if (sinceLastJpeg.hasExpired(env_.converterPatience.count())) {
            break;
        }
    }
}

// A bitmap is erased only when the JPEG made from that very bitmap stands beside it (the
// converter writes a JPEG whole before it appears, with its bitmap's time). Any other bitmap is
// the only copy of a resized photo: it is kept and recorded in the log, once however often it is
// kept.
void Form1::eraseConvertedBitmaps()
{
    const QStringList kept = keepingAlive([this] {
        QStringList unconverted;
        for (const QString &name : listFiles(chemir, QStringLiteral("bmp")).value_or(QStringList())) {
            const QString bitmap = chemir + kSeparator + name;
            if (isMadeFrom(jpegBeside(bitmap), bitmap))
                deleteFile(bitmap);  // one that cannot be deleted does not stop the others
            else
                unconverted.append(bitmap);
        }
        return unconverted;
    });
    for (const QString &bitmap : kept) {
        if (keptInLog_.contains(bitmap))
            continue;
        keptInLog_.insert(bitmap);
        appendToLog(bitmap);
        ctr += 1;
    }
}

}  // namespace redim
