// "Lire Jpeg" from end to end: real JPEGs made by the test, the real image library, a scripted
// dialog; the library's calls observed through a recording double where a test counts them.
#include "tests/app/fixture.h"

#include "imglib_client/imagelibrary.h"
#include "platform/filesystem.h"

#include "tests/support/testimages.h"

#include <QGroupBox>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QSlider>

#include <atomic>
#include <mutex>

#include <sys/inotify.h>
#include <unistd.h>

namespace redim::testing {
namespace {

// Passes every call on to the real library and records it; can make a step fail. A folder run
// calls it from several threads.
class RecordingLibrary final : public ImageLibrary {
public:
    explicit RecordingLibrary(ImageLibrary &inner) : inner_(inner) {}
    QStringList calls;
    std::atomic<bool> failZoom = false;
    std::atomic<bool> failWrite = false;

    quint32 readFileIntoDIB(const QByteArray &path) override
    {
        record(QStringLiteral("read"));
        return inner_.readFileIntoDIB(path);
    }
    quint32 zoomDIB(quint32 image, qint32 scaleX, qint32 scaleY) override
    {
        record(QStringLiteral("zoom %1 %2").arg(scaleX).arg(scaleY));
        return failZoom ? 0 : inner_.zoomDIB(image, scaleX, scaleY);
    }
    qint16 writeDIBToFile(quint32 image, const QByteArray &path, qint16 option) override
    {
        record(QStringLiteral("write %1").arg(option));
        return failWrite ? 0 : inner_.writeDIBToFile(image, path, option);
    }
    void dibFree(quint32 image) override
    {
        record(QStringLiteral("free"));
        inner_.dibFree(image);
    }

private:
    void record(const QString &call)
    {
        const std::lock_guard lock(mutex_);
        calls.append(call);
    }
    ImageLibrary &inner_;
    std::mutex mutex_;
};

const QString kReadFailed = QStringLiteral("Anomalie. Conversion bitmap avortée");
const QString kWriteFailed = QStringLiteral(" Anomalie. Conversion bitmap avortée.");
const QString kFolderDone = QStringLiteral("Phase 1: Redimensionnement et conversion en bitmap des fichiers terminée");

QString imageDone(const QString &path)
{
    return QStringLiteral("Phase 1: Redimensionnement et conversion en bitmap de ") + path + QStringLiteral(" achevée");
}

class PhaseOne : public WindowTest {
protected:
    RecordingLibrary library{imageLibrary()};
    QString photos;

    void SetUp() override
    {
        photos = root.path() + QStringLiteral("/Photos");
        ASSERT_TRUE(QDir().mkpath(photos));
    }

    std::unique_ptr<Form1> makeForm(ImageLibrary *images = nullptr)
    {
        Form1::Environment env = environment();
        env.images = images ? images : &library;
        return std::make_unique<Form1>(env);
    }

    // A real JPEG of `width` x `height` in the photo folder; returns its path.
    QString photo(const QString &name, int width = 64, int height = 48)
    {
        const QString path = photos + '/' + name;
        testimages::writeJpeg(QFile::encodeName(path).toStdString(), testimages::gradient(width, height));
        return path;
    }

    QString damaged(const QString &name)
    {
        const QString path = photos + '/' + name;
        std::vector<std::uint8_t> bytes = testimages::encodeJpeg(testimages::gradient(64, 48));
        bytes.resize(bytes.size() / 2);  // cut off in the middle of the image data
        testimages::writeFile(QFile::encodeName(path).toStdString(), bytes);
        return path;
    }

    std::optional<testimages::Bitmap> bitmap(const QString &name) const
    {
        const QByteArray bytes = readAll(resultFolder() + '/' + name);
        return testimages::parseBmp24(std::vector<std::uint8_t>(bytes.begin(), bytes.end()));
    }

    QByteArray logWith(const QStringList &paths) const
    {
        QByteArray expected = kHeaderOnly;
        for (const QString &path : paths)
            expected += path.toUtf8() + "\r\n";
        return expected;
    }

