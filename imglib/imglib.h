/*
 * imglib.h: the image library of Redim Jpeg.
 *
 * The library reads JPEG files into images held in memory, scales them and writes them as
 * Windows bitmap files.  The program knows an image only by its handle: a non-zero 32-bit value
 * naming one image held by the library.  0 never names an image.
 *
 * Images are 8-bit BGR, upright (the EXIF orientation of the file is applied when it is read)
 * and in sRGB (an embedded colour profile is applied when it is read), so an image carries no
 * orientation or colour profile of its own.  It keeps the pixel density of the JPEG file, which
 * ends up in the bitmap, and the file's metadata (EXIF, XMP, IPTC, comments) and HDR gain map,
 * which end up after the bitmap's pixels, made to describe the image (see #WriteDIBToFile).
 *
 * Every function reports failure by returning 0.  None of them prints, throws, aborts or ends
 * the process, whatever the input.  All of them may be called from several threads at once;
 * a handle is not reused for a long time after its image has been released (the counter behind
 * it must wrap around 2^32 first), so a stale handle fails cleanly instead of reaching another
 * image.
 *
 * Threads and memory.  A call computes on the caller's thread, and on a helper thread of the
 * library's when the calls in progress and the helpers at work leave one of the cores the
 * process may run on (its CPU affinity) free: a program that calls from one thread per core gets
 * no helper, a lone call gets one or two.  Helper threads are kept between calls and end after a
 * second without work.  The library's large blocks (pixels, file bytes, the coefficients of
 * progressive files) are kept when released, for the next images, and handed back to the system
 * a second after the library was last busy; what it keeps never makes it hold more than it held
 * at its busiest.  Results do not depend on any of this.
 *
 * Paths are zero-terminated 8-bit strings (UTF-8 on Linux) that the library reads and never
 * writes into.  They are passed as they are to the operating system.
 */

#ifndef IMGLIB_H
#define IMGLIB_H

#include <stdint.h>

#if defined(__GNUC__)
#define IMGLIB_API __attribute__((visibility("default")))
#else
#define IMGLIB_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/**
 * Largest image the library holds, in bytes of BGR pixels (width * height * 3): 1 GiB.
 * Reading or scaling to anything larger fails.
 */
#define IMGLIB_MAX_IMAGE_BYTES (1024u * 1024u * 1024u)

/**
 * Largest scale, in percent, that the library prepares while reading: 200, the largest rate
 * of the program's window.  #ReadFileIntoDIB prepares the scaling of the last image read and
 * scaled only when both of its scales are at most this: a larger enlargement prepared for
 * every photo would make reading the next file cost up to a hundred times its pixels, for a
 * scaling that may never be asked for.
 */
#define IMGLIB_LARGEST_PREPARED_SCALE 200

