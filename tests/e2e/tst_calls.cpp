#include "dialogdriver.h"
#include "frmkirrow.h"
#include "frmlogin.h"
#include "kamailioserver.h"
#include "linphoneclient.h"
#include "logindriver.h"
#include "picturebox.h"
#include "recentlog.h"
#include "sipcapture.h"
#include "sipppeer.h"
#include "soundcheck.h"
#include "testdesktop.h"
#include "traycontroller.h"
#include "tuningwizard.h"
#include "xdo.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QPointer>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QScreen>
#include <QTimer>
#include <QWizard>
#include <QtTest>

#include <algorithm>
#include <cmath>

namespace {

constexpr int kTimeoutMs = 20000;

// Reads every message box the program shows and answers it with Return, as a user does.
class MessageReader : public QObject {
public:
    MessageReader() {
        connect(&m_poll, &QTimer::timeout, this, &MessageReader::look);
        m_poll.start(20);
    }
    // "title: text" of each box read since the last clear().
    QStringList read() const { return m_read; }
    void clear() { m_read.clear(); }

private:
    void look() {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!box || box == m_reading)
            return;
        m_reading = box;
        m_read << box->windowTitle() + QStringLiteral(": ") + box->text();
        // No window manager gives the new box the keyboard: xdotool does.
        xdo::focusWindow(box);
        xdo::key({QStringLiteral("Return")});
    }

    QTimer m_poll;
    QPointer<QMessageBox> m_reading;
    QStringList m_read;
};

// Whether the peer's message trace has a line matching pattern, waiting for it with the program
// running (SippPeer's own waits would stop the program's events).
bool sees(const SippPeer &peer, const QString &pattern) {
    const QRegularExpression line(pattern, QRegularExpression::MultilineOption);
    return QTest::qWaitFor([&] { return peer.messages().contains(line); }, kTimeoutMs);
}

// Whether the peer ends, with the program running, having played its scenario through.
bool passes(const SippPeer &peer) {
    return QTest::qWaitFor([&] { return !peer.isRunning(); }, kTimeoutMs) && peer.exitCode() == 0;
}

// Waits, with the program running, until query() gives expected, for ms of real time (QTRY_*
// count their polls, and a query of a capture takes a while); returns what it gave last.
template <class Query>
auto waitFor(Query query, const decltype(query()) &expected, int ms = kTimeoutMs) {
    auto last = query();
    static_cast<void>(QTest::qWaitFor([&] { return (last = query()) == expected; }, ms));
    return last;
}

// The desktop's notifications as its notification server (dunst, on the test display's session
// bus) has them: how many it shows now.
int shownNotifications() {
    QProcess dunstctl;
    dunstctl.start(QStringLiteral("dunstctl"),
                   {QStringLiteral("count"), QStringLiteral("displayed")});
    dunstctl.waitForFinished(kTimeoutMs);
    bool number = false;
    const int shown = dunstctl.readAllStandardOutput().trimmed().toInt(&number);
    return number ? shown : -1;
}

// What goes to the notification server on the session bus, as dbus-monitor prints it.
class NotificationWatch {
public:
    NotificationWatch() {
        m_monitor.start(QStringLiteral("dbus-monitor"),
                        {QStringLiteral("--session"),
                         QStringLiteral("interface='org.freedesktop.Notifications'")});
        // It says so once it watches.
        static_cast<void>(
            QTest::qWaitFor([this] { return seen().contains("NameLost"); }, kTimeoutMs));
    }
    ~NotificationWatch() {
        m_monitor.terminate();
        m_monitor.waitForFinished();
    }
    QString seen() {
        m_seen += QString::fromUtf8(m_monitor.readAllStandardOutput());
        return m_seen;
    }
    // Whether the calls to the server follow in this order, each with its argument.
    bool inOrder(const QStringList &calls) {
        qsizetype at = 0;
        for (const QString &call : calls)
            if ((at = seen().indexOf(call, at)) < 0)
                return false;
        return true;
    }

private:
    QProcess m_monitor;
    QString m_seen;
};

} // namespace

