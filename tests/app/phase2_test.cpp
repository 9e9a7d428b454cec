// "Ecrire Jpeg" and "Effacer Bmp": the converter's command line, the real converter on a real
// result folder, and erasing while it runs.
#include "tests/app/fixture.h"

#include "imglib_client/imagelibrary.h"

#include "tests/support/testimages.h"

#include <QDateTime>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QTest>
#include <QTimer>

#include <atomic>
#include <thread>

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace redim::testing {
namespace {

const QString kConverting = QStringLiteral("Phase2: conversion en jpeg des fichiers bitmap en ");
const QString kCannotStart = QStringLiteral("Anomalie. Lancement de ConvertImg impossible");
const QString kJpegsIn = QStringLiteral("Fichiers Jpeg en ");

// The children of this process, running or ended but never reaped.
int children()
{
    int found = 0;
    for (const QString &pid : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        const QByteArray stat = readAll(QStringLiteral("/proc/%1/stat").arg(pid));
        const qsizetype close = stat.lastIndexOf(')');
        if (close < 0)
            continue;
        const QList<QByteArray> fields = stat.mid(close + 2).split(' ');
        if (fields.size() > 1 && fields[1].toLongLong() == ::getpid())
            ++found;
    }
    return found;
}

constexpr std::chrono::milliseconds kNow(0);

// A converter that never ends and never writes a JPEG.
class HungConverter final : public ProcessStarter {
public:
    std::atomic<int> waits = 0;
    bool start(const QString &, const QStringList &) override { return true; }
    bool waitForAll(std::chrono::milliseconds timeout) override
    {
        ++waits;
        std::this_thread::sleep_for(timeout);
        return false;
    }
};

class PhaseTwo : public WindowTest {
protected:
    // Fills the result folder with `count` bitmaps through Phase 1, as a user would.
    void makeBitmaps(Form1 &form, int count, int width = 64, int height = 48)
    {
        const QString photos = root.path() + QStringLiteral("/Photos");
        QDir().mkpath(photos);
        for (int i = 0; i < count; ++i) {
            const QString path = photos + QStringLiteral("/photo %1.jpg").arg(i);
            testimages::writeJpeg(QFile::encodeName(path).toStdString(), testimages::gradient(width, height));
        }
        dialog.answers = {photos + QStringLiteral("/photo 0.jpg")};
        form.Option20->setChecked(true);
        form.Command1->click();
        ASSERT_EQ(QDir(resultFolder()).entryList({QStringLiteral("*.bmp")}).size(), count);
    }

    QStringList named(const char *pattern) const { return QDir(resultFolder()).entryList({QLatin1String(pattern)}); }

    // The window with the real converter of this build, started for real.
    Form1::Environment withRealConverter(SpawnProcessStarter &real)
    {
        Form1::Environment env = environment();
        env.processes = &real;
        env.programFolder = QStringLiteral(REDIM_PROGRAM_FOLDER);
        return env;
    }

    // No bitmap left, and `count` JPEGs, each complete from its first marker to its last.
    void expectOnlyCompleteJpegs(int count) const
    {
        EXPECT_TRUE(named("*.bmp").isEmpty());
        const QStringList jpegs = named("*.jpg");
        ASSERT_EQ(jpegs.size(), count);
        for (const QString &name : jpegs) {
            const QByteArray bytes = readAll(resultFolder() + '/' + name);
            EXPECT_TRUE(bytes.startsWith("\xFF\xD8") && bytes.endsWith("\xFF\xD9")) << name.toStdString();
        }
    }
};

TEST_F(PhaseTwo, StartsTheConverterOnTheResultFolderFromAnArgumentList)
{
    auto form = makeForm();
    form->Command5->click();
    form->Command5->click();  // two clicks start two converters
    ASSERT_EQ(starter.started.size(), 2u);
    for (const auto &[program, arguments] : starter.started) {
        EXPECT_EQ(program, root.path() + QStringLiteral("/bin/ConvertImg"));
        EXPECT_EQ(arguments, QStringList({"/jpg", "/S", "/R", resultFolder() + "/*.bmp", resultFolder()}));
    }
    EXPECT_EQ(form->Text1->toPlainText(), kConverting + resultFolder());
    EXPECT_EQ(form->chemir, resultFolder());  // the short-path routine leaves this folder alone
}

TEST_F(PhaseTwo, AConverterThatCannotStartIsReported)
{
    auto form = makeForm();
    starter.canStart = false;
    form->Command5->click();
    EXPECT_EQ(form->Text1->toPlainText(), kCannotStart);

    // A private folder another user could write into is never handed to the converter, and the
    // status line says why.
    starter.canStart = true;
    ASSERT_TRUE(QFile::setPermissions(tempFolder(), QFileDevice::Permissions(0x7777)));
    form->Command5->click();
    EXPECT_EQ(form->Text1->toPlainText(), QStringLiteral("Anomalie. Dossier %1 inutilisable").arg(tempFolder()));
    EXPECT_EQ(starter.started.size(), 1u);  // only the first, refused, attempt
    ASSERT_TRUE(QFile::setPermissions(tempFolder(), QFileDevice::Permissions(0x7700)));

    // The real start: a missing program, and a file that is not executable.
    SpawnProcessStarter real;
    Form1::Environment env = environment();
    env.processes = &real;
    QDir().mkpath(env.programFolder);
    for (const bool present : {false, true}) {
        if (present)
            writeAll(env.programFolder + QStringLiteral("/ConvertImg"), "#!/bin/sh\nexit 0\n");  // mode 0644
        Form1 window(env);
        window.Command5->click();
        EXPECT_EQ(window.Text1->toPlainText(), kCannotStart) << present;
        EXPECT_TRUE(real.waitForAll(kNow));
    }
}

TEST_F(PhaseTwo, RealConverterTurnsEveryBitmapIntoAJpegAndErasingKeepsThem)
{
    SpawnProcessStarter real;
    Form1 form(withRealConverter(real));
    // Big enough that the converter is still at work when "Effacer Bmp" is clicked.
    makeBitmaps(form, 12, 1200, 900);

    form.Command5->click();
    EXPECT_EQ(form.Text1->toPlainText(), kConverting + resultFolder());
    form.Command6->click();  // waits for the converter before erasing
    EXPECT_TRUE(real.waitForAll(kNow));
    EXPECT_EQ(form.Text1->toPlainText(), kJpegsIn + resultFolder());
    expectOnlyCompleteJpegs(12);
    EXPECT_TRUE(QFile::exists(logPath()));

    // A converter nobody waits for is reaped all the same.
    form.Command5->click();
    EXPECT_TRUE(QTest::qWaitFor([&] { return children() == 0; }, 60000));
}

// A photo whose name begins with a dot is a photo like any other: read, converted, and its bitmap
// erased once its JPEG is made.
TEST_F(PhaseTwo, APhotoNamedWithALeadingDotGoesThroughBothPhases)
{
    SpawnProcessStarter real;
    Form1 form(withRealConverter(real));
    const QString photos = root.path() + QStringLiteral("/Photos");
    ASSERT_TRUE(QDir().mkpath(photos));
    for (const char *name : {".vacances.jpg", "plage.jpg"})
        testimages::writeJpeg(QFile::encodeName(photos + '/' + QLatin1String(name)).toStdString(),
                              testimages::gradient(64, 48));
    dialog.answers = {photos + QStringLiteral("/plage.jpg")};
    form.Option20->setChecked(true);
    form.Command1->click();
    EXPECT_EQ(entries(resultFolder()), QStringList({".vacances.bmp", "Log.txt", "plage.bmp"}));

    form.Command5->click();
    form.Command6->click();  // waits for the converter before erasing
    EXPECT_EQ(entries(resultFolder()), QStringList({".vacances.jpg", "Log.txt", "plage.jpg"}));
    EXPECT_EQ(form.ctr, 0.0f);
}

// The bitmap, its JPEG and the log take what every file a user's programs make takes: 0666 less
// the umask.
TEST_F(PhaseTwo, EveryFileOfASessionTakesThePermissionsOfTheUmask)
{
    struct Umask {
        mode_t before;
        explicit Umask(mode_t mask) : before(::umask(mask)) {}
        ~Umask() { ::umask(before); }
    };
    SpawnProcessStarter real;
    for (const mode_t mask : {mode_t{022}, mode_t{002}, mode_t{077}}) {
        ASSERT_TRUE(QDir(tempFolder()).removeRecursively());  // every file made anew
        const Umask umask(mask);
        Form1 form(withRealConverter(real));
        makeBitmaps(form, 1);
        form.Command5->click();
        ASSERT_TRUE(real.waitForAll(std::chrono::seconds(60)));
        for (const char *name : {"photo 0.bmp", "photo 0.jpg", "Log.txt"}) {
            struct stat st {};
            ASSERT_EQ(::stat(QFile::encodeName(resultFolder() + '/' + QLatin1String(name)).constData(), &st), 0)
                << name;
            EXPECT_EQ(st.st_mode & 07777, 0666 & ~mask) << name << " under umask " << std::oct << mask;
        }
    }
}

TEST_F(PhaseTwo, TwoConvertersOnOneFolderLeaveOneCompleteJpegPerBitmap)
{
    SpawnProcessStarter real;
    Form1 form(withRealConverter(real));
    makeBitmaps(form, 8, 800, 600);

    form.Command5->click();
    form.Command5->click();  // a second converter on the same bitmaps
    form.Command6->click();  // waits for both
    EXPECT_TRUE(real.waitForAll(kNow));
    expectOnlyCompleteJpegs(8);
    EXPECT_EQ(entries(resultFolder()).size(), 9);  // the JPEGs and the log: no temporary left
}

// The converter gives each JPEG the time of its bitmap: sets `jpeg`'s time to `bitmap`'s.
void stampAsMadeFrom(const QString &jpeg, const QString &bitmap)
{
    struct stat from {};
    ASSERT_EQ(::stat(QFile::encodeName(bitmap).constData(), &from), 0);
    const timespec times[2] = {from.st_atim, from.st_mtim};
    ASSERT_EQ(::utimensat(AT_FDCWD, QFile::encodeName(jpeg).constData(), times, 0), 0);
}

TEST_F(PhaseTwo, ErasingKeepsEveryBitmapThatItsJpegWasNotMadeFrom)
{
    auto form = makeForm();
    const QString folder = resultFolder() + '/';
    writeAll(folder + QStringLiteral("stale.jpg"), "an earlier JPEG");  // older than its bitmap
    for (const char *name : {"done.bmp", "alone.bmp", "stale.bmp", "redone.bmp"})
        writeAll(folder + QLatin1String(name), "bitmap");
    writeAll(folder + QStringLiteral("done.jpg"), "its JPEG");
    stampAsMadeFrom(folder + QStringLiteral("done.jpg"), folder + QStringLiteral("done.bmp"));
    // A JPEG written after its bitmap, from the bitmap of an earlier run of the same name.
    writeAll(folder + QStringLiteral("redone.jpg"), "the JPEG of another bitmap");
    form->Command6->click();
    form->Command6->click();  // what it keeps again is logged and counted once
    EXPECT_EQ(entries(resultFolder()),
              QStringList({"Log.txt", "alone.bmp", "done.jpg", "redone.bmp", "redone.jpg", "stale.bmp", "stale.jpg"}));
    const QByteArray log = readAll(logPath());
    EXPECT_TRUE(log.startsWith(kHeaderOnly));
    for (const char *kept : {"alone.bmp", "stale.bmp", "redone.bmp"})
        EXPECT_EQ(log.count((folder + QLatin1String(kept) + QStringLiteral("\r\n")).toUtf8()), 1) << kept;
    EXPECT_EQ(form->ctr, 3.0f);
    EXPECT_EQ(form->Text1->toPlainText(), kJpegsIn + resultFolder());
}

// A file system that counts time in whole seconds (ext2 with 128-byte inodes), made in an image
// file and mounted through a loop device over `folder` while the object lives.
struct SecondsFileSystem {
    explicit SecondsFileSystem(const QString &folder) : folder(folder)
    {
        const char *make = "truncate -s 16M \"$0.ext2\" && mkfs.ext2 -q -F -I 128 \"$0.ext2\" 2>/dev/null && "
                           "mount -o loop \"$0.ext2\" \"$0\"";
        if (::geteuid() != 0)
            whyNot = "mounting a file system needs root";
        else if (!QDir().mkpath(folder) || QProcess::execute("sh", {"-c", make, folder}) != 0)
            whyNot = "no ext2 image could be made and mounted through a loop device";
    }
    ~SecondsFileSystem()
    {
        if (whyNot.empty())
            QProcess::execute("umount", {folder});
    }
    QString folder;
    std::string whyNot;
};

// "Lire Jpeg" at 50 %, "Ecrire Jpeg", "Lire Jpeg" at 25 % and "Effacer Bmp", all within one
// second on a file system that counts seconds: the JPEGs were made from the bitmaps at 50 %, so
// those at 25 % stay.
TEST_F(PhaseTwo, ErasingTellsBitmapsOfOneSecondApartWhereTimeCountsInSeconds)
{
    const SecondsFileSystem seconds(tempFolder());
    if (!seconds.whyNot.empty())
        GTEST_SKIP() << seconds.whyNot;
    // Every bitmap written in the same second, as by a quick hand on a fast machine.
    HookedLibrary library;
    const timespec oneSecond[2] = {{0, UTIME_OMIT}, {::time(nullptr), 0}};
    library.afterWrite = [&](const QByteArray &path) { ::utimensat(AT_FDCWD, path.constData(), oneSecond, 0); };
    SpawnProcessStarter real;
    Form1::Environment env = withRealConverter(real);
    env.images = &library;
    Form1 form(env);

    form.Slider2->setValue(50);
    makeBitmaps(form, 3);
    form.Command5->click();
    while (!real.waitForAll(std::chrono::seconds(1))) {
    }
    ASSERT_EQ(named("*.jpg").size(), 3);
    form.Slider2->setValue(25);
    makeBitmaps(form, 3);
    form.Command6->click();
    EXPECT_EQ(named("*.bmp").size(), 3);
    EXPECT_EQ(form.ctr, 3.0f);
}

TEST_F(PhaseTwo, ErasingStopsWaitingForAHungConverterAndKeepsItsBitmaps)
{
    HungConverter hung;
    Form1::Environment env = environment();
    env.processes = &hung;
    env.converterPatience = std::chrono::milliseconds(300);
    Form1 form(env);
    form.show();
    writeAll(resultFolder() + QStringLiteral("/photo.bmp"), "bitmap");

    // While it waits, the window goes on handling what is not user input.
    bool handledWhileWaiting = false;
    QTimer::singleShot(0, &form, [&] { handledWhileWaiting = true; });
    form.Command6->click();
    EXPECT_TRUE(handledWhileWaiting);
    EXPECT_TRUE(form.isVisible());
    EXPECT_EQ(entries(resultFolder()), QStringList({"Log.txt", "photo.bmp"}));
    EXPECT_EQ(form.ctr, 1.0f);
    EXPECT_EQ(form.Text1->toPlainText(), kJpegsIn + resultFolder());
}

TEST_F(PhaseTwo, ClosingTheWindowEndsTheWaitForAConverter)
{
    HungConverter hung;
    Form1::Environment env = environment();
    env.processes = &hung;
    env.converterPatience = std::chrono::seconds(5);
    Form1 form(env);
    form.show();
    writeAll(resultFolder() + QStringLiteral("/photo.bmp"), "bitmap");

    // The close is refused while the erasing runs, which stops waiting at once, keeps what is
    // not converted, and then closes the window.
    bool closedAtOnce = true;
    QTimer::singleShot(0, &form, [&] { closedAtOnce = form.close(); });
    form.Command6->click();
    EXPECT_FALSE(closedAtOnce);
    EXPECT_LE(hung.waits, 2);
    EXPECT_FALSE(form.isVisible());
    EXPECT_EQ(entries(resultFolder()), QStringList({"Log.txt", "photo.bmp"}));
}

TEST_F(PhaseTwo, ErasingWithNothingToEraseEndsWithTheSameText)
{
    auto form = makeForm();
    writeAll(resultFolder() + QStringLiteral("/kept.jpg"), "jpeg");
    for (int click = 0; click < 2; ++click) {
        form->Command6->click();
        EXPECT_EQ(form->Text1->toPlainText(), kJpegsIn + resultFolder());
    }
    QDir(resultFolder()).removeRecursively();  // the folder itself gone
    form->Command6->click();
    EXPECT_EQ(form->Text1->toPlainText(), kJpegsIn + resultFolder());
}

TEST_F(PhaseTwo, ErasingGoesOnPastABitmapThatCannotBeDeleted)
{
    auto form = makeForm();
    for (const char *name : {"a.bmp", "B.BMP", "c.bmp", "a.jpg", "B.jpg", "c.jpg", "e.txt"})
        writeAll(resultFolder() + '/' + QLatin1String(name), "x");
    for (const char *name : {"a", "B", "c"}) {
        const QString base = resultFolder() + '/' + QLatin1String(name);
        stampAsMadeFrom(base + QStringLiteral(".jpg"),
                        base + (name[0] == 'B' ? QStringLiteral(".BMP") : QStringLiteral(".bmp")));
    }
    QDir().mkpath(resultFolder() + QStringLiteral("/folder.bmp"));

    // An immutable file cannot be deleted, even by root.
    const QByteArray locked = QFile::encodeName(resultFolder() + QStringLiteral("/B.BMP"));
    const int fd = ::open(locked.constData(), O_RDONLY);
    int flags = 0;
    const bool immutable = fd >= 0 && ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0 &&
                           (flags |= FS_IMMUTABLE_FL, ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0);
    form->Command6->click();
    if (immutable) {
        flags &= ~FS_IMMUTABLE_FL;
        ::ioctl(fd, FS_IOC_SETFLAGS, &flags);
    }
    if (fd >= 0)
        ::close(fd);

    EXPECT_EQ(form->Text1->toPlainText(), kJpegsIn + resultFolder());
    QStringList left = {"B.jpg", "Log.txt", "a.jpg", "c.jpg", "e.txt", "folder.bmp"};
    if (immutable)
        left.insert(0, QStringLiteral("B.BMP"));
    left.sort();
    EXPECT_EQ(entries(resultFolder()), left);
    if (!immutable)
        GTEST_SKIP() << "this file system cannot make a file immutable here";
}

}  // namespace
}  // namespace redim::testing
