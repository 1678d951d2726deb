#include "filebytes.h"
#include "kamailioserver.h"
#include "kirrowprogram.h"
#include "netlab.h"
#include "sipppeer.h"
#include "soundcheck.h"
#include "testdesktop.h"
#include "xdo.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QRegularExpression>
#include <QSettings>
#include <QtTest>

namespace {

constexpr int kTimeoutMs = 20000;
// The case left out of the suite's own run (see init()).
constexpr auto kIceCase = "twoHomesWithIceHaveSoundBothWays";
const QString kButton = QStringLiteral("push button");

// One UDP connection as the router's conntrack lists it: what the home sent (the original
// direction) and what comes back to the router's public address (the reply direction).
struct Connection {
    QString source, destination; // original direction
    quint16 sourcePort = 0, destinationPort = 0;
    QString replySource, replyDestination; // reply direction
    quint16 replySourcePort = 0, replyDestinationPort = 0;
    qint64 packetsOut = 0, packetsBack = 0;
};

// Reads `conntrack -L -o extended` lines, e.g.
//   ipv4 2 udp 17 19 src=192.0.2.10 dst=203.0.113.10 sport=5060 dport=41000 packets=3 bytes=..
//   src=203.0.113.10 dst=203.0.113.1 sport=41000 dport=5060 packets=2 bytes=.. [ASSURED] ..
QList<Connection> connections(const QString &table) {
    static const QRegularExpression field(
        QStringLiteral("\\b(src|dst|sport|dport|packets)=(\\S+)"));
    // Each direction's fields in the same order; the reply's start at the second src=.
    const auto read = [](const QString &part, QString *source, quint16 *sourcePort,
                         QString *destination, quint16 *destinationPort, qint64 *packets) {
        for (const QRegularExpressionMatch &m : field.globalMatch(part)) {
            const QString key = m.captured(1), value = m.captured(2);
            if (key == QLatin1String("src"))
                *source = value;
            else if (key == QLatin1String("dst"))
                *destination = value;
            else if (key == QLatin1String("sport"))
                *sourcePort = value.toUShort();
            else if (key == QLatin1String("dport"))
                *destinationPort = value.toUShort();
            else
                *packets = value.toLongLong();
        }
    };
    QList<Connection> found;
    for (const QString &line : table.split('\n', Qt::SkipEmptyParts)) {
        const qsizetype reply = line.indexOf(QLatin1String(" src="), line.indexOf("src=") + 4);
        if (reply < 0)
            continue;
        Connection c;
        read(line.left(reply), &c.source, &c.sourcePort, &c.destination, &c.destinationPort,
             &c.packetsOut);
        read(line.mid(reply), &c.replySource, &c.replySourcePort, &c.replyDestination,
             &c.replyDestinationPort, &c.packetsBack);
        found << c;
    }
    return found;
}

QString describe(const Connection &c) {
    return QStringLiteral("%1:%2 -> %3:%4 (%5 packets), back %6:%7 -> %8:%9 (%10 packets)")
        .arg(c.source)
        .arg(c.sourcePort)
        .arg(c.destination)
        .arg(c.destinationPort)
        .arg(c.packetsOut)
        .arg(c.replySource)
        .arg(c.replySourcePort)
        .arg(c.replyDestination)
        .arg(c.replyDestinationPort)
        .arg(c.packetsBack);
}

} // namespace

// The program at home behind a router that masquerades (NAT), as most users run it, with the
// exchange and the far ends on the public network, all in network namespaces of the test's own
// (NetLab). The program is started as a user starts it, from its home, and worked with xdotool
// and read through a screen reader like every other end-to-end test: the test desktop's X
// server, sound server and buses are reached through their socket files. The router forgets
// a UDP mapping after NetLab's short conntrack timeout, so what outlives it is kept alive by the
// program, and what comes back in went through the router's translation, as its conntrack table
// shows.
class TestNat : public QObject {
    Q_OBJECT
    std::unique_ptr<NetLab> m_lab;
    std::unique_ptr<KamailioServer> m_server;
    std::unique_ptr<KirrowProgram> m_kirrow;

