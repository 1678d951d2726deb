#include "sipcapture.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <arpa/inet.h>
#include <csignal>
#include <netinet/in.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr int startDeadlineMs = 20000;
constexpr int stopDeadlineMs = 10000;
constexpr int decodeDeadlineMs = 60000;
constexpr auto captureFile = "capture.pcapng";
constexpr auto logFile = "tshark.log";
// tshark prints this to stderr once the capture is running.
constexpr auto capturingLine = "Capturing on ";

void setError(QString *error, const QString &text) {
    if (error)
        *error = text;
}

QString findTshark() {
    return QStandardPaths::findExecutable(QStringLiteral("tshark"));
}

// Parses one UDP payload as a SIP message; false when it is none (a
// keep-alive, or not SIP at all).
bool parseSip(const QByteArray &datagram, SipCapture::SipMessage *message) {
    static const QRegularExpression requestLine(QStringLiteral("^([A-Za-z]+) \\S+ SIP/2\\.0$"));
    static const QRegularExpression statusLine(QStringLiteral("^SIP/2\\.0 ([1-6][0-9][0-9])( |$)"));

    qsizetype headEnd = datagram.indexOf("\r\n\r\n");
    const qsizetype bodyStart = headEnd < 0 ? datagram.size() : headEnd + 4;
    if (headEnd < 0)
        headEnd = datagram.size();
    const QList<QByteArray> lines = datagram.left(headEnd).split('\n');
    if (lines.isEmpty())
        return false;
    message->startLine = QString::fromUtf8(lines.first()).trimmed();
    if (const auto m = statusLine.match(message->startLine); m.hasMatch()) {
        message->status = m.captured(1).toInt();
    } else if (const auto r = requestLine.match(message->startLine); r.hasMatch()) {
        message->method = r.captured(1).toUpper();
    } else {
        return false;
    }

    qsizetype contentLength = -1;
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QString line = QString::fromUtf8(lines.at(i)).trimmed();
        const qsizetype colon = line.indexOf(QLatin1Char(':'));
        if (colon <= 0)
            continue;
        const QString name = line.left(colon).trimmed().toLower();
        const QString value = line.mid(colon + 1).trimmed();
        // Compact forms too: i = Call-ID, c = Content-Type, l = Content-Length.
        if (name == QLatin1String("call-id") || name == QLatin1String("i")) {
            message->callId = value;
        } else if (name == QLatin1String("cseq")) {
            const QStringList parts = value.split(QLatin1Char(' '), Qt::SkipEmptyParts);
            if (parts.size() == 2) {
                message->cseq = parts.at(0).toInt();
                message->cseqMethod = parts.at(1).toUpper();
            }
        } else if (name == QLatin1String("authorization") ||
                   name == QLatin1String("proxy-authorization")) {
            message->credentials = true;
        } else if (name == QLatin1String("content-type") || name == QLatin1String("c")) {
            message->contentType = value;
        } else if (name == QLatin1String("content-length") || name == QLatin1String("l")) {
            bool ok = false;
            contentLength = value.toLongLong(&ok);
            if (!ok)
                contentLength = -1;
        }
    }
    QByteArray body = datagram.mid(bodyStart);
    if (contentLength >= 0 && contentLength < body.size())
        body.truncate(contentLength);
    message->body = QString::fromUtf8(body);
    return true;
}

} // namespace

