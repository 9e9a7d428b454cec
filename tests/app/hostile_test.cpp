// What the outside world does to a run: odd file names, files that come and go, a result
// folder that disappears, a full disk, and other users' traps in the temporary folder.
#include "tests/app/fixture.h"

#include "imglib_client/imagelibrary.h"
#include "platform/pathcodec.h"

#include "tests/support/testimages.h"

#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QSlider>

#include <csignal>
#include <functional>
#include <mutex>

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace redim::testing {
namespace {

const QString kReadFailed = QStringLiteral("Anomalie. Conversion bitmap avortée");
const QString kWriteFailed = QStringLiteral(" Anomalie. Conversion bitmap avortée.");
const QString kFolderDone = QStringLiteral("Phase 1: Redimensionnement et conversion en bitmap des fichiers terminée");

class Hostile : public WindowTest {
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

    // A real JPEG named by raw bytes, which need not be UTF-8.
    QString photo(const QByteArray &name, int width = 40, int height = 30)
    {
        const QByteArray path = encodePath(photos) + '/' + name;
        testimages::writeJpeg(path.toStdString(), testimages::gradient(width, height));
        return decodePath(path);
    }

    void runFolder(Form1 &form, const QString &chosen)
    {
        dialog.answers = {chosen};
        form.Option20->setChecked(true);
        form.Command1->click();
    }

    QByteArray logBytes() const { return readAll(logPath()); }
};

TEST_F(Hostile, OddFileNamesGoThroughBothPhasesAndTheLog)
{
    struct Case {
        QByteArray name;
        QByteArray bitmap;
    };
    const Case cases[] = {
        {"with blanks.jpg", "with blanks.bmp"},
        {"\xc3\xa9t\xc3\xa9 \xc3\xa0 la plage.jpg", "\xc3\xa9t\xc3\xa9 \xc3\xa0 la plage.bmp"},
        {"quote's \"double\".jpg", "quote's \"double\".bmp"},
        {"$(touch pwned) `x` $HOME.jpg", "$(touch pwned) `x` $HOME.bmp"},
        {"-rf --help.jpg", "-rf --help.bmp"},
        {"line\nbreak.jpg", "line\nbreak.bmp"},
        {"caf\xe9 latin-1.jpg", "caf\xe9 latin-1.bmp"},  // not UTF-8
        {"ab.jpg", "ab.bmp"},                            // 6 characters
        {"abc.jpg", "abc.bmp"},                          // 7 characters
    };
    for (const Case &c : cases)
        photo(c.name);
    auto form = makeForm();
    runFolder(*form, photos + QStringLiteral("/ab.jpg"));

    EXPECT_EQ(form->Text1->toPlainText(), kFolderDone);
    EXPECT_EQ(form->ctr, 0.0f);
    for (const Case &c : cases) {
        const QByteArray path = encodePath(resultFolder()) + '/' + c.bitmap;
        EXPECT_EQ(::access(path.constData(), R_OK), 0) << c.bitmap.toStdString();
    }
    EXPECT_FALSE(QFile::exists(QStringLiteral("pwned")));

    // A failure names the file in the log with the very bytes of its name.
    testimages::writeFile((encodePath(photos) + "/bad \xe9\n.jpg").toStdString(), {0xFF, 0xD8, 0xFF});
    runFolder(*form, photos + QStringLiteral("/ab.jpg"));
    EXPECT_EQ(logBytes(), kHeaderOnly + encodePath(photos) + "/bad \xe9\n.jpg\r\n");
}

TEST_F(Hostile, FilesThatComeAndGoDuringAFolderRun)
{
    for (const char *name : {"a.jpg", "b.jpg", "c.jpg", "d.jpg"})
        photo(name);
    auto form = makeForm();
    QSignalSpy progress(form->ProgressBar1, &QProgressBar::valueChanged);
    QStringList gone;
    library.beforeRead = [&](int readIndex, const QByteArray &reading) {
        if (readIndex != 0)
            return;
        // After the listings: two files vanish, three appear.
        for (const QString &name : QDir(photos).entryList({QStringLiteral("*.jpg")}, QDir::Files, QDir::Name)) {
            if (gone.size() < 2 && !reading.endsWith('/' + QFile::encodeName(name))) {
                QFile::remove(photos + '/' + name);
                gone.append(photos + '/' + name);
            }
        }
        for (const char *name : {"new1.jpg", "new2.jpg", "new3.jpg"})
            photo(name);
    };
    runFolder(*form, photos + QStringLiteral("/a.jpg"));

    EXPECT_EQ(form->Text1->toPlainText(), kFolderDone);
    EXPECT_EQ(form->ctr, 2.0f);
    for (const QList<QVariant> &signal : progress)
        EXPECT_LE(signal.at(0).toInt(), form->ProgressBar1->maximum());
    EXPECT_EQ(form->ProgressBar1->value(), form->ProgressBar1->maximum());
    EXPECT_EQ(QDir(resultFolder()).entryList({QStringLiteral("*.bmp")}).size(), 2);
    for (const QString &path : gone)
        EXPECT_TRUE(logBytes().contains(encodePath(path))) << path.toStdString();
}

TEST_F(Hostile, ResultFolderGoneOrReplacedDuringARun)
{
    struct Case {
        const char *label;
        void (*act)(const QString &resultFolder);
    };
    const Case cases[] = {
        {"deleted", [](const QString &folder) { QDir(folder).removeRecursively(); }},
        {"replaced by a file",
         [](const QString &folder) {
             QDir(folder).removeRecursively();
             writeAll(folder, "not a folder");
         }},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.label);
        QDir(resultFolder()).removeRecursively();
        QFile::remove(resultFolder());
        const QString path = photo("photo.jpg");
        auto form = makeForm();
        library.beforeRead = [&](int, const QByteArray &) { c.act(resultFolder()); };
        dialog.answers = {path};
        form->Option19->setChecked(true);
        form->Command1->click();
        library.beforeRead = nullptr;

        EXPECT_EQ(form->Text1->toPlainText(), kWriteFailed);
        EXPECT_EQ(form->ctr, 1.0f);
        EXPECT_FALSE(QFile::exists(form->cible));
        EXPECT_EQ(entries(tempFolder()), QStringList({"RaduZor"}));  // nothing left behind
        if (QFileInfo(resultFolder()).isDir()) {
            EXPECT_EQ(entries(resultFolder()), QStringList({"Log.txt"}));
            EXPECT_EQ(logBytes(), kHeaderOnly + encodePath(path) + "\r\n");
        }

        // The program stays usable once the folder is back.
        QFile::remove(resultFolder());
        QDir().mkpath(resultFolder());
        dialog.answers = {path};
        form->Command1->click();
        EXPECT_TRUE(QFile::exists(resultFolder() + QStringLiteral("/photo.bmp")));
    }
}

TEST_F(Hostile, AFolderRunWhoseFailuresCannotBeLoggedDoesNotEndWell)
{
    photo("a.jpg");
    photo("b.jpg");
    auto form = makeForm();
    QDir(resultFolder()).removeRecursively();
    writeAll(resultFolder(), "not a folder");
    runFolder(*form, photos + QStringLiteral("/a.jpg"));
    EXPECT_EQ(form->Text1->toPlainText(), kWriteFailed);
    EXPECT_EQ(form->ctr, 2.0f);
}

TEST_F(Hostile, ResultFolderAwayForAMomentCostsOneMoreAttempt)
{
    const QString path = photo("photo.jpg");
    const QString away = resultFolder() + QStringLiteral(".away");
    auto form = makeForm();
    // The first placement finds no result folder; by the second attempt it is back.
    library.beforeWrite = [&](int writeIndex, const QByteArray &) {
        if (writeIndex == 0)
            ASSERT_TRUE(QDir().rename(resultFolder(), away));
        else
            ASSERT_TRUE(QDir().rename(away, resultFolder()));
    };
    dialog.answers = {path};
    form->Option19->setChecked(true);
    form->Command1->click();

    const QString done = QStringLiteral("Phase 1: Redimensionnement et conversion en bitmap de %1 achevée");
    EXPECT_EQ(form->Text1->toPlainText(), done.arg(path));
    EXPECT_EQ(entries(resultFolder()), QStringList({"Log.txt", "photo.bmp"}));
    EXPECT_EQ(logBytes(), kHeaderOnly);
    EXPECT_EQ(entries(tempFolder()), QStringList({"RaduZor"}));
}

TEST_F(Hostile, DiskFullWhileABitmapIsWritten)
{
    const QString path = photo("big.jpg", 300, 200);  // a bitmap of about 180 KB
    auto form = makeForm();
    dialog.answers = {path};
    form->Option19->setChecked(true);

    // A file size limit on the process plays a full disk; the signal it raises is ignored so
    // that writes fail with an error instead.
    const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit previous{};
    ::getrlimit(RLIMIT_FSIZE, &previous);
    rlimit limit = previous;
    limit.rlim_cur = 64 * 1024;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limit), 0);
    form->Command1->click();
    ::setrlimit(RLIMIT_FSIZE, &previous);
    std::signal(SIGXFSZ, previousHandler);

    EXPECT_EQ(form->Text1->toPlainText(), kWriteFailed);
    EXPECT_EQ(entries(resultFolder()), QStringList({"Log.txt"}));
    EXPECT_EQ(entries(tempFolder()), QStringList({"RaduZor"}));
    EXPECT_EQ(logBytes(), kHeaderOnly + encodePath(path) + "\r\n");

    form->Command1->click();  // room again: the same photo now converts
    dialog.answers = {path};
    form->Command1->click();
    EXPECT_TRUE(QFile::exists(resultFolder() + QStringLiteral("/big.bmp")));
}

