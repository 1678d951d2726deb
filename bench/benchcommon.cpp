#include "benchcommon.h"

#ifdef KIRROW_BENCH_OWN_EXCHANGE
#include "kamailioserver.h"
#include "sipppeer.h"
#endif

#include <QCommandLineParser>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <algorithm>
#include <csignal>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace bench {

double msBetween(Clock::time_point from, Clock::time_point to) {
    return std::chrono::duration<double, std::milli>(to - from).count();
}

QTextStream &out() {
    static QTextStream stream(stdout);
    return stream;
}

QTextStream &err() {
    static QTextStream stream(stderr);
    return stream;
}

CommonOptions::CommonOptions()
    : runs(QStringLiteral("runs"), QStringLiteral("Measured runs."), QStringLiteral("n"),
           QStringLiteral("7")),
      warmup(QStringLiteral("warmup"), QStringLiteral("Runs before those, not counted."),
             QStringLiteral("n"), QStringLiteral("1")),
      samples(QStringLiteral("samples"),
              QStringLiteral("Append each measured value to this file (tab-separated)."),
              QStringLiteral("file")),
      server(QStringLiteral("server"), QStringLiteral("A running exchange (127.0.0.1:port)."),
             QStringLiteral("address")),
      ctl(QStringLiteral("ctl"), QStringLiteral("Its control socket, as kamcmd -s takes it."),
          QStringLiteral("socket")) {}

void CommonOptions::addTo(QCommandLineParser &parser, bool withExchange) const {
    parser.addOptions({runs, warmup, samples});
    if (withExchange)
        parser.addOptions({server, ctl});
}

int CommonOptions::runCount(const QCommandLineParser &parser) const {
    return std::max(1, parser.value(runs).toInt());
}

int CommonOptions::warmupCount(const QCommandLineParser &parser) const {
    return std::max(0, parser.value(warmup).toInt());
}

void usePrivateFolders(const QTemporaryDir &home) {
    for (const char *name : {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME"}) {
        const QString path = home.filePath(QString::fromLatin1(name).mid(4).toLower());
        QDir().mkpath(path);
        qputenv(name, path.toUtf8());
    }
}

void endProcess(QProcess &process) {
    if (process.waitForFinished(5000))
        return;
    const qint64 pid = process.processId();
    process.terminate();
    if (!process.waitForFinished(5000) && pid > 0) {
        ::kill(-static_cast<pid_t>(pid), SIGKILL);
        process.waitForFinished(5000);
    }
}

quint16 freeLoopbackUdpPort() {
    const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    if (fd < 0)
        return 0;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    quint16 port = 0;
    if (::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr *>(&address), &length) == 0)
        port = ntohs(address.sin_port);
    ::close(fd);
    return port;
}

Exchange::Exchange() = default;
Exchange::~Exchange() = default;

bool Exchange::start(const QString &server, const QString &ctl, const QList<Account> &accounts,
                     QString *error) {
    if (!server.isEmpty()) {
        m_address = server;
        m_ctl = ctl;
        if (rpc({QStringLiteral("core.uptime")}).isEmpty()) {
            *error = QStringLiteral("the exchange does not answer on %1").arg(ctl);
            return false;
        }
        return true;
    }
#ifdef KIRROW_BENCH_OWN_EXCHANGE
    QList<KamailioServer::Account> list;
    for (const Account &a : accounts)
        list.append({a.user, a.password});
    m_own = std::make_unique<KamailioServer>(list);
    if (m_streams) {
        KamailioServer::Listeners listeners;
        listeners.tcp = listeners.tls = true;
        m_own->setListeners(listeners);
    }
    if (!m_own->start(error))
        return false;
    m_address = m_own->address();
    m_ctl = m_own->controlSocket();
    return true;
#else
    Q_UNUSED(accounts);
    *error = QStringLiteral("built without tests/support: give --server and --ctl");
    return false;
#endif
}

