// "Lire Jpeg": asks for a file, then converts it alone or converts every JPEG of its folder.
#include "app/form1.h"
#include "app/messages.h"
#include "platform/filedialog.h"

#include <QFileInfo>
#include <QGroupBox>
#include <QProgressBar>
#include <QRadioButton>

namespace redim {

void Form1::filtrejpg()
{
    filtre = QStringLiteral("jpg");
}

void Form1::filtrebmp()
{
    filtrs = QStringLiteral("bmp");
}

void Form1::Command1_Click()
{
    setStatus(QString());
    aigan = 0;
    Frame7->hide();
    nomfi.clear();
    bitmapsOfRun_.clear();
    filtrejpg();
    filtrebmp();
    const QString filter = filtre.toUpper() + QStringLiteral(" (*.") + filtre + QStringLiteral(")");
    const QString chosen = CommonDialog1->getOpenFileName(this, filter);
    nomfi = chosen;

    if (Option20->isChecked()) {
        if (nomfi.isEmpty())
            return;
        Frame7->show();
        runLive([this] { convertFolder(QFileInfo(nomfi).absolutePath()); });
        return;
    }

    if (chosen.size() < kShortestPath)
        return;
    runLive([this] { convertChosenImage(); });
}

void Form1::convertFolder(const QString &folder)
{
    const bool logged = dosim(folder);
    if (stopRequested())
        return;  // the window is closing: the photos not reached are simply not converted
    // A failure the log could not record stays in the status line: the run did not end well.
    if (!logged)
        return;
    ProgressBar1->setValue(ProgressBar1->maximum());
    setStatus(messages::folderDone);
}

void Form1::convertChosenImage()
{
    convim();
    if (aigan == 1) {
        appendToLog(nomfi);
        ctr += 1;
        return;
    }
    setStatus(messages::imageDone + nomfi + messages::imageDoneEnd);
}

}  // namespace redim
