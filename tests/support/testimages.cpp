// Making test JPEGs with libjpeg-turbo and reading back the bitmaps the program writes.
#include "tests/support/testimages.h"

#include "common/bmp_layout.h"
#include "metadata/carrier.h"

#include <algorithm>
#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <stdexcept>
#include <string>
#include <system_error>

#include <jpeglib.h>
#include <lcms2.h>
#include <unistd.h>

namespace testimages {

std::vector<std::uint8_t> wideGamutProfile()
{
    const cmsCIExyY white = {0.3127, 0.3290, 1.0};
    const cmsCIExyYTRIPLE primaries = {{0.64, 0.33, 1.0}, {0.21, 0.71, 1.0}, {0.15, 0.06, 1.0}};
    cmsToneCurve *gamma = cmsBuildGamma(nullptr, 2.2);
    cmsToneCurve *curves[3] = {gamma, gamma, gamma};
    cmsHPROFILE profile = cmsCreateRGBProfile(&white, &primaries, curves);
    cmsFreeToneCurve(gamma);
    cmsUInt32Number size = 0;
    cmsSaveProfileToMem(profile, nullptr, &size);
    std::vector<std::uint8_t> bytes(size);
    cmsSaveProfileToMem(profile, bytes.data(), &size);
    cmsCloseProfile(profile);
    return bytes;
}

RgbImage::RgbImage(int w, int h)
    : width(w), height(h), rgb(static_cast<std::size_t>(w) * static_cast<std::size_t>(h) * 3, 0)
{}

RgbImage flat(int width, int height, std::uint8_t r, std::uint8_t g, std::uint8_t b)
{
    RgbImage image(width, height);
    for (std::size_t i = 0; i < image.rgb.size(); i += 3) {
        image.rgb[i] = r;
        image.rgb[i + 1] = g;
        image.rgb[i + 2] = b;
    }
    return image;
}

RgbImage gradient(int width, int height)
{
    RgbImage image(width, height);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            std::uint8_t *p = image.at(x, y);
            p[0] = static_cast<std::uint8_t>(width > 1 ? x * 255 / (width - 1) : 0);
            p[1] = static_cast<std::uint8_t>(height > 1 ? y * 255 / (height - 1) : 0);
            p[2] = 96;
        }
    }
    return image;
}

RgbImage quadrants(int width, int height)
{
    static constexpr std::uint8_t colours[4][3] = {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {255, 255, 255}};
    RgbImage image(width, height);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const auto &c = colours[(y >= height / 2 ? 2 : 0) + (x >= width / 2 ? 1 : 0)];
            std::memcpy(image.at(x, y), c, 3);
        }
    }
    return image;
}

