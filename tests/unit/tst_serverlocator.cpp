#include "dnslab.h"
#include "fakertcclient.h"
#include "profiletext.h"
#include "provisioningprofile.h"
#include "registrationcontroller.h"
#include "serverlocator.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QtTest>

#include <unistd.h>

namespace {

// What a lookup of domain gave: "TLS host:port", then the servers to try after it, or "none".
QString locate(const QString &domain) {
    account::ServerLocator locator;
    QSignalSpy located(&locator, &account::ServerLocator::located);
    locator.locate(domain);
    if (!located.wait(15000))
        return QStringLiteral("no answer");
    const auto server = located.first().at(1).value<std::optional<account::LocatedServer>>();
    QStringList servers;
    for (const account::LocatedServer &each : locator.servers())
        servers << account::transportName(each.transport) + ' ' + each.address();
    if (server &&
        servers.value(0) != account::transportName(server->transport) + ' ' + server->address())
        return QStringLiteral("the server found is not the first to try");
    return server ? servers.join(QStringLiteral(", ")) : QStringLiteral("none");
}

// The profile a login at domain hands the engine once DNS has answered; empty when none came.
QString profileFor(const QString &domain) {
    auto client = std::make_shared<FakeRTCClient>();
    account::RegistrationController registration([client] { return client; });
    registration.InitRTCClient();
    account::ServerLocator::setLookupsEnabled(true); // which the fake engine turned off
    registration.RegisterProfile({domain, "1001", "pw"});
    if (!QTest::qWaitFor([&] { return !client->profileTexts.isEmpty(); }, 15000))
        return {};
    return client->profileTexts.value(0);
}

} // namespace

// Where a domain's SIP server is, asked of DNS: a DNS server of the test's own (dnsmasq) in a
// network namespace of its own, whose resolver configuration names it.
class TestServerLocator : public QObject {
    Q_OBJECT
private slots:
    void domainInDnsIsLocated() {
        if (const QString why = DnsLab::unavailable(); !why.isEmpty())
            QSKIP(qPrintable(why));
        // example.test offers TLS (two servers, the lower priority preferred, then the greater
        // weight) and UDP; udp.test UDP alone; none.test nothing.
        DnsLab lab;
        QString error;
        QVERIFY2(lab.start(&error), qPrintable(error));
        QVERIFY2(lab.serve({"--srv-host=_sips._tcp.example.test,tls2.example.test,5071,10,50",
                            "--srv-host=_sips._tcp.example.test,tls1.example.test,5061,0,10",
                            "--srv-host=_sips._tcp.example.test,tls3.example.test,5081,0,5",
                            "--srv-host=_sip._udp.example.test,udp.example.test,5060,0,0",
                            "--srv-host=_sip._udp.udp.test,sip.udp.test,5062,0,0"},
                           &error),
                 qPrintable(error));
        const QString name = lab.name();

        QProcess inside;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("KIRROW_LOCATOR_NAMESPACE"), name);
        inside.setProcessEnvironment(environment);
        inside.setProcessChannelMode(QProcess::MergedChannels);
        inside.start(
            QStringLiteral("ip"),
            {"netns", "exec", name, QCoreApplication::applicationFilePath(), "locatesInNamespace"});
        QVERIFY(inside.waitForFinished(60000));
        const QString said = QString::fromUtf8(inside.readAll());
        QVERIFY2(inside.exitCode() == 0 && said.contains("PASS   : TestServerLocator::"
                                                         "locatesInNamespace"),
                 qPrintable(said + lab.log()));
        // The answers came from the test's DNS server, asked for each service.
        QTRY_VERIFY2(lab.log().contains("query[SRV] _sip._udp.none.test"), qPrintable(lab.log()));
    }

    // Run by the case above inside its namespace.
    void locatesInNamespace() {
        if (qEnvironmentVariableIsEmpty("KIRROW_LOCATOR_NAMESPACE"))
            QSKIP("run inside its network namespace by domainInDnsIsLocated");
        QCOMPARE(locate("udp.test"), QStringLiteral("UDP sip.udp.test:5062"));
        QCOMPARE(locate("none.test"), QStringLiteral("none"));
        QCOMPARE(locate("example.test"),
                 QStringLiteral("TLS tls1.example.test:5061, TLS tls3.example.test:5081, "
                                "TLS tls2.example.test:5071, UDP udp.example.test:5060"));
        // A login at the domain registers at the server found, its address staying at the
        // domain; without records, exactly as a server typed.
        const auto found = rtc::parseProvisioningProfile(profileFor("example.test"));
        QCOMPARE(found.userUri, QStringLiteral("sip:1001@example.test"));
        QCOMPARE(found.registrar + ' ' + found.transport,
                 QStringLiteral("tls1.example.test:5061 TLS"));
        QCOMPARE(profileFor("none.test"),
                 account::BuildProfileText("1001", "1001", "pw", "none.test"));
    }
};

QTEST_GUILESS_MAIN(TestServerLocator)
#include "tst_serverlocator.moc"
