// ConvertImg as a program: started with real arguments on real files, its JPEGs read back with libjpeg-turbo.
#include "convertimg/convert.h"
#include "tests/convertimg/bmp_builder.h"
#include "tests/support/testimages.h"

#include <gtest/gtest.h>
#include <turbojpeg.h>

#include <cstdio>
#include <jpeglib.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <future>
#include <iterator>
#include <numeric>
#include <set>
#include <sstream>
#include <thread>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

struct Outcome {
    int status = -1;  // exit status, or minus the signal that ended the converter
    std::string out;
    std::string err;
    int errLines() const { return static_cast<int>(std::count(err.begin(), err.end(), '\n')); }
};

std::string readText(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

void writeBytes(const fs::path& path, const std::vector<std::uint8_t>& bytes)
{
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

// A fresh folder per test, so that tests can run side by side.
class ConverterTest : public testing::Test {
protected:
    void SetUp() override
    {
        const auto* info = testing::UnitTest::GetInstance()->current_test_info();
        std::string name = std::string(info->test_suite_name()) + "_" + info->name();
        std::replace(name.begin(), name.end(), '/', '_');
        dir = fs::path(testing::TempDir()) / ("convertimg_" + name + "_" + std::to_string(getpid()));
        fs::remove_all(dir);
        fs::create_directories(dir);
    }
    void TearDown() override { fs::remove_all(dir); }

    // Starts the converter with `args` as its argv (no shell), its output going to files.
    pid_t start(const std::vector<std::string>& args, const char* program = CONVERTIMG_PATH)
    {
        std::vector<char*> argv{const_cast<char*>(program)};
        for (const std::string& a : args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, (dir / "stdout.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_addopen(&actions, 2, (dir / "stderr.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        pid_t pid = -1;
        const int rc = posix_spawn(&pid, program, &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        EXPECT_EQ(rc, 0);
        return pid;
    }

    Outcome finish(pid_t pid)
    {
        int status = 0;
        waitpid(pid, &status, 0);
        Outcome r;
        r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
        r.out = readText(dir / "stdout.txt");
        r.err = readText(dir / "stderr.txt");
        fs::remove(dir / "stdout.txt");
        fs::remove(dir / "stderr.txt");
        return r;
    }

    Outcome run(const std::vector<std::string>& args) { return finish(start(args)); }

    // The call the desktop program makes: the bitmaps of a folder into the same folder.
    Outcome convertFolder(const fs::path& folder, bool replace = true)
    {
        std::vector<std::string> args{"/jpg", "/S"};
        if (replace)
            args.push_back("/R");
        args.push_back((folder / "*.bmp").string());
        args.push_back(folder.string());
        return run(args);
    }

    std::set<std::string> filesIn(const fs::path& folder) const
    {
        std::set<std::string> names;
        for (const auto& entry : fs::directory_iterator(folder))
            names.insert(entry.path().filename().string());
        return names;
    }

    fs::path dir;
};

struct Jpeg {
    bool complete = false;  // decoded without error or warning (a cut file gives a warning)
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> bgr;
    int densityUnit = -1;
    int xDensity = 0;
    int yDensity = 0;
};

Jpeg readJpeg(const fs::path& path)
{
    const std::string bytes = readText(path);
    Jpeg jpeg;
    auto* data = reinterpret_cast<const unsigned char*>(bytes.data());
    // The JFIF segment right after the start of image: units at byte 13, densities at 14 and 16.
    if (bytes.size() > 18 && data[2] == 0xFF && data[3] == 0xE0 && bytes.compare(6, 5, std::string("JFIF\0", 5)) == 0) {
        jpeg.densityUnit = data[13];
        jpeg.xDensity = data[14] << 8 | data[15];
        jpeg.yDensity = data[16] << 8 | data[17];
    }
    tjhandle tj = tjInitDecompress();
    int subsampling = 0, colourspace = 0;
    if (tjDecompressHeader3(tj, data, bytes.size(), &jpeg.width, &jpeg.height, &subsampling, &colourspace) == 0) {
        jpeg.bgr.resize(static_cast<std::size_t>(jpeg.width) * jpeg.height * 3);
        jpeg.complete =
            tjDecompress2(tj, data, bytes.size(), jpeg.bgr.data(), jpeg.width, 0, jpeg.height, TJPF_BGR, 0) == 0;
    }
    tjDestroy(tj);
    return jpeg;
}

double meanError(const Jpeg& jpeg, const testbmp::Picture& picture)
{
    double sum = 0;
    for (std::size_t i = 0; i < picture.bgr.size(); ++i)
        sum += std::abs(int(jpeg.bgr[i]) - int(picture.bgr[i]));
    return sum / static_cast<double>(picture.bgr.size());
}

struct LayoutCase {
    const char* name;
    testbmp::Layout layout;
    friend void PrintTo(const LayoutCase& c, std::ostream* os) { *os << c.name; }
};

// Every depth and header kind; 24-bit widths 61 to 64 need 1, 2, 3 and 0 bytes of row padding.
const LayoutCase layoutCases[] = {
    {"1bit", {.width = 61, .height = 40, .bits = 1}},
    {"4bit_topdown", {.width = 62, .height = 40, .bits = 4, .topDown = true}},
    {"8bit", {.width = 63, .height = 40, .bits = 8}},
    {"8bit_12colours", {.width = 64, .height = 40, .bits = 8, .colours = 12}},
    {"16bit_555", {.width = 63, .height = 33, .bits = 16}},
    {"16bit_565_v5",
     {.width = 62, .height = 33, .bits = 16, .headerSize = 124, .compression = 3, .masks = {0xF800, 0x07E0, 0x001F}}},
    {"24bit_w61", {.width = 61, .height = 40}},
    {"24bit_w62_topdown", {.width = 62, .height = 40, .topDown = true}},
    {"24bit_w63_v4", {.width = 63, .height = 40, .headerSize = 108}},
    {"24bit_w64_v5", {.width = 64, .height = 40, .headerSize = 124}},
    {"32bit", {.width = 50, .height = 30, .bits = 32}},
    {"32bit_topdown_bitfields",
     {.width = 50, .height = 30, .bits = 32, .topDown = true, .compression = 3, .masks = {0xFF0000, 0xFF00, 0xFF}}},
    {"32bit_rgbx", {.width = 50, .height = 30, .bits = 32, .compression = 3, .masks = {0xFF000000, 0xFF0000, 0xFF00}}},
};

class ConvertsLayout : public ConverterTest, public testing::WithParamInterface<LayoutCase> {};

TEST_P(ConvertsLayout, IntoAFaithfulJpeg)
{
    testbmp::Picture picture;
    writeBytes(dir / "image.bmp", testbmp::makeBmp(GetParam().layout, &picture));
    const Outcome r = convertFolder(dir);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    const Jpeg jpeg = readJpeg(dir / "image.jpg");
    ASSERT_TRUE(jpeg.complete);
    ASSERT_EQ(jpeg.width, picture.width);
    ASSERT_EQ(jpeg.height, picture.height);
    EXPECT_LT(meanError(jpeg, picture), 4.0);
    EXPECT_EQ(filesIn(dir), (std::set<std::string>{"image.bmp", "image.jpg"}));
}

INSTANTIATE_TEST_SUITE_P(Layouts, ConvertsLayout, testing::ValuesIn(layoutCases), testing::PrintToStringParamName());

TEST_F(ConverterTest, KeepsTheBitmapResolutionAsDensity)
{
    struct Case {
        std::int32_t pixelsPerMetre;
        int unit;
        int density;
    };
    for (const Case c : {Case{3780, 1, 96}, Case{11811, 1, 300}, Case{0, 0, 1}}) {
        writeBytes(dir / "image.bmp", testbmp::makeBmp({.pixelsPerMetre = c.pixelsPerMetre}));
        ASSERT_EQ(convertFolder(dir).status, 0);
        const Jpeg jpeg = readJpeg(dir / "image.jpg");
        EXPECT_EQ(jpeg.densityUnit, c.unit) << c.pixelsPerMetre;
        EXPECT_EQ(jpeg.xDensity, c.density) << c.pixelsPerMetre;
        EXPECT_EQ(jpeg.yDensity, c.density) << c.pixelsPerMetre;
    }
}

// The proof that a JPEG was made from the bitmap beside it, which "Effacer Bmp" relies on.
TEST_F(ConverterTest, TheJpegBearsItsBitmapsTime)
{
    writeBytes(dir / "image.bmp", testbmp::makeBmp({}));
    ASSERT_EQ(convertFolder(dir).status, 0);
    struct stat bitmap {};
    struct stat jpeg {};
    ASSERT_EQ(stat((dir / "image.bmp").c_str(), &bitmap), 0);
    ASSERT_EQ(stat((dir / "image.jpg").c_str(), &jpeg), 0);
    EXPECT_EQ(jpeg.st_mtim.tv_sec, bitmap.st_mtim.tv_sec);
    EXPECT_EQ(jpeg.st_mtim.tv_nsec, bitmap.st_mtim.tv_nsec);
}

TEST_F(ConverterTest, ReplacesAnExistingJpegOnlyWithR)
{
    writeBytes(dir / "image.bmp", testbmp::makeBmp({.width = 8, .height = 6}));
    // The old JPEG is a photo too, of another size: a JPEG that is merely complete is not proof.
    const std::vector<std::uint8_t> old = testimages::encodeJpeg(testimages::flat(16, 16, 10, 20, 30));
    for (const bool replace : {false, true}) {
        writeBytes(dir / "image.jpg", old);
        const Outcome r = convertFolder(dir, replace);
        EXPECT_EQ(r.status, 0) << r.err;
        if (replace) {
            const Jpeg jpeg = readJpeg(dir / "image.jpg");
            EXPECT_TRUE(jpeg.complete);
            EXPECT_EQ(jpeg.width, 8);
            EXPECT_EQ(jpeg.height, 6);
            EXPECT_EQ(r.err, "");
        } else {
            EXPECT_EQ(readText(dir / "image.jpg"), std::string(old.begin(), old.end()));
            EXPECT_NE(r.err.find("skipped"), std::string::npos) << r.err;
            EXPECT_EQ(r.errLines(), 1);
        }
        EXPECT_EQ(filesIn(dir).size(), 2u);
    }
}

// The luminance and chrominance quantisation tables, in libjpeg's natural order.
using QuantTables = std::array<std::array<UINT16, DCTSIZE2>, 2>;

QuantTables copyTables(JQUANT_TBL* const* tables)
{
    QuantTables copy{};
    for (std::size_t i = 0; i < copy.size(); ++i)
        if (tables[i] != nullptr)
            std::copy_n(tables[i]->quantval, DCTSIZE2, copy[i].begin());
    return copy;
}

// The Huffman tables, DC then AC, luminance then chrominance, as a DHT segment holds each: the
// number of codes of each length, then the symbols.
using HuffmanTables = std::vector<std::vector<UINT8>>;

template <typename Cinfo>
HuffmanTables huffmanTables(const Cinfo& cinfo)
{
    HuffmanTables tables;
    for (JHUFF_TBL* const* slots : {cinfo.dc_huff_tbl_ptrs, cinfo.ac_huff_tbl_ptrs})
        for (int i = 0; i < 2; ++i) {
            std::vector<UINT8> bytes;
            if (const JHUFF_TBL* t = slots[i]) {
                bytes.assign(t->bits + 1, t->bits + 17);
                bytes.insert(bytes.end(), t->huffval, t->huffval + std::accumulate(bytes.begin(), bytes.end(), 0));
            }
            tables.push_back(bytes);
        }
    return tables;
}

// How a JPEG was coded, as its headers tell libjpeg.
struct Coding {
    QuantTables tables{};
    std::vector<std::pair<int, int>> sampling;  // horizontal and vertical factors of each component
    bool progressive = false;
    bool standardHuffman = false;  // the JPEG standard's Huffman tables rather than ones fitted to the photo
    bool operator==(const Coding&) const = default;
    friend void PrintTo(const Coding& c, std::ostream* os)
    {
        *os << (c.progressive ? "progressive" : "sequential") << (c.standardHuffman ? ", standard" : ", fitted")
            << " Huffman tables, luminance quantised by " << c.tables[0][0] << " " << c.tables[0][1] << "..., sampling";
        for (const auto& [h, v] : c.sampling)
            *os << " " << h << "x" << v;
    }
};

// libjpeg's own choices for a colour photo at `quality`: the JPEG standard's quantisation tables,
// scaled, and its Huffman tables.
struct LibjpegDefaults {
    QuantTables tables;
    HuffmanTables huffman;
};

LibjpegDefaults libjpegDefaultsFor(int quality)
{
    jpeg_compress_struct cinfo{};
    jpeg_error_mgr err{};
    cinfo.err = jpeg_std_error(&err);
    jpeg_create_compress(&cinfo);
    cinfo.in_color_space = JCS_RGB;
    cinfo.input_components = 3;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, quality, TRUE);
    LibjpegDefaults defaults{copyTables(cinfo.quant_tbl_ptrs), huffmanTables(cinfo)};
    jpeg_destroy_compress(&cinfo);
    return defaults;
}

Coding codingOf(const fs::path& path)
{
    const std::string bytes = readText(path);
    jpeg_decompress_struct cinfo{};
    jpeg_error_mgr err{};
    cinfo.err = jpeg_std_error(&err);
    jpeg_create_decompress(&cinfo);
    jpeg_mem_src(&cinfo, reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
    jpeg_read_header(&cinfo, TRUE);
    Coding coding{copyTables(cinfo.quant_tbl_ptrs),
                  {},
                  cinfo.progressive_mode != FALSE,
                  huffmanTables(cinfo) == libjpegDefaultsFor(90).huffman};  // the same at every quality
    for (int i = 0; i < cinfo.num_components; ++i)
        coding.sampling.emplace_back(cinfo.comp_info[i].h_samp_factor, cinfo.comp_info[i].v_samp_factor);
    jpeg_destroy_decompress(&cinfo);
    return coding;
}

// Colour that changes from pixel to pixel keeps its full resolution, at quality 83 with the
// standard Huffman tables; smooth colour is halved, at quality 90 with tables fitted to the
// photo. Both are sequential.
TEST_F(ConverterTest, CodesEachPhotoWithTheSettingsChosenForIt)
{
    const struct {
        testbmp::Content content;
        Coding expected;
    } cases[] = {
        {testbmp::Content::Noise, {libjpegDefaultsFor(83).tables, {{1, 1}, {1, 1}, {1, 1}}, false, true}},
        {testbmp::Content::Smooth, {libjpegDefaultsFor(90).tables, {{2, 2}, {1, 1}, {1, 1}}, false, false}},
    };
    for (const auto& c : cases) {
        writeBytes(dir / "image.bmp", testbmp::makeBmp({.width = 64, .height = 48, .content = c.content}));
        ASSERT_EQ(convertFolder(dir).status, 0);
        ASSERT_TRUE(readJpeg(dir / "image.jpg").complete);  // a damaged file would end the test program
        EXPECT_EQ(codingOf(dir / "image.jpg"), c.expected);
    }
}

TEST_F(ConverterTest, PatternMatchingNothingIsNoError)
{
    std::ofstream(dir / "notes.txt") << "x";
    fs::create_directory(dir / "folder.bmp");
    const Outcome r = convertFolder(dir);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(filesIn(dir), (std::set<std::string>{"notes.txt", "folder.bmp"}));
}

TEST_F(ConverterTest, TakesAnyLetterCaseOfTheExtension)
{
    for (const char* name : {"PHOTO.BMP", "Mixed.Bmp", "plain.bmp"})
        writeBytes(dir / name, testbmp::makeBmp({}));
    const Outcome r = convertFolder(dir);
    EXPECT_EQ(r.status, 0) << r.err;
    for (const char* name : {"PHOTO.jpg", "Mixed.jpg", "plain.jpg"})
        EXPECT_TRUE(readJpeg(dir / name).complete) << name;
}

TEST_F(ConverterTest, HandlesBlanksAccentsAndQuotesInPaths)
{
    const fs::path in = dir / "dossier à blancs";
    const fs::path out = dir / "sortie \"l'été\"";
    fs::create_directories(in);
    fs::create_directories(out);
    const std::string names[] = {"l'été \"chaud\" 2", "a  b", "Ça; $(rm) *"};
    for (const std::string& name : names)
        writeBytes(in / (name + ".bmp"), testbmp::makeBmp({}));
    const Outcome r = run({"/jpg", "/S", "/R", (in / "*.bmp").string(), out.string()});
    EXPECT_EQ(r.status, 0) << r.err;
    for (const std::string& name : names)
        EXPECT_TRUE(readJpeg(out / (name + ".jpg")).complete) << name;
    EXPECT_EQ(filesIn(out).size(), 3u);
}

TEST_F(ConverterTest, UnusableOutputFolderFailsEveryFile)
{
    writeBytes(dir / "a.bmp", testbmp::makeBmp({}));
    writeBytes(dir / "b.bmp", testbmp::makeBmp({}));
    std::ofstream(dir / "plain file") << "x";
    for (const char* outDir : {"missing folder", "plain file"}) {
        const Outcome r = run({"/jpg", "/S", "/R", (dir / "*.bmp").string(), (dir / outDir).string()});
        EXPECT_EQ(r.status, 1) << outDir;
        EXPECT_EQ(r.errLines(), 2) << r.err;
        EXPECT_NE(r.err.find("a.bmp"), std::string::npos) << r.err;
        EXPECT_EQ(filesIn(dir), (std::set<std::string>{"a.bmp", "b.bmp", "plain file"})) << outDir;
    }
}

// Bad files fail one by one with a line each; the good file beside them is converted, and no
// partial JPEG or temporary is left.
TEST_F(ConverterTest, DamagedBitmapsFailAlone)
{
    const std::vector<std::uint8_t> good = testbmp::makeBmp({.width = 40, .height = 20});
    writeBytes(dir / "good.bmp", good);
    writeBytes(dir / "cut.bmp", std::vector<std::uint8_t>(good.begin(), good.begin() + 100));
    writeBytes(dir / "empty.bmp", {});
    std::ofstream(dir / "text\nline.bmp") << "this is not a bitmap";  // still reported on one line
    std::vector<std::uint8_t> rle = testbmp::makeBmp({.bits = 8});
    testbmp::put32(rle, testbmp::at::compression, bmp::compression::rle8);
    writeBytes(dir / "rle.bmp", rle);
    // Readable, but wider than a JPEG may be: the encoder's own error must come back as a failure.
    writeBytes(dir / "too wide.bmp", testbmp::makeBmp({.width = 70000, .height = 1, .bits = 1}));

    const Outcome r = convertFolder(dir);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.errLines(), 5) << r.err;
    for (const char* name : {"cut.bmp", "empty.bmp", "text?line.bmp", "rle.bmp", "too wide.bmp"})
        EXPECT_NE(r.err.find(name), std::string::npos) << name << " not reported in\n" << r.err;
    EXPECT_NE(r.err.find("65500"), std::string::npos) << r.err;
    EXPECT_TRUE(readJpeg(dir / "good.jpg").complete);
    std::set<std::string> jpegs;
    for (const std::string& name : filesIn(dir))
        if (!name.ends_with(".bmp"))
            jpegs.insert(name);
    EXPECT_EQ(jpegs, std::set<std::string>{"good.jpg"});
}

// A bitmap that is no regular file when it is opened (replaced by a FIFO or a folder since the
// listing, or gone) fails with its reason at once: a FIFO nobody writes to is never waited on.
TEST_F(ConverterTest, RefusesWhatIsNoLongerARegularFileAtOnce)
{
    const struct {
        const char* name;
        int (*make)(const char* path);
        const char* message;
    } cases[] = {
        {"fifo.bmp", [](const char* path) { return mkfifo(path, 0600); }, "not a regular file"},
        {"folder.bmp", [](const char* path) { return mkdir(path, 0700); }, "not a regular file"},
        {"gone.bmp", [](const char*) { return 0; }, "cannot open: No such file or directory"},
    };
    convertimg::ConvertSettings settings;
    settings.outDir = dir.string();
    for (const auto& c : cases) {
        const fs::path path = dir / c.name;
        ASSERT_EQ(c.make(path.c_str()), 0) << c.name;
        auto result =
            std::async(std::launch::async, [&] { return convertimg::convertFile(path, "out.jpg", settings); });
        if (result.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
            close(open(path.c_str(), O_WRONLY | O_NONBLOCK));  // a writer lets the blocked opening return
            ADD_FAILURE() << c.name << ": the converter waited";
        }
        const convertimg::FileResult r = result.get();
        EXPECT_EQ(r.outcome, convertimg::Outcome::Failed) << c.name;
        EXPECT_EQ(r.message, c.message) << c.name;
    }
    EXPECT_FALSE(fs::exists(dir / "out.jpg"));
}

#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)  // their shadow memory counts as resident
// A bitmap of a kilobyte whose run-length codes end at once declares a picture of 200 MB, which
// the converter must hold. Three of them are converted one after the other, not one per core, and
// each without the coefficients of its whole image beside its pixels: the converter's peak stays
// near one picture, where side by side with optimised Huffman tables it was four.
TEST_F(ConverterTest, BitmapsDeclaringHugePicturesAreConvertedOneAtATime)
{
    constexpr int side = 8200;  // just over 2^26 pixels
    std::vector<std::uint8_t> bomb = testbmp::makeRleBmp(1, 1, 8, {0, 1});
    testbmp::put32(bomb, testbmp::at::width, side);
    testbmp::put32(bomb, testbmp::at::height, side);
    for (const char* name : {"a.bmp", "b.bmp", "c.bmp"})
        writeBytes(dir / name, bomb);
    const pid_t pid = start({"/jpg", "/S", (dir / "*.bmp").string(), dir.string()});
    int status = 0;
    rusage usage{};
    ASSERT_EQ(wait4(pid, &status, 0, &usage), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << readText(dir / "stderr.txt");
    const double pictureMiB = 3.0 * side * side / (1 << 20);
    const double peakMiB = static_cast<double>(usage.ru_maxrss) / 1024;
    EXPECT_LT(peakMiB, 1.25 * pictureMiB) << "one picture is " << pictureMiB << " MiB";
    for (const char* name : {"a.jpg", "b.jpg", "c.jpg"}) {
        const Jpeg jpeg = readJpeg(dir / name);
        EXPECT_TRUE(jpeg.complete && jpeg.width == side && jpeg.height == side) << name;
    }
}
#endif

TEST_F(ConverterTest, TwoBitmapsForOneJpegIsAFailure)
{
    writeBytes(dir / "a.bmp", testbmp::makeBmp({}));
    writeBytes(dir / "a.BMP", testbmp::makeBmp({}));
    const Outcome r = convertFolder(dir);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.errLines(), 1) << r.err;
    EXPECT_TRUE(readJpeg(dir / "a.jpg").complete);
}

TEST_F(ConverterTest, UsageErrorsExitWithTwo)
{
    const std::vector<std::string> cases[] = {
        {},
        {"/jpg", "/S", "/R"},
        {"only-pattern"},
        {"a", "b", "c"},
        {"a", "b", "-"},
        {"-x", "a", "b"},
        {"/jpg", "--png", "a", "b"},
        {"-rs", "a", "b"},
        {"--jpg", "a", "b"},
        {"a/*.bmp", ""},
        {"", "b"},
    };
    for (const auto& args : cases) {
        const Outcome r = run(args);
        EXPECT_EQ(r.status, 2) << args.size() << " arguments";
        EXPECT_EQ(r.errLines(), 1) << r.err;
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(filesIn(dir), std::set<std::string>{});
    }
}

TEST_F(ConverterTest, HelpInFrenchAndEnglish)
{
    for (const char* help : {"-h", "--help", "-H"}) {
        const Outcome r = run({help});
        EXPECT_EQ(r.status, 0) << help;
        EXPECT_NE(r.out.find("Usage :"), std::string::npos) << help;
        EXPECT_NE(r.out.find("Usage:"), std::string::npos) << help;
        EXPECT_EQ(r.err, "");
    }
}

// Interrupted at any moment, the converter leaves every JPEG either absent or complete; a
// temporary may remain after SIGKILL (hidden, never named *.jpg), none after SIGTERM.
TEST_F(ConverterTest, InterruptedRunLeavesNoPartialJpeg)
{
    const fs::path in = dir / "in";
    fs::create_directories(in);
    writeBytes(in / "0.bmp", testbmp::makeBmp({.width = 1600, .height = 1200, .content = testbmp::Content::Noise}));
    for (int i = 1; i < 24; ++i)
        fs::create_hard_link(in / "0.bmp", in / (std::to_string(i) + ".bmp"));

    int completeSeen = 0;
    constexpr int onceAJpegIsDone = -1;
    const struct {
        int signal;
        int afterMs;
    } rounds[] = {
        {SIGKILL, 60}, {SIGKILL, 200}, {SIGKILL, onceAJpegIsDone}, {SIGTERM, 150}, {SIGTERM, onceAJpegIsDone}};
    for (const auto& round : rounds) {
        const fs::path out = dir / ("out" + std::to_string(round.signal) + "_" + std::to_string(round.afterMs));
        fs::create_directories(out);
        const pid_t pid = start({"/jpg", "/S", "/R", (in / "*.bmp").string(), out.string()});
        if (round.afterMs == onceAJpegIsDone) {
            const auto anyJpeg = [&] {
                const std::set<std::string> names = filesIn(out);
                return std::any_of(names.begin(), names.end(),
                                   [](const std::string& n) { return n.ends_with(".jpg"); });
            };
            while (!anyJpeg())
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
        } else {
            std::this_thread::sleep_for(std::chrono::milliseconds(round.afterMs));
        }
        kill(pid, round.signal);
        const Outcome r = finish(pid);
        for (const std::string& name : filesIn(out)) {
            if (name.ends_with(".jpg")) {
                EXPECT_TRUE(readJpeg(out / name).complete) << name;
                ++completeSeen;
            } else {
                EXPECT_EQ(round.signal, SIGKILL) << "temporary left after SIGTERM: " << name;
                EXPECT_TRUE(name.starts_with(".")) << name;
            }
        }
    }
    // The checks above did look at JPEGs.
    EXPECT_GT(completeSeen, 0);
    RecordProperty("complete_jpegs_seen", completeSeen);
}

// A signal that comes as one thread creates its temporary, while the others go on converting,
// leaves no temporary behind.
TEST_F(ConverterTest, ASignalAsATemporaryIsCreatedLeavesNoneBehind)
{
    for (int i = 0; i < 8; ++i)
        writeBytes(dir / (std::to_string(i) + ".bmp"), testbmp::makeBmp({.width = 320, .height = 240}));
    const fs::path out = dir / "out";
    fs::create_directories(out);
    const Outcome r =
        finish(start({"/jpg", "/S", "/R", (dir / "*.bmp").string(), out.string()}, SIGNALLED_CONVERTIMG_PATH));
    EXPECT_EQ(r.status, -SIGTERM) << r.err;
    for (const std::string& name : filesIn(out))
        EXPECT_TRUE(name.ends_with(".jpg") && readJpeg(out / name).complete) << "left after SIGTERM: " << name;
}

}  // namespace
