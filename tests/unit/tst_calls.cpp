#include "callcontroller.h"
#include "errortraps.h"
#include "fakertcclient.h"
#include "filebytes.h"
#include "keytone.h"
#include "linknumber.h"
#include "logindriver.h"
#include "profiletext.h"
#include "recentlog.h"

#include <QSignalSpy>
#include <QtTest>

using calls::Arrangement;
using calls::CallState;

// The telephone's calls over a scripted engine, without a window: dialling, the one call held,
// answering and ending, the clock, touch tones and the recent-call log.
class TestCalls : public QObject {
    Q_OBJECT
    QTemporaryDir m_home;
    std::shared_ptr<FakeRTCClient> m_client;
    std::unique_ptr<account::RegistrationController> m_registration;
    std::unique_ptr<calls::CallController> m_calls;
    QStringList m_tones;
    QString m_status;

    QString logPath() const { return m_home.filePath("recentcall.txt"); }
    QStringList log() const { return calls::readRecentCalls(logPath()); }
    QStringList engine(const QString &prefix) const { return m_client->calls.filter(prefix); }

    void registered() { m_client->raiseRegistration(rtc::RTCRS_REGISTERED); }
    // Dials number and waits until the call is placed.
    void dial(const QString &number) {
        registered();
        m_calls->setNumber(number);
        m_calls->Picture6_Click();
        QTRY_VERIFY(!m_calls->isDialling());
    }
    void connectedCall(int seconds = 0) {
        dial("600");
        m_client->raiseSession(rtc::RTCSS_INPROGRESS);
        m_client->raiseSession(rtc::RTCSS_CONNECTED);
        for (int i = 0; i < seconds; ++i)
            m_calls->tmrConnected_Timer();
    }
    rtc::IRTCSessionPtr ringing() {
        auto session = m_client->newSession("sip:1003@sip.example.net;transport=udp");
        m_client->raiseSession(rtc::RTCSS_INCOMING, session);
        return session;
    }

private slots:
    void initTestCase() {
        calls::setLocalTonePlayer([this](const QString &tone) { m_tones << tone; });
    }

    void init() {
        m_tones.clear();
        QFile::remove(logPath());
        m_calls.reset();
        m_client = std::make_shared<FakeRTCClient>();
        m_registration =
            std::make_unique<account::RegistrationController>([this] { return m_client; });
        m_registration->InitRTCClient();
        m_registration->RegisterProfile({"sip.example.net", "1001", "pw"});
        m_client->calls.clear();
        m_calls = std::make_unique<calls::CallController>(*m_registration);
        m_calls->setLogPath(logPath());
        connect(m_calls.get(), &calls::CallController::statusChanged, this,
                [this](const QString &text) { m_status = text; });
    }

    // Calls follow the registration the engine reports: before it, and once it is lost.
    void notRegisteredRefusesBeforeAnything() {
        const QStringList refused{"Sorry, you are not registered, please select Menu - LoginAs"};
        MessageCatcher messages;
        m_calls->setNumber("12a4");
        m_calls->Picture6_Click();
        QCOMPARE(messages.texts(), refused);
        QVERIFY(!m_calls->isDialling());
        QVERIFY(m_tones.isEmpty() && m_client->calls.isEmpty());
        registered();
        m_client->raiseRegistration(rtc::RTCRS_REJECTED);
        m_calls->Picture6_Click();
        QCOMPARE(messages.texts(), refused + refused);
        QVERIFY(m_client->calls.isEmpty());
    }

    void sessionTypeFollowsTheNumbersLength_data() {
        QTest::addColumn<QString>("number");
        QTest::addColumn<QString>("creation");
        QTest::newRow("ten") << "0123456789"
                             << "CreateSession 0 none 0";
        QTest::newRow("nine") << "012345678"
                              << "CreateSession 1 profile 1";
        QTest::newRow("empty") << ""
                               << "CreateSession 1 profile 1";
    }
    void sessionTypeFollowsTheNumbersLength() {
        QFETCH(QString, number);
        QFETCH(QString, creation);
        dial(number);
        QCOMPARE(m_client->calls, (QStringList{creation, "AddParticipant sip:" + number +
                                                             "@sip.example.net Any Name"}));
        QCOMPARE(m_tones.size(), number.size());
        QCOMPARE(m_calls->arrangement(), Arrangement::InCall);
    }