    QString status() { return m_kirrow->statusLine(); }

    // The router's connection from the program's SIP port to the exchange, when it has one.
    std::optional<Connection> signallingFlow() {
        for (const Connection &c : connections(m_lab->routerConnections(1)))
            if (c.source == m_lab->homeAddress(1) && c.destination == m_lab->publicAddress() &&
                c.destinationPort == m_server->port())
                return c;
        return std::nullopt;
    }

    // sipp on the public network calling the program's account 1001 through the exchange.
    std::unique_ptr<SippPeer> caller(bool echo) {
        SippPeer::Options calling;
        calling.scenario = QStringLiteral("call-in.xml");
        calling.remote = m_server->address();
        calling.service = QStringLiteral("1001");
        calling.authUser = QStringLiteral("1003");
        calling.authPassword = QStringLiteral("kirrow1003");
        calling.keys = {{QStringLiteral("caller"), QStringLiteral("1003")}};
        calling.rtpEcho = echo;
        calling.commandPrefix = NetLab::inNamespace(m_lab->publicNamespace());
        calling.localAddress = m_lab->publicAddress();
        auto peer = std::make_unique<SippPeer>(calling);
        QString error;
        if (!peer->start(&error))
            qFatal("sipp: %s", qPrintable(error));
        return peer;
    }

private slots:
    void initTestCase() {
        REQUIRE_TEST_DESKTOP();
        if (const QString why = NetLab::unavailable(); !why.isEmpty())
            QSKIP(qPrintable(why));
        QVERIFY2(QGuiApplication::platformName() == QLatin1String("xcb"),
                 "needs a real X server (scripts/test-env starts one)");
        m_lab = std::make_unique<NetLab>();
        QString error;
        QVERIFY2(m_lab->start(&error), qPrintable(error));
        m_server = std::make_unique<KamailioServer>(
            QList<KamailioServer::Account>{{"1001", "kirrow1001"}, {"1003", "kirrow1003"}});
        m_server->setNetwork(NetLab::inNamespace(m_lab->publicNamespace()), m_lab->publicAddress());
        QVERIFY2(m_server->start(&error), qPrintable(error));
    }

    void cleanupTestCase() {
        m_kirrow.reset();
        m_server.reset();
        m_lab.reset();
    }

    // Started afresh from home for every case, and registered through the router.
    void init() {
        if (QTest::currentTestFunction() == QLatin1String(kIceCase)) {
            if (qEnvironmentVariableIsEmpty("KIRROW_TEST_NAT_ICE"))
                QSKIP("run alone with KIRROW_TEST_NAT_ICE=1, as the tst_nat_ice test does, so "
                      "that the suite runs it once");
            return; // it makes homes and programs of its own
        }
        m_kirrow = std::make_unique<KirrowProgram>(QStringLiteral(KIRROW_BINARY));
        m_kirrow->setCommandPrefix(NetLab::inNamespace(m_lab->homeNamespace(1)));
        // The far end sends the program's own tone back, which echo cancelling rightly takes for
        // an echo of the speakers: the user hears through a headset, as the wizard says.
        QDir().mkpath(QFileInfo(m_kirrow->settingsFile()).path());
        QSettings(m_kirrow->settingsFile(), QSettings::IniFormat)
            .setValue(QStringLiteral("Audio/EchoCancelling"), QStringLiteral("false"));
        m_kirrow->startRegistered(m_server->address(), QStringLiteral("1001"),
                                  QStringLiteral("kirrow1001"));
    }

    void cleanup() {
        if (!m_kirrow)
            return;
        if (QTest::currentTestFailed()) {
            qWarning("%s", readBytes(m_kirrow->logFile()).right(4000).constData());
            qWarning("%s", qPrintable(m_server->log().right(4000)));
            qWarning("router:\n%s", qPrintable(m_lab->routerConnections(1)));
        }
        m_kirrow->close();
        m_kirrow.reset();
    }