// Calls as a user makes them: Kirrow's main window with the real engine on the X display,
// logged in through its login dialog to a private kamailio exchange, sipp as the far end, and
// xdotool's pointer and keyboard the only things that work the program.
class TestCalls : public QObject {
    Q_OBJECT
    QTemporaryDir m_home;
    std::unique_ptr<KamailioServer> m_server;
    std::unique_ptr<frmKirrow> m_window;
    std::unique_ptr<MessageReader> m_messages;
    QStringList m_states; // the status line after each call event
    // The callees' contacts registered in this case, removed after it: the exchange would fork
    // later calls to them too, and takes ten contacts an account at most.
    QList<QPair<QString, quint16>> m_contacts;

    QString status() const { return m_window->lblMsg->text(); }
    QString number() const { return m_window->cmbPhoneNo->currentText(); }


    bool idleArrangement() const {
        return m_window->Picture6->isEnabled() && !m_window->Picture8->isEnabled() &&
               m_window->cmbPhoneNo->isEnabled();
    }

    static std::unique_ptr<SippPeer> startPeer(const SippPeer::Options &options) {
        auto peer = std::make_unique<SippPeer>(options);
        QString error;
        if (!peer->start(&error))
            qFatal("sipp %s: %s", qPrintable(options.scenario), qPrintable(error));
        return peer;
    }

    // sipp answering as account (its password is "kirrow" and the account), registered on the
    // exchange with its own port as contact.
    std::unique_ptr<SippPeer> callee(const QString &scenario,
                                     const QString &account = QStringLiteral("1002"),
                                     int lifetimeMs = 60000, bool talks = false) {
        SippPeer::Options answering;
        answering.scenario = scenario;
        answering.timeoutMs = lifetimeMs;
        // A far end that sends sound back keeps a long call up: the engine ends a call that has
        // heard nothing for 30 s.
        answering.rtpEcho = talks;
        auto peer = startPeer(answering);
        registerContact(account, peer->port(), 600);
        m_contacts.append({account, peer->port()});
        return peer;
    }

    // Registers (or, for 0 s, removes) a contact of account at the exchange.
    void registerContact(const QString &account, quint16 port, int expires) {
        SippPeer::Options registering;
        registering.scenario = "register.xml";
        registering.remote = m_server->address();
        registering.service = registering.authUser = account;
        registering.authPassword = "kirrow" + account;
        registering.keys = {{"expires", QString::number(expires)},
                            {"contact_port", QString::number(port)}};
        SippPeer registration(registering);
        if (!registration.start() || !registration.waitForExit(kTimeoutMs) ||
            registration.exitCode() != 0)
            qFatal("registering the callee failed: %s", qPrintable(registration.log()));
    }

    // sipp calling Kirrow's account 1001 as 1003 (not the callee's number: the engine turns away
    // a call from the very party it is calling); pauseMs is how long call-in-cancel.xml rings.
    std::unique_ptr<SippPeer> caller(const QString &scenario, int pauseMs = -1) {
        SippPeer::Options calling;
        calling.scenario = scenario;
        calling.remote = m_server->address();
        calling.service = "1001";
        calling.authUser = "1003";
        calling.authPassword = "kirrow1003";
        calling.keys = {{"caller", "1003"}};
        calling.pauseMs = pauseMs;
        return startPeer(calling);
    }

    PictureBox *padKey(QChar key) const {
        PictureBox *const keys[] = {m_window->Picture20, m_window->Picture21, m_window->Picture22,
                                    m_window->Picture25, m_window->Picture26, m_window->Picture27,
                                    m_window->Picture30, m_window->Picture31, m_window->Picture32,
                                    m_window->Picture35, m_window->Picture36, m_window->Picture37};
        const qsizetype index = QStringLiteral("123456789*0#").indexOf(key);
        Q_ASSERT(index >= 0);
        return keys[index];
    }

