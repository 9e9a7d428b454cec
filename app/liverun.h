// A handler's long work, during which the window stays alive: it repaints and answers the
// desktop, while the input given to it waits for the work to end, as it would if the work kept
// the window's thread to itself.
#pragma once

#include "imglib_client/imagelibrary.h"

#include <QObject>
#include <QPointer>

#include <atomic>
#include <condition_variable>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <type_traits>
#include <utility>
#include <vector>

class QAbstractEventDispatcher;
class QEvent;

namespace redim {

// Holds the user's input to the program's windows (mouse, keys, wheel, touch) while it is
// installed, and hands it back to them in the order it came once asked to.
class HeldInput final : public QObject {
public:
    HeldInput();
    ~HeldInput() override;

    // Posts what was held to the windows it was meant for, to be handled once the event loop
    // takes over again.
    void deliver();
    // Forgets what was held: the windows it was meant for are going away.
    void drop();

protected:
    bool eventFilter(QObject *receiver, QEvent *event) override;

private:
    std::vector<std::pair<QPointer<QObject>, std::unique_ptr<QEvent>>> held_;
};

// One run of a handler. The slow parts of the run (library calls, file work, waits) are handed
// to `await`, which does them on a thread of the run's own while the window's thread handles
// what is not the user's input: painting, the desktop's pings, timers, and the close box, which
// asks the run to stop. Everything the user did meanwhile reaches the window when the run ends,
// unless the window was closed.
class LiveRun {
public:
    LiveRun();
    ~LiveRun();
    LiveRun(const LiveRun &) = delete;
    LiveRun &operator=(const LiveRun &) = delete;

    // Does `work` on the run's thread and returns what it returns (or throws what it throws),
    // keeping the window alive until then.
    template <typename Work>
    auto await(Work &&work) -> std::invoke_result_t<Work &>
    {
        using Result = std::invoke_result_t<Work &>;
        if constexpr (std::is_void_v<Result>) {
            awaitJob([&] { work(); });
        } else {
            std::optional<Result> result;
            awaitJob([&] { result.emplace(work()); });
            return std::move(*result);
        }
    }

    // Asked by the close box: the run ends at its next stopping point.
    void requestStop() { stopRequested_ = true; }
    bool stopRequested() const { return stopRequested_; }

private:
    void awaitJob(const std::function<void()> &job);
    void serve();

    HeldInput input_;
    QAbstractEventDispatcher *const dispatcher_;  // the window's thread's, woken when a job is done
    bool stopRequested_ = false;
    bool awaiting_ = false;

    std::mutex mutex_;
    std::condition_variable jobReady_;
    const std::function<void()> *job_ = nullptr;  // guarded by mutex_
    std::exception_ptr failure_;                  // what the last job threw, handed over with jobDone_
    std::atomic<bool> jobDone_ = false;
    bool ending_ = false;  // guarded by mutex_
    std::thread thread_;   // last: started once everything it uses exists
};

// The image library reached through a run: each call is made on the run's thread.
class LiveLibrary final : public ImageLibrary {
public:
    LiveLibrary(ImageLibrary &library, LiveRun &run) : library_(library), run_(run) {}

    std::optional<quint32> readFileIntoDIB(const QByteArray &path) override;
    std::optional<quint32> zoomDIB(quint32 image, qint32 scaleX, qint32 scaleY) override;
    std::optional<qint16> writeDIBToFile(quint32 image, const QByteArray &path, qint16 option) override;
    bool dibFree(quint32 image) override;

private:
    ImageLibrary &library_;
    LiveRun &run_;
};

}  // namespace redim
