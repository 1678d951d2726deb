// bench_soak: what a long day of calls leaves behind in a phone, the real Kirrow program or
// linphonec (the same engine, driven through its input). Prints numbers; never judges them.
//
// One client per run of this program (bench/run runs one of each side by side):
//   - calls: the client calls a sipp far end registered at the exchange, which answers, stays
//     --hold-ms in the call and hangs up itself; the next call is placed once this one has
//     ended. Kirrow is started as a user starts it, logged in by typing into its dialog, and
//     each call placed with a click on its Call button (the number box keeps the number dialled
//     first); a call has ended when the program has written it to its recent-calls file.
//     linphonec is given "call sip:..." on its input; a call has ended at its line "Call N with
//     ... ended".
//   - then a flood of INVITEs straight to the client's SIP port (sipp's invite-flood.xml at
//     --flood-rate a second): each caller is turned away busy or rings and gives up after 2 s.
//     Kirrow takes calls from anyone who reaches its port only with direct calls allowed in its
//     settings, which it is given here, so that its engine handles each INVITE, as it would
//     handle a flood coming through the exchange.
// VmRSS, open file descriptors and threads of the client's process are read after 0, 10, 100,
// 250, 500 and 1000 calls (those within --calls, and the last), and after every 1000 INVITEs
// (a quarter of the flood when it is under 2000). With --settle-ms, each step of the calls is
// read again after the client has been left idle that long: the SIP stack keeps a finished
// transaction for 32 s (64 times SIP's T1) over UDP, so at the pace of these calls what it holds
// at a step is the last 32 s of calls, not the day's.
//
// The exchange is the one named by --server and --ctl (it must know 1001/kirrow1001 to
// 1004/kirrow1004); without them one is started here. Kirrow (1001) calls 1002, linphonec (1003)
// calls 1004, so two runs can share the exchange.

#include "benchcommon.h"
#include "kirrowprogram.h"
#include "sipppeer.h"
#include "xdo.h"

#include <QCommandLineParser>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <filesystem>
#include <memory>
#include <optional>

#include <sys/prctl.h>
#include <sys/stat.h>

namespace {

using namespace bench;

const Account kKirrow{QStringLiteral("1001"), QStringLiteral("kirrow1001")};
const Account kKirrowCallee{QStringLiteral("1002"), QStringLiteral("kirrow1002")};
const Account kLinphonec{QStringLiteral("1003"), QStringLiteral("kirrow1003")};
const Account kLinphonecCallee{QStringLiteral("1004"), QStringLiteral("kirrow1004")};

constexpr int kCallTimeoutMs = 30000;

struct Usage {
    qint64 rssKiB = -1;
    int fds = -1;
    int threads = -1;
};

Usage usageOf(qint64 pid) {
    Usage usage;
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return usage;
    for (const QByteArray &line : status.readAll().split('\n')) {
        const QByteArray value = line.mid(line.indexOf(':') + 1).trimmed().split(' ').value(0);
        if (line.startsWith("VmRSS:"))
            usage.rssKiB = value.toLongLong();
        else if (line.startsWith("Threads:"))
            usage.threads = value.toInt();
    }
    std::error_code error;
    int fds = 0;
    for (std::filesystem::directory_iterator it("/proc/" + std::to_string(pid) + "/fd", error), end;
         !error && it != end; it.increment(error))
        ++fds;
    usage.fds = error ? -1 : fds;
    return usage;
}

// A file's identity as it changes: the program writes it whole and renames it over the old one.
struct FileStamp {
    ino_t inode = 0;
    qint64 mtimeNs = 0;
    qint64 ctimeNs = 0;
    bool operator==(const FileStamp &) const = default;
};

FileStamp stampOf(const QString &path) {
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return {};
    return {st.st_ino, st.st_mtim.tv_sec * 1000000000LL + st.st_mtim.tv_nsec,
            st.st_ctim.tv_sec * 1000000000LL + st.st_ctim.tv_nsec};
}

// The address a client registered at the exchange ("127.0.0.1:port"): where it takes SIP.
QString registeredAddress(const Exchange &exchange, const QString &user) {
    static const QRegularExpression contact(QStringLiteral("sip:[^@\\s]*@([0-9.]+)(:\\d+)?"));
    const QRegularExpressionMatch match = contact.match(exchange.rpc(
        {QStringLiteral("ul.lookup"), QStringLiteral("location"), QStringLiteral("s:") + user}));
    if (!match.hasMatch())
        return {};
    // No port: SIP's own, which the engine takes when it is free.
    return match.captured(1) +
           (match.capturedLength(2) ? match.captured(2) : QStringLiteral(":5060"));
}

// ---- the two clients ----------------------------------------------------------------------------

class Client {
public:
    virtual ~Client() = default;
    virtual QString name() const = 0;
    virtual Account account() const = 0;
    virtual Account callee() const = 0;
    // Starts and registers it; records a test failure when it cannot.
    virtual void start(const Exchange &exchange) = 0;
    // Places one call to the callee, and returns once it has ended.
    virtual void callAndWaitForEnd(const Exchange &exchange, bool first) = 0;
    virtual qint64 pid() = 0;
    // Where it takes SIP ("127.0.0.1:port").
    virtual QString sipAddress(const Exchange &exchange) = 0;
};

class KirrowClient : public Client {
public:
    explicit KirrowClient(const QString &binary) : m_kirrow(binary) {}
    QString name() const override { return QStringLiteral("Kirrow"); }
    Account account() const override { return kKirrow; }
    Account callee() const override { return kKirrowCallee; }

