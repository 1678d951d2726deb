#include "filebytes.h"
#include "fixtures.h"
#include "kamailioserver.h"
#include "kirrowprogram.h"
#include "sipcapture.h"
#include "sipppeer.h"
#include "soundcheck.h"
#include "testdesktop.h"
#include "xdo.h"

#include <QClipboard>
#include <QDateTime>
#include <QGuiApplication>
#include <QProcess>
#include <QRasterWindow>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QScreen>
#include <QSettings>
#include <QTimer>
#include <QtTest>

#include <algorithm>
#include <cmath>
#include <numbers>

namespace {

constexpr int kTimeoutMs = 20000;

const QString kButton = QStringLiteral("push button");
const QString kInputError = QStringLiteral("Numbers 0 to 9 only, please!");

// Whether the peer's message trace has a line matching pattern, waiting for it with the test's
// events running.
bool sees(const SippPeer &peer, const QString &pattern) {
    const QRegularExpression line(pattern, QRegularExpression::MultilineOption);
    return QTest::qWaitFor([&] { return peer.messages().contains(line); }, kTimeoutMs);
}

// Whether the peer ends having played its scenario through.
bool passes(const SippPeer &peer) {
    return QTest::qWaitFor([&] { return !peer.isRunning(); }, kTimeoutMs) && peer.exitCode() == 0;
}

// Waits until query() gives expected, for ms of real time; returns what it gave last.
template <class Query>
auto waitFor(Query query, const decltype(query()) &expected, int ms = kTimeoutMs) {
    auto last = query();
    static_cast<void>(QTest::qWaitFor([&] { return (last = query()) == expected; }, ms));
    return last;
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

// The desktop's notifications as its notification server (dunst) has them: how many it shows.
int shownNotifications() {
    QProcess dunstctl;
    dunstctl.start(QStringLiteral("dunstctl"),
                   {QStringLiteral("count"), QStringLiteral("displayed")});
    dunstctl.waitForFinished(kTimeoutMs);
    bool number = false;
    const int shown = dunstctl.readAllStandardOutput().trimmed().toInt(&number);
    return number ? shown : -1;
}

// The INVITEs a capture saw, by their request line up to the '@'.
QStringList invitedLines(const SipCapture &capture) {
    QStringList lines;
    for (const SipCapture::SipMessage &message : capture.sipMessages())
        if (message.method == QLatin1String("INVITE"))
            lines << message.startLine.section('@', 0, 0);
    lines.removeDuplicates();
    return lines;
}

// Waits until the sink has played the two frequencies together, and says what it played
// instead when it has not.
void hearTonePair(soundcheck::SinkRecorder &sink, double low, double high) {
    const qsizetype from = sink.size();
    const auto heard = [&] {
        sink.waitForMore(200);
        return soundcheck::containsTonePair(sink.samples().mid(from), soundcheck::kRate, low, high);
    };
    QVERIFY2(
        QTest::qWaitFor(heard, kTimeoutMs),
        qPrintable(soundcheck::describe(sink.samples().mid(from), soundcheck::kRate, {low, high})));
}

// The sink stays silent (past a fifth of a second for what was under way) for 1.5 s.
void hearSilenceAfter(soundcheck::SinkRecorder &sink, const QList<double> &tones) {
    const qsizetype from = sink.size();
    QVERIFY(sink.waitForMore(1500));
    const QByteArray after = sink.samples().mid(from + soundcheck::kRate / 5);
    QVERIFY2(soundcheck::isSilent(after, soundcheck::kRate),
             qPrintable(soundcheck::describe(after, soundcheck::kRate, tones)));
}

// Hears the ring of an incoming call for a while.
void hearRinging(soundcheck::SinkRecorder &sink) {
    const qsizetype ringing = sink.size();
    QVERIFY(sink.waitForMore(1500));
    const QByteArray ring = sink.samples().mid(ringing);
    QVERIFY2(soundcheck::containsTonePair(ring, soundcheck::kRate, 400, 450),
             qPrintable(soundcheck::describe(ring, soundcheck::kRate, {400, 450})));
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

// The test desktop's sound server goes away ("stop-sound"), comes back as it was started
// ("start-sound"), or both ("restart-sound"), as a desktop's sound server restarts.
bool soundServer(const QString &what) {
    QProcess script;
    script.setProcessChannelMode(QProcess::ForwardedChannels);
    script.start(QStringLiteral(KIRROW_TEST_ENV),
                 {what + QStringLiteral("-sound"), qEnvironmentVariable("KIRROW_TEST_DESKTOP")});
    return script.waitForFinished(kTimeoutMs) && script.exitStatus() == QProcess::NormalExit &&
           script.exitCode() == 0;
}

// The sound packets of a call from one port to another over the last two seconds, per second: a
// stream of 20 ms packets sends 50.
double packetRate(const SipCapture &capture, quint16 from, quint16 to) {
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    const QList<qint64> times = capture.datagramTimes(from, to);
    return std::count_if(times.cbegin(), times.cend(),
                         [now](qint64 time) { return time > now - 2000 && time <= now; }) /
           2.0;
}

} // namespace

// Calls as a user makes them with the program itself: logged in through its dialog to a private
// kamailio exchange, sipp as the far end; its dial pad, number box and Call / End buttons worked
// with xdotool where a screen reader says they stand, and what it does read from its status line
// and buttons as a screen reader reads them, from the far end, the exchange's wire, the sound
// server and the desktop's notifications.
class TestCallsProgram : public QObject {
    Q_OBJECT
    std::unique_ptr<KamailioServer> m_server;
    std::unique_ptr<KirrowProgram> m_kirrow;
    atspi::Node m_status;
    atspi::Node m_number;
    QTimer m_watch;
    // The status line's texts in turn as it changed, the call's clock left out.
    QStringList m_states;
    // The callees' contacts registered in this case, removed after it: the exchange would fork
    // later calls to them too, and takes ten contacts an account at most.
    QList<QPair<QString, quint16>> m_contacts;

    QString status() { return m_status.name(); }
    QString number() { return m_number.text(); }
    atspi::Node button(const QString &name) { return m_kirrow->control(name, kButton); }

    // The connected call's clock in seconds, as the status line shows it; -1 when not connected.
    int connectedSeconds() {
        static const QRegularExpression clock("^CONNECTED (\\d+):(\\d+):(\\d+)$");
        const QRegularExpressionMatch m = clock.match(status());
        if (!m.hasMatch())
            return -1;
        return (m.captured(1).toInt() * 60 + m.captured(2).toInt()) * 60 + m.captured(3).toInt();
    }
    bool connected() { return status().startsWith(QLatin1String("CONNECTED")); }

    // Waits until the call's sound goes both ways at the full rate (sipp sends back what it
    // hears), and says what the rates were when it does not.
    void soundFlowsBothWays(const SipCapture &capture, quint16 farMedia) {
        constexpr double kFullRate = 45; // of 50 packets a second, some leeway for the start
        double out = 0;
        double back = 0;
        const bool full = QTest::qWaitFor(
            [&] {
                out = packetRate(capture, 0, farMedia);
                back = packetRate(capture, farMedia, 0);
                return out >= kFullRate && back >= kFullRate;
            },
            kTimeoutMs);
        QVERIFY2(full, qPrintable(QStringLiteral("%1 packets/s out, %2 back; %3")
                                      .arg(out)
                                      .arg(back)
                                      .arg(m_states.join(", "))));
    }

    bool idleArrangement() {
        return button("Call").enabled() && !button("End Call").enabled() && m_number.enabled();
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
                                     int lifetimeMs = 60000, bool talks = false, int pauseMs = -1) {
        SippPeer::Options answering;
        answering.scenario = scenario;
        answering.pauseMs = pauseMs;
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
        registerSippContact(m_server->address(), account, "kirrow" + account, port, expires);
    }

    // sipp calling the program's account 1001 as 1003; pauseMs is how long call-in-cancel.xml
    // rings; a caller that talks sends back the sound it hears.
    std::unique_ptr<SippPeer> caller(const QString &scenario, int pauseMs = -1,
                                     bool talks = false) {
        SippPeer::Options calling;
        calling.rtpEcho = talks;
        calling.scenario = scenario;
        calling.remote = m_server->address();
        calling.service = "1001";
        calling.authUser = "1003";
        calling.authPassword = "kirrow1003";
        calling.keys = {{"caller", "1003"}};
        calling.pauseMs = pauseMs;
        return startPeer(calling);
    }

    // Clicks the dial pad's keys one by one, each seen in the number box before the next.
    void clickPad(const QString &keys) {
        for (QChar key : keys) {
            const QString before = number();
            m_kirrow->click(key, kButton);
            QTRY_COMPARE(number(), before + key);
        }
    }
    void dialWithPad(const QString &digits) {
        clickPad(digits);
        m_kirrow->click("Call", kButton);
    }
    void dialAndConnect(const QString &digits) {
        dialWithPad(digits);
        QTRY_VERIFY2_WITH_TIMEOUT(connected(), qPrintable(number() + ": " + m_states.join(", ")),
                                  kTimeoutMs);
    }
    void clickEnd() { m_kirrow->click("End Call", kButton); }

    // Clicks End, and waits until the call has ended here and the far end has played its part.
    void endCall(const SippPeer &far) {
        clickEnd();
        QTRY_COMPARE_WITH_TIMEOUT(status(), QStringLiteral("DISCONNECTED"), kTimeoutMs);
        QVERIFY2(passes(far), qPrintable(far.report()));
    }

    // Clicks into the number box and types there.
    void typeIntoNumberBox(const QString &text) {
        m_kirrow->click(m_number);
        QTRY_VERIFY(m_number.focused());
        xdo::type(text);
    }

    // A second caller rings for two seconds while the program holds a call, and gives up; the
    // program shows nothing of it.
    void secondCallerGivesUp() {
        auto second = caller("call-in-cancel.xml", 2000);
        QVERIFY2(passes(*second), qPrintable(second->report()));
        QVERIFY2(!m_states.contains("INCOMING") && !m_states.contains("DISCONNECTED"),
                 qPrintable(m_states.join(", ")));
    }

    // Starts the program (again, with the same folders) and logs in as 1001.
    void startRegistered() {
        m_kirrow->startRegistered(m_server->address(), "1001", "kirrow1001");
        m_status = m_kirrow->control(QString(), QStringLiteral("status bar"));
        m_number = m_kirrow->control("Kirrow", "Number", "text");
        m_states.clear();
        m_watch.start(20);
    }
    // Closes the program as a user does and starts it again.
    void restart() {
        m_watch.stop();
        m_kirrow->close();
        startRegistered();
    }

    // Where the phone takes SIP messages: the address it registered ("127.0.0.1:port").
    QString phoneAddress() {
        const QString contact = m_server->contacts("1001").value(0).uri;
        const QString address = contact.mid(contact.indexOf('@') + 1).section(';', 0, 0);
        if (!address.startsWith("127.0.0.1:"))
            qWarning("the phone registered %s", qPrintable(contact));
        return address;
    }

    QStringList recentCalls() {
        return QString::fromUtf8(readBytes(m_kirrow->dataFile("recentcall.txt")))
            .split(QRegularExpression("[\r\n]+"), Qt::SkipEmptyParts);
    }

    // The tuning wizard, once it shows.
    atspi::Node wizard() { return m_kirrow->window(QStringLiteral("Audio Tuning Wizard")); }
    void clickWizardButton(const QString &name) {
        m_kirrow->click(atspi::find(wizard(), name, kButton));
    }
    // Whether a text in the wizard shows that holds text.
    bool wizardShows(const QString &text) {
        return !atspi::findAll(wizard(), [&](const atspi::Node &node) {
                    return node.role() == QLatin1String("label") && node.name().contains(text);
                }).isEmpty();
    }
    // Opens it with the audio button and waits for it.
    void openWizard() {
        m_kirrow->click("Audio Wizard", kButton);
        QTRY_VERIFY_WITH_TIMEOUT(!wizard().isNull(), kTimeoutMs);
    }
    // Goes on to the wizard's page that shows a text holding title.
    void nextWizardPage(const QString &title) {
        clickWizardButton(QStringLiteral("Next >"));
        QTRY_VERIFY2(wizardShows(title), qPrintable(atspi::outline(wizard())));
    }
    void cancelWizard() {
        clickWizardButton(QStringLiteral("Cancel"));
        QTRY_VERIFY(wizard().isNull());
    }
    // Chooses the microphone of the calls in the wizard: its list opened with a click, the entry
    // found by typing its name, taken with Return.
    void chooseMicrophone(const QString &name) {
        openWizard();
        nextWizardPage(QStringLiteral("Microphone"));
        const int windows = xdo::visibleWindows(QString()).size();
        m_kirrow->click(atspi::find(wizard(), QString(), QStringLiteral("combo box")));
        QTRY_COMPARE(xdo::visibleWindows(QString()).size(), windows + 1);
        xdo::type(name);
        xdo::key({"Return"});
        nextWizardPage(QStringLiteral("Microphone: ") + name);
        clickWizardButton(QStringLiteral("Finish"));
        QTRY_VERIFY(wizard().isNull());
    }

    // Notes the status line's text whenever it changes, as someone watching it would.
    void watchStatus() {
        static const QRegularExpression clock(" \\d+:\\d+:\\d+$");
        QString now = status();
        now.remove(clock);
        if (!now.isEmpty() && (m_states.isEmpty() || m_states.last() != now))
            m_states << now;
    }

private slots:
    void initTestCase() {
        REQUIRE_TEST_DESKTOP();
        QVERIFY2(QGuiApplication::platformName() == QLatin1String("xcb"),
                 "needs a real X server (scripts/test-env starts one)");
        m_server = std::make_unique<KamailioServer>(
            QList<KamailioServer::Account>{{"1001", "kirrow1001"},
                                           {"1002", "kirrow1002"},
                                           {"1003", "kirrow1003"},
                                           {"1004", "kirrow1004"},
                                           {"1002003004", "kirrow1002003004"}});
        QString error;
        QVERIFY2(m_server->start(&error), qPrintable(error));
        connect(&m_watch, &QTimer::timeout, this, &TestCallsProgram::watchStatus);
    }

    // The program started afresh for every case, so a call one case leaves behind cannot reach
    // the next.
    void init() {
        QProcess::execute(QStringLiteral("dunstctl"), {QStringLiteral("close-all")});
        m_kirrow = std::make_unique<KirrowProgram>(QStringLiteral(KIRROW_BINARY));
        startRegistered();
    }

    void cleanup() {
        m_watch.stop();
        // Every case answers the message boxes it expects; any other is a fault of its own.
        // A case may have ended the program itself.
        const bool running = m_kirrow->process().state() == QProcess::Running;
        const QStringList windows = running ? m_kirrow->windows() : QStringList{"Kirrow"};
        if (running)
            m_kirrow->close();
        // What the program logged tells why a case failed.
        if (QTest::currentTestFailed())
            qWarning("%s", readBytes(m_kirrow->logFile()).right(4000).constData());
        m_kirrow.reset();
        for (const auto &[account, port] : std::exchange(m_contacts, {}))
            registerContact(account, port, 0);
        QCOMPARE(windows, QStringList{"Kirrow"});
    }

    // Call is greyed out by the call it placed and End takes the click that hangs up. The call
    // goes on top of a log edited by hand to seven lines, which keeps five, and the log,
    // rewritten, is the user's alone.
    void dialPadAndCallConnectThenEndHangsUp() {
        const QString logPath = m_kirrow->dataFile("recentcall.txt");
        QVERIFY(writeBytes(logPath, "1--Duration: 0:0:1\r\n2\r\n3\r\n4\r\n5\r\n6\r\n7\r\n"));
        QVERIFY(QFile::setPermissions(logPath, QFile::ReadOwner | QFile::WriteOwner |
                                                   QFile::ReadGroup | QFile::ReadOther));
        auto far = callee("answer.xml");
        dialWithPad("1002");
        QVERIFY2(sees(*far, "^INVITE sip:1002@"), qPrintable(far->report()));
        QTRY_VERIFY_WITH_TIMEOUT(connectedSeconds() >= 1, kTimeoutMs);
        QCOMPARE(m_states.count("CONNECTED"), 1);
        QVERIFY(!button("Call").enabled());
        QVERIFY(button("End Call").enabled());
        endCall(*far);
        QVERIFY2(sees(*far, "^BYE sip:"), qPrintable(far->report()));
        QVERIFY(idleArrangement());
        const QStringList log = recentCalls();
        QCOMPARE(log.size(), 5);
        QVERIFY2(
            QRegularExpression("^1002--Duration: 0:0:[1-9]\\d*$").match(log.first()).hasMatch(),
            qPrintable(log.first()));
        QCOMPARE(log.at(1), QStringLiteral("1--Duration: 0:0:1"));
        QCOMPARE(modeOf(logPath), 0600);
        QCOMPARE(modeOf(QFileInfo(logPath).path()), 0700);
    }

    void farEndHangingUpEndsTheCall() {
        // Long enough connected for the status line to show it.
        auto far = callee("answer-hangup.xml", "1002", 60000, false, 1500);
        dialWithPad("1002");
        QTRY_VERIFY_WITH_TIMEOUT(connected(), kTimeoutMs);
        QTRY_COMPARE_WITH_TIMEOUT(status(), QStringLiteral("DISCONNECTED"), kTimeoutMs);
        QVERIFY(idleArrangement());
        QCOMPARE(m_states.count("DISCONNECTED"), 1);
        QVERIFY2(passes(*far), qPrintable(far->report()));
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
        QCOMPARE(invitedLines(capture), QStringList{"INVITE sip:1002003004"});
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
        m_kirrow->click("Call", kButton);
        QCOMPARE(waitFor([&] { return invitedLines(capture); }, QStringList{"INVITE sip:*21%23"}),
                 QStringList{"INVITE sip:*21%23"});
        // The exchange has no such number, and says so (404).
        QTRY_COMPARE_WITH_TIMEOUT(status(), QStringLiteral("DISCONNECTED no such number"),
                                  kTimeoutMs);
        QVERIFY2(!m_states.join(' ').contains("Error"), qPrintable(m_states.join(", ")));
    }

    // Typed or pasted with the middle button, only digits go into the number box; anything else
    // is refused whole with a warning.
    void numberBoxTakesDigitsOnly() {
        typeIntoNumberBox("12a");
        m_kirrow->answerMessage(kInputError);
        QCOMPARE(number(), QStringLiteral("12"));
        QGuiApplication::clipboard()->setText("5x", QClipboard::Selection);
        m_kirrow->click(m_number, 2);
        m_kirrow->answerMessage(kInputError);
        QCOMPARE(number(), QStringLiteral("12"));
        QGuiApplication::clipboard()->setText("55", QClipboard::Selection);
        m_kirrow->click(m_number, 2);
        QTRY_COMPARE(number(), QStringLiteral("1255"));
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
        hearSilenceAfter(sink, {440, 480});
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
        QVERIFY2(QTest::qWaitFor([&] { return !capture.sipInfoBodies().isEmpty(); }, kTimeoutMs),
                 qPrintable(capture.sipMethods().join(',') + " events " +
                            QString::number(capture.rtpEvents().size()) + " status " + status() +
                            ' ' + capture.lastError()));
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
        m_kirrow->click("Call", kButton);
        QTRY_VERIFY_WITH_TIMEOUT(connected(), kTimeoutMs);
        QTRY_COMPARE(shownNotifications(), 0);
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
        QVERIFY(button("End Call").enabled());
        QTRY_COMPARE(shownNotifications(), 1);
        clickEnd();
        QVERIFY2(sees(*far, "^SIP/2.0 603"), qPrintable(far->report()));
        QTRY_COMPARE_WITH_TIMEOUT(status(), QStringLiteral("DISCONNECTED"), kTimeoutMs);
        QVERIFY(idleArrangement());
        QTRY_COMPARE(shownNotifications(), 0); // declined: not missed
        // The ring stops with the decline.
        hearSilenceAfter(sink, {400, 450, 480, 620});
        QVERIFY2(passes(*far), qPrintable(far->report()));
        const QStringList log = recentCalls();
        QCOMPARE(log.size(), 1);
        QVERIFY2(log.first().startsWith("1003--Duration: "), qPrintable(log.first()));
    }

    void callerGivingUpEndsTheRinging() {
        auto far = caller("call-in-cancel.xml", 2000);
        QTRY_COMPARE_WITH_TIMEOUT(status(), QStringLiteral("INCOMING"), kTimeoutMs);
        QTRY_COMPARE_WITH_TIMEOUT(status(), QStringLiteral("DISCONNECTED"), kTimeoutMs);
        QVERIFY(idleArrangement());
        QVERIFY2(passes(*far), qPrintable(far->report()));
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
        QVERIFY(button("End Call").enabled());
        endCall(*far);
        QVERIFY2(sees(*far, "^BYE sip:"), qPrintable(far->report()));
        const QStringList log = recentCalls();
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
    // A far end that rings with a sound of its own (183 with an answer, then RTP) is heard
    // instead of the ringback.
    void farEndsEarlyMediaIsHeard() {
        QTemporaryDir dir;
        QByteArray sound; // 700 and 1100 Hz together, 2 s, as 8 kHz mu-law
        for (int n = 0; n < 16000; ++n)
            sound += muLaw(qint16(8000 * (std::sin(2 * std::numbers::pi * 700 * n / 8000.0) +
                                          std::sin(2 * std::numbers::pi * 1100 * n / 8000.0))));
        const QString soundFile = dir.filePath("early.ulaw");
        QVERIFY(writeBytes(soundFile, sound));
        const QString scenario = dir.filePath("early-media.xml");
        QVERIFY(writeBytes(scenario, readBytes(testFixturePath("sipp/early-media.xml.in"))
                                         .replace("@SOUND@", soundFile.toUtf8())));

        soundcheck::SinkRecorder sink;
        QVERIFY2(sink.start(), qPrintable(sink.error()));
        auto far = callee(scenario);
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

    // A second caller during a call is heard as the waiting tone and named in the status line's
    // tooltip; End ends the call and the waiting caller rings here, Call answers it.
    void waitingCallerRingsWhenTheCallEnds() {
        auto first = callee("answer.xml", QStringLiteral("1002"), 90000, true);
        dialAndConnect("1002");
        soundcheck::SinkRecorder sink;
        QVERIFY2(sink.start(), qPrintable(sink.error()));
        const qsizetype from = sink.size();
        auto second = caller("call-in.xml");
        // Below the status line's own text in its tooltip, which a screen reader reads as its
        // description.
        QTRY_VERIFY_WITH_TIMEOUT(m_status.description().endsWith("\nCall waiting: 1003"),
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
        QVERIFY(!QTest::qWaitFor([&] { return !m_status.description().contains("Call waiting"); },
                                 32000));
        const qsizetype ringFrom = sink.size();
        clickEnd();
        QTRY_COMPARE_WITH_TIMEOUT(status(), QStringLiteral("INCOMING"), kTimeoutMs);
        QVERIFY2(passes(*first), qPrintable(first->report()));
        QCOMPARE(number(), QStringLiteral("1003"));
        QCOMPARE(m_status.description(), QStringLiteral("INCOMING"));
        const auto ringing = [&] {
            sink.waitForMore(200);
            return soundcheck::containsTonePair(sink.samples().mid(ringFrom), soundcheck::kRate,
                                                400, 450);
        };
        QVERIFY2(QTest::qWaitFor(ringing, kTimeoutMs),
                 qPrintable(soundcheck::describe(sink.samples().mid(ringFrom), soundcheck::kRate,
                                                 {400, 450, 440})));
        m_kirrow->click("Call", kButton);
        QTRY_VERIFY_WITH_TIMEOUT(connected(), kTimeoutMs);
        QVERIFY2(answeredInvite(second->messages()), qPrintable(second->messages()));
        endCall(*second);
    }

    // During a call the pointer is not the program's alone: another program's button takes a
    // click.
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
    // The display lost in a call (the X server gone, or the program's connection to it cut, as
    // xkill does): the call ends with a BYE and is logged, and the registration is taken back,
    // as through the close button.
    void losingTheDisplayEndsTheCallAsTheCloseButton() {
        auto far = callee("answer.xml");
        dialAndConnect("1002");
        QCOMPARE(QProcess::execute("xkill", {"-id", m_kirrow->mainWindow()}), 0);
        QVERIFY(m_kirrow->process().waitForFinished(kTimeoutMs));
        QCOMPARE(m_kirrow->process().exitStatus(), QProcess::NormalExit);
        QVERIFY2(passes(*far) && sees(*far, "^BYE sip:"), qPrintable(far->report()));
        QVERIFY2(recentCalls().value(0).startsWith("1002--Duration: "),
                 qPrintable(recentCalls().join(" | ")));
        QTRY_VERIFY_WITH_TIMEOUT(m_server->contacts("1001").isEmpty(), kTimeoutMs);
    }

    // Anyone who can reach the phone's SIP port could ring it with any caller number: while it
    // is registered through the exchange, a call sent to it straight is refused (403), and
    // nothing rings; calls through the exchange still do.
    void directCallFromAStrangerIsRefused() {
        SippPeer stranger({.scenario = "direct-call-refused.xml", .remote = phoneAddress()});
        QString error;
        QVERIFY2(stranger.start(&error), qPrintable(error));
        QVERIFY2(passes(stranger), qPrintable(stranger.report()));
        QVERIFY2(!m_states.contains("INCOMING"), qPrintable(m_states.join(", ")));
        auto ringing = caller("call-in-cancel.xml", 1000);
        QTRY_COMPARE_WITH_TIMEOUT(status(), QStringLiteral("INCOMING"), kTimeoutMs);
        QVERIFY2(passes(*ringing), qPrintable(ringing->report()));
    }

    // Callers by the thousand, sent straight to the phone's SIP port where the user allows
    // direct calls (each rings or is turned away busy, and gives up), leave nothing behind: the
    // program's memory stops growing once it has seen the first thousand.
    void floodOfCallersLeavesNothingBehind() {
        m_watch.stop();
        m_kirrow->close();
        QVERIFY(writeBytes(m_kirrow->settingsFile(), readBytes(m_kirrow->settingsFile()) +
                                                         "\n[Connection]\nDirectCalls=true\n"));
        startRegistered();
        const QString target = phoneAddress();
        const auto flood = [&] {
            SippPeer callers({.scenario = "invite-flood.xml",
                              .remote = target,
                              .calls = 1000,
                              .extraArguments = {"-r", "200"}});
            QString error;
            QVERIFY2(callers.start(&error), qPrintable(error));
            QVERIFY2(callers.waitForExit(60000), qPrintable(callers.report()));
        };
        const auto residentKiB = [this] {
            const QByteArray status =
                readBytes(QStringLiteral("/proc/%1/status").arg(m_kirrow->pid()));
            const qsizetype at = status.indexOf("VmRSS:");
            return status.mid(at + 6, status.indexOf('\n', at) - at - 6)
                .trimmed()
                .split(' ')[0]
                .toLongLong();
        };
        flood();
        const qint64 afterFirst = residentKiB();
        flood();
#ifdef __SANITIZE_ADDRESS__
        QSKIP("flooded twice without fault; the sanitizer's allocator holds freed memory back, "
              "so the growth means nothing here");
#endif
        const qint64 growth = residentKiB() - afterFirst;
        // It grew by about 4,500 KiB a thousand when the engine kept every caller's record.
        QVERIFY2(growth < 1536, qPrintable(QString::number(growth) + " KiB"));
    }

    // Two programs: this one calls another, started as a user starts it, whose user answers with
    // its Call button; the keys pressed here reach it as RFC 2833 events, not as SIP INFO.
    void padKeysBetweenTwoKirrowsGoAsTelephoneEvents() {
        // Unencrypted calls: the capture reads the events in the packets, which SRTP would hide.
        KirrowProgram other(QStringLiteral(KIRROW_BINARY));
        for (KirrowProgram *program : {m_kirrow.get(), &other})
            QSettings(program->settingsFile(), QSettings::IniFormat)
                .setValue("Connection/Encryption", "Off");
        restart();
        other.startAndLogIn(m_server->address(), "1003", "kirrow1003");
        QTRY_COMPARE_WITH_TIMEOUT(m_server->contacts("1003").size(), 1, kTimeoutMs);
        // Side by side, as a window manager would place a second window: each takes its clicks.
        const QRect here = xdo::windowGeometry(m_kirrow->mainWindow());
        const QString otherWindow = other.mainWindow();
        const int besideX =
            here.right() + 10 + here.width() < QGuiApplication::primaryScreen()->size().width()
                ? here.right() + 10
                : std::max(0, here.left() - 10 - here.width());
        xdo::run({"windowmove", "--sync", otherWindow, QString::number(besideX),
                  QString::number(here.top())});
        QVERIFY(!xdo::windowGeometry(otherWindow).intersects(here));

        SipCapture signalling;
        signalling.addPort(m_server->port());
        QString error;
        QVERIFY2(signalling.start(&error), qPrintable(error));
        dialWithPad("1003");
        QVERIFY(QTest::qWaitFor([&] { return signalling.sipResponses().contains("180 INVITE"); },
                                kTimeoutMs));
        other.click("Call", kButton); // answers
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
        QTRY_COMPARE_WITH_TIMEOUT(other.statusLine(), QStringLiteral("DISCONNECTED"), kTimeoutMs);
        other.close();
    }
    // A call that rings while the phone is out of sight, in the tray or minimised, brings the
    // window to the front with the caller shown, so it can be answered; the tray icon rings
    // while it is there and names the caller when the pointer rests on it, and the desktop's
    // notification server names the caller. The caller gives up: the icon goes with the
    // ringing, and "Missed call from 1003" stays.
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
        const QString id = m_kirrow->mainWindow();
        QTRY_COMPARE_WITH_TIMEOUT(xdo::managedState(id), QStringLiteral("Normal"), kTimeoutMs);
        const QRect place = xdo::windowGeometry(id);
        std::optional<xdo::TrayIcon> icon;
        if (inTray) {
            m_kirrow->click("Hide to Tray", kButton);
            QTRY_COMPARE(xdo::trayIcons().size(), 1);
            icon = xdo::trayIcons().first();
        } else {
            xdo::run({"windowminimize", "--sync", id});
            QTRY_COMPARE(xdo::managedState(id), QStringLiteral("Iconic"));
        }
        QTRY_VERIFY(!xdo::isViewable(id));
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
        QRasterWindow cover;
        cover.setGeometry(place);
        cover.show();
        QVERIFY(QTest::qWaitForWindowExposed(&cover));
        NotificationWatch notifications;

        auto far = caller("call-in-cancel.xml", 8000);
        QTRY_COMPARE_WITH_TIMEOUT(status(), QStringLiteral("INCOMING"), kTimeoutMs);
        QTRY_VERIFY(xdo::isViewable(id));
        QTRY_COMPARE(xdo::managedState(id), QStringLiteral("Normal"));
        const auto inFront = [&id, &cover] {
            const QList<WId> order = xdo::stackingOrder();
            return order.indexOf(WId(id.toULongLong())) > order.indexOf(cover.winId());
        };
        QTRY_VERIFY(inFront());
        QCOMPARE(number(), QStringLiteral("1003"));
        QVERIFY(button("Call").enabled());
        QTRY_VERIFY(notifications.inOrder({"member=Notify", "string \"Call from 1003\""}));
        QTRY_COMPARE(shownNotifications(), 1);
        if (icon) {
            QCOMPARE(xdo::trayIcons().size(), 1);
            QTRY_VERIFY(iconPicture() != idleIcon);
            xdo::pointerTo(icon->geometry.center());
            QTRY_VERIFY2(m_kirrow->windows().contains("Call from 1003"),
                         qPrintable(m_kirrow->windows().join(", ")));
        }

        QTRY_COMPARE_WITH_TIMEOUT(status(), QStringLiteral("DISCONNECTED"), kTimeoutMs);
        QVERIFY2(passes(*far), qPrintable(far->report()));
        QTRY_VERIFY2(notifications.inOrder({"string \"Call from 1003\"", "member=CloseNotification",
                                            "member=Notify", "string \"Missed call from 1003\""}),
                     qPrintable(notifications.seen()));
        QTRY_COMPARE(shownNotifications(), 1);
        QTRY_VERIFY(xdo::trayIcons().isEmpty());
        QVERIFY(xdo::isViewable(id));
    }
    // "Tuning Wizard" in the status line's settings menu opens the same wizard; its test sound
    // is heard, and again when the wizard is opened once more, which looks for the sound
    // devices anew right after the sound. The second time another speaker is chosen on the page
    // first, and the test sound is heard there.
    void settingsMenuOpensTheTuningWizard() {
        const QString speakerName = QStringLiteral("KirrowWizardSpeaker");
        soundcheck::PulseModule speaker("module-null-sink",
                                        {"sink_name=kirrow_wizard_speaker",
                                         "sink_properties=device.description=" + speakerName});
        QVERIFY2(speaker.isLoaded(), qPrintable(speaker.error()));
        soundcheck::SinkRecorder speakers;
        soundcheck::SinkRecorder chosen(QStringLiteral("kirrow_wizard_speaker"));
        QVERIFY2(speakers.start() && chosen.start(), qPrintable(speakers.error() + chosen.error()));
        for (int time = 0; time < 2; ++time) {
            // The menu, a popup a screen reader is told of rather than finds, is known by its
            // window on the screen, and its item taken by its underlined letter.
            const int windows = xdo::visibleWindows(QString()).size();
            m_kirrow->click(m_status, 3);
            QTRY_COMPARE(xdo::visibleWindows(QString()).size(), windows + 1);
            xdo::key({"t"});
            QTRY_VERIFY_WITH_TIMEOUT(!wizard().isNull(), kTimeoutMs);
            QVERIFY(wizardShows(QStringLiteral("Speakers and Ringer")));
            soundcheck::SinkRecorder &sink = time == 0 ? speakers : chosen;
            if (time == 1) {
                const int shown = xdo::visibleWindows(QString()).size();
                m_kirrow->click(atspi::find(wizard(), QString(), QStringLiteral("combo box")));
                QTRY_COMPARE(xdo::visibleWindows(QString()).size(), shown + 1);
                xdo::type(speakerName);
                xdo::key({"Return"});
                QTRY_COMPARE(atspi::find(wizard(), QString(), QStringLiteral("combo box")).name(),
                             speakerName);
            }
            const qsizetype before = sink.size();
            m_kirrow->click(atspi::find(wizard(), "Play Test Sound", kButton));
            const auto chime = [&] {
                sink.waitForMore(100);
                return soundcheck::containsTonePair(sink.samples().mid(before), soundcheck::kRate,
                                                    523, 784);
            };
            QVERIFY2(QTest::qWaitFor(chime, kTimeoutMs),
                     qPrintable(soundcheck::describe(sink.samples().mid(before), soundcheck::kRate,
                                                     {523, 784})));
            cancelWizard();
        }
        QCOMPARE(m_kirrow->process().state(), QProcess::Running);
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
        const auto callRecordingFrom = [this](const QString &source) {
            auto far = callee("answer.xml");
            m_kirrow->click("Clear Number", kButton); // the last call's number stays
            QTRY_COMPARE(number(), QString());
            dialAndConnect("1002");
            const QStringList recorded =
                waitFor([] { return soundcheck::recordedSources(); }, QStringList{source});
            endCall(*far);
            QCOMPARE(recorded, QStringList{source});
        };
        const QString gone = QStringLiteral("microphone chosen before is not connected");
        chooseMicrophone(micName);
        callRecordingFrom("kirrow_wizard_mic");
        QVERIFY(!QTest::currentTestFailed());

        restart();
        callRecordingFrom("kirrow_wizard_mic");
        QVERIFY(!QTest::currentTestFailed());
        mic.unload();
        openWizard();
        nextWizardPage(QStringLiteral("Microphone"));
        QTRY_VERIFY(wizardShows(gone));
        QCOMPARE(atspi::find(wizard(), QString(), QStringLiteral("combo box")).name(),
                 QStringLiteral("Default device"));
        cancelWizard();
        callRecordingFrom(soundcheck::defaultSource());
        QVERIFY(!QTest::currentTestFailed());

        restart();
        openWizard();
        QVERIFY(!wizardShows(QStringLiteral("not connected"))); // the speakers are
        nextWizardPage(QStringLiteral("Microphone"));
        QTRY_VERIFY(wizardShows(gone));

        // A headset, ticked on the same page, is kept as well, and shows ticked at the next start.
        const auto headset = [this] {
            return atspi::find(wizard(), QStringLiteral("I use a headset: no echo cancelling"),
                               QStringLiteral("check box"));
        };
        QVERIFY(!headset().checked());
        m_kirrow->click(headset());
        QTRY_VERIFY(headset().checked());
        nextWizardPage(QStringLiteral("Microphone: "));
        clickWizardButton(QStringLiteral("Finish"));
        QTRY_VERIFY(wizard().isNull());
        QCOMPARE(QSettings(m_kirrow->settingsFile(), QSettings::IniFormat)
                     .value(QStringLiteral("Audio/EchoCancelling")),
                 QVariant(QStringLiteral("false")));
        restart();
        openWizard();
        nextWizardPage(QStringLiteral("Microphone"));
        QVERIFY(headset().checked());
        cancelWizard();
    }

    // The desktop's sound server restarts while the program waits for calls, the microphone
    // chosen in the wizard unplugged before and plugged in again once the program has found the
    // new server: the next call is answered (not a crash on the old server's microphone),
    // records from that microphone on the new server, and has sound both ways.
    void callAnsweredAfterTheSoundServerRestartedHasSound() {
        const auto plugMicrophone = [] {
            return std::make_unique<soundcheck::PulseModule>(
                QStringLiteral("module-null-source"),
                QStringList{"source_name=kirrow_wizard_mic", "description=KirrowWizardMic"});
        };
        auto mic = plugMicrophone();
        QVERIFY2(mic->isLoaded(), qPrintable(mic->error()));
        chooseMicrophone(QStringLiteral("KirrowWizardMic"));
        mic.reset();
        QVERIFY(soundServer("restart"));
        QCOMPARE(soundcheck::defaultSink(), QStringLiteral("kirrow_null_sink"));
        QTRY_VERIFY_WITH_TIMEOUT(soundcheck::clientPrograms().contains("kirrow"), kTimeoutMs);
        mic = plugMicrophone();
        QVERIFY2(mic->isLoaded(), qPrintable(mic->error()));
        auto far = caller("call-in.xml", -1, true);
        SipCapture capture;
        capture.addPort(far->mediaPort());
        QString error;
        QVERIFY2(capture.start(&error), qPrintable(error));
        QTRY_COMPARE_WITH_TIMEOUT(status(), QStringLiteral("INCOMING"), kTimeoutMs);
        m_kirrow->click("Call", kButton);
        QTRY_VERIFY_WITH_TIMEOUT(connected(), kTimeoutMs);
        soundFlowsBothWays(capture, far->mediaPort());
        QCOMPARE(soundcheck::recordedSources(), QStringList{"kirrow_wizard_mic"});
        endCall(*far);
    }

    // The sound server killed outright while the phone waits (its socket left behind, as after
    // a crash): the next call is placed and says it has no sound, rather than starting on the
    // dead server's devices; once a server is there again, the call has sound both ways.
    void callPlacedAfterTheSoundServerWasKilled() {
        bool gone = true;
        const auto back = qScopeGuard([&] {
            if (gone)
                soundServer("start");
        });
        QVERIFY(soundServer("kill"));
        auto far = callee("answer.xml", "1002", 60000, true);
        SipCapture capture;
        capture.addPort(far->mediaPort());
        QString error;
        QVERIFY2(capture.start(&error), qPrintable(error));
        dialWithPad("1002");
        QTRY_VERIFY2_WITH_TIMEOUT(status().startsWith(QLatin1String("Error:  ")),
                                  qPrintable(m_states.join(", ")), kTimeoutMs);
        gone = !soundServer("start");
        QVERIFY(!gone);
        QTRY_VERIFY2_WITH_TIMEOUT(connected(), qPrintable(m_states.join(", ")), kTimeoutMs);
        soundFlowsBothWays(capture, far->mediaPort());
        endCall(*far);
    }

    // The sound server goes away in the middle of a call, on the desktop's default devices or on
    // a microphone of the server's chosen in the wizard, stopped or killed outright (its socket
    // left behind), which the status line says, and comes back: the call's sound goes out at
    // the full rate again, the status line shows the call, and the call ends when the user hangs
    // up (on ALSA's plug-in for the server it could not).
    void callFollowsTheSoundServerBackMidCall_data() {
        QTest::addColumn<bool>("chosen");
        QTest::addColumn<QString>("end");
        QTest::newRow("default devices") << false << "stop";
        QTest::newRow("chosen microphone") << true << "stop";
        QTest::newRow("killed") << false << "kill";
    }
    void callFollowsTheSoundServerBackMidCall() {
        QFETCH(bool, chosen);
        QFETCH(QString, end);
        if (chosen)
            chooseMicrophone(QStringLiteral("Null Input"));
        auto far = callee("answer.xml", "1002", 60000, true);
        SipCapture capture;
        capture.addPort(far->mediaPort());
        QString error;
        QVERIFY2(capture.start(&error), qPrintable(error));
        dialAndConnect("1002");
        soundFlowsBothWays(capture, far->mediaPort());
        // The cases after this one need it back, whatever happens here.
        bool gone = true;
        const auto back = qScopeGuard([&] {
            if (gone)
                soundServer("start");
        });
        QVERIFY(soundServer(end));
        QTRY_VERIFY2_WITH_TIMEOUT(status().startsWith(QLatin1String("Error:  ")),
                                  qPrintable(m_states.join(", ")), kTimeoutMs);
        gone = !soundServer("start");
        QVERIFY(!gone);
        QTRY_VERIFY_WITH_TIMEOUT(connected(), kTimeoutMs);
        soundFlowsBothWays(capture, far->mediaPort());
        endCall(*far);
    }
};

QTEST_MAIN(TestCallsProgram)
#include "tst_callsprogram.moc"
