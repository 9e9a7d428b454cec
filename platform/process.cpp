// Starting the converter with posix_spawn and reaping it when its pidfd says it has ended.
#include "platform/process.h"
#include "platform/pathcodec.h"

#include "common/unique_fd.h"

#include <QAbstractEventDispatcher>
#include <QSocketNotifier>

#include <algorithm>
#include <cerrno>

#include <poll.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace redim {

struct SpawnProcessStarter::Child {
    pid_t pid = 0;  // 0 once reaped
    // Readable once the child has ended; shared with a wait that polls it, so that it stays open
    // meanwhile. None where the system gives no pidfd: the child is then reaped by the next wait
    // or start.
    std::shared_ptr<const common::unique_fd> pidfd;
    std::unique_ptr<QSocketNotifier> ended;  // on the thread that started it
};

SpawnProcessStarter::SpawnProcessStarter() = default;

SpawnProcessStarter::~SpawnProcessStarter()
{
    const std::lock_guard lock(mutex_);
    reap();  // a child still running is left to the system once this program ends
}

bool SpawnProcessStarter::start(const QString &program, const QStringList &arguments)
{
    std::vector<QByteArray> storage;
    storage.reserve(arguments.size() + 1);
    storage.push_back(encodePath(program));
    for (const QString &argument : arguments)
        storage.push_back(encodePath(argument));
    std::vector<char *> argv;
    for (QByteArray &item : storage)
        argv.push_back(item.data());
    argv.push_back(nullptr);

    // glibc's posix_spawn reports a failed exec (missing or non-executable program) as an error
    // here instead of leaving a child that exits at once.
    pid_t pid = 0;
    if (::posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0)
        return false;

    auto child = std::make_unique<Child>();
    child->pid = pid;
    // The child is not reaped before this, so its pid names it still, ended or not.
    // (Debian 12's glibc declares pidfd_open without C linkage: the system call is made directly.)
    if (const int pidfd = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0)); pidfd >= 0) {
        child->pidfd = std::make_shared<const common::unique_fd>(pidfd);
        if (QAbstractEventDispatcher::instance()) {
            child->ended = std::make_unique<QSocketNotifier>(pidfd, QSocketNotifier::Read);
            QObject::connect(child->ended.get(), &QSocketNotifier::activated, [this] { reapAndStopWatching(); });
        }
    }
    const std::lock_guard lock(mutex_);
    reap();
    std::erase_if(children_, [](const std::unique_ptr<Child> &known) { return known->pid == 0; });
    children_.push_back(std::move(child));
    return true;
}

bool SpawnProcessStarter::waitForAll(std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        std::vector<std::shared_ptr<const common::unique_fd>> running;
        {
            const std::lock_guard lock(mutex_);
            reap();
            for (const std::unique_ptr<Child> &child : children_) {
                if (child->pid != 0)
                    running.push_back(child->pidfd);
            }
        }
        if (running.empty())
            return true;
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            return false;
        // Until one of them ends; a child without a pidfd (-1, which poll passes over) is looked at
        // again once the time is up.
        std::vector<pollfd> watched;
        for (const auto &pidfd : running)
            watched.push_back({pidfd ? pidfd->get() : -1, POLLIN, 0});
        ::poll(watched.data(), watched.size(), static_cast<int>(left.count()));
    }
}

// Reaps the children that have ended. With the mutex held.
void SpawnProcessStarter::reap()
{
    for (const std::unique_ptr<Child> &child : children_) {
        if (child->pid == 0)
            continue;
        int status = 0;
        const pid_t reaped = ::waitpid(child->pid, &status, WNOHANG);
        if (reaped > 0 || (reaped < 0 && errno == ECHILD))
            child->pid = 0;
    }
}

// A child's end, seen by the event loop: it is reaped, and its pidfd, readable for ever now, is
// watched no more.
void SpawnProcessStarter::reapAndStopWatching()
{
    const std::lock_guard lock(mutex_);
    reap();
    for (const std::unique_ptr<Child> &child : children_) {
        if (child->pid == 0 && child->ended)
            child->ended->setEnabled(false);
    }
}

}  // namespace redim