    // Registered from behind the router, the program is reached at the router's public address
    // and the port the router gave it. Quiet for three times as long as the router keeps a
    // mapping, it keeps its mapping alive, so a call from the public network still rings.
    void callRingsAfterLongQuiet() {
        const QList<KamailioServer::Contact> contacts = m_server->contacts("1001");
        QCOMPARE(contacts.size(), 1);
        std::optional<Connection> flow = signallingFlow();
        QVERIFY2(flow, qPrintable(m_lab->routerConnections(1)));
        // "sip:1001@203.0.113.1:5062;transport=udp", the port left out when it is 5060.
        static const QRegularExpression hostPort(QStringLiteral("@([^:;>]+)(?::(\\d+))?"));
        const QRegularExpressionMatch contact = hostPort.match(contacts.first().uri);
        const QString registered =
            contact.captured(1) + ':' +
            (contact.captured(2).isEmpty() ? QStringLiteral("5060") : contact.captured(2));
        QCOMPARE(
            registered,
            QStringLiteral("%1:%2").arg(m_lab->routerAddress(1)).arg(flow->replyDestinationPort));

        qInfo("registered as %s through %s", qPrintable(contacts.first().uri),
              qPrintable(describe(*flow)));

        // Nothing but the program keeps the router's mapping: no call, no new registration
        // (which would restart the registration's count-down).
        const int expires = contacts.first().expires;
        const QDeadlineTimer quiet(3 * m_lab->udpTimeout() * 1000);
        const qint64 packetsBefore = flow->packetsOut;
        const bool kept = QTest::qWaitFor(
            [&] {
                flow = signallingFlow();
                return !flow || quiet.hasExpired();
            },
            3 * m_lab->udpTimeout() * 1000 + kTimeoutMs);
        QVERIFY(kept);
        QVERIFY2(flow, "the router forgot the program's mapping");
        QVERIFY2(flow->packetsOut > packetsBefore, qPrintable(describe(*flow)));
        const int expiresNow = m_server->contacts("1001").value(0).expires;
        QVERIFY2(expiresNow <= expires - 3 * m_lab->udpTimeout() + 2,
                 qPrintable(QStringLiteral("registered again: %1 s left, %2 s before")
                                .arg(expiresNow)
                                .arg(expires)));

        auto far = caller(false);
        QTRY_COMPARE_WITH_TIMEOUT(status(), QStringLiteral("INCOMING"), kTimeoutMs);
        m_kirrow->click(QStringLiteral("End Call"), kButton); // declines
        QVERIFY2(QTest::qWaitFor([&] { return !far->isRunning(); }, kTimeoutMs) &&
                     far->exitCode() == 0,
                 qPrintable(far->report()));
        QVERIFY(far->messages().contains(QLatin1String("SIP/2.0 603")));
    }

