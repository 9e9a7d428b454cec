// Runs Phase 1 once through the real main window, for the benchmark: a folder of JPEGs at one
// rate, read by the real libimglib.so, the bitmaps left in a result folder under a root of our
// own.  Usage: redim_phase1_run PHOTO_FOLDER RATE ROOT
// Prints the number of bitmaps written; exits non-zero when any photo failed.
#include "app/form1.h"
#include "app/look.h"
#include "platform/filedialog.h"
#include "platform/process.h"

#include <QApplication>
#include <QDir>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>

#include <cstdio>

namespace {

// Answers the open-file dialog with one fixed file, as a user picking a photo of the folder.
class FixedAnswer final : public redim::FileDialog {
public:
    explicit FixedAnswer(QString path) : path_(std::move(path)) {}
    QString getOpenFileName(QWidget *, const QString &) override { return path_; }

private:
    QString path_;
};

// Phase 1 never starts a process; anything else would be a fault of the benchmark.
class NoProcesses final : public redim::ProcessStarter {
public:
    bool start(const QString &, const QStringList &) override { return false; }
    bool waitForAll(std::chrono::milliseconds) override { return true; }
};

}  // namespace

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    redim::applyLook(app);
    const QStringList args = app.arguments();
    if (args.size() != 4) {
        std::fprintf(stderr, "usage: redim_phase1_run PHOTO_FOLDER RATE ROOT\n");
        return 2;
    }
    const QDir photos(args[1]);
    const int rate = args[2].toInt();
    const QString root = QDir(args[3]).absolutePath();
    // An empty folder measures the window alone: the dialog then names a file that is not there.
    const QStringList jpegs = photos.entryList({QStringLiteral("*.jpg")}, QDir::Files, QDir::Name);
    const QString chosen = photos.absoluteFilePath(jpegs.isEmpty() ? QStringLiteral("none.jpg") : jpegs.first());

    if (!QDir().mkpath(root)) {
        std::fprintf(stderr, "redim_phase1_run: cannot create %s\n", qPrintable(root));
        return 2;
    }
    FixedAnswer dialog(chosen);
    NoProcesses processes;
    redim::Form1::Environment env;
    env.paths = redim::pathsUnder(root + QStringLiteral("/tmp"));
    env.dialog = &dialog;
    env.processes = &processes;
    env.programFolder = QCoreApplication::applicationDirPath();

    redim::Form1 form(env);
    form.Slider2->setValue(rate);
    form.Option20->setChecked(true);
    form.Command1->click();

    const QStringList written = QDir(env.paths.resultFolder).entryList({QStringLiteral("*.bmp")}, QDir::Files);
    std::printf("%lld\n", static_cast<long long>(written.size()));
    const bool allWritten = written.size() == jpegs.size();
    if (!allWritten)
        std::fprintf(stderr, "redim_phase1_run: %lld of %lld photos written (%s)\n",
                     static_cast<long long>(written.size()), static_cast<long long>(jpegs.size()),
                     qPrintable(form.Text1->toPlainText()));
    return allWritten ? 0 : 1;
}
