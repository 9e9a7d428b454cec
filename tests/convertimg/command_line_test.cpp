// Command line and file patterns: switches in every form, wildcard matching, folder listing.
#include "convertimg/convert.h"
#include "convertimg/options.h"
#include "convertimg/pattern.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <vector>

#include <unistd.h>

using namespace convertimg;

namespace {

struct ArgsCase {
    std::vector<std::string_view> args;
    bool replace;
    std::string pattern;
    std::string outDir;
};

TEST(Options, AcceptsSwitchesInEveryFormAndPlace)
{
    const ArgsCase cases[] = {
        {{"/jpg", "/S", "/R", "/tmp/r/*.bmp", "/tmp/r"}, true, "/tmp/r/*.bmp", "/tmp/r"},
        {{"/JPG", "/s", "/r", "a/*.bmp", "b"}, true, "a/*.bmp", "b"},
        {{"-jpg", "-S", "a", "b"}, false, "a", "b"},
        {{"a", "-R", "b", "/Jpg"}, true, "a", "b"},
        {{"--", "-r", "/s"}, false, "-r", "/s"},
        {{"/home/x/my photos/*.BMP", "/home/x/l'été \"2\""}, false, "/home/x/my photos/*.BMP", "/home/x/l'été \"2\""},
    };
    for (const ArgsCase& c : cases) {
        Options o;
        std::string error;
        ASSERT_TRUE(parseArguments(c.args, o, error)) << error;
        EXPECT_EQ(o.replace, c.replace) << c.pattern;
        EXPECT_EQ(o.pattern, c.pattern);
        EXPECT_EQ(o.outDir, c.outDir);
        EXPECT_FALSE(o.help);
    }
}

TEST(Pattern, MatchesWildcardsIgnoringCase)
{
    struct Case {
        const char* mask;
        const char* name;
        bool matches;
    };
    const Case cases[] = {
        {"*.bmp", "photo.bmp", true},
        {"*.bmp", "PHOTO.BMP", true},
        {"*.BMP", "photo.Bmp", true},
        {"*.bmp", "photo.bmp.txt", false},
        {"*.bmp", "photobmp", false},
        {"*.bmp", ".bmp", true},
        {"*", "", true},
        {"", "a", false},
        {"?.bmp", "a.bmp", true},
        {"?.bmp", "ab.bmp", false},
        {"?.bmp", "é.bmp", true},  // one character, two bytes
        {"??.bmp", "é.bmp", false},
        {"été*", "ÉTÉ 2023.bmp", true},
        {"*ÿ", "Ÿ", true},
        {"*œ*", "CŒUR", true},
        {"a*b*c", "aXXbYYc", true},
        {"a*b*c", "aXXbYY", false},
        {"a*b", "ab", true},
        {"*a*a*a*a*a*a*a*a*b", "aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa", false},
        {"\xff*", "\xff.bmp", true},   // invalid UTF-8 still compares byte for byte
        {"\xc3*", "\xc3\xa9", false},  // a cut sequence is not the letter it starts
    };
    for (const Case& c : cases)
        EXPECT_EQ(matchesMask(c.mask, c.name), c.matches) << c.mask << " vs " << c.name;
}

TEST(Pattern, SplitsFolderFromMask)
{
    struct Case {
        const char* pattern;
        const char* folder;
        const char* mask;
    };
    const Case cases[] = {
        {"/var/tmp/redim-1000/RaduZor/*.bmp", "/var/tmp/redim-1000/RaduZor", "*.bmp"},
        {"/*.bmp", "/", "*.bmp"},
        {"*.bmp", ".", "*.bmp"},
        {"dir/", "dir", ""},
        {"a b/c d/*.bmp", "a b/c d", "*.bmp"},
    };
    for (const Case& c : cases) {
        const Pattern p = splitPattern(c.pattern);
        EXPECT_EQ(p.folder, c.folder) << c.pattern;
        EXPECT_EQ(p.mask, c.mask) << c.pattern;
    }
}

TEST(Pattern, ListsRegularFilesButTheProgramsOwn)
{
    namespace fs = std::filesystem;
    // Own folder per process: other build trees may run this test at the same time.
    const fs::path dir = fs::path(testing::TempDir()) / ("convertimg_list_" + std::to_string(getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir / "folder.bmp");
    for (const char* name : {"a.bmp", "B.BMP", "c.txt", ".hidden.bmp", ".bmp", ".redim.lock", ".imglib-5-0-1.bmp",
                             ".convertimg-7-p.jpg.Ab12Cd"})
        std::ofstream(dir / name) << "x";
    fs::create_symlink(dir / "a.bmp", dir / "link.bmp");
    fs::create_symlink(dir / "missing", dir / "dangling.bmp");

    std::vector<std::string> names;
    std::string error;
    ASSERT_TRUE(listMatches({dir.string(), "*.bmp"}, names, error)) << error;
    EXPECT_EQ(names, (std::vector<std::string>{".bmp", ".hidden.bmp", "B.BMP", "a.bmp", "link.bmp"}));
    ASSERT_TRUE(listMatches({dir.string(), "*"}, names, error)) << error;
    EXPECT_EQ(names, (std::vector<std::string>{".bmp", ".hidden.bmp", "B.BMP", "a.bmp", "c.txt", "link.bmp"}));

    EXPECT_FALSE(listMatches({(dir / "none").string(), "*.bmp"}, names, error));
    EXPECT_FALSE(error.empty());
    fs::remove_all(dir);
}

}  // namespace
