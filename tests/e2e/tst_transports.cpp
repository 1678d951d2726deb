#include "dnslab.h"
#include "kamailioserver.h"
#include "kirrowprogram.h"
#include "netlab.h"
#include "sipppeer.h"
#include "testdesktop.h"

#include <QGuiApplication>
#include <QSslCertificate>
#include <QtTest>

// The program itself reaching an exchange over TCP, over TLS with the server's certificate
// checked, and over IPv6, as typed into its login dialog; what arrived read from the exchange's
// log of every request.
class TestTransports : public QObject {
    Q_OBJECT
    std::unique_ptr<KamailioServer> m_server;
    // The same exchange under a certificate made out to another name.
    std::unique_ptr<KamailioServer> m_elsewhere;

    static constexpr int kRegisterTimeoutMs = 20000;
    static inline const QString kRegistered = QStringLiteral("Registered and Ready...");
    static inline const QString kNotTrusted =
        QStringLiteral("Registration failed: certificate not trusted");

    static std::unique_ptr<KamailioServer> exchange(const QString &tlsName) {
        auto server = std::make_unique<KamailioServer>(
            QList<KamailioServer::Account>{{"1001", "kirrow1001"}});
        KamailioServer::Listeners listeners;
        listeners.tcp = listeners.tls = listeners.udp6 = true;
        listeners.tlsName = tlsName;
        listeners.logRequests = true;
        server->setListeners(listeners);
        return server;
    }
    // The program, trusting the certificates of caFile alone.
    static std::unique_ptr<KirrowProgram> program(const QString &caFile) {
        auto kirrow = std::make_unique<KirrowProgram>(QStringLiteral(KIRROW_BINARY));
        kirrow->environment().insert(QStringLiteral("SSL_CERT_FILE"), caFile);
        return kirrow;
    }
    static QString wholeStatus(KirrowProgram &kirrow) {
        return kirrow.control(QString(), QStringLiteral("status bar")).description();
    }
    // The requests of a method the exchange logged since it had logged `since` characters.
    static QStringList requests(const KamailioServer &server, qsizetype since,
                                const QString &method) {
        static const QRegularExpression line(
            QStringLiteral("request (\\S+) from (\\S+) over (\\w+)"));
        QStringList found;
        for (auto it = line.globalMatch(server.log().mid(since)); it.hasNext();) {
            const auto match = it.next();
            if (match.captured(1) == method)
                found << match.captured(2) + ' ' + match.captured(3);
        }
        return found;
    }

private slots:
    void initTestCase() {
        REQUIRE_TEST_DESKTOP();
        QVERIFY2(QGuiApplication::platformName() == QLatin1String("xcb"),
                 "needs a real X server (scripts/test starts one)");
        m_server = exchange(QStringLiteral("127.0.0.1"));
        m_elsewhere = exchange(QStringLiteral("elsewhere.example.test"));
        QString error;
        QVERIFY2(m_server->start(&error), qPrintable(error));
        QVERIFY2(m_elsewhere->start(&error), qPrintable(error));
    }

    // Each way in registers, and the requests come over it.
    void registersOverEachTransport_data() {
        QTest::addColumn<QString>("server");
        QTest::addColumn<QString>("arrived"); // the REGISTER's source address and transport
        QTest::newRow("tcp")
            << QStringLiteral("127.0.0.1:%1;transport=tcp").arg(m_server->tcpPort())
            << "127.0.0.1 tcp";
        QTest::newRow("tls") << QStringLiteral("sips:127.0.0.1:%1").arg(m_server->tlsPort())
                             << "127.0.0.1 tls";
        QTest::newRow("ipv6") << QStringLiteral("[::1]:%1").arg(m_server->udp6Port()) << "::1 udp";
    }
    void registersOverEachTransport() {
        QFETCH(QString, server);
        QFETCH(QString, arrived);
        const qsizetype logged = m_server->log().size();
        auto kirrow = program(m_server->caFile());
        kirrow->startAndLogIn(server, "1001", "kirrow1001");
        QTRY_COMPARE_WITH_TIMEOUT(kirrow->statusLine(), kRegistered, kRegisterTimeoutMs);
        const QStringList registers = requests(*m_server, logged, "REGISTER");
        QVERIFY(!registers.isEmpty());
        QCOMPARE(registers.filter(arrived).size(), registers.size());
        QCOMPARE(m_server->contacts("1001").size(), 1);
        // A call goes the same way (to a number the exchange does not serve).
        for (const QString key : {"6", "0", "0", "Call"})
            kirrow->click(key, QStringLiteral("push button"));
        QTRY_COMPARE_WITH_TIMEOUT(requests(*m_server, logged, "INVITE").value(0), arrived,
                                  kRegisterTimeoutMs);
        kirrow->close();
        QTRY_VERIFY(m_server->contacts("1001").isEmpty()); // unregistered the same way
    }

