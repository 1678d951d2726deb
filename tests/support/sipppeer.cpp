#include "sipppeer.h"

#include "fixtures.h"
#include "freeport.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>

#include <csignal>
#include <sys/prctl.h>
#include <unistd.h>

namespace {

constexpr int startDeadlineMs = 10000;
constexpr int stopDeadlineMs = 5000;
constexpr int pollMs = 20;
// `timeout` outlives sipp's own -timeout by this much, so sipp normally
// ends by itself and reports; `timeout` is only the last resort.
constexpr int lifetimeMarginS = 30;

constexpr auto screenFile = "screen.log";
constexpr auto messageFile = "messages.log";
constexpr auto errorFile = "errors.log";

void setError(QString *error, const QString &text) {
    if (error)
        *error = text;
}

QString tail(const QString &text, qsizetype chars) {
    return text.size() > chars ? QStringLiteral("...") + text.right(chars) : text;
}

// A media port for sipp: it binds this one for audio and the one two above
// it for video, so both must be free.
quint16 freeMediaPort() {
    for (int attempt = 0; attempt < 50; ++attempt) {
        const quint16 port = freeUdpPort();
        if (port < 65534 && !udpPortInUse(port + 2))
            return port;
    }
    return freeUdpPort();
}

} // namespace

SippPeer::SippPeer(Options options) : m_options(std::move(options)) {
    pickPorts();
}

void SippPeer::pickPorts() {
    m_port = freeUdpPort();
    m_mediaPort = freeMediaPort();
    m_controlPort = freeUdpPort();
}

SippPeer::~SippPeer() {
    stop();
}

bool SippPeer::start(QString *error) {
    if (isRunning())
        return true;

    const QString sipp = QStandardPaths::findExecutable(QStringLiteral("sipp"));
    if (sipp.isEmpty()) {
        setError(error, QStringLiteral("sipp not found (run scripts/deps)"));
        return false;
    }
    const QString scenarioPath =
        QFileInfo(m_options.scenario).isAbsolute()
            ? m_options.scenario
            : testFixturePath(QStringLiteral("sipp/") + m_options.scenario);
    if (!QFileInfo::exists(scenarioPath)) {
        setError(error, QStringLiteral("no sipp scenario %1").arg(scenarioPath));
        return false;
    }

    // A fresh folder per start, so a restarted peer's files hold its own run.
    m_dir =
        std::make_unique<QTemporaryDir>(QDir::tempPath() + QStringLiteral("/kirrow-sipp-XXXXXX"));
    if (!m_dir->isValid()) {
        setError(error,
                 QStringLiteral("cannot create a temporary folder: %1").arg(m_dir->errorString()));
        m_dir.reset();
        return false;
    }

    // Ports are free when picked but another test may bind one first; then
    // new ones (so port() may change when start() had to retry).
    for (int attempt = 0; attempt < 3; ++attempt) {
        if (attempt > 0)
            pickPorts();
        bool portTaken = false;
        if (startOnce(scenarioPath, &portTaken, error))
            return true;
        if (!portTaken)
            return false;
    }
    return false;
}

