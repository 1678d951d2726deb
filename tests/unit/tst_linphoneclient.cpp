#include "linphoneclient.h"

#include <QNetworkDatagram>
#include <QTemporaryDir>
#include <QUdpSocket>
#include <QtTest>

// The engine's port and address choices, and what it refuses before it is ready.
class TestLinphoneClient : public QObject {
    Q_OBJECT
    QTemporaryDir m_home;

private slots:
    void initTestCase() { qputenv("XDG_DATA_HOME", m_home.filePath("data").toUtf8()); }

    void staticPortWhenFreeOtherwiseAnyFreePort() {
        QUdpSocket holder;
        if (holder.bind(QHostAddress::LocalHost, 5060)) {
            const int port = rtc::chooseSipPort(QStringLiteral("127.0.0.1"));
            QVERIFY(port > 0 && port != 5060);
            holder.close();
        }
        if (holder.bind(QHostAddress::LocalHost, 5060)) {
            holder.close();
            QCOMPARE(rtc::chooseSipPort(QStringLiteral("127.0.0.1")), 5060);
        }
    }

    void routesToLoopbackServersFromLoopback() {
        QCOMPARE(rtc::localAddressTowards(QStringLiteral("127.0.0.1:5070")),
                 QStringLiteral("127.0.0.1"));
        QCOMPARE(rtc::localAddressTowards(QStringLiteral("127.0.0.1")),
                 QStringLiteral("127.0.0.1"));
        QCOMPARE(rtc::localAddressTowards(QStringLiteral("localhost:5070")),
                 QStringLiteral("127.0.0.1"));
        // Names are left to the engine's own resolver, so the window never waits on DNS here.
        QCOMPARE(rtc::localAddressTowards(QStringLiteral("sip.example.invalid")), QString());
        QCOMPARE(rtc::localAddressTowards(QString()), QString());
    }

    void listensWhereItSays() {
        rtc::LinphoneClient client;
        client.Initialize();
        client.ListenForIncomingSessions(rtc::RTCLM_BOTH);
        QVERIFY(client.sipPort() > 0);
        QUdpSocket probe;
        QVERIFY2(!probe.bind(QHostAddress::AnyIPv4, client.sipPort()),
                 "the engine is not listening");

        // A message wakes the engine: an OPTIONS is answered with the slow tick out of the way.
        QCOMPARE(client.sipSocketsWatched(), 1);
        client.setSlowTick(3600 * 1000);
        QVERIFY(probe.bind(QHostAddress::LocalHost, 0));
        const QByteArray options =
            QStringLiteral("OPTIONS sip:kirrow@127.0.0.1:%1 SIP/2.0\r\n"
                           "Via: SIP/2.0/UDP 127.0.0.1:%2;branch=z9hG4bK-wake-1;rport\r\n"
                           "Max-Forwards: 70\r\nTo: <sip:kirrow@127.0.0.1>\r\n"
                           "From: <sip:probe@127.0.0.1>;tag=probe\r\nCall-ID: wake-1@127.0.0.1\r\n"
                           "CSeq: 1 OPTIONS\r\nContent-Length: 0\r\n\r\n")
                .arg(client.sipPort())
                .arg(probe.localPort())
                .toLatin1();
        probe.writeDatagram(options, QHostAddress::LocalHost, quint16(client.sipPort()));
        QByteArray answer;
        QTRY_VERIFY_WITH_TIMEOUT(
            [&] {
                while (probe.hasPendingDatagrams())
                    answer += probe.receiveDatagram().data();
                return answer.startsWith("SIP/2.0 200");
            }(),
            5000);
    }

    // The engine's own timers run with nothing else to wake it: an INVITE that goes unanswered
    // is sent again (after half a second, then one more), as SIP over UDP requires.
    void unansweredInviteIsSentAgain() {
        rtc::LinphoneClient client;
        client.Initialize();
        client.ListenForIncomingSessions(rtc::RTCLM_BOTH);
        QUdpSocket silent;
        QVERIFY(silent.bind(QHostAddress::LocalHost, 0));
        const rtc::IRTCSessionPtr session = client.CreateSession(rtc::RTCST_PC_TO_PC, {}, {}, 0);
        session->AddParticipant(QStringLiteral("sip:600@127.0.0.1:%1").arg(silent.localPort()),
                                QString());
        int invites = 0;
        QTRY_VERIFY_WITH_TIMEOUT(
            [&] {
                while (silent.hasPendingDatagrams())
                    invites += silent.receiveDatagram().data().startsWith("INVITE ") ? 1 : 0;
                return invites >= 3;
            }(),
            10000);
        session->Terminate(rtc::RTCTR_NORMAL);
    }

    void operationsNeedAnInitializedClient() {
        rtc::LinphoneClient client;
        try {
            client.provisioning()->CreateProfile(QStringLiteral("<provision/>"));
            QFAIL("CreateProfile worked without Initialize");
        } catch (const rtc::RtcError &error) {
            QCOMPARE(error.number(), long(rtc::RTC_E_NOT_INITIALIZED));
        }
    }
};

QTEST_GUILESS_MAIN(TestLinphoneClient)
#include "tst_linphoneclient.moc"
