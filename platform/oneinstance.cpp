// The lock with flock, the call for the window with Qt's local sockets.
#include "platform/oneinstance.h"
#include "platform/pathcodec.h"
#include "platform/paths.h"

#include "common/temporaries.h"

#include <QLocalServer>
#include <QLocalSocket>
#include <QThread>

#include <cerrno>
#include <memory>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace redim {

namespace {

// How long a later start tries to reach a first one that holds the lock but may still be
// starting, and how often.
constexpr int kAttempts = 50;
constexpr int kAttemptMilliseconds = 100;
// Activation tokens are short names the compositor made up; anything longer is no token.
constexpr qint64 kLongestToken = 4096;

}  // namespace

OneInstance::OneInstance(const QString &privateFolder)
    : lockPath_(privateFolder + kSeparator + QLatin1String(common::kLockName)),
      socketPath_(privateFolder + kSeparator + QLatin1String(common::kSocketName))
{
    lock_ = ::open(encodePath(lockPath_).constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (lock_ < 0)
        return;
    int locked = -1;
    do {
        locked = ::flock(lock_, LOCK_EX | LOCK_NB);
    } while (locked != 0 && errno == EINTR);
    if (locked != 0) {
        first_ = errno != EWOULDBLOCK;
        ::close(lock_);
        lock_ = -1;
        return;
    }
    listen();
}

OneInstance::~OneInstance()
{
    release();
}

void OneInstance::listen()
{
    // A socket left by a program that was killed is removed first: holding the lock, this
    // program is the only one that may listen there.
    QLocalServer::removeServer(socketPath_);
    server_ = new QLocalServer(this);
    server_->setSocketOptions(QLocalServer::UserAccessOption);
    connect(server_, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket *caller = server_->nextPendingConnection())
            answer(caller);
    });
    server_->listen(socketPath_);
}

// A later start writes its activation token, if any, and hangs up: the token is all it sent.
void OneInstance::answer(QLocalSocket *caller)
{
    auto token = std::make_shared<QByteArray>();
    connect(caller, &QLocalSocket::readyRead, caller, [caller, token] {
        token->append(caller->readAll());
        if (token->size() > kLongestToken)
            caller->abort();
    });
    connect(caller, &QLocalSocket::disconnected, this, [this, caller, token] {
        caller->deleteLater();
        token->append(caller->readAll());
        const bool usable = token->size() <= kLongestToken && !token->contains('\0');
        emit comeForwardAsked(usable ? QString::fromUtf8(*token) : QString());
    });
}

bool OneInstance::askFirstToComeForward(const QString &activationToken) const
{
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        QLocalSocket socket;
        socket.connectToServer(socketPath_);
        if (socket.waitForConnected(kAttemptMilliseconds)) {
            socket.write(activationToken.toUtf8());
            socket.disconnectFromServer();  // once what was written is sent
            if (socket.state() != QLocalSocket::UnconnectedState)
                socket.waitForDisconnected(kAttempts * kAttemptMilliseconds);
            return true;
        }
        QThread::msleep(kAttemptMilliseconds);
    }
    return false;
}

void OneInstance::release()
{
    if (server_) {
        server_->close();
        delete server_;
        server_ = nullptr;
    }
    if (lock_ >= 0) {
        ::close(lock_);  // closing the only descriptor of the lock releases it
        lock_ = -1;
    }
}

}  // namespace redim
