// The per-image sequence and its steps: release, read, resize, write into the result folder.
#include "app/form1.h"
#include "app/messages.h"
#include "imglib_client/imagelibrary.h"
#include "platform/filesystem.h"
#include "platform/pathcodec.h"

#include <QSlider>

namespace redim {

namespace {
constexpr int kUnchangedRate = 100;
}  // namespace

void Form1::convim()
{
    libim();
    lirim();
    if (aigan == 1)
        return;
    zoomim();
    if (aigan == 1)
        return;
    ecrim();
}

void Form1::libim()
{
    if (hdib != 0)
        images_->dibFree(hdib);
}

void Form1::lirim()
{
    hdib = images_->readFileIntoDIB(encodePath(nomfi));
    if (hdib == 0) {
        setStatus(messages::readOrResizeFailed);
        aigan = 1;
    }
}

void Form1::zoomim()
{
    if (Slider2->value() == kUnchangedRate)
        return;
    taux1 = Slider2->value();
    taux2 = taux1;
    const quint32 scaled = images_->zoomDIB(hdib, taux1, taux2);
    if (scaled == 0) {
        setStatus(messages::readOrResizeFailed);
        aigan = 1;
        return;
    }
    hdib = scaled;
}

// One attempt at naming, writing and placing the bitmap. `Failed` goes straight to the failure
// message; `Raised` is a file operation that went wrong and earns one more attempt.
Form1::WriteOutcome Form1::ecrimAttempt()
{
    const QString name = nomfi.mid(nomfi.lastIndexOf(kSeparator) + 1);
    if (name.size() < 3)
        return WriteOutcome::Raised;  // no extension to replace
    nomsor = chemir + kSeparator + name.chopped(3) + filtrs;

    // Nothing is written into a temporary folder that someone else could redirect. Two photos
    // whose names differ only in the letter case of their extension make one bitmap name: the
    // first one keeps it, the second is not written over it.
    if (!tempFolderTrusted() || bitmapsOfRun_.contains(nomsor))
        return WriteOutcome::Failed;
    if (images_->writeDIBToFile(hdib, encodePath(cible), optecr) == 0)
        return WriteOutcome::Failed;
    if (nomsor.size() < kShortestPath)
        return WriteOutcome::Failed;
    // Later than the bitmap it replaces and than a JPEG made from that one, even within a second.
    if (!keepingAlive([this] { return placeFile(cible, nomsor, jpegBeside(nomsor)) && deleteFile(cible); }))
        return WriteOutcome::Raised;
    bitmapsOfRun_.insert(nomsor);
    return WriteOutcome::Done;
}

void Form1::ecrim()
{
    nomsor.clear();
    if (nomfi.lastIndexOf(kSeparator) < 0) {
        failWrite();
        return;
    }
    if (nomfi.size() < kShortestPath)
        return;
    WriteOutcome outcome = ecrimAttempt();
    if (outcome == WriteOutcome::Raised)
        outcome = ecrimAttempt();
    if (outcome != WriteOutcome::Done)
        failWrite();
}

void Form1::failWrite()
{
    if (tempFolderTrusted())
        deleteFile(cible);  // never leave the intermediate file behind
    setStatus(messages::writeFailed);
    aigan = 1;
}

}  // namespace redim