SipCapture::SipCapture() {
    // Its port is part of the filter, so bound for the capture's lifetime.
    m_markerSocket = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (m_markerSocket >= 0 &&
        ::bind(m_markerSocket, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0 &&
        ::getsockname(m_markerSocket, reinterpret_cast<sockaddr *>(&address), &length) == 0) {
        m_markerPort = ntohs(address.sin_port);
    }
}

SipCapture::~SipCapture() {
    stop();
    if (m_markerSocket >= 0)
        ::close(m_markerSocket);
}

void SipCapture::addPort(quint16 port) {
    m_ranges.append({port, port});
}

void SipCapture::addPortRange(quint16 first, quint16 last) {
    m_ranges.append({qMin(first, last), qMax(first, last)});
}

void SipCapture::setTelephoneEventPayloadType(int payloadType) {
    m_eventPayloadType = payloadType;
}

QString SipCapture::filter() const {
    QStringList parts;
    for (const auto &[first, last] : m_ranges) {
        parts << (first == last ? QStringLiteral("port %1").arg(first)
                                : QStringLiteral("portrange %1-%2").arg(first).arg(last));
    }
    if (m_markerPort != 0)
        parts << QStringLiteral("port %1").arg(m_markerPort);
    return QStringLiteral("udp and (%1)").arg(parts.join(QLatin1String(" or ")));
}

bool SipCapture::start(QString *error, int lifetimeS) {
    if (isRunning())
        return true;
    if (m_markerPort == 0) {
        setError(error, QStringLiteral("cannot bind a UDP socket on 127.0.0.1"));
        return false;
    }
    if (m_ranges.isEmpty()) {
        // Everything on loopback would include other tests' calls.
        setError(error, QStringLiteral("no ports to capture: call addPort() first"));
        return false;
    }
    const QString tshark = findTshark();
    if (tshark.isEmpty()) {
        setError(error, QStringLiteral("tshark not found (run scripts/deps)"));
        return false;
    }
    m_dir = std::make_unique<QTemporaryDir>(QDir::tempPath() +
                                            QStringLiteral("/kirrow-capture-XXXXXX"));
    if (!m_dir->isValid()) {
        setError(error,
                 QStringLiteral("cannot create a temporary folder: %1").arg(m_dir->errorString()));
        m_dir.reset();
        return false;
    }

    m_process = std::make_unique<QProcess>();
    m_process->setProcessChannelMode(QProcess::MergedChannels);
    m_process->setStandardOutputFile(m_dir->filePath(QLatin1String(logFile)));
    m_process->setStandardInputFile(QProcess::nullDevice());
    m_process->setWorkingDirectory(m_dir->path());
    m_process->setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
    // -q: no packet count on the terminal; -w: raw packets to the file,
    // decoded later (live decoding would have to be read as it comes).
    m_process->start(QStringLiteral("timeout"),
                     {QStringLiteral("--kill-after=5"), QString::number(qMax(1, lifetimeS)), tshark,
                      QStringLiteral("-i"), QStringLiteral("lo"), QStringLiteral("-f"), filter(),
                      QStringLiteral("-q"), QStringLiteral("-w"), capturePath()});
    if (!m_process->waitForStarted(startDeadlineMs)) {
        setError(error,
                 QStringLiteral("cannot run timeout/tshark: %1").arg(m_process->errorString()));
        m_process.reset();
        return false;
    }

    const QDeadlineTimer deadline(startDeadlineMs);
    while (!deadline.hasExpired()) {
        if (m_process->waitForFinished(20))
            break;
        if (log().contains(QLatin1String(capturingLine)))
            return true;
    }
    const bool exited = m_process->state() == QProcess::NotRunning;
    stop();
    setError(error, QStringLiteral("tshark %1 (filter \"%2\"); it printed:\n%3")
                        .arg(exited ? QStringLiteral("exited without capturing")
                                    : QStringLiteral("did not start capturing within %1 s")
                                          .arg(startDeadlineMs / 1000),
                             filter(), log().right(3000)));
    return false;
}

bool SipCapture::flush(int ms) const {
    if (!isRunning())
        return true;
    // A datagram that nothing else sends, to the marker socket itself; once
    // its bytes are in the file, so is everything captured before it.
    const QByteArray marker = QByteArrayLiteral("kirrow-capture-marker-") +
                              QByteArray::number(::getpid()) + '-' +
                              QByteArray::number(++m_markers) + '.';
    sockaddr_in self{};
    self.sin_family = AF_INET;
    self.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    self.sin_port = htons(m_markerPort);
    if (::sendto(m_markerSocket, marker.constData(), static_cast<size_t>(marker.size()), 0,
                 reinterpret_cast<const sockaddr *>(&self), sizeof self) < 0)
        return false;
    const QDeadlineTimer deadline(ms);
    for (;;) {
        QFile file(capturePath());
        if (file.open(QIODevice::ReadOnly) && file.readAll().contains(marker))
            break;
        if (deadline.hasExpired() || m_process->waitForFinished(20))
            return false;
    }
    // Nobody reads these; drop them so the socket buffer never fills.
    char sink[256];
    while (::recv(m_markerSocket, sink, sizeof sink, 0) >= 0) {
    }
    return true;
}

void SipCapture::stop() {
    if (!m_process)
        return;
    const qint64 pid = m_process->processId();
    if (m_process->state() != QProcess::NotRunning) {
        // tshark's capture process drops what the kernel has not handed
        // over yet when told to stop.
        flush();
        // SIGTERM to `timeout`, passed to tshark, which ends its capture
        // process and closes the file properly.
        m_process->terminate();
        if (!m_process->waitForFinished(stopDeadlineMs) && pid > 0) {
            ::kill(-static_cast<pid_t>(pid), SIGKILL);
            m_process->waitForFinished(stopDeadlineMs);
        }
    }
    m_process.reset();
}

bool SipCapture::isRunning() const {
    return m_process && m_process->state() != QProcess::NotRunning;
}

QString SipCapture::capturePath() const {
    return m_dir ? m_dir->filePath(QLatin1String(captureFile)) : QString();
}

QString SipCapture::log() const {
    if (!m_dir)
        return {};
    QFile file(m_dir->filePath(QLatin1String(logFile)));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.readAll());
}

