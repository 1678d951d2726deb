#include "freeport.h"

#include <QFile>
#include <QHostAddress>
#include <QMutex>
#include <QProcess>
#include <QSet>
#include <QUdpSocket>

namespace {

quint16 unusedPort() {
    static QMutex mutex;
    static QSet<quint16> handedOut;

    const QMutexLocker lock(&mutex);
    // The kernel may give back a port it gave us a moment ago; skip those.
    for (int attempt = 0; attempt < 100; ++attempt) {
        QUdpSocket socket;
        if (!socket.bind(QHostAddress::LocalHost, 0))
            continue;
        const quint16 port = socket.localPort();
        socket.close();
        if (port != 0 && !handedOut.contains(port)) {
            handedOut.insert(port);
            return port;
        }
    }
    qFatal("freeport: no unused UDP port on 127.0.0.1");
    return 0;
}

} // namespace

quint16 freeUdpPort() {
    return unusedPort();
}

quint16 deadUdpPort() {
    // Same source: free now, and never handed to anyone who will bind it.
    return unusedPort();
}

namespace {

// Whether a /proc/net/udp table lists a socket bound to port.
bool tableHasPort(const QByteArray &table, quint16 port) {
    // Lines look like "  12: 0100007F:13C4 00000000:0000 07 ...": the second
    // field is local address:port, the port in upper-case hex.
    const QByteArray wanted = ':' + QByteArray::number(port, 16).toUpper().rightJustified(4, '0');
    const QList<QByteArray> lines = table.split('\n');
    for (const QByteArray &line : lines) { // the headers match nothing
        const QList<QByteArray> fields = line.simplified().split(' ');
        if (fields.size() > 1 && fields.at(1).endsWith(wanted))
            return true;
    }
    return false;
}

} // namespace

bool udpPortInUse(quint16 port) {
    for (const char *table : {"/proc/net/udp", "/proc/net/udp6"}) {
        QFile file(QString::fromLatin1(table));
        // readAll: /proc files report size 0, so atEnd() cannot be trusted.
        if (file.open(QIODevice::ReadOnly) && tableHasPort(file.readAll(), port))
            return true;
    }
    return false;
}

bool udpPortInUse(quint16 port, const QStringList &commandPrefix) {
    if (commandPrefix.isEmpty())
        return udpPortInUse(port);
    QProcess cat;
    cat.start(QStringLiteral("timeout"),
              QStringList{QStringLiteral("5")} + commandPrefix +
                  QStringList{QStringLiteral("cat"), QStringLiteral("/proc/net/udp"),
                              QStringLiteral("/proc/net/udp6")});
    cat.waitForFinished(10000);
    return tableHasPort(cat.readAllStandardOutput(), port);
}