RgbImage stripes(int width, int height)
{
    RgbImage image(width, height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            std::memset(image.at(x, y), x % 2 == 0 ? 0 : 255, 3);
    return image;
}

void rgbToCmyk(const std::uint8_t *rgb, std::uint8_t *cmyk)
{
    const int white = std::max({rgb[0], rgb[1], rgb[2]});
    cmyk[3] = static_cast<std::uint8_t>(255 - white);
    for (int i = 0; i < 3; ++i) {
        // The ink that leaves rgb[i] of the paper that black left: rgb[i] = (255 - ink) * white / 255.
        cmyk[i] = white == 0 ? 0 : static_cast<std::uint8_t>(255 - (rgb[i] * 255 + white / 2) / white);
    }
}

namespace {

// libjpeg's error_exit must not return; it jumps back to encodeJpeg(), where only plain
// values are live, and the message is turned into an exception there.
struct ErrorManager {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
};

extern "C" [[noreturn]] void onEncodeError(j_common_ptr cinfo)
{
    auto *errors = reinterpret_cast<ErrorManager *>(cinfo->err);
    (*cinfo->err->format_message)(cinfo, errors->message);
    std::longjmp(errors->jump, 1);
}

struct Sampling {
    int h[3];
    int v[3];
};

Sampling samplingOf(Subsampling s)
{
    switch (s) {
    case Subsampling::S444: return {{1, 1, 1}, {1, 1, 1}};
    case Subsampling::S422: return {{2, 1, 1}, {1, 1, 1}};
    case Subsampling::S420: return {{2, 1, 1}, {2, 1, 1}};
    case Subsampling::S440: return {{1, 1, 1}, {2, 1, 1}};
    case Subsampling::S411: return {{4, 1, 1}, {1, 1, 1}};
    case Subsampling::Unusual: return {{2, 1, 2}, {2, 2, 1}};
    }
    return {{1, 1, 1}, {1, 1, 1}};
}

}  // namespace

std::vector<std::uint8_t> orientationExif(int orientation, bool bigEndian)
{
    // "Exif\0\0", a TIFF header, and a first directory with one entry: the orientation.
    std::vector<std::uint8_t> b = {'E', 'x', 'i', 'f', 0, 0};
    const auto put16 = [&](unsigned v) {
        if (bigEndian)
            b.insert(b.end(), {static_cast<std::uint8_t>(v >> 8), static_cast<std::uint8_t>(v)});
        else
            b.insert(b.end(), {static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8)});
    };
    const auto put32 = [&](unsigned v) {
        if (bigEndian) {
            put16(v >> 16);
            put16(v & 0xFFFF);
        } else {
            put16(v & 0xFFFF);
            put16(v >> 16);
        }
    };
    b.insert(b.end(),
             bigEndian ? std::initializer_list<std::uint8_t>{'M', 'M'} : std::initializer_list<std::uint8_t>{'I', 'I'});
    put16(42);
    put32(8);       // first directory right after the header
    put16(1);       // one entry
    put16(0x0112);  // orientation
    put16(3);       // SHORT
    put32(1);       // one value
    put16(static_cast<unsigned>(orientation));
    put16(0);  // rest of the value field
    put32(0);  // no next directory
    return b;
}