    // A call answered from behind the router: what the program records goes out through it to
    // the far end, which sends it back where it came from (symmetric RTP, as exchanges' media
    // relays do for phones behind NAT), and the program plays it: a tone on the microphone is
    // heard on the speakers. The router's conntrack shows the sound went through its
    // translation both ways.
    void answeredCallHasSoundBothWays() {
        soundcheck::PulseModule tone(
            QStringLiteral("module-sine-source"),
            {QStringLiteral("source_name=kirrow_nat_tone"), QStringLiteral("frequency=1000")});
        QVERIFY2(tone.isLoaded(), qPrintable(tone.error()));
        const QString sourceBefore = soundcheck::defaultSource();
        QVERIFY(soundcheck::setDefaults(soundcheck::defaultSink(), "kirrow_nat_tone"));
        const auto restore =
            qScopeGuard([&] { soundcheck::setDefaults(soundcheck::defaultSink(), sourceBefore); });
        soundcheck::SinkRecorder sink;
        QVERIFY2(sink.start(), qPrintable(sink.error()));

        auto far = caller(true);
        QTRY_COMPARE_WITH_TIMEOUT(status(), QStringLiteral("INCOMING"), kTimeoutMs);
        m_kirrow->click(QStringLiteral("Call"), kButton); // answers
        QTRY_VERIFY_WITH_TIMEOUT(status().startsWith(QLatin1String("CONNECTED")), kTimeoutMs);

        const qsizetype from = sink.size();
        const auto heard = [&] {
            sink.waitForMore(200);
            return soundcheck::toneShares(sink.samples().mid(from), soundcheck::kRate, {1000})
                       .value(0) > 0.8;
        };
        QVERIFY2(
            QTest::qWaitFor(heard, kTimeoutMs),
            qPrintable(soundcheck::describe(sink.samples().mid(from), soundcheck::kRate, {1000})));

        // The sound's own connection: from the program's address at home to the far end's
        // media port, and back to the router's public address.
        const auto media = [&]() -> std::optional<Connection> {
            for (const Connection &c : connections(m_lab->routerConnections(1)))
                if (c.source == m_lab->homeAddress(1) && c.destinationPort == far->mediaPort())
                    return c;
            return std::nullopt;
        };
        std::optional<Connection> rtp;
        QVERIFY2(
            QTest::qWaitFor([&] { return (rtp = media()) && rtp->packetsBack > 50; }, kTimeoutMs),
            qPrintable(m_lab->routerConnections(1)));
        QCOMPARE(rtp->destination, m_lab->publicAddress());
        QCOMPARE(rtp->replySource, m_lab->publicAddress());
        QCOMPARE(rtp->replyDestination, m_lab->routerAddress(1));
        QVERIFY2(rtp->packetsOut > 50, qPrintable(describe(*rtp)));
        qInfo("sound through the router: %s", qPrintable(describe(*rtp)));

        m_kirrow->click(QStringLiteral("End Call"), kButton);
        QTRY_COMPARE_WITH_TIMEOUT(status(), QStringLiteral("DISCONNECTED"), kTimeoutMs);
        QVERIFY2(QTest::qWaitFor([&] { return !far->isRunning(); }, kTimeoutMs) &&
                     far->exitCode() == 0,
                 qPrintable(far->report()));
    }