    // Clicks the dial pad's keys one by one, each taken before the next.
    void clickPad(const QString &keys) {
        for (QChar key : keys) {
            const QString before = number();
            xdo::click(padKey(key));
            QTRY_COMPARE(number(), before + key);
        }
    }

    void dialWithPad(const QString &digits) {
        clickPad(digits);
        xdo::click(m_window->Picture6);
    }

    bool connected() const { return status().startsWith(QLatin1String("CONNECTED")); }

    void dialAndConnect(const QString &digits) {
        dialWithPad(digits);
        QTRY_VERIFY_WITH_TIMEOUT(connected(), kTimeoutMs);
    }

    void clickEnd() { xdo::click(m_window->Picture8); }

    // Clicks End, and waits until the call has ended here and the far end has played its part.
    void endCall(const SippPeer &far) {
        clickEnd();
        QTRY_COMPARE_WITH_TIMEOUT(status(), QStringLiteral("DISCONNECTED"), kTimeoutMs);
        QVERIFY2(passes(far), qPrintable(far.report()));
    }

    // A second caller rings for two seconds while the window holds a call, and gives up; the
    // window shows nothing of it.
    void secondCallerGivesUp() {
        auto second = caller("call-in-cancel.xml", 2000);
        QVERIFY2(passes(*second), qPrintable(second->report()));
        QVERIFY2(!m_states.contains("INCOMING") && !m_states.contains("DISCONNECTED"),
                 qPrintable(m_states.join(", ")));
    }

    // The login dialog the start-up opens, filled in and sent with the pointer and keyboard.
    void logInThroughTheDialog() {
        LoginAnswer answer;
        answer.server = m_server->address();
        answer.account = QStringLiteral("1001");
        answer.password = QStringLiteral("kirrow1001");
        answer.byHand = true; // typed over what an earlier start saved
        answerNextLoginDialog(answer);
        QVERIFY(m_window->Form_Load());
    }

    // The telephone as the program starts it: the real engine, logged in, registered.
    void startWindow() {
        m_window.reset();
        m_window =
            std::make_unique<frmKirrow>([] { return std::make_shared<rtc::LinphoneClient>(); });
        logInThroughTheDialog();
        m_window->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
        QTRY_COMPARE_WITH_TIMEOUT(m_window->RegState(), QStringLiteral("REGISTERED"), kTimeoutMs);
        connect(m_window->Client().get(), &rtc::IRTCClient::Event, m_window->lblMsg,
                [this](long type) {
                    if (type == rtc::RTCE_SESSION_STATE_CHANGE)
                        m_states << status();
                });
    }

    // Opens the tuning wizard (by default with a click on the audio button) and runs act on it
    // from inside its own event loop once it is up; act closes it with its buttons.
    void withTuningWizard(const std::function<void(audio::TuningWizard *)> &act,
                          const std::function<void()> &open = {}) {
        bool acted = false;
        whenModalShows<audio::TuningWizard>([&](audio::TuningWizard *wizard) {
            // A step that failed closes the wizard, so the test is not stuck in it.
            const auto unstick = qScopeGuard([wizard] {
                if (QTest::currentTestFailed() && wizard->isVisible())
                    wizard->reject();
            });
            QVERIFY(QTest::qWaitForWindowExposed(wizard));
            xdo::focusWindow(wizard);
            act(wizard);
            acted = true;
        });
        if (open)
            open();
        else
            xdo::click(m_window->Picture2);
        QTRY_VERIFY_WITH_TIMEOUT(acted && !QApplication::activeModalWidget(), kTimeoutMs);
    }

