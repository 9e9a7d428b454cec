// The platform layer's own rules: byte-preserving names, extension matching, atomic placement.
#include "tests/app/fixture.h"

#include "platform/filesystem.h"
#include "platform/pathcodec.h"
#include "platform/paths.h"

#include <QStandardPaths>

#include <sys/stat.h>

namespace redim::testing {
namespace {

TEST(PathCodec, EveryNameSurvivesTheTripThroughAString)
{
    const QByteArray names[] = {
        "",
        "plain.jpg",
        "\xc3\xa9t\xc3\xa9.jpg",       // UTF-8
        "\xf0\x9f\x93\xb7 photo.jpg",  // outside the basic plane
        "caf\xe9.jpg",                 // Latin-1
        "\xff\xfe\x80",                // bytes that never start UTF-8
        "\xc3",                        // cut in the middle of a character
        "\xe0\x80\x80",                // overlong
        "\xed\xa0\x80",                // an encoded surrogate
        "\xf4\x90\x80\x80",            // past U+10FFFF
        "a\nb\tc",
    };
    for (const QByteArray &name : names)
        EXPECT_EQ(encodePath(decodePath(name)), name) << name.toHex().toStdString();
    EXPECT_EQ(decodePath("\xc3\xa9t\xc3\xa9"), QStringLiteral("été"));
    EXPECT_EQ(encodePath(QStringLiteral("été")), QByteArray("\xc3\xa9t\xc3\xa9"));
}

TEST(Extensions, MatchIgnoringLetterCaseAfterADot)
{
    const std::tuple<const char *, const char *, bool> cases[] = {
        {"a.jpg", "jpg", true}, {"DSC0001.JPG", "jpg", true}, {"x.Jpg", "jpg", true},
        {".jpg", "jpg", true},  {"jpg", "jpg", false},        {"a.jpeg", "jpg", false},
        {"ajpg", "jpg", false}, {"a.jpg.txt", "jpg", false},  {"a.BMP", "bmp", true},
    };
    for (const auto &[name, extension, expected] : cases)
        EXPECT_EQ(hasExtension(QLatin1String(name), QLatin1String(extension)), expected) << name;
}

// Placing is a rename: across file systems it fails, and both files stay as they were.
TEST(PlaceFile, ReplacesTheDestinationInOneStepOnItsFileSystem)
{
    QTemporaryDir here;
    // /dev/shm is another file system than the temporary folder on most machines.
    QTemporaryDir there(QStringLiteral("/dev/shm/redim-test-XXXXXX"));
    const auto device = [](const QTemporaryDir *dir) {
        struct stat st {};
        return ::stat(encodePath(dir->path()).constData(), &st) == 0 ? st.st_dev : dev_t{};
    };
    for (const QTemporaryDir *sourceFolder : {&here, &there}) {
        if (!sourceFolder->isValid())
            continue;
        const bool moved = device(sourceFolder) == device(&here);
        const QString source = sourceFolder->path() + QStringLiteral("/new.bmp");
        const QString destination = here.path() + QStringLiteral("/photo.bmp");
        writeAll(source, QByteArray(3 << 20, 'n'));
        writeAll(destination, "old");
        EXPECT_EQ(placeFile(source, destination), moved);
        EXPECT_EQ(readAll(destination), moved ? QByteArray(3 << 20, 'n') : QByteArray("old"));
        EXPECT_EQ(QFile::exists(source), !moved);
        EXPECT_EQ(entries(here.path()), QStringList({"photo.bmp"}));  // no temporary left
        QFile::remove(source);
    }
    // A destination that cannot be written keeps the source.
    const QString source = here.path() + QStringLiteral("/again.bmp");
    writeAll(source, "x");
    EXPECT_FALSE(placeFile(source, here.path() + QStringLiteral("/missing/photo.bmp")));
    EXPECT_TRUE(QFile::exists(source));
}

TEST(WriteFileAtOnce, RefusesToWriteThroughALink)
{
    QTemporaryDir dir;
    const QString target = dir.path() + QStringLiteral("/target.txt");
    writeAll(target, "keep");
    ASSERT_TRUE(QFile::link(target, dir.path() + QStringLiteral("/Log.txt")));
    EXPECT_FALSE(writeFileAtOnce(dir.path() + QStringLiteral("/Log.txt"), "x", true));
    EXPECT_EQ(readAll(target), "keep");
    EXPECT_TRUE(writeFileAtOnce(dir.path() + QStringLiteral("/new.txt"), "one\r\n", false));
    EXPECT_TRUE(writeFileAtOnce(dir.path() + QStringLiteral("/new.txt"), "two\r\n", true));
    EXPECT_EQ(readAll(dir.path() + QStringLiteral("/new.txt")), "one\r\ntwo\r\n");
}

// A folder anyone but its owner may enter is never trusted, whoever else that is; preparing one
// of the user's own narrows it to its owner.
TEST(PrivateFolder, OnlyTheOwnerMayEnterIt)
{
    QTemporaryDir dir;
    const mode_t modes[] = {0700, 0755, 0750, 0711, 0770, 0702};
    for (const mode_t mode : modes) {
        ASSERT_EQ(::chmod(encodePath(dir.path()).constData(), mode), 0);
        EXPECT_EQ(isPrivateFolder(dir.path()), mode == 0700) << std::oct << mode;
        EXPECT_TRUE(preparePrivateFolder(dir.path())) << std::oct << mode;
        EXPECT_EQ(QFileInfo(dir.path()).permissions().toInt() & 0x0077, 0) << std::oct << mode;
    }
}

}  // namespace
}  // namespace redim::testing
