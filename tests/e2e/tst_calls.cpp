#include "frmkirrow.h"
#include "kamailioserver.h"
#include "keytone.h"
#include "linphoneclient.h"
#include "logindriver.h"
#include "picturebox.h"
#include "recentlog.h"
#include "sipcapture.h"
#include "sipppeer.h"
#include "soundcheck.h"

#include <QComboBox>
#include <QLabel>
#include <QRegularExpression>
#include <QTimer>
#include <QtTest>

// Calls with the real engine through kamailio, with sipp as the far end.
class TestCalls : public QObject {
    Q_OBJECT
    QTemporaryDir m_home;
    std::unique_ptr<KamailioServer> m_server;
    std::unique_ptr<frmKirrow> m_window;
    QStringList m_states; // the status line after each call event

    static constexpr int kTimeoutMs = 20000;

    QLabel *status() const { return m_window->lblMsg; }

    // sipp answering as 1002: registered on the exchange with its own port as contact.
    std::unique_ptr<SippPeer> callee(const QString &scenario, int lifetimeMs = 60000) {
        SippPeer::Options answering;
        answering.scenario = scenario;
        answering.timeoutMs = lifetimeMs;
        auto peer = std::make_unique<SippPeer>(answering);
        QString error;
        if (!peer->start(&error))
            qFatal("callee: %s", qPrintable(error));
        SippPeer::Options registering;
        registering.scenario = "register.xml";
        registering.remote = m_server->address();
        registering.service = registering.authUser = "1002";
        registering.authPassword = "kirrow1002";
        registering.keys = {{"expires", "600"}, {"contact_port", QString::number(peer->port())}};
        SippPeer registration(registering);
        if (!registration.start(&error) || !registration.waitForExit(kTimeoutMs) ||
            registration.exitCode() != 0)
            qFatal("registering the callee failed: %s", qPrintable(registration.log()));
        return peer;
    }

    // sipp calling Kirrow's account 1001 as 1003 (not the callee's number: the engine turns away
    // a call from the very party it is calling).
    std::unique_ptr<SippPeer> caller(const QString &scenario) {
        SippPeer::Options calling;
        calling.scenario = scenario;
        calling.remote = m_server->address();
        calling.service = "1001";
        calling.authUser = "1003";
        calling.authPassword = "kirrow1003";
        calling.keys = {{"caller", "1003"}};
        auto peer = std::make_unique<SippPeer>(calling);
        QString error;
        if (!peer->start(&error))
            qFatal("caller: %s", qPrintable(error));
        return peer;
    }

    void dial(const QString &number) {
        m_window->cmbPhoneNo->setEditText(number);
        m_window->Calls().Picture6_Click();
    }

    // Whether a sipp message trace holds a 200 answer to an INVITE.
    static bool answeredInvite(const QString &trace) {
        for (const QString &message :
             trace.split(QRegularExpression("^-{20,}.*$", QRegularExpression::MultilineOption))) {
            const QString text = message.trimmed();
            if (QRegularExpression("^SIP/2.0 200 ", QRegularExpression::MultilineOption)
                    .match(text)
                    .hasMatch() &&
                QRegularExpression("^CSeq:\\s*\\d+\\s+INVITE", QRegularExpression::MultilineOption)
                    .match(text)
                    .hasMatch())
                return true;
        }
        return false;
    }

    bool idleArrangement() const {
        return m_window->Picture6->isEnabled() && !m_window->Picture8->isEnabled() &&
               m_window->cmbPhoneNo->isEnabled() && !m_window->Calls().tmrConnected->isActive();
    }

private slots:
    void initTestCase() {
        qputenv("XDG_CONFIG_HOME", m_home.filePath("config").toUtf8());
        qputenv("XDG_DATA_HOME", m_home.filePath("data").toUtf8());
        m_server = std::make_unique<KamailioServer>(QList<KamailioServer::Account>{
            {"1001", "kirrow1001"}, {"1002", "kirrow1002"}, {"1003", "kirrow1003"}});
        QString error;
        QVERIFY2(m_server->start(&error), qPrintable(error));
    }