    // Picks an entry of a drop-down list as a user does: a click opens the list, the arrow keys
    // go to the entry and Return takes it.
    static void pickFromList(QComboBox *box, const QString &entry) {
        const int target = box->findText(entry);
        QVERIFY2(target >= 0, qPrintable(entry + " is not in the list"));
        xdo::click(box);
        QTRY_VERIFY(box->view()->isVisible());
        const int steps = target - box->currentIndex();
        QStringList keys(std::abs(steps), steps > 0 ? "Down" : "Up");
        xdo::key(keys << "Return");
        QTRY_COMPARE(box->currentText(), entry);
    }

    static void clickWizardButton(audio::TuningWizard *wizard, QWizard::WizardButton which) {
        xdo::click(wizard->button(which));
    }

private slots:
    void initTestCase() {
        REQUIRE_TEST_DESKTOP();
        QVERIFY2(QGuiApplication::platformName() == QLatin1String("xcb"),
                 "needs a real X server (scripts/test starts one)");
        qputenv("XDG_CONFIG_HOME", m_home.filePath("config").toUtf8());
        qputenv("XDG_DATA_HOME", m_home.filePath("data").toUtf8());
        m_server = std::make_unique<KamailioServer>(
            QList<KamailioServer::Account>{{"1001", "kirrow1001"},
                                           {"1002", "kirrow1002"},
                                           {"1003", "kirrow1003"},
                                           {"1004", "kirrow1004"},
                                           {"1002003004", "kirrow1002003004"}});
        QString error;
        QVERIFY2(m_server->start(&error), qPrintable(error));
    }

    // A fresh telephone for every case, so a call one case leaves behind cannot reach the next.
    void init() {
        m_states.clear();
        QProcess::execute(QStringLiteral("dunstctl"), {QStringLiteral("close-all")});
        QFile::remove(calls::recentLogPath());
        m_messages = std::make_unique<MessageReader>();
        startWindow();
    }

    void cleanup() {
        // Every case says which boxes it expects; any other is a fault of its own.
        const QStringList unexpected = m_messages->read();
        m_window.reset();
        m_messages.reset();
        for (const auto &[account, port] : std::exchange(m_contacts, {}))
            registerContact(account, port, 0);
        QVERIFY2(unexpected.isEmpty(), qPrintable(unexpected.join(" | ")));
    }

    void callerGivingUpEndsTheRinging() {
        auto far = caller("call-in-cancel.xml");
        QTRY_VERIFY_WITH_TIMEOUT(m_states.contains("INCOMING"), kTimeoutMs);
        QTRY_COMPARE_WITH_TIMEOUT(status(), QStringLiteral("DISCONNECTED"), kTimeoutMs);
        QVERIFY(idleArrangement());
        QVERIFY2(passes(*far), qPrintable(far->report()));
    }

