// A handler's long work on a thread of its own, the window's thread meanwhile handling its
// events, and the user's input held back until the work is over.
#include "app/liverun.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QEvent>

#include <system_error>

namespace redim {

namespace {

// What the user does to a window; a window's own events (painting, moving, the desktop's pings,
// focus, the close box) are not held.
bool isUserInput(QEvent::Type type)
{
    switch (type) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::MouseMove:
    case QEvent::Wheel:
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::InputMethod:
    case QEvent::ContextMenu:
    case QEvent::TouchBegin:
    case QEvent::TouchUpdate:
    case QEvent::TouchEnd:
    case QEvent::TouchCancel:
    case QEvent::TabletPress:
    case QEvent::TabletMove:
    case QEvent::TabletRelease:
    case QEvent::NativeGesture: return true;
    default: return false;
    }
}

}  // namespace

HeldInput::HeldInput()
{
    QCoreApplication::instance()->installEventFilter(this);
}

HeldInput::~HeldInput() = default;

// Input reaches a window first and goes from there to the control under the pointer or with the
// focus; holding it at the window holds it from every control.
bool HeldInput::eventFilter(QObject *receiver, QEvent *event)
{
    if (!receiver->isWindowType() || !isUserInput(event->type()))
        return false;
    held_.emplace_back(receiver, event->clone());
    return true;
}

void HeldInput::deliver()
{
    QCoreApplication::instance()->removeEventFilter(this);
    for (auto &[window, event] : held_) {
        if (window)
            QCoreApplication::postEvent(window, event.release());
    }
    held_.clear();
}

void HeldInput::drop()
{
    QCoreApplication::instance()->removeEventFilter(this);
    held_.clear();
}

LiveRun::LiveRun() : dispatcher_(QAbstractEventDispatcher::instance())
{
    if (dispatcher_ == nullptr)
        return;  // no event loop to keep alive: the work is done where it is asked for
    try {
        thread_ = std::thread([this] { serve(); });
    } catch (const std::system_error &) {
        // No thread to be had (a process limit): the work is done on the window's thread.
    }
}

LiveRun::~LiveRun()
{
    if (thread_.joinable()) {
        {
            const std::lock_guard lock(mutex_);
            ending_ = true;
        }
        jobReady_.notify_one();
        thread_.join();
    }
    // Input given to a window that was closed meanwhile has nothing left to act on.
    if (stopRequested_)
        input_.drop();
    else
        input_.deliver();
}

void LiveRun::awaitJob(const std::function<void()> &job)
{
    // Without a thread, and for work asked for by an event handled while waiting, the work is
    // done here and now.
    if (!thread_.joinable() || awaiting_) {
        job();
        return;
    }
    awaiting_ = true;
    jobDone_.store(false, std::memory_order_relaxed);
    {
        const std::lock_guard lock(mutex_);
        job_ = &job;
    }
    jobReady_.notify_one();
    while (!jobDone_.load(std::memory_order_acquire))
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    // Once more, however quickly the job ended: what came meanwhile (the close box among it) is
    // handled before the run goes on, so that a close stops the run after the photo it came in.
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    awaiting_ = false;
    if (failure_)
        std::rethrow_exception(std::exchange(failure_, nullptr));
}

void LiveRun::serve()
{
    for (;;) {
        const std::function<void()> *job = nullptr;
        {
            std::unique_lock lock(mutex_);
            jobReady_.wait(lock, [this] { return ending_ || job_ != nullptr; });
            if (job_ == nullptr)
                return;
            job = std::exchange(job_, nullptr);
        }
        try {
            (*job)();
        } catch (...) {
            failure_ = std::current_exception();
        }
        jobDone_.store(true, std::memory_order_release);
        dispatcher_->wakeUp();
    }
}

std::optional<quint32> LiveLibrary::readFileIntoDIB(const QByteArray &path)
{
    return run_.await([&] { return library_.readFileIntoDIB(path); });
}

std::optional<quint32> LiveLibrary::zoomDIB(quint32 image, qint32 scaleX, qint32 scaleY)
{
    return run_.await([&] { return library_.zoomDIB(image, scaleX, scaleY); });
}

std::optional<qint16> LiveLibrary::writeDIBToFile(quint32 image, const QByteArray &path, qint16 option)
{
    return run_.await([&] { return library_.writeDIBToFile(image, path, option); });
}

bool LiveLibrary::dibFree(quint32 image)
{
    return run_.await([&] { return library_.dibFree(image); });
}

}  // namespace redim