    void start(const Exchange &exchange) override {
        {
            QSettings settings(m_kirrow.settingsFile(), QSettings::IniFormat);
            settings.setValue(QStringLiteral("Connection/DirectCalls"), true);
        }
        exchange.forget(kKirrow.user);
        m_kirrow.startRegistered(exchange.address(), kKirrow.user, kKirrow.password);
        m_log = m_kirrow.dataFile(QStringLiteral("recentcall.txt"));
    }

    void callAndWaitForEnd(const Exchange &, bool first) override {
        const FileStamp before = stampOf(m_log);
        if (first) {
            // Typed once into the number box, which keeps it for every later click on Call.
            const atspi::Node number = m_kirrow.control(
                QStringLiteral("Kirrow"), QStringLiteral("Number"), QStringLiteral("text"));
            m_kirrow.click(number);
            QTRY_VERIFY(number.focused());
            xdo::type(callee().user);
            QTRY_COMPARE(number.text(), callee().user);
            m_call = m_kirrow.control(QStringLiteral("Call"), QStringLiteral("push button"));
            QVERIFY(!m_call.isNull());
            m_callPlace = m_call.extents().center();
        }
        QTRY_VERIFY_WITH_TIMEOUT(m_call.enabled(), kCallTimeoutMs);
        xdo::clickAt(m_callPlace);
        QTRY_VERIFY2_WITH_TIMEOUT(
            !(stampOf(m_log) == before),
            qPrintable(QStringLiteral("no call ended; the status line: ") + m_kirrow.statusLine()),
            kCallTimeoutMs);
    }

    qint64 pid() override { return m_kirrow.pid(); }
    QString sipAddress(const Exchange &exchange) override {
        return registeredAddress(exchange, kKirrow.user);
    }

private:
    KirrowProgram m_kirrow;
    QString m_log;
    atspi::Node m_call;
    QPoint m_callPlace;
};

class LinphonecClient : public Client {
public:
    explicit LinphonecClient(QString program) : m_program(std::move(program)) {}
    ~LinphonecClient() override { stop(); }
    QString name() const override { return QStringLiteral("linphonec"); }
    Account account() const override { return kLinphonec; }
    Account callee() const override { return kLinphonecCallee; }

