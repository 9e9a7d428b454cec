// Starting an outside program without waiting for it, and knowing when it has ended.
#pragma once

#include <QString>
#include <QStringList>

#include <chrono>
#include <memory>

namespace redim {

class ProcessStarter {
public:
    virtual ~ProcessStarter() = default;

    // Starts `program` with `arguments` (each one argument as it stands: no shell, no quoting)
    // and returns at once. False when the program could not be started (missing, not
    // executable).
    virtual bool start(const QString &program, const QStringList &arguments) = 0;

    // True while a program started here is still running.
    virtual bool anyRunning() const = 0;

    // Blocks until every program started here has ended, or `timeout` has passed: true when
    // none is running any more.
    virtual bool waitForAll(std::chrono::milliseconds timeout) = 0;
};

// Starts real processes. Each child is reaped by a small waiting thread as soon as it ends, so
// no zombie is left whether or not anybody waits for it.
class SpawnProcessStarter final : public ProcessStarter {
public:
    SpawnProcessStarter();
    bool start(const QString &program, const QStringList &arguments) override;
    bool anyRunning() const override;
    bool waitForAll(std::chrono::milliseconds timeout) override;

private:
    struct Children;
    std::shared_ptr<Children> children_;  // shared with the waiting threads, which may outlive us
};

}  // namespace redim
