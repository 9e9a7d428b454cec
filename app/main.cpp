// Redim Jpeg: resizes JPEG photos through a bitmap stage, in a French desktop window.
#include "app/form1.h"
#include "app/look.h"
#include "platform/memory.h"
#include "platform/oneinstance.h"
#include "platform/paths.h"

#include <QApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

#include <optional>

int main(int argc, char *argv[])
{
    redim::keepFreedMemoryForTheNextPhoto();
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
    form.show();
    return app.exec();
}
