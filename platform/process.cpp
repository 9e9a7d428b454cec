// Starting the converter with posix_spawn and reaping it from a waiting thread.
#include "platform/process.h"
#include "platform/pathcodec.h"

#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include <spawn.h>
#include <sys/wait.h>

extern char **environ;

namespace redim {

struct SpawnProcessStarter::Children {
    std::mutex mutex;
    std::condition_variable ended;
    int running = 0;
};

SpawnProcessStarter::SpawnProcessStarter() : children_(std::make_shared<Children>()) {}

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

    {
        std::lock_guard lock(children_->mutex);
        ++children_->running;
    }
    std::thread([pid, children = children_] {
        int status = 0;
        while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
        std::lock_guard lock(children->mutex);
        --children->running;
        children->ended.notify_all();
    }).detach();
    return true;
}

bool SpawnProcessStarter::anyRunning() const
{
    std::lock_guard lock(children_->mutex);
    return children_->running > 0;
}

bool SpawnProcessStarter::waitForAll(std::chrono::milliseconds timeout)
{
    std::unique_lock lock(children_->mutex);
    return children_->ended.wait_for(lock, timeout, [this] { return children_->running == 0; });
}

}  // namespace redim
