// The main window as designed, its start-up and its end, the rate display, and the About and
// Help windows' behaviour.
#include "tests/app/fixture.h"

#include "app/look.h"
#include "windows/form2.h"
#include "windows/form3.h"

#include <QAbstractButton>
#include <QGroupBox>
#include <QGuiApplication>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScopeGuard>
#include <QScreen>
#include <QSlider>
#include <QTest>

#include <sys/wait.h>
#include <unistd.h>

namespace redim::testing {
namespace {

struct DesignedControl {
    const char *name;
    const char *className;
    const char *container;
    const char *caption;
    int left, top, width, height;  // twips
    QColor background, foreground;
    qreal fontSize;  // 0: the default size
    int tabIndex;
};

const QColor dflt;

// The main window's controls as they were designed.
const DesignedControl kDesign[] = {
    {"Command6", "QPushButton", "Form1", "Effacer Bmp", 5400, 1320, 1815, 495, dflt, dflt, 13.5, 15},
    {"Command5", "QPushButton", "Form1", "Ecrire Jpeg", 5400, 720, 1815, 495, dflt, dflt, 13.5, 14},
    {"Frame7", "QGroupBox", "Form1", "", 5400, 3840, 1830, 495, QColor(64, 0, 64), QColor(255, 255, 0), 8.25, 11},
    {"ProgressBar1", "QProgressBar", "Frame7", "", 0, 120, 1815, 375, dflt, dflt, 0, 12},
    {"Command4", "QPushButton", "Form1", "A propos", 5400, 2640, 1815, 495, dflt, dflt, 13.5, 10},
    {"Command3", "QPushButton", "Form1", "Aide", 5400, 3240, 1815, 495, dflt, dflt, 13.5, 9},
    {"Command2", "QPushButton", "Form1", "Quitter", 5400, 1920, 1815, 495, QColor(0, 128, 128), dflt, 13.5, 8},
    {"Command1", "QPushButton", "Form1", "Lire Jpeg", 5400, 120, 1815, 495, dflt, dflt, 13.5, 7},
    {"Text1", "QPlainTextEdit", "Form1", "", 120, 4440, 7095, 615, QColor(255, 192, 128), QColor(255, 0, 0), 8.25, 6},
    {"Frame1", "QGroupBox", "Form1", " Options", 120, 120, 5175, 4215, QColor(0, 192, 192), dflt, 13.5, 0},
    {"Frame6", "QGroupBox", "Frame1", " Taux de redimensionnement (10 à 200 %)", 120, 2640, 4935, 1455,
     QColor(192, 192, 0), QColor(192, 0, 0), 12, 4},
    {"Text2", "QLineEdit", "Frame6", nullptr, 2040, 960, 735, 375, QColor(0, 0, 0), QColor(0, 255, 0), 9.75, 13},
    {"Slider2", "QSlider", "Frame6", "", 120, 480, 4695, 390, dflt, dflt, 0, 5},
    {"Frame4", "QGroupBox", "Frame1", " Type de redimensionnement", 120, 360, 4935, 2175, QColor(255, 255, 192),
     QColor(0, 128, 0), 12, 1},
    {"Option20", "QRadioButton", "Frame4", "Toutes les images d'un dossier à la suite", 120, 1440, 4695, 495,
     QColor(0, 255, 0), dflt, 9.75, 3},
    {"Option19", "QRadioButton", "Frame4", "Image par image", 120, 480, 4695, 495, QColor(0, 255, 0), QColor(0, 0, 0),
     9.75, 2},
};

QString captionOf(const QWidget *widget)
{
    if (auto *button = qobject_cast<const QAbstractButton *>(widget))
        return button->text();
    if (auto *frame = qobject_cast<const QGroupBox *>(widget))
        return frame->title();
    if (auto *box = qobject_cast<const QPlainTextEdit *>(widget))
        return box->toPlainText();
    return QString();
}

class MainWindow : public WindowTest {};

TEST_F(MainWindow, EveryControlStandsAsDesigned)
{
    auto form = makeForm();
    EXPECT_EQ(form->size(), QSize(490, 348));
    EXPECT_EQ(form->windowTitle(), QStringLiteral(" Redimensionnement d'images  Jpeg"));
    EXPECT_EQ(form->palette().color(QPalette::Window), QColor(64, 0, 64));
    EXPECT_FALSE(form->windowFlags() & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint));
    EXPECT_EQ(form->minimumSize(), form->maximumSize());

