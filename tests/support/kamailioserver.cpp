#include "kamailioserver.h"

#include "fixtures.h"
#include "freeport.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QThread>

#include <csignal>
#include <sys/prctl.h>
#include <unistd.h>

namespace {

constexpr int startDeadlineMs = 20000;
constexpr int stopDeadlineMs = 5000;
constexpr int rpcDeadlineMs = 10000;
// Printed by the config once the first SIP worker is up.
constexpr auto readyLine = "kirrow-exchange ready on";

QString findTool(const QString &name) {
    // /usr/sbin is often missing from PATH for non-root users.
    QString path = QStandardPaths::findExecutable(name);
    if (path.isEmpty())
        path = QStandardPaths::findExecutable(name, {QStringLiteral("/usr/sbin"),
                                                     QStringLiteral("/usr/local/sbin"),
                                                     QStringLiteral("/sbin")});
    return path;
}

void setError(QString *error, const QString &text) {
    if (error)
        *error = text;
}

QString tail(const QString &text, int lines = 25) {
    QStringList all = text.split(QLatin1Char('\n'));
    if (all.size() > lines)
        all = all.mid(all.size() - lines);
    return all.join(QLatin1Char('\n'));
}

// A double-quoted kamailio string: only backslash and quote are special.
QString quoted(const QString &text) {
    QString out = text;
    out.replace(QLatin1Char('\\'), QLatin1String("\\\\"));
    out.replace(QLatin1Char('"'), QLatin1String("\\\""));
    return QLatin1Char('"') + out + QLatin1Char('"');
}

bool renderConfig(const QString &templateText, quint16 port, const QString &runDir,
                  const QList<KamailioServer::Account> &accounts, QString *config, QString *error) {
    // The user name ends up as an htable key inside $sht(...), where "$", ")"
    // or blanks would change the meaning; SIP user names rarely need more.
    static const QRegularExpression userPattern(QStringLiteral("^[A-Za-z0-9._~+-]+$"));
    QStringList statements;
    for (const auto &account : accounts) {
        if (!userPattern.match(account.user).hasMatch()) {
            setError(error, QStringLiteral("unsupported user name '%1'").arg(account.user));
            return false;
        }
        for (const QChar c : account.password) {
            if (c.unicode() < 0x20 || c.unicode() == 0x7f) {
                setError(
                    error,
                    QStringLiteral("password of '%1' has a control character").arg(account.user));
                return false;
            }
        }
        statements << QStringLiteral("\t$sht(users=>%1) = %2;")
                          .arg(account.user, quoted(account.password));
    }

    QStringList lines = templateText.split(QLatin1Char('\n'));
    bool accountsPlaced = false;
    for (QString &line : lines) {
        if (line.trimmed() == QLatin1String("@ACCOUNTS@")) {
            // Whole-line placeholder, replaced last so that nothing in a
            // password is taken for another placeholder.
            line = statements.join(QLatin1Char('\n'));
            accountsPlaced = true;
            continue;
        }
        line.replace(QLatin1String("@PORT@"), QString::number(port));
        line.replace(QLatin1String("@RUNDIR@"), runDir);
    }
    if (!accountsPlaced) {
        setError(error, QStringLiteral("config template has no @ACCOUNTS@ line"));
        return false;
    }
    *config = lines.join(QLatin1Char('\n'));
    return true;
}

// A TCP port nothing listens on now (kamailio binds it soon after).
quint16 freeTcpPort() {
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost);
    return probe.serverPort();
}

bool runOpenssl(const QString &dir, const QStringList &args, QString *error) {
    QProcess openssl;
    openssl.setWorkingDirectory(dir);
    openssl.setProcessChannelMode(QProcess::MergedChannels);
    openssl.start(QStringLiteral("openssl"), args);
    if (!openssl.waitForFinished(30000) || openssl.exitStatus() != QProcess::NormalExit ||
        openssl.exitCode() != 0) {
        setError(error, QStringLiteral("openssl %1 failed: %2 %3")
                            .arg(args.join(QLatin1Char(' ')), openssl.errorString(),
                                 QString::fromUtf8(openssl.readAll())));
        return false;
    }
    return true;
}

} // namespace

