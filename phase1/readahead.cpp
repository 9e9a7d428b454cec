// Reading the next photos of a folder run on worker threads, and handing them to the window in
// order once their bytes are known not to have changed.
#include "phase1/readahead.h"

#include "budget/cores.h"
#include "phase1/photo_footprint.h"

#include "common/jpeg_walk.h"
#include "common/regular_file.h"

#include <QThreadPool>

#include <algorithm>
#include <array>
#include <cstring>
#include <utility>

namespace redim {

namespace {

// What a file holds: the bytes of its image, or nothing when it cannot be read as a regular file.
using Content = std::optional<QByteArray>;

// Photos larger than this are not read ahead: holding their bytes to compare them would cost
// more memory than reading them at their turn saves time.
constexpr std::uint64_t kLargestReadAhead = std::uint64_t{256} << 20;

// Reads the image of the file at `path` as the library reads it, up to its end of image and no
// further; nothing when it cannot be read as a regular file. Sets `atItsTurn` instead when it is
// larger than kLargestReadAhead, or holds no whole image (cut short, or no JPEG): the library
// reads it at its turn, as far as it reads such a file.
Content readContent(const QByteArray &path, bool &atItsTurn)
{
    atItsTurn = false;
    const common::RegularFile file = common::openRegularFile(path.constData(), common::kNoLimit);
    if (!file)
        return std::nullopt;
    QByteArray bytes;
    const std::optional<std::size_t> image = common::readJpegImage(
        file.fd.get(), std::min(file.size(), kLargestReadAhead + 1), [&bytes](std::size_t wanted) {
            bytes.resize(static_cast<qsizetype>(wanted));
            return std::span<std::uint8_t>(reinterpret_cast<std::uint8_t *>(bytes.data()), wanted);
        });
    atItsTurn = !image || *image > kLargestReadAhead;
    if (atItsTurn)
        return std::nullopt;
    bytes.resize(static_cast<qsizetype>(*image));
    return bytes;
}

// True when the file at `path` still holds the image `expected` (or, for nothing, cannot be read):
// the library reads what follows no more than the read-ahead did. Compared piece by piece, so that
// no copy of the file is made.
bool stillHolds(const QByteArray &path, const Content &expected)
{
    const common::RegularFile file = common::openRegularFile(path.constData(), common::kNoLimit);
    if (!file)
        return !expected;
    if (!expected)
        return false;
    std::array<std::uint8_t, 64 * 1024> piece;
    for (qsizetype offset = 0; offset < expected->size();) {
        const auto wanted = std::min<qsizetype>(piece.size(), expected->size() - offset);
        const ssize_t got = common::readSome(file.fd.get(), {piece.data(), static_cast<std::size_t>(wanted)});
        if (got <= 0 || std::memcmp(piece.data(), expected->constData() + offset, static_cast<std::size_t>(got)) != 0)
            return false;
        offset += got;
    }
    return true;
}

}  // namespace

ReadAhead::ReadAhead(ImageLibrary &library, std::vector<QByteArray> paths, qint32 rate, QThreadPool &threads,
                     Options options)
    : library_(library), paths_(std::move(paths)), rate_(rate),
      inFlight_(options.workers > 0 ? options.workers : budget::usableCores()), prepared_(std::move(options.prepared)),
      memory_(inFlight_ + 2), photos_(paths_.size())
{
    working_ = std::min<int>(inFlight_, static_cast<int>(paths_.size()));
    for (int i = 0; i < working_; ++i)
        threads.start([this] { work(); });
}

ReadAhead::~ReadAhead()
{
    {
        const std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    changed_.notify_all();
    memory_.stop();
    {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [this] { return working_ == 0; });
    }
    for (const Photo &photo : photos_)
        release(photo.read, photo.scaled);
    releaseHanded();
}

void ReadAhead::work()
{
    for (;;) {
        int index = 0;
        {
            std::unique_lock lock(mutex_);
            changed_.wait(lock, [this] {
                return stopping_ || (next_ < static_cast<int>(paths_.size()) && next_ < taken_ + ahead());
            });
            if (stopping_)
                break;
            index = next_++;
        }
        if (!prepare(index))
            break;
        if (prepared_)
            prepared_(index);
    }
    // Told under the lock: once it is released, the read-ahead may go.
    const std::lock_guard lock(mutex_);
    --working_;
    changed_.notify_all();
}

// How many photos the workers may read ahead of the window's: `inFlight`, or twice that while the
// window waits for a photo still being read, so that a large photo does not hold the other
// workers back; the memory budget bounds what they hold either way. With the mutex held.
int ReadAhead::ahead() const
{
    return windowWaits_ ? 2 * inFlight_ : inFlight_;
}

// Reads and scales one photo once its memory fits the budget, noting the bytes it was read from.
// A photo whose bytes change while it is read, or that nobody wants any more, is released at
// once. False when the run ends before the photo is admitted.
bool ReadAhead::prepare(int index)
{
    const QByteArray &path = paths_[static_cast<std::size_t>(index)];
    const auto ticket = static_cast<std::size_t>(index);
    Photo photo;
    try {
        bool atItsTurn = false;
        photo.bytes = readContent(path, atItsTurn);
        const PhotoFootprint footprint = photo.bytes ? footprintOf(*photo.bytes, rate_) : PhotoFootprint();
        photo.kept = footprint.kept;
        if (!memory_.admit(ticket, footprint.held, footprint.decoded))
            return false;
        if (!atItsTurn) {
            photo.read = library_.readFileIntoDIB(path);
            if (rate_ != 100 && photo.read != 0)
                photo.scaled = library_.zoomDIB(photo.read, rate_, rate_);
            photo.usable = stillHolds(path, photo.bytes);
            // Read and scaled, the photo holds only what the window will keep of it and the bytes
            // it was read from: its coefficients and its pixels at full size are gone.
            if (rate_ == 100 || photo.scaled != 0)
                memory_.keepOnly(ticket,
                                 photo.kept + static_cast<std::uint64_t>(photo.bytes ? photo.bytes->size() : 0));
        }
    } catch (const std::bad_alloc &) {
        photo.usable = false;  // read at its turn instead
    }
    photo.ready = true;
    bool unwanted = !photo.usable;
    {
        const std::lock_guard lock(mutex_);
        unwanted = unwanted || stopping_;
        if (!unwanted)
            photos_[static_cast<std::size_t>(index)] = std::move(photo);
        else
            photos_[static_cast<std::size_t>(index)].ready = true;
    }
    changed_.notify_all();
    if (unwanted) {
        release(photo.read, photo.scaled);
        memory_.finish(ticket);
    }
    return true;
}

// The photo at `index` as the window's read of it: the one read early if its file still holds
// the same bytes, or a read made now.
quint32 ReadAhead::takeAtTurn(int index)
{
    // The window released its last photo before asking for this one, and its room must be free
    // before the wait: this photo may be waiting for it to be admitted.
    if (windowPhoto_ >= 0)
        memory_.finish(static_cast<std::size_t>(windowPhoto_));
    windowPhoto_ = index;
    Photo photo;
    {
        std::unique_lock lock(mutex_);
        taken_ = index + 1;
        windowWaits_ = !photos_[static_cast<std::size_t>(index)].ready;
        changed_.notify_all();
        changed_.wait(lock, [&] { return photos_[static_cast<std::size_t>(index)].ready; });
        windowWaits_ = false;
        photo = std::exchange(photos_[static_cast<std::size_t>(index)], Photo());
        photos_[static_cast<std::size_t>(index)].ready = true;
    }
    // Of this photo, the window keeps only the scaled copy.
    memory_.keepOnly(static_cast<std::size_t>(index), photo.kept);
    const QByteArray &path = paths_[static_cast<std::size_t>(index)];
    if (photo.usable && stillHolds(path, photo.bytes)) {
        handed_ = {index, photo.read, photo.scaled};
        return photo.read;
    }
    release(photo.read, photo.scaled);
    return library_.readFileIntoDIB(path);
}

quint32 ReadAhead::readFileIntoDIB(const QByteArray &path)
{
    releaseHanded();
    const auto turn = static_cast<std::size_t>(taken_);
    if (turn < paths_.size() && paths_[turn] == path)
        return takeAtTurn(taken_);
    return library_.readFileIntoDIB(path);
}

quint32 ReadAhead::zoomDIB(quint32 image, qint32 scaleX, qint32 scaleY)
{
    if (handed_.index < 0 || image != handed_.read || handed_.scaled == 0) {
        releaseHanded();
        return library_.zoomDIB(image, scaleX, scaleY);
    }
    const Handed handed = std::exchange(handed_, Handed());
    if (scaleX == rate_ && scaleY == rate_)
        return handed.scaled;
    // Another scale than the one prepared: the prepared scaling released the image it was made
    // from, so the file is read again for it.
    library_.dibFree(handed.scaled);
    const quint32 again = library_.readFileIntoDIB(paths_[static_cast<std::size_t>(handed.index)]);
    if (again == 0)
        return again;
    const quint32 scaled = library_.zoomDIB(again, scaleX, scaleY);
    if (scaled == 0)
        library_.dibFree(again);
    return scaled;
}

qint16 ReadAhead::writeDIBToFile(quint32 image, const QByteArray &path, qint16 option)
{
    return library_.writeDIBToFile(image, path, option);
}

void ReadAhead::dibFree(quint32 image)
{
    if (image == handed_.read && handed_.scaled != 0) {
        releaseHanded();  // the image as read went with its scaling already
        return;
    }
    library_.dibFree(image);
}

// Releases what reading a photo ahead left behind: its scaled image, or the image as read when
// it was not scaled (a scaling that succeeded released that one already).
void ReadAhead::release(quint32 read, quint32 scaled)
{
    if (scaled != 0)
        library_.dibFree(scaled);
    else if (read != 0)
        library_.dibFree(read);
}

// Releases the scaling prepared for the photo last handed to the window, which it did not ask
// for. The image as read is the window's to release, unless that scaling released it already.
void ReadAhead::releaseHanded()
{
    if (handed_.scaled != 0)
        library_.dibFree(handed_.scaled);
    handed_ = Handed();
}

}  // namespace redim