    const QPalette platform = QApplication::palette();
    for (const DesignedControl &d : kDesign) {
        SCOPED_TRACE(d.name);
        auto *control = form->findChild<QWidget *>(QLatin1String(d.name));
        ASSERT_NE(control, nullptr);
        EXPECT_STREQ(control->metaObject()->className(), d.className);
        EXPECT_EQ(control->parentWidget()->objectName(), QLatin1String(d.container));
        if (d.caption) {
            EXPECT_EQ(captionOf(control), QString::fromUtf8(d.caption));
        }
        EXPECT_EQ(control->geometry(), QRect(d.left / 15, d.top / 15, d.width / 15, d.height / 15));

        const QPalette palette = control->palette();
        const QColor background = d.background.isValid() ? d.background : platform.color(QPalette::Button);
        const QColor foreground = d.foreground.isValid() ? d.foreground : platform.color(QPalette::WindowText);
        EXPECT_EQ(palette.color(QPalette::Button), background);
        EXPECT_EQ(palette.color(QPalette::WindowText), foreground);
        EXPECT_EQ(control->autoFillBackground(), d.background.isValid());

        const QFont font = control->font();
        EXPECT_EQ(font.family(), QStringLiteral("MS Serif"));
        EXPECT_EQ(font.weight(), QFont::Bold);
        EXPECT_DOUBLE_EQ(font.pointSizeF(), d.fontSize > 0 ? d.fontSize : 8.25);
        // Where MS Serif is missing a serif face stands in, never the default sans face.
        EXPECT_FALSE(QFontInfo(font).family().contains(QStringLiteral("Sans")))
            << QFontInfo(font).family().toStdString();
    }