    // A call that rings while the phone is out of sight, in the tray or minimised, brings the
    // window to the front with the caller shown, so it can be answered; the tray icon rings
    // while it is there, and the desktop's notification server names the caller. The caller
    // gives up: the icon goes with the ringing, and "Missed call from 1003" stays.
    void ringingCallComesToTheFront_data() {
        QTest::addColumn<bool>("inTray");
        QTest::newRow("in the tray") << true;
        QTest::newRow("minimised") << false;
    }
    void ringingCallComesToTheFront() {
        QFETCH(bool, inTray);
        QProcess manager;
        xdo::startWindowManager(manager);
        const auto stopManager = qScopeGuard([&manager] {
            manager.terminate();
            manager.waitForFinished();
        });
        QTRY_COMPARE_WITH_TIMEOUT(xdo::managedState(m_window.get()), QStringLiteral("Normal"),
                                  kTimeoutMs);
        const QString id = QString::number(m_window->winId());
        std::optional<xdo::TrayIcon> icon;
        if (inTray) {
            xdo::click(m_window->Picture41);
            QTRY_COMPARE(xdo::trayIcons().size(), 1);
            icon = xdo::trayIcons().first();
        } else {
            xdo::run({"windowminimize", "--sync", id});
            QTRY_COMPARE(xdo::managedState(m_window.get()), QStringLiteral("Iconic"));
        }
        QTRY_VERIFY(!xdo::isViewable(m_window.get()));
        const auto iconPicture = [&icon] {
            return QGuiApplication::primaryScreen()
                ->grabWindow(0, icon->geometry.x(), icon->geometry.y(), icon->geometry.width(),
                             icon->geometry.height())
                .toImage();
        };
        QImage idleIcon;
        if (icon) {
            QTRY_VERIFY(xdo::showsContent(icon->geometry));
            idleIcon = iconPicture();
        }
        // Another program's window where the telephone stands, in front.
        QWidget cover;
        cover.setGeometry(m_window->geometry());
        cover.show();
        QVERIFY(QTest::qWaitForWindowExposed(&cover));
        NotificationWatch notifications;

        auto far = caller("call-in-cancel.xml", 8000);
        QTRY_COMPARE_WITH_TIMEOUT(status(), QStringLiteral("INCOMING"), kTimeoutMs);
        QTRY_VERIFY(xdo::isViewable(m_window.get()));
        QTRY_COMPARE(xdo::managedState(m_window.get()), QStringLiteral("Normal"));
        const auto inFront = [this, &cover] {
            const QList<WId> order = xdo::stackingOrder();
            return order.indexOf(m_window->winId()) > order.indexOf(cover.winId());
        };
        QTRY_VERIFY(inFront());
        QCOMPARE(number(), QStringLiteral("1003"));
        QVERIFY(m_window->Picture6->isEnabled());
        QTRY_VERIFY(notifications.inOrder({"member=Notify", "string \"Call from 1003\""}));
        QTRY_COMPARE(shownNotifications(), 1);
        if (icon) {
            QCOMPARE(xdo::trayIcons().size(), 1);
            QTRY_VERIFY(iconPicture() != idleIcon);
            QCOMPARE(m_window->Tray().Icon().toolTip(), QStringLiteral("Call from 1003"));
        }

        QTRY_COMPARE_WITH_TIMEOUT(status(), QStringLiteral("DISCONNECTED"), kTimeoutMs);
        QVERIFY2(passes(*far), qPrintable(far->report()));
        QTRY_VERIFY2(notifications.inOrder({"string \"Call from 1003\"", "member=CloseNotification",
                                            "member=Notify", "string \"Missed call from 1003\""}),
                     qPrintable(notifications.seen()));
        QTRY_COMPARE(shownNotifications(), 1);
        QTRY_VERIFY(xdo::trayIcons().isEmpty());
        QVERIFY(xdo::isViewable(m_window.get()));
    }

    // A caller while a call rings out rings at its own end only; End cancels the call going out.
    void incomingDuringAnOutgoingCallIsLeftRinging() {
        auto far = callee("ring.xml");
        dialWithPad("1002");
        QTRY_VERIFY_WITH_TIMEOUT(status() == QStringLiteral("INPROGRESS") &&
                                     far->messages().contains("180 Ringing"),
                                 kTimeoutMs);
        secondCallerGivesUp();
        QCOMPARE(status(), QStringLiteral("INPROGRESS"));
        endCall(*far);
        QVERIFY2(sees(*far, "^CANCEL "), qPrintable(far->report()));
    }

