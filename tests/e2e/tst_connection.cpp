#include "fixtures.h"
#include "kamailioserver.h"
#include "kirrowprogram.h"
#include "sipcapture.h"
#include "sipppeer.h"
#include "soundcheck.h"
#include "testdesktop.h"
#include "xdo.h"

#include <QGuiApplication>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QScreen>
#include <QSettings>
#include <QtTest>

namespace {

constexpr int kTimeoutMs = 20000;
const QString kButton = QStringLiteral("push button");
const QString kDialog = QStringLiteral("Connection");
const QString kRegistered = QStringLiteral("Registered and Ready...");

// The audio offer of an SDP body, by the lines that say how its media is carried.
struct Offer {
    QString profile; // "RTP/AVP" or "RTP/SAVP"
    bool crypto;     // a=crypto
    bool capability; // a=tcap and a=acap with crypto (RFC 5939)
};
Offer offerOf(const QString &body) {
    static const QRegularExpression media("^m=audio \\d+ (\\S+) ",
                                          QRegularExpression::MultilineOption);
    static const QRegularExpression crypto("^a=crypto:", QRegularExpression::MultilineOption);
    static const QRegularExpression tcap("^a=tcap:\\d+ RTP/SAVP",
                                         QRegularExpression::MultilineOption);
    static const QRegularExpression acap("^a=acap:\\d+ crypto:",
                                         QRegularExpression::MultilineOption);
    return {media.match(body).captured(1), body.contains(crypto),
            body.contains(tcap) && body.contains(acap)};
}

// The body of the first INVITE in a sipp peer's message trace.
QString firstInviteBody(const QString &trace) {
    for (const QString &message :
         trace.split(QRegularExpression("^-{20,}.*$", QRegularExpression::MultilineOption)))
        if (message.contains(
                QRegularExpression("^\\s*INVITE sip:", QRegularExpression::MultilineOption)))
            return message.section(QRegularExpression("\r?\n\r?\n"), 1);
    return {};
}

} // namespace

// The connection dialog of the settings menu, worked with the keyboard as a screen-reader user
// works it; what it saves in Kirrow.ini, kept after a restart and applied to the running engine
// at once; and call encryption on the wire: two Kirrows agreeing on SRTP, shown by the padlock
// beside the status line, a plain far end refused when encryption is a must, plain RTP when it
// is off.
class TestConnection : public QObject {
    Q_OBJECT

    std::unique_ptr<KamailioServer> m_server;
    std::unique_ptr<KirrowProgram> m_kirrow;
    QList<std::pair<QString, quint16>> m_contacts;

    QString status() { return m_kirrow->statusLine(); }
    QString ini(const QString &key) {
        return QSettings(m_kirrow->settingsFile(), QSettings::IniFormat)
            .value("Connection/" + key)
            .toString();
    }
    atspi::Node dialog() { return m_kirrow->window(kDialog); }
    // The encryption box, which a screen reader reads as the choice it shows (its label, "Call
    // encryption:", is read with it).
    atspi::Node encryption() { return atspi::find(dialog(), QString(), "combo box"); }
    atspi::Node field(const QString &name, const QString &role) {
        return atspi::find(dialog(), name, role);
    }

    // Opens the dialog from the status line's menu, by the item's underlined letter.
    void openDialog() {
        const int windows = xdo::visibleWindows(QString()).size();
        m_kirrow->click(m_kirrow->control(QString(), QStringLiteral("status bar")), 3);
        QTRY_COMPARE(xdo::visibleWindows(QString()).size(), windows + 1);
        xdo::key({"c"});
        QTRY_VERIFY_WITH_TIMEOUT(!dialog().isNull(), kTimeoutMs);
        QTRY_VERIFY(field("STUN server", "text").focused());
    }
    // Chooses the encryption with the keyboard, from the STUN server field, ticks ICE and
    // switches IPv6 over when asked to, and saves with Enter.
    void chooseEncryption(const QString &choice, bool tickIce = false, bool switchIpv6 = false) {
        openDialog();
        xdo::key({"Tab"});
        if (tickIce)
            xdo::key({"space"});
        xdo::key({"Tab"});
        const atspi::Node box = encryption();
        QTRY_VERIFY(box.focused());
        xdo::key({"Home"});
        for (int step = 0; box.name() != choice && step < 3; ++step) {
            const QString was = box.name();
            xdo::key({"Down"});
            QTRY_VERIFY(box.name() != was);
        }
        QCOMPARE(box.name(), choice);
        if (switchIpv6)
            xdo::key({"Tab", "space"});
        xdo::key({"Return"});
        QTRY_VERIFY(dialog().isNull());
    }

