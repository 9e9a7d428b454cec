// JPEG encoder on libjpeg-turbo, with an error manager that returns instead of exiting.
#include "convertimg/jpeg_writer.h"

#include "convertimg/jpeg_settings.h"
#include "metadata/exif.h"

#include <algorithm>
#include <cmath>
#include <csetjmp>
#include <cstdio>
#include <vector>

#include <jpeglib.h>
// After jpeglib.h: the numbers of its messages depend on the library version jpeglib.h gives.
#include <jerror.h>

namespace convertimg {

namespace {

// After jpeg_set_defaults, which chose YCbCr with 4:2:0 chroma and the standard Huffman tables.
void applySettings(jpeg_compress_struct* cinfo, const JpegSettings& settings)
{
    jpeg_set_quality(cinfo, settings.quality, TRUE);
    if (settings.fullChroma) {
        cinfo->comp_info[0].h_samp_factor = 1;
        cinfo->comp_info[0].v_samp_factor = 1;
    }
    cinfo->optimize_coding = settings.fittedHuffmanTables ? TRUE : FALSE;
}

// libjpeg reports a fatal error through error_exit, which must not return: we jump back to
// compress(), the only function that calls setjmp.
struct ErrorManager {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
};

[[noreturn]] void onFatalError(j_common_ptr cinfo)
{
    auto* err = reinterpret_cast<ErrorManager*>(cinfo->err);
    (*cinfo->err->format_message)(cinfo, err->message);
    std::longjmp(err->jump, 1);
}

// Warnings are not printed: the converter reports only its own one-line messages.
void onMessage(j_common_ptr, int) {}

// Destination growing a malloc'd buffer that we own, so nothing leaks when compression fails
// half-way (libjpeg's own memory destination loses its buffer in that case).
struct MemoryDestination {
    jpeg_destination_mgr pub;
    unsigned char* buffer;
    std::size_t capacity;
    std::size_t size; // valid once compression finished
};

void initDestination(j_compress_ptr) {}

boolean growDestination(j_compress_ptr cinfo)
{
    auto* dest = reinterpret_cast<MemoryDestination*>(cinfo->dest);
    const std::size_t bigger = dest->capacity * 2;
    auto* grown = static_cast<unsigned char*>(std::realloc(dest->buffer, bigger));
    if (grown == nullptr)
        ERREXIT1(cinfo, JERR_OUT_OF_MEMORY, 0);
    dest->pub.next_output_byte = grown + dest->capacity;
    dest->pub.free_in_buffer = bigger - dest->capacity;
    dest->buffer = grown;
    dest->capacity = bigger;
    return TRUE;
}

void termDestination(j_compress_ptr cinfo)
{
    auto* dest = reinterpret_cast<MemoryDestination*>(cinfo->dest);
    dest->size = dest->capacity - dest->pub.free_in_buffer;
}

// A large image is written in one pass, without the whole-image coefficient buffer: applied last,
// over whatever the other settings chose.
void streamLargeImage(jpeg_compress_struct* cinfo)
{
    const std::uint64_t pixels = std::uint64_t{cinfo->image_width} * cinfo->image_height;
    if (pixels <= streamedFromPixels)
        return;
    cinfo->optimize_coding = FALSE;
    cinfo->scan_info = nullptr; // one sequential scan
    cinfo->num_scans = 0;
}

void writeSegment(jpeg_compress_struct* cinfo, int marker, std::span<const std::uint8_t> payload)
{
    if (!payload.empty() && payload.size() <= meta::kMaxPayload)
        jpeg_write_marker(cinfo, marker, payload.data(), static_cast<unsigned>(payload.size()));
}

void writeMetadata(jpeg_compress_struct* cinfo, const meta::Metadata& metadata)
{
    writeSegment(cinfo, JPEG_APP0 + 1, metadata.exif);
    writeSegment(cinfo, JPEG_APP0 + 1, metadata.xmp);
    writeSegment(cinfo, JPEG_APP0 + 13, metadata.iptc);
    for (const std::vector<std::uint8_t>& comment : metadata.comments)
        writeSegment(cinfo, JPEG_COM, comment);
}

// A bitmap's picture, with its resolution, its metadata and the segments that follow them.
struct PhotoSource {
    const Bitmap* bitmap;
    const JpegSettings* settings;
    const meta::Metadata* metadata;
    std::span<const JpegSegment> extra;

    std::size_t rawBytes() const
    {
        return static_cast<std::size_t>(bitmap->width) * static_cast<std::size_t>(bitmap->height) * 3;
    }
    // Before jpeg_set_defaults, which goes by the input's colour space.
    void describe(jpeg_compress_struct* cinfo) const
    {
        cinfo->image_width = static_cast<JDIMENSION>(bitmap->width);
        cinfo->image_height = static_cast<JDIMENSION>(bitmap->height);
        const bool bgrx = bitmap->layout == PixelLayout::Bgrx;
        cinfo->input_components = bgrx ? 4 : 3;
        cinfo->in_color_space = bgrx ? JCS_EXT_BGRX : JCS_EXT_BGR;
    }
    void configure(jpeg_compress_struct* cinfo) const
    {
        applySettings(cinfo, *settings);
        const int xDpi = dotsPerInch(bitmap->xPixelsPerMetre);
        const int yDpi = dotsPerInch(bitmap->yPixelsPerMetre);
        if (xDpi > 0 || yDpi > 0) {
            cinfo->density_unit = 1; // dots per inch
            cinfo->X_density = static_cast<UINT16>(xDpi > 0 ? xDpi : yDpi);
            cinfo->Y_density = static_cast<UINT16>(yDpi > 0 ? yDpi : xDpi);
        }
    }
    void writeMarkers(jpeg_compress_struct* cinfo) const
    {
        writeMetadata(cinfo, *metadata);
        for (const JpegSegment& segment : extra)
            writeSegment(cinfo, segment.marker, segment.payload);
    }
    const std::uint8_t* row(int y) const { return bitmap->row(y); }
};

// A gain map's pixels and the segments of its own JPEG.
struct GainMapSource {
    const meta::GainMap* map;
    int quality;