    void start(const Exchange &exchange) override {
        m_port = freeLoopbackUdpPort();
        QVERIFY(m_home.isValid() && m_port != 0);
        // The configuration bench_calls gives it; RTP on ports it picks, as calls follow each
        // other faster than the engine frees one.
        const QString config =
            QStringLiteral("[sip]\nsip_port=%1\nsip_tcp_port=0\nsip_tls_port=0\n"
                           "bind_address=127.0.0.1\nipv6=0\ndefault_proxy=0\n"
                           "use_info=0\nuse_rfc2833=1\n"
                           "[rtp]\naudio_rtp_port=-1\nbind_address=127.0.0.1\n"
                           "[video]\ncapture=0\ndisplay=0\nautomatically_initiate=0\n"
                           "[proxy_0]\nreg_proxy=<sip:%2;transport=udp>\n"
                           "reg_identity=sip:%3@%2\nreg_expires=3600\nreg_sendregister=1\n"
                           "[auth_info_0]\nusername=%3\nuserid=%3\npasswd=%4\ndomain=%2\n"
                           "[storage]\nuri=:memory:\ncall_logs_db_uri=:memory:\n"
                           "zrtp_secrets_db_uri=:memory:\n")
                .arg(m_port)
                .arg(exchange.address(), kLinphonec.user, kLinphonec.password);
        QFile file(m_home.filePath(QStringLiteral("linphonerc")));
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(config.toUtf8()) > 0);
        file.close();
        exchange.forget(kLinphonec.user);

        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("HOME"), m_home.path());
        for (const char *name : {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME"})
            env.insert(QString::fromLatin1(name),
                       m_home.filePath(QString::fromLatin1(name).mid(4).toLower()));
        m_process.setProcessEnvironment(env);
        m_process.setProcessChannelMode(QProcess::MergedChannels);
        m_process.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
        QObject::connect(&m_process, &QProcess::readyReadStandardOutput, &m_process, [this] {
            static const QRegularExpression ended(
                QStringLiteral("^Call \\d+ with .* (ended|error)|^Call \\d+ .*(declined|failed)"));
            m_pending += m_process.readAllStandardOutput();
            qsizetype newline;
            while ((newline = m_pending.indexOf('\n')) >= 0) {
                const QString line = QString::fromUtf8(m_pending.left(newline)).trimmed();
                m_pending.remove(0, newline + 1);
                if (ended.match(line).hasMatch())
                    ++m_ended;
                m_last = line;
            }
        });
        // `timeout` bounds its life; stdbuf keeps its output line by line on the pipe.
        m_process.start(QStringLiteral("timeout"),
                        {QStringLiteral("--kill-after=5"), QStringLiteral("14400"),
                         QStringLiteral("stdbuf"), QStringLiteral("-oL"), m_program,
                         QStringLiteral("-c"), file.fileName()});
        QVERIFY2(m_process.waitForStarted(10000), qPrintable(m_program));
        QTRY_VERIFY_WITH_TIMEOUT(exchange.liveContacts(kLinphonec.user) > 0, 20000);
        // The program under `timeout` (stdbuf execs it): the process to measure.
        const QString children =
            QStringLiteral("/proc/%1/task/%1/children").arg(m_process.processId());
        QTRY_VERIFY((m_pid = childOf(children)) > 0);
    }

    void callAndWaitForEnd(const Exchange &exchange, bool) override {
        const int ended = m_ended;
        send(QStringLiteral("call sip:%1@%2").arg(callee().user, exchange.address()));
        QTRY_VERIFY2_WITH_TIMEOUT(m_ended > ended,
                                  qPrintable(QStringLiteral("no call ended; last "
                                                            "line: ") +
                                             m_last),
                                  kCallTimeoutMs);
    }

    qint64 pid() override { return m_pid; }
    QString sipAddress(const Exchange &) override {
        return QStringLiteral("127.0.0.1:%1").arg(m_port);
    }

    void stop() {
        if (m_process.state() == QProcess::NotRunning)
            return;
        send(QStringLiteral("quit"));
        bench::endProcess(m_process);
    }

private:
    void send(const QString &line) { m_process.write((line + QLatin1Char('\n')).toUtf8()); }
    static qint64 childOf(const QString &childrenFile) {
        QFile file(childrenFile);
        return file.open(QIODevice::ReadOnly)
                   ? file.readAll().trimmed().split(' ').value(0).toLongLong()
                   : 0;
    }

    QString m_program;
    QTemporaryDir m_home{QDir::tempPath() + QStringLiteral("/kirrow-soak-linphonec-XXXXXX")};
    QProcess m_process;
    quint16 m_port = 0;
    qint64 m_pid = 0;
    QByteArray m_pending;
    QString m_last;
    int m_ended = 0;
};

// ---- the run ------------------------------------------------------------------------------------

struct Settings {
    QString client;
    QString kirrowBinary;
    QString linphonec;
    QString server;
    QString ctl;
    QString samples;
    int calls = 1000;
    int flood = 5000;
    int floodRate = 200;
    int holdMs = 200;
    int settleMs = 0;
};

class Soak : public QObject {
    Q_OBJECT
public:
    explicit Soak(Settings settings) : m_settings(std::move(settings)) {}

private slots:
    void soak();

private:
    struct Step {
        QString label; // "calls", "INVITEs"
        int count;
        Usage usage;
    };
    void record(const QString &label, int count, qint64 pid);
    void writeSamples(const QString &client);

