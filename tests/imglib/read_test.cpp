// ReadFileIntoDIB on the JPEGs that cameras, phones, scanners and editors write, and on files
// it must refuse.
#include "tests/imglib/library_helpers.h"

#include <gtest/gtest.h>
#include <lcms2.h>

#include <cmath>
#include <cstring>

#include <sys/stat.h>

using namespace testimages;
using imglibtest::colourDistance;
using imglibtest::decode;
using imglibtest::Handle;

namespace {

// ---- Every encoding, on a gradient whose size is not a whole number of MCUs -----------------

struct EncodingCase {
    const char *name;
    JpegOptions options;
    int maxError;  // per channel, anywhere
    friend void PrintTo(const EncodingCase &c, std::ostream *os) { *os << c.name; }
};

JpegOptions with(void (*change)(JpegOptions &))
{
    JpegOptions o;
    change(o);
    return o;
}

const EncodingCase kEncodings[] = {
    {"Baseline420", {}, 12},
    {"Baseline444", with([](JpegOptions &o) { o.subsampling = Subsampling::S444; }), 8},
    {"Baseline422", with([](JpegOptions &o) { o.subsampling = Subsampling::S422; }), 12},
    {"Baseline440", with([](JpegOptions &o) { o.subsampling = Subsampling::S440; }), 12},
    {"Baseline411", with([](JpegOptions &o) { o.subsampling = Subsampling::S411; }), 14},
    {"UnusualSampling", with([](JpegOptions &o) { o.subsampling = Subsampling::Unusual; }), 14},
    {"OptimisedHuffman", with([](JpegOptions &o) { o.optimizeHuffman = true; }), 12},
    {"Progressive420", with([](JpegOptions &o) { o.progressive = true; }), 12},
    {"Progressive444", with([](JpegOptions &o) {
         o.progressive = true;
         o.subsampling = Subsampling::S444;
     }),
     8},
    {"ProgressiveSpectralOnly", with([](JpegOptions &o) {
         o.progressive = true;
         o.spectralSelectionOnly = true;
     }),
     12},
    {"Arithmetic", with([](JpegOptions &o) { o.arithmetic = true; }), 12},
    {"ArithmeticProgressive", with([](JpegOptions &o) {
         o.arithmetic = true;
         o.progressive = true;
     }),
     12},
    {"NonInterleaved", with([](JpegOptions &o) { o.nonInterleaved = true; }), 12},
    {"RestartEveryMcu", with([](JpegOptions &o) { o.restartInterval = 1; }), 12},
    {"RestartEvery7Progressive", with([](JpegOptions &o) {
         o.restartInterval = 7;
         o.progressive = true;
     }),
     12},
    {"RestartArithmetic", with([](JpegOptions &o) {
         o.restartInterval = 3;
         o.arithmetic = true;
     }),
     12},
    {"StoredRgb", with([](JpegOptions &o) { o.colour = ColourModel::Rgb; }), 8},
    {"Cmyk", with([](JpegOptions &o) { o.colour = ColourModel::Cmyk; }), 12},
    {"InvertedCmyk", with([](JpegOptions &o) { o.colour = ColourModel::InvertedCmyk; }), 12},
    {"Ycck", with([](JpegOptions &o) { o.colour = ColourModel::Ycck; }), 14},
    {"YcckProgressive", with([](JpegOptions &o) {
         o.colour = ColourModel::Ycck;
         o.progressive = true;
     }),
     14},
    {"LowQuality", with([](JpegOptions &o) { o.quality = 30; }), 40},
};

class Encodings : public ::testing::TestWithParam<EncodingCase> {};

TEST_P(Encodings, DecodeToTheOriginalPixels)
{
    const EncodingCase &c = GetParam();
    TempDir dir;
    const RgbImage original = gradient(67, 45);
    const auto bmp = decode(writeJpeg(dir / "in.jpg", original, c.options), dir);
    ASSERT_TRUE(bmp);
    ASSERT_EQ(bmp->width, 67);
    ASSERT_EQ(bmp->height, 45);
    int worst = 0;
    for (int y = 0; y < 45; ++y)
        for (int x = 0; x < 67; ++x)
            worst = std::max(worst, colourDistance(bmp->at(x, y), original.at(x, y)));
    EXPECT_LE(worst, c.maxError);
}

INSTANTIATE_TEST_SUITE_P(Jpeg, Encodings, ::testing::ValuesIn(kEncodings), ::testing::PrintToStringParamName());

TEST(Read, GrayscaleComesOutAsEqualChannelsOfTheLuma)
{
    TempDir dir;
    const RgbImage original = gradient(40, 30);
    for (const bool progressive : {false, true}) {
        JpegOptions o;
        o.colour = ColourModel::Gray;
        o.progressive = progressive;
        const auto bmp = decode(writeJpeg(dir / "gray.jpg", original, o), dir);
        ASSERT_TRUE(bmp);
        for (int y = 0; y < 30; ++y) {
            for (int x = 0; x < 40; ++x) {
                const std::uint8_t *rgb = original.at(x, y);
                const double luma = 0.299 * rgb[0] + 0.587 * rgb[1] + 0.114 * rgb[2];
                const std::uint8_t *p = bmp->at(x, y);
                ASSERT_EQ(p[0], p[1]);
                ASSERT_EQ(p[1], p[2]);
                ASSERT_NEAR(p[0], luma, 6) << x << "," << y;
            }
        }
    }
}

// ---- EXIF orientation -----------------------------------------------------------------------

RgbImage rotateClockwise(const RgbImage &in)
{
    RgbImage out(in.height, in.width);
    for (int y = 0; y < in.height; ++y)
        for (int x = 0; x < in.width; ++x)
            std::memcpy(out.at(in.height - 1 - y, x), in.at(x, y), 3);
    return out;
}

RgbImage flipAcross(const RgbImage &in)  // left becomes right
{
    RgbImage out(in.width, in.height);
    for (int y = 0; y < in.height; ++y)
        for (int x = 0; x < in.width; ++x)
            std::memcpy(out.at(in.width - 1 - x, y), in.at(x, y), 3);
    return out;
}

RgbImage flipDown(const RgbImage &in)  // top becomes bottom
{
    RgbImage out(in.width, in.height);
    for (int y = 0; y < in.height; ++y)
        std::memcpy(out.at(0, in.height - 1 - y), in.at(0, y), static_cast<std::size_t>(in.width) * 3);
    return out;
}

// What a camera stores when the scene it saw is `upright` and it tags the file with
// `orientation`: the tag tells a viewer how to turn the stored pixels back.
RgbImage storedFor(const RgbImage &upright, int orientation)
{
    switch (orientation) {
    case 2: return flipAcross(upright);
    case 3: return flipAcross(flipDown(upright));
    case 4: return flipDown(upright);
    case 5: return flipAcross(rotateClockwise(upright));                        // transposed
    case 6: return rotateClockwise(rotateClockwise(rotateClockwise(upright)));  // viewer turns it clockwise
    case 7: return flipDown(rotateClockwise(upright));                          // anti-transposed
    case 8: return rotateClockwise(upright);                                    // viewer turns it back
    default: return upright;
    }
}

struct OrientationCase {
    int orientation;
    bool bigEndian = false;
    bool progressive = false;  // with 4:2:0, so the turn also meets subsampled chroma
    friend void PrintTo(const OrientationCase &c, std::ostream *os)
    {
        *os << c.orientation << (c.bigEndian ? "Motorola" : "Intel") << (c.progressive ? "Progressive" : "");
    }
};

class Orientations : public ::testing::TestWithParam<OrientationCase> {};

TEST_P(Orientations, ComeOutUpright)
{
    const auto [orientation, bigEndian, progressive] = GetParam();
    TempDir dir;
    const RgbImage upright = quadrants(48, 32);
    JpegOptions o;
    o.exifOrientation = orientation;
    o.exifBigEndian = bigEndian;
    o.progressive = progressive;
    o.subsampling = progressive ? Subsampling::S420 : Subsampling::S444;
    const auto bmp = decode(writeJpeg(dir / "photo.jpg", storedFor(upright, orientation), o), dir);
    ASSERT_TRUE(bmp);
    ASSERT_EQ(bmp->width, 48);
    ASSERT_EQ(bmp->height, 32);
    // The middle of each quadrant, and the corners, where a one-pixel shift would show.
    for (const auto &[x, y] : {std::pair{12, 8}, {36, 8}, {12, 24}, {36, 24}, {0, 0}, {47, 0}, {0, 31}, {47, 31}})
        EXPECT_LE(colourDistance(bmp->at(x, y), upright.at(x, y)), 24) << "at " << x << "," << y;
}

INSTANTIATE_TEST_SUITE_P(Exif, Orientations,
                         ::testing::Values(OrientationCase{1}, OrientationCase{2}, OrientationCase{3},
                                           OrientationCase{4}, OrientationCase{5}, OrientationCase{6},
                                           OrientationCase{7}, OrientationCase{8}, OrientationCase{5, true},
                                           OrientationCase{6, true}, OrientationCase{8, true},
                                           OrientationCase{3, false, true}, OrientationCase{6, false, true},
                                           OrientationCase{7, false, true}),
                         ::testing::PrintToStringParamName());

// Large images are converted and turned band by band on a second thread; blocks of distinct
// flat colours show any band that lands in the wrong place or is converted twice or not at all.
TEST(Read, LargeImagesAreConvertedAndTurnedBandByBand)
{
    RgbImage upright(1024, 576);
    for (int y = 0; y < upright.height; ++y) {
        for (int x = 0; x < upright.width; ++x) {
            std::uint8_t *p = upright.at(x, y);
            p[0] = static_cast<std::uint8_t>(x / 16 * 37 % 256);
            p[1] = static_cast<std::uint8_t>(y / 16 * 40 % 256);
            p[2] = 128;
        }
    }
    TempDir dir;
    for (const int orientation : {1, 3, 6}) {
        JpegOptions o;
        o.colour = ColourModel::InvertedCmyk;
        o.quality = 95;
        o.exifOrientation = orientation;
        const auto bmp = decode(writeJpeg(dir / "large.jpg", storedFor(upright, orientation), o), dir);
        ASSERT_TRUE(bmp);
        ASSERT_EQ(bmp->width, 1024);
        ASSERT_EQ(bmp->height, 576);
        int worst = 0;
        for (int y = 0; y < upright.height; ++y)
            for (int x = 0; x < upright.width; ++x)
                worst = std::max(worst, colourDistance(bmp->at(x, y), upright.at(x, y)));
        EXPECT_LE(worst, 10) << "orientation " << orientation;
    }
}

// ---- Colour ---------------------------------------------------------------------------------

TEST(Read, CmykModelsGiveTheSameColours)
{
    TempDir dir;
    const std::uint8_t colours[][3] = {{200, 40, 90}, {20, 120, 230}, {250, 250, 30}, {90, 90, 90}};
    for (const auto &c : colours) {
        for (const ColourModel model : {ColourModel::Cmyk, ColourModel::InvertedCmyk, ColourModel::Ycck}) {
            JpegOptions o;
            o.colour = model;
            o.quality = 95;
            const auto bmp = decode(writeJpeg(dir / "cmyk.jpg", flat(24, 16, c[0], c[1], c[2]), o), dir);
            ASSERT_TRUE(bmp);
            EXPECT_LE(colourDistance(bmp->at(12, 8), c), 6) << "model " << static_cast<int>(model) << " colour "
                                                            << int(c[0]) << "," << int(c[1]) << "," << int(c[2]);
        }
    }
}

struct ProfileDeleter {
    void operator()(void *p) const { cmsCloseProfile(p); }
};
using ProfilePtr = std::unique_ptr<void, ProfileDeleter>;

std::vector<std::uint8_t> saveProfile(cmsHPROFILE profile)
{
    cmsUInt32Number size = 0;
    if (!cmsSaveProfileToMem(profile, nullptr, &size))
        return {};
    std::vector<std::uint8_t> bytes(size);
    cmsSaveProfileToMem(profile, bytes.data(), &size);
    return bytes;
}

// An Adobe RGB (1998)-like profile: its primaries, D65 white and a 2.2 gamma.
ProfilePtr adobeRgbLike(const char *name = "Wide gamut test RGB")
{
    const cmsCIExyY white = {0.3127, 0.3290, 1.0};
    const cmsCIExyYTRIPLE primaries = {{0.64, 0.33, 1.0}, {0.21, 0.71, 1.0}, {0.15, 0.06, 1.0}};
    cmsToneCurve *gamma = cmsBuildGamma(nullptr, 2.2);
    cmsToneCurve *curves[3] = {gamma, gamma, gamma};
    ProfilePtr profile(cmsCreateRGBProfile(&white, &primaries, curves));
    cmsFreeToneCurve(gamma);
    cmsMLU *description = cmsMLUalloc(nullptr, 1);
    cmsMLUsetASCII(description, "en", "US", name);
    cmsWriteTag(profile.get(), cmsSigProfileDescriptionTag, description);
    cmsMLUfree(description);
    return profile;
}

// A printer's CMYK profile in miniature: a table from ink to Lab that the plain conversion is
// far from (magenta and yellow also warm the colour, cyan cools it).
ProfilePtr cmykPrinterLike()
{
    ProfilePtr profile(cmsCreateProfilePlaceholder(nullptr));
    cmsSetProfileVersion(profile.get(), 4.3);
    cmsSetDeviceClass(profile.get(), cmsSigOutputClass);
    cmsSetColorSpace(profile.get(), cmsSigCmykData);
    cmsSetPCS(profile.get(), cmsSigLabData);
    cmsStage *table = cmsStageAllocCLut16bit(nullptr, 3, 4, 3, nullptr);
    const auto inkToLab = [](const cmsUInt16Number in[], cmsUInt16Number out[], void *) -> cmsInt32Number {
        const double c = in[0] / 65535.0, m = in[1] / 65535.0, y = in[2] / 65535.0, k = in[3] / 65535.0;
        const cmsCIELab lab = {95 * (1 - k) * (1 - 0.3 * c - 0.4 * m - 0.1 * y), 60 * (m - c) + 15 * y,
                               60 * (y - 0.5 * c) - 10 * m};
        cmsFloat2LabEncoded(out, &lab);
        return TRUE;
    };
    cmsStageSampleCLut16bit(table, inkToLab, nullptr, 0);
    // A version 4 table is stored between curves: identity ones here.
    cmsPipeline *pipeline = cmsPipelineAlloc(nullptr, 4, 3);
    cmsPipelineInsertStage(pipeline, cmsAT_END, cmsStageAllocToneCurves(nullptr, 4, nullptr));
    cmsPipelineInsertStage(pipeline, cmsAT_END, table);
    cmsPipelineInsertStage(pipeline, cmsAT_END, cmsStageAllocToneCurves(nullptr, 3, nullptr));
    cmsWriteTag(profile.get(), cmsSigAToB0Tag, pipeline);
    cmsPipelineFree(pipeline);
    return profile;
}

// What LittleCMS makes of a colour in `profile` (RGB, or CMYK ink) when going to sRGB: computed
// for the one colour, rather than through the table of every colour a transform first builds.
std::array<std::uint8_t, 3> toSrgb(cmsHPROFILE profile, const std::uint8_t *colour, cmsUInt32Number format = TYPE_RGB_8)
{
    ProfilePtr srgb(cmsCreate_sRGBProfile());
    cmsHTRANSFORM t =
        cmsCreateTransform(profile, format, srgb.get(), TYPE_RGB_8, INTENT_PERCEPTUAL, cmsFLAGS_NOOPTIMIZE);
    std::array<std::uint8_t, 3> out{};
    cmsDoTransform(t, colour, out.data(), 1);
    cmsDeleteTransform(t);
    return out;
}

TEST(Read, WideGamutProfileIsConvertedToSrgb)
{
    TempDir dir;
    // A phone's wide-gamut profile may name sRGB, whose transfer curve it shares.
    for (const char *name : {"Wide gamut test RGB", "Display P3 Gamut with sRGB Transfer"}) {
        SCOPED_TRACE(name);
        const ProfilePtr profile = adobeRgbLike(name);
        JpegOptions o;
        o.iccProfile = saveProfile(profile.get());
        o.subsampling = Subsampling::S444;
        o.quality = 98;
        ASSERT_FALSE(o.iccProfile.empty());
        // Saturated greens, where the two spaces differ most, and a neutral grey that must stay
        // neutral.
        const std::uint8_t colours[][3] = {{40, 180, 60}, {20, 200, 120}, {128, 128, 128}};
        for (const auto &c : colours) {
            const auto expected = toSrgb(profile.get(), c);
            const auto bmp = decode(writeJpeg(dir / "adobe.jpg", flat(32, 32, c[0], c[1], c[2]), o), dir);
            ASSERT_TRUE(bmp);
            EXPECT_LE(colourDistance(bmp->at(16, 16), expected.data()), 4);
            if (c[0] != c[1]) {
                EXPECT_GE(colourDistance(bmp->at(16, 16), c), 10) << "the profile was not applied";
            }
        }
    }
}

TEST(Read, CmykProfileIsConvertedToSrgb)
{
    TempDir dir;
    const ProfilePtr profile = cmykPrinterLike();
    // One 16-pixel block of each colour, so that every 8 x 8 block of the file is flat and one
    // file (one transform, the costly part) tries them all.
    const std::uint8_t colours[][3] = {{200, 40, 90}, {20, 120, 230}, {250, 250, 30}, {90, 90, 90}};
    RgbImage blocks(16 * std::size(colours), 16);
    for (int x = 0; x < blocks.width; ++x)
        for (int y = 0; y < blocks.height; ++y)
            std::memcpy(blocks.at(x, y), colours[x / 16], 3);
    for (const ColourModel model : {ColourModel::Cmyk, ColourModel::InvertedCmyk}) {
        JpegOptions o;
        o.colour = model;
        o.quality = 98;
        o.iccProfile = saveProfile(profile.get());
        ASSERT_FALSE(o.iccProfile.empty());
        const auto bmp = decode(writeJpeg(dir / "cmyk.jpg", blocks, o), dir);
        ASSERT_TRUE(bmp);
        for (std::size_t i = 0; i < std::size(colours); ++i) {
            const std::uint8_t *c = colours[i];
            SCOPED_TRACE(::testing::Message() << "model " << static_cast<int>(model) << " colour " << int(c[0]) << ","
                                              << int(c[1]) << "," << int(c[2]));
            std::uint8_t ink[4];
            rgbToCmyk(c, ink);  // what the file stores, before any inversion
            const auto expected = toSrgb(profile.get(), ink, TYPE_CMYK_8);
            const std::uint8_t *got = bmp->at(16 * static_cast<int>(i) + 8, 8);
            EXPECT_LE(colourDistance(got, expected.data()), 4);
            EXPECT_GE(colourDistance(got, c), 10) << "the profile was not applied";
        }
    }
}

TEST(Read, LinearGrayProfileIsConvertedToSrgb)
{
    TempDir dir;
    cmsToneCurve *linear = cmsBuildGamma(nullptr, 1.0);
    const ProfilePtr profile(cmsCreateGrayProfile(cmsD50_xyY(), linear));
    cmsFreeToneCurve(linear);
    JpegOptions o;
    o.colour = ColourModel::Gray;
    o.iccProfile = saveProfile(profile.get());
    const auto bmp = decode(writeJpeg(dir / "gray.jpg", flat(16, 16, 50, 50, 50), o), dir);
    ASSERT_TRUE(bmp);
    // Linear 50/255 (about 20 % light) is about 124 in sRGB's curve.
    const std::uint8_t *p = bmp->at(8, 8);
    EXPECT_NEAR(p[0], 124, 4);
    EXPECT_EQ(p[0], p[1]);
    EXPECT_EQ(p[1], p[2]);
}

TEST(Read, UnusableProfilesAreIgnored)
{
    TempDir dir;
    const std::uint8_t colour[3] = {40, 180, 60};
    std::vector<std::vector<std::uint8_t>> profiles;
    profiles.push_back(std::vector<std::uint8_t>(300, 0x5A));  // not a profile at all
    {
        ProfilePtr srgb(cmsCreate_sRGBProfile());  // already what the image wants
        profiles.push_back(saveProfile(srgb.get()));
    }
    {
        cmsToneCurve *linear = cmsBuildGamma(nullptr, 1.0);
        ProfilePtr gray(cmsCreateGrayProfile(cmsD50_xyY(), linear));  // gray, for an RGB image
        cmsFreeToneCurve(linear);
        profiles.push_back(saveProfile(gray.get()));
    }
    for (const auto &icc : profiles) {
        JpegOptions o;
        o.iccProfile = icc;
        o.subsampling = Subsampling::S444;
        const auto bmp = decode(writeJpeg(dir / "p.jpg", flat(16, 16, colour[0], colour[1], colour[2]), o), dir);
        ASSERT_TRUE(bmp);
        EXPECT_LE(colourDistance(bmp->at(8, 8), colour), 4);
    }
}

TEST(Read, DensityReachesTheBitmap)
{
    struct Case {
        int unit, x, y;
        std::int32_t xPerMetre, yPerMetre;
        int orientation = 0;
    };
    const Case cases[] = {
        {1, 300, 300, 11811, 11811},                               // dots per inch
        {1, 72, 144, 2835, 5669},    {2, 100, 50, 10000, 5000},    // dots per cm
        {0, 1, 1, 3780, 3780},                                     // aspect ratio only: 96 dpi
        {1, 0, 0, 3780, 3780},       {1, 72, 144, 5669, 2835, 6},  // turned a quarter: across and down swap
    };
    TempDir dir;
    for (const Case &c : cases) {
        JpegOptions o;
        o.densityUnit = c.unit;
        o.xDensity = c.x;
        o.yDensity = c.y;
        o.exifOrientation = c.orientation;
        const auto bmp = decode(writeJpeg(dir / "d.jpg", flat(8, 8, 1, 2, 3), o), dir);
        ASSERT_TRUE(bmp);
        EXPECT_EQ(bmp->xPelsPerMeter, c.xPerMetre);
        EXPECT_EQ(bmp->yPelsPerMeter, c.yPerMetre);
    }
}

// ---- Files that must be refused -------------------------------------------------------------

std::vector<std::uint8_t> sampleJpeg(const JpegOptions &o = {})
{
    return encodeJpeg(gradient(64, 48), o);
}

// Offset of the first marker `code` (0xFF code) after the two SOI bytes.
std::size_t findMarker(const std::vector<std::uint8_t> &jpeg, std::uint8_t code, std::size_t from = 2)
{
    for (std::size_t i = from; i + 1 < jpeg.size(); ++i)
        if (jpeg[i] == 0xFF && jpeg[i + 1] == code)
            return i;
    return std::string::npos;
}

std::size_t findLastMarker(const std::vector<std::uint8_t> &jpeg, std::uint8_t code)
{
    for (std::size_t i = jpeg.size() - 2; i > 2; --i)
        if (jpeg[i] == 0xFF && jpeg[i + 1] == code)
            return i;
    return std::string::npos;
}

std::vector<std::uint8_t> withSize(std::vector<std::uint8_t> jpeg, unsigned width, unsigned height)
{
    std::size_t sof = findMarker(jpeg, 0xC0);
    if (sof == std::string::npos)
        sof = findMarker(jpeg, 0xC2);
    // FF Cx, length (2), precision (1), height (2), width (2)
    jpeg[sof + 5] = static_cast<std::uint8_t>(height >> 8);
    jpeg[sof + 6] = static_cast<std::uint8_t>(height);
    jpeg[sof + 7] = static_cast<std::uint8_t>(width >> 8);
    jpeg[sof + 8] = static_cast<std::uint8_t>(width);
    return jpeg;
}

struct BadFile {
    const char *name;
    std::vector<std::uint8_t> (*make)();
    friend void PrintTo(const BadFile &c, std::ostream *os) { *os << c.name; }
};

const BadFile kBadFiles[] = {
    {"Empty", [] { return std::vector<std::uint8_t>{}; }},
    {"Text",
     [] {
         const std::string text = "This is not a picture, whatever its name says.\n";
         return std::vector<std::uint8_t>(text.begin(), text.end());
     }},
    {"SoiOnly",
     [] {
         return std::vector<std::uint8_t>{0xFF, 0xD8};
     }},
    {"Bitmap", [] { return std::vector<std::uint8_t>{'B', 'M', 0, 0, 0, 0, 0, 0, 0, 0, 54, 0, 0, 0}; }},
    {"TruncatedInHeader",
     [] {
         auto j = sampleJpeg();
         j.resize(20);
         return j;
     }},
    {"TruncatedAtScanStart",
     [] {
         auto j = sampleJpeg();
         j.resize(findMarker(j, 0xDA) + 4);
         return j;
     }},
    {"TruncatedHalfway",
     [] {
         auto j = sampleJpeg();
         j.resize(j.size() / 2);
         return j;
     }},
    {"TruncatedBeforeEoi",
     [] {
         auto j = sampleJpeg();
         j.resize(j.size() - 2);
         return j;
     }},
    {"ProgressiveTruncatedHalfway",
     [] {
         JpegOptions o;
         o.progressive = true;
         auto j = sampleJpeg(o);
         j.resize(j.size() / 2);
         return j;
     }},
    {"ProgressiveTruncatedBeforeEoi",
     [] {
         JpegOptions o;
         o.progressive = true;
         auto j = sampleJpeg(o);
         j.resize(j.size() - 2);
         return j;
     }},
    {"ArithmeticTruncated",
     [] {
         JpegOptions o;
         o.arithmetic = true;
         auto j = sampleJpeg(o);
         j.resize(j.size() * 2 / 3);
         return j;
     }},
    {"GarbageInScan",
     [] {
         JpegOptions o;
         o.restartInterval = 1;
         auto j = sampleJpeg(o);
         const std::size_t at = findMarker(j, 0xDA) + 40;
         for (std::size_t i = at; i < at + 64; ++i)
             j[i] = static_cast<std::uint8_t>(i * 37 + 11);
         return j;
     }},
    {"RestartMarkersOutOfOrder",
     [] {
         JpegOptions o;
         o.restartInterval = 2;
         auto j = sampleJpeg(o);
         const std::size_t rst = findMarker(j, 0xD0, findMarker(j, 0xDA));
         j[rst + 1] = 0xD5;
         return j;
     }},
    {"TwelveBitPrecision",
     [] {
         auto j = sampleJpeg();
         j[findMarker(j, 0xC0) + 4] = 12;
         return j;
     }},
    {"LosslessProcess",
     [] {
         auto j = sampleJpeg();
         j[findMarker(j, 0xC0) + 1] = 0xC3;  // SOF3, which libjpeg-turbo 2.1 cannot decode
         return j;
     }},
    {"ZeroComponents",
     [] {
         auto j = sampleJpeg();
         j[findMarker(j, 0xC0) + 9] = 0;
         return j;
     }},
    {"ZeroWidth", [] { return withSize(sampleJpeg(), 0, 48); }},
    {"Claims65535Square", [] { return withSize(sampleJpeg(), 65535, 65535); }},
    {"ClaimsMoreThanTheSizeLimit", [] { return withSize(sampleJpeg(), 30000, 20000); }},
    {"ClaimsJustUnderTheSizeLimit", [] { return withSize(sampleJpeg(), 20000, 17000); }},
    {"ProgressiveClaims16000Square",
     [] {
         JpegOptions o;
         o.progressive = true;
         return withSize(sampleJpeg(o), 16000, 16000);
     }},
    {"TablesOnly",
     [] {
         auto j = sampleJpeg();
         const std::size_t sof = findMarker(j, 0xC0);
         j.resize(sof);
         j.push_back(0xFF);
         j.push_back(0xD9);
         return j;
     }},
};

class BadFiles : public ::testing::TestWithParam<BadFile> {};

TEST_P(BadFiles, AreRefusedSilently)
{
    TempDir dir;
    const auto path = dir / "bad.jpg";
    writeFile(path, GetParam().make());
    // libjpeg's own handlers would print "Corrupt JPEG data..." and the like.
    ::testing::internal::CaptureStdout();
    ::testing::internal::CaptureStderr();
    Handle h(ReadFileIntoDIB(path.c_str()));
    const std::string printed = ::testing::internal::GetCapturedStdout() + ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(h.get(), 0u);
    EXPECT_EQ(printed, "");
}

INSTANTIATE_TEST_SUITE_P(Jpeg, BadFiles, ::testing::ValuesIn(kBadFiles), ::testing::PrintToStringParamName());

// ---- Files every viewer shows, odd only outside the image data ------------------------------

std::vector<std::uint8_t> inserted(std::vector<std::uint8_t> jpeg, std::size_t at,
                                   const std::vector<std::uint8_t> &bytes)
{
    jpeg.insert(jpeg.begin() + static_cast<std::ptrdiff_t>(at), bytes.begin(), bytes.end());
    return jpeg;
}

// An APP2 ICC_PROFILE marker numbered 0, which no profile has: the marker is damaged.
const std::vector<std::uint8_t> kIccMarkerNumberedZero = {0xFF, 0xE2, 0x00, 0x12, 'I', 'C',  'C',  '_',  'P',  'R',
                                                          'O',  'F',  'I',  'L',  'E', 0x00, 0x00, 0x01, 0xAA, 0xBB};

const BadFile kOddFiles[] = {
    {"StrayBytesBeforeAMarker",
     [] {
         auto j = sampleJpeg();
         return inserted(j, findMarker(j, 0xDB), {0x00, 0x11, 0x22});
     }},
    {"PaddingBeforeTheEnd",
     [] {
         auto j = sampleJpeg();
         return inserted(j, j.size() - 2, {0x00, 0x00, 0x00, 0x00});
     }},
    {"NewerJfifRevision",
     [] {
         auto j = sampleJpeg();
         j[findMarker(j, 0xE0) + 9] = 3;
         return j;
     }},
    {"DamagedIccMarker",
     [] {
         auto j = sampleJpeg();
         return inserted(j, findMarker(j, 0xDB), kIccMarkerNumberedZero);
     }},
};

class OddFiles : public ::testing::TestWithParam<BadFile> {};

TEST_P(OddFiles, AreReadAsTheirCleanSelves)
{
    TempDir dir;
    writeFile(dir / "clean.jpg", sampleJpeg());
    writeFile(dir / "odd.jpg", GetParam().make());
    const auto clean = decode(dir / "clean.jpg", dir);
    const auto odd = decode(dir / "odd.jpg", dir);
    ASSERT_TRUE(clean && odd);
    EXPECT_TRUE(odd->bgr == clean->bgr);
}

INSTANTIATE_TEST_SUITE_P(Jpeg, OddFiles, ::testing::ValuesIn(kOddFiles), ::testing::PrintToStringParamName());

// Some phones write a baseline scan's band and approximation (Ss, Se, Ah, Al) as zeros, which
// libjpeg decodes as the usual 0, 63, 0, 0 with a warning. Other values say the scan was coded
// as something else, and libjpeg would decode it whole all the same.
TEST(Read, ZeroSequentialScanHeadersAreReadAsTheUsualOnes)
{
    const std::vector<std::uint8_t> clean = sampleJpeg();
    const std::size_t sos = findMarker(clean, 0xDA);
    const std::size_t band = sos + 5 + 2 * std::size_t{clean[sos + 4]};
    struct Case {
        std::uint8_t ss, se, approximation;
        bool read;
    };
    TempDir dir;
    writeFile(dir / "clean.jpg", clean);
    const auto expected = decode(dir / "clean.jpg", dir);
    ASSERT_TRUE(expected);
    for (const Case c : {Case{0, 0, 0x00, true}, Case{0, 0, 0x01, false}, Case{0, 5, 0x00, false}}) {
        auto jpeg = clean;
        jpeg[band] = c.ss;
        jpeg[band + 1] = c.se;
        jpeg[band + 2] = c.approximation;
        writeFile(dir / "phone.jpg", jpeg);
        const auto bmp = decode(dir / "phone.jpg", dir);
        EXPECT_EQ(bmp.has_value(), c.read) << int(c.ss) << " " << int(c.se) << " " << int(c.approximation);
        if (bmp && c.read) {
            EXPECT_TRUE(bmp->bgr == expected->bgr);
        }
    }
}

TEST(Read, PathsThatAreNoFileAreRefused)
{
    TempDir dir;
    std::filesystem::create_directory(dir / "folder.jpg");
    const std::string missing = (dir / "missing.jpg").string();
    const std::string folder = (dir / "folder.jpg").string();
    const std::string underFile = (writeJpeg(dir / "a.jpg", gradient(8, 8)) / "b.jpg").string();
    const std::string pipe = (dir / "pipe.jpg").string();
    ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);  // nobody writes to it: reading must not wait
    for (const char *path : {missing.c_str(), folder.c_str(), underFile.c_str(), pipe.c_str(), "/dev/zero", "",
                             static_cast<const char *>(nullptr)}) {
        Handle h(ReadFileIntoDIB(path));
        EXPECT_EQ(h.get(), 0u) << (path ? path : "(null)");
    }
}

