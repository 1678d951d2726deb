#include "instancechannel.h"

#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QScopeGuard>
#include <QSocketNotifier>
#include <QStandardPaths>
#include <QTimer>

#include <QFile>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <utility>

namespace platform {

namespace {
constexpr int kLockWaitMs = 5000;
// The running program answers from its event loop, which a modal dialog keeps turning.
constexpr int kAnswerMs = 5000;
constexpr qsizetype kLongestMessage = 1024;
// A later start sends its line within milliseconds; a connection that sends nothing for this long,
// or beyond this many at once, is not one and would otherwise hold an open file for good.
constexpr int kCallerIdleMs = 3000;
constexpr std::size_t kMostCallers = 16;
const QByteArray kTaken = QByteArrayLiteral("taken\n");

// A file descriptor closed when it goes out of scope unless released.
struct Fd {
    int fd = -1;
    ~Fd() {
        if (fd >= 0)
            ::close(fd);
    }
    int release() { return std::exchange(fd, -1); }
};

// An open file at path, locked for this program alone, waiting up to kLockWaitMs for another
// start to let go of it; -1 when it cannot be had. The system lets go of the lock when the file is
// closed or the program ends, however it ends, so no lock is ever left behind. (Qt's lock file
// writes, and syncs to the disk, who holds it: a millisecond or two of every start.)
int takeLock(const QString &path) {
    Fd lock{::open(QFile::encodeName(path).constData(), O_RDWR | O_CREAT | O_CLOEXEC,
                   S_IRUSR | S_IWUSR)};
    if (lock.fd < 0)
        return -1;
    const QDeadlineTimer deadline(kLockWaitMs);
    while (::flock(lock.fd, LOCK_EX | LOCK_NB) < 0) {
        if ((errno != EWOULDBLOCK && errno != EINTR) || deadline.hasExpired())
            return -1;
        ::usleep(2000); // the other start takes a few milliseconds to listen
    }
    return lock.release();
}

// The address of path; false when the path does not fit one.
bool addressOf(const QString &path, sockaddr_un &address) {
    const QByteArray encoded = QFile::encodeName(path);
    std::memset(&address, 0, sizeof address);
    address.sun_family = AF_UNIX;
    if (encoded.size() >= qsizetype(sizeof address.sun_path))
        return false;
    std::memcpy(address.sun_path, encoded.constData(), size_t(encoded.size()));
    return true;
}

// A stream socket connected to path, or -1 when nothing listens there.
int connectTo(const QString &path) {
    sockaddr_un address;
    if (!addressOf(path, address))
        return -1;
    Fd socket{::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0)};
    if (socket.fd < 0)
        return -1;
    int result;
    do
        result = ::connect(socket.fd, reinterpret_cast<const sockaddr *>(&address), sizeof address);
    while (result < 0 && errno == EINTR);
    return result == 0 ? socket.release() : -1;
}

// Waits up to kAnswerMs for fd to be ready for events; false on time out or error.
bool awaitReady(int fd, short events) {
    pollfd entry{fd, events, 0};
    int result;
    do
        result = ::poll(&entry, 1, kAnswerMs);
    while (result < 0 && errno == EINTR);
    return result > 0 && (entry.revents & events);
}

bool sendAll(int fd, QByteArray data) {
    while (!data.isEmpty()) {
        if (!awaitReady(fd, POLLOUT))
            return false;
        const ssize_t sent = ::send(fd, data.constData(), size_t(data.size()), MSG_NOSIGNAL);
        if (sent < 0 && errno != EINTR && errno != EAGAIN)
            return false;
        if (sent > 0)
            data.remove(0, sent);
    }
    return true;
}
} // namespace

// One later start talking to this program: what it has sent so far, and its socket's watcher.
struct InstanceChannel::Caller {
    QByteArray pending;
    std::unique_ptr<QSocketNotifier> readable;
    std::unique_ptr<QTimer> idle;
    quint64 order = 0; // the older, the smaller
};

QString InstanceChannel::socketNameFor(const QString &settingsFolder) {
    // The same folder however it is written (a trailing slash, a link on the way to it), also
    // before the first start has made it; a digest keeps the name short enough for a socket's
    // address whatever the folder's length.
    QFileInfo existing(QDir::cleanPath(QFileInfo(settingsFolder).absoluteFilePath()));
    QStringList missing;
    while (!existing.exists() && !existing.isRoot()) {
        missing.prepend(existing.fileName());
        existing = QFileInfo(existing.absolutePath());
    }
    const QString folder = QDir(existing.canonicalFilePath()).filePath(missing.join(u'/'));
    const QByteArray digest =
        QCryptographicHash::hash(QFile::encodeName(folder), QCryptographicHash::Sha1).toHex();
    return QStringLiteral("kirrow-%1-%2").arg(::getuid()).arg(QLatin1String(digest.left(16)));
}

QString InstanceChannel::socketPathFor(const QString &settingsFolder) {
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (folder.isEmpty())
        return {}; // no folder of the user's own: no channel, rather than one in the open
    return QDir(folder).filePath(socketNameFor(settingsFolder));
}

