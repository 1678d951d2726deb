#include "dialogdriver.h"
#include "frmkirrow.h"
#include "frmlogin.h"
#include "kamailioserver.h"
#include "linphoneclient.h"
#include "logindriver.h"
#include "mainwindowui.h"
#include "picturebox.h"
#include "recentlog.h"
#include "sipcapture.h"
#include "sipppeer.h"
#include "soundcheck.h"
#include "testdesktop.h"
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
    // The callees' contacts registered in this case, removed after it: the exchange would fork
    // later calls to them too, and takes ten contacts an account at most.
    QList<QPair<QString, quint16>> m_contacts;

    QString status() const { return ui(m_window).lblMsg->text(); }
    QString number() const { return ui(m_window).cmbPhoneNo->currentText(); }

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

    PictureBox *padKey(QChar key) const {
        PictureBox *const keys[] = {
            ui(m_window).Picture20, ui(m_window).Picture21, ui(m_window).Picture22,
            ui(m_window).Picture25, ui(m_window).Picture26, ui(m_window).Picture27,
            ui(m_window).Picture30, ui(m_window).Picture31, ui(m_window).Picture32,
            ui(m_window).Picture35, ui(m_window).Picture36, ui(m_window).Picture37};
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
        xdo::click(ui(m_window).Picture6);
    }

    bool connected() const { return status().startsWith(QLatin1String("CONNECTED")); }

    void dialAndConnect(const QString &digits) {
        dialWithPad(digits);
        QTRY_VERIFY_WITH_TIMEOUT(connected(), kTimeoutMs);
    }

    void clickEnd() { xdo::click(ui(m_window).Picture8); }

    // Clicks End, and waits until the call has ended here and the far end has played its part.
    void endCall(const SippPeer &far) {
        clickEnd();
        QTRY_COMPARE_WITH_TIMEOUT(status(), QStringLiteral("DISCONNECTED"), kTimeoutMs);
        QVERIFY2(passes(far), qPrintable(far.report()));
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
        QTRY_COMPARE_WITH_TIMEOUT(m_window->Registration().RegState(), QStringLiteral("REGISTERED"),
                                  kTimeoutMs);
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
            xdo::click(ui(m_window).Picture2);
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
            return m_window->Registration().Client()->PreferredAudioDevice(rtc::RTCAD_MICROPHONE);
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
};

QTEST_MAIN(TestCalls)
#include "tst_calls.moc"
