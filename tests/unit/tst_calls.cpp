#include "fakertcclient.h"
#include "frmkirrow.h"
#include "keytone.h"
#include "logindriver.h"
#include "picturebox.h"
#include "recentlog.h"
#include "settingsstore.h"

#include <QComboBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QTimer>
#include <QtTest>

// The window's calls over a scripted client: states, placing, answering, ending, number entry.
class TestCalls : public QObject {
    Q_OBJECT
    QTemporaryDir m_home;
    std::shared_ptr<FakeRTCClient> m_client;
    std::unique_ptr<frmKirrow> m_window;
    QStringList m_tones;

    // Calls made since the window finished starting.
    QStringList calls() const { return m_client->calls.mid(6); }
    QLabel *status() const { return m_window->lblMsg; }

    void registered() { m_client->raiseRegistration(2); }
    void connectedCall() {
        registered();
        m_window->cmbPhoneNo->setEditText("600");
        m_window->Picture6_Click();
        m_client->raiseSession(rtc::RTCSS_CONNECTED);
    }

private slots:
    void initTestCase() {
        qputenv("XDG_CONFIG_HOME", m_home.filePath("config").toUtf8());
        calls::setLocalTonePlayer([this](const QString &tone) { m_tones << tone; });
    }

    void init() {
        m_tones.clear();
        QFile::remove(calls::recentLogPath());
        m_window = startOverFakeEngine(&m_client);
        QCOMPARE(m_client->calls.size(), 6);
    }

    void cleanup() { m_window.reset(); }

    void notRegisteredRefusesBeforeAnything() {
        MessageCatcher messages;
        m_window->cmbPhoneNo->setEditText("12a4");
        m_window->Picture6_Click();
        QCOMPARE(messages.texts(),
                 QStringList{"Sorry, you are not registered, please select Menu - LoginAs"});
        QVERIFY(m_tones.isEmpty());
        QVERIFY(calls().isEmpty());
    }

    void sessionTypeFollowsTheNumbersLength_data() {
        QTest::addColumn<QString>("number");
        QTest::addColumn<QString>("creation");
        QTest::newRow("ten") << "0123456789"
                             << "CreateSession 0 none 0";
        QTest::newRow("nine") << "012345678"
                              << "CreateSession 1 profile 1";
        QTest::newRow("eleven") << "01234567890"
                                << "CreateSession 1 profile 1";
        QTest::newRow("empty") << ""
                               << "CreateSession 1 profile 1";
    }
    void sessionTypeFollowsTheNumbersLength() {
        QFETCH(QString, number);
        QFETCH(QString, creation);
        registered();
        m_window->cmbPhoneNo->setEditText(number);
        m_window->Picture6_Click();
        QCOMPARE(calls(), (QStringList{creation, "AddParticipant sip:" + number +
                                                     "@sip.example.net Any Name"}));
        QCOMPARE(m_tones.size(), number.size());
        QVERIFY(!m_window->Picture6->isEnabled());
        QVERIFY(m_window->Picture8->isEnabled());
    }

    void oddCharactersWarnButDialAsTyped() {
        MessageCatcher messages;
        registered();
        m_window->cmbPhoneNo->setEditText("12a4");
        QElapsedTimer dialling;
        dialling.start();
        m_window->Picture6_Click();
        QVERIFY(dialling.elapsed() >= 400); // a pause after each of the four characters
        QCOMPARE(messages.texts(), QStringList{"Numbers 0 to 9 only, please!"});
        QCOMPARE(m_tones, (QStringList{"Tone1.wav", "Tone2.wav", "Tone4.wav"}));
        QCOMPARE(calls().last(),
                 QStringLiteral("AddParticipant sip:12a4@sip.example.net Any Name"));
    }

    void callThatCannotBePlacedLeavesTheWindowReady() {
        registered();
        m_client->failOn = "AddParticipant";
        m_window->cmbPhoneNo->setEditText("600");
        m_window->Picture6_Click();
        QVERIFY(status()->text().startsWith("Error:  -"));
        QVERIFY(m_window->Picture6->isEnabled());
        QVERIFY(!m_window->Picture8->isEnabled());
        QVERIFY(m_window->cmbPhoneNo->isEnabled());
    }