    // A fresh telephone for every case, so a call one case leaves behind cannot reach the next.
    void init() {
        m_states.clear();
        QFile::remove(calls::recentLogPath());
        m_window =
            std::make_unique<frmKirrow>([] { return std::make_shared<rtc::LinphoneClient>(); });
        LoginAnswer answer;
        answer.server = m_server->address();
        answer.account = "1001";
        answer.password = "kirrow1001";
        answerNextLoginDialog(answer);
        m_window->Form_Load();
        m_window->show();
        QTRY_COMPARE_WITH_TIMEOUT(m_window->RegState(), QStringLiteral("REGISTERED"), kTimeoutMs);
        connect(m_window->Client().get(), &rtc::IRTCClient::Event, status(), [this](long type) {
            if (type == rtc::RTCE_SESSION_STATE_CHANGE)
                m_states << status()->text();
        });
    }

    void cleanup() { m_window.reset(); }

    void outgoingCallConnectsCountsAndHangsUp() {
        auto far = callee("answer.xml");
        dial("1002");
        QTRY_COMPARE_WITH_TIMEOUT(status()->text(), QStringLiteral("CONNECTED 0:0:1"), kTimeoutMs);
        QCOMPARE(m_states.first(), QStringLiteral("INPROGRESS"));
        QCOMPARE(m_states.last(), QStringLiteral("CONNECTED"));
        QCOMPARE(m_states.count("CONNECTED"), 1);
        QVERIFY(!m_window->Picture6->isEnabled());
        QVERIFY(m_window->Picture8->isEnabled());
        m_window->Calls().Picture8_Click();
        QVERIFY2(
            far->waitForMessage(
                QRegularExpression("^BYE sip:", QRegularExpression::MultilineOption), kTimeoutMs),
            qPrintable(far->messages()));
        QTRY_COMPARE_WITH_TIMEOUT(status()->text(), QStringLiteral("DISCONNECTED"), kTimeoutMs);
        QVERIFY(idleArrangement());
        QVERIFY2(far->waitForExit(kTimeoutMs) && far->exitCode() == 0, qPrintable(far->log()));
        const QStringList log = calls::readRecentCalls(calls::recentLogPath());
        QCOMPARE(log.size(), 1);
        QVERIFY2(
            QRegularExpression("^1002--Duration: 0:0:[1-9]\\d*$").match(log.first()).hasMatch(),
            qPrintable(log.first()));
    }

    void keysDuringACallGoAsTelephoneEvents() {
        // Reading the capture after each key is slow on a busy machine: a long-lived far end.
        auto far = callee("answer.xml", 240000);
        SipCapture capture;
        capture.addPort(far->mediaPort());
        capture.setTelephoneEventPayloadType(101);
        QString error;
        QVERIFY2(capture.start(&error), qPrintable(error));
        dial("1002");
        QTRY_VERIFY_WITH_TIMEOUT(status()->text().startsWith("CONNECTED"), kTimeoutMs);
        PictureBox *const keys[] = {m_window->Picture36, m_window->Picture20, m_window->Picture21,
                                    m_window->Picture22, m_window->Picture25, m_window->Picture26,
                                    m_window->Picture27, m_window->Picture30, m_window->Picture31,
                                    m_window->Picture32, m_window->Picture35, m_window->Picture37};
        QList<int> expected;
        for (int event = 0; event < 12; ++event) {
            emit keys[event]->clicked();
            expected << event;
            // One tone at a time, as a user presses them.
            QTRY_COMPARE_WITH_TIMEOUT(capture.rtpEvents(far->mediaPort()), expected, 60000);
        }
        QCOMPARE(m_window->cmbPhoneNo->currentText(), QStringLiteral("10020123456789*#"));
        m_window->Calls().Picture8_Click();
        QTRY_COMPARE_WITH_TIMEOUT(status()->text(), QStringLiteral("DISCONNECTED"), kTimeoutMs);
        QVERIFY2(far->waitForExit(kTimeoutMs) && far->exitCode() == 0, qPrintable(far->report()));
    }

    void keysGoAsSipInfoWhenTheFarEndHasNoTelephoneEvents() {
        auto far = callee("answer-no-te.xml");
        SipCapture capture;
        capture.addPort(m_server->port());
        capture.addPort(far->port());
        capture.addPort(far->mediaPort());
        QString error;
        QVERIFY2(capture.start(&error), qPrintable(error));
        dial("1002");
        QTRY_VERIFY_WITH_TIMEOUT(status()->text().startsWith("CONNECTED"), kTimeoutMs);
        emit m_window->Picture26->clicked();
        QTRY_VERIFY_WITH_TIMEOUT(!capture.sipInfoBodies().isEmpty(), kTimeoutMs);
        emit m_window->Picture37->clicked();
        QTRY_VERIFY_WITH_TIMEOUT(capture.sipInfoBodies().last().contains("Signal=#"), kTimeoutMs);
        QVERIFY2(capture.sipInfoBodies().first().contains("Signal=5"),
                 qPrintable(capture.sipInfoBodies().join("|")));
        QVERIFY(capture.rtpEvents().isEmpty());
        m_window->Calls().Picture8_Click();
        QTRY_COMPARE_WITH_TIMEOUT(status()->text(), QStringLiteral("DISCONNECTED"), kTimeoutMs);
        QVERIFY2(far->waitForExit(kTimeoutMs) && far->exitCode() == 0, qPrintable(far->report()));
    }

