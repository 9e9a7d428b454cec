// JPEG decoding with libjpeg-turbo: error handling, limits, colour and orientation.
#include "imglib/jpeg_reader.h"

#include "common/jpeg_walk.h"
#include "imglib/coefficients.h"
#include "imglib/colour.h"
#include "metadata/carrier.h"
#include "metadata/exif.h"

#include "budget/helpers.h"
#include "common/regular_file.h"

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <span>
#include <vector>

#include <jpeglib.h>
// After jpeglib.h: the numbers of its messages depend on the library version jpeglib.h gives.
#include <jerror.h>

namespace imglib {
namespace {

// ---- Errors --------------------------------------------------------------------------------
//
// libjpeg reports a fatal error by calling error_exit, which must not return.  Throwing a C++
// exception from it would unwind through libjpeg's C frames, which are not built for it; so
// error_exit longjmps back to the one setjmp in runStep().  longjmp is only well defined in C++
// when it skips no destructor, so every step run there is a lambda that calls libjpeg and
// holds nothing but pointers and integers.  A warning is treated as an error too, unless it is
// one of the few below that concern only bytes outside the image data: every other one means
// pixels are missing or guessed (premature end of data, corrupt entropy-coded data, a bad
// Huffman or arithmetic code, lost synchronisation, an inconsistent progression), which libjpeg
// would otherwise patch over with grey.

struct ErrorManager {
    jpeg_error_mgr pub;  // first member: libjpeg sees only this part
    std::jmp_buf jump;
};

// The warnings a file may give and still be read: every viewer shows such files.
constexpr int kHarmlessWarnings[] = {
    JWRN_EXTRANEOUS_DATA,  // stray bytes between segments, which phones and editors leave
    JWRN_JFIF_MAJOR,       // a newer JFIF revision: its header still reads as JFIF 1
    JWRN_BOGUS_ICC,        // a damaged ICC profile marker: ignored, as any unusable profile
};

// A sequential scan's header names its band and successive approximation (Ss, Se, Ah, Al),
// which must be 0, 63, 0 and 0; libjpeg decodes a sequential scan whole whatever they say.  Some
// phones write them all 0: that means nothing, and the pixels are those of the usual header.  Any
// other value says the writer coded something else than a sequential scan.
bool zeroSequentialHeader(j_common_ptr cinfo)
{
    const auto *decompress = reinterpret_cast<j_decompress_ptr>(cinfo);
    return cinfo->is_decompressor && !decompress->progressive_mode && decompress->Ss == 0 && decompress->Se == 0 &&
           decompress->Ah == 0 && decompress->Al == 0;
}

bool isHarmless(j_common_ptr cinfo)
{
    const int warning = cinfo->err->msg_code;
    if (warning == JWRN_NOT_SEQUENTIAL)
        return zeroSequentialHeader(cinfo);
    return std::find(std::begin(kHarmlessWarnings), std::end(kHarmlessWarnings), warning) !=
           std::end(kHarmlessWarnings);
}

extern "C" {

[[noreturn]] void failDecode(j_common_ptr cinfo)
{
    std::longjmp(reinterpret_cast<ErrorManager *>(cinfo->err)->jump, 1);
}

void onMessage(j_common_ptr cinfo, int level)
{
    if (level < 0 && !isHarmless(cinfo))
        failDecode(cinfo);
    // Trace messages (level >= 1) are dropped: the library prints nothing.
}

void dropMessage(j_common_ptr) {}

void checkScanCount(j_common_ptr cinfo)
{
    if (cinfo->is_decompressor && reinterpret_cast<j_decompress_ptr>(cinfo)->input_scan_number > kMaxScans)
        failDecode(cinfo);
}

}  // extern "C"

template <typename Step>
bool runStep(ErrorManager &errors, Step &&step)
{
    if (setjmp(errors.jump) != 0)
        return false;
    step();
    return true;
}

// ---- The open file -------------------------------------------------------------------------

// Files larger than this are not JPEG files of an image the library could hold: the largest
// image is 1 GiB of pixels, and no photo compresses to more than twice its pixels.
constexpr std::uint64_t kMaxFileBytes = std::uint64_t{1} << 31;
static_assert(kMaxFileBytes == 2 * kMaxImageBytes, "a JPEG file may take twice the bytes of the largest image");

// ---- The decoder ---------------------------------------------------------------------------

// The scale to decode at, in eighths: 1, 2, 4 or 8, the ones libjpeg has fast inverse DCTs for.
unsigned validEighths(int eighths)
{
    return eighths <= 1 ? 1u : eighths <= 2 ? 2u : eighths <= 4 ? 4u : 8u;
}

struct Decoder {
    jpeg_decompress_struct cinfo{};
    ErrorManager errors{};
    jpeg_progress_mgr progress{};
    bool created = false;