    // The number's tones are paced by a timer: the window goes on meanwhile, and pressing Call or
    // Enter again while dialling places nothing more.
    void diallingDoesNotBlockAndPlacesOnce() {
        MessageCatcher messages;
        registered();
        m_calls->setNumber("12a4");
        QElapsedTimer dialling;
        dialling.start();
        m_calls->Picture6_Click();
        QVERIFY(m_calls->isDialling());
        QCOMPARE(m_calls->arrangement(), Arrangement::InCall);
        m_calls->Picture6_Click();
        m_calls->MakeCall();
        QTRY_VERIFY(!m_calls->isDialling());
        QVERIFY(dialling.elapsed() >= 400); // a pause after each of the four characters
        QCOMPARE(messages.texts(), QStringList{"Numbers 0 to 9 only, please!"});
        QCOMPARE(m_tones, (QStringList{"Tone1.wav", "Tone2.wav", "Tone4.wav"}));
        QCOMPARE(engine("AddParticipant"),
                 QStringList{"AddParticipant sip:12a4@sip.example.net Any Name"});
    }

    void endWhileDiallingPlacesNothing() {
        registered();
        m_calls->setNumber("0123456789");
        m_calls->Picture6_Click();
        m_calls->Picture8_Click();
        QVERIFY(!m_calls->isDialling());
        QCOMPARE(m_calls->arrangement(), Arrangement::Idle);
        QTest::qWait(200); // the dialling timer must have been stopped, not merely outrun
        QVERIFY(engine("CreateSession").isEmpty());
    }

    void enterDialsTenCharactersOrMore() {
        registered();
        QVERIFY(m_calls->cmbPhoneNo_KeyPress('*'));
        QCOMPARE(m_tones, QStringList{"Tonestar.wav"});
        m_calls->setNumber("123456789");
        QVERIFY(m_calls->cmbPhoneNo_KeyPress('\r'));
        QVERIFY(!m_calls->isDialling());
        m_calls->setNumber("1234567890");
        QVERIFY(!m_calls->cmbPhoneNo_KeyPress('\r'));
        QVERIFY(m_calls->isDialling());
    }

    void callThatCannotBePlacedLeavesTheWindowReady() {
        m_client->failOn = "AddParticipant";
        dial("600");
        QVERIFY(m_status.startsWith("Error:  -"));
        QCOMPARE(m_calls->arrangement(), Arrangement::Idle);
        QVERIFY(!m_calls->session());
        m_client->failOn.clear();
        dial("601"); // nothing is held: the next call goes out
        QCOMPARE(engine("AddParticipant").size(), 2);
    }

    void incomingCallRingsIsAnsweredCountsAndIsLogged() {
        QSignalSpy numbers(m_calls.get(), &calls::CallController::numberChanged);
        QSignalSpy rings(m_calls.get(), &calls::CallController::incomingCall);
        QSignalSpy ringEnds(m_calls.get(), &calls::CallController::ringingEnded);
        const auto call = ringing();
        QCOMPARE(rings.size(), 1);
        QCOMPARE(rings.first().first().toString(), QStringLiteral("1003"));
        QCOMPARE(m_status, QStringLiteral("INCOMING"));
        QCOMPARE(m_calls->arrangement(), Arrangement::Ringing);
        QCOMPARE(numbers.last().first().toString(), QStringLiteral("1003"));
        QCOMPARE(m_client->calls, QStringList{"PlayRing 0 1"});
        m_calls->Picture6_Click();
        QCOMPARE(m_client->calls.last(), QStringLiteral("Answer"));
        m_client->raiseSession(rtc::RTCSS_ANSWERING, call);
        QCOMPARE(m_client->calls.last(), QStringLiteral("PlayRing 0 0"));
        m_client->raiseSession(rtc::RTCSS_CONNECTED, call);
        QCOMPARE(m_status, QStringLiteral("CONNECTED"));
        QCOMPARE(ringEnds, QList<QVariantList>{{false}}); // answered: not missed
        QVERIFY(m_calls->tmrConnected->isActive());
        for (int i = 0; i < 61; ++i)
            m_calls->tmrConnected_Timer();
        QCOMPARE(m_status, QStringLiteral("CONNECTED 0:1:1"));
        m_client->raiseSession(7, call); // later states change nothing
        QCOMPARE(m_status, QStringLiteral("CONNECTED 0:1:1"));
        m_client->raiseSession(rtc::RTCSS_DISCONNECTED, call); // the far end hung up
        QCOMPARE(m_status, QStringLiteral("DISCONNECTED"));
        QVERIFY(!m_calls->tmrConnected->isActive());
        QCOMPARE(m_calls->arrangement(), Arrangement::Idle);
        QCOMPARE(log(), QStringList{"1003--Duration: 0:1:1"});
    }

