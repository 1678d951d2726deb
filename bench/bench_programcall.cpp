// bench_programcall: a call placed by the real program, as a user places it, and how long its
// window stops answering meanwhile. Prints numbers; never judges them.
//
// Kirrow, started and logged in as a user does, calls a sipp far end registered at an exchange
// of this program's own under a ten-digit number (typed once into the number box); each run is a
// click on Call, the call up, then a click on End. On Call the program plays the number's ten key
// tones, 100 ms apart, before the INVITE goes out, as it does for the user. Timed on the wire
// (tshark) from the click:
//   - Call click -> the INVITE at the far end, tones included;
//   - Call click -> the far end's ACK: the call set up;
// and, all the while, the window's answers to _NET_WM_PING (EWMH), sent every 2 ms from a
// connection of this program's own to the X server: Qt answers from the GUI thread's event loop,
// so the longest wait for an answer is the longest time the window would not have taken a click
// or painted, during the dialling (Call click -> CONNECTED on the status line) and the ending (End
// click -> DISCONNECTED; the recent-call log is written then).

#include "benchcommon.h"
#include "kirrowprogram.h"
#include "sipcapture.h"
#include "sipppeer.h"
#include "xdo.h"

#include <QCommandLineParser>
#include <QDateTime>
#include <QGuiApplication>
#include <QtTest>

// Xlib last: its macros (None, Bool) would break the Qt headers.
#include "netwmping.h"
#include <X11/Xlib.h>
#include <poll.h>

#include <atomic>
#include <mutex>
#include <optional>
#include <thread>

namespace {

using namespace bench;

const Account kKirrow{QStringLiteral("1001"), QStringLiteral("kirrow1001")};
const Account kFarEnd{QStringLiteral("1002003004"), QStringLiteral("kirrow1002003004")};
constexpr int kTimeoutMs = 30000;

double nowMs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<double>(ts.tv_sec) * 1000.0 + static_cast<double>(ts.tv_nsec) / 1e6;
}