QString KamailioServer::caFile() const {
    return m_dir ? m_dir->filePath(QStringLiteral("ca.pem")) : QString();
}

QString KamailioServer::otherCaFile() const {
    return m_dir ? m_dir->filePath(QStringLiteral("other-ca.pem")) : QString();
}

void KamailioServer::renewCertificate() {
    if (m_dir)
        QFile::remove(m_dir->filePath(QStringLiteral("server.pem")));
}

// A test CA, another that signs nothing, and the server's key and certificate from the first;
// the keys never leave the temporary folder.
bool KamailioServer::makeCertificates(QString *error) {
    const QString dir = m_dir->path();
    if (QFile::exists(m_dir->filePath(QStringLiteral("server.pem"))))
        return true;
    const bool renewing = QFile::exists(m_dir->filePath(QStringLiteral("ca.pem")));
    const QString name = m_listeners.tlsName;
    const auto ca = [&](const QString &stem, const QString &subject) {
        return runOpenssl(dir,
                          {"req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256",
                           "-nodes", "-days", "2", "-subj", subject, "-keyout", stem + ".key",
                           "-out", stem + ".pem"},
                          error);
    };
    QFile extensions(m_dir->filePath(QStringLiteral("server.ext")));
    if (!extensions.open(QIODevice::WriteOnly) ||
        extensions.write(QStringLiteral("subjectAltName=DNS:%1\n"
                                        "basicConstraints=CA:FALSE\n"
                                        "extendedKeyUsage=serverAuth\n")
                             .arg(name)
                             .toUtf8()) < 0) {
        setError(error, QStringLiteral("cannot write %1").arg(extensions.fileName()));
        return false;
    }
    extensions.close();
    return (renewing || (ca(QStringLiteral("ca"), QStringLiteral("/CN=Kirrow Test CA")) &&
                         ca(QStringLiteral("other-ca"), QStringLiteral("/CN=Kirrow Other CA")))) &&
           runOpenssl(dir,
                      {"req", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256", "-nodes",
                       "-subj", "/CN=" + name, "-keyout", "server.key", "-out", "server.csr"},
                      error) &&
           runOpenssl(dir,
                      {"x509", "-req", "-in", "server.csr", "-CA", "ca.pem", "-CAkey", "ca.key",
                       "-CAcreateserial", "-days", "2", "-extfile", "server.ext", "-out",
                       "server.pem"},
                      error);
}

