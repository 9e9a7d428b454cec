// Renders the three windows offscreen to PNG files, for anyone who wants to look at them:
//   QT_QPA_PLATFORM=offscreen redim_screenshots <folder>
#include "app/form1.h"
#include "app/look.h"
#include "windows/form2.h"
#include "windows/form3.h"

#include <QApplication>
#include <QDir>
#include <QTemporaryDir>
#include <QTest>

#include <cstdio>

namespace {

bool save(QWidget &window, const QString &path)
{
    QTest::qWait(50);
    const bool saved = window.grab().save(path);
    std::printf("%s %s\n", saved ? "wrote" : "could not write", qPrintable(path));
    return saved;
}

}  // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    redim::applyLook(app);
    const QString folder = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QDir::currentPath();

    QTemporaryDir root;  // the screenshots never touch the real result folder
    redim::Form1::Environment environment;
    environment.paths = redim::pathsUnder(root.path() + QStringLiteral("/tmp"));
    redim::Form1 form(environment);
    form.show();
    bool ok = save(form, folder + QStringLiteral("/Form1.png"));

    redim::Form2::open();
    ok &= save(redim::Form2::instance(), folder + QStringLiteral("/Form2.png"));
    redim::Form2::instance().close();
    redim::Form3::open(redim::privateFolderChoices().first());
    ok &= save(redim::Form3::instance(), folder + QStringLiteral("/Form3.png"));
    redim::Form3::instance().close();
    return ok ? 0 : 1;
}