// Pings a window from a thread of its own until destroyed; worst() is the longest wait for an
// answer since the last reset(), a wait still open included.
class PingWatch {
public:
    explicit PingWatch(unsigned long window) : m_window(window) {
        m_display = XOpenDisplay(nullptr);
        if (!m_display)
            return;
        // Qt answers to the root window, for those who select its structure events.
        XSelectInput(m_display, DefaultRootWindow(m_display), StructureNotifyMask);
        m_ping.emplace(m_display);
        m_thread = std::thread([this] { run(); });
    }
    ~PingWatch() {
        m_stop = true;
        if (m_thread.joinable())
            m_thread.join();
        if (m_display)
            XCloseDisplay(m_display);
    }
    bool isWatching() const { return m_display != nullptr; }
    void reset() {
        const std::lock_guard lock(m_mutex);
        m_worst = 0;
    }
    double worst() {
        const std::lock_guard lock(m_mutex);
        return std::max(m_worst, m_sentAt > 0 ? nowMs() - m_sentAt : 0.0);
    }

private:
    void run() {
        long serial = 0;
        while (!m_stop) {
            {
                const std::lock_guard lock(m_mutex);
                m_sentAt = nowMs();
            }
            m_ping->send(m_window, ++serial);
            if (!awaitAnswer(serial))
                return;
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    }
    bool awaitAnswer(long serial) {
        while (!m_stop) {
            while (XPending(m_display) > 0) {
                XEvent event;
                XNextEvent(m_display, &event);
                if (m_ping->isAnswer(event, m_window, serial)) {
                    const std::lock_guard lock(m_mutex);
                    m_worst = std::max(m_worst, nowMs() - m_sentAt);
                    m_sentAt = 0;
                    return true;
                }
            }
            pollfd fd{ConnectionNumber(m_display), POLLIN, 0};
            ::poll(&fd, 1, 50);
        }
        return false;
    }

    unsigned long m_window;
    Display *m_display = nullptr;
    std::optional<NetWmPing> m_ping;
    std::thread m_thread;
    std::atomic<bool> m_stop{false};
    std::mutex m_mutex;
    double m_worst = 0;
    double m_sentAt = 0; // when the unanswered ping went; 0 when none waits
};

struct Settings {
    QString kirrowBinary;
    QString samples;
    int runs = 5;
    int warmup = 1;
};

class ProgramCall : public QObject {
    Q_OBJECT
public:
    explicit ProgramCall(Settings settings) : m_settings(std::move(settings)) {}

private slots:
    void calls();

private:
    Settings m_settings;
};

void ProgramCall::calls() {
    Exchange exchange;
    QString error;
    QVERIFY2(exchange.start(QString(), QString(), {kKirrow, kFarEnd}, &error), qPrintable(error));
    const quint16 exchangePort = exchange.address().section(':', 1).toUShort();

    KirrowProgram kirrow(m_settings.kirrowBinary);
    kirrow.startRegistered(exchange.address(), kKirrow.user, kKirrow.password);
    if (QTest::currentTestFailed())
        return;
    const atspi::Node number =
        kirrow.control(QStringLiteral("Kirrow"), QStringLiteral("Number"), QStringLiteral("text"));
    kirrow.click(number);
    QTRY_VERIFY(number.focused());
    xdo::type(kFarEnd.user);
    QTRY_COMPARE(number.text(), kFarEnd.user);
    const atspi::Node call = kirrow.control(QStringLiteral("Call"), QStringLiteral("push button"));
    const atspi::Node end =
        kirrow.control(QStringLiteral("End Call"), QStringLiteral("push button"));
    QVERIFY(!call.isNull() && !end.isNull());

    PingWatch watch(kirrow.mainWindow().toULong(nullptr, 0));
    QVERIFY2(watch.isWatching(), "no X display");

    QList<double> invite, setUp, dialling, ending;
    for (int i = 1 - m_settings.warmup; i <= m_settings.runs; ++i) {
        auto far = answeringPeer(exchange, kFarEnd, 60000, &error);
        QVERIFY2(far, qPrintable(error));
        SipCapture capture;
        capture.addPort(far->port());
        QVERIFY2(capture.start(&error), qPrintable(error));

        QTRY_VERIFY_WITH_TIMEOUT(call.enabled(), kTimeoutMs);
        watch.reset();
        const qint64 clicked = QDateTime::currentMSecsSinceEpoch();
        kirrow.click(call);
        QTRY_VERIFY_WITH_TIMEOUT(kirrow.statusLine().startsWith(QLatin1String("CONNECTED")),
                                 kTimeoutMs);
        const double dialled = watch.worst();

        watch.reset();
        kirrow.click(end);
        QTRY_COMPARE_WITH_TIMEOUT(kirrow.statusLine(), QStringLiteral("DISCONNECTED"), kTimeoutMs);
        const double ended = watch.worst();
        QVERIFY2(far->waitForExit(kTimeoutMs), qPrintable(far->report()));

        // What reached the far end from the exchange: the INVITE, its ACK, the BYE.
        const QList<qint64> times = capture.datagramTimes(exchangePort, far->port());
        QVERIFY2(times.size() >= 2, qPrintable(capture.log()));
        out() << QStringLiteral("  run %1%2: Call -> INVITE %3 ms, -> ACK %4 ms; longest "
                                "unanswered: dialling %5 ms, ending %6 ms\n")
                     .arg(i)
                     .arg(i <= 0 ? QStringLiteral(" (warm-up)") : QString())
                     .arg(times[0] - clicked)
                     .arg(times[1] - clicked)
                     .arg(dialled, 0, 'f', 1)
                     .arg(ended, 0, 'f', 1);
        out().flush();
        if (i <= 0)
            continue;
        invite << static_cast<double>(times[0] - clicked);
        setUp << static_cast<double>(times[1] - clicked);
        dialling << dialled;
        ending << ended;
    }
    kirrow.close();

    // Every run's figures go to the table, which takes their median and range.
    const QString client = QStringLiteral("Kirrow");
    const QString section = QStringLiteral("calls");
    const std::pair<QString, const QList<double> *> rows[] = {
        {QStringLiteral("program: Call click -> INVITE at the far end, tones included (ms)"),
         &invite},
        {QStringLiteral("program: Call click -> ACK at the far end (ms)"), &setUp},
        {QStringLiteral("program: window unanswered, dialling, longest (ms)"), &dialling},
        {QStringLiteral("program: window unanswered, ending, longest (ms)"), &ending},
    };
    QList<TableSample> samples;
    for (const auto &[measure, values] : rows) {
        out() << measure << ": median " << QString::number(median(*values), 'f', 1) << "\n";
        for (const double value : *values)
            samples << TableSample{section, measure, client, value};
    }
    if (!m_settings.samples.isEmpty())
        QVERIFY(appendSamples(m_settings.samples, samples, QStringLiteral("bench_programcall")));
}

} // namespace

int main(int argc, char *argv[]) {
    // The program is driven on the X display; the drivers read the pointer back through Qt.
    qputenv("QT_QPA_PLATFORM", "xcb");
    QGuiApplication app(argc, argv);

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("A call placed by the real program from its Call button: set-up on the "
                       "wire, and the window's longest wait to answer input."));
    parser.addHelpOption();
    const CommonOptions common;
    common.addTo(parser, false);
    const QCommandLineOption kirrow(QStringLiteral("kirrow"), QStringLiteral("The program."),
                                    QStringLiteral("path"));
    parser.addOption(kirrow);
    parser.process(app);

    Settings settings{.kirrowBinary = parser.value(kirrow),
                      .samples = parser.value(common.samples),
                      .runs = common.runCount(parser),
                      .warmup = common.warmupCount(parser)};
    if (settings.kirrowBinary.isEmpty()) {
        err() << "bench_programcall: --kirrow names the program\n";
        return 2;
    }
    ProgramCall bench(settings);
    return QTest::qExec(&bench, QStringList{QString::fromLocal8Bit(argv[0])});
}

#include "bench_programcall.moc"