/**
 * Read a JPEG file into a new image.
 *
 * Reads baseline, extended and progressive JPEG files, Huffman or arithmetic coded, with any
 * chroma subsampling, interleaved or not, with or without restart markers, in grayscale, YCbCr,
 * RGB, CMYK or YCCK (Adobe's inverted CMYK included).  The EXIF orientation (1 to 8) is applied,
 * so a portrait photo comes out upright, and an embedded ICC profile other than sRGB is applied
 * to give sRGB colours.  An ICC profile that cannot be parsed or that does not match the
 * colours of the file is ignored.  The photo's metadata is kept with the image as it is: its
 * EXIF segment (the first APP1 segment that starts with "Exif\0\0"), its XMP packet (the first
 * APP1 segment that starts with "http://ns.adobe.com/xap/1.0/\0"), its IPTC-IIM records (resource
 * 0x0404 of the first APP13 segment that starts with "Photoshop 3.0\0") and its comments (COM
 * segments, up to 32), all before the first scan.  Extended XMP and what follows the end of the
 * image (a depth image, a camera's second image) describe pixels the copy will not have, and are
 * not kept, but for an HDR gain map.
 *
 * A phone's HDR photo ("Ultra HDR", Android's format, v1.1) is an ordinary JPEG followed by a gain
 * map: a second, smaller JPEG that HDR screens use to show the photo's highlights.  Its gain map
 * is kept with the image: the first image the photo's MPF index (APP2 "MPF\0") lists after the
 * photo whose JPEG holds gain map metadata in a form the photo declares, the XMP form (hdrgm:Version
 * in the photo's XMP, the hdrgm: values in the map's) or the ISO 21496-1 form (the APP2
 * "urn:iso:std:iso:ts:21496:-1\0" version block in the photo, its metadata in the map), or both.
 * The map's bytes are read from where the index says, within the file and after the photo's end
 * of image; its metadata must be valid, it must decode completely and cleanly as an 8-bit JPEG of
 * 1 or 3 components, no larger than the photo and of the photo's proportions within 1 %.  Its
 * values are decoded as they are (no colour profile applies: they are codes, not colours) and
 * turned by the photo's EXIF orientation.  Because the photo's colours become sRGB, a map whose
 * gains differ between channels is kept only when the photo had no profile, or an sRGB one, or
 * when the ISO form applies it in the colours of the map's own profile (then the XMP form, which
 * cannot say so, is not kept).  A map that fails any of this is left out, and the photo read
 * without it: a photo is never refused for its gain map.
 *
 * The file must decode completely and cleanly: a libjpeg-turbo warning that means pixels are
 * missing or guessed (damaged or truncated data, for instance) makes the read fail.  Warnings
 * about bytes outside the image data (stray bytes between segments, a newer JFIF revision, a
 * damaged ICC profile marker, a sequential scan header whose band and approximation some phones
 * write as zeros) do not: every viewer shows such files, with the same pixels.  Large images that need
 * converting or turning are finished with the help of a helper thread when one is free.
 *
 * Photos are usually scaled one after the other at one rate, so the library expects the
 * scaling of the last image it read and scaled (none after an image written as it was read,
 * nor after a scale above #IMGLIB_LARGEST_PREPARED_SCALE) and prepares it while decoding, with a helper thread when
 * one is free; #ZoomDIB then hands it over at once.  The library keeps the bytes of the
 * file with the image, so that any other scaling or a write at full size decodes them again instead of reading a file
 * that may have changed.  What each function returns is the same whether or not the scaling was expected.
 *
 * @param path path of the JPEG file (zero-terminated, 8-bit).  Read only; the caller keeps it.
 *
 * @return the handle of a new image, which the caller releases with #DIBFree, or 0 if the file
 * cannot be read completely: a NULL or empty path, a missing file, a folder, a file that is
 * empty, not a JPEG, damaged or truncated, a precision or format that libjpeg-turbo cannot
 * decode, an image larger than #IMGLIB_MAX_IMAGE_BYTES, a progressive file with more than 500
 * scans or whose scans would pass over its blocks far more often than their data pays for, or a
 * file that would need far more memory than an image of its size.
 */
IMGLIB_API uint32_t ReadFileIntoDIB(const char *path);

/**
 * Scale an image into a new one and release the original.
 *
 * The new image is round(width * scaleX / 100) by round(height * scaleY / 100) pixels, at
 * least 1 by 1.  An image's HDR gain map is scaled with it by the same resampler, to
 * round(mapWidth * scaleX / 100) by round(mapHeight * scaleY / 100), at least 1 by 1: a map a
 * quarter of the photo's size stays a quarter of the new image's.  Reductions are anti-aliased (Lanczos-3 widened by the reduction factor;
 * from a factor of 4 on, blocks of pixels are averaged first and the filter does the last factor
 * of 2 to 4), enlargements use a sharp cubic filter that rings little.  The new image keeps the
 * density and the metadata of the original.  Large images are scaled by the caller's thread
 * and a helper thread when one is free.  A reduction to less than
 * half of an image just read first has libjpeg-turbo decode the file at 1/2, 1/4 or 1/8 of its
 * size, the smallest that leaves the filter a reduction of at least 2, which costs less and
 * looks the same (kFilterReduction in imglib/resample.h says why).
 *
 * @param handle handle of the image to scale.  On success that image is released and its
 * handle becomes unknown; on failure it is left as it was.
 * @param scaleX horizontal scale (in percent, 1 to 1000)
 * @param scaleY vertical scale (in percent, 1 to 1000)
 *
 * @return the handle of the new image, which the caller releases with #DIBFree, or 0 if the
 * handle is unknown, a scale is outside 1 to 1000, the new image would be larger than
 * #IMGLIB_MAX_IMAGE_BYTES or memory runs out.
 */
IMGLIB_API uint32_t ZoomDIB(uint32_t handle, int32_t scaleX, int32_t scaleY);