    void keyTonesAreHeardHereWithoutACall() {
        soundcheck::SinkRecorder sink;
        QVERIFY2(sink.start(), qPrintable(sink.error()));
        // Whatever an earlier call left playing dies away first.
        const auto quiet = [&sink] {
            sink.waitForMore(100);
            return soundcheck::isSilent(sink.samples().right(soundcheck::kRate / 5),
                                        soundcheck::kRate);
        };
        QTRY_VERIFY_WITH_TIMEOUT(quiet(), kTimeoutMs);
        const qsizetype before0 = sink.size();
        emit m_window->Picture36->clicked(); // 0
        QVERIFY(sink.waitForMore(600));
        const QByteArray zero = sink.samples().mid(before0);
        const qsizetype beforeStar = sink.size();
        emit m_window->Picture35->clicked(); // *
        QVERIFY(sink.waitForMore(600));
        const QByteArray star = sink.samples().mid(beforeStar);
        QVERIFY2(soundcheck::containsTonePair(zero, soundcheck::kRate, 941, 1336,
                                              {1209, 1477, 697, 770, 852}),
                 qPrintable(soundcheck::describe(zero, soundcheck::kRate, {941, 1336, 1209})));
        QVERIFY2(soundcheck::containsTonePair(star, soundcheck::kRate, 941, 1209,
                                              {1336, 1477, 697, 770, 852}),
                 qPrintable(soundcheck::describe(star, soundcheck::kRate, {941, 1336, 1209})));
    }

    void incomingCallRingsUntilAnswered() {
        soundcheck::SinkRecorder sink;
        QVERIFY2(sink.start(), qPrintable(sink.error()));
        auto far = caller("call-in.xml");
        QTRY_COMPARE_WITH_TIMEOUT(status()->text(), QStringLiteral("INCOMING"), kTimeoutMs);
        const qsizetype ringing = sink.size();
        QVERIFY(sink.waitForMore(1500));
        const QByteArray ring = sink.samples().mid(ringing);
        QVERIFY2(soundcheck::containsTonePair(ring, soundcheck::kRate, 400, 450),
                 qPrintable(soundcheck::describe(ring, soundcheck::kRate, {400, 450})));
        m_window->Calls().Picture6_Click();
        QTRY_VERIFY_WITH_TIMEOUT(status()->text().startsWith("CONNECTED"), kTimeoutMs);
        const qsizetype answered = sink.size();
        QVERIFY(sink.waitForMore(1500));
        const QByteArray after = sink.samples().mid(answered);
        QVERIFY2(!soundcheck::containsTonePair(after, soundcheck::kRate, 400, 450),
                 qPrintable(soundcheck::describe(after, soundcheck::kRate, {400, 450, 480, 620})));
        m_window->Calls().Picture8_Click();
        QTRY_COMPARE_WITH_TIMEOUT(status()->text(), QStringLiteral("DISCONNECTED"), kTimeoutMs);
        QVERIFY2(far->waitForExit(kTimeoutMs) && far->exitCode() == 0, qPrintable(far->report()));
    }

    void farEndHangingUpEndsTheCall() {
        auto far = callee("answer-hangup.xml");
        dial("1002");
        QTRY_VERIFY_WITH_TIMEOUT(m_states.contains("CONNECTED"), kTimeoutMs);
        QTRY_COMPARE_WITH_TIMEOUT(status()->text(), QStringLiteral("DISCONNECTED"), kTimeoutMs);
        QVERIFY(idleArrangement());
        QCOMPARE(m_states.count("DISCONNECTED"), 1);
        QVERIFY2(far->waitForExit(kTimeoutMs) && far->exitCode() == 0, qPrintable(far->log()));
    }

