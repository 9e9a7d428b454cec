// One program per user: the first start holds a lock in the private temporary folder, and a
// later start asks it to bring its window forward instead of opening a second session on the
// same result folder.
#pragma once

#include <QObject>
#include <QString>

class QLocalServer;
class QLocalSocket;

namespace redim {

class OneInstance final : public QObject {
    Q_OBJECT

public:
    // Takes the lock in `privateFolder`, which must exist. The lock is the system's (flock), so
    // a program that was killed or crashed holds it no longer.
    explicit OneInstance(const QString &privateFolder);
    ~OneInstance() override;
    OneInstance(const OneInstance &) = delete;
    OneInstance &operator=(const OneInstance &) = delete;

    // True unless another program of this user holds the lock. Without a lock to take (the
    // folder cannot be used), every start is first: it writes nothing there anyway.
    bool isFirst() const { return first_; }

    // Asks the program that holds the lock to bring its window forward, waiting a moment for
    // one that is still starting; false when none answers. `activationToken` is this start's
    // XDG_ACTIVATION_TOKEN (empty when it has none): a Wayland compositor lets a window come
    // forward only with the token of the launch that asked for it.
    bool askFirstToComeForward(const QString &activationToken) const;

    // Gives the lock up, once this program's session is over.
    void release();

signals:
    // A later start asked for this program's window, with its activation token (empty when it
    // had none, or sent one no compositor would take).
    void comeForwardAsked(const QString &activationToken);

private:
    void listen();
    void answer(QLocalSocket *caller);

    const QString lockPath_;
    const QString socketPath_;
    int lock_ = -1;
    bool first_ = true;
    QLocalServer *server_ = nullptr;
};

}  // namespace redim