    void stateEventsDriveTextRingTimerAndControls() {
        const auto ringing = m_client->newSession();
        m_client->raiseSession(rtc::RTCSS_INCOMING, ringing);
        QCOMPARE(status()->text(), QStringLiteral("INCOMING"));
        QCOMPARE(calls(), QStringList{"PlayRing 0 1"});
        m_window->Picture6_Click(); // answers
        QCOMPARE(calls().last(), QStringLiteral("Answer"));
        m_client->raiseSession(rtc::RTCSS_ANSWERING, ringing);
        QCOMPARE(calls().last(), QStringLiteral("PlayRing 0 0"));
        m_window->timehr = 3;
        m_client->raiseSession(rtc::RTCSS_CONNECTED, ringing);
        QCOMPARE(status()->text(), QStringLiteral("CONNECTED"));
        QCOMPARE(m_window->timehr, qint16(0));
        QVERIFY(m_window->tmrConnected->isActive());
        QVERIFY(!m_window->cmbPhoneNo->isEnabled());
        for (int i = 0; i < 61; ++i)
            m_window->tmrConnected_Timer();
        QCOMPARE(status()->text(), QStringLiteral("CONNECTED 0:1:1"));
        // A second caller while connected is left alone.
        const int before = m_client->calls.size();
        m_client->raiseSession(rtc::RTCSS_INCOMING, m_client->newSession());
        QCOMPARE(status()->text(), QStringLiteral("CONNECTED 0:1:1"));
        QCOMPARE(m_client->calls.size(), before);
        m_client->raiseSession(7, ringing); // later states change nothing
        QCOMPARE(status()->text(), QStringLiteral("CONNECTED 0:1:1"));
        m_client->raiseSession(rtc::RTCSS_DISCONNECTED, ringing);
        QCOMPARE(status()->text(), QStringLiteral("DISCONNECTED"));
        QVERIFY(!m_window->tmrConnected->isActive());
        QVERIFY(m_window->Picture6->isEnabled());
        QVERIFY(!m_window->Picture8->isEnabled());
        // The clock keeps the last call's time for the log.
        QCOMPARE(m_window->timemin, qint16(1));
    }

    void incomingDuringAnOutgoingCallBecomesTheCurrentOne() {
        registered();
        m_window->cmbPhoneNo->setEditText("600");
        m_window->Picture6_Click();
        m_client->raiseSession(rtc::RTCSS_INPROGRESS);
        m_client->raiseSession(rtc::RTCSS_INCOMING, m_client->newSession());
        QCOMPARE(status()->text(), QStringLiteral("INCOMING"));
        m_window->Picture8_Click(); // rejects the ringing one
        QCOMPARE(calls().mid(calls().size() - 2), (QStringList{"Terminate 3", "PlayRing 0 0"}));
    }

    void endHangsUpAndLogsTheCall() {
        connectedCall();
        for (int i = 0; i < 5; ++i)
            m_window->tmrConnected_Timer();
        m_window->Picture8_Click();
        QCOMPARE(calls().last(), QStringLiteral("Terminate 0"));
        QCOMPARE(calls::readRecentCalls(calls::recentLogPath()),
                 QStringList{"600--Duration: 0:0:5"});
    }

    void endWithoutACallSaysSoAndStopsTheRing() {
        m_window->Picture8_Click();
        QVERIFY(status()->text().startsWith("Error:  "));
        QCOMPARE(calls(), QStringList{"PlayRing 0 0"});
        QCOMPARE(calls::readRecentCalls(calls::recentLogPath()), QStringList{"--Duration: 0:0:0"});
    }

    void keysSendTouchTonesWhileConnected() {
        connectedCall();
        m_tones.clear();
        m_window->tmrConnected_Timer(); // "CONNECTED 0:0:1" still counts as connected
        m_window->Picture37->clicked();
        m_window->Picture26->clicked();
        QCOMPARE(calls().mid(calls().size() - 2), (QStringList{"SendDTMF 11", "SendDTMF 5"}));
        QVERIFY(m_tones.isEmpty());
        QCOMPARE(m_window->cmbPhoneNo->currentText(), QStringLiteral("600#5"));
    }

    void keyboardTakesKeypadKeysOnly() {
        MessageCatcher messages;
        m_window->show();
        QLineEdit *edit = m_window->cmbPhoneNo->lineEdit();
        QTest::keyClicks(edit, "1*a");
        QCOMPARE(edit->text(), QStringLiteral("1*"));
        QCOMPARE(messages.texts(), QStringList{"Numbers 0 to 9 only, please!"});
        QCOMPARE(m_tones, (QStringList{"Tone1.wav", "Tonestar.wav"}));
        // Enter dials only a number of ten characters or more.
        registered();
        QTest::keyClicks(edit, "2345678");
        QTest::keyClick(edit, Qt::Key_Return);
        QVERIFY(calls().filter("CreateSession").isEmpty());
        QTest::keyClick(edit, Qt::Key_Backspace);
        QTest::keyClicks(edit, "89");
        QTest::keyClick(edit, Qt::Key_Return);
        QCOMPARE(calls().filter("AddParticipant"),
                 QStringList{"AddParticipant sip:1*23456789@sip.example.net Any Name"});
        QCOMPARE(m_window->cmbPhoneNo->count(), 0); // the list is never filled
    }

    void clearAndDeleteLast() {
        m_window->cmbPhoneNo->setEditText("12#");
        m_window->Picture17_Click();
        QCOMPARE(m_window->cmbPhoneNo->currentText(), QStringLiteral("12"));
        m_window->Picture16_Click();
        QCOMPARE(m_window->cmbPhoneNo->currentText(), QString());
        QCOMPARE(status()->text(), QStringLiteral("Ready..."));
        m_window->Picture17_Click();
        QCOMPARE(m_window->cmbPhoneNo->currentText(), QString());
    }

    void closingEndsAConnectedCall() {
        connectedCall();
        for (int i = 0; i < 5; ++i)
            m_window->tmrConnected_Timer();
        m_window->Picture40_Click();
        QCOMPARE(calls().last(), QStringLiteral("Terminate 5"));
    }
};

QTEST_MAIN(TestCalls)
#include "tst_calls.moc"
