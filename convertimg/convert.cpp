// Conversion of one bitmap file into one JPEG file: read, decode, encode, write aside, rename.
#include "convertimg/convert.h"

#include "convertimg/bmp_reader.h"
#include "convertimg/jpeg_writer.h"
#include "convertimg/metadata_carrier.h"
#include "convertimg/pattern.h"
#include "convertimg/ultra_hdr.h"

#include "metadata/carrier.h"
#include "metadata/gain_map.h"

#include "budget/buffer.h"
#include "common/regular_file.h"
#include "common/whole_file.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <optional>
#include <system_error>
#include <thread>

#include <signal.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

namespace convertimg {

namespace {

// A bitmap within the decoded limit takes at most 4/3 of it on disk (32 bits per pixel, or rows
// of one 24-bit pixel padded to 4 bytes), its headers and palette a mebibyte more at most, its
// gain map's block (its pixels, its ICC profile, its three other payloads and their lengths) and
// its metadata blocks a few more; anything far beyond that is not read into memory at all.
constexpr std::uint64_t maxGainMapBlockBytes =
    meta::kMaxGainMapBytes + meta::kMaxGainMapIccBytes + 3 * meta::kMaxPayload + 64;
constexpr std::uint64_t maxFileBytes = std::uint64_t{3} << 30;
static_assert(maxDecodedBytes / 3 * 4 + (1u << 20) + maxGainMapBlockBytes + meta::kMaxCarriedBytes <= maxFileBytes,
              "every bitmap within the decoded limit must be read");

std::string systemError(const char* what, int error = errno)
{
    return std::string(what) + ": " + std::strerror(error);
}

// The same about `whose`, with errno as it was when the call came.
std::string systemError(const char* what, const std::string& whose)
{
    const int error = errno;
    return systemError((what + whose).c_str(), error);
}

// The temporaries of the conversions in progress, which a signal removes.
common::TemporaryRecord& temporaries()
{
    static auto* const record = new common::TemporaryRecord; // never destroyed: a signal may come during exit
    return *record;
}

// Waits for the signals in `signals` (blocked in every thread), removes the temporaries, and lets
// the signal end the process as it would have.
void sweepOnSignal(sigset_t signals)
{
    int sig = 0;
    while (sigwait(&signals, &sig) != 0) {
    }
    temporaries().removeAllForGood();
    sigset_t only;
    sigemptyset(&only);
    sigaddset(&only, sig);
    pthread_sigmask(SIG_UNBLOCK, &only, nullptr);
    raise(sig);
    _exit(128 + sig); // not reached
}

// The whole file in memory, read in as few calls as the system allows. A file that shrinks while
// we read it leaves a shorter buffer, which the bitmap reader then calls truncated. The bytes
// live in a block of the process's block cache, which serves the next files from the same pages
// (budget/buffer.h).
struct FileBytes {
    budget::Buffer block;
    std::size_t size = 0;
    std::optional<timespec> modified; // the file's time, when it did not change while we read it