    // Two programs, each at a home of its own behind its own router, with ICE on and the public
    // STUN server in their settings, as a user sets them before starting: the call's sound goes
    // straight from router to router, each way, and each program plays the other's microphone
    // (a tone of its own) on its own speakers. The routers keep the home's port where they can,
    // as the many routers that STUN alone gets through do.
    void twoHomesWithIceHaveSoundBothWays() {
        NetLab lab(2, 20, false);
        QString error;
        QVERIFY2(lab.start(&error), qPrintable(error));
        QVERIFY2(lab.startStunServer(&error), qPrintable(error));
        KamailioServer server({{"1001", "kirrow1001"}, {"1002", "kirrow1002"}});
        server.setNetwork(NetLab::inNamespace(lab.publicNamespace()), lab.publicAddress());
        QVERIFY2(server.start(&error), qPrintable(error));

        // Each program with speakers and a microphone of its own (PulseAudio's client
        // defaults), the microphone playing a tone of its own.
        const double tones[] = {700, 1100};
        std::vector<std::unique_ptr<soundcheck::PulseModule>> devices;
        std::unique_ptr<KirrowProgram> programs[2];
        for (int home = 1; home <= 2; ++home) {
            const QString sink = QStringLiteral("kirrow_nat_sink%1").arg(home);
            const QString mic = QStringLiteral("kirrow_nat_mic%1").arg(home);
            devices.push_back(std::make_unique<soundcheck::PulseModule>(
                QStringLiteral("module-null-sink"), QStringList{"sink_name=" + sink}));
            devices.push_back(std::make_unique<soundcheck::PulseModule>(
                QStringLiteral("module-sine-source"),
                QStringList{"source_name=" + mic,
                            QStringLiteral("frequency=%1").arg(tones[home - 1])}));
            auto &program = programs[home - 1];
            program = std::make_unique<KirrowProgram>(QStringLiteral(KIRROW_BINARY));
            program->setCommandPrefix(NetLab::inNamespace(lab.homeNamespace(home)));
            program->environment().insert(QStringLiteral("PULSE_SINK"), sink);
            program->environment().insert(QStringLiteral("PULSE_SOURCE"), mic);
            QDir().mkpath(QFileInfo(program->settingsFile()).path());
            QSettings settings(program->settingsFile(), QSettings::IniFormat);
            settings.setValue(QStringLiteral("Connection/StunServer"), lab.stunServer());
            settings.setValue(QStringLiteral("Connection/Ice"), true);
            // Steady tones, which echo cancelling (made for speech) can take for echo and
            // silence: each hears through a headset, as the wizard calls it.
            settings.setValue(QStringLiteral("Audio/EchoCancelling"), QStringLiteral("false"));
            settings.sync();
            QCOMPARE(settings.status(), QSettings::NoError);
        }
        for (const auto &device : devices)
            QVERIFY2(device->isLoaded(), qPrintable(device->error()));
        KirrowProgram &caller = *programs[0];
        KirrowProgram &callee = *programs[1];
        caller.startRegistered(server.address(), "1001", "kirrow1001");
        callee.startRegistered(server.address(), "1002", "kirrow1002");
        if (QTest::currentTestFailed())
            return;
        // Side by side, as a window manager would place a second window: each takes its clicks.
        const QRect here = xdo::windowGeometry(caller.mainWindow());
        xdo::run({"windowmove", "--sync", callee.mainWindow(),
                  QString::number(std::max(0, here.left() - 10 - here.width())),
                  QString::number(here.top())});

        for (const QChar key : QStringLiteral("1002"))
            caller.click(QString(key), kButton);
        caller.click(QStringLiteral("Call"), kButton);
        QTRY_COMPARE_WITH_TIMEOUT(callee.statusLine(), QStringLiteral("INCOMING"), kTimeoutMs);
        callee.click(QStringLiteral("Call"), kButton); // answers
        for (KirrowProgram *program : {&caller, &callee})
            QTRY_VERIFY_WITH_TIMEOUT(program->statusLine().startsWith(QLatin1String("CONNECTED")),
                                     kTimeoutMs);

        // Each records from its own microphone and plays to its own speakers...
        const auto sorted = [](QStringList names) {
            names.sort();
            return names;
        };
        QTRY_COMPARE_WITH_TIMEOUT(sorted(soundcheck::recordedSources()),
                                  (QStringList{"kirrow_nat_mic1", "kirrow_nat_mic2"}), kTimeoutMs);
        QTRY_COMPARE_WITH_TIMEOUT(sorted(soundcheck::playedSinks()),
                                  (QStringList{"kirrow_nat_sink1", "kirrow_nat_sink2"}),
                                  kTimeoutMs);
        // ... and hears the other's tone there.
        for (int home = 1; home <= 2; ++home) {
            soundcheck::SinkRecorder sink(QStringLiteral("kirrow_nat_sink%1").arg(home));
            QVERIFY2(sink.start(), qPrintable(sink.error()));
            const double other = tones[2 - home];
            const auto heard = [&] {
                sink.waitForMore(200);
                return soundcheck::toneShares(sink.samples().right(soundcheck::kRate),
                                              soundcheck::kRate, {other})
                           .value(0) > 0.8;
            };
            QVERIFY2(QTest::qWaitFor(heard, kTimeoutMs),
                     qPrintable(soundcheck::describe(sink.samples(), soundcheck::kRate,
                                                     {tones[0], tones[1]})));
        }
        // ... straight from one router to the other, both ways, through both translations.
        for (int home = 1; home <= 2; ++home) {
            const QString otherRouter = lab.routerAddress(3 - home);
            bool direct = false;
            for (const Connection &c : connections(lab.routerConnections(home)))
                direct =
                    direct || (c.source == lab.homeAddress(home) && c.destination == otherRouter &&
                               c.packetsOut > 50 && c.packetsBack > 50 &&
                               c.replyDestination == lab.routerAddress(home));
            QVERIFY2(direct, qPrintable(lab.routerConnections(home)));
        }

        caller.click(QStringLiteral("End Call"), kButton);
        for (KirrowProgram *program : {&caller, &callee}) {
            QTRY_COMPARE_WITH_TIMEOUT(program->statusLine(), QStringLiteral("DISCONNECTED"),
                                      kTimeoutMs);
            program->close();
        }
    }
};

QTEST_MAIN(TestNat)
#include "tst_nat.moc"