    Decoder()
    {
        cinfo.err = jpeg_std_error(&errors.pub);
        errors.pub.error_exit = failDecode;
        errors.pub.emit_message = onMessage;
        errors.pub.output_message = dropMessage;
        progress.progress_monitor = checkScanCount;
    }
    ~Decoder()
    {
        if (created)
            jpeg_destroy_decompress(&cinfo);
    }
    Decoder(const Decoder &) = delete;
    Decoder &operator=(const Decoder &) = delete;

    template <typename Step>
    bool run(Step &&step)
    {
        return runStep(errors, std::forward<Step>(step));
    }
};

struct MallocFree {
    void operator()(void *p) const { std::free(p); }
};

static_assert(sizeof(JBLOCK) == common::JpegFrame::kCoefficientBytesPerBlock, "a JBLOCK is 64 coefficients of 2 bytes");

// The frame as libjpeg read it, to size what libjpeg allocates for it; nothing for more
// components than a frame of ours holds, which chooseColour() has refused already.
std::optional<common::JpegFrame> frameOf(const jpeg_decompress_struct &cinfo)
{
    common::JpegFrame frame;
    if (cinfo.num_components > static_cast<int>(frame.components.size()))
        return std::nullopt;
    frame.width = cinfo.image_width;
    frame.height = cinfo.image_height;
    frame.progressive = cinfo.progressive_mode != FALSE;
    frame.count = cinfo.num_components;
    for (int c = 0; c < frame.count; ++c)
        frame.components[c] = {cinfo.comp_info[c].h_samp_factor, cinfo.comp_info[c].v_samp_factor};
    return frame;
}

// A multi-scan file whose coefficient buffer is this many times larger than the file is
// refused when the buffer is large: real photos compress by a factor of 10 to 50, and a tiny
// file must not make us clear gigabytes before it turns out to be truncated.
constexpr std::uint64_t kMaxCoefficientsPerFileByte = 1024;
constexpr std::uint64_t kSmallCoefficientBuffer = 64ull << 20;

std::int32_t pixelsPerMetre(unsigned density, int unit)
{
    if (density == 0)
        return 0;
    switch (unit) {
    case 1: return static_cast<std::int32_t>((density * 10000ull + 127) / 254);  // per inch
    case 2: return static_cast<std::int32_t>(density * 100ull);                  // per cm
    default: return 0;                                                           // aspect ratio only
    }
}

// The metadata segments before the first scan, where a JPEG keeps them: its EXIF, XMP and IPTC
// segments (the first of each), and its comments, as many as the bitmap carries; or its EXIF
// alone, when only the orientation is wanted.
meta::Metadata metadataOf(const JpegFile &file, bool everyKind)
{
    meta::Metadata metadata;
    common::JpegWalk walk;
    walk.onSegment = [&](std::uint8_t code, std::span<const std::uint8_t> payload) {
        const meta::Segment kind = meta::segmentKind(code, payload);
        if (!everyKind && kind != meta::Segment::Exif)
            return;
        if (kind != meta::Segment::Comment || metadata.comments.size() < meta::kMaxCarriedBlocks)
            meta::take(metadata, kind, payload);
    };
    walk.onScan = [&](std::span<const std::uint8_t>) { walk.stop(); };
    walk.advance({file.bytes.data(), file.size});
    return metadata;
}

// ---- The header and the colours: what comes out of the decoder, and what becomes of it -----

// The header: the file's size, colours and markers, before anything large is allocated.
bool readHeader(Decoder &d, const JpegFile &file)
{
    j_decompress_ptr cinfo = &d.cinfo;
    const unsigned char *data = file.bytes.data();
    const auto dataSize = static_cast<unsigned long>(file.size);
    return d.run([&] {
        jpeg_create_decompress(cinfo);
        d.created = true;
        cinfo->progress = &d.progress;
        jpeg_mem_src(cinfo, data, dataSize);
        jpeg_save_markers(cinfo, JPEG_APP0 + 2, 0xFFFF);  // the ICC profile
        jpeg_read_header(cinfo, TRUE);
    });
}

// The pixels the file's colour space decodes to, before any profile; nothing for two
// components or an unknown colour transform.
std::optional<DecodedPixels> decodedPixelsOf(const jpeg_decompress_struct &cinfo)
{
    switch (cinfo.jpeg_color_space) {
    case JCS_GRAYSCALE: return DecodedPixels::Gray;
    case JCS_YCbCr:
    case JCS_RGB: return DecodedPixels::Bgr;
    case JCS_CMYK:
    case JCS_YCCK:
        // Adobe's applications write CMYK with 0 meaning full ink and mark it with their APP14.
        return cinfo.saw_Adobe_marker ? DecodedPixels::InvertedCmyk : DecodedPixels::Cmyk;
    default: return std::nullopt;
    }
}

// What the decoder hands over, and the profile that turns it into sRGB, if any.
struct ColourPlan {
    DecodedPixels decoded = DecodedPixels::Bgr;
    std::unique_ptr<IccTransform> icc;