QString Exchange::rpc(const QStringList &args) const {
    QString kamcmd = QStandardPaths::findExecutable(QStringLiteral("kamcmd"));
    if (kamcmd.isEmpty())
        kamcmd =
            QStandardPaths::findExecutable(QStringLiteral("kamcmd"), {QStringLiteral("/usr/sbin")});
    QProcess process;
    process.setStandardInputFile(QProcess::nullDevice());
    process.start(kamcmd, QStringList{QStringLiteral("-s"), m_ctl} + args);
    if (!process.waitForFinished(10000)) {
        process.kill();
        process.waitForFinished();
        return {};
    }
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
        return {};
    return QString::fromUtf8(process.readAllStandardOutput());
}

QString Exchange::serverEntry(const QString &transport) const {
    if (transport == QLatin1String("udp"))
        return m_address;
#ifdef KIRROW_BENCH_OWN_EXCHANGE
    if (m_own && transport == QLatin1String("tcp") && m_own->tcpPort())
        return QStringLiteral("127.0.0.1:%1;transport=tcp").arg(m_own->tcpPort());
    if (m_own && transport == QLatin1String("tls") && m_own->tlsPort())
        return QStringLiteral("sips:127.0.0.1:%1").arg(m_own->tlsPort());
#endif
    return {};
}

QString Exchange::caFile() const {
#ifdef KIRROW_BENCH_OWN_EXCHANGE
    if (m_own && m_own->tlsPort())
        return m_own->caFile();
#endif
    return {};
}

int Exchange::liveContacts(const QString &user) const {
    const QString text =
        rpc({QStringLiteral("ul.lookup"), QStringLiteral("location"), QStringLiteral("s:") + user});
    static const QRegularExpression live(QStringLiteral("Expires:\\s*(\\d+|permanent)"));
    return static_cast<int>(text.count(live));
}

void Exchange::forget(const QString &user) const {
    rpc({QStringLiteral("ul.rm"), QStringLiteral("location"), QStringLiteral("s:") + user});
}

bool appendSamples(const QString &path, const QList<TableSample> &samples, const QString &program) {
    QFile file(path);
    if (!file.open(QIODevice::Append | QIODevice::Text)) {
        err() << program << ": cannot write " << path << "\n";
        return false;
    }
    QTextStream to(&file);
    for (const TableSample &sample : samples)
        to << sample.section << "\t" << sample.measure << "\t" << sample.client << "\t"
           << QString::number(sample.value, 'f', sample.decimals) << "\n";
    return true;
}

double median(QList<double> values) {
    std::sort(values.begin(), values.end());
    const qsizetype n = values.size();
    if (n == 0)
        return -1;
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

#ifdef KIRROW_BENCH_OWN_EXCHANGE
std::unique_ptr<SippPeer> answeringPeer(const Exchange &exchange, const Account &account,
                                        int lifetimeMs, QString *error) {
    SippPeer::Options answering;
    answering.scenario = QStringLiteral("answer.xml");
    answering.rtpEcho = true;
    answering.timeoutMs = lifetimeMs;
    auto peer = std::make_unique<SippPeer>(answering);
    if (!peer->start(error))
        return nullptr;
    exchange.forget(account.user);
    SippPeer::Options registering;
    registering.scenario = QStringLiteral("register.xml");
    registering.remote = exchange.address();
    registering.service = registering.authUser = account.user;
    registering.authPassword = account.password;
    registering.keys = {{QStringLiteral("expires"), QStringLiteral("600")},
                        {QStringLiteral("contact_port"), QString::number(peer->port())}};
    SippPeer registration(registering);
    if (!registration.start(error) || !registration.waitForExit(20000) ||
        registration.exitCode() != 0) {
        *error = QStringLiteral("registering %1 failed: %2").arg(account.user, registration.log());
        return nullptr;
    }
    return peer;
}
#endif

} // namespace bench
