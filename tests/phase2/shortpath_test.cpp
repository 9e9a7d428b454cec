// Tests of the short-path routine: single calls on a fresh record, sequences that build the
// record up, the 16-bit limit and odd inputs that must neither crash nor read out of range.

#include "phase2/shortpath.h"

#include <gtest/gtest.h>

#include <cctype>
#include <ostream>
#include <string_view>
#include <vector>

// Readable QString values in failure messages.
void PrintTo(const QString& s, std::ostream* os)
{
    *os << '"' << s.toStdString() << '"';
}

namespace {

using redim::ShortPaths;

// A case's description as gtest and CTest name it: its words run together, each capitalised
// ("the same long name twice" prints as TheSameLongNameTwice).
void printAsName(std::string_view what, std::ostream* os)
{
    bool wordStarts = true;
    for (const char c : what) {
        const bool kept = std::isalnum(static_cast<unsigned char>(c)) != 0;
        if (kept)
            *os << (wordStarts ? static_cast<char>(std::toupper(static_cast<unsigned char>(c))) : c);
        wordStarts = !kept;
    }
}

struct Outcome {
    QString path;
    int result;
};

Outcome run(ShortPaths& sp, const QString& path)
{
    sp.chemcv = path;
    const int result = sp.chemcourt();
    return {sp.chemcv, result};
}

// Both lists hold nbcourt + 1 slots. Callers wrap it in ASSERT_NO_FATAL_FAILURE so that a
// broken record ends the test before anything indexes it.
void checkConsistent(const ShortPaths& sp)
{
    ASSERT_GE(sp.nbcourt, 0);
    ASSERT_EQ(sp.tabcourt.size(), sp.nbcourt + 1);
    ASSERT_EQ(sp.tablong.size(), sp.nbcourt + 1);
}

// ---- One call on an empty record ------------------------------------------------------------

struct SingleCase {
    const char* what;
    QString input;
    QString expected;  // chemcv afterwards
    int result;
    int entries;       // nbcourt afterwards
    QString longName;  // tablong(1) when an entry was made
    friend void PrintTo(const SingleCase& c, std::ostream* os) { printAsName(c.what, os); }
};

class SingleCall : public ::testing::TestWithParam<SingleCase> {};

TEST_P(SingleCall, GivesShortFormAndRecord)
{
    const SingleCase& c = GetParam();
    ShortPaths sp;
    const Outcome out = run(sp, c.input);
    EXPECT_EQ(out.result, c.result) << c.what;
    EXPECT_EQ(out.path, c.expected) << c.what;
    ASSERT_EQ(sp.nbcourt, c.entries) << c.what;
    ASSERT_NO_FATAL_FAILURE(checkConsistent(sp));
    if (c.entries == 1) {
        EXPECT_EQ(sp.tabcourt.at(1), c.expected) << c.what;
        EXPECT_EQ(sp.tablong.at(1), c.longName) << c.what;
    }
}

const SingleCase singleCases[] = {
    // Result folder and other paths without a three-letter ending: untouched, letter case kept.
    {"result folder", R"(C:\Windows\Temp\RaduZor)", R"(C:\Windows\Temp\RaduZor)", 0, 0, {}},
    {"result folder lower case", R"(c:\windows\temp\raduzor)", R"(c:\windows\temp\raduzor)", 0, 0, {}},
    {"Linux result folder", "/var/tmp/redim-1000/RaduZor", "/var/tmp/redim-1000/RaduZor", 0, 0, {}},
    {"two-letter extension", R"(C:\dir\photo.jp)", R"(C:\dir\photo.jp)", 0, 0, {}},
    {"four-letter extension", R"(C:\dir\photo.jpeg)", R"(C:\dir\photo.jpeg)", 0, 0, {}},
    {"dot only in a folder", R"(C:\dir.old\photo)", R"(C:\dir.old\photo)", 0, 0, {}},
    {"trailing backslash", R"(C:\Images\Photo.jpg\)", R"(C:\Images\Photo.jpg\)", 0, 0, {}},
    {"long name without extension", R"(C:\a very long file name)", R"(C:\a very long file name)", 0, 0, {}},

    // Short file names pass unchanged (blanks kept) and are not recorded.
    {"short file name", R"(C:\Images\Photo.jpg)", R"(C:\IMAGES\PHOTO.JPG)", 1, 0, {}},
    {"12-character name", R"(C:\ABCDEFGH.JPG)", R"(C:\ABCDEFGH.JPG)", 1, 0, {}},
    {"12 characters with a blank", R"(C:\abc defg.jpg)", R"(C:\ABC DEFG.JPG)", 1, 0, {}},
    {"short name with blanks", R"(C:\d\a  b c.jpg)", R"(C:\D\A  B C.JPG)", 1, 0, {}},
    {"file at the drive root", R"(D:\x.bmp)", R"(D:\X.BMP)", 1, 0, {}},

    // Folder names.
    {"folder of 8 characters", R"(C:\Abcdefgh\a.jpg)", R"(C:\ABCDEFGH\A.JPG)", 1, 0, {}},
    {"folder of 9 characters", R"(C:\Abcdefghi\a.jpg)", R"(C:\ABCDEF~1\A.JPG)", 1, 0, {}},
    {"short folder loses its blanks", R"(C:\My dir\a.jpg)", R"(C:\MYDIR\A.JPG)", 1, 0, {}},
    {"blanks count towards the 8", R"(C:\My dir xy\a.jpg)", R"(C:\MYDIRX~1\A.JPG)", 1, 0, {}},
    {"8 with blanks, 5 without", R"(C:\a b c de\a.jpg)", R"(C:\ABCDE\A.JPG)", 1, 0, {}},
    {"long folder, short after blanks", R"(C:\a b c d e\a.jpg)", R"(C:\ABCDE~1\A.JPG)", 1, 0, {}},
    {"two long folders both ~1",
     R"(C:\Long folder one\Long folder two\a.jpg)",
     R"(C:\LONGFO~1\LONGFO~1\A.JPG)",
     1,
     0,
     {}},
    {"empty folder name", R"(C:\\a.jpg)", R"(C:\\A.JPG)", 1, 0, {}},

    // Long file names: first 6 characters, "~1", extension; one entry.
    {"worked example", R"(C:\Program Files\Photo album\vacances ete.jpg)", R"(C:\PROGRA~1\PHOTOA~1\VACANC~1.JPG)", 1, 1,
     "VACANCESETE.JPG"},
    {"13-character name", R"(C:\abcdefghi.jpg)", R"(C:\ABCDEF~1.JPG)", 1, 1, "ABCDEFGHI.JPG"},
    {"long only with its blanks", R"(C:\ab cd ef g.jpg)", R"(C:\ABCDEF~1.JPG)", 1, 1, "ABCDEFG.JPG"},
    {"stem cut at the dot", R"(C:\ab  cd  e.jpg)", R"(C:\ABCDE.~1.JPG)", 1, 1, "ABCDE.JPG"},
    {"blanks fill the name", R"(C:\        a.jpg)", R"(C:\A.JPG~1.JPG)", 1, 1, "A.JPG"},

    // The character after the drive is skipped unseen; only the dot rule decides.
    {"slash after the drive", "C:/x.jpg", R"(C:\X.JPG)", 1, 0, {}},
    {"letter after the drive", "C:Zx.jpg", R"(C:\X.JPG)", 1, 0, {}},
    {"Linux file path", "/tmp/x.jpg", R"(/T\P/X.JPG)", 1, 0, {}},
    {"name shorter than 4 starting with a dot", R"(C:\.ab)", R"(C:\.AB)", 1, 0, {}},
};

INSTANTIATE_TEST_SUITE_P(ShortPath, SingleCall, ::testing::ValuesIn(singleCases), ::testing::PrintToStringParamName());

// ---- Sequences on one record ----------------------------------------------------------------

struct Step {
    QString input;
    QString expected;
    int result;
};

struct SequenceCase {
    const char* what;
    std::vector<Step> steps;
    friend void PrintTo(const SequenceCase& c, std::ostream* os) { printAsName(c.what, os); }
};

class Sequence : public ::testing::TestWithParam<SequenceCase> {};

TEST_P(Sequence, NumbersFromTheRecord)
{
    const SequenceCase& c = GetParam();
    ShortPaths sp;
    int made = 0;
    for (std::size_t i = 0; i < c.steps.size(); ++i) {
        const Step& step = c.steps[i];
        const int before = sp.nbcourt;
        const Outcome out = run(sp, step.input);
        EXPECT_EQ(out.result, step.result) << c.what << ", step " << i;
        EXPECT_EQ(out.path, step.expected) << c.what << ", step " << i;
        ASSERT_NO_FATAL_FAILURE(checkConsistent(sp));
        if (sp.nbcourt > before) {
            ++made;
            EXPECT_EQ(sp.tabcourt.at(sp.nbcourt), step.expected) << c.what << ", step " << i;
        }
    }
    EXPECT_EQ(sp.nbcourt, made);
}

const QString album = R"(C:\Program Files\Photo album\)";
const QString shortAlbum = R"(C:\PROGRA~1\PHOTOA~1\)";

std::vector<Step> numberedRun()
{
    std::vector<Step> steps;
    for (int i = 1; i <= 9; ++i)
        steps.push_back({album + QStringLiteral("vacances jour %1.jpg").arg(i),
                         shortAlbum + QStringLiteral("VACANC~%1.JPG").arg(i), 1});
    steps.push_back({album + "vacances jour 10.jpg", shortAlbum + "VACAN~10.JPG", 1});
    steps.push_back({album + "vacances jour 11.jpg", shortAlbum + "VACAN~11.JPG", 1});
    steps.push_back({album + "vacances jour 12.jpg", shortAlbum + "VACAN~12.JPG", 1});
    return steps;
}

const SequenceCase sequenceCases[] = {
    {"second holiday picture gets ~2",
     {{album + "vacances ete.jpg", shortAlbum + "VACANC~1.JPG", 1},
      {album + "vacances hiver.jpg", shortAlbum + "VACANC~2.JPG", 1}}},
    {"~9 is followed by ~10 and ~11", numberedRun()},
    {"first 8 differ from the newest name: both ~1",
     {{R"(C:\vacances ete.jpg)", R"(C:\VACANC~1.JPG)", 1}, {R"(C:\vacancier du lac.jpg)", R"(C:\VACANC~1.JPG)", 1}}},
    {"the newest name decides, not the matching entry's (stop)",
     {{R"(C:\vacances ete.jpg)", R"(C:\VACANC~1.JPG)", 1},
      {R"(C:\vacancier du lac.jpg)", R"(C:\VACANC~1.JPG)", 1},
      {R"(C:\vacances hiver.jpg)", R"(C:\VACANC~1.JPG)", 1}}},
    {"the newest name decides, not the matching entry's (number)",
     {{R"(C:\vacancier du lac.jpg)", R"(C:\VACANC~1.JPG)", 1},
      {R"(C:\Autre\vacances ete.jpg)", R"(C:\AUTRE\VACANC~1.JPG)", 1},
      {R"(C:\vacances hiver.jpg)", R"(C:\VACANC~2.JPG)", 1}}},
    {"other extension keeps ~1 and is passed over",
     {{R"(C:\vacances ete.jpg)", R"(C:\VACANC~1.JPG)", 1},
      {R"(C:\vacances ete.png)", R"(C:\VACANC~1.PNG)", 1},
      {R"(C:\vacances hiver.jpg)", R"(C:\VACANC~2.JPG)", 1}}},
    {"same name in another folder starts again at ~1",
     {{R"(C:\Un\vacances ete.jpg)", R"(C:\UN\VACANC~1.JPG)", 1},
      {R"(C:\Deux\vacances ete.jpg)", R"(C:\DEUX\VACANC~1.JPG)", 1}}},
    {"the same long name twice is numbered again",
     {{R"(C:\vacances ete.jpg)", R"(C:\VACANC~1.JPG)", 1}, {R"(C:\vacances ete.jpg)", R"(C:\VACANC~2.JPG)", 1}}},
    {"short names and failures leave the numbering alone",
     {{R"(C:\vacances ete.jpg)", R"(C:\VACANC~1.JPG)", 1},
      {R"(C:\Images\Photo.jpg)", R"(C:\IMAGES\PHOTO.JPG)", 1},
      {R"(C:\Windows\Temp\RaduZor)", R"(C:\Windows\Temp\RaduZor)", 0},
      {R"(C:\vacances hiver.jpg)", R"(C:\VACANC~2.JPG)", 1}}},
    {"folders are never numbered",
     {{R"(C:\Long folder one\a.jpg)", R"(C:\LONGFO~1\A.JPG)", 1},
      {R"(C:\Long folder two\a.jpg)", R"(C:\LONGFO~1\A.JPG)", 1}}},
};

INSTANTIATE_TEST_SUITE_P(ShortPath, Sequence, ::testing::ValuesIn(sequenceCases), ::testing::PrintToStringParamName());

TEST(ShortPathRecord, KeepsLongNamesAndLeavesItAloneOnFailure)
{
    ShortPaths sp;
    run(sp, album + "vacances ete.jpg");
    run(sp, album + "vacances hiver.jpg");
    ASSERT_EQ(sp.nbcourt, 2);
    EXPECT_EQ(sp.tablong, (QStringList{QString(), "VACANCESETE.JPG", "VACANCESHIVER.JPG"}));
    EXPECT_EQ(sp.tabcourt, (QStringList{QString(), shortAlbum + "VACANC~1.JPG", shortAlbum + "VACANC~2.JPG"}));

    const QStringList shortBefore = sp.tabcourt;
    const QStringList longBefore = sp.tablong;
    for (const QString& failing :
         {QString(), QStringLiteral(R"(C:\Windows\Temp\RaduZor)"), QStringLiteral(R"(C:\vacances ete.jpeg)")}) {
        EXPECT_EQ(run(sp, failing).result, 0);
        EXPECT_EQ(sp.chemcv, failing);
        EXPECT_EQ(sp.nbcourt, 2);
        EXPECT_EQ(sp.tabcourt, shortBefore);
        EXPECT_EQ(sp.tablong, longBefore);
    }
}

TEST(ShortPathRecord, StopsRecordingAtTheSixteenBitLimit)
{
    ShortPaths sp;
    sp.tabcourt.reserve(ShortPaths::maxEntries + 1);
    sp.tablong.reserve(ShortPaths::maxEntries + 1);
    for (int i = 1; i <= ShortPaths::maxEntries; ++i) {
        sp.tabcourt.append(QStringLiteral(R"(C:\F%1~1.JPG)").arg(i, 5, 10, QLatin1Char('0')));
        sp.tablong.append(QStringLiteral("F%1LONGNAME.JPG").arg(i, 5, 10, QLatin1Char('0')));
    }
    sp.nbcourt = ShortPaths::maxEntries;

    // Still shortened, still numbered from the record, but no longer recorded.
    EXPECT_EQ(run(sp, R"(C:\vacances ete.jpg)").path, R"(C:\VACANC~1.JPG)");
    EXPECT_EQ(sp.nbcourt, ShortPaths::maxEntries);
    ASSERT_NO_FATAL_FAILURE(checkConsistent(sp));

    EXPECT_EQ(run(sp, R"(C:\f32767longname.jpg)").path, R"(C:\F32767~2.JPG)");
    EXPECT_EQ(run(sp, R"(C:\Images\Photo.jpg)").path, R"(C:\IMAGES\PHOTO.JPG)");
    EXPECT_EQ(sp.nbcourt, ShortPaths::maxEntries);
    ASSERT_NO_FATAL_FAILURE(checkConsistent(sp));
}

// The record is public; a caller that leaves it out of step must not make the routine read
// outside it.
TEST(ShortPathRecord, SurvivesARecordOutOfStep)
{
    ShortPaths missingSlots;
    missingSlots.nbcourt = 3;  // the lists still hold only slot 0
    EXPECT_EQ(run(missingSlots, R"(C:\vacances ete.jpg)").path, R"(C:\VACANC~1.JPG)");
    EXPECT_EQ(missingSlots.nbcourt, 4);
    ASSERT_NO_FATAL_FAILURE(checkConsistent(missingSlots));
    EXPECT_EQ(missingSlots.tabcourt.at(4), R"(C:\VACANC~1.JPG)");

    ShortPaths tinyEntries;
    tinyEntries.tabcourt = {QString(), QString(), "~", "1.JPG", "~~~~~~~", "~"};
    tinyEntries.tablong = {QString(), QString(), "V", "VACANCES", QString(), "VACANCESX.JPG"};
    tinyEntries.nbcourt = 5;
    EXPECT_EQ(run(tinyEntries, R"(C:\vacances ete.jpg)").path, R"(C:\VACANC~1.JPG)");
    EXPECT_EQ(tinyEntries.nbcourt, 6);

    ShortPaths negative;
    negative.nbcourt = -1;
    EXPECT_EQ(run(negative, R"(C:\vacances ete.jpg)").path, R"(C:\VACANC~1.JPG)");
    EXPECT_EQ(negative.nbcourt, -1);
}

TEST(ShortPathRecord, ProcessInstanceStartsEmpty)
{
    const redim::ShortPaths& global = redim::shortPaths();
    EXPECT_EQ(global.nbcourt, 0);
    ASSERT_NO_FATAL_FAILURE(checkConsistent(global));
}

// ---- Odd inputs -----------------------------------------------------------------------------

struct OddCase {
    const char* what;
    QString input;
    friend void PrintTo(const OddCase& c, std::ostream* os) { printAsName(c.what, os); }
};

class OddInput : public ::testing::TestWithParam<OddCase> {};

// Result 0 leaves everything as it was; result 1 gives an upper-case path without reading
// outside any string (the sanitizer build checks the latter). Running every input twice on
// the same record also drives the numbering with the odd entries the first call made.
TEST_P(OddInput, NeverBreaks)
{
    const OddCase& c = GetParam();
    ShortPaths sp;
    for (int round = 0; round < 2; ++round) {
        const int before = sp.nbcourt;
        const Outcome out = run(sp, c.input);
        ASSERT_TRUE(out.result == 0 || out.result == 1) << c.what;
        if (out.result == 0) {
            EXPECT_EQ(out.path, c.input) << c.what;
            EXPECT_EQ(sp.nbcourt, before) << c.what;
        } else {
            EXPECT_EQ(out.path, out.path.toUpper()) << c.what;
            EXPECT_FALSE(out.path.isEmpty()) << c.what;
        }
        ASSERT_NO_FATAL_FAILURE(checkConsistent(sp));
    }
}

const OddCase oddCases[] = {
    {"empty", ""},
    {"one character", "C"},
    {"drive only", "C:"},
    {"drive root", R"(C:\)"},
    {"three backslashes", R"(\\\)"},
    {"one dot", "."},
    {"only dots", "......"},
    {"only dots, long", QString(40, QLatin1Char('.'))},
    {"dots after the drive", R"(C:\....)"},
    {"dot as the short name", R"(C:\.)"},
    {"no backslash", "photo.jpg"},
    {"backslashes only, long", QString(1000, QLatin1Char('\\'))},
    {"blanks only, long", QString(1000, QLatin1Char(' '))},
    {"long name of dots", R"(C:\)" + QString(20, QLatin1Char('.'))},
    {"long name of tildes", R"(C:\~~~~~~~~~~~~~.~~~)"},
    {"long name of digits", R"(C:\1234567890123.456)"},
    {"extension of blanks", R"(C:\abcdefghij.   )"},
    {"extension with a blank", R"(C:\ABCDEFGHI.J P)"},
    {"blanks then a dot", "C:\\" + QString(12, QLatin1Char(' ')) + ".   "},
    {"sign in the tail", "C:\\-5" + QString(8, QLatin1Char(' ')) + ".   "},
    {"short name of blanks", "C:\\" + QString(8, QLatin1Char(' ')) + ".jpg"},
    {"long name of blanks", "C:\\" + QString(20, QLatin1Char(' ')) + ".jpg"},
    {"very long last name", "C:\\" + QString(500, QLatin1Char('a')) + ".jpg"},
    {"many folders", QString(R"(C:\)") + QString(R"(dossier tres long\)").repeated(200) + "x.jpg"},
    {"empty folders", R"(C:\\\\\\a long file name.jpg)"},
    {"no drive, long name", R"(\\server\share\vacances ete.jpg)"},
    {"name of one to three characters", R"(C:\a\bc\def\g.h)"},
    {"german sharp s grows when upper-cased", QString::fromUtf8("C:\\stra\xc3\x9f"
                                                                "e lang.jpg")},
};

INSTANTIATE_TEST_SUITE_P(ShortPath, OddInput, ::testing::ValuesIn(oddCases), ::testing::PrintToStringParamName());

}  // namespace