    // False when the decoder's rows are the image's pixels as they are.
    bool converts() const { return icc != nullptr || decoded != DecodedPixels::Bgr; }
};

// Chooses what the decoder hands over, from the file's colour space and its ICC profile, and
// tells libjpeg.  False when the file's colours cannot be decoded.
bool chooseColour(Decoder &d, ColourPlan &plan)
{
    j_decompress_ptr cinfo = &d.cinfo;
    const std::optional<DecodedPixels> decoded = decodedPixelsOf(*cinfo);
    if (!decoded)
        return false;
    plan.decoded = *decoded;

    JOCTET *iccData = nullptr;
    unsigned int iccSize = 0;
    if (!d.run([&] { jpeg_read_icc_profile(cinfo, &iccData, &iccSize); }))
        return false;
    const std::unique_ptr<JOCTET, MallocFree> iccOwner(iccData);
    plan.icc = IccTransform::create(iccData, iccSize, plan.decoded);
    if (plan.decoded == DecodedPixels::Gray && !plan.icc)
        plan.decoded = DecodedPixels::Bgr;  // libjpeg spreads gray to BGR itself

    switch (plan.decoded) {
    case DecodedPixels::Gray: cinfo->out_color_space = JCS_GRAYSCALE; break;
    case DecodedPixels::Bgr: cinfo->out_color_space = JCS_EXT_BGR; break;
    default: cinfo->out_color_space = JCS_CMYK; break;
    }
    return true;
}

// ---- Limits and size: before any large buffer exists ---------------------------------------

// The EXIF orientation of the file (1 when it has none), after copying its metadata to
// `metadataOut` when asked for.
int takeMetadata(const JpegFile &file, MetadataPayload *metadataOut)
{
    auto metadata = std::make_shared<const meta::Metadata>(metadataOf(file, metadataOut != nullptr));
    const int orientation = meta::orientation(metadata->exif);
    if (metadataOut != nullptr && !metadata->empty())
        *metadataOut = std::move(metadata);
    return orientation;
}

// The full-size image must be one the library may hold, whatever size it is decoded at.  Then
// the listener learns the upright full size (also given in `fullWidth` and `fullHeight`) and
// chooses the size to decode at.  Returns the orientation, or nothing when the image is too
// large.
std::optional<int> chooseSize(j_decompress_ptr cinfo, const JpegFile &file, DecodeListener &listener, int &fullWidth,
                              int &fullHeight, MetadataPayload *metadata)
{
    if (!imageBytes(cinfo->image_width, cinfo->image_height))
        return std::nullopt;
    const int orientation = takeMetadata(file, metadata);
    const bool turns = meta::swapsAxes(orientation);
    fullWidth = static_cast<int>(turns ? cinfo->image_height : cinfo->image_width);
    fullHeight = static_cast<int>(turns ? cinfo->image_width : cinfo->image_height);
    cinfo->scale_num = validEighths(listener.eighths(fullWidth, fullHeight));
    cinfo->scale_denom = 8;
    return orientation;
}

// ---- The scans' work against their data -------------------------------------------------------
//
// Each scan of a multi-scan file makes a pass over every block of the components it codes, whatever
// its band and however little data it holds: libjpeg-turbo passes a block of an end-of-band run in
// about 4 ns, refines one of a band a coefficient wide in 14 ns and one of a whole band in 26 ns.
// Five hundred nearly empty scans over a large image made a file of a megabyte cost 48 s.  So the
// blocks the scans visit, added up, may come to kVisitsPerBlock times the image's blocks, plus
// kVisitsPerDataByte for each byte of their entropy-coded data (comment and APPn segments bring
// none), and kAlwaysAffordable in any case, which costs milliseconds.  Progressive photos visit
// theirs 3 to 6 times (libjpeg's progression, which cjpeg, ImageMagick and libvips write in 10
// scans, 4.7 to 5.3 times in colour and 6 times in grey); jpegtran's scan scripts, of up to 100
// scans, up to 65 times, with a byte of data for each block or more.
constexpr std::uint64_t kVisitsPerBlock = 16;
constexpr std::uint64_t kVisitsPerDataByte = 32;
constexpr std::uint64_t kAlwaysAffordable = std::uint64_t{1} << 20;

std::uint64_t blocksOf(const jpeg_component_info &component)
{
    return std::uint64_t{component.width_in_blocks} * component.height_in_blocks;
}

// Blocks a scan visits, from the payload of its SOS segment: the number of components, then a
// selector and tables each.
std::uint64_t visitedBy(const jpeg_decompress_struct &cinfo, std::span<const std::uint8_t> sos)
{
    const std::size_t components = sos.empty() ? 0 : sos[0];
    if (sos.size() < 1 + 2 * components)
        return 0;  // libjpeg refuses such a scan before decoding it
    std::uint64_t blocks = 0;
    for (std::size_t i = 0; i < components; ++i) {
        for (int c = 0; c < cinfo.num_components; ++c)
            blocks += cinfo.comp_info[c].component_id == sos[1 + 2 * i] ? blocksOf(cinfo.comp_info[c]) : 0;
    }
    return blocks;
}

// True when the scans of a multi-scan file visit no more blocks than their data pays for.
bool scansPaidFor(const jpeg_decompress_struct &cinfo, const JpegFile &file)
{
    std::uint64_t visited = 0;
    common::JpegWalk walk;
    walk.onScan = [&](std::span<const std::uint8_t> sos) { visited += visitedBy(cinfo, sos); };
    walk.advance({file.bytes.data(), file.size});
    std::uint64_t blocks = 0;
    for (int c = 0; c < cinfo.num_components; ++c)
        blocks += blocksOf(cinfo.comp_info[c]);
    return visited <= std::max(kAlwaysAffordable, kVisitsPerBlock * blocks + kVisitsPerDataByte * walk.dataBytes());
}

// A multi-scan file's coefficient buffer must fit the library's limit, and be in proportion
// to the file when it is large, and its scans must be paid for by their data; libjpeg may then
// allocate the buffer.
bool limitCoefficients(Decoder &d, const JpegFile &file)
{
    j_decompress_ptr cinfo = &d.cinfo;
    boolean multiScan = FALSE;
    if (!d.run([&] { multiScan = jpeg_has_multiple_scans(cinfo); }))
        return false;
    if (!multiScan)
        return true;
    const std::optional<common::JpegFrame> frame = frameOf(*cinfo);
    if (!frame)
        return false;
    // Multi-scan files are decoded through a buffer of every coefficient, cleared up front.
    const std::uint64_t coefficients = frame->coefficientBytes();
    if (coefficients > kMaxImageBytes)
        return false;
    if (coefficients > kSmallCoefficientBuffer && coefficients / kMaxCoefficientsPerFileByte > file.size)
        return false;
    return scansPaidFor(*cinfo, file);
}

// Starts the decode; false unless libjpeg decodes at the size asked for (it rounds a reduced
// size up).
bool startDecode(Decoder &d)
{
    j_decompress_ptr cinfo = &d.cinfo;
    if (!d.run([&] { jpeg_start_decompress(cinfo); }))
        return false;
    const auto reduced = [&](JDIMENSION size) { return (size * cinfo->scale_num + 7) / 8; };
    return cinfo->output_width == reduced(cinfo->image_width) && cinfo->output_height == reduced(cinfo->image_height);
}

// The upright image the decoded rows go into, with the file's density.
std::shared_ptr<Image> makeImage(const jpeg_decompress_struct &cinfo, bool turns)
{
    const int width = static_cast<int>(cinfo.output_width);
    const int height = static_cast<int>(cinfo.output_height);
    auto image = std::make_shared<Image>(turns ? height : width, turns ? width : height);
    const int unit = cinfo.saw_JFIF_marker ? cinfo.density_unit : 0;
    image->density.xPerMetre = pixelsPerMetre(cinfo.X_density, unit);
    image->density.yPerMetre = pixelsPerMetre(cinfo.Y_density, unit);
    if (turns)
        std::swap(image->density.xPerMetre, image->density.yPerMetre);
    return image;
}

// ---- The bands ------------------------------------------------------------------------------

// Rows are decoded, converted and turned this many at a time.
constexpr int kBand = 16;
// The most rows placeRows() takes at once.
constexpr int kMaxBand = 64;
static_assert(kBand <= kMaxBand, "placeRows() must take a whole band");

// Copies `rows` upright-converted BGR rows, source rows first..first+rows-1, into their
// place in the upright image.  Each source row walks its target by `step` bytes per pixel:
// along a row for orientations 1 to 4, down or up a column for 5 to 8.
void placeRows(const std::uint8_t *band, int rows, int first, int width, int height, int orientation, Image &out)
{
    const std::size_t srcStride = static_cast<std::size_t>(width) * 3;
    const auto target = [&](int y, std::ptrdiff_t &step) -> std::uint8_t * {
        const std::ptrdiff_t across = 3;
        const auto down = static_cast<std::ptrdiff_t>(out.stride());
        switch (orientation) {
        case 2: step = -across; return out.row(y) + (width - 1) * 3;
        case 3: step = -across; return out.row(height - 1 - y) + (width - 1) * 3;
        case 4: step = across; return out.row(height - 1 - y);
        case 5: step = down; return out.row(0) + y * 3;
        case 6: step = down; return out.row(0) + (height - 1 - y) * 3;
        case 7: step = -down; return out.row(width - 1) + (height - 1 - y) * 3;
        case 8: step = -down; return out.row(width - 1) + y * 3;
        default: step = across; return out.row(y);
        }
    };
    std::uint8_t *dst[kMaxBand];
    std::ptrdiff_t step = 3;
    for (int r = 0; r < rows && r < kMaxBand; ++r)
        dst[r] = target(first + r, step);
    // Column by column across the band, so that for the quarter turns each target row gets
    // `rows` neighbouring pixels at a time instead of one.
    for (int x = 0; x < width; ++x) {
        for (int r = 0; r < rows; ++r) {
            const std::uint8_t *s = band + r * srcStride + static_cast<std::size_t>(x) * 3;
            std::uint8_t *d = dst[r] + x * step;
            d[0] = s[0];
            d[1] = s[1];
            d[2] = s[2];
        }
    }
}

// Rows go straight into the image when nothing is left to do to them.  Otherwise a band of
// rows is decoded into a slot, converted to BGR and put in place.  For large images a second
// thread takes every band it is free for while this one decodes the next into the other slot;
// the bands it is busy for are finished here.  Both threads keep working whichever is slower,
// decoding or converting.
class BandPipeline {
public:
    BandPipeline(const ColourPlan &colour, int orientation, int width, int height, Image &image)
        : colour_(colour), orientation_(orientation), width_(width), height_(height), image_(image),
          direct_(!colour.converts() && orientation == 1),
          pipelined_(!direct_ &&
                     static_cast<std::uint64_t>(width) * static_cast<std::uint64_t>(height) >= kPipelineMinPixels),
          width3_(static_cast<std::size_t>(width) * 3),
          decodedStride_(static_cast<std::size_t>(width) * bytesPerPixel(colour.decoded))
    {
        const int slots = pipelined_ ? 2 : 1;
        decodedBands_.resize(colour.converts() ? decodedStride_ * kBand * slots : 0);
        bgrBands_.resize(orientation != 1 ? width3_ * kBand * slots : 0);
    }