bool SippPeer::startOnce(const QString &scenarioPath, bool *portTaken, QString *error) {
    const int timeoutS = qMax(1, (m_options.timeoutMs + 999) / 1000);
    // A command prefix goes first, so that `timeout` and sipp both run through it and
    // processId() is still the group `timeout` made.
    QStringList args = m_options.commandPrefix;
    args << QStringLiteral("timeout") << QStringLiteral("--kill-after=5")
         << QString::number(timeoutS + lifetimeMarginS)
         << QStandardPaths::findExecutable(QStringLiteral("sipp"));
    if (!m_options.remote.isEmpty())
        args << m_options.remote;
    args << QStringLiteral("-sf") << scenarioPath;
    // Loopback only (or the one address given): SIP, media and control sockets all on it.
    const QString local = localAddress();
    args << QStringLiteral("-i") << local << QStringLiteral("-bind_local") << QStringLiteral("-p")
         << QString::number(m_port) << QStringLiteral("-mi") << local << QStringLiteral("-mp")
         << QString::number(m_mediaPort)
         << QStringLiteral("-ci")
         // sipp's control socket is IPv4 alone.
         << (local.contains(QLatin1Char(':')) ? QStringLiteral("127.0.0.1") : local)
         << QStringLiteral("-cp") << QString::number(m_controlPort);
    if (m_options.calls > 0)
        args << QStringLiteral("-m") << QString::number(m_options.calls);
    args << QStringLiteral("-timeout") << QStringLiteral("%1s").arg(timeoutS)
         << QStringLiteral("-timeout_error");
    // In-dialog INFO, UPDATE, NOTIFY and OPTIONS that a scenario does not
    // expect (say, during a pause) get 200 instead of failing the call.
    args << QStringLiteral("-aa") << QStringLiteral("-nostdin");
    args << QStringLiteral("-trace_msg") << QStringLiteral("-message_file")
         << m_dir->filePath(QLatin1String(messageFile)) << QStringLiteral("-trace_err")
         << QStringLiteral("-error_file") << m_dir->filePath(QLatin1String(errorFile));
    if (!m_options.service.isEmpty())
        args << QStringLiteral("-s") << m_options.service;
    if (!m_options.authUser.isEmpty())
        args << QStringLiteral("-au") << m_options.authUser << QStringLiteral("-ap")
             << m_options.authPassword;
    for (const auto &[name, value] : m_options.keys)
        args << QStringLiteral("-key") << name << value;
    if (m_options.rtpEcho)
        args << QStringLiteral("-rtp_echo");
    if (m_options.pauseMs >= 0)
        args << QStringLiteral("-d") << QString::number(m_options.pauseMs);
    args << m_options.extraArguments;

    const QString screenPath = m_dir->filePath(QLatin1String(screenFile));
    QFile::remove(screenPath);
    QFile::remove(m_dir->filePath(QLatin1String(messageFile)));
    QFile::remove(m_dir->filePath(QLatin1String(errorFile)));

    m_stopped = false;
    m_process = std::make_unique<QProcess>();
    m_process->setProcessChannelMode(QProcess::MergedChannels);
    m_process->setStandardOutputFile(screenPath, QIODevice::Truncate);
    m_process->setStandardInputFile(QProcess::nullDevice());
    m_process->setWorkingDirectory(m_dir->path()); // sipp may drop files in its cwd
    // If the test process dies, `timeout` gets SIGTERM and passes it on.
    m_process->setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
    m_process->start(args.first(), args.mid(1));
    if (!m_process->waitForStarted(startDeadlineMs)) {
        setError(error,
                 QStringLiteral("cannot run timeout/sipp: %1").arg(m_process->errorString()));
        m_process.reset();
        return false;
    }

    // Ready once its SIP and media sockets are bound (or, for a short
    // scenario, once it has already run to its end).
    const QDeadlineTimer deadline(startDeadlineMs);
    while (!deadline.hasExpired()) {
        const bool finished = m_process->waitForFinished(pollMs);
        if (!finished && udpPortInUse(m_port, m_options.commandPrefix) &&
            udpPortInUse(m_mediaPort, m_options.commandPrefix))
            return true;
        if (finished)
            break;
    }
    // sipp exits with 255 on a fatal error and 254 when it cannot bind;
    // anything else means it did play the scenario.
    const int code = exitCode();
    if (code >= 0 && code < 254)
        return true;

    const QString output = log();
    const bool exited = m_process->state() == QProcess::NotRunning;
    *portTaken = exited && (code == 254 || output.contains(QLatin1String("in use")));
    stop();
    setError(error, QStringLiteral("sipp (%1) on %2 %3; it printed:\n%4")
                        .arg(QFileInfo(scenarioPath).fileName(), address(),
                             exited ? QStringLiteral("exited during start-up")
                                    : QStringLiteral("did not bind its port within %1 s")
                                          .arg(startDeadlineMs / 1000),
                             tail(output, 3000)));
    return false;
}

void SippPeer::stop() {
    if (!m_process)
        return;
    const qint64 pid = m_process->processId();
    if (m_process->state() != QProcess::NotRunning) {
        // sipp exits 0 on SIGTERM when no call has failed yet, which must
        // not read as a passed scenario.
        m_stopped = true;
        // SIGTERM to `timeout`, which passes it to sipp; sipp exits at once.
        m_process->terminate();
        if (!m_process->waitForFinished(stopDeadlineMs) && pid > 0) {
            // `timeout` put sipp in a process group with the same id.
            ::kill(-static_cast<pid_t>(pid), SIGKILL);
            m_process->waitForFinished(stopDeadlineMs);
        }
    }
    // Keep the finished process: exitCode() still reads it. A peer whose ports outlive it would
    // take the next test's calls.
    const auto held = [this] {
        return (m_port != 0 && udpPortInUse(m_port, m_options.commandPrefix)) ||
               (m_mediaPort != 0 && udpPortInUse(m_mediaPort, m_options.commandPrefix));
    };
    const QDeadlineTimer deadline(stopDeadlineMs);
    while (held() && !deadline.hasExpired())
        QThread::msleep(20);
    if (held())
        qFatal("sipp outlived its stop: port %u or %u is still in use", unsigned(m_port),
               unsigned(m_mediaPort));
}

