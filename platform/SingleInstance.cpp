#include "SingleInstance.h"

#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>

#include "Platform.h"
#include "PlatformLogging.h"

namespace {
const QByteArray kActivate("activate\n");

// A path in the private folder: a Unix socket there, a named pipe of that name on Windows (pipe names may hold any
// character but a backslash). Empty without a private folder.
QString fileInPrivateFolder(const QString& name)
{
    const QString folder = Platform::privateTempFolder();
    return folder.isEmpty() ? QString() : folder + QLatin1Char('/') + name;
}

QString serverName()
{
    return fileInPrivateFolder(QStringLiteral("launcher.socket"));
}
} // namespace

SingleInstance::SingleInstance(QObject* parent) : QObject(parent)
{}

SingleInstance::~SingleInstance() = default;

bool SingleInstance::tryAcquire()
{
    if (m_lock)
        return true;
    const QString lockPath = fileInPrivateFolder(QStringLiteral("launcher.lock"));
    if (lockPath.isEmpty()) {
        qCWarning(lcPlatform) << "No private folder for the launcher's lock; a second launcher is not refused";
        return true;
    }
    auto lock = std::make_unique<QLockFile>(lockPath);
    // Only a lock whose launcher has died is stale, however long a launcher runs.
    lock->setStaleLockTime(0);
    if (!lock->tryLock(0)) {
        if (lock->error() != QLockFile::LockFailedError) {
            qCWarning(lcPlatform) << "Cannot create the launcher's lock" << lockPath << "error" << lock->error();
            return true;
        }
        return false;
    }
    m_lock = std::move(lock);

    // The lock is ours, so a socket left there belongs to a launcher that died.
    const QString name = serverName();
    QLocalServer::removeServer(name);
    m_server = new QLocalServer(this);
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    connect(m_server, &QLocalServer::newConnection, this, &SingleInstance::onNewConnection);
    if (!m_server->listen(name))
        qCWarning(lcPlatform) << "Cannot listen for a second launcher on" << name << m_server->errorString();
    return true;
}

bool SingleInstance::notifyRunning(int timeoutMs)
{
    const QString name = serverName();
    if (name.isEmpty())
        return false;
    QLocalSocket socket;
    socket.connectToServer(name);
    if (!socket.waitForConnected(timeoutMs)) {
        qCWarning(lcPlatform) << "The running launcher does not answer:" << socket.errorString();
        return false;
    }
    socket.write(kActivate);
    const bool sent = socket.waitForBytesWritten(timeoutMs);
    socket.disconnectFromServer();
    return sent;
}

void SingleInstance::onNewConnection()
{
    while (QLocalSocket* socket = m_server->nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        // The message may arrive in pieces, or only be readable once the sender has gone.
        const auto read = [this, socket] {
            if (socket->bytesAvailable() < kActivate.size())
                return;
            if (socket->read(kActivate.size()) == kActivate) {
                qCInfo(lcPlatform) << "A second start asks for the launcher's window";
                emit activationRequested();
            }
            socket->disconnectFromServer();
        };
        connect(socket, &QLocalSocket::readyRead, this, read);
        read();
    }
}