    // Registered at an exchange reached over IPv6, the program refuses a caller who sends it an
    // INVITE straight, not through the exchange, as it does over IPv4: 403, and nothing rings.
    void strangerOverIpv6IsRefused() {
        auto kirrow = program(m_server->caFile());
        kirrow->startRegistered(QStringLiteral("[::1]:%1").arg(m_server->udp6Port()), "1001",
                                "kirrow1001");
        const QString contact = m_server->contacts("1001").value(0).uri;
        QString phone = contact.mid(contact.indexOf('@') + 1).section(';', 0, 0);
        if (!phone.contains(QLatin1String("]:")))
            phone += QLatin1String(":5060"); // SIP's own port, left out
        QVERIFY2(phone.startsWith(QLatin1String("[::1]:")), qPrintable(contact));
        SippPeer stranger({.scenario = "direct-call-refused.xml",
                           .remote = phone,
                           .localAddress = QStringLiteral("::1")});
        QString error;
        QVERIFY2(stranger.start(&error), qPrintable(error));
        QVERIFY2(stranger.waitForExit(kRegisterTimeoutMs) && stranger.exitCode() == 0,
                 qPrintable(stranger.report()));
        QCOMPARE(kirrow->statusLine(), kRegistered);
        kirrow->close();
    }

    // A certificate that does not verify ends the registration with that reason before anything
    // is sent: a CA the program does not trust, or a certificate made out to another name.
    void untrustedCertificateIsRefused_data() {
        QTest::addColumn<bool>("elsewhere");
        QTest::newRow("unknown CA") << false;
        QTest::newRow("wrong name") << true;
    }
    void untrustedCertificateIsRefused() {
        QFETCH(bool, elsewhere);
        KamailioServer &server = elsewhere ? *m_elsewhere : *m_server;
        const qsizetype logged = server.log().size();
        auto kirrow = program(elsewhere ? server.caFile() : server.otherCaFile());
        kirrow->startAndLogIn(QStringLiteral("sips:127.0.0.1:%1").arg(server.tlsPort()), "1001",
                              "kirrow1001");
        QTRY_COMPARE_WITH_TIMEOUT(wholeStatus(*kirrow), kNotTrusted, kRegisterTimeoutMs);
        kirrow->answerMessage(QStringLiteral("Trust this certificate for this server?"),
                              QStringLiteral("No"));
        // The engine broke off the handshake: the exchange heard its alert, and no request.
        QTRY_VERIFY2(server.log().mid(logged).contains(elsewhere ? "alert bad certificate"
                                                                 : "alert unknown ca"),
                     qPrintable(server.log().mid(logged)));
        QVERIFY2(requests(server, logged, "REGISTER").isEmpty(),
                 qPrintable(server.log().mid(logged)));
        QVERIFY(server.contacts("1001").isEmpty());
        kirrow->close();
    }

    // A refused certificate is shown to the user, who may trust it for this server: then it
    // registers, and does so from then on without asking, until the certificate changes.
    void refusedCertificateMayBeTrusted() {
        auto server = exchange(QStringLiteral("127.0.0.1"));
        QString error;
        QVERIFY2(server->start(&error), qPrintable(error));
        const QString address = QStringLiteral("sips:127.0.0.1:%1").arg(server->tlsPort());
        const auto fingerprint = [&server] {
            const auto shown = QSslCertificate::fromPath(
                QFileInfo(server->caFile()).dir().filePath(QStringLiteral("server.pem")));
            return QString::fromLatin1(
                shown.value(0).digest(QCryptographicHash::Sha256).toHex(':').toUpper());
        };
        auto kirrow = program(server->otherCaFile()); // the server's CA is not trusted
        kirrow->startAndLogIn(address, "1001", "kirrow1001");
        QString offer;
        kirrow->answerMessage(fingerprint(), QStringLiteral("Yes"), &offer);
        QVERIFY2(offer.contains(QStringLiteral("Subject: 127.0.0.1")) &&
                     offer.contains(QStringLiteral("Issuer: Kirrow Test CA")) &&
                     offer.contains(QStringLiteral("Trust this certificate for this server?")),
                 qPrintable(offer));
        QTRY_COMPARE_WITH_TIMEOUT(kirrow->statusLine(), kRegistered, kRegisterTimeoutMs);
        const QString kept =
            QFileInfo(kirrow->settingsFile()).dir().filePath("TrustedCertificates.ini");
        // Readable by its owner alone (the "User" bits are the owner's, as the test's user).
        QCOMPARE(QFileInfo(kept).permissions(), QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                                    QFileDevice::ReadUser | QFileDevice::WriteUser);
        kirrow->close();

        // Started again, it trusts the certificate kept.
        qsizetype logged = server->log().size();
        kirrow->startAndLogIn(address, "1001", "kirrow1001");
        QTRY_COMPARE_WITH_TIMEOUT(kirrow->statusLine(), kRegistered, kRegisterTimeoutMs);
        QCOMPARE(kirrow->windows(), QStringList{"Kirrow"});
        QVERIFY(!requests(*server, logged, "REGISTER").isEmpty());
        kirrow->close();

        // Another certificate of the same server is refused again, and offered again.
        server->stop();
        server->renewCertificate();
        QVERIFY2(server->start(&error), qPrintable(error));
        logged = server->log().size();
        kirrow->startAndLogIn(address, "1001", "kirrow1001");
        kirrow->answerMessage(fingerprint(), QStringLiteral("No"));
        QTRY_COMPARE_WITH_TIMEOUT(wholeStatus(*kirrow), kNotTrusted, kRegisterTimeoutMs);
        QVERIFY(requests(*server, logged, "REGISTER").isEmpty());
        kirrow->close();
    }