    // A caller while a call of ours is set up or connected waits, ringing at their end: heard
    // as the waiting tone and named for the status line, nothing they do touches the call the
    // window holds, and one who gives up is a missed call in the log. A third is the engine's
    // to refuse.
    void secondCallerWaitsAndIsLoggedWhenGivingUp_data() {
        QTest::addColumn<bool>("connected");
        QTest::newRow("connected") << true;
        QTest::newRow("ringing out") << false;
    }
    void secondCallerWaitsAndIsLoggedWhenGivingUp() {
        QFETCH(bool, connected);
        QSignalSpy waiting(m_calls.get(), &calls::CallController::waitingCallerChanged);
        dial("600");
        m_client->raiseSession(rtc::RTCSS_INPROGRESS);
        const auto first = m_calls->session();
        if (connected)
            m_client->raiseSession(rtc::RTCSS_CONNECTED);
        const CallState before = m_calls->state();
        m_client->calls.clear();
        m_tones.clear();
        const auto second = ringing();
        QCOMPARE(m_calls->waitingSession(), second);
        m_client->raiseSession(rtc::RTCSS_INCOMING, m_client->newSession("sip:1004@h"));
        QCOMPARE(m_calls->waitingSession(), second);
        QCOMPARE(m_tones, QStringList{"WAITING.WAV"});
        if (connected) // again a few seconds later
            QTRY_COMPARE_WITH_TIMEOUT(m_tones.size(), 2, 7000);
        m_client->raiseSession(rtc::RTCSS_DISCONNECTED, second); // gives up
        QCOMPARE(m_calls->state(), before);
        QVERIFY(m_status.startsWith(connected ? "CONNECTED" : "INPROGRESS"));
        QCOMPARE(m_calls->session(), first);
        QCOMPARE(m_calls->tmrConnected->isActive(), connected);
        QCOMPARE(m_calls->arrangement(), Arrangement::InCall);
        QVERIFY(m_client->calls.isEmpty()); // no ring, no answer
        QCOMPARE(waiting.size(), 2);
        QCOMPARE(waiting.at(0).first().toString(), QStringLiteral("1003"));
        QCOMPARE(waiting.at(1).first().toString(), QString());
        QCOMPARE(log(), QStringList{"1003--Duration: 0:0:0"});
        QVERIFY(!m_calls->waitingSession());
        m_calls->Picture8_Click();
        QCOMPARE(m_client->calls, QStringList{"Terminate 0"});
        m_client->raiseSession(rtc::RTCSS_DISCONNECTED, first);
        QCOMPARE(m_calls->state(), CallState::Disconnected); // nothing waits any more
        QCOMPARE(m_tones.size(), connected ? 2 : 1);
    }

    // When the held call ends, the caller still waiting rings here as any incoming call: Call
    // answers it, or End declines it.
    void waitingCallerRingsOnceTheCallEnds_data() {
        QTest::addColumn<bool>("answer");
        QTest::newRow("answered") << true;
        QTest::newRow("declined") << false;
    }
    void waitingCallerRingsOnceTheCallEnds() {
        QFETCH(bool, answer);
        QSignalSpy waiting(m_calls.get(), &calls::CallController::waitingCallerChanged);
        connectedCall(4);
        const auto second = ringing();
        m_calls->Picture8_Click();
        m_client->calls.clear();
        m_client->raiseSession(rtc::RTCSS_DISCONNECTED); // the first call
        QCOMPARE(m_status, QStringLiteral("INCOMING"));
        QCOMPARE(m_calls->session(), second);
        QVERIFY(!m_calls->waitingSession());
        QCOMPARE(waiting.last().first().toString(), QString());
        QCOMPARE(m_calls->number(), QStringLiteral("1003"));
        QCOMPARE(m_calls->arrangement(), Arrangement::Ringing);
        QCOMPARE(m_client->calls, QStringList{"PlayRing 0 1"});
        QCOMPARE(log(), QStringList{"600--Duration: 0:0:4"});
        // A caller while one rings here waits too, without a tone that would cut off the ring.
        m_tones.clear();
        const auto third = ringing();
        QCOMPARE(m_calls->waitingSession(), third);
        QVERIFY(m_tones.isEmpty());
        if (answer)
            m_calls->Picture6_Click();
        else
            m_calls->Picture8_Click();
        QCOMPARE(m_client->calls.at(1), QLatin1String(answer ? "Answer" : "Terminate 3"));
    }