    // Tab visits the controls that take the focus in the order of their tab index.
    std::vector<const DesignedControl *> byTab;
    for (const DesignedControl &d : kDesign) {
        if (form->findChild<QWidget *>(QLatin1String(d.name))->focusPolicy() & Qt::TabFocus)
            byTab.push_back(&d);
    }
    std::sort(byTab.begin(), byTab.end(), [](auto *a, auto *b) { return a->tabIndex < b->tabIndex; });
    ASSERT_EQ(byTab.size(), 11u);  // everything but the four frames and the progress bar
    QStringList expected, chain;
    for (auto *d : byTab)
        expected.append(QLatin1String(d->name));
    QWidget *widget = form->findChild<QWidget *>(expected.first());
    for (int steps = 0; chain.size() < expected.size() && steps < 100; ++steps) {
        if (expected.contains(widget->objectName()) && !chain.contains(widget->objectName()))
            chain.append(widget->objectName());
        widget = widget->nextInFocusChain();
    }
    EXPECT_EQ(chain.join(' ').toStdString(), expected.join(' ').toStdString());
}

TEST_F(MainWindow, StartsAtRateHundredInFolderModeWithTheProgressHidden)
{
    auto form = makeForm();
    form->show();
    EXPECT_EQ(form->Slider2->value(), 100);
    EXPECT_EQ(form->Slider2->minimum(), 10);
    EXPECT_EQ(form->Slider2->maximum(), 200);
    EXPECT_EQ(form->Slider2->pageStep(), 5);
    EXPECT_EQ(form->Slider2->tickInterval(), 10);
    EXPECT_EQ(form->Text2->text(), QStringLiteral("100  %"));
    EXPECT_TRUE(form->Option20->isChecked());
    EXPECT_FALSE(form->Option19->isChecked());
    EXPECT_FALSE(form->Frame7->isVisible());
    EXPECT_TRUE(form->Text1->toPlainText().isEmpty());
    EXPECT_EQ(form->cible, tempFolder() + QStringLiteral("/Dib.bmp"));
    EXPECT_EQ(form->chemir, resultFolder());
    EXPECT_EQ(form->logx, logPath());
    EXPECT_EQ(form->chemin, root.path() + QStringLiteral("/bin"));
    EXPECT_EQ(form->ctr, 0.0f);
}

TEST_F(MainWindow, RateDisplayIsAlwaysSixCharacters)
{
    auto form = makeForm();
    const std::pair<int, const char *> cases[] = {{10, " 10  %"}, {100, "100  %"}, {200, "200  %"}, {99, " 99  %"}};
    for (const auto &[value, text] : cases) {
        form->Slider2->setValue(value);
        EXPECT_EQ(form->Text2->text(), QLatin1String(text)) << value;
    }
    // A user's key press from the last rate runs the same handler.
    QTest::keyClick(form->Slider2, Qt::Key_Right);
    EXPECT_EQ(form->Text2->text(), QStringLiteral("100  %"));
}

TEST_F(MainWindow, IsCentredOnTheScreen)
{
    auto form = makeForm();
    form->show();
    const QRect screen = form->screen()->geometry();
    const QRect frame = form->frameGeometry();
    EXPECT_NEAR(frame.left() - screen.left(), (screen.width() - frame.width()) / 2, 1);
    EXPECT_NEAR(frame.top() - screen.top(), (screen.height() - frame.height()) / 2, 1);
}

// Start-up on several result folders: what is left afterwards, and the exact log.
// The id of a process that has ended.
pid_t endedProcess()
{
    const pid_t child = ::fork();
    if (child == 0)
        ::_exit(0);
    ::waitpid(child, nullptr, 0);
    return child;
}

TEST_F(MainWindow, StartUpEmptiesTheResultFolderOfBitmapsAndJpegs)
{
    struct Case {
        const char *label;
        QStringList before;  // files in the result folder before start-up
        QStringList after;   // what start-up leaves
    };
    // Temporaries of programs that were killed go; those of a program at work stay.
    const QString ended = QString::number(endedProcess());
    const QString running = QString::number(::getpid());
    const QString keptTemporary = QStringLiteral(".convertimg-") + running + QStringLiteral("-b.jpg.Xy12Zw");
    const Case cases[] = {
        {"first start", {}, {"Log.txt"}},
        {"earlier run",
         {"a.bmp", "B.BMP", "c.jpg", "D.JPG", "e.Jpg", "Log.txt", "notes.txt", "f.jpeg", "g.bmp.txt"},
         {"Log.txt", "f.jpeg", "g.bmp.txt", "notes.txt"}},
        {"killed run",
         {QStringLiteral(".convertimg-") + ended + QStringLiteral("-a.jpg.Ab12Cd"),
          QStringLiteral(".redim-") + ended + QStringLiteral("-a.bmp.Ab12Cd"), keptTemporary,
          QStringLiteral(".imglib-x-1.tmp")},
         {keptTemporary, ".imglib-x-1.tmp", "Log.txt"}},
    };
    const QString killedLibraryTemporary =
        tempFolder() + QStringLiteral("/.imglib-") + ended + QStringLiteral("-0-0000abcd.tmp");
    for (const Case &c : cases) {
        SCOPED_TRACE(c.label);
        QDir(resultFolder()).removeRecursively();
        if (!c.before.isEmpty()) {
            ASSERT_TRUE(QDir().mkpath(resultFolder()));
            for (const QString &name : c.before)
                writeAll(resultFolder() + '/' + name, "old contents\r\n");
        }
        ASSERT_TRUE(QDir().mkpath(tempFolder()));
        writeAll(killedLibraryTemporary, "part of a bitmap");
        auto form = makeForm();
        EXPECT_EQ(entries(resultFolder()), c.after);
        EXPECT_EQ(entries(tempFolder()), QStringList({"RaduZor"}));
        EXPECT_EQ(readAll(logPath()), kHeaderOnly);
    }
}

// A folder with Qt's permission bits `Mode` (0x7770 is 0770).
template <int Mode>
void folderWithMode(const QString &path)
{
    QDir().mkpath(path);
    QFile::setPermissions(path, QFileDevice::Permissions(Mode));
}

// A folder that cannot be used is said at once: every photo of the session would fail in it. One
// of the user's own that others may enter is narrowed to its owner and used.
TEST_F(MainWindow, StartUpSaysWhenTheFoldersCannotBeUsed)
{
    struct Case {
        const char *label;
        void (*prepare)(const QString &temp);
        const char *unusable;  // the folder the status line names; null: none, the folder is used
    };
    const Case cases[] = {
        {"temporary folder is a file", [](const QString &temp) { writeAll(temp, "x"); }, ""},
        {"temporary folder is a link elsewhere",
         [](const QString &temp) {
             QDir().mkpath(temp + QStringLiteral(".elsewhere"));
             QFile::link(temp + QStringLiteral(".elsewhere"), temp);
         },
         ""},
        {"result folder is a file",
         [](const QString &temp) {
             QDir().mkpath(temp);
             writeAll(temp + QStringLiteral("/RaduZor"), "x");
         },
         "/RaduZor"},
        {"temporary folder writable by others", folderWithMode<0x7777>, nullptr},
        {"temporary folder readable by others (0755)", folderWithMode<0x7755>, nullptr},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.label);
        QTemporaryDir fresh;
        const QString temp = fresh.path() + QStringLiteral("/tmp");
        c.prepare(temp);
        Form1::Environment env = environment();
        env.paths = pathsUnder(temp);
        Form1 form(env);
        form.show();
        EXPECT_TRUE(form.isVisible());
        EXPECT_FALSE(QFile::exists(temp + QStringLiteral(".elsewhere/RaduZor")));
        if (c.unusable) {
            EXPECT_EQ(form.Text1->toPlainText(),
                      QStringLiteral("Anomalie. Dossier %1%2 inutilisable").arg(temp, QLatin1String(c.unusable)));
            EXPECT_FALSE(QFileInfo(temp + QStringLiteral("/RaduZor/Log.txt")).isFile());
        } else {
            EXPECT_TRUE(form.Text1->toPlainText().isEmpty());
            EXPECT_EQ(QFileInfo(temp).permissions().toInt() & 0x0077, 0);
            EXPECT_EQ(readAll(temp + QStringLiteral("/RaduZor/Log.txt")), kHeaderOnly);
        }
    }
}

