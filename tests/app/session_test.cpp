// The window in a desktop session: alive through a long run, stopped by its close box, one
// program per user, and reached by keyboard and screen readers.
#include "tests/app/fixture.h"

#include "app/messages.h"
#include "platform/oneinstance.h"
#include "windows/form2.h"
#include "windows/form3.h"

#include "tests/support/testimages.h"

#include <QAccessible>
#include <QDialog>
#include <QDir>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QSlider>
#include <QTest>
#include <QTimer>
#include <QWindow>

#include <condition_variable>

namespace redim::testing {
namespace {

using namespace std::chrono_literals;

class Session : public WindowTest {
protected:
    HookedLibrary library;
    QString photos;

    void SetUp() override
    {
        photos = root.path() + QStringLiteral("/Photos");
        ASSERT_TRUE(QDir().mkpath(photos));
    }

    std::unique_ptr<Form1> makeForm()
    {
        Form1::Environment env = environment();
        env.images = &library;
        return std::make_unique<Form1>(env);
    }

    void makePhotos(int count)
    {
        for (int i = 0; i < count; ++i) {
            const QString path = photos + QStringLiteral("/p%1.jpg").arg(i);
            testimages::writeJpeg(QFile::encodeName(path).toStdString(), testimages::gradient(64, 48));
        }
    }

    void runFolder(Form1 &form)
    {
        dialog.answers = {photos + QStringLiteral("/p0.jpg")};
        form.Option20->setChecked(true);
        form.Command1->click();
    }