    // A call placed here that never connected says why it ended; a busy far end is heard too.
    // Calls hung up, or ended here, stay plain "DISCONNECTED".
    void refusedCallSaysWhy() {
        const std::pair<long, const char *> words[] = {{486, "busy"},
                                                       {600, "busy"},
                                                       {404, "no such number"},
                                                       {484, "no such number"},
                                                       {604, "no such number"},
                                                       {408, "no answer"},
                                                       {480, "no answer"},
                                                       {603, "declined"},
                                                       {403, "refused"},
                                                       {500, "refused"},
                                                       {699, "refused"},
                                                       {0, ""},
                                                       {200, ""},
                                                       {700, ""}};
        for (const auto &[code, word] : words)
            QCOMPARE(calls::endReason(code), QLatin1String(word));

        dial("600");
        m_client->raiseSession(rtc::RTCSS_INPROGRESS);
        m_tones.clear();
        m_client->raiseSession(rtc::RTCSS_DISCONNECTED, {}, 486);
        QCOMPARE(m_status, QStringLiteral("DISCONNECTED busy"));
        QCOMPARE(m_tones, QStringList{"BUSY.WAV"});
        dial("601");
        m_client->raiseSession(rtc::RTCSS_DISCONNECTED, {}, 404);
        QCOMPARE(m_status, QStringLiteral("DISCONNECTED no such number"));
        dial("602"); // given up here: the far end's 487 is no refusal
        m_calls->Picture8_Click();
        m_client->raiseSession(rtc::RTCSS_DISCONNECTED, {}, 487);
        QCOMPARE(m_status, QStringLiteral("DISCONNECTED"));
        connectedCall();
        m_client->raiseSession(rtc::RTCSS_DISCONNECTED, {}, 500);
        QCOMPARE(m_status, QStringLiteral("DISCONNECTED"));
        m_client->raiseSession(rtc::RTCSS_DISCONNECTED, ringing(), 603);
        QCOMPARE(m_status, QStringLiteral("DISCONNECTED"));
        QCOMPARE(m_tones.filter("BUSY").size(), 1);
    }

    void endDeclinesARingingCallAndStopsTheRing() {
        QSignalSpy ringEnds(m_calls.get(), &calls::CallController::ringingEnded);
        const auto call = ringing();
        m_calls->Picture8_Click();
        QCOMPARE(m_client->calls.mid(1), (QStringList{"Terminate 3", "PlayRing 0 0"}));
        m_client->raiseSession(rtc::RTCSS_DISCONNECTED, call);
        QCOMPARE(ringEnds, QList<QVariantList>{{false}}); // declined: not missed
        QCOMPARE(log(), QStringList{"1003--Duration: 0:0:0"});
    }

    // One press of End: one Terminate and, once the engine says the call ended, one log line.
    void endOncePerCallAndOneLogLine() {
        connectedCall(5);
        m_calls->Picture8_Click();
        m_calls->Picture8_Click();
        QCOMPARE(engine("Terminate"), QStringList{"Terminate 0"});
        QVERIFY(log().isEmpty());
        m_client->raiseSession(rtc::RTCSS_DISCONNECTED);
        m_client->raiseSession(rtc::RTCSS_DISCONNECTED);
        QCOMPARE(log(), QStringList{"600--Duration: 0:0:5"});
    }

    // A log that cannot be written (its folder is a file here, which stops root as well as a
    // full or read-only disk would) is told once in the status line and the program's log, not
    // again with every following call, and again once a call was written in between.
    void aCallThatCannotBeLoggedIsToldOnce() {
        QVERIFY(QFile(m_home.filePath("file")).open(QIODevice::WriteOnly));
        const QString unwritable = m_home.filePath("file/recentcall.txt");
        m_calls->setLogPath(unwritable);
        const auto told = [] {
            return QString::fromUtf8(readBytes(platform::programLogPath()))
                .count("the call could not be written to");
        };
        const int toldBefore = told();
        const QList<std::pair<QString, bool>> callsLoggedTo = {
            {unwritable, true}, {unwritable, false}, {logPath(), false}, {unwritable, true}};
        for (const auto &[path, toldNow] : callsLoggedTo) {
            m_calls->setLogPath(path);
            connectedCall(1);
            m_client->raiseSession(rtc::RTCSS_DISCONNECTED);
            QVERIFY2(m_status.startsWith(
                         "Error:  The call could not be added to the recent calls: ") == toldNow,
                     qPrintable(m_status));
        }
        QCOMPARE(told() - toldBefore, 2);
        QCOMPARE(log(), QStringList{"600--Duration: 0:0:1"});
    }