    std::unique_ptr<SippPeer> callee(const QString &account) {
        SippPeer::Options answering;
        answering.scenario = "answer.xml";
        answering.timeoutMs = 60000;
        auto peer = std::make_unique<SippPeer>(answering);
        QString error;
        if (!peer->start(&error))
            qFatal("sipp: %s", qPrintable(error));
        registerContact(account, peer->port(), 600);
        m_contacts.append({account, peer->port()});
        return peer;
    }
    void registerContact(const QString &account, quint16 port, int expires) {
        registerSippContact(m_server->address(), account, "kirrow" + account, port, expires);
    }
    void dial(const QString &digits) {
        m_kirrow->click("Clear Number", kButton);
        for (QChar key : digits)
            m_kirrow->click(key, kButton);
        m_kirrow->click("Call", kButton);
    }

private slots:
    void initTestCase() {
        REQUIRE_TEST_DESKTOP();
        m_server = std::make_unique<KamailioServer>(QList<KamailioServer::Account>{
            {"1001", "kirrow1001"}, {"1002", "kirrow1002"}, {"1003", "kirrow1003"}});
        KamailioServer::Listeners listeners;
        listeners.tls = listeners.logSdp = true;
        m_server->setListeners(listeners);
        QString error;
        QVERIFY2(m_server->start(&error), qPrintable(error));
    }

    void init() {
        m_kirrow = std::make_unique<KirrowProgram>(QStringLiteral(KIRROW_BINARY));
        m_kirrow->environment().insert(QStringLiteral("SSL_CERT_FILE"), m_server->caFile());
        m_kirrow->startRegistered(m_server->address(), "1001", "kirrow1001");
    }

    void cleanup() {
        const QStringList windows = m_kirrow->windows();
        if (!dialog().isNull()) // left open by a failed case
            xdo::key({"Escape"});
        m_kirrow->close();
        m_kirrow.reset();
        for (const auto &[account, port] : std::exchange(m_contacts, {}))
            registerContact(account, port, 0);
        QCOMPARE(windows, QStringList{"Kirrow"});
    }

    // The defaults shown, a bad STUN server refused saying why, the choices typed and ticked
    // saved in [Connection] with the registration kept; Escape changes nothing; all of it still
    // there after a restart.
    void dialogSavesItsChoicesAndKeepsThem() {
        QTRY_COMPARE(m_server->contacts("1001").size(), 1);
        const QString contact = m_server->contacts("1001").first().uri;
        openDialog();
        QCOMPARE(field("STUN server", "text").text(), QString());
        QVERIFY(!field("Use ICE", "check box").checked());
        QCOMPARE(encryption().name(), QStringLiteral("When possible"));
        QVERIFY(field("Use IPv6", "check box").checked());

        xdo::type("stun:stun.example.net");
        xdo::key({"Return"});
        m_kirrow->answerMessage("without \"stun:\"");
        QTRY_VERIFY(!dialog().isNull());
        QTRY_VERIFY(field("STUN server", "text").focused()); // the entry selected, to retype
        xdo::type("stun.example.net:3479");
        xdo::key({"Tab", "space", "Tab", "Down", "Tab", "space"});
        QTRY_VERIFY(!field("Use IPv6", "check box").checked());
        QVERIFY(field("Use ICE", "check box").checked());
        QCOMPARE(encryption().name(), QStringLiteral("Always"));
        m_kirrow->click(field("OK", kButton));
        QTRY_VERIFY(dialog().isNull());
        QCOMPARE(ini("StunServer"), QStringLiteral("stun.example.net:3479"));
        QCOMPARE(ini("Ice"), QStringLiteral("true"));
        QCOMPARE(ini("Encryption"), QStringLiteral("Always"));
        QCOMPARE(ini("IPv6"), QStringLiteral("false"));
        // Applied without a new registration being needed: still registered, at the same contact.
        QCOMPARE(status(), kRegistered);
        QCOMPARE(m_server->contacts("1001").size(), 1);
        QCOMPARE(m_server->contacts("1001").first().uri, contact);

        openDialog();
        xdo::key({"ctrl+a"});
        xdo::type("other.example.net");
        xdo::key({"Escape"});
        QTRY_VERIFY(dialog().isNull());
        QCOMPARE(ini("StunServer"), QStringLiteral("stun.example.net:3479"));

        m_kirrow->close();
        m_kirrow->startRegistered(m_server->address(), "1001", "kirrow1001");
        openDialog();
        QCOMPARE(field("STUN server", "text").text(), QStringLiteral("stun.example.net:3479"));
        QVERIFY(field("Use ICE", "check box").checked());
        QCOMPARE(encryption().name(), QStringLiteral("Always"));
        QVERIFY(!field("Use IPv6", "check box").checked());
        xdo::key({"Escape"});
        QTRY_VERIFY(dialog().isNull());
    }