    std::size_t rawBytes() const { return map->pixels.size(); }
    void describe(jpeg_compress_struct* cinfo) const
    {
        cinfo->image_width = static_cast<JDIMENSION>(map->width);
        cinfo->image_height = static_cast<JDIMENSION>(map->height);
        cinfo->input_components = map->channels;
        cinfo->in_color_space = map->channels == 1 ? JCS_GRAYSCALE : JCS_RGB;
    }
    void configure(jpeg_compress_struct* cinfo) const
    {
        applySettings(cinfo, {.quality = quality, .fullChroma = true, .fittedHuffmanTables = true});
        cinfo->write_JFIF_header = FALSE; // the map's own segments come first
    }
    void writeMarkers(jpeg_compress_struct* cinfo) const
    {
        writeSegment(cinfo, JPEG_APP0 + 1, map->xmp);
        writeSegment(cinfo, JPEG_APP0 + 2, map->iso);
        if (!map->icc.empty())
            jpeg_write_icc_profile(cinfo, map->icc.data(), static_cast<unsigned>(map->icc.size()));
    }
    const std::uint8_t* row(int y) const
    {
        return map->pixels.data() + static_cast<std::size_t>(y) * map->width * map->channels;
    }
};

// Runs the whole compression. Only trivially destructible objects live in this frame, so the
// longjmp of a libjpeg error skips no destructor. Returns false with err->message filled in.
template <class Source>
bool compress(jpeg_compress_struct* cinfo, ErrorManager* err, MemoryDestination* dest, const Source* source)
{
    if (setjmp(err->jump) != 0) {
        jpeg_destroy_compress(cinfo);
        return false;
    }
    jpeg_create_compress(cinfo);
    cinfo->dest = &dest->pub;
    source->describe(cinfo);
    jpeg_set_defaults(cinfo);
    source->configure(cinfo);
    streamLargeImage(cinfo);
    jpeg_start_compress(cinfo, TRUE);
    source->writeMarkers(cinfo);

    // Rows go to libjpeg straight from the source, in batches; libjpeg only reads them.
    constexpr int batch = 16;
    JSAMPROW rows[batch];
    const int height = static_cast<int>(cinfo->image_height);
    while (cinfo->next_scanline < cinfo->image_height) {
        const int first = static_cast<int>(cinfo->next_scanline);
        const int count = std::min(batch, height - first);
        for (int i = 0; i < count; ++i)
            rows[i] = const_cast<JSAMPROW>(source->row(first + i));
        jpeg_write_scanlines(cinfo, rows, static_cast<JDIMENSION>(count));
    }
    jpeg_finish_compress(cinfo);
    jpeg_destroy_compress(cinfo);
    return true;
}

} // namespace

std::uint64_t encoderBytes(int width, int height)
{
    const std::uint64_t pixels = static_cast<std::uint64_t>(width) * static_cast<std::uint64_t>(height);
    // Three components of one 128-byte block per 64 pixels, MCU rounding aside.
    const std::uint64_t coefficients = pixels <= streamedFromPixels ? pixels * 3 * 2 : 0;
    return pixels * 3 / 10 + coefficients;
}

int dotsPerInch(std::int32_t pixelsPerMetre)
{
    if (pixelsPerMetre <= 0)
        return 0;
    const long dpi = std::lround(pixelsPerMetre * 0.0254);
    return dpi >= 1 && dpi <= 65535 ? static_cast<int>(dpi) : 0;
}

template <class Source>
JpegData compressed(const Source& source)
{
    JpegData result;
    ErrorManager err;
    jpeg_compress_struct cinfo{};
    cinfo.err = jpeg_std_error(&err.pub);
    err.pub.error_exit = onFatalError;
    err.pub.emit_message = onMessage;
    err.message[0] = '\0';

    // A first guess of a tenth of the raw size fits most photos without growing.
    MemoryDestination dest{};
    dest.capacity = std::max<std::size_t>(source.rawBytes() / 10, 16384);
    dest.buffer = static_cast<unsigned char*>(std::malloc(dest.capacity));
    if (dest.buffer == nullptr) {
        result.error_ = "not enough memory for the JPEG";
        return result;
    }
    dest.pub.init_destination = initDestination;
    dest.pub.empty_output_buffer = growDestination;
    dest.pub.term_destination = termDestination;
    dest.pub.next_output_byte = dest.buffer;
    dest.pub.free_in_buffer = dest.capacity;

    if (!compress(&cinfo, &err, &dest, &source)) {
        std::free(dest.buffer);
        result.error_ = std::string("JPEG encoder: ") + err.message;
        return result;
    }
    result.data_.reset(dest.buffer);
    result.size_ = dest.size;
    return result;
}

JpegData encodeJpeg(const Bitmap& bitmap, const meta::Metadata& metadata)
{
    return encodeJpeg(bitmap, settingsFor(bitmap), metadata, {});
}

JpegData encodeJpeg(const Bitmap& bitmap, const JpegSettings& settings, const meta::Metadata& metadata,
                    std::span<const JpegSegment> extra)
{
    return compressed(PhotoSource{&bitmap, &settings, &metadata, extra});
}

JpegData encodeGainMap(const meta::GainMap& map, int quality)
{
    return compressed(GainMapSource{&map, quality});
}

} // namespace convertimg
