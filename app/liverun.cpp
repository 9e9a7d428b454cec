// A handler's long work on a thread of its own, the window's thread meanwhile handling its
// events, and the user's input held back until the work is over.
#include "app/liverun.h"

#include <QAbstractEventDispatcher>
#include <QApplication>
#include <QEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QThreadPool>
#include <QWidget>
#include <QWindow>

#include <algorithm>

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

// A held event's values, to make it again when it is handed back.
std::function<std::unique_ptr<QEvent>()> rebuilder(const QEvent *event)
{
    switch (event->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::MouseMove: {
        const auto *mouse = static_cast<const QMouseEvent *>(event);
        return [type = mouse->type(), position = mouse->position(), scene = mouse->scenePosition(),
                global = mouse->globalPosition(), button = mouse->button(), buttons = mouse->buttons(),
                modifiers = mouse->modifiers(), device = mouse->pointingDevice(), time = mouse->timestamp()] {
            auto made =
                std::make_unique<QMouseEvent>(type, position, scene, global, button, buttons, modifiers, device);
            made->setTimestamp(time);
            return made;
        };
    }
    case QEvent::Wheel: {
        const auto *wheel = static_cast<const QWheelEvent *>(event);
        return [position = wheel->position(), global = wheel->globalPosition(), pixels = wheel->pixelDelta(),
                angle = wheel->angleDelta(), buttons = wheel->buttons(), modifiers = wheel->modifiers(),
                phase = wheel->phase(), inverted = wheel->inverted(), device = wheel->pointingDevice()] {
            return std::make_unique<QWheelEvent>(position, global, pixels, angle, buttons, modifiers, phase, inverted,
                                                 Qt::MouseEventNotSynthesized, device);
        };
    }
    case QEvent::TouchBegin:
    case QEvent::TouchUpdate:
    case QEvent::TouchEnd:
    case QEvent::TouchCancel: {
        const auto *touch = static_cast<const QTouchEvent *>(event);
        QList<QEventPoint> points;
        for (const QEventPoint &point : touch->points())
            points.append(QEventPoint(point.id(), point.state(), point.scenePosition(), point.globalPosition()));
        return [type = touch->type(), device = touch->pointingDevice(), modifiers = touch->modifiers(), points] {
            return std::make_unique<QTouchEvent>(type, device, modifiers, points);
        };
    }
    case QEvent::TabletPress:
    case QEvent::TabletMove:
    case QEvent::TabletRelease: {
        const auto *tablet = static_cast<const QTabletEvent *>(event);
        return
            [type = tablet->type(), device = tablet->pointingDevice(), position = tablet->position(),
             global = tablet->globalPosition(), pressure = tablet->pressure(), xTilt = tablet->xTilt(),
             yTilt = tablet->yTilt(), tangential = tablet->tangentialPressure(), rotation = tablet->rotation(),
             z = tablet->z(), modifiers = tablet->modifiers(), button = tablet->button(), buttons = tablet->buttons()] {
                return std::make_unique<QTabletEvent>(type, device, position, global, pressure, xTilt, yTilt,
                                                      tangential, rotation, z, modifiers, button, buttons);
            };
    }
    case QEvent::NativeGesture: {
        const auto *gesture = static_cast<const QNativeGestureEvent *>(event);
        return [type = gesture->gestureType(), device = gesture->pointingDevice(), fingers = gesture->fingerCount(),
                position = gesture->position(), scene = gesture->scenePosition(), global = gesture->globalPosition(),
                value = gesture->value(), delta = gesture->delta()] {
            return std::make_unique<QNativeGestureEvent>(type, device, fingers, position, scene, global, value, delta);
        };
    }
    default: {
        // Keys, input method and context menu events carry no point: a copy keeps them whole.
        std::shared_ptr<const QEvent> copy(event->clone());
        return [copy] { return std::unique_ptr<QEvent>(copy->clone()); };
    }
    }
}

// The widget of a top-level window, if it is one of the program's.
QWidget *widgetOf(const QObject *window)
{
    const QWidgetList windows = QApplication::topLevelWidgets();
    const auto found = std::find_if(windows.begin(), windows.end(),
                                    [&](const QWidget *widget) { return widget->windowHandle() == window; });
    return found == windows.end() ? nullptr : *found;
}

}  // namespace

HeldInput &HeldInput::instance()
{
    static QPointer<HeldInput> input;
    if (!input)
        input = new HeldInput;  // goes with the application
    return *input;
}

HeldInput::HeldInput() : QObject(QCoreApplication::instance())
{
    QCoreApplication::instance()->installEventFilter(this);
}

void HeldInput::hold()
{
    ++runs_;
}

void HeldInput::release()
{
    if (--runs_ == 0)
        scheduleDelivery();
}

void HeldInput::drop()
{
    --runs_;
    queue_.clear();
}

void HeldInput::letThrough(QWidget *control)
{
    letThrough_.emplace_back(control);
}

