#include "netlab.h"

#include "freeport.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <csignal>
#include <sys/prctl.h>
#include <unistd.h>

namespace {

// STUN's own port: the public network is the test's alone.
constexpr quint16 kStunPort = 3478;

// Where `ip netns add` names its namespaces.
const QString kNamedNamespaces = QStringLiteral("/run/netns");

void setError(QString *error, const QString &text) {
    if (error)
        *error = text;
}

// /usr/sbin is often missing from PATH.
QString findTool(const QString &name) {
    QString path = QStandardPaths::findExecutable(name);
    if (path.isEmpty())
        path = QStandardPaths::findExecutable(
            name, {QStringLiteral("/usr/sbin"), QStringLiteral("/sbin")});
    return path;
}

// Runs a command under `timeout`, with input on its standard input; true when it exits 0.
bool runLimited(const QStringList &command, const QByteArray &input, QString *output,
                QString *error, int timeoutMs) {
    QProcess process;
    const QString seconds = QString::number(qMax(1, (timeoutMs + 999) / 1000));
    QStringList arguments{QStringLiteral("--kill-after=2"), seconds};
    arguments << findTool(command.first());
    arguments << command.mid(1);
    process.start(QStringLiteral("timeout"), arguments);
    if (!process.waitForStarted()) {
        setError(error, command.join(' ') + QStringLiteral(": ") + process.errorString());
        return false;
    }
    if (!input.isEmpty())
        process.write(input);
    process.closeWriteChannel();
    process.waitForFinished(timeoutMs + 5000);
    if (output)
        *output = QString::fromUtf8(process.readAllStandardOutput());
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) {
        setError(error, QStringLiteral("%1 failed (%2): %3")
                            .arg(command.join(' '))
                            .arg(process.exitCode())
                            .arg(QString::fromUtf8(process.readAllStandardError()).trimmed()));
        return false;
    }
    return true;
}

bool ip(const QStringList &arguments, QString *error) {
    return runLimited(QStringList{QStringLiteral("ip")} + arguments, {}, nullptr, error, 10000);
}

// A home router's rules: out from the home under the router's public address (from a port of
// its choosing rather than the home's own when pickPorts, as many routers do), and back in only
// what answers that.
QByteArray routerRules(bool pickPorts) {
    return QByteArrayLiteral("table ip kirrow_router {\n"
                             "  chain postrouting {\n"
                             "    type nat hook postrouting priority srcnat;\n"
                             "    oifname \"wan\" masquerade") +
           (pickPorts ? QByteArrayLiteral(" random\n") : QByteArrayLiteral("\n")) +
           QByteArrayLiteral("  }\n"
                             // Unasked-for datagrams to the router itself are dropped
                             // before conntrack takes them for connections of their own,
                             // which would then take the port an answer from home leaves on.
                             "  chain input {\n"
                             "    type filter hook input priority filter; policy drop;\n"
                             "    ct state established,related accept\n"
                             "    iifname { \"lo\", \"lan\" } accept\n"
                             "  }\n"
                             "  chain forward {\n"
                             "    type filter hook forward priority filter; policy drop;\n"
                             "    ct state established,related accept\n"
                             "    iifname \"lan\" oifname \"wan\" accept\n"
                             "  }\n"
                             "}\n");
}

// Deletes the namespaces of lab test processes that are gone (killed before they could).
void deleteLeftovers() {
    static const QRegularExpression ours(QStringLiteral("^kirrow-(\\d+)-"));
    for (const QString &entry : QDir(kNamedNamespaces).entryList(QDir::Files | QDir::System)) {
        const QRegularExpressionMatch m = ours.match(entry);
        if (m.hasMatch() && !QFileInfo::exists(QStringLiteral("/proc/") + m.captured(1)))
            ip({QStringLiteral("netns"), QStringLiteral("delete"), entry}, nullptr);
    }
}

} // namespace

NetLab::NetLab(int homes, int udpTimeoutS, bool routersPickPorts)
    : m_homes(qBound(1, homes, 2)), m_udpTimeoutS(udpTimeoutS),
      m_routersPickPorts(routersPickPorts) {
    // Labs of one test at the same time have names of their own.
    static int made = 0;
    m_serial = ++made;
}

NetLab::~NetLab() {
    stop();
}

