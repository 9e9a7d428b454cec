// A folder run's image library: the photos that come next are read and scaled on worker threads
// while the window writes the current one, so that every core decodes.
#pragma once

#include "budget/memory_budget.h"
#include "imglib_client/imagelibrary.h"

#include "common/regular_file.h"

#include <condition_variable>
#include <ctime>
#include <functional>
#include <mutex>
#include <utility>
#include <vector>

#include <sys/types.h>

class QThreadPool;

namespace redim {

// Stands in for the image library during one folder run. The window still calls it photo after
// photo, in listing order, exactly as it calls the library itself; the difference is that a read
// of the photo expected next finds it read already (and scaled at the run's rate, which the
// scaling step then gets at once). What the window sees is what calling the library at each
// photo's turn gives:
//  - a photo read early is used only if, when the read began, when it ended and at the photo's
//    turn, its path names the same file (device and inode) with the same size, modification and
//    change times, as make and rsync tell a file unchanged; otherwise it is read again at its
//    turn, so a file changed, replaced or removed meanwhile gives what it holds then. Nothing of
//    the file is kept to compare: writing into it changes its change time, which no program can
//    set back;
//  - failures are the library's own at the photo's turn: a photo whose early read failed is read
//    again then, and failures are reported when the window asks, in order;
//  - the window scales each photo at the run's rate, which the read-ahead has prepared (its
//    input waits while the run works: the slider does not move); another scale of a photo handed
//    over scaled fails;
//  - at most `inFlight` photos are read ahead of the window's, whatever the size of the folder
//    (twice that while the window waits for a photo still being read, so that a large photo
//    does not hold the other workers back), and only as many as fit a memory budget, with what
//    the window still holds of its own photo (its scaled copy), of (inFlight + 2) decoded photos
//    of the largest size seen in the run and 32 MiB (budget::MemoryBudget; photo_footprint.h
//    says what a photo holds): a progressive photo, whose coefficients take twice its pixels
//    while it decodes, takes the room of three; one that needs more than the whole budget is
//    read alone.
// Its workers run on `threads`, which must give each a thread at once. Destroying it abandons what
// is still queued, lets the workers finish the library call they are in, releases every image
// nobody took and waits for the workers to end.
class ReadAhead final : public ImageLibrary {
public:
    struct Options {
        int workers = 0;  // threads reading ahead (and photos in flight); 0: budget::usableCores()
        std::function<void(int index)> prepared;  // told when a photo is ready (for tests)
    };

    // `paths` are the photos of the run in the order the window will read them; `rate` is the
    // scale in percent the window will ask for (100: none).
    ReadAhead(ImageLibrary &library, std::vector<QByteArray> paths, qint32 rate, QThreadPool &threads, Options options);
    ~ReadAhead() override;
    ReadAhead(const ReadAhead &) = delete;
    ReadAhead &operator=(const ReadAhead &) = delete;

    quint32 readFileIntoDIB(const QByteArray &path) override;
    quint32 zoomDIB(quint32 image, qint32 scaleX, qint32 scaleY) override;
    qint16 writeDIBToFile(quint32 image, const QByteArray &path, qint16 option) override;
    void dibFree(quint32 image) override;

private:
    struct Photo {
        bool ready = false;
        common::FileIdentity identity;  // of the file it was read from
        quint32 read = 0;               // the image read early; 0: the photo is read at its turn
        quint32 scaled = 0;             // its scaling at the run's rate, if one was made and succeeded
        std::uint64_t kept = 0;         // the bytes the window keeps of it, for the budget
    };
    // The photo handed to the window by its last read, while its scaling is still to be asked.
    struct Handed {
        quint32 read = 0;
        quint32 scaled = 0;
    };

    void work();
    int ahead() const;
    bool prepare(int index);
    quint32 takeAtTurn();
    void release(quint32 read, quint32 scaled);
    void releaseHanded();

    ImageLibrary &library_;
    const std::vector<QByteArray> paths_;
    const qint32 rate_;
    const int inFlight_;
    const std::function<void(int)> prepared_;

    // A photo's ticket is its index; it holds its room until the window takes the next photo.
    budget::MemoryBudget memory_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<Photo> photos_;  // guarded by mutex_ while a worker may touch the entry
    int next_ = 0;               // the next photo a worker takes
    int taken_ = 0;              // photos the window has asked for; written by the window's thread
    bool windowWaits_ = false;   // for a photo a worker is still reading
    bool stopping_ = false;
    int working_ = 0;  // workers started and not ended

    Handed handed_;  // the window's thread only
};

}  // namespace redim
