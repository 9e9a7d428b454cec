// A handler's long work, during which the window stays alive: it repaints and answers the
// desktop, while the input given to it waits for the work to end, as it would if the work kept
// the window's thread to itself.
#pragma once

#include "imglib_client/imagelibrary.h"

#include <QObject>
#include <QPointer>

#include <atomic>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <type_traits>
#include <utility>
#include <vector>

class QAbstractEventDispatcher;
class QEvent;
class QThreadPool;
class QWidget;

namespace redim {

// The user's input to the program's windows (mouse, keys, wheel, touch), held while a run works
// and handed back once no run works any more, in the order it came and one event at a time: the
// next one once the window has handled the last, a dialog it opened included. Input given
// meanwhile waits behind what is being handed back. One queue for the whole program.
class HeldInput final : public QObject {
public:
    static HeldInput &instance();

    // A run starts: the input waits from now on.
    void hold();
    // That run has ended: once no run works, what waits is handed back.
    void release();
    // Forgets what waits: the windows it was meant for are going away.
    void drop();
    // Clicks on `control` (and Space on it) act at once, during a run too.
    void letThrough(QWidget *control);

protected:
    bool eventFilter(QObject *receiver, QEvent *event) override;

private:
    // An event as it came, to be made again when it is handed back: Qt shares a pointer event's
    // point with the device, whose next event overwrites it, so only the values are kept.
    struct Held {
        QPointer<QObject> window;
        std::function<std::unique_ptr<QEvent>()> rebuild;
    };

    HeldInput();
    bool actsAtOnce(QObject *receiver, QEvent *event);
    void scheduleDelivery();
    void deliverNext();

    std::deque<Held> queue_;
    std::vector<QPointer<QWidget>> letThrough_;
    int runs_ = 0;                        // runs at work
    const QEvent *delivering_ = nullptr;  // the event being handed back, while it is handled
    bool scheduled_ = false;
    bool passing_ = false;  // a press let through is down: its moves and release go through too
};

// What must end before the program does, even when it ends by exit() in the middle of a run (Qt
// calls it from the event loop when the display goes away): exit() destroys the calling thread's
// thread_local objects before any static one, the image library among those, and these ends run
// then, on the window's thread, in the order they were made.
class EndBeforeExit {
public:
    explicit EndBeforeExit(std::function<void()> end);
    ~EndBeforeExit();
    EndBeforeExit(const EndBeforeExit &) = delete;
    EndBeforeExit &operator=(const EndBeforeExit &) = delete;

private:
    friend struct EndsAtExit;
    std::function<void()> end_;
};

// One run of a handler. The slow parts of the run (library calls, file work, waits) are handed
// to `await`, which does them on a thread of the window's pool while the window's thread handles
// what is not the user's input: painting, the desktop's pings, timers, and the close box, which
// asks the run to stop. Everything the user did meanwhile reaches the window after the run, unless
// the window was closed. The pool's threads end with the run.
class LiveRun {
public:
    explicit LiveRun(QThreadPool &threads);
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
    // Lets the job in progress, if any, finish.
    void waitForJob();

    QThreadPool &threads_;
    QAbstractEventDispatcher *const dispatcher_;  // the window's thread's, woken when a job is done
    bool stopRequested_ = false;
    bool awaiting_ = false;  // a job is in progress

    std::exception_ptr failure_;  // what the last job threw, handed over with jobDone_
    std::atomic<bool> jobDone_ = false;
    EndBeforeExit endAtExit_{[this] { waitForJob(); }};
};

// The image library reached through a run: each call is made on the run's thread.
class LiveLibrary final : public ImageLibrary {
public:
    LiveLibrary(ImageLibrary &library, LiveRun &run) : library_(library), run_(run) {}

    quint32 readFileIntoDIB(const QByteArray &path) override;
    quint32 zoomDIB(quint32 image, qint32 scaleX, qint32 scaleY) override;
    qint16 writeDIBToFile(quint32 image, const QByteArray &path, qint16 option) override;
    void dibFree(quint32 image) override;

private:
    ImageLibrary &library_;
    LiveRun &run_;
};

}  // namespace redim
