#include "linphoneclient.h"
#include "sipscreen.h"

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
        // One with more Via lines than any path has, sent first, is dropped unread: the only
        // answer is to the plain one.
        QCOMPARE(client.sipSocketsWatched(), 1);
        client.setSlowTick(3600 * 1000);
        QVERIFY(probe.bind(QHostAddress::LocalHost, 0));
        auto options = [&](const char *id, const QByteArray &extra) {
            return QStringLiteral("OPTIONS sip:kirrow@127.0.0.1:%1 SIP/2.0\r\n"
                                  "Via: SIP/2.0/UDP 127.0.0.1:%2;branch=z9hG4bK-%3;rport\r\n")
                       .arg(client.sipPort())
                       .arg(probe.localPort())
                       .arg(QLatin1String(id))
                       .toLatin1() +
                   extra +
                   "Max-Forwards: 70\r\nTo: <sip:kirrow@127.0.0.1>\r\n"
                   "From: <sip:probe@127.0.0.1>;tag=probe\r\nCall-ID: " +
                   id + "@127.0.0.1\r\nCSeq: 1 OPTIONS\r\nContent-Length: 0\r\n\r\n";
        };
        const QByteArray vias =
            QByteArray("Via: SIP/2.0/UDP 127.0.0.2:5060;branch=z9hG4bK-many\r\n").repeated(100);
        probe.writeDatagram(options("many-vias", vias), QHostAddress::LocalHost,
                            quint16(client.sipPort()));
        probe.writeDatagram(options("wake-1", {}), QHostAddress::LocalHost,
                            quint16(client.sipPort()));
        QList<QByteArray> answers;
        QTRY_VERIFY_WITH_TIMEOUT(
            [&] {
                while (probe.hasPendingDatagrams())
                    answers << probe.receiveDatagram().data();
                return !answers.isEmpty();
            }(),
            5000);
        QVERIFY(answers.first().startsWith("SIP/2.0 200"));
        QVERIFY(answers.first().contains("Call-ID: wake-1@"));
        QCOMPARE(client.sipDatagramsDropped(), quint64(1));
    }

    // What a datagram may cost before the engine reads it: real messages pass, the costly and the
    // self-contradicting are dropped.
    void screensCostlyDatagrams_data() {
        QTest::addColumn<QByteArray>("datagram");
        QTest::addColumn<int>("verdict");
        const QByteArray head = "INVITE sip:1001@127.0.0.1 SIP/2.0\r\n"
                                "Via: SIP/2.0/UDP 127.0.0.1:5070;branch=z9hG4bK-1\r\n"
                                "v: SIP/2.0/UDP 127.0.0.1:5080;branch=z9hG4bK-2, "
                                "SIP/2.0/UDP 127.0.0.1:5090;branch=z9hG4bK-3\r\n"
                                "Call-ID: a@b\r\nContent-Type: application/sdp\r\n";
        const QByteArray sdp = "v=0\r\nm=audio 4000 RTP/AVP 0 8 101\r\na=rtpmap:0 PCMU/8000\r\n";
        auto message = [&](const QByteArray &extra, const QByteArray &length,
                           const QByteArray &body) {
            return head + extra + "Content-Length: " + length + "\r\n\r\n" + body;
        };
        using V = rtc::SipVerdict;
        const QByteArray length = QByteArray::number(sdp.size());
        QTest::newRow("an INVITE") << message({}, length, sdp) << int(V::Pass);
        QTest::newRow("compact length") << head + "l: 0\r\n\r\n" << int(V::Pass);
        QTest::newRow("no body") << message({}, "0", {}) << int(V::Pass);
        QTest::newRow("70 Vias") << message(
                                        QByteArray("Via: SIP/2.0/UDP 10.0.0.1\r\n").repeated(67),
                                        length, sdp)
                                 << int(V::Pass);
        QTest::newRow("71 Vias, some in one line")
            << message(QByteArray("Via: SIP/2.0/UDP 10.0.0.1\r\n").repeated(68), length, sdp)
            << int(V::TooManyVias);
        QTest::newRow("length beyond the body")
            << message({}, "4000", sdp) << int(V::BadContentLength);
        QTest::newRow("length not a number")
            << message({}, "many", sdp) << int(V::BadContentLength);
        QByteArray formats;
        for (int i = 0; i < 3000; ++i)
            formats += " 96";
        const QByteArray wide = "m=audio 4000 RTP/AVP" + formats + "\r\n";
        QTest::newRow("3000 formats")
            << message({}, QByteArray::number(wide.size()), wide) << int(V::LineTooLong);
        const QByteArray big =
            QByteArray("a=x:").append(QByteArray(1000, 'y')).append("\r\n").repeated(17);
        QTest::newRow("17 KiB") << message({}, QByteArray::number(big.size()), big)
                                << int(V::TooLarge);
    }
    void screensCostlyDatagrams() {
        QFETCH(QByteArray, datagram);
        QFETCH(int, verdict);
        QCOMPARE(int(rtc::screenSipDatagram(datagram, datagram.size())), verdict);
        // Seen through a buffer shorter than the datagram: never passed on as whole.
        QCOMPARE(int(rtc::screenSipDatagram(QByteArrayView(datagram).first(10), datagram.size())),
                 datagram.size() > 10 ? int(rtc::SipVerdict::TooLarge) : verdict);
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