QString NetLab::unavailable() {
    if (::geteuid() != 0)
        return QStringLiteral("needs root: it makes network namespaces of its own (run as root, "
                              "as CI does)");
    for (const char *tool : {"ip", "nft", "sysctl", "timeout"})
        if (findTool(QString::fromLatin1(tool)).isEmpty())
            return QStringLiteral("%1 not found (run scripts/deps)").arg(QLatin1String(tool));
    return {};
}

QString NetLab::name(const QString &part) const {
    return QStringLiteral("kirrow-%1-%2-%3")
        .arg(QCoreApplication::applicationPid())
        .arg(m_serial)
        .arg(part);
}

QString NetLab::publicNamespace() const {
    return name(QStringLiteral("public"));
}

QString NetLab::homeNamespace(int home) const {
    return name(QStringLiteral("home%1").arg(home));
}

QString NetLab::routerNamespace(int home) const {
    return name(QStringLiteral("router%1").arg(home));
}

QString NetLab::homeAddress(int home) const {
    return home == 1 ? QStringLiteral("192.0.2.10") : QStringLiteral("198.51.100.10");
}

QString NetLab::routerAddress(int home) const {
    return QStringLiteral("203.0.113.%1").arg(home);
}

QStringList NetLab::inNamespace(const QString &name) {
    return {findTool(QStringLiteral("ip")), QStringLiteral("netns"), QStringLiteral("exec"), name};
}

bool NetLab::run(const QString &name, const QStringList &command, QString *output, QString *error,
                 int timeoutMs) {
    return runLimited(
        QStringList{QStringLiteral("ip"), QStringLiteral("netns"), QStringLiteral("exec"), name} +
            command,
        {}, output, error, timeoutMs);
}

bool NetLab::start(QString *error) {
    if (!m_made.isEmpty())
        return true;
    if (const QString why = unavailable(); !why.isEmpty()) {
        setError(error, why);
        return false;
    }
    deleteLeftovers();
    if (build(error))
        return true;
    stop();
    return false;
}

bool NetLab::build(QString *error) {
    const auto add = [&](const QString &ns) {
        if (!ip({QStringLiteral("netns"), QStringLiteral("add"), ns}, error))
            return false;
        m_made << ns;
        return ip({QStringLiteral("-n"), ns, QStringLiteral("link"), QStringLiteral("set"),
                   QStringLiteral("lo"), QStringLiteral("up")},
                  error);
    };
    // Each command names the namespace it works in (ip -n): links are made there, never on the
    // host, and their other ends moved straight into the next namespace.
    const auto in = [&](const QString &ns, const QString &command) {
        return ip(QStringList{QStringLiteral("-n"), ns} + command.split(' '), error);
    };

    const QString pub = publicNamespace();
    if (!add(pub) || !in(pub, QStringLiteral("link add br0 type bridge")) ||
        !in(pub, QStringLiteral("addr add %1/24 dev br0").arg(publicAddress())) ||
        !in(pub, QStringLiteral("link set br0 up")))
        return false;

    for (int home = 1; home <= m_homes; ++home) {
        const QString router = routerNamespace(home);
        const QString house = homeNamespace(home);
        const QString inside = home == 1 ? QStringLiteral("192.0.2") : QStringLiteral("198.51.100");
        const QString uplink = QStringLiteral("router%1").arg(home);
        if (!add(router) || !add(house) ||
            !in(router,
                QStringLiteral("link add wan type veth peer name %1 netns %2").arg(uplink, pub)) ||
            !in(pub, QStringLiteral("link set %1 master br0 up").arg(uplink)) ||
            !in(router,
                QStringLiteral("link add lan type veth peer name eth0 netns %1").arg(house)) ||
            !in(router, QStringLiteral("addr add %1/24 dev wan").arg(routerAddress(home))) ||
            !in(router, QStringLiteral("addr add %1.1/24 dev lan").arg(inside)) ||
            !in(router, QStringLiteral("link set wan up")) ||
            !in(router, QStringLiteral("link set lan up")) ||
            !in(house, QStringLiteral("addr add %1/24 dev eth0").arg(homeAddress(home))) ||
            !in(house, QStringLiteral("link set eth0 up")) ||
            !in(house, QStringLiteral("route add default via %1.1").arg(inside)))
            return false;
        // The rules first: they bring connection tracking into the namespace, and with it the
        // timeouts set next.
        if (!runLimited({QStringLiteral("ip"), QStringLiteral("netns"), QStringLiteral("exec"),
                         router, QStringLiteral("nft"), QStringLiteral("-f"), QStringLiteral("-")},
                        routerRules(m_routersPickPorts), nullptr, error, 10000))
            return false;
        const QString timeout = QString::number(m_udpTimeoutS);
        if (!run(router,
                 {QStringLiteral("sysctl"), QStringLiteral("-qw"),
                  QStringLiteral("net.ipv4.ip_forward=1"),
                  QStringLiteral("net.netfilter.nf_conntrack_udp_timeout=") + timeout,
                  QStringLiteral("net.netfilter.nf_conntrack_udp_timeout_stream=") + timeout,
                  QStringLiteral("net.netfilter.nf_conntrack_acct=1")},
                 nullptr, error))
            return false;
    }
    return true;
}

