// bench_guiblock: how long the GUI thread stops answering while the telephone dials a ten-digit
// number (its key tones, then the call up to CONNECTED) and while it ends a call whose recent-call
// log is full. The calls run through the call controller over the real engine, registered on a
// kamailio exchange, with sipp answering; a 1 ms timer on the GUI thread measures the longest gap
// between its ticks, which is the longest time nothing else (painting, clicks) could run.

#include "benchcommon.h"
#include "callcontroller.h"
#include "linphoneclient.h"
#include "profiletext.h"
#include "recentlog.h"
#include "sipppeer.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>

#include <functional>
#include <memory>

using bench::err;
using bench::out;

namespace {

const bench::Account kKirrow{QStringLiteral("1001"), QStringLiteral("kirrow1001")};
const bench::Account kCallee{QStringLiteral("1002003004"), QStringLiteral("kirrow1002003004")};

// The longest gap between ticks of a 1 ms timer since the last reset, less the 1 ms itself.
class StallMeter : public QObject {
public:
    StallMeter() {
        m_timer.setTimerType(Qt::PreciseTimer);
        m_timer.setInterval(1);
        connect(&m_timer, &QTimer::timeout, this, [this] {
            m_longest = std::max(m_longest, m_since.nsecsElapsed() / 1e6 - 1.0);
            m_since.restart();
        });
        m_since.start();
        m_timer.start();
    }
    void reset() {
        m_longest = 0;
        m_since.restart();
    }
    double longestMs() const { return std::max(0.0, m_longest); }

private:
    QTimer m_timer;
    QElapsedTimer m_since;
    double m_longest = 0;
};

// Runs the event loop until done() holds or ms pass; the meter's timer ticks meanwhile.
bool waitUntil(const std::function<bool()> &done, int ms) {
    QEventLoop loop;
    QTimer poll;
    QElapsedTimer elapsed;
    elapsed.start();
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (done() || elapsed.elapsed() > ms)
            loop.quit();
    });
    poll.start(1);
    if (!done())
        loop.exec();
    return done();
}

} // namespace

int main(int argc, char *argv[]) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("Kirrow"));
    QCoreApplication::setOrganizationName(QStringLiteral("Kirrow"));
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Longest GUI-thread stall while dialling ten digits and while ending a call."));
    parser.addHelpOption();
    const bench::CommonOptions common;
    common.addTo(parser, true);
    parser.process(app);
    const int runs = common.runCount(parser);
    const int warmup = common.warmupCount(parser);

    QTemporaryDir home;
    for (const char *name : {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME"}) {
        const QString path = home.filePath(QString::fromLatin1(name).mid(4).toLower());
        QDir().mkpath(path);
        qputenv(name, path.toUtf8());
    }
    bench::Exchange exchange;
    QString error;
    if (!exchange.start(parser.value(common.server), parser.value(common.ctl), {kKirrow, kCallee},
                        &error)) {
        err() << "bench_guiblock: " << error << "\n";
        return 1;
    }

    auto client = std::make_shared<rtc::LinphoneClient>();
    calls::CallController calls;
    const QString logPath = home.filePath(QStringLiteral("recentcall.txt"));
    calls.setLogPath(logPath);
    long registration = -1;
    QObject::connect(
        client.get(), &rtc::IRTCClient::Event, &calls,
        [&](long type, const rtc::IRTCEventPtr &event) {
            if (type == rtc::RTCE_SESSION_STATE_CHANGE)
                calls.OnSessionStateChange(event);
            else if (auto view =
                         std::dynamic_pointer_cast<rtc::IRTCRegistrationStateChangeEvent>(event))
                registration = view->State();
        });
    try {
        client->Initialize();
        client->setEventFilter(rtc::RTCEF_REGISTRATION_STATE_CHANGE |
                               rtc::RTCEF_SESSION_STATE_CHANGE);
        client->ListenForIncomingSessions(rtc::RTCLM_BOTH);
        const auto profile = client->provisioning()->CreateProfile(account::BuildProfileText(
            kKirrow.user, kKirrow.user, kKirrow.password, exchange.address()));
        client->provisioning()->EnableProfile(profile, rtc::RTCRF_REGISTER_ALL);
        calls.setClient(client);
        calls.setProfile(profile);
        calls.setServer(exchange.address());
    } catch (const rtc::RtcError &e) {
        err() << "bench_guiblock: " << e.description() << "\n";
        return 1;
    }
    if (!waitUntil([&] { return registration == rtc::RTCRS_REGISTERED; }, 20000)) {
        err() << "bench_guiblock: not registered (state " << registration << ")\n";
        return 1;
    }
    calls.setRegState(QStringLiteral("REGISTERED"));

    StallMeter meter;
    QList<double> dialling, ending;
    out() << "exchange " << exchange.address() << ", " << warmup << " warm-up and " << runs
          << " measured runs\n";
    for (int i = 0; i < warmup + runs; ++i) {
        auto far = bench::answeringPeer(exchange, kCallee, 120000, &error);
        if (!far) {
            err() << "bench_guiblock: " << error << "\n";
            return 1;
        }
        QFile full(logPath);
        if (!full.open(QIODevice::WriteOnly) ||
            full.write(QByteArray("1--Duration: 0:0:1\r\n").repeated(calls::kRecentCalls)) < 0) {
            err() << "bench_guiblock: cannot write " << logPath << "\n";
            return 1;
        }
        full.close();

        meter.reset();
        calls.setNumber(kCallee.user);
        calls.Picture6_Click();
        if (!waitUntil([&] { return calls.IsConnected(); }, 20000)) {
            err() << "bench_guiblock: the call did not connect\n" << far->log() << "\n";
            return 1;
        }
        const double dialMs = meter.longestMs();
        meter.reset();
        calls.Picture8_Click();
        if (!waitUntil([&] { return calls.state() == calls::CallState::Disconnected; }, 20000)) {
            err() << "bench_guiblock: the call did not end\n";
            return 1;
        }
        const double endMs = meter.longestMs();
        far->waitForExit(20000);
        const bool measured = i >= warmup;
        if (measured) {
            dialling << dialMs;
            ending << endMs;
        }
        out() << QStringLiteral("%1 dialling %2 ms, ending %3 ms\n")
                     .arg(measured ? QStringLiteral("run %1").arg(i - warmup + 1)
                                   : QStringLiteral("warm-up"),
                          -8)
                     .arg(dialMs, 0, 'f', 1)
                     .arg(endMs, 0, 'f', 1);
        out().flush();
    }
    out() << QStringLiteral("median longest GUI stall: dialling 10 digits %1 ms, ending a call "
                            "with a full log %2 ms\n")
                 .arg(bench::median(dialling), 0, 'f', 1)
                 .arg(bench::median(ending), 0, 'f', 1);
    return 0;
}