InstanceChannel::InstanceChannel(const QString &socketPath, QObject *parent)
    : QObject(parent), m_path(socketPath) {
    // A start that cannot have the lock in time goes on without it rather than not at all.
    if (!m_path.isEmpty())
        m_startLock = takeLock(m_path + QStringLiteral(".lock"));
}

InstanceChannel::~InstanceChannel() {
    if (m_startLock >= 0)
        ::close(m_startLock);
    stopListening();
}

void InstanceChannel::stopListening() {
    while (!m_callers.empty())
        hangUp(m_callers.begin()->first);
    if (m_listener < 0)
        return;
    // Gone first, then closed: a start that meanwhile finds no socket and makes its own keeps it.
    ::unlink(QFile::encodeName(m_path).constData());
    delete std::exchange(m_listening, nullptr);
    ::close(std::exchange(m_listener, -1));
}

bool InstanceChannel::handOver(const QByteArray &message) {
    if (m_path.isEmpty())
        return false;
    Fd socket{connectTo(m_path)};
    if (socket.fd < 0 || ::fcntl(socket.fd, F_SETFL, O_NONBLOCK) < 0)
        return false;
    if (!sendAll(socket.fd, message + '\n'))
        return false;
    // Taken once the running program says so: one that is ending may have gone without reading.
    QByteArray answer;
    while (answer.size() < kTaken.size() && awaitReady(socket.fd, POLLIN)) {
        char buffer[64];
        const ssize_t got = ::recv(socket.fd, buffer, sizeof buffer, 0);
        if (got == 0 || (got < 0 && errno != EINTR && errno != EAGAIN))
            break;
        if (got > 0)
            answer.append(buffer, got);
    }
    return answer.startsWith(kTaken);
}

bool InstanceChannel::listen() {
    if (m_listener >= 0 || m_path.isEmpty())
        return m_listener >= 0;
    const auto unlock = qScopeGuard([this] {
        if (m_startLock >= 0)
            ::close(std::exchange(m_startLock, -1));
    });
    if (Fd running{connectTo(m_path)}; running.fd >= 0)
        return false; // another one runs and answers
    // Nothing answers there: a socket left by a program that crashed, or none.
    const QByteArray file = QFile::encodeName(m_path);
    ::unlink(file.constData());
    sockaddr_un address;
    if (!addressOf(m_path, address))
        return false;
    Fd listener{::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0)};
    if (listener.fd < 0 ||
        ::bind(listener.fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) < 0)
        return false;
    // Only this user may knock (the runtime folder is the user's own as well).
    if (::chmod(file.constData(), S_IRUSR | S_IWUSR) < 0 || ::listen(listener.fd, 8) < 0) {
        ::unlink(file.constData());
        return false;
    }
    m_listener = listener.release();
    m_listening = new QSocketNotifier(m_listener, QSocketNotifier::Read, this);
    connect(m_listening, &QSocketNotifier::activated, this, &InstanceChannel::acceptCallers);
    return true;
}

void InstanceChannel::acceptCallers() {
    for (;;) {
        const int fd = ::accept4(m_listener, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0)
            return; // none left (EAGAIN), or one that hung up before it was taken
        if (m_callers.size() >= kMostCallers)
            hangUp(std::min_element(m_callers.begin(), m_callers.end(), [](auto &a, auto &b) {
                       return a.second->order < b.second->order;
                   })->first);
        auto caller = std::make_unique<Caller>();
        caller->order = ++m_callersSeen;
        caller->readable = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
        connect(caller->readable.get(), &QSocketNotifier::activated, this,
                [this, fd] { readFrom(fd); });
        caller->idle = std::make_unique<QTimer>();
        caller->idle->setSingleShot(true);
        connect(caller->idle.get(), &QTimer::timeout, this, [this, fd] { hangUp(fd); });
        caller->idle->start(kCallerIdleMs);
        m_callers[fd] = std::move(caller);
        readFrom(fd);
    }
}

void InstanceChannel::readFrom(int fd) {
    const auto found = m_callers.find(fd);
    if (found == m_callers.end())
        return;
    QByteArray &pending = found->second->pending;
    char buffer[512];
    ssize_t got;
    while ((got = ::recv(fd, buffer, sizeof buffer, 0)) > 0)
        pending.append(buffer, got);
    const qsizetype end = pending.indexOf('\n');
    if (end < 0) {
        // Still coming, unless it hung up or is not one of ours.
        if (got == 0 || (got < 0 && errno != EAGAIN && errno != EINTR) ||
            pending.size() > kLongestMessage)
            hangUp(fd);
        return;
    }
    const QByteArray line = pending.left(end);
    found->second->readable->setEnabled(false);
    // Handled before the answer goes, so the start that handed it over ends after that.
    if (line.size() < kLongestMessage)
        emit received(line);
    ::send(fd, kTaken.constData(), size_t(kTaken.size()), MSG_NOSIGNAL);
    hangUp(fd);
}

void InstanceChannel::hangUp(int fd) {
    const auto found = m_callers.find(fd);
    if (found == m_callers.end())
        return;
    found->second->readable.reset();
    found->second->idle.reset();
    m_callers.erase(found);
    ::close(fd);
}

} // namespace platform