    // Calls that end without End are logged too, with the time they were connected: an unanswered
    // call after a connected one does not inherit its clock, and a caller who gave up stops the
    // ring.
    void everyEndedCallIsLoggedWithItsOwnTime() {
        connectedCall(7);
        m_client->raiseSession(rtc::RTCSS_DISCONNECTED);
        dial("601");
        m_client->raiseSession(rtc::RTCSS_INPROGRESS);
        m_client->raiseSession(rtc::RTCSS_DISCONNECTED);
        m_client->calls.clear();
        QSignalSpy ringEnds(m_calls.get(), &calls::CallController::ringingEnded);
        m_client->raiseSession(rtc::RTCSS_DISCONNECTED, ringing());
        QCOMPARE(m_client->calls, (QStringList{"PlayRing 0 1", "PlayRing 0 0"}));
        QCOMPARE(ringEnds, QList<QVariantList>{{true}}); // the caller gave up: missed
        QCOMPARE(log(), (QStringList{"1003--Duration: 0:0:0", "601--Duration: 0:0:0",
                                     "600--Duration: 0:0:7"}));
    }

    // A call whose sound stopped says so in place of its clock, which goes on counting, until the
    // sound goes again; sound news without a connected call change nothing.
    void callWithoutSoundSaysSoUntilItHasSoundAgain() {
        const QString noSound("Error:  The call has no sound: the sound devices are gone.");
        m_client->raiseMedia(rtc::RTCMET_FAILED, rtc::RTCMT_AUDIO_SEND);
        QVERIFY(!m_status.startsWith("Error"));
        connectedCall(1);
        m_client->raiseMedia(rtc::RTCMET_FAILED, rtc::RTCMT_AUDIO_SEND);
        QCOMPARE(m_status, noSound);
        m_calls->tmrConnected_Timer();
        QCOMPARE(m_status, noSound);
        m_client->raiseMedia(rtc::RTCMET_STARTED, rtc::RTCMT_AUDIO_SEND);
        QCOMPARE(m_status, QStringLiteral("CONNECTED 0:0:2"));
        m_client->raiseSession(rtc::RTCSS_DISCONNECTED);
        m_client->raiseMedia(rtc::RTCMET_STARTED, rtc::RTCMT_AUDIO_SEND);
        QCOMPARE(m_status, QStringLiteral("DISCONNECTED"));
    }

    void keysSendTouchTonesOnlyWhileConnected() {
        dial("600");
        m_client->raiseSession(rtc::RTCSS_INPROGRESS);
        m_tones.clear();
        m_calls->DialPadClick('5');
        QCOMPARE(m_tones, QStringList{"Tone5.wav"});
        m_client->raiseSession(rtc::RTCSS_CONNECTED);
        m_calls->DialPadClick('#');
        m_calls->DialPadClick('*');
        QCOMPARE(engine("SendDTMF"), (QStringList{"SendDTMF 11", "SendDTMF 10"}));
        QCOMPARE(m_tones.size(), 1);
        QCOMPARE(m_calls->number(), QStringLiteral("6005#*"));
    }

    void clearAndDeleteLast() {
        m_calls->setNumber("12#");
        m_calls->Picture17_Click();
        QCOMPARE(m_calls->number(), QStringLiteral("12"));
        m_calls->Picture16_Click();
        QCOMPARE(m_calls->number(), QString());
        QCOMPARE(m_status, QStringLiteral("Ready..."));
        m_calls->Picture17_Click();
        QCOMPARE(m_calls->number(), QString());
    }

