#include "profiletext.h"
#include "provisioningprofile.h"
#include "registrationstate.h"
#include "rtcclient.h"
#include "serverentry.h"

#include <QtTest>

// The profile text handed to the engine, and the engine's reading of it.
class TestProfile : public QObject {
    Q_OBJECT
private slots:
    void failedRegistrationSaysWhyAndForbidsCalls() {
        const auto word = [](long state, long code, const char *phrase) {
            const auto shown = account::registrationShown(state, code, QLatin1String(phrase));
            return shown ? shown->word + '|' + shown->caption + '|' + shown->whole
                         : QStringLiteral("unchanged");
        };
        QCOMPARE(word(rtc::RTCRS_REGISTERED, 200, "OK"), "REGISTERED|Registered and Ready...|");
        QCOMPARE(word(rtc::RTCRS_REJECTED, 403, "Forbidden"), "REJECTED|Rejected|");
        QCOMPARE(word(rtc::RTCRS_ERROR, 0, ""),
                 "NOTREGISTERED|Failed: server not reachable|"
                 "Registration failed: server not found or not reachable");
        QCOMPARE(word(rtc::RTCRS_ERROR, 408, "Request Timeout"),
                 "NOTREGISTERED|Failed: no answer from server|"
                 "Registration failed: no answer from the server");
        QCOMPARE(word(rtc::RTCRS_ERROR, 503, "Service Unavailable"),
                 "NOTREGISTERED|Failed: refused (503)|"
                 "Registration failed: refused (503 Service Unavailable)");
        QCOMPARE(word(rtc::RTCRS_ERROR, rtc::RTC_STATUS_CERTIFICATE_REFUSED, "io error"),
                 "NOTREGISTERED|Failed: certificate not trusted|"
                 "Registration failed: certificate not trusted");
        QCOMPARE(word(rtc::RTCRS_UNREGISTERING, 0, ""), "unchanged");
    }

    void valuesAreNeitherTrimmedNorChanged() {
        const QString text = account::BuildProfileText(" 77 ", "x'y", " pw ", "10.0.0.1:5070");
        QVERIFY(text.contains(
            "account=\" 77 \" name=\"x'y\" password=\" pw \" uri=\"sip: 77 @10.0.0.1:5070\""));
    }

    void specialCharactersAreEscapedAndReadBack() {
        const QString password = QStringLiteral("p\"a&s<s>\tx\r\ny ");
        const QString text = account::BuildProfileText("1001", "A&B", password, "example.net");
        QVERIFY(text.contains("password=\"p&quot;a&amp;s&lt;s&gt;&#9;x&#13;&#10;y \""));
        QVERIFY(text.contains("name=\"A&amp;B\""));
        const rtc::ProvisioningProfile profile = rtc::parseProvisioningProfile(text);
        QCOMPARE(profile.password, password);
        QCOMPARE(profile.userName, QStringLiteral("A&B"));
    }

    void engineReadsWhatRegistrationNeeds() {
        const auto profile = rtc::parseProvisioningProfile(
            account::BuildProfileText("1001", "1001", "secret", "127.0.0.1:5070"));
        QCOMPARE(profile.key, account::profileKey());
        QCOMPARE(profile.expires, 600);
        QCOMPARE(profile.account, QStringLiteral("1001"));
        QCOMPARE(profile.password, QStringLiteral("secret"));
        QCOMPARE(profile.userUri, QStringLiteral("sip:1001@127.0.0.1:5070"));
        QCOMPARE(profile.registrar, QStringLiteral("127.0.0.1:5070"));
        QCOMPARE(profile.proxy, QStringLiteral("127.0.0.1:5070"));
    }

    // What the login's server field takes, as the profile is built from it: the address of
    // record at the host typed, the server and its transport; or what is wrong with it.
    void serverEntries_data() {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("read"); // "address transport", or the error's telling words
        QTest::newRow("host") << "sip.example.net"
                              << "sip.example.net UDP";
        QTest::newRow("host:port") << " 10.0.0.1:5070 "
                                   << "10.0.0.1:5070 UDP";
        QTest::newRow("sips") << "SIPS:sip.example.net:5061"
                              << "sip.example.net:5061 TLS";
        QTest::newRow("transport") << "h.example.net:5070;Transport=TCP"
                                   << "h.example.net:5070 TCP";
        QTest::newRow("ipv6") << "[2001:db8::1]"
                              << "[2001:db8::1] UDP";
        QTest::newRow("ipv6 port tls") << "[::1]:5061;transport=tls"
                                       << "[::1]:5061 TLS";
        QTest::newRow("port 0") << "h:0"
                                << "the port \"0\"";
        QTest::newRow("port empty") << "h:"
                                    << "the port \"\"";
        QTest::newRow("port word") << "h:sip"
                                   << "the port \"sip\"";
        QTest::newRow("unknown transport") << "h;transport=sctp"
                                           << "\"sctp\" is unknown";
        QTest::newRow("other parameter") << "h;lr"
                                         << "\"lr\" is not understood";
        QTest::newRow("sips over udp") << "sips:h;transport=udp"
                                       << "TLS only, not UDP";
        QTest::newRow("unclosed") << "[2001:db8::1:5060"
                                  << "not closed";
        QTest::newRow("bad ipv6") << "[2001:db8::x]"
                                  << "not an IPv6 address";
        QTest::newRow("ipv6 bare") << "2001:db8::1"
                                   << "goes in brackets";
        QTest::newRow("empty host") << ":5060"
                                    << "names no server";
        QTest::newRow("spaces") << "sip example.net"
                                << "spaces";
        QTest::newRow("account") << "1001@example.net"
                                 << "Account/Pin";
    }
    void serverEntries() {
        QFETCH(QString, typed);
        QFETCH(QString, read);
        const account::ServerEntry entry = account::parseServerEntry(typed);
        if (!entry.isValid()) {
            QVERIFY2(entry.error.contains(read), qPrintable(entry.error));
            return;
        }
        QCOMPARE(entry.address() + ' ' + account::transportName(entry.transportOrUdp()), read);
        const auto profile = rtc::parseProvisioningProfile(
            account::BuildProfileText("1001", "1001", "pw", entry.address(), entry.address(),
                                      account::transportName(entry.transportOrUdp())));
        QCOMPARE(profile.userUri, "sip:1001@" + entry.address());
        QCOMPARE(profile.registrar + ' ' + profile.transport, read);
        QCOMPARE(profile.proxyTransport, profile.transport);
    }

