// bench_calls: what a call costs, Kirrow's engine and linphonec in the same run, each calling the
// same kind of far end (sipp answering at once, echoing RTP) through the same kamailio exchange.
// Prints numbers; never judges them.
//
// Each run, for each client (alternating which goes first):
//   - set-up: from placing the call to CONNECTED. Kirrow: AddParticipant -> the session event
//     with state CONNECTED. linphonec: writing "call sip:1002@..." to its input -> its line
//     "Call N with ... connected." read from its output.
//   - key -> wire: one second into the call, key 5 is pressed (Kirrow: SendDTMF(RTC_DTMF_5);
//     linphonec: the line "5"); the time is taken from the host clock just before, and compared
//     with the capture time (tshark on lo, kernel time stamp) of the first RFC 2833
//     telephone-event packet reaching the far end's media port.
//   - the call then lasts --call-seconds with sipp echoing the RTP back; CPU seconds (user+sys)
//     of the client over that time, and VmRSS / VmHWM at its end.
// Kirrow's engine runs in this process (one LinphoneClient for all runs, registered as 1001, as a
// running phone is); its CPU is this process's getrusage, its memory this process's. linphonec
// runs as its own process (registered as 1003, its own configuration file, ports and home), and
// is measured from /proc/<pid>.
//
// The exchange is started here (tests/support's KamailioServer) unless --server and --ctl name a
// running one (which must know 1001/kirrow1001, 1002/kirrow1002 and 1003/kirrow1003).

#include "benchcommon.h"
#include "benchengine.h"
#include "kamailioserver.h"
#include "linphoneclient.h"
#include "profiletext.h"
#include "sipcapture.h"
#include "sipppeer.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTextStream>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <functional>
#include <map>
#include <memory>
#include <optional>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

using namespace bench;

