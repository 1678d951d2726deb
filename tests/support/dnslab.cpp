#include "dnslab.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QStandardPaths>

#include <unistd.h>

namespace {

QString findDnsmasq() {
    return QStandardPaths::findExecutable(QStringLiteral("dnsmasq"),
                                          {QStringLiteral("/usr/sbin"), QStringLiteral("/sbin")});
}

QString etcOf(const QString &name) {
    return QStringLiteral("/etc/netns/") + name;
}

bool ip(const QStringList &arguments) {
    return QProcess::execute(QStringLiteral("ip"), arguments) == 0;
}

} // namespace

DnsLab::DnsLab() {
    static int made = 0;
    m_name = QStringLiteral("kirrow-dns-%1-%2").arg(::getpid()).arg(++made);
}

DnsLab::~DnsLab() {
    if (m_server.state() != QProcess::NotRunning) {
        m_server.terminate();
        if (!m_server.waitForFinished(5000))
            m_server.kill();
        m_server.waitForFinished(5000);
    }
    if (m_made) {
        ip({QStringLiteral("netns"), QStringLiteral("delete"), m_name});
        QDir(etcOf(m_name)).removeRecursively();
    }
}

QString DnsLab::unavailable() {
    if (::geteuid() != 0)
        return QStringLiteral("a network namespace with a DNS server of its own needs root");
    if (findDnsmasq().isEmpty())
        return QStringLiteral("dnsmasq is missing (scripts/deps installs dnsmasq-base)");
    return {};
}

bool DnsLab::start(QString *error) {
    const auto fail = [error](const QString &why) {
        if (error)
            *error = why;
        return false;
    };
    if (const QString why = unavailable(); !why.isEmpty())
        return fail(why);
    if (!ip({QStringLiteral("netns"), QStringLiteral("add"), m_name}))
        return fail(QStringLiteral("cannot make the namespace %1").arg(m_name));
    m_made = true;
    if (!ip({QStringLiteral("-n"), m_name, QStringLiteral("link"), QStringLiteral("set"),
             QStringLiteral("lo"), QStringLiteral("up")}))
        return fail(QStringLiteral("cannot bring up loopback in %1").arg(m_name));
    QFile resolv(etcOf(m_name) + QStringLiteral("/resolv.conf"));
    if (!QDir().mkpath(etcOf(m_name)) || !resolv.open(QIODevice::WriteOnly) ||
        resolv.write("nameserver 127.0.0.1\noptions timeout:1 attempts:1\n") < 0)
        return fail(QStringLiteral("cannot write %1").arg(resolv.fileName()));
    return true;
}

bool DnsLab::serve(const QStringList &records, QString *error) {
    const auto fail = [error](const QString &why) {
        if (error)
            *error = why;
        return false;
    };
    m_server.setProcessChannelMode(QProcess::MergedChannels);
    m_server.start(QStringLiteral("ip"),
                   QStringList{"netns", "exec", m_name, "timeout", "600", findDnsmasq(),
                               "--keep-in-foreground", "--log-facility=-", "--log-queries",
                               "--no-resolv", "--no-hosts", "--user=root",
                               "--pid-file=", "--bind-interfaces", "--listen-address=127.0.0.1",
                               "--local=/test/"} +
                       records);
    if (!m_server.waitForStarted(10000))
        return fail(QStringLiteral("dnsmasq did not start: %1").arg(m_server.errorString()));
    const QDeadlineTimer deadline(20000);
    while (!log().contains(QLatin1String("started"))) {
        if (m_server.state() != QProcess::Running || deadline.hasExpired())
            return fail(QStringLiteral("dnsmasq did not come up:\n%1").arg(log()));
        m_server.waitForReadyRead(200);
    }
    return true;
}

QString DnsLab::log() {
    m_log += QString::fromUtf8(m_server.readAll());
    return m_log;
}