// The listeners asked for, on the ports picked for them, and TLS's module and settings.
QString KamailioServer::addListeners(QString config) const {
    QStringList lines;
    if (m_tcpPort)
        lines << QStringLiteral("listen=tcp:127.0.0.1:%1").arg(m_tcpPort);
    if (m_tlsPort)
        lines << QStringLiteral("listen=tls:127.0.0.1:%1").arg(m_tlsPort)
              << QStringLiteral("enable_tls=yes");
    if (m_udp6Port)
        lines << QStringLiteral("listen=udp:[::1]:%1").arg(m_udp6Port);
    if (!m_listeners.domain.isEmpty())
        lines << QStringLiteral("alias=\"%1\"").arg(m_listeners.domain);
    const QString udp = QStringLiteral("listen=udp:127.0.0.1:%1").arg(m_port);
    config.replace(udp, (QStringList{udp} + lines).join(QLatin1Char('\n')));
    if (m_tcpPort || m_tlsPort)
        config.replace(QStringLiteral("disable_tcp=yes"), QStringLiteral("disable_tcp=no"));
    if (m_tlsPort) {
        const QString tlsConfig = m_dir->filePath(QStringLiteral("tls.cfg"));
        QFile file(tlsConfig);
        if (file.open(QIODevice::WriteOnly))
            file.write(QStringLiteral("[server:default]\nmethod = TLSv1.2+\n"
                                      "verify_certificate = no\nrequire_certificate = no\n"
                                      "private_key = %1\ncertificate = %2\n\n"
                                      "[client:default]\nverify_certificate = no\n"
                                      "require_certificate = no\n")
                           .arg(m_dir->filePath(QStringLiteral("server.key")),
                                m_dir->filePath(QStringLiteral("server.pem")))
                           .toUtf8());
        config.replace(QStringLiteral("loadmodule \"kex.so\""),
                       QStringLiteral("loadmodule \"tls.so\"\nmodparam(\"tls\", \"config\", "
                                      "\"%1\")\nloadmodule \"kex.so\"")
                           .arg(tlsConfig));
    }
    if (m_listeners.logRequests)
        config.replace(QStringLiteral("request_route {"),
                       QStringLiteral("request_route {\n\txlog(\"L_NOTICE\", \"request $rm from "
                                      "$si over $pr\\n\");"));
    if (m_listeners.logSdp) {
        const QString logged =
            QStringLiteral("\tif (has_body(\"application/sdp\")) xlog(\"L_NOTICE\", \"sdp of %1 "
                           "over $pr [$rb]\\n\");\n");
        config.replace(QStringLiteral("request_route {"),
                       QStringLiteral("request_route {\n") + logged.arg(QStringLiteral("$rm")));
        config.append(
            QStringLiteral("\nonreply_route {\n%1}\n").arg(logged.arg(QStringLiteral("$rs $rm"))));
    }
    return config;
}

KamailioServer::KamailioServer(QList<Account> accounts) : m_accounts(std::move(accounts)) {}

KamailioServer::~KamailioServer() {
    stop();
}

bool KamailioServer::start(QString *error) {
    if (isRunning())
        return true;

    QFile templateFile(testFixturePath(QStringLiteral("kamailio.cfg.in")));
    if (!templateFile.open(QIODevice::ReadOnly)) {
        setError(error, QStringLiteral("cannot read %1: %2")
                            .arg(templateFile.fileName(), templateFile.errorString()));
        return false;
    }
    const QString templateText = QString::fromUtf8(templateFile.readAll());

    if (!m_dir) {
        // Short path under /tmp: the control socket path must fit sun_path.
        m_dir = std::make_unique<QTemporaryDir>(QDir::tempPath() +
                                                QStringLiteral("/kirrow-kamailio-XXXXXX"));
        if (!m_dir->isValid()) {
            setError(
                error,
                QStringLiteral("cannot create a temporary folder: %1").arg(m_dir->errorString()));
            m_dir.reset();
            return false;
        }
    }

    // The port is free when picked but someone may bind it before kamailio
    // does; then pick another.
    // Started again after stop(), it comes back on its old port, as a server back from an
    // outage does.
    const quint16 previousPort = m_port;
    for (int attempt = 0; attempt < 3; ++attempt) {
        bool portTaken = false;
        if (startOnce(templateText, attempt == 0 ? previousPort : 0, &portTaken, error))
            return true;
        if (!portTaken)
            return false;
    }
    return false;
}

