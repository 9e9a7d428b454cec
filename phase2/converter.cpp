// "Ecrire Jpeg" starts the converter on the result folder; "Effacer Bmp" erases the bitmaps.
#include "app/form1.h"
#include "app/messages.h"
#include "phase2/shortpath.h"
#include "platform/filesystem.h"
#include "platform/process.h"

namespace redim {

void Form1::Command5_Click()
{
    setStatus(messages::converting + chemir);

    ShortPaths &shortForm = shortPaths();
    shortForm.chemcv = chemir;
    shortForm.chemcourt();
    chemir = shortForm.chemcv;

    // Each piece is one argument: blanks or shell characters in a path are never interpreted.
    const QString program = chemin + kSeparator + QStringLiteral("ConvertImg");
    const QStringList arguments = {QStringLiteral("/jpg"), QStringLiteral("/S"), QStringLiteral("/R"),
                                   chemir + kSeparator + QStringLiteral("*.bmp"), chemir};
    if (!env_.processes->start(program, arguments))
        setStatus(messages::converterMissing);
}

void Form1::Command6_Click()
{
    setStatus(messages::erasing);
    // A converter still reading the bitmaps keeps them until it has finished.
    if (env_.processes->anyRunning())
        env_.processes->waitForAll();
    if (tempFolderTrusted())
        deleteFiles(chemir, QStringLiteral("bmp"));
    setStatus(messages::jpegsIn + chemir);
}

}  // namespace redim