TEST_F(MainWindow, UnloadingDeletesALogWithoutFailuresAndKeepsOneWithFailures)
{
    for (const float failures : {0.0f, 1.0f, 3.0f}) {
        auto form = makeForm();
        form->show();
        form->ctr = failures;
        form->Command2->click();  // "Quitter"
        EXPECT_FALSE(form->isVisible());
        EXPECT_EQ(QFile::exists(logPath()), failures > 0) << failures;
    }
    // The close box does the same as "Quitter".
    auto form = makeForm();
    form->show();
    form->close();
    EXPECT_FALSE(QFile::exists(logPath()));
}

class SecondaryWindows : public WindowTest {
protected:
    void TearDown() override
    {
        Form2::instance().close();
        Form3::instance().close();
    }
    static void activate(QWidget *window)
    {
        window->activateWindow();
        ASSERT_TRUE(QTest::qWaitFor([&] { return window->isActiveWindow(); }));
    }
};

TEST_F(SecondaryWindows, AboutPrintsOnceAndClosesOnItsSecondActivation)
{
    auto form = makeForm();
    form->show();
    activate(form.get());
    Form2 &about = Form2::instance();

    form->Command4->click();  // "A propos"
    ASSERT_TRUE(QTest::qWaitFor([&] { return about.isActiveWindow(); }));
    EXPECT_EQ(about.aig, 1);
    ASSERT_EQ(about.printedLines().size(), 6);
    EXPECT_TRUE(about.printedLines().at(1).startsWith(QStringLiteral("      ©")));
    EXPECT_TRUE(about.printedLines().at(3).startsWith(QString(12, ' ')));
    EXPECT_TRUE(about.printedLines().at(5).startsWith(QString(9, ' ')));
    EXPECT_EQ(about.windowTitle(), QStringLiteral(" A propos"));
    EXPECT_EQ(about.Command1->text(), QStringLiteral("O K"));
    // About and Help share an icon of their own, at 32 and 16 pixels.
    const QIcon icon = about.windowIcon();
    EXPECT_EQ(icon.availableSizes(), QList<QSize>({{32, 32}, {16, 16}}));
    EXPECT_EQ(icon.pixmap(32).toImage(), Form3::instance().windowIcon().pixmap(32).toImage());
    EXPECT_FALSE(form->windowIcon().pixmap(32).isNull());
    EXPECT_NE(icon.pixmap(32).toImage(), form->windowIcon().pixmap(32).toImage());

    // Back to the main window, which stays usable, then to the About window: it closes.
    activate(form.get());
    form->Slider2->setValue(50);
    EXPECT_EQ(form->Text2->text(), QStringLiteral(" 50  %"));
    about.activateWindow();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !about.isVisible(); }));
    EXPECT_EQ(about.aig, 0);

    // Opened again, it prints its text again; "O K" closes it.
    form->Command4->click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return about.isVisible() && about.aig == 1; }));
    EXPECT_EQ(about.printedLines().size(), 6);
    about.Command1->click();
    EXPECT_FALSE(about.isVisible());
    EXPECT_EQ(about.aig, 0);

    // "A propos" while it is open brings it to the front, and that second activation closes it.
    form->Command4->click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return about.isActiveWindow(); }));
    activate(form.get());
    form->Command4->click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !about.isVisible(); }));
}