namespace {

// Everything that can call error_exit, with only plain values live (see ErrorManager).
bool compress(jpeg_compress_struct *cinfo, ErrorManager *errors, const RgbImage *image, const JpegOptions *o,
              const std::vector<std::uint8_t> *exif, unsigned char **out, unsigned long *outSize, jpeg_scan_info *scans,
              std::uint8_t *row)
{
    if (setjmp(errors->jump) != 0)
        return false;
    jpeg_create_compress(cinfo);
    jpeg_mem_dest(cinfo, out, outSize);
    cinfo->image_width = static_cast<JDIMENSION>(image->width);
    cinfo->image_height = static_cast<JDIMENSION>(image->height);
    const bool cmyk =
        o->colour == ColourModel::Cmyk || o->colour == ColourModel::InvertedCmyk || o->colour == ColourModel::Ycck;
    cinfo->input_components = cmyk ? 4 : 3;
    cinfo->in_color_space = cmyk ? JCS_CMYK : JCS_RGB;
    jpeg_set_defaults(cinfo);
    switch (o->colour) {
    case ColourModel::YCbCr: jpeg_set_colorspace(cinfo, JCS_YCbCr); break;
    case ColourModel::Rgb: jpeg_set_colorspace(cinfo, JCS_RGB); break;
    case ColourModel::Gray: jpeg_set_colorspace(cinfo, JCS_GRAYSCALE); break;
    case ColourModel::Cmyk:
        jpeg_set_colorspace(cinfo, JCS_CMYK);
        cinfo->write_Adobe_marker = FALSE;  // no Adobe marker: plain CMYK
        break;
    case ColourModel::InvertedCmyk: jpeg_set_colorspace(cinfo, JCS_CMYK); break;
    case ColourModel::Ycck: jpeg_set_colorspace(cinfo, JCS_YCCK); break;
    }
    jpeg_set_quality(cinfo, o->quality, TRUE);
    if (o->colour == ColourModel::YCbCr || o->colour == ColourModel::Ycck) {
        const Sampling s = samplingOf(o->subsampling);
        for (int c = 0; c < cinfo->num_components; ++c) {
            const int i = c < 3 ? c : 0;  // K is sampled like Y
            cinfo->comp_info[c].h_samp_factor = s.h[i];
            cinfo->comp_info[c].v_samp_factor = s.v[i];
        }
    }
    cinfo->arith_code = o->arithmetic ? TRUE : FALSE;
    cinfo->optimize_coding = o->optimizeHuffman ? TRUE : FALSE;
    cinfo->restart_interval = static_cast<unsigned>(o->restartInterval);
    cinfo->density_unit = static_cast<UINT8>(o->densityUnit);
    cinfo->X_density = static_cast<UINT16>(o->xDensity);
    cinfo->Y_density = static_cast<UINT16>(o->yDensity);
    if (o->progressive && !o->scans.empty()) {
        for (std::size_t i = 0; i < o->scans.size(); ++i) {
            const Scan &scan = o->scans[i];
            scans[i] = jpeg_scan_info{};
            scans[i].comps_in_scan = static_cast<int>(scan.components.size());
            std::copy(scan.components.begin(), scan.components.end(), scans[i].component_index);
            scans[i].Ss = scan.ss;
            scans[i].Se = scan.se;
            scans[i].Ah = scan.ah;
            scans[i].Al = scan.al;
        }
        cinfo->scan_info = scans;
        cinfo->num_scans = static_cast<int>(o->scans.size());
    } else if (o->progressive && o->spectralSelectionOnly) {
        scans[0] = jpeg_scan_info{};
        scans[0].comps_in_scan = cinfo->num_components;
        for (int c = 0; c < cinfo->num_components; ++c)
            scans[0].component_index[c] = c;
        for (int c = 0; c < cinfo->num_components; ++c) {
            scans[c + 1] = jpeg_scan_info{};
            scans[c + 1].comps_in_scan = 1;
            scans[c + 1].component_index[0] = c;
            scans[c + 1].Ss = 1;
            scans[c + 1].Se = 63;
        }
        cinfo->scan_info = scans;
        cinfo->num_scans = cinfo->num_components + 1;
    } else if (o->progressive) {
        jpeg_simple_progression(cinfo);
    } else if (o->nonInterleaved) {
        for (int c = 0; c < cinfo->num_components; ++c) {
            scans[c] = jpeg_scan_info{};
            scans[c].comps_in_scan = 1;
            scans[c].component_index[0] = c;
            scans[c].Ss = 0;
            scans[c].Se = 63;
        }
        cinfo->scan_info = scans;
        cinfo->num_scans = cinfo->num_components;
    }
    jpeg_start_compress(cinfo, TRUE);
    if (!exif->empty())
        jpeg_write_marker(cinfo, JPEG_APP0 + 1, exif->data(), static_cast<unsigned>(exif->size()));
    if (!o->iccProfile.empty())
        jpeg_write_icc_profile(cinfo, o->iccProfile.data(), static_cast<unsigned>(o->iccProfile.size()));
    for (const auto &[marker, payload] : o->segments)
        jpeg_write_marker(cinfo, marker, payload.data(), static_cast<unsigned>(payload.size()));
    const bool inverted = o->colour != ColourModel::Cmyk;
    while (cinfo->next_scanline < cinfo->image_height) {
        const std::uint8_t *src = image->at(0, static_cast<int>(cinfo->next_scanline));
        JSAMPROW rows[1] = {const_cast<JSAMPROW>(src)};
        if (cmyk) {
            for (int x = 0; x < image->width; ++x) {
                rgbToCmyk(src + 3 * x, row + 4 * x);
                if (inverted)
                    for (int i = 0; i < 4; ++i)
                        row[4 * x + i] = static_cast<std::uint8_t>(255 - row[4 * x + i]);
            }
            rows[0] = row;
        }
        jpeg_write_scanlines(cinfo, rows, 1);
    }
    jpeg_finish_compress(cinfo);
    return true;
}

}  // namespace