    // A server found in DNS: registered at over its transport, the address of record staying at
    // the domain; a plain server gives the text it always gave.
    void locatedServerKeepsTheDomain() {
        const QString text = account::BuildProfileText("1001", "1001", "pw", "example.test",
                                                       "tls1.example.test:5061", "TLS");
        const auto profile = rtc::parseProvisioningProfile(text);
        QCOMPARE(profile.userUri, QStringLiteral("sip:1001@example.test"));
        QCOMPARE(profile.callDisplay, QStringLiteral("sip:1001@example.test"));
        QCOMPARE(profile.registrar, QStringLiteral("tls1.example.test:5061"));
        QCOMPARE(profile.transport, QStringLiteral("TLS"));
        QCOMPARE(account::BuildProfileText("1001", "N", "pw", "10.0.0.1:5070"),
                 QStringLiteral(
                     "<provision key=\"3f9a1c62-7b04-4e8d-a5c1-90d2e7b4c813\" name=\"1001\" "
                     "expires=\"600\"><user account=\"1001\" name=\"N\" password=\"pw\" "
                     "uri=\"sip:1001@10.0.0.1:5070\" /> <sipsrv addr=\"10.0.0.1:5070\" "
                     "protocol=\"UDP\" auth=\"digest\" role=\"registrar\"><session "
                     "party=\"first\" type=\"pc2ph\" /></sipsrv><sipsrv addr=\"10.0.0.1:5070\" "
                     "protocol=\"UDP\" auth=\"digest\" role=\"proxy\"><session party=\"first\" "
                     "type=\"pc2ph\" /></sipsrv><provider "
                     "calldisplay=\"sip:1001@10.0.0.1:5070\" /></provision>"));
    }

    void badProfilesAreRefusedWithAReason_data() {
        QTest::addColumn<QString>("xml");
        QTest::addColumn<QString>("reason");
        QTest::newRow("not well-formed")
            << QStringLiteral("<provision><user account=\"1\"") << "line 1";
        QTest::newRow("unescaped quote")
            << QStringLiteral("<provision><user account=\"1\" password=\"a\"b\" /></provision>")
            << "line 1";
        QTest::newRow("other document")
            << QStringLiteral("<html/>") << "not a provisioning profile";
        QTest::newRow("no user") << QStringLiteral("<provision expires=\"600\"/>")
                                 << "names no user";
        QTest::newRow("empty server")
            << account::BuildProfileText("1001", "1001", "pw", "") << "not a SIP address";
        QTest::newRow("no account")
            << account::BuildProfileText("", "", "pw", "example.net") << "has no account";
        QTest::newRow("no registrar")
            << QStringLiteral("<provision><user account=\"1\" uri=\"sip:1@h\"/></provision>")
            << "no registrar";
        QTest::newRow("sctp server")
            << QStringLiteral(
                   "<provision><user account=\"1\" uri=\"sip:1@h\"/>"
                   "<sipsrv addr=\"h\" protocol=\"SCTP\" role=\"registrar\"/></provision>")
            << "only UDP, TCP and TLS";
        QTest::newRow("bad expires")
            << QStringLiteral(
                   "<provision expires=\"soon\"><user account=\"1\" uri=\"sip:1@h\"/></provision>")
            << "expires";
    }

    void badProfilesAreRefusedWithAReason() {
        QFETCH(QString, xml);
        QFETCH(QString, reason);
        try {
            rtc::parseProvisioningProfile(xml);
            QFAIL("the profile was accepted");
        } catch (const rtc::RtcError &error) {
            QVERIFY(error.number() < 0);
            QVERIFY2(error.description().contains(reason), qPrintable(error.description()));
        }
    }
};

QTEST_GUILESS_MAIN(TestProfile)
#include "tst_profile.moc"