TEST_F(SecondaryWindows, HelpPrintsAgainBelowItsFirstCopyOnEachActivation)
{
    auto form = makeForm();
    form->show();
    activate(form.get());
    Form3 &help = Form3::instance();

    form->Command3->click();  // "Aide"
    ASSERT_TRUE(QTest::qWaitFor([&] { return help.isActiveWindow(); }));
    ASSERT_EQ(help.printedLines().size(), 31);
    // What the text says of the converter and of the result folder is true on this system.
    EXPECT_EQ(help.printedLines().at(2), QStringLiteral("   ConvertImg (freeware)."));
    EXPECT_EQ(
        help.printedLines().at(17),
        QStringLiteral("   privé %1. Les fichiers écrits portent le même nom que les fichiers lus.").arg(tempFolder()));
    for (const QString &line : help.printedLines())
        EXPECT_TRUE(line.isEmpty() || line.startsWith(QStringLiteral("   "))) << line.toStdString();
    // The "OK" button sits below the last line of the text.
    EXPECT_GE(help.Command1->y(), 31 * help.lineHeight());
    EXPECT_EQ(help.palette().color(QPalette::Window), QColor(Qt::white));

    activate(form.get());
    activate(&help);
    EXPECT_EQ(help.printedLines().size(), 62);
    EXPECT_EQ(help.printedLines().mid(31), help.printedLines().mid(0, 31));

    // Clicking "Aide" twice keeps one window; closing and opening again prints from the top.
    form->Command3->click();
    EXPECT_EQ(QApplication::topLevelWidgets().count(&help), 1);
    help.Command1->click();
    EXPECT_FALSE(help.isVisible());
    form->Command3->click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return help.isActiveWindow(); }));
    EXPECT_EQ(help.printedLines().size(), 31);
}

