// Redim Jpeg: resizes JPEG photos through a bitmap stage, in a French desktop window.
#include "app/form1.h"
#include "app/look.h"
#include "platform/oneinstance.h"
#include "platform/paths.h"

#include <QApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QSocketNotifier>
#include <QTranslator>
#include <QWidget>

#include <csignal>
#include <optional>
#include <fcntl.h>
#include <unistd.h>

namespace {

int endOfSessionPipe[2] = {-1, -1};

void tellEndOfSession(int)
{
    const char signalled = 1;
    [[maybe_unused]] const ssize_t written = ::write(endOfSessionPipe[1], &signalled, 1);
}

// A logout (SIGTERM, or SIGHUP from a closing terminal) ends the session as the close box does:
// a run stops after the photo being written, every window closes, and the program ends as it
// always does, its log removed when nothing failed. Returns what watches for the signals.
QSocketNotifier *closeWindowsAtLogout(QApplication &app)
{
    if (::pipe2(endOfSessionPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return nullptr;  // the signals keep their usual effect
    auto *notifier = new QSocketNotifier(endOfSessionPipe[0], QSocketNotifier::Read, &app);
    QObject::connect(notifier, &QSocketNotifier::activated, &app, [] {
        char signalled[16];
        while (::read(endOfSessionPipe[0], signalled, sizeof signalled) > 0) {
        }
        for (QWidget *window : QApplication::topLevelWidgets()) {
            if (window->isVisible())
                window->close();
        }
    });
    struct sigaction action = {};
    action.sa_handler = tellEndOfSession;
    action.sa_flags = SA_RESTART;
    sigemptyset(&action.sa_mask);
    for (const int signal : {SIGTERM, SIGHUP})
        ::sigaction(signal, &action, nullptr);
    return notifier;
}

}  // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    redim::applyLook(app);
    // The window speaks French, and so do Qt's own dialogs (the open-file dialog).
    QTranslator qtFrench;
    if (qtFrench.load(QLocale(QLocale::French), QStringLiteral("qtbase"), QStringLiteral("_"),
                      QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        app.installTranslator(&qtFrench);
    // The program ends when its last window closes: "Quitter" leaves an open Help window open.
    app.setQuitOnLastWindowClosed(true);

    // A second start while a session runs would empty its result folder: it brings the running
    // window forward instead, and ends. The lock and the socket go only into a private folder that
    // passed the checks, before anything is created in it; without one every start is first, and
    // the window says it cannot work.
    const redim::FixedPaths &paths = redim::sessionPaths();
    std::optional<redim::OneInstance> instance;
    if (redim::isPrivateFolder(paths.tempFolder)) {
        instance.emplace(paths.tempFolder);
        if (!instance->isFirst()) {
            instance->askFirstToComeForward(qEnvironmentVariable("XDG_ACTIVATION_TOKEN"));
            return 0;
        }
    }

    redim::Form1 form;
    if (instance) {
        QObject::connect(&*instance, &redim::OneInstance::comeForwardAsked, &form, &redim::Form1::comeForward);
        QObject::connect(&form, &redim::Form1::unloaded, &*instance, &redim::OneInstance::release);
    }
    closeWindowsAtLogout(app);
    form.show();
    return app.exec();
}