bool KamailioServer::startOnce(const QString &templateText, quint16 port, bool *portTaken,
                               QString *error) {
    const QString kamailio = findTool(QStringLiteral("kamailio"));
    if (kamailio.isEmpty()) {
        setError(error, QStringLiteral("kamailio not found (run scripts/deps)"));
        return false;
    }

    m_port = port != 0 ? port : freeUdpPort();
    if (port == 0) {
        m_tcpPort = m_listeners.tcp ? freeTcpPort() : 0;
        m_tlsPort = 0;
        while (m_listeners.tls && (m_tlsPort == 0 || m_tlsPort == m_tcpPort))
            m_tlsPort = freeTcpPort();
        m_udp6Port = m_listeners.udp6 ? freeUdpPort() : 0;
    }
    if (m_listeners.tls && !makeCertificates(error))
        return false;
    QString config;
    if (!renderConfig(templateText, m_port, m_dir->path(), m_accounts, &config, error))
        return false;
    config = addListeners(config);
    if (m_maxExpires > 0)
        config.replace(
            QRegularExpression(QStringLiteral(R"(modparam\("registrar", "max_expires", \d+\))")),
            QStringLiteral(R"(modparam("registrar", "max_expires", %1))").arg(m_maxExpires));
    if (!m_commandPrefix.isEmpty()) {
        config.replace(QStringLiteral("listen=udp:127.0.0.1:"),
                       QStringLiteral("listen=udp:%1:").arg(m_listenAddress));
    }
    QFile configFile(configPath());
    if (!configFile.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
        configFile.write(config.toUtf8()) < 0 || !configFile.flush()) {
        setError(error, QStringLiteral("cannot write %1: %2")
                            .arg(configFile.fileName(), configFile.errorString()));
        return false;
    }
    configFile.close();

    const QString logPath = m_dir->filePath(QStringLiteral("kamailio.log"));
    const qint64 logStart = QFileInfo(logPath).size();

    m_process = std::make_unique<QProcess>();
    // Log to a file, not a pipe: nothing has to drain it, and a busy test
    // that runs no event loop cannot make kamailio block on a full pipe.
    m_process->setProcessChannelMode(QProcess::MergedChannels);
    m_process->setStandardOutputFile(logPath, QIODevice::Append);
    m_process->setStandardInputFile(QProcess::nullDevice());
    m_process->setWorkingDirectory(m_dir->path());
    // If the test process dies, `timeout` gets SIGTERM and passes it on.
    m_process->setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
    // `timeout` bounds the lifetime even if everything else fails, and puts
    // kamailio and its workers in a process group of their own.
    // A command prefix goes first, so that `timeout` and kamailio both run through it and
    // processId() is still the group `timeout` made.
    QStringList command = m_commandPrefix;
    command << QStringLiteral("timeout") << QStringLiteral("--kill-after=10")
            << QStringLiteral("600") << kamailio << QStringLiteral("-DD") << QStringLiteral("-E")
            << QStringLiteral("-f") << configPath() << QStringLiteral("-Y") << m_dir->path()
            << QStringLiteral("-m") << QStringLiteral("32") << QStringLiteral("-M")
            << QStringLiteral("8");
    m_process->start(command.first(), command.mid(1));
    if (!m_process->waitForStarted(startDeadlineMs)) {
        setError(error,
                 QStringLiteral("cannot run timeout/kamailio: %1").arg(m_process->errorString()));
        m_process.reset();
        return false;
    }

    const auto thisRunLog = [&] {
        QFile f(logPath);
        if (!f.open(QIODevice::ReadOnly))
            return QString();
        f.seek(logStart);
        return QString::fromUtf8(f.readAll());
    };

    const QDeadlineTimer deadline(startDeadlineMs);
    bool ready = false;
    while (!deadline.hasExpired()) {
        // Waiting on the process doubles as the poll interval and notices an
        // early exit (bad config, port taken) at once.
        if (m_process->waitForFinished(50))
            break;
        if (!ready)
            ready = thisRunLog().contains(QLatin1String(readyLine));
        if (ready && !rpc({QStringLiteral("core.uptime")}).isEmpty())
            return true;
    }

    const QString runLog = thisRunLog();
    *portTaken = runLog.contains(QLatin1String("Address already in use"));
    const bool exited = m_process->state() == QProcess::NotRunning;
    stop();
    setError(error,
             QStringLiteral("kamailio on %1 %2; its log ends with:\n%3")
                 .arg(address(),
                      exited
                          ? QStringLiteral("exited during start-up")
                          : QStringLiteral("was not ready within %1 s").arg(startDeadlineMs / 1000),
                      tail(runLog)));
    return false;
}

