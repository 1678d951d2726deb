#include "profiletext.h"
#include "provisioningprofile.h"
#include "registrationstate.h"
#include "rtcclient.h"

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
        QTest::newRow("tcp server")
            << QStringLiteral(
                   "<provision><user account=\"1\" uri=\"sip:1@h\"/>"
                   "<sipsrv addr=\"h\" protocol=\"TCP\" role=\"registrar\"/></provision>")
            << "only UDP";
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