/**
 * Write an image to a Windows bitmap file.
 *
 * With option 0 the file is a 24-bit uncompressed bottom-up bitmap (BITMAPFILEHEADER and
 * BITMAPINFOHEADER, rows padded to 4 bytes) with the density of the JPEG file it was read
 * from, or 96 dpi when that file gave none.  The bitmap is written to a temporary file in
 * the destination folder and renamed over the destination at the end, so the destination is
 * always either the old file or the complete new one.  When the destination is a symbolic
 * link, the link itself is replaced.  The file takes the permissions 0666 less the process's
 * umask, as any file a program creates.
 *
 * When the JPEG file had metadata, the bitmap carries it, made to describe this image, in blocks
 * of our own after the pixel array, one block per segment:
 *
 *     [payload: n bytes]  [n: 4 bytes, little-endian]  [signature: 8 bytes]
 *
 * The payload is that of the JPEG segment, so n is at most 65533, and the signature says which:
 * "RedimXmp" (an APP1 segment: "http://ns.adobe.com/xap/1.0/\0" and the XMP packet), "RedimIpt"
 * (an APP13 segment: "Photoshop 3.0\0" and the IPTC records as resource 0x0404, alone),
 * "RedimCom" (a comment) and "RedimExf" (an APP1 segment: "Exif\0\0" and a TIFF block).  They
 * come in that order, the comments in theirs, and the EXIF block, when there is one, always last:
 * a reader that knows only "RedimExf", as the first versions of ConvertImg did, still finds the
 * EXIF at the very end, and takes a file that ends with another block for one without metadata.
 * ConvertImg writes each payload back as its segment.
 *
 * An image with an HDR gain map (see #ReadFileIntoDIB) carries it in one more block, written first,
 * right after the pixel array and before the metadata blocks:
 *
 *     [payload: n bytes]  [n: 4 bytes, little-endian]  ["RedimGmp"]
 *
 * Its n is most often above 65533, so a reader that walks back from the end through the blocks
 * above stops at it, and finds the map's block exactly between the end of the pixel array and
 * the first metadata block.  The payload, numbers little-endian:
 *
 *     width, height          4 bytes each: the map's size, upright, scaled with the image
 *     channels               1 byte: 1 (grey) or 3 (R, G, B)
 *     forms                  1 byte: bit 0 set when the photo declared the XMP form; other bits 0
 *     ISO version block      4-byte length, then the photo's APP2 payload (identifier included),
 *                            empty when the ISO form is not kept
 *     map XMP                4-byte length, then the map's APP1 XMP payload, empty without the
 *                            XMP form
 *     map ISO metadata       4-byte length, then the map's ISO 21496-1 APP2 payload, empty
 *                            without the ISO form
 *     map ICC profile        4-byte length, then the map's whole profile, empty without one
 *     pixels                 width * height * channels bytes, rows top to bottom
 *
 * The segments' payloads are the map JPEG's own, unchanged, so that ConvertImg can write the map
 * back after the new JPEG with the metadata it had; the photo's own XMP block carries neither
 * hdrgm: nor its item directory (Container:Directory), which the writer of a map declares again.  The headers are those of the same bitmap
 * without the blocks but for bfSize, the size of the whole file, which counts the blocks as it
 * counts an ICC profile placed after the pixels (biSizeImage counts the pixels only): bitmap
 * readers see the same image either way, and none finds a file longer than it says.  The blocks
 * end the file, so they move with the file and are found from its end without knowing the
 * pixels' layout; a reader walks back from the end, taking a block only when its signature is
 * known, n is at most 65533 and the block starts at or after the end of the pixel array the
 * headers describe, and stops at the first that is not so, or after 32 blocks.
 *
 * The payloads are the photo's metadata made to describe this image by the program's metadata
 * policy, which metadata/metadata.h states kind by kind (what is kept, changed and removed: the
 * location, faces, the edit history and the thumbnail go).  The EXIF is edited in place, never
 * laid out again, so that every value kept stays at its offset (a maker note's own offsets stay
 * valid).  A kind that is damaged in any way is dropped whole, and the bitmap is then written
 * without its block, like that of a JPEG file without it.
 *
 * @param handle handle of the image to write.  The image stays held by the library.
 * @param path path of the bitmap file to write (zero-terminated, 8-bit).  Read only; the
 * caller keeps it.  The folder must exist.
 * @param option format of the file; only 0 (24-bit bitmap) is known.
 *
 * @return 1 if the complete file was written, or 0 if the handle is unknown, the path is NULL
 * or empty, the option is not 0, or the file cannot be created, written, closed or renamed
 * into place.  On failure no temporary file is left behind and an existing destination is
 * left as it was.
 */
IMGLIB_API int16_t WriteDIBToFile(uint32_t handle, const char *path, int16_t option);

/**
 * Release an image.
 *
 * @param handle handle of the image to release.  0, unknown and already released handles
 * are ignored.
 */
IMGLIB_API void DIBFree(uint32_t handle);

#ifdef __cplusplus
}
#endif

#endif /* IMGLIB_H */