    // Leaving ends the call and turns away a caller waiting, who is a missed call.
    void leavingEndsAndLogsTheCall() {
        connectedCall(3);
        const auto waiting = ringing();
        m_calls->EndActiveCall();
        QCOMPARE(engine("Terminate"), (QStringList{"Terminate 5", "Terminate 5"}));
        m_client->raiseSession(rtc::RTCSS_DISCONNECTED, waiting);
        m_client->raiseSession(rtc::RTCSS_DISCONNECTED);
        QCOMPARE(log(), (QStringList{"600--Duration: 0:0:3", "1003--Duration: 0:0:0"}));
        QVERIFY(!m_calls->waitingSession());
    }

    void callerNumberIsTheUserPart() {
        QCOMPARE(calls::callerNumber("sip:1003@example.net;transport=udp"), QStringLiteral("1003"));
        QCOMPARE(calls::callerNumber("\"Ann\" <sips:+4930123@example.net>"),
                 QStringLiteral("+4930123"));
        QCOMPARE(calls::callerNumber("tel:5551234;phone-context=x"), QStringLiteral("5551234"));
    }

    // Service codes dial: '#' and anything else a user part cannot hold go escaped.
    void dialledAddressEscapesTheUserPart() {
        QCOMPARE(calls::dialledAddress("*21#", "sip.example.net"),
                 QStringLiteral("sip:*21%23@sip.example.net"));
        QCOMPARE(calls::dialledAddress("+49 30%", "h:5070"),
                 QStringLiteral("sip:+49%2030%25@h:5070"));
        QCOMPARE(calls::dialledAddress("a-b_c.!~*'()&=+$,;?/", "h"),
                 QStringLiteral("sip:a-b_c.!~*'()&=+$,;?/@h"));
    }

    // What a sip: or tel: link puts into the number box; an empty expectation: refused.
    void linkGivesItsNumber_data() {
        QTest::addColumn<QString>("link");
        QTest::addColumn<QString>("number");
        QTest::newRow("sip user") << "sip:123@host"
                                  << "123";
        QTest::newRow("sip phone") << "sip:+4930123@host;user=phone"
                                   << "+4930123";
        QTest::newRow("sip password") << " SIP:1001:secret@host:5060 "
                                      << "1001";
        QTest::newRow("tel separators") << "tel:+1-555-0100"
                                        << "+15550100";
        QTest::newRow("tel context") << "tel:5550100;phone-context=example.com"
                                     << "5550100";
        QTest::newRow("tel keys") << "tel:*21#"
                                  << "*21#";
        QTest::newRow("tel escaped") << "tel:%2B49%20(30)%20123.4%23"
                                     << "+49301234#";
        QTest::newRow("sip name") << "sip:alice@host"
                                  << "";
        QTest::newRow("sip host only") << "sip:host"
                                       << "";
        QTest::newRow("plus inside") << "tel:1+2"
                                     << "";
        QTest::newRow("plus alone") << "tel:+"
                                    << "";
        QTest::newRow("letters") << "tel:555-CALL"
                                 << "";
        QTest::newRow("other scheme") << "mailto:123@host"
                                      << "";
        QTest::newRow("junk") << "junk"
                              << "";
        QTest::newRow("empty") << ""
                               << "";
    }
    void linkGivesItsNumber() {
        QFETCH(QString, link);
        QFETCH(QString, number);
        QCOMPARE(calls::numberFromLink(link).value_or(QString()), number);
    }

    // A number handed over by a link waits for the login and for a call to end, and is never
    // dialled; once dialled by the user, its leading '+' is no wrong key.
    void offeredNumberWaitsAndDialsAsItStands() {
        MessageCatcher messages;
        m_calls->setNumber("12");
        m_calls->offerNumber("5550100");
        QCOMPARE(m_calls->number(), QStringLiteral("12"));
        m_calls->setReadyForNumbers(true);
        QCOMPARE(m_calls->number(), QStringLiteral("5550100"));
        const auto call = ringing();
        m_calls->offerNumber("+15550100");
        QCOMPARE(m_calls->number(), QStringLiteral("1003"));
        m_client->raiseSession(rtc::RTCSS_DISCONNECTED, call);
        QCOMPARE(m_calls->number(), QStringLiteral("+15550100"));
        QVERIFY(engine("CreateSession").isEmpty());
        dial(m_calls->number());
        QCOMPARE(engine("AddParticipant"),
                 QStringList{"AddParticipant sip:+15550100@sip.example.net Any Name"});
        QVERIFY(messages.texts().isEmpty());
    }
};

QTEST_MAIN(TestCalls)
#include "tst_calls.moc"
