// What the window tests share: a temporary root instead of the real result folder, a scripted
// open-file dialog and a process starter that records instead of starting.
#pragma once

#include "app/form1.h"
#include "imglib_client/imagelibrary.h"
#include "platform/filedialog.h"
#include "platform/process.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QStringList>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <ostream>
#include <utility>
#include <vector>

// Readable failure messages for Qt strings.
QT_BEGIN_NAMESPACE
inline void PrintTo(const QString &s, std::ostream *os)
{
    *os << '"' << s.toStdString() << '"';
}
QT_END_NAMESPACE

namespace redim::testing {

// Answers each dialog with the next scripted path; an empty answer is a cancelled dialog.
class ScriptedDialog final : public FileDialog {
public:
    QStringList answers;
    QStringList filtersSeen;
    QString getOpenFileName(QWidget *, const QString &filter) override
    {
        filtersSeen.append(filter);
        return answers.isEmpty() ? QString() : answers.takeFirst();
    }
};

// Records each start; `canStart` false plays a converter that is missing.
class RecordingStarter final : public ProcessStarter {
public:
    std::vector<std::pair<QString, QStringList>> started;
    bool canStart = true;
    bool start(const QString &program, const QStringList &arguments) override
    {
        started.emplace_back(program, arguments);
        return canStart;
    }
    bool waitForAll(std::chrono::milliseconds) override { return true; }
};

// The real library, with hooks that run before each read and around each write: the moments a
// hostile world acts. A folder run calls the library from several threads; a hook runs for one
// call at a time.
class HookedLibrary final : public ImageLibrary {
public:
    using Hook = std::function<void(int callIndex, const QByteArray &path)>;
    Hook beforeRead;
    Hook beforeWrite;
    std::function<void(const QByteArray &path)> afterWrite;
    quint32 readFileIntoDIB(const QByteArray &path) override
    {
        runHook(beforeRead, reads_, path);
        return imageLibrary().readFileIntoDIB(path);
    }
    quint32 zoomDIB(quint32 h, qint32 x, qint32 y) override { return imageLibrary().zoomDIB(h, x, y); }
    qint16 writeDIBToFile(quint32 h, const QByteArray &path, qint16 option) override
    {
        runHook(beforeWrite, writes_, path);
        const qint16 written = imageLibrary().writeDIBToFile(h, path, option);
        if (afterWrite)
            afterWrite(path);  // bitmaps are written on the window's thread alone
        return written;
    }
    void dibFree(quint32 h) override { imageLibrary().dibFree(h); }

private:
    void runHook(const Hook &hook, int &calls, const QByteArray &path)
    {
        const std::lock_guard lock(mutex_);
        if (hook)
            hook(calls, path);
        ++calls;
    }
    std::mutex mutex_;
    int reads_ = 0;
    int writes_ = 0;
};

inline QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

inline void writeAll(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly)) << path.toStdString();
    file.write(bytes);
}

inline QStringList entries(const QString &folder)
{
    return QDir(folder).entryList(QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden, QDir::Name);
}

inline const QByteArray kHeaderOnly = QByteArray("Liste des fichiers non trait\xc3\xa9s par suite d'anomalies\r\n");

// A temporary root laid out as the program's private temporary folder.
class WindowTest : public ::testing::Test {
protected:
    // QTemporaryDir removes by name as Qt decodes it, which misses the names that are not UTF-8
    // some tests create; the root goes byte-wise here, before QTemporaryDir looks at it.
    ~WindowTest() override
    {
        std::error_code ignored;
        std::filesystem::remove_all(QFile::encodeName(root.path()).toStdString(), ignored);
    }

    QTemporaryDir root;
    ScriptedDialog dialog;
    RecordingStarter starter;

    QString tempFolder() const { return root.path() + QStringLiteral("/tmp"); }
    QString resultFolder() const { return tempFolder() + QStringLiteral("/RaduZor"); }
    QString logPath() const { return resultFolder() + QStringLiteral("/Log.txt"); }

    Form1::Environment environment()
    {
        Form1::Environment env;
        env.paths = pathsUnder(tempFolder());
        env.dialog = &dialog;
        env.processes = &starter;
        env.programFolder = root.path() + QStringLiteral("/bin");
        return env;
    }

    std::unique_ptr<Form1> makeForm() { return std::make_unique<Form1>(environment()); }
};

}  // namespace redim::testing