    // True when rows are decoded straight into the image.
    bool direct() const { return direct_; }
    // True when a second thread is worth having for the bands.
    bool pipelined() const { return pipelined_; }

    // Where libjpeg puts row r of the band of image rows from `first` on, held in `slot`.
    std::uint8_t *target(int slot, int first, int r)
    {
        return direct_ ? image_.row(first + r) : colour_.converts() ? decodedRow(slot, r) : bgrRow(slot, r);
    }

    // Converts the band in `slot`, image rows first..first+rows-1, and puts it in place.
    void finish(int slot, int first, int rows)
    {
        if (colour_.converts()) {
            for (int r = 0; r < rows; ++r) {
                std::uint8_t *bgr = orientation_ != 1 ? bgrRow(slot, r) : image_.row(first + r);
                if (colour_.icc)
                    colour_.icc->apply(decodedRow(slot, r), bgr, static_cast<std::size_t>(width_));
                else
                    cmykToBgr(decodedRow(slot, r), bgr, static_cast<std::size_t>(width_),
                              colour_.decoded == DecodedPixels::InvertedCmyk);
            }
        }
        if (orientation_ != 1)
            placeRows(bgrRow(slot, 0), rows, first, width_, height_, orientation_, image_);
    }

private:
    // Large images only: below this many pixels a second thread costs more than it saves.
    static constexpr std::uint64_t kPipelineMinPixels = 1u << 19;