    std::span<const std::uint8_t> bytes() const { return {block.data(), size}; }
};

bool sameTime(const timespec& a, const timespec& b)
{
    return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

// What converting the bitmap whose file holds `fileBytes` and starts with `head` will hold: the
// file, the rows the reader converts, the encoder's buffers, and for a gain map after the pixels
// (whose pixels are at most the bytes that follow them), its copy and its encoder's buffers. An
// ordinary bitmap holds at most four times its file (24-bit rows and the coefficients of their
// image); as the unit of the budget a bitmap counts for no more than that, so that one declaring
// far more pixels than its bytes hold (run-length codes that end at once) makes room for itself
// alone, never for others.
void admitConversion(const Admission& admit, std::span<const std::uint8_t> head, std::uint64_t fileBytes)
{
    std::uint64_t bytes = fileBytes;
    if (const std::optional<BitmapShape> shape = peekShape(head)) {
        const std::uint64_t pixels =
            static_cast<std::uint64_t>(shape->width) * static_cast<std::uint64_t>(shape->height);
        bytes += (shape->convertsRows ? pixels * 3 : 0) + encoderBytes(shape->width, shape->height);
        const std::uint64_t carried = fileBytes > shape->pixelsEnd ? fileBytes - shape->pixelsEnd : 0;
        bytes += carried + gainMapEncoderBytes(carried);
    }
    admit(bytes, std::min(bytes, 4 * fileBytes));
}

// The first bytes of the open file, for its headers; fewer when it is shorter.
std::span<const std::uint8_t> readHead(int fd, std::array<std::uint8_t, 64>& head)
{
    ssize_t n = 0;
    do {
        n = pread(fd, head.data(), head.size(), 0);
    } while (n < 0 && errno == EINTR);
    return {head.data(), n > 0 ? static_cast<std::size_t>(n) : 0};
}

std::string alreadyThere(const std::string& target)
{
    return target + " already exists, kept (use /R to replace it)";
}

// The message for a bitmap that openRegularFile refused.
std::string whyRefused(const common::RegularFile& refused)
{
    switch (refused.error) {
    case common::FileError::CannotOpen: return systemError("cannot open", refused.systemError);
    case common::FileError::NotRegular: return "not a regular file";
    case common::FileError::TooLarge: return "file too large for a bitmap this program accepts";
    default: return systemError("cannot read", refused.systemError);
    }
}

bool readWholeFile(const std::string& path, FileBytes& file, std::string& error, const Admission& admit)
{
    const common::RegularFile opened = common::openRegularFile(path.c_str(), maxFileBytes);
    if (!opened) {
        error = whyRefused(opened);
        return false;
    }
    const int fd = opened.fd.get();
    const struct stat& st = opened.status;
    const auto wanted = static_cast<std::size_t>(opened.size());
    if (admit) {
        std::array<std::uint8_t, 64> head{};
        admitConversion(admit, readHead(fd, head), wanted);
    }
    try {
        file.block = budget::Buffer(wanted);
    } catch (const std::bad_alloc&) {
        error = "not enough memory to read the file";
        return false;
    }
    const ssize_t got = common::readFully(fd, {file.block.data(), wanted});
    if (got < 0) {
        error = systemError("cannot read");
        return false;
    }
    file.size = static_cast<std::size_t>(got);
    struct stat after {};
    if (fstat(fd, &after) == 0 && sameTime(after.st_mtim, st.st_mtim) && after.st_size == st.st_size &&
        file.size == wanted)
        file.modified = st.st_mtim;
    return true;
}

} // namespace

FileResult convertFile(const std::string& bitmapPath, const std::string& jpegName, const ConvertSettings& settings,
                       const Admission& admit)
{
    const std::string target = joinPath(settings.outDir, jpegName);
    struct stat st {};
    if (!settings.replace && lstat(target.c_str(), &st) == 0)
        return {Outcome::Skipped, alreadyThere(target)};

    FileBytes file;
    if (std::string error; !readWholeFile(bitmapPath, file, error, admit))
        return {Outcome::Failed, error};
    Bitmap bitmap;
    if (const BmpError e = readBitmap(file.bytes(), bitmap); e != BmpError::None)
        return {Outcome::Failed, std::string(describe(e))};
    // A damaged gain map block reads as none: the photo is then written alone.
    const PhotoJpegs jpeg = encodePhoto(bitmap, carriedMetadataFor(file.bytes(), bitmap),
                                        meta::carriedGainMap(file.bytes(), bitmap.pixelsEnd));
    if (!jpeg.photo)
        return {Outcome::Failed, jpeg.photo.error()};

    common::WholeFile jpegFile(target, common::Writer::Convertimg, &temporaries());
    if (!jpegFile)
        return {Outcome::Failed, systemError("cannot create a file in ", settings.outDir)};
    std::array<iovec, 2> pieces{};
    std::size_t count = 0;
    for (const JpegData* part : {&jpeg.photo, &jpeg.gainMap})
        if (*part)
            pieces[count++] = {const_cast<std::uint8_t*>(part->bytes().data()), part->bytes().size()};
    bool written = jpegFile.write(std::span(pieces.data(), count));
    // The JPEG bears its bitmap's modification time: the proof, which survives a copy that keeps
    // times, that it was made from that very bitmap and not from an earlier one of the same name.
    if (written && file.modified) {
        const timespec times[2] = {{0, UTIME_OMIT}, *file.modified};
        written = futimens(jpegFile.fd(), times) == 0;
    }
    if (!written)
        return {Outcome::Failed, systemError("cannot write ", target)};
    switch (jpegFile.publish(settings.replace ? common::Replace::Yes : common::Replace::No)) {
    case common::Published::Done: return {Outcome::Converted, {}};
    case common::Published::Kept: return {Outcome::Skipped, alreadyThere(target)};
    case common::Published::CannotWrite: return {Outcome::Failed, systemError("cannot write ", target)};
    case common::Published::CannotPlace: break;
    }
    return {Outcome::Failed, systemError("cannot rename the JPEG into ", target)};
}

void removeTemporariesOnSignals()
{
    // Blocked here, before any other thread starts, the signals reach only the sweeping thread,
    // which waits for them. A signal the process ignores (SIGHUP under nohup) stays ignored.
    sigset_t signals;
    sigemptyset(&signals);
    for (const int sig : {SIGINT, SIGTERM, SIGHUP}) {
        struct sigaction current {};
        if (sigaction(sig, nullptr, &current) == 0 && current.sa_handler != SIG_IGN)
            sigaddset(&signals, sig);
    }
    sigset_t before;
    pthread_sigmask(SIG_BLOCK, &signals, &before);
    // A thread of its own rather than one of the pool's (budget/helpers.h): it waits for ever
    // when no signal comes, so the pool could neither give it other work nor join it at the end.
    try {
        std::thread(sweepOnSignal, signals).detach();
    } catch (const std::system_error&) {
        pthread_sigmask(SIG_SETMASK, &before, nullptr); // no sweep: the next start removes them
    }
}

} // namespace convertimg
