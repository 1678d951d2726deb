#include "dialogdriver.h"
#include "filebytes.h"
#include "fixtures.h"
#include "frmkirrow.h"
#include "frmlogin.h"
#include "kamailioserver.h"
#include "linphoneclient.h"
#include "logindriver.h"
#include "mainlayout.h"
#include "mainwindowui.h"
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
#include <QClipboard>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
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
#include <numbers>

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

const QString kInputError = QStringLiteral("Input Error: Numbers 0 to 9 only, please!");

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

// G.711 mu-law, as a far end sends its sound in PCMU.
char muLaw(qint16 sample) {
    constexpr int kBias = 0x84;
    constexpr int kClip = 32635;
    const int sign = sample < 0 ? 0x80 : 0;
    int magnitude = std::min(sign ? -int(sample) : int(sample), kClip) + kBias;
    int exponent = 7;
    for (int mask = 0x4000; !(magnitude & mask) && exponent > 0; mask >>= 1)
        --exponent;
    const int mantissa = (magnitude >> (exponent + 3)) & 0x0f;
    return char(~(sign | (exponent << 4) | mantissa));
}

// Whether a sipp message trace holds a 200 answer to an INVITE.
bool answeredInvite(const QString &trace) {
    const QRegularExpression ok("^SIP/2.0 200 ", QRegularExpression::MultilineOption);
    const QRegularExpression invite("^CSeq:\\s*\\d+\\s+INVITE",
                                    QRegularExpression::MultilineOption);
    for (const QString &message :
         trace.split(QRegularExpression("^-{20,}.*$", QRegularExpression::MultilineOption)))
        if (message.contains(ok) && message.contains(invite))
            return true;
    return false;
}

