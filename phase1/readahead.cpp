// Reading the next photos of a folder run on worker threads, and handing them to the window in
// order once their files are known not to have changed.
#include "phase1/readahead.h"

#include "budget/cores.h"
#include "phase1/photo_footprint.h"

#include "common/regular_file.h"

#include <QThreadPool>

#include <algorithm>
#include <new>
#include <optional>
#include <utility>

#include <sys/stat.h>

namespace redim {

namespace {

// The identity of the file at `path` now; nothing when there is none.
std::optional<common::FileIdentity> identityOf(const QByteArray &path)
{
    struct stat status {};
    if (::stat(path.constData(), &status) != 0)
        return std::nullopt;
    return common::identityOf(status);
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

// Reads and scales one photo once its memory fits the budget, noting the identity of its file. A
// photo that cannot be opened is left to its turn; one whose file changes while it is read, whose
// read fails, or that nobody wants any more, is released at once. False when the run ends before
// the photo is admitted.
bool ReadAhead::prepare(int index)
{
    const QByteArray &path = paths_[static_cast<std::size_t>(index)];
    const auto ticket = static_cast<std::size_t>(index);
    Photo photo;
    PhotoFootprint footprint;
    bool readable = false;
    try {
        const common::RegularFile file = common::openRegularFile(path.constData(), common::kNoLimit);
        if (file) {
            photo.identity = common::identityOf(file.status);
            footprint = footprintOf(file.fd.get(), file.size(), rate_);
            readable = true;
        }
    } catch (const std::bad_alloc &) {
        // Not even its headers fit in memory now: it is read at its turn.
    }
    photo.kept = footprint.kept;
    if (!memory_.admit(ticket, footprint.held, footprint.decoded))
        return false;
    if (readable) {
        photo.read = library_.readFileIntoDIB(path);
        if (rate_ != 100 && photo.read != 0)
            photo.scaled = library_.zoomDIB(photo.read, rate_, rate_);
        // Read and scaled, the photo holds only what the window will keep of it: its coefficients
        // and its pixels at full size are gone.
        if (rate_ == 100 || photo.scaled != 0)
            memory_.keepOnly(ticket, photo.kept);
    }
    photo.ready = true;
    bool kept = photo.read != 0 && identityOf(path) == photo.identity;
    {
        const std::lock_guard lock(mutex_);
        kept = kept && !stopping_;
        if (kept)
            photos_[ticket] = photo;
        else
            photos_[ticket].ready = true;
    }
    changed_.notify_all();
    if (!kept) {
        release(photo.read, photo.scaled);
        memory_.finish(ticket);
    }
    return true;
}

// The next photo of the run, as the window's read of it: the one read early if its file has not
// changed since, or a read made now.
quint32 ReadAhead::takeAtTurn()
{
    const int index = taken_;
    // The window released its last photo before asking for this one, and its room must be free
    // before the wait: this photo may be waiting for it to be admitted.
    if (index > 0)
        memory_.finish(static_cast<std::size_t>(index - 1));
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
    if (photo.read != 0 && identityOf(path) == photo.identity) {
        handed_ = {photo.read, photo.scaled};
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
        return takeAtTurn();
    return library_.readFileIntoDIB(path);
}

quint32 ReadAhead::zoomDIB(quint32 image, qint32 scaleX, qint32 scaleY)
{
    const Handed handed = std::exchange(handed_, Handed());
    if (handed.scaled != 0 && image == handed.read && scaleX == rate_ && scaleY == rate_)
        return handed.scaled;
    release(0, handed.scaled);
    return library_.zoomDIB(image, scaleX, scaleY);
}

qint16 ReadAhead::writeDIBToFile(quint32 image, const QByteArray &path, qint16 option)
{
    return library_.writeDIBToFile(image, path, option);
}

void ReadAhead::dibFree(quint32 image)
{
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
// for. The image as read is the window's to release (the library ignores it when that scaling
// released it already).
void ReadAhead::releaseHanded()
{
    release(0, std::exchange(handed_, Handed()).scaled);
}

}  // namespace redim