    // The microphone chosen in the wizard of the audio button, with the pointer and the
    // keyboard, is the one the next call records from, and is still chosen after a restart.
    // Once it is gone, the wizard says so when it opens, in the same run or at the next start,
    // and calls record from the default microphone.
    void tuningWizardChoosesTheMicrophoneOfTheCalls() {
        const QString micName = QStringLiteral("KirrowWizardMic");
        soundcheck::PulseModule mic("module-null-source",
                                    {"source_name=kirrow_wizard_mic", "description=" + micName});
        QVERIFY2(mic.isLoaded(), qPrintable(mic.error()));
        const auto microphone = [this] {
            return m_window->Client()->PreferredAudioDevice(rtc::RTCAD_MICROPHONE);
        };
        const auto callRecordingFrom = [this](const QString &source) {
            auto far = callee("answer.xml");
            dialAndConnect("1002");
            const QStringList recorded =
                waitFor([] { return soundcheck::recordedSources(); }, QStringList{source});
            endCall(*far);
            QCOMPARE(recorded, QStringList{source});
        };
        withTuningWizard([&](audio::TuningWizard *wizard) {
            clickWizardButton(wizard, QWizard::NextButton);
            QTRY_COMPARE(wizard->currentId(), int(audio::TuningWizard::MicrophonePage));
            pickFromList(wizard->cmbDevice[rtc::RTCAD_MICROPHONE], micName);
            clickWizardButton(wizard, QWizard::NextButton);
            QTRY_COMPARE(wizard->currentId(), int(audio::TuningWizard::DonePage));
            QVERIFY2(wizard->lblSummary->text().contains("Microphone: " + micName),
                     qPrintable(wizard->lblSummary->text()));
            clickWizardButton(wizard, QWizard::FinishButton);
        });
        const QString id = microphone();
        QVERIFY2(id.contains(micName), qPrintable(id));
        callRecordingFrom("kirrow_wizard_mic");

        startWindow();
        QCOMPARE(microphone(), id);
        mic.unload();
        withTuningWizard([&](audio::TuningWizard *wizard) {
            clickWizardButton(wizard, QWizard::NextButton);
            QTRY_COMPARE(wizard->currentId(), int(audio::TuningWizard::MicrophonePage));
            QCOMPARE(wizard->cmbDevice[rtc::RTCAD_MICROPHONE]->currentText(),
                     QStringLiteral("Default device"));
            QVERIFY(wizard->lblGone[rtc::RTCAD_MICROPHONE]->isVisible());
            QVERIFY(wizard->lblGone[rtc::RTCAD_MICROPHONE]->text().contains("not connected"));
            clickWizardButton(wizard, QWizard::CancelButton);
        });
        QCOMPARE(microphone(), QString());
        callRecordingFrom("kirrow_null_source");

        startWindow();
        QCOMPARE(microphone(), QString());
        withTuningWizard([&](audio::TuningWizard *wizard) {
            QVERIFY(!wizard->lblGone[rtc::RTCAD_MICROPHONE]->isHidden());
            QVERIFY(wizard->lblGone[rtc::RTCAD_SPEAKER]->isHidden());
            clickWizardButton(wizard, QWizard::CancelButton);
        });
    }

    // "Tuning Wizard" in the settings menu opens the same wizard; its test sound is heard.
    void settingsMenuOpensTheTuningWizard() {
        soundcheck::SinkRecorder sink;
        QVERIFY2(sink.start(), qPrintable(sink.error()));
        const auto openFromTheMenu = [this] {
            xdo::focusWindow(m_window.get());
            xdo::click(m_window->lblMsg, std::nullopt, 3);
            QTRY_VERIFY(m_window->mnuSettings->isVisible());
            xdo::click(m_window->mnuSettings,
                       m_window->mnuSettings->actionGeometry(m_window->mnuVOICE).center());
        };
        withTuningWizard(
            [&](audio::TuningWizard *wizard) {
                QCOMPARE(wizard->currentId(), int(audio::TuningWizard::SpeakersPage));
                const qsizetype before = sink.size();
                xdo::click(wizard->cmdTestSound);
                const auto chime = [&] {
                    sink.waitForMore(100);
                    return soundcheck::containsTonePair(sink.samples().mid(before),
                                                        soundcheck::kRate, 523, 784);
                };
                QVERIFY2(QTest::qWaitFor(chime, kTimeoutMs),
                         qPrintable(soundcheck::describe(sink.samples().mid(before),
                                                         soundcheck::kRate, {523, 784})));
                clickWizardButton(wizard, QWizard::CancelButton);
            },
            openFromTheMenu);
    }
};

QTEST_MAIN(TestCalls)
#include "tst_calls.moc"
