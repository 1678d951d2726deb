#include "instancechannel.h"

#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>
#include <QScopeGuard>
#include <QStandardPaths>

#include <unistd.h>

namespace platform {

namespace {
constexpr int kLockWaitMs = 5000;
constexpr int kConnectMs = 2000;
// The running program answers from its event loop, which a modal dialog keeps turning.
constexpr int kAnswerMs = 5000;
constexpr qint64 kLongestMessage = 1024;
const QByteArray kTaken = QByteArrayLiteral("taken\n");
} // namespace

QString InstanceChannel::socketPathForUser() {
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (folder.isEmpty())
        return {}; // no folder of the user's own: no channel, rather than one in the open
    return QDir(folder).filePath(QStringLiteral("kirrow-%1").arg(::getuid()));
}

InstanceChannel::InstanceChannel(const QString &socketPath, QObject *parent)
    : QObject(parent), m_path(socketPath), m_startLock(socketPath + QStringLiteral(".lock")) {
    // A start that cannot have the lock in time goes on without it rather than not at all.
    if (!m_path.isEmpty())
        m_startLock.tryLock(kLockWaitMs);
}

InstanceChannel::~InstanceChannel() = default;

bool InstanceChannel::handOver(const QByteArray &message) {
    if (m_path.isEmpty())
        return false;
    QLocalSocket socket;
    socket.connectToServer(m_path);
    if (!socket.waitForConnected(kConnectMs))
        return false;
    socket.write(message + '\n');
    while (socket.bytesToWrite() > 0)
        if (!socket.waitForBytesWritten(kAnswerMs))
            return false;
    // Taken once the running program says so: one that is ending may have gone without reading.
    QByteArray answer;
    while (answer.size() < kTaken.size() && socket.waitForReadyRead(kAnswerMs))
        answer += socket.readAll();
    return answer.startsWith(kTaken);
}

bool InstanceChannel::listen() {
    if (m_server || m_path.isEmpty())
        return m_server != nullptr;
    const auto unlock = qScopeGuard([this] { m_startLock.unlock(); });
    QLocalSocket probe;
    probe.connectToServer(m_path);
    if (probe.waitForConnected(kConnectMs))
        return false; // another one runs and answers
    // Nothing answers there: a socket left by a program that crashed, or none.
    QLocalServer::removeServer(m_path);
    auto *server = new QLocalServer(this);
    server->setSocketOptions(QLocalServer::UserAccessOption);
    if (!server->listen(m_path)) {
        delete server;
        return false;
    }
    m_server = server;
    connect(m_server, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket *socket = m_server->nextPendingConnection()) {
            connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
            connect(socket, &QLocalSocket::readyRead, this, [this, socket] { takeFrom(socket); });
            takeFrom(socket);
        }
    });
    return true;
}

void InstanceChannel::takeFrom(QLocalSocket *socket) {
    if (!socket->canReadLine()) {
        if (socket->bytesAvailable() > kLongestMessage)
            socket->abort(); // not one of ours
        return;
    }
    disconnect(socket, &QLocalSocket::readyRead, this, nullptr);
    const QByteArray line = socket->readLine();
    // Handled before the answer goes, so the start that handed it over ends after that.
    if (line.size() <= kLongestMessage)
        emit received(line.chopped(1));
    socket->write(kTaken);
    socket->disconnectFromServer();
}

} // namespace platform