    // Encryption chosen in the running program applies to its next call. Always: SRTP offered
    // (RTP/SAVP with a=crypto); a far end answering plain RTP gets no call, and the status line
    // says why. Off: plain RTP offered, no SRTP even as a capability, and no padlock; ICE, ticked
    // then, offers candidates.
    void encryptionMustOrOffAgainstAPlainFarEnd() {
        // IPv6 switched off with it: the engine opens its sockets afresh, and calls go on.
        chooseEncryption(QStringLiteral("Always"), false, true);
        QCOMPARE(ini("Encryption"), QStringLiteral("Always"));
        QCOMPARE(ini("IPv6"), QStringLiteral("false"));
        {
            auto far = callee("1002");
            dial("1002");
            QTRY_VERIFY2_WITH_TIMEOUT(status().startsWith("Error:  "),
                                      qPrintable(status() + "\n" + far->messages()), kTimeoutMs);
            QVERIFY2(status().contains("encrypt"), qPrintable(status()));
            const Offer offer = offerOf(firstInviteBody(far->messages()));
            QCOMPARE(offer.profile, QStringLiteral("RTP/SAVP"));
            QVERIFY(offer.crypto);
            QVERIFY(m_kirrow->control("Encrypted call", QString()).isNull());
            far->stop();
        }
        chooseEncryption(QStringLiteral("Off"), true);
        QCOMPARE(ini("Ice"), QStringLiteral("true"));
        auto far = callee("1002");
        dial("1002");
        QTRY_VERIFY_WITH_TIMEOUT(status().startsWith("CONNECTED"), kTimeoutMs);
        const QString body = firstInviteBody(far->messages());
        const Offer offer = offerOf(body);
        QCOMPARE(offer.profile, QStringLiteral("RTP/AVP"));
        QVERIFY(!offer.crypto && !offer.capability);
        // ICE, ticked with it: the offer carries its candidates.
        QVERIFY2(body.contains("a=ice-ufrag:") && body.contains("a=candidate:"), qPrintable(body));
        QVERIFY(m_kirrow->control("Encrypted call", QString()).isNull());
        m_kirrow->click("End Call", kButton);
        QTRY_COMPARE_WITH_TIMEOUT(status(), QStringLiteral("DISCONNECTED"), kTimeoutMs);
    }

