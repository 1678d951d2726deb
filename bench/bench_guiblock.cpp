// bench_guiblock: how long the GUI thread stops answering while the telephone dials a ten-digit
// number (its key tones, then the call up to CONNECTED) and while it ends a call whose recent-call
// log is full. The calls run through the call controller over the real engine, registered on a
// kamailio exchange, with sipp answering; a 1 ms timer on the GUI thread measures the longest gap
// between its ticks, which is the longest time nothing else (painting, clicks) could run.
//
// With --flood SECONDS it then floods the phone during a connected call: OPTIONS at 300/s and
// INVITEs at 20/s from sipp, and malformed or oversized requests at 20/s, all straight to its SIP
// port. It reports the longest stall during the flood, whether the call stayed up with its sound
// flowing both ways, how many OPTIONS were answered, and the memory before, at the end and once
// the engine has let go of the flood's calls.

#include "benchcommon.h"
#include "callcontroller.h"
#include "keytone.h"
#include "linphoneclient.h"
#include "messagebox.h"
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

#include <QRegularExpression>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <functional>
#include <memory>

using bench::err;
using bench::out;

namespace {

const bench::Account kKirrow{QStringLiteral("1001"), QStringLiteral("kirrow1001")};
const bench::Account kCallee{QStringLiteral("1002003004"), QStringLiteral("kirrow1002003004")};

// CPU time the calling thread has run, in ms.
double threadCpuMs() {
    timespec now{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) * 1e3 + double(now.tv_nsec) / 1e6;
}

// The longest gap between ticks of a 1 ms timer since the last reset, less the 1 ms itself; and
// the most CPU time charged to the GUI thread within one gap: its own work, and the kernel's
// receiving of packets that interrupted it, but not the time it waited for a core (other
// threads, other programs, the virtual machine's host).
class StallMeter : public QObject {
public:
    StallMeter() {
        m_timer.setTimerType(Qt::PreciseTimer);
        m_timer.setInterval(1);
        connect(&m_timer, &QTimer::timeout, this, [this] {
            const double cpu = threadCpuMs();
            m_longest = std::max(m_longest, m_since.nsecsElapsed() / 1e6 - 1.0);
            m_longestBusy = std::max(m_longestBusy, cpu - m_cpuAtTick);
            m_since.restart();
            m_cpuAtTick = cpu;
        });
        reset();
        m_timer.start();
    }
    void reset() {
        m_longest = 0;
        m_longestBusy = 0;
        m_since.restart();
        m_cpuAtTick = threadCpuMs();
    }
    double longestMs() const { return std::max(0.0, m_longest); }
    double longestBusyMs() const { return m_longestBusy; }

private:
    QTimer m_timer;
    QElapsedTimer m_since;
    double m_cpuAtTick = 0;
    double m_longest = 0;
    double m_longestBusy = 0;
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

// Resident and private (unshared) memory of this process, in KiB.
struct Memory {
    long rss = 0;
    long privateKib = 0;
};

Memory memoryNow() {
    Memory memory;
    QFile rollup(QStringLiteral("/proc/self/smaps_rollup"));
    if (!rollup.open(QIODevice::ReadOnly))
        return memory;
    for (const QByteArray &line : rollup.readAll().split('\n')) {
        const QList<QByteArray> fields = line.simplified().split(' ');
        if (fields.size() < 2)
            continue;
        if (fields[0] == "Rss:")
            memory.rss = fields[1].toLong();
        else if (fields[0] == "Private_Clean:" || fields[0] == "Private_Dirty:")
            memory.privateKib += fields[1].toLong();
    }
    return memory;
}

double mib(long kib) {
    return kib / 1024.0;
}

// Requests no well-behaved peer sends, numbered so that none is taken for a retransmission of
// another: a message cut off inside its headers, 900 Via lines, a Content-Length longer than the
// body, one that is not a number, and an INVITE whose SDP media line lists 3000 formats.
QByteArray badRequest(int n, const QString &target) {
    const QByteArray to = target.toLatin1();
    const QByteArray id = QByteArray::number(n);
    const QByteArray via = "Via: SIP/2.0/UDP 127.0.0.1:9;branch=z9hG4bK-bad" + id;
    auto request = [&](const QByteArray &method, const QByteArray &extra, const QByteArray &length,
                       const QByteArray &body) {
        return method + " sip:kirrow@" + to + " SIP/2.0\r\n" + via +
               "\r\nMax-Forwards: 70\r\nFrom: <sip:bad@127.0.0.1>;tag=b" + id +
               "\r\nTo: <sip:kirrow@" + to + ">\r\nCall-ID: bad-" + id + "@127.0.0.1\r\nCSeq: 1 " +
               method + "\r\nContact: <sip:bad@127.0.0.1:9>\r\n" + extra +
               "Content-Length: " + length + "\r\n\r\n" + body;
    };
    switch (n % 5) {
    case 0:
        return request("INVITE", {}, "0", {}).left(120);
    case 1: {
        QByteArray vias;
        for (int i = 0; i < 900; ++i)
            vias += "Via: SIP/2.0/UDP 127.0.0." + QByteArray::number(i % 250 + 1) +
                    ":5060;branch=z9hG4bK-v" + id + "-" + QByteArray::number(i) + "\r\n";
        return request("OPTIONS", vias, "0", {});
    }
    case 2:
        return request("OPTIONS", "Content-Type: text/plain\r\n", "4000", "short");
    case 3:
        return request("OPTIONS", "Content-Type: text/plain\r\n", "many", "x");
    default: {
        QByteArray formats;
        for (int i = 0; i < 3000; ++i)
            formats += ' ' + QByteArray::number(96 + i % 32);
        const QByteArray sdp = "v=0\r\no=bad 1 1 IN IP4 127.0.0.1\r\ns=-\r\nc=IN IP4 "
                               "127.0.0.1\r\nt=0 0\r\nm=audio 9 RTP/AVP" +
                               formats + "\r\n";
        return request("INVITE", "Content-Type: application/sdp\r\n",
                       QByteArray::number(sdp.size()), sdp);
    }
    }
}

// sipp's count of passed calls, from the last statistics screen it printed.
int passedCalls(const QString &log) {
    static const QRegularExpression row(
        QStringLiteral("Successful call\\s*\\|\\s*\\d+\\s*\\|\\s*(\\d+)"));
    int passed = 0;
    for (auto it = row.globalMatch(log); it.hasNext();)
        passed = it.next().captured(1).toInt();
    return passed;
}

struct FloodResult {
    double longestStallMs = 0;
    double longestBusyMs = 0;
    bool callUp = false;
    int silentSeconds = 0; // seconds of the flood in which the call's sound stopped either way
    int optionsSent = 0;
    int optionsAnswered = 0;
    int invitesSent = 0;
    int invitesHandled = 0; // refused, or left ringing until the caller gave up
    int badSent = 0;
    quint64 dropped = 0; // datagrams the phone dropped unread
    int mostCalls = 0;   // calls the engine held at once, the user's included
    int mostRinging = 0; // callers left ringing at once
    QString sippErrors;  // the ends of sipp's error logs
    Memory before, end, settled;
    double settleSeconds = 0;
};

std::unique_ptr<SippPeer> startFlood(const QString &scenario, const QString &target, int rate,
                                     int count, QString *error) {
    SippPeer::Options options;
    options.scenario = scenario;
    options.remote = target;
    options.calls = count;
    options.timeoutMs = (count / rate + 60) * 1000;
    options.extraArguments = {QStringLiteral("-r"), QString::number(rate)};
    auto peer = std::make_unique<SippPeer>(options);
    if (!peer->start(error))
        return nullptr;
    return peer;
}

// Floods the phone for the given seconds while the controller holds a connected call.
bool runFlood(rtc::LinphoneClient &client, calls::CallController &calls, StallMeter &meter,
              int seconds, FloodResult *result, QString *error) {
    const QString target = QStringLiteral("%1:%2")
                               .arg(client.bindAddress().isEmpty() ? QStringLiteral("127.0.0.1")
                                                                   : client.bindAddress())
                               .arg(client.sipPort());
    waitUntil([] { return false; }, 3000); // the call's sound settles before "before"
    result->before = memoryNow();
    result->optionsSent = 300 * seconds;
    result->invitesSent = 20 * seconds;
    auto options =
        startFlood(QStringLiteral("options-flood.xml"), target, 300, result->optionsSent, error);
    auto invites =
        startFlood(QStringLiteral("invite-flood.xml"), target, 20, result->invitesSent, error);
    if (!options || !invites)
        return false;

    const int sock = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(quint16(client.sipPort()));
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    QTimer bad;
    QObject::connect(&bad, &QTimer::timeout, [&] {
        const QByteArray datagram = badRequest(result->badSent++, target);
        ::sendto(sock, datagram.constData(), size_t(datagram.size()), 0,
                 reinterpret_cast<const sockaddr *>(&to), sizeof to);
    });
    bad.start(50);

    meter.reset();
    rtc::LinphoneClient::Load last = client.load();
    for (int second = 0; second < seconds; ++second) {
        waitUntil([] { return false; }, 1000);
        const rtc::LinphoneClient::Load now = client.load();
        result->mostCalls = std::max(result->mostCalls, now.calls);
        result->mostRinging = std::max(result->mostRinging, now.ringing);
        if (now.audioSent - last.audioSent < 25 || now.audioReceived - last.audioReceived < 25)
            ++result->silentSeconds;
        last = now;
    }
    bad.stop();
    ::close(sock);
    result->longestStallMs = meter.longestMs();
    result->longestBusyMs = meter.longestBusyMs();
    result->dropped = client.sipDatagramsDropped();
    result->callUp = calls.IsConnected();
    // The engine answers the flood's last requests while sipp finishes.
    waitUntil([&] { return !options->isRunning() && !invites->isRunning(); }, 60000);
    result->optionsAnswered = passedCalls(options->log());
    result->invitesHandled = passedCalls(invites->log());
    result->sippErrors = options->errors().right(600) + invites->errors().right(1500);
    result->end = memoryNow();

    // The engine forgets a refused or cancelled call a little after it ends; wait for that (the
    // unanswered ones it ends itself after its incoming-call time-out).
    QElapsedTimer settling;
    settling.start();
    waitUntil([&] { return client.load().calls <= 1; }, 90000);
    waitUntil([] { return false; }, 5000);
    result->settleSeconds = settling.elapsed() / 1000.0;
    result->settled = memoryNow();
    return true;
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
    const QCommandLineOption flood(
        QStringLiteral("flood"),
        QStringLiteral("After the runs, flood a connected call for this many seconds."),
        QStringLiteral("seconds"));
    parser.addOption(flood);
    parser.process(app);
    const int runs = common.runCount(parser);
    const int warmup = common.warmupCount(parser);

    QTemporaryDir home;
    bench::usePrivateFolders(home);
    bench::Exchange exchange;
    QString error;
    if (!exchange.start(parser.value(common.server), parser.value(common.ctl), {kKirrow, kCallee},
                        &error)) {
        err() << "bench_guiblock: " << error << "\n";
        return 1;
    }

    // The program's own registration and calls over the engine; a step that fails says so here
    // instead of in a message box.
    bool failed = false;
    platform::setMessageHandler([&](const QString &text, const QString &, platform::MessageIcon) {
        err() << "bench_guiblock: " << text << "\n";
        failed = true;
    });
    auto client = std::make_shared<rtc::LinphoneClient>();
    // The flood comes straight to the phone's port, which refuses strangers unless direct calls
    // are allowed: allowed, so that the engine handles it as it would a flood through the exchange.
    rtc::ConnectionOptions connection;
    connection.directCalls = true;
    client->SetConnectionOptions(connection);
    account::RegistrationController registration([&] {
        client->SetRingSounds(calls::ringSounds()); // the program's ring, as the window hands it
        return client;
    });
    calls::CallController calls(registration);
    const QString logPath = home.filePath(QStringLiteral("recentcall.txt"));
    calls.setLogPath(logPath);
    registration.InitRTCClient();
    registration.RegisterProfile({exchange.address(), kKirrow.user, kKirrow.password});
    if (failed)
        return 1;
    if (!waitUntil([&] { return registration.IsRegistered(); }, 20000)) {
        err() << "bench_guiblock: not registered (" << registration.RegState() << ")\n";
        return 1;
    }

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
    out().flush();
    if (!parser.isSet(flood))
        return 0;

    const int seconds = std::max(1, parser.value(flood).toInt());
    auto far = bench::answeringPeer(exchange, kCallee, seconds * 1000 + 240000, &error);
    if (!far) {
        err() << "bench_guiblock: " << error << "\n";
        return 1;
    }
    calls.setNumber(kCallee.user);
    calls.Picture6_Click();
    if (!waitUntil([&] { return calls.IsConnected(); }, 20000)) {
        err() << "bench_guiblock: the call did not connect\n" << far->log() << "\n";
        return 1;
    }
    FloodResult result;
    if (!runFlood(*client, calls, meter, seconds, &result, &error)) {
        err() << "bench_guiblock: " << error << "\n";
        return 1;
    }
    out() << QStringLiteral("flood of %1 s in a call: longest GUI stall %2 ms (at most %5 ms of "
                            "CPU charged to the GUI thread between two ticks); call %3, sound "
                            "stopped in %4 s of it\n")
                 .arg(seconds)
                 .arg(result.longestStallMs, 0, 'f', 1)
                 .arg(result.callUp ? QStringLiteral("still up") : QStringLiteral("LOST"))
                 .arg(result.silentSeconds)
                 .arg(result.longestBusyMs, 0, 'f', 1);
    out() << QStringLiteral("  OPTIONS answered %1 of %2; INVITEs refused or given up %3 of %4; "
                            "%5 malformed or oversized requests, %6 datagrams dropped unread; at "
                            "most %7 calls at once, %8 of them ringing\n")
                 .arg(result.optionsAnswered)
                 .arg(result.optionsSent)
                 .arg(result.invitesHandled)
                 .arg(result.invitesSent)
                 .arg(result.badSent)
                 .arg(result.dropped)
                 .arg(result.mostCalls)
                 .arg(result.mostRinging);
    if (result.optionsAnswered < result.optionsSent || result.invitesHandled < result.invitesSent)
        out() << "  sipp's errors:\n" << result.sippErrors << "\n";
    out() << QStringLiteral("  RSS %1 -> %2 -> %3 MiB (before, end, %4 s after); private %5 -> %6 "
                            "-> %7 MiB\n")
                 .arg(mib(result.before.rss), 0, 'f', 1)
                 .arg(mib(result.end.rss), 0, 'f', 1)
                 .arg(mib(result.settled.rss), 0, 'f', 1)
                 .arg(result.settleSeconds, 0, 'f', 0)
                 .arg(mib(result.before.privateKib), 0, 'f', 1)
                 .arg(mib(result.end.privateKib), 0, 'f', 1)
                 .arg(mib(result.settled.privateKib), 0, 'f', 1);
    calls.Picture8_Click();
    waitUntil([&] { return calls.state() == calls::CallState::Disconnected; }, 20000);
    if (parser.isSet(common.samples)) {
        const QString section = QStringLiteral("flood");
        const QString kirrow = QStringLiteral("Kirrow");
        auto share = [](int part, int whole) { return whole ? 100.0 * part / whole : 0.0; };
        const QList<bench::TableSample> samples{
            {section, QStringLiteral("in a call: longest GUI stall (ms)"), kirrow,
             result.longestStallMs},
            {section, QStringLiteral("in a call: most GUI CPU between ticks (ms)"), kirrow,
             result.longestBusyMs},
            {section, QStringLiteral("in a call: seconds without sound"), kirrow,
             double(result.silentSeconds), 0},
            {section, QStringLiteral("in a call: OPTIONS at 300/s answered (%)"), kirrow,
             share(result.optionsAnswered, result.optionsSent)},
            {section, QStringLiteral("in a call: INVITEs at 20/s answered (%)"), kirrow,
             share(result.invitesHandled, result.invitesSent)},
            {section, QStringLiteral("in a call: VmRSS growth after (MiB)"), kirrow,
             mib(result.settled.rss - result.before.rss)},
        };
        if (!bench::appendSamples(parser.value(common.samples), samples,
                                  QStringLiteral("bench_guiblock")))
            return 1;
    }
    return result.callUp ? 0 : 1;
}