// `jpeg` with its last scan, from its SOS to its EOI, repeated `times` times after itself.
std::vector<std::uint8_t> withLastScanRepeated(const std::vector<std::uint8_t> &jpeg, int times)
{
    const std::size_t sos = findLastMarker(jpeg, 0xDA), eoi = jpeg.size() - 2;
    std::vector<std::uint8_t> out(jpeg.begin(), jpeg.begin() + static_cast<std::ptrdiff_t>(eoi));
    for (int i = 0; i < times; ++i)
        out.insert(out.end(), jpeg.begin() + static_cast<std::ptrdiff_t>(sos),
                   jpeg.begin() + static_cast<std::ptrdiff_t>(eoi));
    out.insert(out.end(), {0xFF, 0xD9});
    return out;
}

TEST(Read, TooManyScansAreRefusedButAFewRepeatsAreNot)
{
    JpegOptions o;
    o.progressive = true;
    o.spectralSelectionOnly = true;
    const std::vector<std::uint8_t> jpeg = sampleJpeg(o);
    // A legal file whose only fault is its number of scans.
    TempDir dir;
    writeFile(dir / "few.jpg", withLastScanRepeated(jpeg, 20));
    writeFile(dir / "many.jpg", withLastScanRepeated(jpeg, 600));
    Handle few(ReadFileIntoDIB((dir / "few.jpg").c_str()));
    Handle many(ReadFileIntoDIB((dir / "many.jpg").c_str()));
    EXPECT_NE(few.get(), 0u);
    EXPECT_EQ(many.get(), 0u);
}