// Where to click in another program's window: the middle of the lowest window in its tree (for
// xmessage, its button, below the message).
std::optional<QPoint> lowestWindowCentre(const QString &windowId) {
    QProcess xwininfo;
    xwininfo.start(QStringLiteral("xwininfo"),
                   {QStringLiteral("-tree"), QStringLiteral("-id"), windowId});
    if (!xwininfo.waitForFinished(kTimeoutMs) || xwininfo.exitCode() != 0)
        return std::nullopt;
    // "     0x400032 (has no name): ()  20x17+4+29  +485+387": size, place in the parent, on screen
    static const QRegularExpression child(
        R"(^\s+0x[0-9a-f]+ .*\s(\d+)x(\d+)\+-?\d+\+-?\d+\s+\+(-?\d+)\+(-?\d+)\s*$)",
        QRegularExpression::MultilineOption);
    std::optional<QRect> lowest;
    for (const QRegularExpressionMatch &m :
         child.globalMatch(QString::fromLocal8Bit(xwininfo.readAllStandardOutput()))) {
        const QRect r(m.captured(3).toInt(), m.captured(4).toInt(), m.captured(1).toInt(),
                      m.captured(2).toInt());
        if (!lowest || r.top() > lowest->top())
            lowest = r;
    }
    if (!lowest)
        return std::nullopt;
    return lowest->center();
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

// What an SDP body offers for audio: its port, and the telephone-event payload type that goes
// with its first codec (events are sent at the clock rate of the codec in use).
struct SdpAudio {
    quint16 port = 0;
    int telephoneEvent = -1;
};
SdpAudio sdpAudio(const QString &body) {
    static const QRegularExpression media("^m=audio (\\d+) \\S+ (\\d+)",
                                          QRegularExpression::MultilineOption);
    const QRegularExpressionMatch m = media.match(body);
    if (!m.hasMatch())
        return {};
    const auto rate = [&body](const QString &payload) {
        const QRegularExpression map("^a=rtpmap:" + payload + " [^/]+/(\\d+)",
                                     QRegularExpression::MultilineOption);
        return map.match(body).captured(1);
    };
    const QRegularExpression event("^a=rtpmap:(\\d+) telephone-event/" + rate(m.captured(2)) +
                                       "\\s*$",
                                   QRegularExpression::MultilineOption);
    return {m.captured(1).toUShort(), event.match(body).captured(1).toInt()};
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
    QStringList m_states; // the status line after each call event
    // The callees' contacts registered in this case, removed after it: the exchange would fork
    // later calls to them too, and takes ten contacts an account at most.
    QList<QPair<QString, quint16>> m_contacts;

    QString status() const { return ui(m_window).lblMsg->text(); }
    QString number() const { return ui(m_window).cmbPhoneNo->currentText(); }

    // The connected call's clock in seconds, as the status line shows it; -1 when not connected.
    int connectedSeconds() const {
        static const QRegularExpression clock("^CONNECTED (\\d+):(\\d+):(\\d+)$");
        const QRegularExpressionMatch m = clock.match(status());
        if (!m.hasMatch())
            return -1;
        return (m.captured(1).toInt() * 60 + m.captured(2).toInt()) * 60 + m.captured(3).toInt();
    }

    bool idleArrangement() const {
        return ui(m_window).Picture6->isEnabled() && !ui(m_window).Picture8->isEnabled() &&
               ui(m_window).cmbPhoneNo->isEnabled();
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

    // A second caller rings for two seconds while the window holds a call, and gives up; the
    // window shows nothing of it.
    void secondCallerGivesUp() {
        auto second = caller("call-in-cancel.xml", 2000);
        QVERIFY2(passes(*second), qPrintable(second->report()));
        QVERIFY2(!m_states.contains("INCOMING") && !m_states.contains("DISCONNECTED"),
                 qPrintable(m_states.join(", ")));
    }

    // Gives the window the keyboard, clicks into the number box and types there.
    void typeIntoNumberBox(const QString &text) {
        xdo::focusWindow(m_window.get());
        xdo::click(ui(m_window).cmbPhoneNo);
        QTRY_VERIFY(ui(m_window).cmbPhoneNo->hasFocus());
        xdo::type(text);
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
        connect(m_window->Registration().Client().get(), &rtc::IRTCClient::Event,
                ui(m_window).lblMsg, [this](long type) {
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

    // The number box's warning was shown once, and answered.
    void answeredInputError() {
        QTRY_COMPARE(m_messages->read(), QStringList{kInputError});
        QTRY_VERIFY(!QApplication::activeModalWidget());
        m_messages->clear();
    }

    // Waits until the sink has played the two frequencies together (within ms), and says what
    // it played instead when it has not.
    static void hearTonePair(soundcheck::SinkRecorder &sink, double low, double high,
                             int ms = kTimeoutMs) {
        const qsizetype from = sink.size();
        const auto heard = [&] {
            sink.waitForMore(200);
            return soundcheck::containsTonePair(sink.samples().mid(from), soundcheck::kRate, low,
                                                high);
        };
        QVERIFY2(QTest::qWaitFor(heard, ms),
                 qPrintable(soundcheck::describe(sink.samples().mid(from), soundcheck::kRate,
                                                 {low, high})));
    }

    // Hears the ring of an incoming call for a while.
    static void hearRinging(soundcheck::SinkRecorder &sink) {
        const qsizetype ringing = sink.size();
        QVERIFY(sink.waitForMore(1500));
        const QByteArray ring = sink.samples().mid(ringing);
        QVERIFY2(soundcheck::containsTonePair(ring, soundcheck::kRate, 400, 450),
                 qPrintable(soundcheck::describe(ring, soundcheck::kRate, {400, 450})));
    }

    // The main windows of other Kirrows on the screen, as xdotool names them.
    QStringList otherWindows() const {
        QStringList windows = xdo::visibleWindows("^Kirrow$");
        windows.removeAll(QString::number(m_window->winId()));
        return windows;
    }

    // Clicks the middle of a control of another Kirrow's main window, where the layout puts it
    // (15 twips to a pixel).
    static void clickControlOf(const QString &window, const char *control) {
        const skin::ControlPlace &place = skin::placeOf(QLatin1String(control));
        xdo::clickAt(xdo::windowGeometry(window).topLeft() +
                     QPoint(place.left + place.width / 2, place.top + place.height / 2) / 15);
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

    // The pointer and a click on End still work after Call: the Call button, disabled by the call
    // it placed, must not keep the pointer.
    // The call goes on top of a log edited by hand to seven lines, which keeps five, and the
    // log, rewritten, is the user's alone.
    void dialPadAndCallConnectThenEndHangsUp() {
        const QString logPath = calls::recentLogPath();
        QVERIFY(writeBytes(logPath, "1--Duration: 0:0:1\r\n2\r\n3\r\n4\r\n5\r\n6\r\n7\r\n"));
        QVERIFY(QFile::setPermissions(logPath, QFile::ReadOwner | QFile::WriteOwner |
                                                   QFile::ReadGroup | QFile::ReadOther));
        auto far = callee("answer.xml");
        dialWithPad("1002");
        QVERIFY2(sees(*far, "^INVITE sip:1002@"), qPrintable(far->report()));
        QTRY_VERIFY_WITH_TIMEOUT(connectedSeconds() >= 1, kTimeoutMs);
        QCOMPARE(m_states.first(), QStringLiteral("INPROGRESS"));
        QCOMPARE(m_states.count("CONNECTED"), 1);
        QVERIFY(!ui(m_window).Picture6->isEnabled());
        QVERIFY(ui(m_window).Picture8->isEnabled());
        endCall(*far);
        QVERIFY2(sees(*far, "^BYE sip:"), qPrintable(far->report()));
        QVERIFY(idleArrangement());
        const QStringList log = calls::readRecentCalls(logPath);
        QCOMPARE(log.size(), 5);
        QVERIFY2(
            QRegularExpression("^1002--Duration: 0:0:[1-9]\\d*$").match(log.first()).hasMatch(),
            qPrintable(log.first()));
        QCOMPARE(log.at(1), QStringLiteral("1--Duration: 0:0:1"));
        QCOMPARE(modeOf(logPath), 0600);
        QCOMPARE(modeOf(QFileInfo(logPath).path()), 0700);
    }

    // Enter in the number box dials a ten-digit number, and nothing shorter.
    void enterDialsTenDigitNumbers() {
        auto far = callee("answer.xml", "1002003004");
        SipCapture capture;
        capture.addPort(m_server->port());
        QString error;
        QVERIFY2(capture.start(&error), qPrintable(error));
        typeIntoNumberBox("100200300");
        xdo::key({"Return"});
        // The tenth digit and Enter again: the call that follows is the only one placed.
        xdo::type("4");
        QTRY_COMPARE(number(), QStringLiteral("1002003004"));
        xdo::key({"Return"});
        QVERIFY2(sees(*far, "^INVITE sip:1002003004@"), qPrintable(far->report()));
        QTRY_VERIFY_WITH_TIMEOUT(connected(), kTimeoutMs);
        QStringList invited;
        for (const SipCapture::SipMessage &message : capture.sipMessages())
            if (message.method == QLatin1String("INVITE"))
                invited << message.startLine.section(' ', 1, 1).section('@', 0, 0);
        invited.removeDuplicates();
        QCOMPARE(invited, QStringList{"sip:1002003004"});
        endCall(*far);
    }

    // A service code typed and clicked goes to the exchange with its '#' escaped.
    void serviceCodeWithHashIsDialled() {
        SipCapture capture;
        capture.addPort(m_server->port());
        QString error;
        QVERIFY2(capture.start(&error), qPrintable(error));
        typeIntoNumberBox("*21");
        QTRY_COMPARE(number(), QStringLiteral("*21"));
        clickPad("#");
        xdo::click(ui(m_window).Picture6);
        const auto invited = [&] {
            QStringList lines;
            for (const SipCapture::SipMessage &message : capture.sipMessages())
                if (message.method == QLatin1String("INVITE"))
                    lines << message.startLine.section('@', 0, 0);
            lines.removeDuplicates();
            return lines;
        };
        QCOMPARE(waitFor(invited, QStringList{"INVITE sip:*21%23"}),
                 QStringList{"INVITE sip:*21%23"});
        // The exchange has no such number, and says so (404).
        QTRY_COMPARE_WITH_TIMEOUT(status(), QStringLiteral("DISCONNECTED no such number"),
                                  kTimeoutMs);
        QVERIFY2(!m_states.join(' ').contains("Error"), qPrintable(m_states.join(", ")));
    }

    // While the far end rings (180, no sound of its own), the ringback is heard; it stops when
    // the call is given up.
    void ringbackIsHeardWhileTheFarEndRings() {
        soundcheck::SinkRecorder sink;
        QVERIFY2(sink.start(), qPrintable(sink.error()));
        auto far = callee("ring.xml");
        dialWithPad("1002");
        QVERIFY2(sees(*far, "^SIP/2.0 180 "), qPrintable(far->report()));
        hearTonePair(sink, 440, 480);
        endCall(*far);
        const qsizetype ended = sink.size();
        QVERIFY(sink.waitForMore(1500));
        const QByteArray after = sink.samples().mid(ended + soundcheck::kRate / 5);
        QVERIFY2(soundcheck::isSilent(after, soundcheck::kRate),
                 qPrintable(soundcheck::describe(after, soundcheck::kRate, {440, 480})));
    }

    // A far end that rings with a sound of its own (183 with an answer, then RTP) is heard
    // instead of the ringback.
    void farEndsEarlyMediaIsHeard() {
        QTemporaryDir dir;
        QByteArray sound; // 700 and 1100 Hz together, 2 s, as 8 kHz mu-law
        for (int n = 0; n < 16000; ++n)
            sound += muLaw(qint16(8000 * (std::sin(2 * std::numbers::pi * 700 * n / 8000.0) +
                                          std::sin(2 * std::numbers::pi * 1100 * n / 8000.0))));
        QFile soundFile(dir.filePath("early.ulaw"));
        QVERIFY(soundFile.open(QIODevice::WriteOnly) && soundFile.write(sound) == sound.size());
        soundFile.close();
        QFile in(testFixturePath("sipp/early-media.xml.in"));
        QFile scenario(dir.filePath("early-media.xml"));
        QVERIFY(in.open(QIODevice::ReadOnly) && scenario.open(QIODevice::WriteOnly));
        scenario.write(in.readAll().replace("@SOUND@", soundFile.fileName().toUtf8()));
        scenario.close();

        soundcheck::SinkRecorder sink;
        QVERIFY2(sink.start(), qPrintable(sink.error()));
        auto far = callee(scenario.fileName());
        dialWithPad("1002");
        QVERIFY2(sees(*far, "^SIP/2.0 183 "), qPrintable(far->report()));
        const qsizetype from = sink.size();
        hearTonePair(sink, 700, 1100);
        QVERIFY2(
            !soundcheck::containsTonePair(sink.samples().mid(from), soundcheck::kRate, 440, 480),
            "the ringback sounded over the far end's own sound");
        QCOMPARE(status(), QStringLiteral("INPROGRESS"));
        endCall(*far);
    }

    // A busy far end: the status line says so and the busy tone is heard.
    void busyFarEndIsShownAndHeard() {
        soundcheck::SinkRecorder sink;
        QVERIFY2(sink.start(), qPrintable(sink.error()));
        auto far = callee("busy.xml");
        const qsizetype from = sink.size();
        dialWithPad("1002");
        QVERIFY2(passes(*far), qPrintable(far->report()));
        QTRY_COMPARE_WITH_TIMEOUT(status(), QStringLiteral("DISCONNECTED busy"), kTimeoutMs);
        QVERIFY(idleArrangement());
        const auto busy = [&] {
            sink.waitForMore(200);
            const QByteArray heard = sink.samples().mid(from);
            return soundcheck::containsTonePair(heard, soundcheck::kRate, 480, 620) &&
                   soundcheck::loudSpans(heard, soundcheck::kRate).size() >= 3;
        };
        QVERIFY2(QTest::qWaitFor(busy, kTimeoutMs),
                 qPrintable(soundcheck::describe(sink.samples().mid(from), soundcheck::kRate,
                                                 {480, 620})));
    }

    // Typed or pasted with the middle button, only digits go into the number box; anything else
    // is refused whole with a warning.
    void numberBoxTakesDigitsOnly() {
        typeIntoNumberBox("12a");
        answeredInputError();
        QCOMPARE(number(), QStringLiteral("12"));

        QLineEdit *const box = ui(m_window).cmbPhoneNo->lineEdit();
        const QPoint end(box->width() - 4, box->height() / 2);
        QGuiApplication::clipboard()->setText("5x", QClipboard::Selection);
        xdo::click(box, end, 2);
        answeredInputError();
        QCOMPARE(number(), QStringLiteral("12"));
        QGuiApplication::clipboard()->setText("55", QClipboard::Selection);
        xdo::click(box, end, 2);
        QTRY_COMPARE(number(), QStringLiteral("1255"));
        QVERIFY(m_messages->read().isEmpty());
    }

    // Keys go as RFC 2833 events whenever the far end's answer has telephone-event, also when it
    // writes its rtpmap without the fmtp line listing the events, and never as SIP INFO then.
    void padKeysDuringACallGoAsTelephoneEvents_data() {
        QTest::addColumn<QString>("scenario");
        QTest::newRow("events listed") << "answer.xml";
        QTest::newRow("rtpmap alone") << "answer-te-no-fmtp.xml";
    }
    void padKeysDuringACallGoAsTelephoneEvents() {
        QFETCH(QString, scenario);
        auto far = callee(scenario);
        SipCapture capture;
        capture.addPort(m_server->port());
        capture.addPort(far->port());
        capture.addPort(far->mediaPort());
        capture.setTelephoneEventPayloadType(101);
        QString error;
        QVERIFY2(capture.start(&error), qPrintable(error));
        dialAndConnect("1002");
        // As fast as a user presses them: each key goes out, in order, though the one before is
        // still being sent.
        clickPad(QStringLiteral("0123456789*#"));
        const QList<int> expected{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11}; // 10 is *, 11 is #
        QCOMPARE(waitFor([&] { return capture.rtpEvents(far->mediaPort()); }, expected), expected);
        QVERIFY2(capture.sipInfoBodies().isEmpty(), qPrintable(capture.sipInfoBodies().join("|")));
        endCall(*far);
    }

    // Two Kirrows: this window calls the program started as a user starts it, whose user answers
    // with its Call button; the keys pressed here reach it as RFC 2833 events, not as SIP INFO.
    void padKeysBetweenTwoKirrowsGoAsTelephoneEvents() {
        QTemporaryDir otherHome;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("XDG_CONFIG_HOME", otherHome.filePath("config"));
        environment.insert("XDG_DATA_HOME", otherHome.filePath("data"));
        QProcess other;
        other.setProcessEnvironment(environment);
        const auto stop = qScopeGuard([&other] {
            other.kill();
            other.waitForFinished();
        });
        startProgramAndLogIn(other, KIRROW_BINARY, m_server->address(), "1003", "kirrow1003");
        QTRY_COMPARE_WITH_TIMEOUT(m_server->contacts("1003").size(), 1, kTimeoutMs);
        QStringList windows;
        QTRY_COMPARE_WITH_TIMEOUT((windows = otherWindows()).size(), 1, kTimeoutMs);
        // Side by side, as a window manager would place a second window: each takes its clicks.
        const QRect here = m_window->frameGeometry();
        const int besideX = here.right() + 10 + here.width() < m_window->screen()->size().width()
                                ? here.right() + 10
                                : std::max(0, here.left() - 10 - here.width());
        xdo::run({"windowmove", "--sync", windows.first(), QString::number(besideX),
                  QString::number(here.top())});
        QVERIFY(!xdo::windowGeometry(windows.first()).intersects(here));

        SipCapture signalling;
        signalling.addPort(m_server->port());
        QString error;
        QVERIFY2(signalling.start(&error), qPrintable(error));
        dialWithPad("1003");
        QVERIFY(QTest::qWaitFor([&] { return signalling.sipResponses().contains("180 INVITE"); },
                                kTimeoutMs));
        clickControlOf(windows.first(), "Picture6"); // Call, in the other Kirrow: answers
        QTRY_VERIFY_WITH_TIMEOUT(connected(), kTimeoutMs);

        // The media ports the two agreed on, from their offer and answer, captured from now on.
        SipCapture media;
        media.addPort(m_server->port());
        for (const SipCapture::SipMessage &message : signalling.sipMessages()) {
            if (message.cseqMethod != QLatin1String("INVITE") || message.body.isEmpty())
                continue;
            const SdpAudio audio = sdpAudio(message.body);
            media.addPort(audio.port);
            media.setTelephoneEventPayloadType(audio.telephoneEvent);
        }
        QVERIFY2(media.filter().count("port") >= 3, qPrintable(media.filter()));
        QVERIFY2(media.start(&error), qPrintable(error));
        clickPad(QStringLiteral("5#"));
        const QList<int> expected{5, 11};
        QCOMPARE(waitFor([&] { return media.rtpEvents(); }, expected), expected);
        QVERIFY2(media.sipInfoBodies().isEmpty(), qPrintable(media.sipInfoBodies().join("|")));
        clickEnd();
        QTRY_COMPARE_WITH_TIMEOUT(status(), QStringLiteral("DISCONNECTED"), kTimeoutMs);
    }

    void padKeysGoAsSipInfoWhenTheFarEndHasNoTelephoneEvents() {
        auto far = callee("answer-no-te.xml");
        SipCapture capture;
        capture.addPort(m_server->port());
        capture.addPort(far->port());
        capture.addPort(far->mediaPort());
        QString error;
        QVERIFY2(capture.start(&error), qPrintable(error));
        dialAndConnect("1002");
        clickPad("5");
        QVERIFY(QTest::qWaitFor([&] { return !capture.sipInfoBodies().isEmpty(); }, kTimeoutMs));
        clickPad("#");
        const auto hash = [&] { return capture.sipInfoBodies().last().contains("Signal=#"); };
        QVERIFY2(QTest::qWaitFor(hash, kTimeoutMs), qPrintable(capture.sipInfoBodies().join("|")));
        QVERIFY2(capture.sipInfoBodies().first().contains("Signal=5"),
                 qPrintable(capture.sipInfoBodies().join("|")));
        QVERIFY(capture.rtpEvents().isEmpty());
        endCall(*far);
    }

    void padKeysSoundHereWithoutACall() {
        soundcheck::SinkRecorder sink;
        QVERIFY2(sink.start(), qPrintable(sink.error()));
        // Whatever an earlier call left playing dies away first.
        const auto quiet = [&sink] {
            sink.waitForMore(100);
            return soundcheck::isSilent(sink.samples().right(soundcheck::kRate / 5),
                                        soundcheck::kRate);
        };
        QTRY_VERIFY_WITH_TIMEOUT(quiet(), kTimeoutMs);
        const auto heard = [this, &sink](QChar key) {
            const qsizetype before = sink.size();
            clickPad(key);
            sink.waitForMore(600);
            return sink.samples().mid(before);
        };
        const QByteArray zero = heard('0');
        const QByteArray star = heard('*');
        QVERIFY2(soundcheck::containsTonePair(zero, soundcheck::kRate, 941, 1336,
                                              {1209, 1477, 697, 770, 852}),
                 qPrintable(soundcheck::describe(zero, soundcheck::kRate, {941, 1336, 1209})));
        QVERIFY2(soundcheck::containsTonePair(star, soundcheck::kRate, 941, 1209,
                                              {1336, 1477, 697, 770, 852}),
                 qPrintable(soundcheck::describe(star, soundcheck::kRate, {941, 1336, 1209})));
    }

    // The ring is heard until Call answers; the caller's number is in the box meanwhile.
    void incomingCallRingsShowsTheCallerAndIsAnswered() {
        soundcheck::SinkRecorder sink;
        QVERIFY2(sink.start(), qPrintable(sink.error()));
        auto far = caller("call-in.xml");
        QTRY_COMPARE_WITH_TIMEOUT(status(), QStringLiteral("INCOMING"), kTimeoutMs);
        // Checked at the end, so the rest of the call is tried even when the box is wrong.
        const QString shownWhileRinging = number();
        hearRinging(sink);
        QTRY_COMPARE(shownNotifications(), 1);
        xdo::click(ui(m_window).Picture6);
        QTRY_VERIFY_WITH_TIMEOUT(connected(), kTimeoutMs);
        QTRY_COMPARE(shownNotifications(), 0);
        QVERIFY(m_states.contains("ANSWERING"));
        QVERIFY2(answeredInvite(far->messages()), qPrintable(far->messages()));
        const qsizetype answered = sink.size();
        QVERIFY(sink.waitForMore(1500));
        const QByteArray after = sink.samples().mid(answered);
        QVERIFY2(!soundcheck::containsTonePair(after, soundcheck::kRate, 400, 450),
                 qPrintable(soundcheck::describe(after, soundcheck::kRate, {400, 450, 480, 620})));
        endCall(*far);
        // The caller saw its call answered, then hung up by the phone.
        QVERIFY2(sees(*far, "^BYE sip:"), qPrintable(far->report()));
        QCOMPARE(shownWhileRinging, QStringLiteral("1003"));
    }

    void endDeclinesARingingCall() {
        soundcheck::SinkRecorder sink;
        QVERIFY2(sink.start(), qPrintable(sink.error()));
        auto far = caller("call-in.xml");
        QTRY_COMPARE_WITH_TIMEOUT(status(), QStringLiteral("INCOMING"), kTimeoutMs);
        hearRinging(sink);
        QVERIFY(ui(m_window).Picture8->isEnabled());
        QTRY_COMPARE(shownNotifications(), 1);
        clickEnd();
        QVERIFY2(sees(*far, "^SIP/2.0 603"), qPrintable(far->report()));
        QTRY_COMPARE_WITH_TIMEOUT(status(), QStringLiteral("DISCONNECTED"), kTimeoutMs);
        QVERIFY(idleArrangement());
        QTRY_COMPARE(shownNotifications(), 0); // declined: not missed
        // The ring stops with the decline.
        const qsizetype declined = sink.size();
        QVERIFY(sink.waitForMore(1500));
        const QByteArray after = sink.samples().mid(declined + soundcheck::kRate / 5);
        QVERIFY2(soundcheck::isSilent(after, soundcheck::kRate),
                 qPrintable(soundcheck::describe(after, soundcheck::kRate, {400, 450, 480, 620})));
        QVERIFY2(passes(*far), qPrintable(far->report()));
        const QStringList log = calls::readRecentCalls(calls::recentLogPath());
        QCOMPARE(log.size(), 1);
        QVERIFY2(log.first().startsWith("1003--Duration: "), qPrintable(log.first()));
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
            xdo::click(ui(m_window).Picture41);
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
        QVERIFY(ui(m_window).Picture6->isEnabled());
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

    void farEndHangingUpEndsTheCall() {
        auto far = callee("answer-hangup.xml");
        dialWithPad("1002");
        QTRY_VERIFY_WITH_TIMEOUT(m_states.contains("CONNECTED"), kTimeoutMs);
        QTRY_COMPARE_WITH_TIMEOUT(status(), QStringLiteral("DISCONNECTED"), kTimeoutMs);
        QVERIFY(idleArrangement());
        QCOMPARE(m_states.count("DISCONNECTED"), 1);
        QVERIFY2(passes(*far), qPrintable(far->report()));
    }

    // A second caller during a call is heard as the waiting tone and named in the status line's
    // tooltip; End ends the call and the waiting caller rings here, Call answers it.
    void waitingCallerRingsWhenTheCallEnds() {
        auto first = callee("answer.xml", QStringLiteral("1002"), 90000, true);
        dialAndConnect("1002");
        soundcheck::SinkRecorder sink;
        QVERIFY2(sink.start(), qPrintable(sink.error()));
        const qsizetype from = sink.size();
        auto second = caller("call-in.xml");
        // Below the status line's own text in its tooltip.
        QTRY_VERIFY_WITH_TIMEOUT(ui(m_window).lblMsg->toolTip().endsWith("\nCall waiting: 1003"),
                                 kTimeoutMs);
        const auto beep = [&] {
            sink.waitForMore(200);
            const QByteArray heard = sink.samples().mid(from);
            const QList<soundcheck::Span> spans = soundcheck::loudSpans(heard, soundcheck::kRate);
            return !spans.isEmpty() &&
                   soundcheck::toneShares(heard, soundcheck::kRate, {440}).first() > 0.8;
        };
        QVERIFY2(QTest::qWaitFor(beep, kTimeoutMs),
                 qPrintable(soundcheck::describe(sink.samples().mid(from), soundcheck::kRate,
                                                 {440, 400, 450})));
        QVERIFY(connected());
        // The waiting caller is kept while they wait, beyond the engine's own 30 s limit.
        QVERIFY(!QTest::qWaitFor(
            [&] { return !ui(m_window).lblMsg->toolTip().contains("Call waiting"); }, 32000));
        const qsizetype ringFrom = sink.size();
        clickEnd();
        QTRY_COMPARE_WITH_TIMEOUT(status(), QStringLiteral("INCOMING"), kTimeoutMs);
        QVERIFY2(passes(*first), qPrintable(first->report()));
        QCOMPARE(number(), QStringLiteral("1003"));
        QCOMPARE(ui(m_window).lblMsg->toolTip(), QStringLiteral("INCOMING"));
        const auto ringing = [&] {
            sink.waitForMore(200);
            return soundcheck::containsTonePair(sink.samples().mid(ringFrom), soundcheck::kRate,
                                                400, 450);
        };
        QVERIFY2(QTest::qWaitFor(ringing, kTimeoutMs),
                 qPrintable(soundcheck::describe(sink.samples().mid(ringFrom), soundcheck::kRate,
                                                 {400, 450, 440})));
        xdo::click(ui(m_window).Picture6);
        QTRY_VERIFY_WITH_TIMEOUT(connected(), kTimeoutMs);
        QVERIFY2(answeredInvite(second->messages()), qPrintable(second->messages()));
        endCall(*second);
    }

    // A second caller rings at its own end only and gives up; the call goes on and End still
    // ends it. The caller who gave up is a missed call in the log.
    void secondCallerGivingUpLeavesTheCallGoing() {
        auto far = callee("answer.xml");
        dialAndConnect("1002");
        soundcheck::SinkRecorder sink;
        QVERIFY2(sink.start(), qPrintable(sink.error()));
        secondCallerGivesUp();
        QVERIFY(!soundcheck::containsTonePair(sink.samples(), soundcheck::kRate, 400, 450));
        // The clock goes on counting after the caller gave up.
        const int cancelledAt = connectedSeconds();
        QTRY_VERIFY_WITH_TIMEOUT(connectedSeconds() >= std::max(cancelledAt, 0) + 2, kTimeoutMs);
        QVERIFY2(!m_states.contains("DISCONNECTED"), qPrintable(m_states.join(", ")));
        QVERIFY(ui(m_window).Picture8->isEnabled());
        endCall(*far);
        QVERIFY2(sees(*far, "^BYE sip:"), qPrintable(far->report()));
        const QStringList log = calls::readRecentCalls(calls::recentLogPath());
        QCOMPARE(log.size(), 2);
        QCOMPARE(log.last(), QStringLiteral("1003--Duration: 0:0:0"));
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

    // During a call the pointer is not Kirrow's alone: another program's button takes a click.
    void otherProgramsTakeClicksDuringACall() {
        auto far = callee("answer.xml");
        dialAndConnect("1002");
        const QString title =
            QStringLiteral("kirrow-e2e-%1").arg(QCoreApplication::applicationPid());
        QProcess other;
        other.start("timeout",
                    {"60", "xmessage", "-title", title, "-buttons", "ok:0", "-center", "hello"});
        QVERIFY2(other.waitForStarted(), qPrintable(other.errorString()));
        const auto closeOther = qScopeGuard([&other] {
            other.terminate(); // `timeout` hands it on to xmessage
            other.waitForFinished(5000);
        });
        const QString window =
            xdo::run({"search", "--sync", "--onlyvisible", "--name", "^" + title + "$"})
                .section('\n', 0, 0);
        const std::optional<QPoint> button = lowestWindowCentre(window);
        QVERIFY2(button, qPrintable("no button in window " + window));
        xdo::clickAt(*button);
        QTRY_COMPARE_WITH_TIMEOUT(other.state(), QProcess::NotRunning, kTimeoutMs);
        QCOMPARE(other.exitCode(), 0);
        QVERIFY(connected());
        endCall(*far);
        QVERIFY2(sees(*far, "^BYE sip:"), qPrintable(far->report()));
    }

    // Without a device chosen in the wizard, calls play on the desktop's default output and
    // record from its default input, and the ring plays there, whichever they are at the time: a
    // headset made the default takes the next call, and the call after goes back with the default.
    void callsAndRingFollowTheDesktopsDefaultDevices() {
        const QString speakers = soundcheck::defaultSink();
        const QString microphone = soundcheck::defaultSource();
        soundcheck::PulseModule headset(
            "module-null-sink",
            {"sink_name=kirrow_headset", "sink_properties=device.description=Headset"});
        soundcheck::PulseModule headsetMic(
            "module-null-source", {"source_name=kirrow_headset_mic", "description=Headset"});
        QVERIFY2(headset.isLoaded() && headsetMic.isLoaded(),
                 qPrintable(headset.error() + headsetMic.error()));
        const auto restore = qScopeGuard([&] { soundcheck::setDefaults(speakers, microphone); });
        const auto callUses = [this](const QString &output, const QString &input) {
            auto far = callee("answer.xml", "1004");
            typeIntoNumberBox(QString()); // the last call's number, rubbed out
            xdo::key(QStringList{"End"} + QStringList(number().size(), "BackSpace"));
            QTRY_COMPARE(number(), QString());
            dialAndConnect("1004");
            const QStringList played =
                waitFor([] { return soundcheck::playedSinks(); }, QStringList{output});
            const QStringList recorded =
                waitFor([] { return soundcheck::recordedSources(); }, QStringList{input});
            endCall(*far);
            QCOMPARE(played, QStringList{output});
            QCOMPARE(recorded, QStringList{input});
        };
        QVERIFY(soundcheck::setDefaults("kirrow_headset", "kirrow_headset_mic"));
        callUses("kirrow_headset", "kirrow_headset_mic");
        QVERIFY(!QTest::currentTestFailed() && soundcheck::setDefaults(speakers, microphone));
        callUses(speakers, microphone);
        QVERIFY(!QTest::currentTestFailed());

        QVERIFY(soundcheck::setDefaults("kirrow_headset", microphone));
        auto ringing = caller("call-in-cancel.xml", 3000);
        QTRY_COMPARE_WITH_TIMEOUT(status(), QStringLiteral("INCOMING"), kTimeoutMs);
        QCOMPARE(waitFor([] { return soundcheck::playedSinks(); }, QStringList{"kirrow_headset"}),
                 QStringList{"kirrow_headset"});
        QVERIFY2(passes(*ringing), qPrintable(ringing->report()));
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

    // "Tuning Wizard" in the settings menu opens the same wizard; its test sound is heard.
    void settingsMenuOpensTheTuningWizard() {
        soundcheck::SinkRecorder sink;
        QVERIFY2(sink.start(), qPrintable(sink.error()));
        const auto openFromTheMenu = [this] {
            xdo::focusWindow(m_window.get());
            xdo::click(ui(m_window).lblMsg, std::nullopt, 3);
            QTRY_VERIFY(ui(m_window).mnuSettings->isVisible());
            xdo::click(ui(m_window).mnuSettings,
                       ui(m_window).mnuSettings->actionGeometry(ui(m_window).mnuVOICE).center());
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
