// The main window on a Wayland-only session, run by wayland.sh inside a headless weston with no X
// display: the real window on Qt's Wayland platform, with one program per user as the program
// takes it, runs both phases through its buttons; a second start of the real program, given an
// activation token, must hand that token to this window and end; then "Quitter".
//
//   desktop_wayland <program>    (the converter is found beside the program)
#include "app/form1.h"
#include "platform/oneinstance.h"
#include "platform/paths.h"
#include "tests/app/fixture.h"
#include "tests/support/testimages.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QWindow>

#include <cstdio>
#include <cstdlib>
#include <limits>

namespace {

void check(bool condition, const char *what)
{
    if (condition)
        return;
    std::fprintf(stderr, "wayland: FAILED: %s\n", what);
    std::exit(1);
}

// Waits for `condition` however long a loaded machine takes: CTest's time-out bounds the whole
// test, and the last line printed names what it was waiting for.
template <typename Condition>
void waitFor(const char *what, Condition condition)
{
    std::printf("wayland: waiting for %s\n", what);
    std::fflush(stdout);
    check(QTest::qWaitFor(condition, std::numeric_limits<int>::max()), what);
}

qsizetype count(const QString &folder, const QString &pattern)
{
    return QDir(folder).entryList({pattern}, QDir::Files).size();
}

}  // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    check(argc == 2, "usage: desktop_wayland <program>");
    check(QGuiApplication::platformName() == QStringLiteral("wayland"), "Qt did not choose its Wayland platform");
    const QString program = QString::fromLocal8Bit(argv[1]);

    const redim::FixedPaths &paths = redim::sessionPaths();
    check(redim::isPrivateFolder(paths.tempFolder), "the private folder cannot be used");
    redim::OneInstance instance(paths.tempFolder);
    check(instance.isFirst(), "another program holds the lock");

    QTemporaryDir photos;
    for (const char *name : {"plage.jpg", "DSC0001.JPG", "été.jpg"})
        testimages::writeJpeg(QDir(photos.path()).filePath(QString::fromUtf8(name)).toStdString(),
                              testimages::quadrants(640, 480));
    redim::testing::ScriptedDialog dialog;
    dialog.answers = {QDir(photos.path()).filePath(QStringLiteral("plage.jpg"))};
    redim::Form1::Environment env;
    env.paths = paths;
    env.dialog = &dialog;
    env.programFolder = QFileInfo(program).canonicalPath();
    redim::Form1 form(env);
    QStringList tokens;
    QObject::connect(&instance, &redim::OneInstance::comeForwardAsked, &form, [&](const QString &token) {
        tokens.append(token);
        form.comeForward(token);
    });
    form.show();
    waitFor("the compositor to show the window",
            [&] { return form.windowHandle() && form.windowHandle()->isExposed(); });

    form.Command1->click();  // "Lire Jpeg", the whole folder
    check(count(paths.resultFolder, QStringLiteral("*.bmp")) == 3, "Phase 1 did not write three bitmaps");

    QProcess second;
    QProcessEnvironment secondEnv = QProcessEnvironment::systemEnvironment();
    secondEnv.insert(QStringLiteral("XDG_ACTIVATION_TOKEN"), QStringLiteral("redim-test-token"));
    second.setProcessEnvironment(secondEnv);
    second.setProcessChannelMode(QProcess::ForwardedChannels);
    second.start(program, {});
    waitFor("the second start to end", [&] { return second.state() == QProcess::NotRunning; });
    check(second.exitStatus() == QProcess::NormalExit && second.exitCode() == 0, "the second start failed");
    waitFor("the second start's call", [&] { return !tokens.isEmpty(); });
    check(tokens == QStringList{QStringLiteral("redim-test-token")}, "the activation token did not reach the window");

    form.Command5->click();  // "Ecrire Jpeg"
    waitFor("three JPEGs", [&] { return count(paths.resultFolder, QStringLiteral("*.jpg")) == 3; });
    form.Command6->click();  // "Effacer Bmp", once the converter is done
    check(count(paths.resultFolder, QStringLiteral("*.bmp")) == 0, "the bitmaps were not erased");
    form.Command2->click();  // "Quitter"
    check(!form.isVisible() && !QFileInfo::exists(paths.resultFolder + QStringLiteral("/Log.txt")),
          "the window did not close as a session without failures ends");
    std::printf("wayland: passed\n");
    return 0;
}