// Each scan costs a pass over the blocks of its components, whatever its band and however few
// bytes it holds: scans that visit the blocks far more often than their data pays for are refused
// before decoding, whether a hundred repeats of a whole band or two hundred bands a coefficient wide
// of successive approximation; the scans of a progressive photo, and those of a flat photo refined
// ten times over its whole band, are read. Comment segments pay for nothing.
TEST(Read, ScansMustBePaidForByTheirData)
{
    const RgbImage flatGrey = flat(1024, 1024, 128, 128, 128);
    JpegOptions grey;
    grey.colour = ColourModel::Gray;
    grey.progressive = true;
    JpegOptions twoScans = grey;
    twoScans.spectralSelectionOnly = true;
    // Each coefficient of the band first at 2^-al, then refined a bit at a time.
    const auto approximated = [](std::vector<int> components, int ss, int se, int al) {
        std::vector<Scan> scans = {{components, ss, se, 0, al}};
        for (int a = al; a > 0; --a)
            scans.push_back({components, ss, se, a, a - 1});
        return scans;
    };
    JpegOptions narrow = grey;
    narrow.scans = {{{0}, 0, 0, 0, 0}, {{0}, 21, 63, 0, 0}};
    for (int k = 1; k <= 20; ++k)
        for (const Scan &scan : approximated({0}, k, k, 10))
            narrow.scans.push_back(scan);
    JpegOptions refined;
    refined.progressive = true;
    refined.subsampling = Subsampling::S444;
    refined.scans = {{{0, 1, 2}, 0, 0, 0, 0}};
    for (int c = 0; c < 3; ++c)
        for (const Scan &scan : approximated({c}, 1, 63, 10))
            refined.scans.push_back(scan);
    const auto withComments = [](std::vector<std::uint8_t> jpeg) {
        std::vector<std::uint8_t> comment = {0xFF, 0xFE, 0xFF, 0xFF};
        comment.resize(2 + 0xFFFF, 'x');
        for (int i = 0; i < 2; ++i)
            jpeg.insert(jpeg.begin() + 2, comment.begin(), comment.end());
        return jpeg;
    };
    const struct {
        const char *name;
        std::vector<std::uint8_t> jpeg;
        bool read;
    } cases[] = {
        {"a progressive photo", withComments(encodeJpeg(flatGrey, grey)), true},
        // The AC scan again and again: legal, and as cheap in bytes as it is dear to decode.
        {"a hundred repeats of its band", withComments(withLastScanRepeated(encodeJpeg(flatGrey, twoScans), 100)),
         false},
        {"bands a coefficient wide", encodeJpeg(flatGrey, narrow), false},
        {"a flat photo refined over its band", encodeJpeg(flat(1536, 1280, 90, 120, 150), refined), true},
    };
    TempDir dir;
    for (const auto &c : cases) {
        writeFile(dir / "scans.jpg", c.jpeg);
        Handle h(ReadFileIntoDIB((dir / "scans.jpg").c_str()));
        EXPECT_EQ(h.get() != 0, c.read) << c.name;
    }
}

TEST(Read, AFileIsReadTheSameEveryTime)
{
    TempDir dir;
    const auto path = writeJpeg(dir / "a.jpg", gradient(33, 21));
    const auto first = decode(path, dir);
    const auto second = decode(path, dir);
    ASSERT_TRUE(first && second);
    EXPECT_EQ(first->bgr, second->bgr);
}

}  // namespace