    // A domain alone, typed as the server, registers where its DNS records say, over the
    // transport they prefer (TLS before UDP), at the first server that answers, whose certificate
    // names the domain rather than the host DNS gave; the address of record stays at the domain.
    // The program runs in a network namespace whose resolver asks a DNS server of the test's own.
    void bareDomainRegistersWhereDnsSays() {
        if (const QString why = DnsLab::unavailable(); !why.isEmpty())
            QSKIP(qPrintable(why));
        DnsLab dns;
        QString error;
        QVERIFY2(dns.start(&error), qPrintable(error));
        auto server = exchange(QStringLiteral("sip.example.test"));
        KamailioServer::Listeners listeners;
        listeners.tls = listeners.logRequests = true;
        listeners.tlsName = QStringLiteral("example.test");
        listeners.domain = QStringLiteral("example.test");
        server->setListeners(listeners);
        server->setNetwork(NetLab::inNamespace(dns.name()), QStringLiteral("127.0.0.1"));
        QVERIFY2(server->start(&error), qPrintable(error));
        // The first server named does not listen: the next one is tried.
        QVERIFY2(
            dns.serve({QStringLiteral("--srv-host=_sips._tcp.example.test,sip.example.test,9,0"),
                       QStringLiteral("--srv-host=_sips._tcp.example.test,sip.example.test,%1,10")
                           .arg(server->tlsPort()),
                       QStringLiteral("--srv-host=_sip._udp.example.test,sip.example.test,%1")
                           .arg(server->port()),
                       QStringLiteral("--host-record=sip.example.test,127.0.0.1")},
                      &error),
            qPrintable(error));

        auto kirrow = program(server->caFile());
        kirrow->setCommandPrefix(NetLab::inNamespace(dns.name()));
        kirrow->startAndLogIn(QStringLiteral("example.test"), "1001", "kirrow1001");
        QTRY_COMPARE_WITH_TIMEOUT(kirrow->statusLine(), kRegistered, kRegisterTimeoutMs);
        const QStringList registers = requests(*server, 0, "REGISTER");
        QVERIFY2(!registers.isEmpty() &&
                     registers.filter("127.0.0.1 tls").size() == registers.size(),
                 qPrintable(registers.join("; ")));
        const QList<KamailioServer::Contact> contacts = server->contacts("1001");
        QCOMPARE(contacts.size(), 1);
        QVERIFY2(dns.log().contains("query[SRV] _sips._tcp.example.test"), qPrintable(dns.log()));
        kirrow->close();
        QTRY_VERIFY(server->contacts("1001").isEmpty());
    }

    // An entry that names no server in a form the dialog knows is refused with what is wrong,
    // and nothing goes out; the dialog stays for the corrected entry.
    void malformedEntryIsRefused() {
        const qsizetype logged = m_server->log().size();
        auto kirrow = program(m_server->caFile());
        kirrow->start();
        kirrow->typeLogin(QStringLiteral("127.0.0.1:%1;transport=sctp").arg(m_server->tcpPort()),
                          "1001", "kirrow1001");
        kirrow->answerMessage("Sip IP/Domain: the transport \"sctp\" is unknown");
        QVERIFY2(!m_server->log().mid(logged).contains("request "),
                 qPrintable(m_server->log().mid(logged)));
        kirrow->typeLogin(QStringLiteral("127.0.0.1:%1;transport=TCP").arg(m_server->tcpPort()),
                          "1001", "kirrow1001");
        QTRY_COMPARE_WITH_TIMEOUT(kirrow->statusLine(), kRegistered, kRegisterTimeoutMs);
        kirrow->close();
    }
};

QTEST_MAIN(TestTransports)
#include "tst_transports.moc"