    Settings m_settings;
    QList<Step> m_steps;
};

void Soak::record(const QString &label, int count, qint64 pid) {
    const Usage usage = usageOf(pid);
    m_steps << Step{label, count, usage};
    out() << QStringLiteral("%1 %2  VmRSS %3 MiB  fds %4  threads %5\n")
                 .arg(count, 6)
                 .arg(label, -8)
                 .arg(static_cast<double>(usage.rssKiB) / 1024, 7, 'f', 1)
                 .arg(usage.fds, 4)
                 .arg(usage.threads, 3);
    out().flush();
}

void Soak::soak() {
    const Settings &s = m_settings;
    Exchange exchange;
    QString error;
    QVERIFY2(exchange.start(s.server, s.ctl, {kKirrow, kKirrowCallee, kLinphonec, kLinphonecCallee},
                            &error),
             qPrintable(error));
    std::unique_ptr<Client> client;
    if (s.client == QLatin1String("kirrow"))
        client = std::make_unique<KirrowClient>(s.kirrowBinary);
    else
        client = std::make_unique<LinphonecClient>(s.linphonec);

    // The far end: answers each call, holds it, hangs up; as many calls as the run makes.
    SippPeer::Options answering;
    answering.scenario = QStringLiteral("answer-hangup.xml");
    answering.pauseMs = s.holdMs;
    answering.calls = s.calls;
    answering.timeoutMs = s.calls * 30000 + 60000;
    SippPeer far(answering);
    QVERIFY2(far.start(&error), qPrintable(error));
    // Registrations last an hour at most at the exchange: long enough for a run.
    registerSippContact(exchange.address(), client->callee().user, client->callee().password,
                        far.port(), 3600);

    client->start(exchange);
    if (QTest::currentTestFailed())
        return;
    const qint64 pid = client->pid();
    // Where it takes SIP, as it registered it (the port stays for the program's life).
    QString target;
    QTRY_VERIFY2_WITH_TIMEOUT(
        !(target = client->sipAddress(exchange)).isEmpty(),
        qPrintable(QStringLiteral("the exchange holds for %1:\n%2")
                       .arg(client->account().user,
                            exchange.rpc({QStringLiteral("ul.lookup"), QStringLiteral("location"),
                                          QStringLiteral("s:") + client->account().user}))),
        20000);
    out() << client->name() << " (pid " << pid << ") calls " << client->callee().user << " at "
          << exchange.address() << ": " << s.calls << " calls, then " << s.flood << " INVITEs at "
          << s.floodRate << "/s to " << target << "\n";
    record(QStringLiteral("calls"), 0, pid);

    QElapsedTimer clock;
    clock.start();
    const QList<int> callSteps{10, 100, 250, 500, 1000};
    for (int i = 1; i <= s.calls; ++i) {
        client->callAndWaitForEnd(exchange, i == 1);
        if (QTest::currentTestFailed()) {
            err() << client->name() << ": call " << i << " failed\n" << far.report() << "\n";
            return;
        }
        if (callSteps.contains(i) || i == s.calls) {
            record(QStringLiteral("calls"), i, pid);
            if (s.settleMs > 0) {
                QTest::qWait(s.settleMs);
                record(QStringLiteral("calls, settled"), i, pid);
            }
        }
    }
    out() << s.calls << " calls in " << clock.elapsed() / 1000 << " s\n";
    QVERIFY2(far.waitForExit(kCallTimeoutMs), qPrintable(far.report()));
    exchange.forget(client->callee().user);

    const int batch = s.flood >= 2000 ? 1000 : std::max(1, s.flood / 4);
    for (int sent = 0; sent < s.flood;) {
        const int now = std::min(batch, s.flood - sent);
        SippPeer callers({.scenario = QStringLiteral("invite-flood.xml"),
                          .remote = target,
                          .calls = now,
                          .timeoutMs = now * 1000 / s.floodRate + 120000,
                          .extraArguments = {QStringLiteral("-r"), QString::number(s.floodRate)}});
        QVERIFY2(callers.start(&error), qPrintable(error));
        QVERIFY2(callers.waitForExit(now * 1000 / s.floodRate + 150000),
                 qPrintable(callers.report()));
        // What the client did with them: turned away busy, or left them ringing until they gave
        // up (each counted once, whatever was sent again).
        static const QRegularExpression callId(QStringLiteral("(?im)^Call-ID:\\s*(\\S+)"));
        QSet<QString> busy;
        QSet<QString> rang;
        for (const QString &message : callers.receivedMessages()) {
            if (message.startsWith(QLatin1String("SIP/2.0 486")))
                busy.insert(callId.match(message).captured(1));
            else if (message.startsWith(QLatin1String("SIP/2.0 180")))
                rang.insert(callId.match(message).captured(1));
        }
        // And how many played the scenario to its end (sipp's count): a caller fails when its
        // INVITE goes unanswered through sipp's retransmissions, or an answer comes it does not
        // expect.
        static const QRegularExpression failed(
            QStringLiteral("Failed call\\s*\\|[^|]*\\|\\s*(\\d+)"));
        const QRegularExpressionMatch failures = failed.match(callers.log());
        out() << "  " << now << " INVITEs: " << busy.size() << " busy, " << rang.size() << " rang, "
              << (failures.hasMatch() ? failures.captured(1) : QStringLiteral("?"))
              << " callers failed (sipp's exit code " << callers.exitCode() << ")\n";
        sent += now;
        record(QStringLiteral("INVITEs"), sent, pid);
    }
    writeSamples(client->name());
}

// The table's rows: each value at each step, then the growth once past the start-up's own:
// per call from the step at a quarter of the calls to the last, per INVITE from the first
// step of the flood to its last.
void Soak::writeSamples(const QString &client) {
    QList<TableSample> samples;
    const auto add = [&](const QString &measure, double value) {
        samples << TableSample{QStringLiteral("soak"), measure, client, value, 1};
    };
    for (const Step &step : std::as_const(m_steps))
        add(QStringLiteral("VmRSS after %1 %2 (MiB)").arg(step.count).arg(step.label),
            static_cast<double>(step.usage.rssKiB) / 1024);
    for (const Step &step : std::as_const(m_steps))
        add(QStringLiteral("open fds after %1 %2").arg(step.count).arg(step.label), step.usage.fds);
    for (const Step &step : std::as_const(m_steps))
        add(QStringLiteral("threads after %1 %2").arg(step.count).arg(step.label),
            step.usage.threads);

    const auto growth = [&](const QString &label,
                            int fromCount) -> std::optional<std::pair<Step, Step>> {
        std::optional<Step> from, to;
        for (const Step &step : std::as_const(m_steps)) {
            if (step.label != label)
                continue;
            if (!from && step.count >= fromCount)
                from = step;
            to = step;
        }
        if (!from || !to || to->count <= from->count)
            return std::nullopt;
        return std::pair{*from, *to};
    };
    if (auto calls = growth(QStringLiteral("calls"), m_settings.calls / 4)) {
        const auto &[from, to] = *calls;
        const int n = to.count - from.count;
        add(QStringLiteral("VmRSS per call, %1 -> %2 (KiB)").arg(from.count).arg(to.count),
            static_cast<double>(to.usage.rssKiB - from.usage.rssKiB) / n);
        add(QStringLiteral("open fds, %1 -> %2 calls").arg(from.count).arg(to.count),
            to.usage.fds - from.usage.fds);
        add(QStringLiteral("threads, %1 -> %2 calls").arg(from.count).arg(to.count),
            to.usage.threads - from.usage.threads);
    }
    if (auto flood = growth(QStringLiteral("INVITEs"), 1)) {
        const auto &[from, to] = *flood;
        const int n = to.count - from.count;
        add(QStringLiteral("VmRSS per INVITE, %1 -> %2 (bytes)").arg(from.count).arg(to.count),
            static_cast<double>(to.usage.rssKiB - from.usage.rssKiB) * 1024 / n);
        add(QStringLiteral("open fds, %1 -> %2 INVITEs").arg(from.count).arg(to.count),
            to.usage.fds - from.usage.fds);
        add(QStringLiteral("threads, %1 -> %2 INVITEs").arg(from.count).arg(to.count),
            to.usage.threads - from.usage.threads);
    }
    if (!m_settings.samples.isEmpty())
        QVERIFY(appendSamples(m_settings.samples, samples, QStringLiteral("bench_soak")));
}

} // namespace