// The wall clock, in seconds since the epoch: the clock the kernel stamps captured packets with.
double wallSeconds() {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

// An even port with the one above it free too (RTP and RTCP).
quint16 freeRtpPort() {
    for (int i = 0; i < 50; ++i) {
        const quint16 port = freeLoopbackUdpPort() & ~1;
        if (port < 1024)
            continue;
        bool ok = true;
        for (quint16 p : {port, static_cast<quint16>(port + 1)}) {
            const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
            sockaddr_in a{};
            a.sin_family = AF_INET;
            a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            a.sin_port = htons(p);
            ok = ok && ::bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0;
            ::close(fd);
        }
        if (ok)
            return port;
    }
    return 0;
}

const Account kKirrow{QStringLiteral("1001"), QStringLiteral("kirrow1001")};
const Account kCallee{QStringLiteral("1002"), QStringLiteral("kirrow1002")};
const Account kLinphonec{QStringLiteral("1003"), QStringLiteral("kirrow1003")};

// Runs the event loop until done() or ms have passed; true if done() came true. The loop sleeps
// until something happens (an engine event, a process's output, a timer), so the waiting costs
// Kirrow's process no CPU of its own; one timer wakes it at the time limit.
bool waitUntil(const std::function<bool()> &done, int ms) {
    QElapsedTimer timer;
    timer.start();
    QTimer limit; // wakes the loop once, at the time limit
    limit.setSingleShot(true);
    limit.start(ms + 1);
    while (!done()) {
        if (timer.elapsed() > ms)
            return false;
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    return true;
}

void spin(int ms) {
    waitUntil([] { return false; }, ms);
}

// Capture time (seconds since the epoch) of the first telephone-event packet sent to port.
std::optional<double> firstEventTime(const SipCapture &capture, quint16 port) {
    QProcess tshark;
    tshark.setStandardInputFile(QProcess::nullDevice());
    tshark.start(QStringLiteral("timeout"),
                 {QStringLiteral("60"), QStringLiteral("tshark"), QStringLiteral("-r"),
                  capture.capturePath(), QStringLiteral("-n"), QStringLiteral("--enable-heuristic"),
                  QStringLiteral("rtp_udp"), QStringLiteral("-d"),
                  QStringLiteral("rtp.pt==%1,rtpevent").arg(capture.telephoneEventPayloadType()),
                  QStringLiteral("-Y"), QStringLiteral("rtpevent && udp.dstport==%1").arg(port),
                  QStringLiteral("-T"), QStringLiteral("fields"), QStringLiteral("-e"),
                  QStringLiteral("frame.time_epoch")});
    if (!tshark.waitForFinished(70000))
        return std::nullopt;
    const QString text = QString::fromUtf8(tshark.readAllStandardOutput());
    std::optional<double> first;
    for (const QString &line : text.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        bool ok = false;
        const double t = line.trimmed().toDouble(&ok);
        if (ok && (!first || t < *first))
            first = t;
    }
    return first;
}

struct Usage {
    double cpuSeconds = -1;
    double rssKiB = -1;
    double hwmKiB = -1;
};

double statusKiB(qint64 pid, const char *key) {
    QFile file(pid > 0 ? QStringLiteral("/proc/%1/status").arg(pid)
                       : QStringLiteral("/proc/self/status"));
    if (!file.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : file.readAll().split('\n')) {
        if (line.startsWith(QByteArray(key) + ':'))
            return line.mid(qstrlen(key) + 1).trimmed().split(' ').value(0).toDouble();
    }
    return -1;
}

double cpuSecondsOf(qint64 pid) {
    if (pid <= 0) {
        rusage usage{};
        getrusage(RUSAGE_SELF, &usage);
        return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
               static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    }
    QFile file(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!file.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray text = file.readAll();
    // Fields after the command name (which may hold spaces): state is field 3, utime 14, stime 15.
    const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
    if (fields.size() < 13)
        return -1;
    return (fields[11].toDouble() + fields[12].toDouble()) /
           static_cast<double>(sysconf(_SC_CLK_TCK));
}

struct CallSample {
    double setupMs = -1;
    double keyMs = -1;
    Usage usage;
};

// ---- Kirrow's engine --------------------------------------------------------------------------

class KirrowPhone {
public:
    bool start(const Exchange &exchange, QString *error) {
        m_exchange = &exchange;
        if (!m_home.isValid())
            return *error = QStringLiteral("cannot create a temporary folder"), false;
        usePrivateFolders(m_home); // the engine finds its folders when it starts
        exchange.forget(kKirrow.user);
        try {
            m_client = std::make_unique<rtc::LinphoneClient>();
            QObject::connect(
                m_client.get(), &rtc::IRTCClient::Event, m_client.get(),
                [this](long type, const rtc::IRTCEventPtr &event) { onEvent(type, event); });
            setUpAsTheWindowDoes(*m_client);
            m_profile = m_client->provisioning()->CreateProfile(account::BuildProfileText(
                kKirrow.user, kKirrow.user, kKirrow.password, exchange.address()));
            m_client->provisioning()->EnableProfile(m_profile, rtc::RTCRF_REGISTER_ALL);
        } catch (const rtc::RtcError &e) {
            *error = QStringLiteral("Kirrow: %1").arg(e.description());
            return false;
        }
        if (!waitUntil([this] { return m_registration >= 0; }, 20000) ||
            m_registration != rtc::RTCRS_REGISTERED) {
            *error = QStringLiteral("Kirrow: not registered (state %1)").arg(m_registration);
            return false;
        }
        return true;
    }

    std::optional<CallSample> call(const SippPeer &far, SipCapture &capture, int callSeconds,
                                   QString *error) {
        CallSample sample;
        m_sessionState = -1;
        try {
            auto session = m_client->CreateSession(rtc::RTCST_PC_TO_PHONE, QString(), m_profile,
                                                   rtc::RTCCS_FORCE_PROFILE);
            const auto placed = Clock::now();
            session->AddParticipant(
                QStringLiteral("sip:%1@%2").arg(kCallee.user, m_exchange->address()),
                QStringLiteral("Any Name"));
            if (!waitUntil([this] { return m_sessionState >= rtc::RTCSS_CONNECTED; }, 20000) ||
                m_sessionState != rtc::RTCSS_CONNECTED) {
                *error = QStringLiteral("Kirrow: the call did not connect (state %1)")
                             .arg(m_sessionState);
                session->Terminate(rtc::RTCTR_NORMAL);
                return std::nullopt;
            }
            sample.setupMs = msBetween(placed, m_connectedAt);

            spin(1000); // media flowing
            const double pressed = wallSeconds();
            m_client->SendDTMF(rtc::RTC_DTMF_5);
            if (waitUntil([&] { return capture.rtpEvents(far.mediaPort()).contains(5); }, 20000)) {
                if (auto t = firstEventTime(capture, far.mediaPort()))
                    sample.keyMs = (*t - pressed) * 1000.0;
            } else {
                err() << "Kirrow: no telephone-event reached the far end\n";
            }
            capture.stop();

            const double cpu0 = cpuSecondsOf(0);
            spin(callSeconds * 1000);
            sample.usage.cpuSeconds = cpuSecondsOf(0) - cpu0;
            sample.usage.rssKiB = statusKiB(0, "VmRSS");
            sample.usage.hwmKiB = statusKiB(0, "VmHWM");

            session->Terminate(rtc::RTCTR_NORMAL);
            if (!waitUntil([this] { return m_sessionState == rtc::RTCSS_DISCONNECTED; }, 20000))
                err() << "Kirrow: no DISCONNECTED after hanging up\n";
            spin(200);
        } catch (const rtc::RtcError &e) {
            *error = QStringLiteral("Kirrow: %1").arg(e.description());
            return std::nullopt;
        }
        return sample;
    }

    void stop() {
        m_client.reset();
        if (m_exchange)
            m_exchange->forget(kKirrow.user);
    }

private:
    void onEvent(long type, const rtc::IRTCEventPtr &event) {
        if (type == rtc::RTCE_REGISTRATION_STATE_CHANGE) {
            auto view = std::dynamic_pointer_cast<rtc::IRTCRegistrationStateChangeEvent>(event);
            if (view && (view->State() == rtc::RTCRS_REGISTERED ||
                         view->State() == rtc::RTCRS_REJECTED || view->State() == rtc::RTCRS_ERROR))
                m_registration = view->State();
        } else if (type == rtc::RTCE_SESSION_STATE_CHANGE) {
            auto view = std::dynamic_pointer_cast<rtc::IRTCSessionStateChangeEvent>(event);
            if (!view)
                return;
            if (view->State() == rtc::RTCSS_CONNECTED)
                m_connectedAt = Clock::now();
            m_sessionState = view->State();
        }
    }

    const Exchange *m_exchange = nullptr;
    QTemporaryDir m_home{QDir::tempPath() + QStringLiteral("/kirrow-bench-XXXXXX")};
    std::unique_ptr<rtc::LinphoneClient> m_client;
    rtc::IRTCProfilePtr m_profile;
    long m_registration = -1;
    long m_sessionState = -1;
    Clock::time_point m_connectedAt{};
};

// ---- linphonec ----------------------------------------------------------------------------------

class Linphonec {
public:
    explicit Linphonec(QString program) : m_program(std::move(program)) {}
    ~Linphonec() { stop(); }

    bool start(const Exchange &exchange, QString *error) {
        m_exchange = &exchange;
        const quint16 sipPort = freeLoopbackUdpPort();
        const quint16 rtpPort = freeRtpPort();
        if (!m_home.isValid() || sipPort == 0 || rtpPort == 0)
            return *error = QStringLiteral("linphonec: cannot prepare its folder"), false;
        const QString server = exchange.address();
        const QString config =
            QStringLiteral("[sip]\nsip_port=%1\nsip_tcp_port=0\nsip_tls_port=0\n"
                           "bind_address=127.0.0.1\nipv6=0\ndefault_proxy=0\n"
                           "use_info=0\nuse_rfc2833=1\n"
                           "[rtp]\naudio_rtp_port=%2\nbind_address=127.0.0.1\n"
                           "[video]\ncapture=0\ndisplay=0\nautomatically_initiate=0\n"
                           "[proxy_0]\nreg_proxy=<sip:%3;transport=udp>\n"
                           "reg_identity=sip:%4@%3\nreg_expires=600\nreg_sendregister=1\n"
                           "[auth_info_0]\nusername=%4\nuserid=%4\npasswd=%5\ndomain=%3\n"
                           "[storage]\nuri=:memory:\ncall_logs_db_uri=:memory:\n"
                           "zrtp_secrets_db_uri=:memory:\n")
                .arg(sipPort)
                .arg(rtpPort)
                .arg(server, kLinphonec.user, kLinphonec.password);
        QFile file(m_home.filePath(QStringLiteral("linphonerc")));
        if (!file.open(QIODevice::WriteOnly) || file.write(config.toUtf8()) < 0)
            return *error = QStringLiteral("linphonec: cannot write its configuration"), false;
        file.close();
        exchange.forget(kLinphonec.user);

        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("HOME"), m_home.path());
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), m_home.filePath(QStringLiteral("config")));
        env.insert(QStringLiteral("XDG_DATA_HOME"), m_home.filePath(QStringLiteral("data")));
        env.insert(QStringLiteral("XDG_CACHE_HOME"), m_home.filePath(QStringLiteral("cache")));
        m_process.setProcessEnvironment(env);
        m_process.setProcessChannelMode(QProcess::MergedChannels);
        m_process.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
        QObject::connect(&m_process, &QProcess::readyReadStandardOutput, &m_process, [this] {
            const auto seen = Clock::now();
            m_pending += m_process.readAllStandardOutput();
            qsizetype newline;
            while ((newline = m_pending.indexOf('\n')) >= 0) {
                const QString line = QString::fromUtf8(m_pending.left(newline)).trimmed();
                m_pending.remove(0, newline + 1);
                m_log << line;
                m_lines.push_back({seen, line});
            }
        });
        // `timeout` bounds its life; stdbuf keeps its output line by line on the pipe.
        m_process.start(QStringLiteral("timeout"),
                        {QStringLiteral("--kill-after=5"), QStringLiteral("7200"),
                         QStringLiteral("stdbuf"), QStringLiteral("-oL"), m_program,
                         QStringLiteral("-c"), file.fileName()});
        if (!m_process.waitForStarted(10000))
            return *error = QStringLiteral("linphonec: cannot start %1").arg(m_program), false;
        const bool registered = waitUntil(
            [&] {
                return m_process.state() == QProcess::NotRunning ||
                       exchange.liveContacts(kLinphonec.user) > 0;
            },
            20000);
        if (!registered || m_process.state() == QProcess::NotRunning) {
            *error = QStringLiteral("linphonec: not registered:\n%1").arg(m_log.join('\n'));
            return false;
        }
        // The program under `timeout` (stdbuf execs it): the process to measure.
        waitUntil([&] { return (m_pid = childOf(m_process.processId())) > 0; }, 5000);
        return m_pid > 0;
    }

    std::optional<CallSample> call(const SippPeer &far, SipCapture &capture, int callSeconds,
                                   QString *error) {
        static const QRegularExpression connected(
            QStringLiteral("^Call \\d+ with .* connected\\.$"));
        static const QRegularExpression ended(
            QStringLiteral("^Call \\d+ with .* (ended|error)|^Call \\d+ .*(declined|failed)"));
        CallSample sample;
        m_lines.clear();
        const auto placed = Clock::now();
        send(QStringLiteral("call sip:%1@%2").arg(kCallee.user, m_exchange->address()));
        auto found = [&](const QRegularExpression &re) -> std::optional<Clock::time_point> {
            for (const auto &[when, line] : m_lines)
                if (re.match(line).hasMatch())
                    return when;
            return std::nullopt;
        };
        if (!waitUntil([&] { return found(connected) || found(ended); }, 20000) ||
            !found(connected)) {
            *error = QStringLiteral("linphonec: the call did not connect:\n%1")
                         .arg(m_log.mid(std::max<qsizetype>(0, m_log.size() - 15)).join('\n'));
            send(QStringLiteral("terminate"));
            return std::nullopt;
        }
        sample.setupMs = msBetween(placed, *found(connected));

        spin(1000);
        const double pressed = wallSeconds();
        send(QStringLiteral("5"));
        if (waitUntil([&] { return capture.rtpEvents(far.mediaPort()).contains(5); }, 20000)) {
            if (auto t = firstEventTime(capture, far.mediaPort()))
                sample.keyMs = (*t - pressed) * 1000.0;
        } else {
            err() << "linphonec: no telephone-event reached the far end\n";
        }
        capture.stop();

        const double cpu0 = cpuSecondsOf(m_pid);
        spin(callSeconds * 1000);
        sample.usage.cpuSeconds = cpuSecondsOf(m_pid) - cpu0;
        sample.usage.rssKiB = statusKiB(m_pid, "VmRSS");
        sample.usage.hwmKiB = statusKiB(m_pid, "VmHWM");

        m_lines.clear();
        send(QStringLiteral("terminate"));
        if (!waitUntil([&] { return found(ended).has_value(); }, 20000))
            err() << "linphonec: no end of call after terminate\n";
        spin(200);
        return sample;
    }

    void stop() {
        if (m_process.state() == QProcess::NotRunning)
            return;
        send(QStringLiteral("quit"));
        bench::endProcess(m_process);
        if (m_exchange)
            m_exchange->forget(kLinphonec.user);
    }

    qint64 pid() const { return m_pid; }

    QString version() {
        QProcess p;
        p.start(QStringLiteral("timeout"), {QStringLiteral("10"), m_program, QStringLiteral("-v")});
        p.waitForFinished(15000);
        static const QRegularExpression number(QStringLiteral("\\d+\\.\\d+(\\.\\d+)?"));
        const auto match = number.match(QString::fromUtf8(p.readAll()));
        return match.hasMatch() ? match.captured() : QStringLiteral("?");
    }

private:
    void send(const QString &line) { m_process.write((line + QLatin1Char('\n')).toUtf8()); }

    static qint64 childOf(qint64 pid) {
        QFile file(QStringLiteral("/proc/%1/task/%1/children").arg(pid));
        if (!file.open(QIODevice::ReadOnly))
            return 0;
        return file.readAll().trimmed().split(' ').value(0).toLongLong();
    }

    QString m_program;
    const Exchange *m_exchange = nullptr;
    QTemporaryDir m_home{QDir::tempPath() + QStringLiteral("/kirrow-bench-linphonec-XXXXXX")};
    QProcess m_process;
    qint64 m_pid = 0;
    QByteArray m_pending;
    QStringList m_log;
    std::vector<std::pair<Clock::time_point, QString>> m_lines;
};

