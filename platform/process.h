// Starting an outside program without waiting for it, and knowing when it has ended.
#pragma once

#include <QString>
#include <QStringList>

#include <chrono>
#include <memory>
#include <mutex>
#include <vector>

namespace redim {

class ProcessStarter {
public:
    virtual ~ProcessStarter() = default;

    // Starts `program` with `arguments` (each one argument as it stands: no shell, no quoting)
    // and returns at once. False when the program could not be started (missing, not
    // executable).
    virtual bool start(const QString &program, const QStringList &arguments) = 0;

    // Blocks until every program started here has ended, or `timeout` has passed: true when
    // none is running any more.
    virtual bool waitForAll(std::chrono::milliseconds timeout) = 0;
};

// Starts real processes. Each child is reaped as soon as it ends by the event loop of the thread
// that started it, which watches a descriptor of the child (a pidfd) for its end: no zombie is
// left, whether or not anybody waits for it. waitForAll() may be called from any thread.
class SpawnProcessStarter final : public ProcessStarter {
public:
    SpawnProcessStarter();
    ~SpawnProcessStarter() override;
    SpawnProcessStarter(const SpawnProcessStarter &) = delete;
    SpawnProcessStarter &operator=(const SpawnProcessStarter &) = delete;

    bool start(const QString &program, const QStringList &arguments) override;
    bool waitForAll(std::chrono::milliseconds timeout) override;

private:
    struct Child;
    void reap();
    void reapAndStopWatching();

    std::mutex mutex_;
    std::vector<std::unique_ptr<Child>> children_;  // guarded by mutex_; ended ones until the next start
};

}  // namespace redim