    static void activate(QWidget *window)
    {
        window->activateWindow();
        ASSERT_TRUE(QTest::qWaitFor([&] { return window->isActiveWindow(); }));
    }
};

// The threads of the window's pool, which Form1 names.
int threadsOfTheWindowsPool()
{
    int found = 0;
    for (const QString &task : QDir(QStringLiteral("/proc/self/task")).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        if (readAll(QStringLiteral("/proc/self/task/%1/comm").arg(task)).trimmed() == "redim work")
            ++found;
    }
    return found;
}

TEST_F(Session, TheWindowLivesThroughAFolderRunAndTakesTheUsersInputAfterIt)
{
    makePhotos(2);
    auto form = makeForm();
    form->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
    Form3 &help = Form3::instance();

    // A click on "Aide" comes while the run works; the first bitmap is written only once the
    // window has handled it.
    std::mutex mutex;
    std::condition_variable changed;
    bool clicked = false;
    bool helpOpenedAtTheClick = true;
    QTimer::singleShot(0, form.get(), [&] {
        QTest::mouseClick(form->windowHandle(), Qt::LeftButton, {}, form->Command3->geometry().center());
        helpOpenedAtTheClick = help.isVisible();
        const std::lock_guard lock(mutex);
        clicked = true;
        changed.notify_all();
    });
    bool clickedDuringTheRun = false;
    library.beforeWrite = [&](int call, const QByteArray &) {
        std::unique_lock lock(mutex);
        if (call == 0)
            clickedDuringTheRun = changed.wait_for(lock, 10s, [&] { return clicked; });
    };

    runFolder(*form);
    EXPECT_TRUE(clickedDuringTheRun);
    EXPECT_FALSE(helpOpenedAtTheClick);
    EXPECT_EQ(QDir(resultFolder()).entryList({QStringLiteral("*.bmp")}).size(), 2);
    // The click acts once the run is over.
    ASSERT_TRUE(QTest::qWaitFor([&] { return help.isVisible(); }));
    help.close();
}

// "Effacer Bmp" acts after the run, in its turn; a click on it queued behind a click on "Lire
// Jpeg" acts once the dialog that click opened is closed and its run is over, as it would behind
// a window that was busy. The dialog is modal.
class ModalDialog final : public FileDialog {
public:
    QStringList answers;
    std::function<void()> opened;
    QString getOpenFileName(QWidget *parent, const QString &) override
    {
        if (opened)
            opened();
        QDialog modal(parent);
        modal.setModal(true);
        QTimer::singleShot(0, &modal, &QDialog::accept);
        modal.exec();
        return answers.isEmpty() ? QString() : answers.takeFirst();
    }
};

TEST_F(Session, EveryActionMadeDuringARunActsAfterItInItsOrder)
{
    makePhotos(2);
    ModalDialog modal;
    modal.answers = {photos + QStringLiteral("/p0.jpg"), photos + QStringLiteral("/p1.jpg")};
    Form1::Environment env = environment();
    env.images = &library;
    env.dialog = &modal;
    Form1 form(env);
    form.show();
    activate(&form);
    form.Slider2->setFocus();
    Form2 &about = Form2::instance();
    Form3 &help = Form3::instance();
    const auto restore = qScopeGuard([&] {
        about.close();
        help.close();
    });

    // During the run: a key to the slider, then clicks on "A propos", "Aide", "Lire Jpeg" and
    // "Effacer Bmp".
    std::mutex mutex;
    std::condition_variable changed;
    bool given = false;
    const auto give = [&] {
        QWindow *window = form.windowHandle();
        QTest::keyClick(window, Qt::Key_Left);
        for (QPushButton *button : {form.Command4, form.Command3, form.Command1, form.Command6})
            QTest::mouseClick(window, Qt::LeftButton, {}, button->geometry().center());
        const std::lock_guard lock(mutex);
        given = true;
        changed.notify_all();
    };
    library.beforeWrite = [&](int call, const QByteArray &) {
        if (call != 0)
            return;
        QMetaObject::invokeMethod(&form, give, Qt::QueuedConnection);
        std::unique_lock lock(mutex);
        changed.wait_for(lock, 10s, [&] { return given; });
    };
    int dialogs = 0;
    bool inOrder = false;
    modal.opened = [&] {
        if (++dialogs == 2)
            inOrder = about.isVisible() && help.isVisible() && form.Slider2->value() == 99;
    };

    form.Command1->click();
    EXPECT_FALSE(about.isVisible());
    // "Effacer Bmp" acted last: its text is the status line's.
    ASSERT_TRUE(QTest::qWaitFor([&] { return form.Text1->toPlainText() == messages::jpegsIn + resultFolder(); }));
    EXPECT_EQ(dialogs, 2);
    EXPECT_TRUE(inOrder);
    EXPECT_TRUE(about.isVisible());
    EXPECT_TRUE(help.isVisible());
}

// The close box and "Quitter" stop a folder run right after the photo being written.
TEST_F(Session, ClosingTheWindowStopsAFolderRunAfterThePhotoBeingWritten)
{
    makePhotos(8);
    const std::pair<const char *, std::function<void(Form1 &)>> closings[] = {
        {"close box", [](Form1 &form) { form.close(); }},
        {"Quitter",
         [](Form1 &form) {
             QTest::mouseClick(form.windowHandle(), Qt::LeftButton, {}, form.Command2->geometry().center());
         }},
    };
    for (const auto &[label, closeIt] : closings) {
        SCOPED_TRACE(label);
        HookedLibrary hooked;
        Form1::Environment env = environment();
        env.images = &hooked;
        Form1 form(env);
        form.show();
        hooked.beforeWrite = [&, closeIt = closeIt](int call, const QByteArray &) {
            if (call == 1)
                QMetaObject::invokeMethod(
                    &form, [&] { closeIt(form); }, Qt::QueuedConnection);
        };

        runFolder(form);
        EXPECT_FALSE(form.isVisible());
        // The photo being written when the close came was finished, whole, and none after it,
        // however quickly its writing ended; the others are not converted, and are no failures:
        // the log went with the window. Nothing else is left, and the run's threads end with it (the
        // last ones as they leave the pool, a moment after the run).
        const QStringList bitmaps = QDir(resultFolder()).entryList({QStringLiteral("*.bmp")});
        EXPECT_EQ(bitmaps.size(), 2);
        for (const QString &name : bitmaps) {
            const QByteArray bytes = readAll(resultFolder() + '/' + name);
            EXPECT_TRUE(testimages::parseBmp24(std::vector<std::uint8_t>(bytes.begin(), bytes.end())))
                << name.toStdString();
        }
        EXPECT_EQ(entries(resultFolder()), bitmaps);
        EXPECT_EQ(entries(tempFolder()), QStringList({"RaduZor"}));
        EXPECT_TRUE(QTest::qWaitFor([] { return threadsOfTheWindowsPool() == 0; }));
    }
}

TEST_F(Session, ASecondStartAsksTheFirstToComeForward)
{
    ASSERT_TRUE(QDir().mkpath(tempFolder()));
    // What a killed program leaves behind blocks nobody.
    writeAll(tempFolder() + QStringLiteral("/.redim.lock"), "");
    writeAll(tempFolder() + QStringLiteral("/.redim.socket"), "");

    OneInstance first(tempFolder());
    ASSERT_TRUE(first.isFirst());
    QSignalSpy asked(&first, &OneInstance::comeForwardAsked);
    {
        const OneInstance second(tempFolder());
        EXPECT_FALSE(second.isFirst());
        EXPECT_TRUE(second.askFirstToComeForward(QStringLiteral("token of the second start")));
    }
    ASSERT_TRUE(QTest::qWaitFor([&] { return asked.count() == 1; }));
    EXPECT_EQ(asked.at(0).at(0).toString(), QStringLiteral("token of the second start"));

    // Once the first session is over, the next start is first again.
    first.release();
    EXPECT_TRUE(OneInstance(tempFolder()).isFirst());
}

TEST_F(Session, TabLeavesTheStatusLineForTheButtons)
{
    auto form = makeForm();
    form->show();
    activate(form.get());
    form->Text1->setFocus();
    QTest::keyClick(form->Text1, Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), form->Command1);
    EXPECT_TRUE(form->Text1->toPlainText().isEmpty());
    QTest::keyClick(form->Command1, Qt::Key_Backtab);
    EXPECT_EQ(QApplication::focusWidget(), form->Text1);
    form->Slider2->setFocus();
    QTest::keyClick(form->Slider2, Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), form->Text1);
}

TEST_F(Session, ScreenReadersCanNameEveryControl)
{
    auto form = makeForm();
    const std::pair<QWidget *, QString> named[] = {
        {form->Slider2, QStringLiteral("Taux de redimensionnement (10 à 200 %)")},
        {form->Text2, QStringLiteral("Taux de redimensionnement (10 à 200 %) choisi")},
        {form->Text1, QStringLiteral("Ligne d'état")},
        {form->ProgressBar1, QStringLiteral("Avancement de la phase 1")},
        {form->Command1, QStringLiteral("Lire Jpeg")},
        {form->Option20, QStringLiteral("Toutes les images d'un dossier à la suite")},
    };
    for (const auto &[control, name] : named) {
        QAccessibleInterface *accessible = QAccessible::queryAccessibleInterface(control);
        ASSERT_NE(accessible, nullptr);
        EXPECT_EQ(accessible->text(QAccessible::Name), name) << control->objectName().toStdString();
    }
}

}  // namespace
}  // namespace redim::testing