// ---- one call, either client --------------------------------------------------------------------

template <typename Phone>
std::optional<CallSample> measureCall(Phone &phone, const Exchange &exchange, int callSeconds,
                                      QString *error) {
    auto far = bench::answeringPeer(exchange, kCallee, callSeconds * 1000 + 120000, error);
    if (!far)
        return std::nullopt;
    SipCapture capture;
    capture.addPort(far->mediaPort());
    capture.setTelephoneEventPayloadType(101);
    if (!capture.start(error, callSeconds + 180))
        return std::nullopt;
    auto sample = phone.call(*far, capture, callSeconds, error);
    capture.stop();
    if (!far->waitForExit(10000)) {
        err() << "the far end did not see the call end\n";
        far->stop();
    }
    exchange.forget(kCallee.user);
    return sample;
}

QString number(double value, int decimals = 1) {
    return value < 0 ? QStringLiteral("-") : QString::number(value, 'f', decimals);
}

} // namespace

int main(int argc, char *argv[]) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("Kirrow"));
    QCoreApplication::setOrganizationName(QStringLiteral("Kirrow"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Call set-up, key-to-wire and in-call CPU/memory of Kirrow's engine and of linphonec."));
    parser.addHelpOption();
    const bench::CommonOptions common;
    common.addTo(parser, true);
    const QCommandLineOption secondsOption(QStringLiteral("call-seconds"),
                                           QStringLiteral("How long each call lasts (CPU, RSS)."),
                                           QStringLiteral("s"), QStringLiteral("60"));
    const QCommandLineOption linphonecOption(
        QStringLiteral("linphonec"),
        QStringLiteral("The linphonec program; \"none\" to leave it out."),
        QStringLiteral("program"), QStringLiteral("linphonec"));
    parser.addOptions({secondsOption, linphonecOption});
    parser.process(app);

    const int runs = common.runCount(parser);
    const int warmup = common.warmupCount(parser);
    const int callSeconds = std::max(1, parser.value(secondsOption).toInt());
    const bool withLinphonec = parser.value(linphonecOption) != QLatin1String("none");
    if (parser.isSet(common.server) != parser.isSet(common.ctl)) {
        err() << "bench_calls: --server and --ctl go together\n";
        return 2;
    }

    Exchange exchange;
    QString error;
    if (!exchange.start(parser.value(common.server), parser.value(common.ctl),
                        {kKirrow, kCallee, kLinphonec}, &error)) {
        err() << "bench_calls: " << error << "\n";
        return 1;
    }
    KirrowPhone kirrow;
    if (!kirrow.start(exchange, &error)) {
        err() << "bench_calls: " << error << "\n";
        return 1;
    }
    Linphonec linphonec(parser.value(linphonecOption));
    if (withLinphonec && !linphonec.start(exchange, &error)) {
        err() << "bench_calls: " << error << "\n";
        return 1;
    }

    // measure -> client -> values
    // Kirrow's figures here are its engine's, in this process, not the program's.
    const QStringList measures{
        QStringLiteral("engine call set-up (ms)"),
        QStringLiteral("engine key -> RFC 2833 on wire (ms)"),
        QStringLiteral("engine CPU in %1 s call (s)").arg(callSeconds),
        QStringLiteral("engine VmRSS end of call (MiB)"),
        QStringLiteral("engine VmHWM (MiB)"),
        QStringLiteral("engine CPU registered, idle %1 s (s)").arg(callSeconds)};
    std::map<QString, std::map<QString, QList<double>>> values;
    auto record = [&](const QString &client, const CallSample &s) {
        const double v[] = {s.setupMs, s.keyMs, s.usage.cpuSeconds,
                            s.usage.rssKiB < 0 ? -1 : s.usage.rssKiB / 1024,
                            s.usage.hwmKiB < 0 ? -1 : s.usage.hwmKiB / 1024};
        for (size_t i = 0; i < std::size(v); ++i) // the idle row is recorded on its own
            if (v[i] >= 0)
                values[measures[qsizetype(i)]][client] << v[i];
    };

    out() << "exchange " << exchange.address() << ", " << warmup << " warm-up and " << runs
          << " measured runs, calls of " << callSeconds << " s\n";
    out() << QStringLiteral("%1 %2 %3 %4 %5\n")
                 .arg(QStringLiteral("run"), -8)
                 .arg(QStringLiteral("client"), -10)
                 .arg(QStringLiteral("set-up ms"), 10)
                 .arg(QStringLiteral("key ms"), 10)
                 .arg(QStringLiteral("CPU s"), 8);
    out().flush();

    int failures = 0;
    for (int i = 0; i < warmup + runs; ++i) {
        const bool counted = i >= warmup;
        const QString label = counted ? QString::number(i - warmup + 1) : QStringLiteral("warm-up");
        auto run = [&](const QString &client) {
            QString why;
            const auto sample = client == QLatin1String("Kirrow")
                                    ? measureCall(kirrow, exchange, callSeconds, &why)
                                    : measureCall(linphonec, exchange, callSeconds, &why);
            if (!sample) {
                err() << "run " << label << ": " << why << "\n";
                err().flush();
                ++failures;
                return;
            }
            if (counted)
                record(client, *sample);
            out() << QStringLiteral("%1 %2 %3 %4 %5\n")
                         .arg(label, -8)
                         .arg(client, -10)
                         .arg(number(sample->setupMs), 10)
                         .arg(number(sample->keyMs), 10)
                         .arg(number(sample->usage.cpuSeconds, 2), 8);
            out().flush();
        };
        // Both registered and idle over the same stretch, before the calls.
        if (counted) {
            const double kirrow0 = cpuSecondsOf(0);
            const double linphonec0 = withLinphonec ? cpuSecondsOf(linphonec.pid()) : 0;
            spin(callSeconds * 1000);
            values[measures.last()][QStringLiteral("Kirrow")] << cpuSecondsOf(0) - kirrow0;
            if (withLinphonec)
                values[measures.last()][QStringLiteral("linphonec")]
                    << cpuSecondsOf(linphonec.pid()) - linphonec0;
        }
        QStringList order{QStringLiteral("Kirrow")};
        if (withLinphonec)
            i % 2 == 0 ? order.append(QStringLiteral("linphonec"))
                       : order.prepend(QStringLiteral("linphonec"));
        for (const QString &client : order)
            run(client);
    }

    out() << "\n"
          << QStringLiteral("%1 %2 %3\n")
                 .arg(QStringLiteral("measure"), -32)
                 .arg(QStringLiteral("Kirrow median (min-max)"), -30)
                 .arg(QStringLiteral("linphonec median (min-max)"), -30);
    for (const QString &measure : measures) {
        QString line = QStringLiteral("%1").arg(measure, -32);
        for (const QString &client : {QStringLiteral("Kirrow"), QStringLiteral("linphonec")}) {
            const QList<double> list = values[measure][client];
            const int decimals = measure.startsWith(QLatin1String("CPU")) ? 2 : 1;
            line +=
                list.isEmpty()
                    ? QStringLiteral(" %1").arg(QStringLiteral("-"), -30)
                    : QStringLiteral(" %1").arg(
                          QStringLiteral("%1 (%2-%3, n=%4)")
                              .arg(number(median(list), decimals))
                              .arg(number(*std::min_element(list.begin(), list.end()), decimals))
                              .arg(number(*std::max_element(list.begin(), list.end()), decimals))
                              .arg(list.size()),
                          -30);
        }
        out() << line << "\n";
    }
    out().flush();

    if (parser.isSet(common.samples)) {
        QList<bench::TableSample> samples;
        for (const QString &measure : measures)
            for (const auto &[client, list] : values[measure])
                for (double value : list)
                    samples << bench::TableSample{QStringLiteral("calls"), measure, client, value,
                                                  2};
        if (!bench::appendSamples(parser.value(common.samples), samples,
                                  QStringLiteral("bench_calls")))
            return 1;
    }

    linphonec.stop();
    kirrow.stop();
    return failures == 0 ? 0 : 1;
}