    void incomingCallIsAnsweredAndEnded() {
        auto far = caller("call-in.xml");
        QTRY_COMPARE_WITH_TIMEOUT(status()->text(), QStringLiteral("INCOMING"), kTimeoutMs);
        m_window->Calls().Picture6_Click();
        QTRY_VERIFY_WITH_TIMEOUT(status()->text().startsWith("CONNECTED"), kTimeoutMs);
        QVERIFY(m_states.contains("ANSWERING"));
        m_window->Calls().Picture8_Click();
        QTRY_COMPARE_WITH_TIMEOUT(status()->text(), QStringLiteral("DISCONNECTED"), kTimeoutMs);
        // The caller saw its call answered, then hung up by the phone.
        QVERIFY2(far->waitForExit(kTimeoutMs) && far->exitCode() == 0, qPrintable(far->log()));
        QVERIFY2(answeredInvite(far->messages()), qPrintable(far->messages()));
        QVERIFY(far->messages().contains(
            QRegularExpression("^BYE sip:", QRegularExpression::MultilineOption)));
    }

    void ringingCallIsDeclined() {
        soundcheck::SinkRecorder sink;
        QVERIFY2(sink.start(), qPrintable(sink.error()));
        auto far = caller("call-in.xml");
        QTRY_COMPARE_WITH_TIMEOUT(status()->text(), QStringLiteral("INCOMING"), kTimeoutMs);
        QVERIFY(sink.waitForMore(1000));
        m_window->Calls().Picture8_Click();
        QTRY_COMPARE_WITH_TIMEOUT(status()->text(), QStringLiteral("DISCONNECTED"), kTimeoutMs);
        QVERIFY(idleArrangement());
        // The ring stops with the decline.
        const qsizetype declined = sink.size();
        QVERIFY(sink.waitForMore(1500));
        const QByteArray after = sink.samples().mid(declined + soundcheck::kRate / 5);
        QVERIFY2(soundcheck::isSilent(after, soundcheck::kRate),
                 qPrintable(soundcheck::describe(after, soundcheck::kRate, {400, 450, 480, 620})));
        QVERIFY2(far->waitForExit(kTimeoutMs) && far->exitCode() == 0, qPrintable(far->log()));
        QVERIFY2(far->messages().contains("SIP/2.0 603"), qPrintable(far->messages()));
    }

    void callerGivingUpEndsTheRinging() {
        auto far = caller("call-in-cancel.xml");
        QTRY_VERIFY_WITH_TIMEOUT(m_states.contains("INCOMING"), kTimeoutMs);
        QTRY_COMPARE_WITH_TIMEOUT(status()->text(), QStringLiteral("DISCONNECTED"), kTimeoutMs);
        QVERIFY(idleArrangement());
        QVERIFY2(far->waitForExit(kTimeoutMs) && far->exitCode() == 0, qPrintable(far->log()));
    }

    // The call this leaves behind ends with the window.
    void secondCallerWhileConnectedChangesNothing() {
        auto far = callee("answer.xml");
        dial("1002");
        QTRY_COMPARE_WITH_TIMEOUT(status()->text(), QStringLiteral("CONNECTED 0:0:1"), kTimeoutMs);
        soundcheck::SinkRecorder sink;
        QVERIFY2(sink.start(), qPrintable(sink.error()));
        bool arrived = false;
        connect(m_window->Client().get(), &rtc::IRTCClient::Event, this,
                [&arrived](long type, const rtc::IRTCEventPtr &event) {
                    auto view = std::dynamic_pointer_cast<rtc::IRTCSessionStateChangeEvent>(event);
                    arrived = arrived || (type == rtc::RTCE_SESSION_STATE_CHANGE && view &&
                                          view->State() == rtc::RTCSS_INCOMING);
                });
        auto second = caller("call-in.xml");
        // The engine reports the second call, and the window shows nothing of it.
        QTRY_VERIFY_WITH_TIMEOUT(arrived, kTimeoutMs);
        const qsizetype rang = sink.size();
        QTRY_COMPARE_WITH_TIMEOUT(status()->text(), QStringLiteral("CONNECTED 0:0:4"), kTimeoutMs);
        QVERIFY(
            !soundcheck::containsTonePair(sink.samples().mid(rang), soundcheck::kRate, 400, 450));
        QVERIFY(!m_states.contains("INCOMING"));
        // End still ends the connected call.
        m_window->Calls().Picture8_Click();
        QTRY_VERIFY_WITH_TIMEOUT(!far->isRunning(), kTimeoutMs);
        QCOMPARE(far->exitCode(), 0);
        second->stop();
    }
};

QTEST_MAIN(TestCalls)
#include "tst_calls.moc"