void NetLab::stop() {
    if (m_stun) {
        const qint64 pid = m_stun->processId();
        if (m_stun->state() != QProcess::NotRunning) {
            m_stun->terminate(); // `timeout` passes it on
            if (!m_stun->waitForFinished(5000) && pid > 0) {
                ::kill(-static_cast<pid_t>(pid), SIGKILL);
                m_stun->waitForFinished(5000);
            }
        }
        m_stun.reset();
    }
    // The links go with the namespaces; homes first, the public network last.
    while (!m_made.isEmpty())
        ip({QStringLiteral("netns"), QStringLiteral("delete"), m_made.takeLast()}, nullptr);
}

QString NetLab::routerConnections(int home) const {
    if (findTool(QStringLiteral("conntrack")).isEmpty())
        return {};
    QString output;
    run(routerNamespace(home),
        {QStringLiteral("conntrack"), QStringLiteral("-L"), QStringLiteral("-p"),
         QStringLiteral("udp"), QStringLiteral("-o"), QStringLiteral("extended")},
        &output);
    return output;
}

bool NetLab::startStunServer(QString *error) {
    if (m_stun)
        return true;
    const QString turnserver = findTool(QStringLiteral("turnserver"));
    if (turnserver.isEmpty() || m_made.isEmpty()) {
        setError(error, turnserver.isEmpty()
                            ? QStringLiteral("turnserver not found (run scripts/deps)")
                            : QStringLiteral("the lab is not started"));
        return false;
    }
    m_stunDir =
        std::make_unique<QTemporaryDir>(QDir::tempPath() + QStringLiteral("/kirrow-stun-XXXXXX"));
    m_stun = std::make_unique<QProcess>();
    m_stun->setProcessChannelMode(QProcess::MergedChannels);
    m_stun->setStandardOutputFile(m_stunDir->filePath(QStringLiteral("turnserver.log")));
    m_stun->setStandardInputFile(QProcess::nullDevice());
    // Should the test die, `timeout` gets SIGTERM and passes it on.
    m_stun->setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
    // Its files (database, pid) in a folder of its own, none of the system's: STUN only, no
    // configuration file, no TLS, no admin shell.
    QStringList command = inNamespace(publicNamespace());
    command << QStringLiteral("timeout") << QStringLiteral("--kill-after=5")
            << QStringLiteral("600") << turnserver << QStringLiteral("-n")
            << QStringLiteral("--listening-ip=%1").arg(publicAddress())
            << QStringLiteral("--listening-port=%1").arg(kStunPort) << QStringLiteral("--stun-only")
            << QStringLiteral("--no-cli") << QStringLiteral("--no-tls")
            << QStringLiteral("--no-dtls") << QStringLiteral("--log-file=stdout")
            << QStringLiteral("--simple-log")
            << QStringLiteral("--pidfile=%1").arg(m_stunDir->filePath(QStringLiteral("pid")))
            << QStringLiteral("--db=%1").arg(m_stunDir->filePath(QStringLiteral("turndb")));
    m_stun->start(command.first(), command.mid(1));
    const QDeadlineTimer deadline(10000);
    while (!deadline.hasExpired() && !m_stun->waitForFinished(50))
        if (udpPortInUse(kStunPort, inNamespace(publicNamespace())))
            return true;
    QFile log(m_stunDir->filePath(QStringLiteral("turnserver.log")));
    log.open(QIODevice::ReadOnly);
    setError(error, QStringLiteral("turnserver did not start: ") +
                        QString::fromUtf8(log.readAll().right(2000)));
    return false;
}

QString NetLab::stunServer() const {
    return QStringLiteral("%1:%2").arg(publicAddress()).arg(kStunPort);
}