QStringList SipCapture::decode(const QStringList &arguments) const {
    m_lastError.clear();
    if (isRunning() && !flush())
        m_lastError = QStringLiteral("the capture file lags behind; the answer may miss packets");
    if (!m_dir || !QFile::exists(capturePath())) {
        m_lastError = QStringLiteral("nothing captured yet");
        return {};
    }
    QProcess tshark;
    tshark.setStandardInputFile(QProcess::nullDevice());
    // -n: no name look-ups. RTP by the SDP in the capture, or else by its
    // look (version 2 header), the telephone-event payload type as set.
    tshark.start(findTshark(),
                 QStringList{QStringLiteral("-r"), capturePath(), QStringLiteral("-n"),
                             QStringLiteral("--enable-heuristic"), QStringLiteral("rtp_udp"),
                             QStringLiteral("-d"),
                             QStringLiteral("rtp.pt==%1,rtpevent").arg(m_eventPayloadType),
                             QStringLiteral("-T"), QStringLiteral("fields"), QStringLiteral("-E"),
                             QStringLiteral("separator=,")} +
                     arguments);
    if (!tshark.waitForFinished(decodeDeadlineMs)) {
        tshark.kill();
        tshark.waitForFinished();
        m_lastError = QStringLiteral("tshark -r did not finish: %1").arg(tshark.errorString());
        return {};
    }
    const QString out = QString::fromUtf8(tshark.readAllStandardOutput());
    // While the capture runs, the file may end in the middle of a packet:
    // tshark then complains and exits non-zero after printing every whole
    // packet, which is all that is wanted here.
    if (tshark.exitStatus() != QProcess::NormalExit || (tshark.exitCode() != 0 && out.isEmpty())) {
        const QString err = QString::fromUtf8(tshark.readAllStandardError());
        if (!err.contains(QLatin1String("cut short")))
            m_lastError = QStringLiteral("tshark -r failed: %1").arg(err.right(2000));
    }
    return out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

QList<int> SipCapture::rtpEvents(quint16 destinationPort) const {
    const QStringList lines =
        decode({QStringLiteral("-Y"), QStringLiteral("rtpevent"), QStringLiteral("-e"),
                QStringLiteral("udp.dstport"), QStringLiteral("-e"), QStringLiteral("rtp.ssrc"),
                QStringLiteral("-e"), QStringLiteral("rtp.timestamp"), QStringLiteral("-e"),
                QStringLiteral("rtpevent.event_id")});
    QList<int> events;
    QSet<QString> seen;
    for (const QString &line : lines) {
        const QStringList fields = line.split(QLatin1Char(','));
        if (fields.size() != 4)
            continue;
        if (destinationPort != 0 && fields.at(0).toUInt() != destinationPort)
            continue;
        bool ok = false;
        const int event = fields.at(3).toInt(&ok);
        if (!ok)
            continue;
        // SSRC and timestamp name the event; the code is part of the key in
        // case a broken sender reuses a timestamp for the next tone.
        const QString key =
            fields.at(1) + QLatin1Char('/') + fields.at(2) + QLatin1Char('/') + fields.at(3);
        if (seen.contains(key))
            continue;
        seen.insert(key);
        events.append(event);
    }
    return events;
}

// The display filter for the datagrams from sourcePort to destinationPort (0: any port).
static QString datagramsBetween(quint16 sourcePort, quint16 destinationPort) {
    QStringList match{QStringLiteral("udp")};
    if (sourcePort != 0)
        match << QStringLiteral("udp.srcport == %1").arg(sourcePort);
    if (destinationPort != 0)
        match << QStringLiteral("udp.dstport == %1").arg(destinationPort);
    return match.join(QStringLiteral(" && "));
}

QList<qint64> SipCapture::datagramTimes(quint16 sourcePort, quint16 destinationPort) const {
    const QStringList lines =
        decode({QStringLiteral("-Y"), datagramsBetween(sourcePort, destinationPort),
                QStringLiteral("-e"), QStringLiteral("frame.time_epoch")});
    QList<qint64> times;
    for (const QString &line : lines) {
        bool ok = false;
        const double seconds = line.trimmed().toDouble(&ok);
        if (ok)
            times.append(qint64(seconds * 1000));
    }
    return times;
}

QList<QByteArray> SipCapture::rtpPayloads(quint16 sourcePort, quint16 destinationPort) const {
    const QStringList lines =
        decode({QStringLiteral("-Y"), datagramsBetween(sourcePort, destinationPort),
                QStringLiteral("-e"), QStringLiteral("udp.payload")});
    QList<QByteArray> payloads;
    for (const QString &line : lines) {
        const QByteArray packet =
            QByteArray::fromHex(line.trimmed().remove(QLatin1Char(':')).toLatin1());
        // Version 2, then the header's length: 12 bytes, the CSRCs, an extension if flagged.
        if (packet.size() < 12 || (quint8(packet[0]) >> 6) != 2)
            continue;
        qsizetype header = 12 + 4 * (packet[0] & 0x0f);
        if ((packet[0] & 0x10) && packet.size() >= header + 4)
            header += 4 + 4 * ((quint8(packet[header + 2]) << 8) | quint8(packet[header + 3]));
        if (packet.size() > header)
            payloads.append(packet.mid(header));
    }
    return payloads;
}

QList<SipCapture::SipMessage> SipCapture::sipMessages() const {
    // Raw datagrams rather than tshark's SIP fields: the message is parsed
    // the same way whatever tshark makes of its body. RTP and RTCP are left
    // out here only to keep the output small.
    const QStringList lines =
        decode({QStringLiteral("-Y"), QStringLiteral("udp and not rtp and not rtcp"),
                QStringLiteral("-e"), QStringLiteral("frame.number"), QStringLiteral("-e"),
                QStringLiteral("udp.srcport"), QStringLiteral("-e"), QStringLiteral("udp.dstport"),
                QStringLiteral("-e"), QStringLiteral("udp.payload")});
    QList<SipMessage> messages;
    for (const QString &line : lines) {
        const QStringList fields = line.split(QLatin1Char(','));
        if (fields.size() != 4)
            continue;
        SipMessage message;
        message.frame = fields.at(0).toInt();
        message.sourcePort = static_cast<quint16>(fields.at(1).toUInt());
        message.destinationPort = static_cast<quint16>(fields.at(2).toUInt());
        // udp.payload is plain hex; older tshark separates bytes with ':'.
        QString hex = fields.at(3);
        hex.remove(QLatin1Char(':'));
        if (parseSip(QByteArray::fromHex(hex.toLatin1()), &message))
            messages.append(message);
    }
    return messages;
}

QStringList SipCapture::sipMethods() const {
    QStringList methods;
    QSet<QString> seen;
    for (const SipMessage &message : sipMessages()) {
        if (message.method.isEmpty())
            continue;
        const QString key = message.callId + QLatin1Char('/') + QString::number(message.cseq) +
                            QLatin1Char('/') + message.method;
        if (seen.contains(key))
            continue;
        seen.insert(key);
        methods.append(message.method);
    }
    return methods;
}

QStringList SipCapture::sipResponses() const {
    QStringList responses;
    QSet<QString> seen;
    for (const SipMessage &message : sipMessages()) {
        if (message.status == 0)
            continue;
        const QString text = QStringLiteral("%1 %2").arg(message.status).arg(message.cseqMethod);
        const QString key = message.callId + QLatin1Char('/') + QString::number(message.cseq) +
                            QLatin1Char('/') + text;
        if (seen.contains(key))
            continue;
        seen.insert(key);
        responses.append(text);
    }
    return responses;
}

QStringList SipCapture::sipInfoBodies() const {
    QStringList bodies;
    QSet<QString> seen;
    for (const SipMessage &message : sipMessages()) {
        if (message.method != QLatin1String("INFO"))
            continue;
        const QString key = message.callId + QLatin1Char('/') + QString::number(message.cseq);
        if (seen.contains(key))
            continue;
        seen.insert(key);
        bodies.append(message.body);
    }
    return bodies;
}