TEST_F(Hostile, TrapsInTheTemporaryFolderReachNothingOutsideIt)
{
    const QString path = photo("photo.jpg");
    const QString precious = root.path() + QStringLiteral("/precious.txt");
    writeAll(precious, "the user's own file");

    // Dib.bmp planted as a link to the user's file: the link is replaced, the file untouched.
    {
        auto form = makeForm();
        ASSERT_TRUE(QFile::link(precious, form->cible));
        dialog.answers = {path};
        form->Option19->setChecked(true);
        form->Command1->click();
        EXPECT_EQ(readAll(precious), "the user's own file");
        EXPECT_TRUE(QFile::exists(resultFolder() + QStringLiteral("/photo.bmp")));
        EXPECT_FALSE(QFileInfo::exists(form->cible));
    }

    // The whole temporary folder swapped for a link to elsewhere during the session.
    const QString elsewhere = root.path() + QStringLiteral("/elsewhere");
    QDir().mkpath(elsewhere + QStringLiteral("/RaduZor"));
    auto form = makeForm();
    QDir(tempFolder()).removeRecursively();
    ASSERT_TRUE(QFile::link(elsewhere, tempFolder()));
    dialog.answers = {path};
    form->Option19->setChecked(true);
    form->Command1->click();
    EXPECT_EQ(form->Text1->toPlainText(), kWriteFailed);
    form->Command6->click();  // "Effacer Bmp" deletes nothing there either
    form->close();
    EXPECT_EQ(entries(elsewhere + QStringLiteral("/RaduZor")), QStringList());
    EXPECT_EQ(entries(elsewhere), QStringList({"RaduZor"}));
}

TEST_F(Hostile, TemporaryFolderOwnedBySomeoneElseIsNeverUsed)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "only root can give a folder to another user";
    ASSERT_TRUE(QDir().mkpath(resultFolder()));
    writeAll(resultFolder() + QStringLiteral("/theirs.bmp"), "another user's bitmap");
    ASSERT_EQ(::chown(encodePath(tempFolder()).constData(), 12345, 12345), 0);
    ::chmod(encodePath(tempFolder()).constData(), 0700);

    const QString path = photo("photo.jpg");
    auto form = makeForm();
    dialog.answers = {path};
    form->Option19->setChecked(true);
    form->Command1->click();
    EXPECT_EQ(form->Text1->toPlainText(), kWriteFailed);
    form->Command6->click();
    EXPECT_EQ(entries(resultFolder()), QStringList({"theirs.bmp"}));
}

}  // namespace
}  // namespace redim::testing
