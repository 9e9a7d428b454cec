// The folder run: every JPEG of one folder, in the order the file system lists them.
#include "app/form1.h"
#include "phase1/readahead.h"
#include "platform/filesystem.h"
#include "platform/pathcodec.h"

#include <QProgressBar>
#include <QScopeGuard>
#include <QSlider>

#include <algorithm>
#include <optional>
#include <utility>

namespace redim {

bool Form1::dosim(const QString &folder)
{
    // The first listing only sizes the progress bar; the second one is what gets converted. A link
    // to a photo is converted like the photo, under the link's name.
    const auto list = [&] { return listFiles(folder, filtre, Links::Follow); };
    const std::optional<QStringList> counted = keepingAlive(list);
    if (!counted)
        return true;
    if (counted->size() >= 2)
        ProgressBar1->setMaximum(static_cast<int>(counted->size() - 1));
    const QStringList names = keepingAlive(list).value_or(QStringList());

    // While the window writes each photo, the next ones are read and scaled on the other cores;
    // the steps below reach the library through the read-ahead for the run.
    std::vector<QByteArray> paths;
    for (const QString &name : names)
        paths.push_back(encodePath(folder + kSeparator + name));
    ReadAhead::Options options;
    options.workers = env_.readAheadWorkers;
    std::optional<ReadAhead> readAhead;
    readAhead.emplace(*env_.images, std::move(paths), Slider2->value(), threads_, options);
    readAhead_ = &*readAhead;
    stackImageLibrary();
    // Abandoning the read-ahead waits for the photos its workers are reading; so does a program
    // that ends in the middle of the run.
    const EndBeforeExit endAtExit([&] { readAhead.reset(); });
    const auto endReadAhead = qScopeGuard([&] {
        readAhead_ = nullptr;
        stackImageLibrary();
        keepingAlive([&] { readAhead.reset(); });
    });

    bool logged = true;
    int counter = 0;
    for (const QString &name : names) {
        nomfi = folder + kSeparator + name;
        aigan = 0;  // each image is stopped only by its own failure
        convim();
        if (aigan != 0) {
            logged = appendToLog(nomfi) && logged;
            ctr += 1;
        }
        // Files that appeared since the first listing must not push the bar past its end.
        ProgressBar1->setValue(std::min(counter, ProgressBar1->maximum()));
        ProgressBar1->repaint();
        ++counter;
        if (stopRequested())
            break;  // the window is being closed: this photo was the last one
    }
    return logged;
}

}  // namespace redim