    std::uint8_t *decodedRow(int slot, int r)
    {
        return decodedBands_.data() + (static_cast<std::size_t>(slot) * kBand + r) * decodedStride_;
    }
    std::uint8_t *bgrRow(int slot, int r)
    {
        return bgrBands_.data() + (static_cast<std::size_t>(slot) * kBand + r) * width3_;
    }

    const ColourPlan &colour_;
    const int orientation_;
    const int width_;  // of the decoded rows, before they are turned
    const int height_;
    Image &image_;
    const bool direct_;
    const bool pipelined_;
    const std::size_t width3_;
    const std::size_t decodedStride_;
    std::vector<std::uint8_t> decodedBands_;  // kBand rows a slot, as the decoder hands them over
    std::vector<std::uint8_t> bgrBands_;      // kBand rows a slot, converted but not yet turned
};

// Reads up to `count` rows; plain pointers only, as runStep() requires.
JDIMENSION readRows(j_decompress_ptr cinfo, JSAMPROW *rows, JDIMENSION count)
{
    JDIMENSION done = 0;
    while (done < count && cinfo->output_scanline < cinfo->output_height)
        done += jpeg_read_scanlines(cinfo, rows + done, count - done);
    return done;
}

// Decodes every row, band by band, and finishes the bands; false if the decoder fails or
// gives fewer rows than the image has.  The listener hears of the image first, then of rows
// decoded straight into it, which are final at once.
bool readBands(Decoder &d, BandPipeline &bands, const std::shared_ptr<Image> &image, DecodeListener &listener)
{
    j_decompress_ptr cinfo = &d.cinfo;
    const int height = static_cast<int>(cinfo->output_height);
    // A thread of the pool's finishes every band it is free for (budget/helpers.h). Declared after
    // the bands it finishes, so it is gone before they are.
    budget::Helper helper = bands.pipelined() ? budget::Helper::hire() : budget::Helper();
    listener.started(image);

    JSAMPROW rows[kBand];
    for (int y = 0, slot = 0; y < height;) {
        const int want = std::min(kBand, height - y);
        for (int r = 0; r < want; ++r)
            rows[r] = bands.target(slot, y, r);
        JDIMENSION got = 0;
        if (!d.run([&] { got = readRows(cinfo, rows, static_cast<JDIMENSION>(want)); }))
            return false;
        if (got != static_cast<JDIMENSION>(want))
            return false;
        // The helper is free only once it has finished the other slot, which is then free too.
        if (helper.offer([&bands, slot, y, want] { bands.finish(slot, y, want); }))
            slot = 1 - slot;
        else if (!bands.direct())
            bands.finish(slot, y, want);
        y += want;
        if (bands.direct() && y < height)
            listener.rowsDone(y);
    }
    helper.wait();
    return true;
}

// A file's bytes are read into a block of its size, up to this much at first: what follows the
// image's end is not read, and the block grows only as far as the image goes.
constexpr std::size_t kFirstBuffer = std::size_t{64} << 20;

// Reads the image at the start of `fd`, a file of `size` bytes, into `bytes` (common::readJpegImage
// says how far): the size of the image, or nothing when the file holds no whole image.
std::optional<std::size_t> readJpegImage(int fd, std::size_t size, budget::Buffer &bytes)
{
    std::size_t asked = 0;  // the most of the file the block holds so far
    return common::readJpegImage(fd, size, [&](std::size_t wanted) {
        if (wanted > bytes.size()) {
            budget::Buffer larger(std::min(size, std::max({wanted, 2 * bytes.size(), kFirstBuffer})));
            if (asked > 0)
                std::memcpy(larger.data(), bytes.data(), asked);
            bytes = std::move(larger);
        }
        asked = wanted;
        return std::span<std::uint8_t>(bytes.data(), bytes.size());
    });
}

// Reads the rows of a decode started at full size, as libjpeg gives them, into `pixels`.
bool readAllRows(Decoder &d, std::uint8_t *pixels, std::size_t stride)
{
    j_decompress_ptr cinfo = &d.cinfo;
    const auto height = static_cast<JDIMENSION>(cinfo->output_height);
    JSAMPROW rows[kBand];
    for (JDIMENSION y = 0; y < height;) {
        const JDIMENSION want = std::min<JDIMENSION>(kBand, height - y);
        for (JDIMENSION r = 0; r < want; ++r)
            rows[r] = pixels + (y + r) * stride;
        JDIMENSION got = 0;
        if (!d.run([&] { got = readRows(cinfo, rows, want); }) || got != want)
            return false;
        y += want;
    }
    return d.run([&] { jpeg_finish_decompress(cinfo); });
}

}  // namespace

std::optional<DecodedGainMap> decodeGainMap(const JpegFile &file, std::uint64_t mostWidth, std::uint64_t mostHeight)
{
    CoefficientBuffers coefficients;  // outlives the decoder, as in decodeJpeg()
    Decoder d;
    j_decompress_ptr cinfo = &d.cinfo;
    if (!readHeader(d, file) || cinfo->data_precision != 8)
        return std::nullopt;
    DecodedGainMap map;
    // Its values are codes, not colours: no profile applies, and three components come out as
    // their JPEG colour model gives them back.
    switch (cinfo->jpeg_color_space) {
    case JCS_GRAYSCALE:
        cinfo->out_color_space = JCS_GRAYSCALE;
        map.channels = 1;
        break;
    case JCS_YCbCr:
    case JCS_RGB:
        cinfo->out_color_space = JCS_RGB;
        map.channels = 3;
        break;
    default: return std::nullopt;
    }
    if (cinfo->image_width > mostWidth || cinfo->image_height > mostHeight ||
        !imageBytes(cinfo->image_width, cinfo->image_height))
        return std::nullopt;
    JOCTET *iccData = nullptr;
    unsigned int iccSize = 0;
    if (!d.run([&] { jpeg_read_icc_profile(cinfo, &iccData, &iccSize); }))
        return std::nullopt;
    const std::unique_ptr<JOCTET, MallocFree> iccOwner(iccData);
    map.icc.assign(iccData, iccData + (iccData != nullptr ? iccSize : 0));
    coefficients.serve(*cinfo);
    cinfo->scale_num = 8;
    cinfo->scale_denom = 8;
    if (!limitCoefficients(d, file) || !startDecode(d))
        return std::nullopt;
    map.width = cinfo->output_width;
    map.height = cinfo->output_height;
    const std::size_t stride = std::size_t{map.width} * map.channels;
    map.pixels.resize(stride * map.height);
    if (!readAllRows(d, map.pixels.data(), stride))
        return std::nullopt;
    return map;
}

bool convertsColours(const JpegFile &file)
{
    Decoder d;
    ColourPlan plan;
    return readHeader(d, file) && chooseColour(d, plan) && plan.icc != nullptr;
}

// Opens a regular file and reads its image; folders, devices and pipes are refused before
// anything is read from them (a pipe with no writer would block the read for ever).
std::shared_ptr<const JpegFile> loadJpegFile(const char *path)
{
    const common::RegularFile opened = common::openRegularFile(path, kMaxFileBytes);
    if (!opened || opened.size() == 0)
        return nullptr;
    auto file = std::make_shared<JpegFile>();
    const std::optional<std::size_t> size =
        readJpegImage(opened.fd.get(), static_cast<std::size_t>(opened.size()), file->bytes);
    if (!size)
        return nullptr;
    file->size = *size;
    file->identity = common::identityOf(opened.status);
    return file;
}

std::shared_ptr<Image> decodeJpeg(const JpegFile &file, DecodeListener &listener, int &fullWidth, int &fullHeight,
                                  MetadataPayload *metadata)
{
    if (file.size == 0)
        return nullptr;
    CoefficientBuffers coefficients;  // outlives the decoder, which reaches them until it is destroyed
    Decoder d;
    j_decompress_ptr cinfo = &d.cinfo;
    ColourPlan colour;
    if (!readHeader(d, file) || !chooseColour(d, colour))
        return nullptr;
    coefficients.serve(*cinfo);
    const std::optional<int> orientation = chooseSize(cinfo, file, listener, fullWidth, fullHeight, metadata);
    if (!orientation || !limitCoefficients(d, file) || !startDecode(d))
        return nullptr;

    auto image = makeImage(*cinfo, meta::swapsAxes(*orientation));
    BandPipeline bands(colour, *orientation, static_cast<int>(cinfo->output_width),
                       static_cast<int>(cinfo->output_height), *image);
    if (!readBands(d, bands, image, listener))
        return nullptr;
    if (!d.run([&] { jpeg_finish_decompress(cinfo); }))
        return nullptr;
    listener.rowsDone(image->height());
    return image;
}

}  // namespace imglib