QString SippPeer::localAddress() const {
    return m_options.localAddress.isEmpty() ? QStringLiteral("127.0.0.1") : m_options.localAddress;
}

bool SippPeer::isRunning() const {
    return m_process && m_process->state() != QProcess::NotRunning;
}

bool SippPeer::waitForExit(int ms) {
    if (!m_process)
        return false;
    if (m_process->state() == QProcess::NotRunning)
        return true;
    return m_process->waitForFinished(ms);
}

int SippPeer::exitCode() const {
    if (!m_process || m_stopped || m_process->state() != QProcess::NotRunning ||
        m_process->exitStatus() != QProcess::NormalExit ||
        m_process->error() == QProcess::FailedToStart)
        return -1;
    return m_process->exitCode();
}

QString SippPeer::readFile(const QString &name) const {
    if (!m_dir)
        return {};
    QFile file(m_dir->filePath(name));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.readAll());
}

QString SippPeer::messages() const {
    return readFile(QLatin1String(messageFile));
}

QStringList SippPeer::tracedMessages(bool sent) const {
    // Each message follows a line of dashes with a time stamp and a line
    // "UDP message sent (N bytes):" or "UDP message received [N] bytes :".
    static const QRegularExpression separator(QStringLiteral("^-{20,} [^\n]*\n"),
                                              QRegularExpression::MultilineOption);
    const QLatin1String wanted =
        sent ? QLatin1String("UDP message sent") : QLatin1String("UDP message received");
    QStringList result;
    const QStringList entries = messages().split(separator, Qt::SkipEmptyParts);
    for (const QString &entry : entries) {
        const qsizetype headerEnd = entry.indexOf(QLatin1Char('\n'));
        if (headerEnd < 0 || !entry.left(headerEnd).startsWith(wanted))
            continue;
        QString text = entry.mid(headerEnd + 1);
        while (text.startsWith(QLatin1Char('\n')))
            text.remove(0, 1);
        result.append(text);
    }
    return result;
}

QStringList SippPeer::sentMessages() const {
    return tracedMessages(true);
}

QStringList SippPeer::receivedMessages() const {
    return tracedMessages(false);
}

bool SippPeer::waitForMessage(const QRegularExpression &re, int ms) {
    const QDeadlineTimer deadline(ms);
    for (;;) {
        // Checked once more after sipp exits: its last messages may have
        // been written just before.
        const bool exited = !isRunning();
        if (re.match(messages()).hasMatch())
            return true;
        if (exited || deadline.hasExpired())
            return false;
        m_process->waitForFinished(pollMs);
    }
}

QString SippPeer::errors() const {
    return readFile(QLatin1String(errorFile));
}

QString SippPeer::log() const {
    return readFile(QLatin1String(screenFile));
}

QString SippPeer::report() const {
    return QStringLiteral("sipp %1 on %2: %3\n--- unexpected messages:\n%4\n--- message trace "
                          "(end):\n%5\n--- sipp output (end):\n%6")
        .arg(QFileInfo(m_options.scenario).fileName(), address(),
             isRunning() ? QStringLiteral("still running")
                         : QStringLiteral("exit code %1").arg(exitCode()),
             tail(errors(), 2000), tail(messages(), 4000), tail(log(), 2000));
}

quint16 SippPeer::port() const {
    return m_port;
}

QString SippPeer::address() const {
    return QStringLiteral("%1:%2").arg(localAddress()).arg(m_port);
}

quint16 SippPeer::mediaPort() const {
    return m_mediaPort;
}

void registerSippContact(const QString &exchange, const QString &account, const QString &password,
                         quint16 port, int expires) {
    SippPeer::Options registering;
    registering.scenario = QStringLiteral("register.xml");
    registering.remote = exchange;
    registering.service = registering.authUser = account;
    registering.authPassword = password;
    registering.keys = {{QStringLiteral("expires"), QString::number(expires)},
                        {QStringLiteral("contact_port"), QString::number(port)}};
    SippPeer registration(registering);
    if (!registration.start() || !registration.waitForExit(20000) || registration.exitCode() != 0)
        qFatal("registering a contact for %s failed: %s", qPrintable(account),
               qPrintable(registration.log()));
}