    // Two Kirrows with the defaults ("When possible") agree on SRTP through capability
    // negotiation, over UDP and over TLS (the keys then go where nobody on the way can read
    // them); both show the padlock, whose tip names the cipher suite; a tone on the microphones
    // is heard through the call, and what goes over the wire both ways is not the sound: plain
    // G.711 of a steady tone repeats a few byte values and Opus begins every packet with the
    // same byte, while SRTP's keystream spreads each packet's first byte over all 256.
    void twoKirrowsEncryptWhenPossible_data() {
        QTest::addColumn<QString>("transport");
        QTest::newRow("udp") << QStringLiteral("udp");
        QTest::newRow("tls") << QStringLiteral("tls");
    }
    void twoKirrowsEncryptWhenPossible() {
        QFETCH(QString, transport);
        const QString server = transport == QLatin1String("tls")
                                   ? QStringLiteral("sips:127.0.0.1:%1").arg(m_server->tlsPort())
                                   : m_server->address();
        if (server != m_server->address()) {
            m_kirrow->close();
            m_kirrow->startRegistered(server, "1001", "kirrow1001");
        }
        KirrowProgram other(QStringLiteral(KIRROW_BINARY));
        other.environment().insert(QStringLiteral("SSL_CERT_FILE"), m_server->caFile());
        other.startRegistered(server, "1003", "kirrow1003");
        const QRect here = xdo::windowGeometry(m_kirrow->mainWindow());
        const int besideX =
            here.right() + 10 + here.width() < QGuiApplication::primaryScreen()->size().width()
                ? here.right() + 10
                : std::max(0, here.left() - 10 - here.width());
        xdo::run({"windowmove", "--sync", other.mainWindow(), QString::number(besideX),
                  QString::number(here.top())});
        const QString microphone = soundcheck::defaultSource();
        soundcheck::PulseModule tone("module-sine-source",
                                     {"source_name=kirrow_tone", "frequency=1000"});
        QVERIFY2(tone.isLoaded(), qPrintable(tone.error()));
        const auto restore =
            qScopeGuard([&] { soundcheck::setDefaults(soundcheck::defaultSink(), microphone); });
        QVERIFY(soundcheck::setDefaults(soundcheck::defaultSink(), "kirrow_tone"));
        soundcheck::SinkRecorder sink;
        QVERIFY2(sink.start(), qPrintable(sink.error()));
        const qsizetype logged = m_server->log().size();

        dial("1003");
        QTRY_COMPARE_WITH_TIMEOUT(other.statusLine(), QStringLiteral("INCOMING"), kTimeoutMs);
        other.click("Call", kButton);
        QTRY_VERIFY_WITH_TIMEOUT(status().startsWith("CONNECTED"), kTimeoutMs);
        const QString tip = QStringLiteral("Encrypted (SRTP, AES_CM_128_HMAC_SHA1_80)");
        for (KirrowProgram *program : {m_kirrow.get(), &other}) {
            QTRY_VERIFY2_WITH_TIMEOUT(!program->control("Encrypted call", QString()).isNull(),
                                      qPrintable(atspi::outline(program->window("Kirrow"))),
                                      kTimeoutMs);
            QCOMPARE(program->control("Encrypted call", QString()).description(), tip);
        }
        const qsizetype from = sink.size();
        // Each end hears the other's microphone, the tone (the echo cancellers, which hear it
        // on both sides, let it through in bursts).
        const auto heard = [&] {
            sink.waitForMore(200);
            const QByteArray samples = sink.samples().mid(from);
            return !soundcheck::loudSpans(samples, soundcheck::kRate).isEmpty() &&
                   soundcheck::toneShares(samples, soundcheck::kRate, {1000}).value(0) > 0.5;
        };
        QVERIFY2(
            QTest::qWaitFor(heard, kTimeoutMs),
            qPrintable(soundcheck::describe(sink.samples().mid(from), soundcheck::kRate, {1000})));

        // The offer and the answer as the exchange relayed them, and the media ports in them.
        static const QRegularExpression relayed(
            QStringLiteral("sdp of (\\d* ?INVITE) over (\\w+) \\[(.*?)\\]"),
            QRegularExpression::DotMatchesEverythingOption);
        static const QRegularExpression mediaPort(QStringLiteral("^m=audio (\\d+) "),
                                                  QRegularExpression::MultilineOption);
        QStringList offers;
        quint16 callerPort = 0, calleePort = 0;
        for (auto it = relayed.globalMatch(m_server->log().mid(logged)); it.hasNext();) {
            const auto match = it.next();
            const Offer offer = offerOf(match.captured(3));
            offers << QStringLiteral("%1 %2 %3 over %4")
                          .arg(match.captured(1), offer.profile,
                               offer.capability ? "tcap+acap" : "-", match.captured(2));
            const quint16 port = mediaPort.match(match.captured(3)).captured(1).toUShort();
            (match.captured(1) == QLatin1String("INVITE") ? callerPort : calleePort) = port;
        }
        qInfo() << offers;
        QVERIFY2(offers.contains("INVITE RTP/AVP tcap+acap over " + transport),
                 qPrintable(offers.join("; ")));
        QVERIFY2(offers.contains("200 INVITE RTP/SAVP - over " + transport),
                 qPrintable(offers.join("; ")));

        SipCapture media;
        media.addPort(callerPort);
        media.addPort(calleePort);
        QString error;
        QVERIFY2(media.start(&error), qPrintable(error));
        const auto firstBytes = [&](quint16 source, quint16 destination) {
            QSet<char> seen;
            const QList<QByteArray> payloads = media.rtpPayloads(source, destination);
            for (const QByteArray &payload : payloads)
                seen.insert(payload.front());
            return std::pair(payloads.size(), seen.size());
        };
        for (const auto &[source, destination] :
             {std::pair(callerPort, calleePort), std::pair(calleePort, callerPort)}) {
            QTRY_VERIFY_WITH_TIMEOUT(firstBytes(source, destination).first >= 150, kTimeoutMs);
            const auto [packets, distinct] = firstBytes(source, destination);
            QVERIFY2(distinct > 64, qPrintable(QStringLiteral("%1 packets from port %2 begin with "
                                                              "only %3 different bytes")
                                                   .arg(packets)
                                                   .arg(source)
                                                   .arg(distinct)));
        }

        m_kirrow->click("End Call", kButton);
        QTRY_COMPARE_WITH_TIMEOUT(status(), QStringLiteral("DISCONNECTED"), kTimeoutMs);
        QTRY_VERIFY(m_kirrow->control("Encrypted call", QString()).isNull());
        QTRY_COMPARE_WITH_TIMEOUT(other.statusLine(), QStringLiteral("DISCONNECTED"), kTimeoutMs);
        other.close();
    }
};

QTEST_MAIN(TestConnection)
#include "tst_connection.moc"