    static void run(Form1 &form, bool folderMode)
    {
        (folderMode ? form.Option20 : form.Option19)->setChecked(true);
        form.Command1->click();
    }
};

TEST_F(PhaseOne, SingleImageIsScaledByTheSlidersRate)
{
    struct Case {
        int rate;
        int width, height;
        QStringList calls;
    };
    const Case cases[] = {
        {50, 32, 24, {"read", "zoom 50 50", "write 0"}},
        {100, 64, 48, {"read", "write 0"}},  // 100 % scales nothing
        {200, 128, 96, {"read", "zoom 200 200", "write 0"}},
        {10, 6, 5, {"read", "zoom 10 10", "write 0"}},
    };
    const QString path = photo(QStringLiteral("photo.jpg"));
    for (const Case &c : cases) {
        SCOPED_TRACE(c.rate);
        auto form = makeForm();
        dialog.answers = {path};
        library.calls.clear();
        form->Slider2->setValue(c.rate);
        run(*form, false);

        EXPECT_EQ(library.calls, c.calls);
        EXPECT_EQ(dialog.filtersSeen.last(), QStringLiteral("JPG (*.jpg)"));
        const auto written = bitmap(QStringLiteral("photo.bmp"));
        ASSERT_TRUE(written);
        EXPECT_EQ(written->width, c.width);
        EXPECT_EQ(written->height, c.height);
        EXPECT_EQ(form->Text1->toPlainText(), imageDone(path));
        EXPECT_FALSE(form->Frame7->isVisibleTo(form.get()));
        EXPECT_FALSE(QFile::exists(form->cible));
        EXPECT_EQ(readAll(logPath()), kHeaderOnly);
        EXPECT_EQ(form->ctr, 0.0f);
        EXPECT_EQ(entries(resultFolder()), QStringList({"Log.txt", "photo.bmp"}));
    }
}

TEST_F(PhaseOne, SingleImageModeOpensNoOtherFile)
{
    for (const char *name : {"a.jpg", "b.jpg", "c.jpg"})
        photo(QLatin1String(name));
    const int watch = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    ASSERT_GE(watch, 0);
    ASSERT_GE(::inotify_add_watch(watch, QFile::encodeName(photos).constData(), IN_OPEN), 0);
    auto form = makeForm();
    form->Slider2->setValue(50);
    dialog.answers = {photos + QStringLiteral("/b.jpg")};
    run(*form, false);
    ASSERT_EQ(form->Text1->toPlainText(), imageDone(photos + QStringLiteral("/b.jpg")));

    QStringList opened;
    alignas(inotify_event) char events[4096];
    for (ssize_t got; (got = ::read(watch, events, sizeof events)) > 0;) {
        for (char *p = events; p < events + got;) {
            const auto *event = reinterpret_cast<const inotify_event *>(p);
            opened.append(event->len ? QString::fromUtf8(event->name) : QStringLiteral("(the folder)"));
            p += sizeof(inotify_event) + event->len;
        }
    }
    ::close(watch);
    opened.removeDuplicates();
    EXPECT_EQ(opened, QStringList({"b.jpg"}));
}

TEST_F(PhaseOne, BitmapNamesFollowTheFileRead)
{
    const std::pair<QString, QString> cases[] = {
        {"DSC0001.JPG", "DSC0001.bmp"},
        {"photo.jpeg", "photo.jbmp"},  // the last three characters are replaced
        {"été à la plage.jpg", "été à la plage.bmp"},
        {"it's $HOME; -rf.jpg", "it's $HOME; -rf.bmp"},
    };
    auto form = makeForm();
    for (const auto &[name, expected] : cases) {
        dialog.answers = {photo(name)};
        run(*form, false);
        EXPECT_TRUE(bitmap(expected)) << expected.toStdString();
        EXPECT_EQ(form->Text1->toPlainText(), imageDone(photos + '/' + name));
    }
}

TEST_F(PhaseOne, AnImageThatCannotBeReadIsLoggedAndCounted)
{
    const QString text = photos + QStringLiteral("/notes.jpg");
    writeAll(text, "this is not a photo");
    const QString missing = photos + QStringLiteral("/missing.jpg");
    auto form = makeForm();
    for (const QString &path : {text, missing, damaged(QStringLiteral("cut.jpg"))}) {
        dialog.answers = {path};
        run(*form, false);
        EXPECT_EQ(form->Text1->toPlainText(), kReadFailed);
        EXPECT_EQ(form->aigan, 1);
        EXPECT_EQ(form->hdib, 0u);
    }
    EXPECT_EQ(entries(resultFolder()), QStringList({"Log.txt"}));
    EXPECT_EQ(readAll(logPath()), logWith({text, missing, photos + QStringLiteral("/cut.jpg")}));
    EXPECT_EQ(form->ctr, 3.0f);

    // A later image that succeeds keeps the earlier failures in the log, and the log stays.
    dialog.answers = {photo(QStringLiteral("good.jpg"))};
    run(*form, false);
    EXPECT_EQ(form->aigan, 0);
    EXPECT_EQ(form->ctr, 3.0f);
    EXPECT_EQ(readAll(logPath()), logWith({text, missing, photos + QStringLiteral("/cut.jpg")}));
    form->close();
    EXPECT_TRUE(QFile::exists(logPath()));
}

TEST_F(PhaseOne, FailedScalingOrWritingIsReportedAndLeavesNoBitmap)
{
    struct Case {
        bool failZoom, failWrite;
        const QString &message;
    };
    const Case cases[] = {{true, false, kReadFailed}, {false, true, kWriteFailed}};
    const QString path = photo(QStringLiteral("photo.jpg"));
    for (const Case &c : cases) {
        auto form = makeForm();
        library.failZoom = c.failZoom;
        library.failWrite = c.failWrite;
        form->Slider2->setValue(50);
        dialog.answers = {path};
        run(*form, false);
        EXPECT_EQ(form->Text1->toPlainText(), c.message);
        EXPECT_EQ(form->aigan, 1);
        EXPECT_EQ(form->ctr, 1.0f);
        EXPECT_EQ(entries(resultFolder()), QStringList({"Log.txt"}));
        EXPECT_FALSE(QFile::exists(form->cible));
        EXPECT_EQ(readAll(logPath()), logWith({path}));
    }
}

TEST_F(PhaseOne, CancellingTheDialogOnlyResetsTheRun)
{
    for (const bool folderMode : {false, true}) {
        auto form = makeForm();
        form->Text1->setPlainText(QStringLiteral("earlier message"));
        form->aigan = 1;
        form->Frame7->show();
        dialog.answers = {QString()};
        library.calls.clear();
        run(*form, folderMode);
        EXPECT_TRUE(form->Text1->toPlainText().isEmpty());
        EXPECT_EQ(form->aigan, 0);
        EXPECT_FALSE(form->Frame7->isVisibleTo(form.get()));
        EXPECT_TRUE(form->nomfi.isEmpty());
        EXPECT_EQ(form->filtre, QStringLiteral("jpg"));
        EXPECT_EQ(form->filtrs, QStringLiteral("bmp"));
        EXPECT_TRUE(library.calls.isEmpty());
        EXPECT_EQ(readAll(logPath()), kHeaderOnly);
    }
}

TEST_F(PhaseOne, FolderRunConvertsEveryJpegAndLogsOnlyTheBadOne)
{
    for (const char *name : {"a.jpg", "b.JPG", "d.jpg", "e.Jpg"})
        photo(QLatin1String(name));
    const QString bad = damaged(QStringLiteral("c.jpg"));
    // Everything else in the folder is left alone, the programs' own files whatever their names.
    ASSERT_TRUE(QDir().mkpath(photos + QStringLiteral("/sub.jpg")));
    photo(QStringLiteral(".redim-99999-copy.jpg"));
    writeAll(photos + QStringLiteral("/notes.txt"), "notes");
    photo(QStringLiteral("other.jpeg"));

    auto form = makeForm();
    QSignalSpy progress(form->ProgressBar1, &QProgressBar::valueChanged);
    form->Slider2->setValue(25);
    dialog.answers = {photos + QStringLiteral("/a.jpg")};
    run(*form, true);

    EXPECT_EQ(entries(resultFolder()), QStringList({"Log.txt", "a.bmp", "b.bmp", "d.bmp", "e.bmp"}));
    EXPECT_EQ(bitmap(QStringLiteral("b.bmp"))->width, 16);
    EXPECT_EQ(readAll(logPath()), logWith({bad}));
    EXPECT_EQ(form->ctr, 1.0f);
    EXPECT_EQ(form->Text1->toPlainText(), kFolderDone);
    EXPECT_TRUE(form->Frame7->isVisibleTo(form.get()));
    EXPECT_EQ(form->ProgressBar1->maximum(), 4);
    EXPECT_EQ(form->ProgressBar1->value(), 4);
    QList<int> values;
    for (const QList<QVariant> &signal : progress)
        values.append(signal.at(0).toInt());
    EXPECT_EQ(values, QList<int>({0, 1, 2, 3, 4}));
}

TEST_F(PhaseOne, FolderRunFollowsLinksToPhotos)
{
    const QString links = root.path() + QStringLiteral("/Liens");
    ASSERT_TRUE(QDir().mkpath(links));
    for (const char *name : {"a.jpg", "b.JPG"})
        ASSERT_TRUE(QFile::link(photo(QLatin1String(name)), links + '/' + QLatin1String(name)));
    ASSERT_TRUE(QFile::link(photos, links + QStringLiteral("/dossier.jpg")));
    ASSERT_TRUE(QFile::link(photos + QStringLiteral("/parti.jpg"), links + QStringLiteral("/parti.jpg")));
    auto form = makeForm();
    dialog.answers = {links + QStringLiteral("/a.jpg")};  // the chosen file is a link too
    run(*form, true);
    EXPECT_EQ(entries(resultFolder()), QStringList({"Log.txt", "a.bmp", "b.bmp"}));
    EXPECT_EQ(form->ctr, 0.0f);
    EXPECT_EQ(form->ProgressBar1->maximum(), 1);
}

TEST_F(PhaseOne, NoPhotoOfARunReplacesTheBitmapOfAnother)
{
    // x.jpg and x.JPG make the same bitmap name; whichever the folder lists first keeps it.
    photo(QStringLiteral("x.jpg"), 64, 48);
    photo(QStringLiteral("x.JPG"), 32, 16);
    auto form = makeForm();
    dialog.answers = {photos + QStringLiteral("/x.jpg")};
    run(*form, true);
    const QStringList listed = listFiles(photos, QStringLiteral("jpg")).value();
    const QString second = photos + '/' + listed.at(1);
    EXPECT_EQ(bitmap(QStringLiteral("x.bmp"))->width, listed.at(0) == QStringLiteral("x.jpg") ? 64 : 32);
    EXPECT_EQ(readAll(logPath()), logWith({second}));
    EXPECT_EQ(form->ctr, 1.0f);

    // A later run replaces the bitmap, as it replaces any earlier run's.
    dialog.answers = {second};
    run(*form, false);
    EXPECT_EQ(bitmap(QStringLiteral("x.bmp"))->width, listed.at(1) == QStringLiteral("x.jpg") ? 64 : 32);
}

TEST_F(PhaseOne, FolderOfOneLeavesTheBarsMaximumAndFillsIt)
{
    const QString path = photo(QStringLiteral("only.jpg"));
    auto form = makeForm();
    dialog.answers = {path};
    run(*form, true);
    EXPECT_EQ(form->ProgressBar1->maximum(), 100);
    EXPECT_EQ(form->ProgressBar1->value(), 100);
    EXPECT_TRUE(bitmap(QStringLiteral("only.bmp")));
    EXPECT_EQ(form->Text1->toPlainText(), kFolderDone);
}

TEST_F(PhaseOne, MissingLibraryFailsTheImageAndTheProgramStaysUsable)
{
    DynamicImageLibrary missing("libimglib-that-is-not-installed.so");
    const QString path = photo(QStringLiteral("photo.jpg"));
    auto form = makeForm(&missing);
    for (const bool folderMode : {false, true, false}) {
        dialog.answers = {path};
        run(*form, folderMode);
        EXPECT_EQ(form->Text1->toPlainText(), folderMode ? kFolderDone : kReadFailed);
    }
    EXPECT_EQ(readAll(logPath()), logWith({path, path, path}));
    EXPECT_EQ(form->ctr, 3.0f);
}

TEST_F(PhaseOne, ImageAlreadyFlaggedIsReadButNeitherScaledNorWritten)
{
    const QString path = photo(QStringLiteral("photo.jpg"));
    auto form = makeForm();
    form->Slider2->setValue(50);
    form->nomfi = path;
    form->aigan = 1;
    form->convim();
    EXPECT_EQ(library.calls, QStringList({"read"}));
    form->convim();  // now an image is held: it is released before the next read
    EXPECT_EQ(library.calls, QStringList({"read", "free", "read"}));
    EXPECT_EQ(entries(resultFolder()), QStringList({"Log.txt"}));
}

TEST_F(PhaseOne, TheLastImageIsReleasedOnceWhenTheWindowCloses)
{
    auto form = makeForm();
    dialog.answers = {photo(QStringLiteral("photo.jpg"))};
    run(*form, false);
    library.calls.clear();
    form->close();
    form.reset();
    EXPECT_EQ(library.calls, QStringList({"free"}));
}

TEST_F(PhaseOne, AnUntrustedTemporaryFolderGetsNothingWritten)
{
    const QString path = photo(QStringLiteral("photo.jpg"));
    auto form = makeForm();
    ASSERT_TRUE(QFile::setPermissions(tempFolder(), QFileDevice::Permissions(0x7777)));
    dialog.answers = {path};
    run(*form, false);
    EXPECT_EQ(form->Text1->toPlainText(), kWriteFailed);
    EXPECT_FALSE(library.calls.contains(QStringLiteral("write 0")));
    EXPECT_EQ(entries(resultFolder()), QStringList({"Log.txt"}));
}

}  // namespace
}  // namespace redim::testing