void KamailioServer::stop() {
    if (!m_process)
        return;
    const qint64 pid = m_process->processId();
    if (m_process->state() != QProcess::NotRunning) {
        // SIGTERM to `timeout`, which passes it to kamailio; kamailio then
        // stops its workers and exits.
        m_process->terminate();
        if (!m_process->waitForFinished(stopDeadlineMs) && pid > 0) {
            // Stuck: kill the whole group `timeout` made (same id as its pid).
            ::kill(-static_cast<pid_t>(pid), SIGKILL);
            m_process->waitForFinished(stopDeadlineMs);
        }
    }
    m_process.reset();
    // Every worker inherits the SIP socket, so the port is free only once the last kamailio
    // process is gone; one left behind would answer the next test's calls.
    const QDeadlineTimer deadline(stopDeadlineMs);
    while (m_port != 0 && udpPortInUse(m_port, m_commandPrefix) && !deadline.hasExpired())
        QThread::msleep(20);
    if (m_port != 0 && udpPortInUse(m_port, m_commandPrefix)) {
        if (pid > 0)
            ::kill(-static_cast<pid_t>(pid), SIGKILL);
        qFatal("kamailio outlived its stop: port %u is still in use", unsigned(m_port));
    }
}

bool KamailioServer::isRunning() const {
    return m_process && m_process->state() != QProcess::NotRunning;
}

quint16 KamailioServer::port() const {
    return m_port;
}

QString KamailioServer::address() const {
    return QStringLiteral("%1:%2").arg(m_listenAddress).arg(m_port);
}

QString KamailioServer::configPath() const {
    return m_dir ? m_dir->filePath(QStringLiteral("kamailio.cfg")) : QString();
}

QString KamailioServer::controlSocket() const {
    return m_dir ? QStringLiteral("unix:") + m_dir->filePath(QStringLiteral("kamailio_ctl"))
                 : QString();
}

QString KamailioServer::rpc(const QStringList &args) const {
    if (!m_dir)
        return {};
    const QString kamcmd = findTool(QStringLiteral("kamcmd"));
    if (kamcmd.isEmpty())
        return {};
    QProcess process;
    process.setStandardInputFile(QProcess::nullDevice());
    process.start(kamcmd, QStringList{QStringLiteral("-s"), controlSocket()} + args);
    if (!process.waitForFinished(rpcDeadlineMs)) {
        process.kill();
        process.waitForFinished();
        return {};
    }
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
        return {};
    return QString::fromUtf8(process.readAllStandardOutput());
}

QList<KamailioServer::Contact> KamailioServer::contacts(const QString &user) const {
    // ul.lookup prints, per contact, lines like
    //     Address: sip:1001@127.0.0.1:40312
    //     Expires: 593          (or "permanent", "expired", "deleted")
    // and "error: 404 - AOR not found" when the account has none.
    const QString out =
        rpc({QStringLiteral("ul.lookup"), QStringLiteral("location"), QStringLiteral("s:") + user});
    QList<Contact> result;
    QList<bool> live;
    for (const QString &rawLine : out.split(QLatin1Char('\n'))) {
        const QString line = rawLine.trimmed();
        if (line.startsWith(QLatin1String("Address:"))) {
            result.append({line.mid(8).trimmed(), -1});
            live.append(true);
        } else if (line.startsWith(QLatin1String("Expires:")) && !result.isEmpty()) {
            const QString value = line.mid(8).trimmed();
            bool isNumber = false;
            const int seconds = value.toInt(&isNumber);
            if (isNumber)
                result.last().expires = seconds;
            // "expired" / "deleted": gone, only not yet swept by the timer
            live.last() = isNumber || value == QLatin1String("permanent");
        }
    }
    for (qsizetype i = result.size() - 1; i >= 0; --i) {
        if (!live.at(i))
            result.removeAt(i);
    }
    return result;
}

QString KamailioServer::log() const {
    if (!m_dir)
        return {};
    QFile f(m_dir->filePath(QStringLiteral("kamailio.log")));
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(f.readAll());
}