// Input reaches a window first and goes from there to the control under the pointer or with the
// focus; holding it at the window holds it from every control. While an event handed back is
// handled (a dialog it opened, say), input goes to that dialog as usual.
bool HeldInput::eventFilter(QObject *receiver, QEvent *event)
{
    if (!receiver->isWindowType() || !isUserInput(event->type()) || event == delivering_)
        return false;
    if (actsAtOnce(receiver, event))
        return false;
    const bool waiting = runs_ > 0 || (!queue_.empty() && delivering_ == nullptr);
    if (!waiting)
        return false;
    queue_.push_back({receiver, rebuilder(event)});
    return true;
}

// During a run, a press on a control let through goes to it, and so do the moves and the release
// that follow it; so does Space on such a control with the focus.
bool HeldInput::actsAtOnce(QObject *receiver, QEvent *event)
{
    const auto isLetThrough = [&](const QWidget *widget) {
        return widget && std::find(letThrough_.begin(), letThrough_.end(), widget) != letThrough_.end();
    };
    switch (event->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick:
        if (!passing_ && runs_ > 0) {
            const QWidget *window = widgetOf(receiver);
            const QPoint at = static_cast<QMouseEvent *>(event)->position().toPoint();
            passing_ = window && isLetThrough(window->childAt(at));
        }
        return passing_;
    case QEvent::MouseMove: return passing_;
    case QEvent::MouseButtonRelease: return std::exchange(passing_, false);
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
        return runs_ > 0 && static_cast<QKeyEvent *>(event)->key() == Qt::Key_Space &&
               isLetThrough(QApplication::focusWidget());
    default: return false;
    }
}

void HeldInput::scheduleDelivery()
{
    if (scheduled_ || delivering_ != nullptr || queue_.empty())
        return;
    scheduled_ = true;
    QMetaObject::invokeMethod(this, &HeldInput::deliverNext, Qt::QueuedConnection);
}

// Hands one event back, made anew from its values, and the next one once it has been handled
// and what it led to has been taken care of.
void HeldInput::deliverNext()
{
    scheduled_ = false;
    if (runs_ > 0 || queue_.empty())
        return;
    Held held = std::move(queue_.front());
    queue_.pop_front();
    if (held.window) {
        const std::unique_ptr<QEvent> event = held.rebuild();
        delivering_ = event.get();
        QCoreApplication::sendEvent(held.window, event.get());
        delivering_ = nullptr;
    }
    scheduleDelivery();
}

// The ends to run when the window's thread leaves by exit().
struct EndsAtExit {
    std::vector<EndBeforeExit *> ends;
    ~EndsAtExit()
    {
        for (EndBeforeExit *end : std::exchange(ends, {}))
            end->end_();
    }
};

namespace {
thread_local EndsAtExit endsAtExit;
}  // namespace

EndBeforeExit::EndBeforeExit(std::function<void()> end) : end_(std::move(end))
{
    endsAtExit.ends.push_back(this);
}

EndBeforeExit::~EndBeforeExit()
{
    std::erase(endsAtExit.ends, this);
}

LiveRun::LiveRun(QThreadPool &threads) : threads_(threads), dispatcher_(QAbstractEventDispatcher::instance())
{
    HeldInput::instance().hold();
}

LiveRun::~LiveRun()
{
    threads_.waitForDone();  // and the pool's threads end: none outlives the run
    // Input given to a window that was closed meanwhile has nothing left to act on.
    if (stopRequested_)
        HeldInput::instance().drop();
    else
        HeldInput::instance().release();
}

void LiveRun::waitForJob()
{
    if (awaiting_)
        jobDone_.wait(false, std::memory_order_acquire);
}

void LiveRun::awaitJob(const std::function<void()> &job)
{
    // Without an event loop to keep alive, and for work asked for by an event handled while
    // waiting, the work is done here and now.
    if (dispatcher_ == nullptr || awaiting_) {
        job();
        return;
    }
    awaiting_ = true;
    jobDone_.store(false, std::memory_order_relaxed);
    threads_.start([this, &job, dispatcher = dispatcher_] {
        try {
            job();
        } catch (...) {
            failure_ = std::current_exception();
        }
        jobDone_.store(true, std::memory_order_release);
        jobDone_.notify_all();
        dispatcher->wakeUp();
    });
    while (!jobDone_.load(std::memory_order_acquire))
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    // Once more, however quickly the job ended: what came meanwhile (the close box among it) is
    // handled before the run goes on, so that a close stops the run after the photo it came in.
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    awaiting_ = false;
    if (failure_)
        std::rethrow_exception(std::exchange(failure_, nullptr));
}

quint32 LiveLibrary::readFileIntoDIB(const QByteArray &path)
{
    return run_.await([&] { return library_.readFileIntoDIB(path); });
}

quint32 LiveLibrary::zoomDIB(quint32 image, qint32 scaleX, qint32 scaleY)
{
    return run_.await([&] { return library_.zoomDIB(image, scaleX, scaleY); });
}

qint16 LiveLibrary::writeDIBToFile(quint32 image, const QByteArray &path, qint16 option)
{
    return run_.await([&] { return library_.writeDIBToFile(image, path, option); });
}

void LiveLibrary::dibFree(quint32 image)
{
    run_.await([&] { library_.dibFree(image); });
}

}  // namespace redim
