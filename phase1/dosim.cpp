// The folder run: every JPEG of one folder, in the order the file system lists them.
#include "app/form1.h"
#include "platform/filesystem.h"

#include <QProgressBar>

#include <algorithm>

namespace redim {

void Form1::dosim(const QString &folder)
{
    // The first listing only sizes the progress bar; the second one is what gets converted.
    const std::optional<QStringList> counted = listFiles(folder, filtre);
    if (!counted)
        return;
    if (counted->size() >= 2)
        ProgressBar1->setMaximum(static_cast<int>(counted->size() - 1));

    int counter = 0;
    for (const QString &name : listFiles(folder, filtre).value_or(QStringList())) {
        nomfi = folder + kSeparator + name;
        aigan = 0;  // each image is stopped only by its own failure
        convim();
        if (aigan != 0) {
            appendToLog(nomfi);
            ctr += 1;
        }
        // Files that appeared since the first listing must not push the bar past its end.
        ProgressBar1->setValue(std::min(counter, ProgressBar1->maximum()));
        ProgressBar1->repaint();
        ++counter;
    }
}

}  // namespace redim