std::vector<std::uint8_t> encodeJpeg(const RgbImage &image, const JpegOptions &options)
{
    if (image.width <= 0 || image.height <= 0 ||
        image.rgb.size() != static_cast<std::size_t>(image.width) * image.height * 3)
        throw std::runtime_error("encodeJpeg: the image has no pixels or the wrong number of them");
    const std::vector<std::uint8_t> exif = !options.exifPayload.empty() ? options.exifPayload
                                           : options.exifOrientation != 0
                                               ? orientationExif(options.exifOrientation, options.exifBigEndian)
                                               : std::vector<std::uint8_t>{};
    std::vector<std::uint8_t> row(static_cast<std::size_t>(image.width) * 4);
    std::vector<jpeg_scan_info> scans(std::max<std::size_t>(5, options.scans.size()));
    jpeg_compress_struct cinfo{};
    ErrorManager errors{};
    cinfo.err = jpeg_std_error(&errors.pub);
    errors.pub.error_exit = onEncodeError;
    unsigned char *out = nullptr;
    unsigned long outSize = 0;
    const bool ok = compress(&cinfo, &errors, &image, &options, &exif, &out, &outSize, scans.data(), row.data());
    jpeg_destroy_compress(&cinfo);
    std::vector<std::uint8_t> bytes;
    if (ok)
        bytes.assign(out, out + outSize);
    std::free(out);
    if (!ok)
        throw std::runtime_error(std::string("encodeJpeg: libjpeg: ") + errors.message);
    return bytes;
}

void writeFile(const std::filesystem::path &path, const std::vector<std::uint8_t> &bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char *>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out)
        throw std::runtime_error("writeFile: cannot write " + path.string());
}

std::vector<std::uint8_t> readFile(const std::filesystem::path &path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw std::runtime_error("readFile: cannot open " + path.string());
    std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad())
        throw std::runtime_error("readFile: cannot read " + path.string());
    return bytes;
}

std::filesystem::path writeJpeg(const std::filesystem::path &path, const RgbImage &image, const JpegOptions &options)
{
    writeFile(path, encodeJpeg(image, options));
    return path;
}