int main(int argc, char *argv[]) {
    // The pointer is read back through Qt on the X display; the program started inherits it.
    qputenv("QT_QPA_PLATFORM", "xcb");
    // A soak runs for far longer than Qt Test's watchdog lets a test function run by default.
    qputenv("QTEST_FUNCTION_TIMEOUT", "14400000");
    QGuiApplication app(argc, argv);

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Memory, file descriptors and threads of Kirrow or linphonec over many calls and a flood "
        "of INVITEs."));
    parser.addHelpOption();
    const CommonOptions common;
    parser.addOptions({common.samples, common.server, common.ctl});
    const QCommandLineOption client(QStringLiteral("client"),
                                    QStringLiteral("kirrow or linphonec."), QStringLiteral("name"),
                                    QStringLiteral("kirrow"));
    const QCommandLineOption kirrow(QStringLiteral("kirrow"), QStringLiteral("The program."),
                                    QStringLiteral("path"));
    const QCommandLineOption linphonec(QStringLiteral("linphonec"),
                                       QStringLiteral("The linphonec program."),
                                       QStringLiteral("program"), QStringLiteral("linphonec"));
    const QCommandLineOption calls(QStringLiteral("calls"), QStringLiteral("Calls to make."),
                                   QStringLiteral("n"), QStringLiteral("1000"));
    const QCommandLineOption flood(QStringLiteral("flood"), QStringLiteral("INVITEs to send."),
                                   QStringLiteral("n"), QStringLiteral("5000"));
    const QCommandLineOption floodRate(QStringLiteral("flood-rate"),
                                       QStringLiteral("INVITEs a second."), QStringLiteral("n"),
                                       QStringLiteral("200"));
    const QCommandLineOption hold(QStringLiteral("hold-ms"),
                                  QStringLiteral("How long the far end holds each call."),
                                  QStringLiteral("ms"), QStringLiteral("200"));
    const QCommandLineOption settle(
        QStringLiteral("settle-ms"),
        QStringLiteral("After each step of the calls, how long to leave the client idle before "
                       "reading it again (0: not read again)."),
        QStringLiteral("ms"), QStringLiteral("0"));
    parser.addOptions({client, kirrow, linphonec, calls, flood, floodRate, hold, settle});
    parser.process(app);

    Settings settings{.client = parser.value(client),
                      .kirrowBinary = parser.value(kirrow),
                      .linphonec = parser.value(linphonec),
                      .server = parser.value(common.server),
                      .ctl = parser.value(common.ctl),
                      .samples = parser.value(common.samples),
                      .calls = std::max(1, parser.value(calls).toInt()),
                      .flood = std::max(0, parser.value(flood).toInt()),
                      .floodRate = std::max(1, parser.value(floodRate).toInt()),
                      .holdMs = std::max(0, parser.value(hold).toInt()),
                      .settleMs = std::max(0, parser.value(settle).toInt())};
    if (settings.client != QLatin1String("kirrow") &&
        settings.client != QLatin1String("linphonec")) {
        err() << "bench_soak: --client is kirrow or linphonec\n";
        return 2;
    }
    if (settings.client == QLatin1String("kirrow") && settings.kirrowBinary.isEmpty()) {
        err() << "bench_soak: --kirrow names the program\n";
        return 2;
    }
    if (settings.server.isEmpty() != settings.ctl.isEmpty()) {
        err() << "bench_soak: --server and --ctl go together\n";
        return 2;
    }
    Soak soak(settings);
    return QTest::qExec(&soak, QStringList{QString::fromLocal8Bit(argv[0])});
}

#include "bench_soak.moc"