// In a dark theme, the text of every control whose background is designed and whose text is
// the platform's reads on that background as it is painted, as does the Help window's.
TEST_F(SecondaryWindows, EveryTextReadsInADarkTheme)
{
    const QPalette light = QApplication::palette();
    const auto restore = qScopeGuard([&] { QApplication::setPalette(light); });
    QPalette dark;
    for (QPalette::ColorRole role : {QPalette::Window, QPalette::Base, QPalette::Button})
        dark.setColor(role, QColor(42, 42, 46));
    for (QPalette::ColorRole role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
        dark.setColor(role, QColor(238, 238, 238));
    QApplication::setPalette(dark);

    auto form = makeForm();
    Form3 &help = Form3::instance();
    // Each with a point of its background that no text covers.
    const std::pair<QWidget *, QPoint> painted[] = {
        {form->Frame1, {form->Frame1->width() - 4, form->Frame1->height() / 2}},
        {form->Option20, {form->Option20->width() - 4, form->Option20->height() / 2}},
        {form->Command2, {4, form->Command2->height() / 2}},
        {&help, {help.width() - 4, help.height() - 4}},
    };
    for (const auto &[widget, point] : painted) {
        const QColor background = widget->grab().toImage().pixelColor(point);
        const QPalette::ColorRole text = widget == form->Command2 ? QPalette::ButtonText : QPalette::WindowText;
        EXPECT_GE(contrastRatio(widget->palette().color(text), background), 4.5) << widget->objectName().toStdString();
    }
    EXPECT_EQ(help.palette().color(QPalette::Window), QColor(Qt::white));
}

TEST_F(SecondaryWindows, ComingBackFromAnotherProgramIsNoActivation)
{
    auto form = makeForm();
    form->show();
    activate(form.get());
    Form2 &about = Form2::instance();
    Form3 &help = Form3::instance();
    form->Command4->click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return about.isActiveWindow(); }));
    form->Command3->click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return help.isActiveWindow(); }));

    // Another program takes the focus (Qt then reports no focus window), and the user comes back
    // to each window in turn: the About window stays, the Help window prints nothing more.
    for (QWidget *window : {static_cast<QWidget *>(&about), static_cast<QWidget *>(&help)}) {
        emit qApp->focusWindowChanged(nullptr);
        activate(window);
    }
    EXPECT_TRUE(about.isVisible());
    EXPECT_EQ(about.printedLines().size(), 6);
    EXPECT_EQ(help.printedLines().size(), 31);

    // From another window of the program it is an activation again.
    about.activateWindow();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !about.isVisible(); }));
    activate(form.get());
    activate(&help);
    EXPECT_EQ(help.printedLines().size(), 62);
}

TEST_F(SecondaryWindows, QuitterLeavesTheHelpWindowOpenUntilItIsClosed)
{
    // The program ends when no window of it is visible any more.
    const auto windowsOpen = [] {
        const QWidgetList windows = QApplication::topLevelWidgets();
        return std::count_if(windows.begin(), windows.end(), [](QWidget *w) { return w->isVisible(); });
    };
    auto form = makeForm();
    form->show();
    form->Command3->click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return Form3::instance().isVisible(); }));

    form->Command2->click();  // "Quitter"
    EXPECT_FALSE(form->isVisible());
    EXPECT_TRUE(Form3::instance().isVisible());
    EXPECT_EQ(windowsOpen(), 1);
    EXPECT_FALSE(QFile::exists(logPath()));

    Form3::instance().Command1->click();
    EXPECT_EQ(windowsOpen(), 0);
}

}  // namespace
}  // namespace redim::testing