TempDir::TempDir()
{
    std::string pattern = (std::filesystem::temp_directory_path() / "redim-test-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr)
        throw std::system_error(errno, std::generic_category(), "TempDir: mkdtemp " + pattern);
    path_ = pattern;
}

TempDir::~TempDir()
{
    std::error_code ignored;
    // Tests may have made files read-only; give the owner its rights back before removing.
    std::filesystem::permissions(path_, std::filesystem::perms::owner_all, std::filesystem::perm_options::add, ignored);
    std::filesystem::remove_all(path_, ignored);
}

namespace {

std::uint32_t get32(const std::vector<std::uint8_t> &b, std::size_t at)
{
    return bmp::get32(&b.at(at + 3) - 3);
}

std::uint32_t get16(const std::vector<std::uint8_t> &b, std::size_t at)
{
    return bmp::get16(&b.at(at + 1) - 1);
}

std::optional<Bitmap> refuse(std::string *why, const char *reason)
{
    if (why != nullptr)
        *why = reason;
    return std::nullopt;
}

}  // namespace

std::optional<Bitmap> parseBmp24(const std::vector<std::uint8_t> &file, std::string *why)
{
    using bmp::infoAt;
    namespace info = bmp::info;
    if (file.size() < bmp::headersBytes)
        return refuse(why, "shorter than the two headers");
    if (file[0] != 'B' || file[1] != 'M')
        return refuse(why, "no BM signature");
    const std::uint32_t offset = get32(file, bmp::file::pixelOffset);
    const std::uint32_t infoSize = get32(file, infoAt(info::headerSize));
    if (infoSize < info::bytes || std::uint64_t{bmp::file::bytes} + infoSize > offset)
        return refuse(why, "bad info header size or pixel offset");
    const auto width = static_cast<std::int32_t>(get32(file, infoAt(info::width)));
    const auto height = static_cast<std::int32_t>(get32(file, infoAt(info::height)));
    if (width <= 0 || height == 0 || height == INT32_MIN)
        return refuse(why, "bad dimensions");
    if (get16(file, infoAt(info::planes)) != 1 || get16(file, infoAt(info::bitsPerPixel)) != 24)
        return refuse(why, "not one plane of 24 bits per pixel");
    if (get32(file, infoAt(info::compression)) != bmp::compression::rgb)
        return refuse(why, "compressed");
    Bitmap bmp;
    bmp.width = width;
    bmp.height = height < 0 ? -height : height;
    bmp.bottomUp = height > 0;
    bmp.xPelsPerMeter = static_cast<std::int32_t>(get32(file, infoAt(info::xPixelsPerMetre)));
    bmp.yPelsPerMeter = static_cast<std::int32_t>(get32(file, infoAt(info::yPixelsPerMetre)));
    const std::size_t rowBytes = static_cast<std::size_t>(width) * 3;
    const std::size_t padded = (rowBytes + 3) / 4 * 4;
    const std::uint32_t sizeImage = get32(file, infoAt(info::imageSize));
    if (sizeImage != 0 && sizeImage != padded * bmp.height)
        return refuse(why, "the image size in the header does not match the dimensions");
    const std::size_t pixelsEnd = offset + padded * bmp.height;
    if (get32(file, bmp::file::fileSize) != file.size())
        return refuse(why, "the file size in the header is not the file's");
    if (pixelsEnd > file.size())
        return refuse(why, "the pixel data runs past the end of the file");
    // The blocks after the pixels, from the last one back; each [payload][size][signature].
    // A gain map block comes first, right after the pixels.
    bmp.gainMap = meta::carriedGainMap(file, pixelsEnd);
    const std::size_t blocksStart = bmp.gainMap.empty() ? pixelsEnd : meta::carriedBlocksStart(file, pixelsEnd);
    std::vector<std::pair<std::string, std::vector<std::uint8_t>>> blocks;
    for (std::size_t end = file.size(); end != blocksStart;) {
        const std::size_t rest = end - blocksStart;
        const std::size_t size = rest < 12 ? rest : get32(file, end - 12);
        if (rest < 12 || size > 65533 || size > rest - 12)
            return refuse(why, "the pixel data is followed by something other than metadata blocks");
        blocks.emplace_back(std::string(file.begin() + static_cast<std::ptrdiff_t>(end - 8),
                                        file.begin() + static_cast<std::ptrdiff_t>(end)),
                            std::vector<std::uint8_t>(file.begin() + static_cast<std::ptrdiff_t>(end - 12 - size),
                                                      file.begin() + static_cast<std::ptrdiff_t>(end - 12)));
        end -= 12 + size;
    }
    for (auto block = blocks.rbegin(); block != blocks.rend(); ++block) {
        const bool last = block == blocks.rend() - 1;
        if (block->first == std::string(kExifBlockSignature, 8) && last)
            bmp.exif = block->second;
        else if (block->first == "RedimXmp" && bmp.xmp.empty())
            bmp.xmp = block->second;
        else if (block->first == "RedimIpt" && bmp.iptc.empty())
            bmp.iptc = block->second;
        else if (block->first == "RedimCom")
            bmp.comments.push_back(block->second);
        else
            return refuse(why, "a metadata block after the pixels is unknown, repeated or out of place");
    }
    bmp.bgr.resize(rowBytes * bmp.height);
    for (int y = 0; y < bmp.height; ++y) {
        const int fileRow = bmp.bottomUp ? bmp.height - 1 - y : y;
        const auto src = file.begin() + offset + static_cast<std::ptrdiff_t>(padded) * fileRow;
        std::copy(src, src + static_cast<std::ptrdiff_t>(rowBytes),
                  bmp.bgr.begin() + static_cast<std::ptrdiff_t>(rowBytes) * y);
    }
    return bmp;
}

void appendExifBlock(std::vector<std::uint8_t> &bitmap, const std::vector<std::uint8_t> &payload)
{
    bitmap.insert(bitmap.end(), payload.begin(), payload.end());
    for (int i = 0; i < 4; ++i)
        bitmap.push_back(static_cast<std::uint8_t>(payload.size() >> (8 * i)));
    bitmap.insert(bitmap.end(), std::begin(kExifBlockSignature), std::end(kExifBlockSignature));
}

}  // namespace testimages
