// bench_register: how long registering with a SIP exchange takes, Kirrow's engine and baresip in
// the same run against the same kamailio exchange. Prints numbers; never judges them.
//
// Each run, for Kirrow: a fresh rtc::LinphoneClient in fresh XDG folders, set up as the main
// window sets it up (Initialize, event filter, listening, audio), a profile from
// account::BuildProfileText, then EnableProfile; the time is taken from the first REGISTER
// written (the engine's REGISTERING event, which it gives as the request leaves) to the event
// with state REGISTERED, and, as further numbers, from the EnableProfile call and from
// constructing the client. For baresip: a fresh configuration folder and one account; the time from
// starting the process to its "200 OK ... binding" line (and, as a second number, from the first
// REGISTER it writes to its SIP trace). Runs alternate between the two, Kirrow first on odd runs,
// baresip first on even ones. Between runs the account's contacts are removed from the exchange.
//
// The exchange is started here (tests/support's KamailioServer) unless --server and --ctl name a
// running one. --transport tcp or tls registers both over that transport instead of UDP, at an
// exchange started here that listens on it (TLS: its certificate made by a test CA, which both
// are given to trust), the TLS handshake included in the times.

#include "benchcommon.h"
#include "benchengine.h"
#include "linphoneclient.h"
#include "profiletext.h"
#include "serverentry.h"

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
#include <cstdio>
#include <memory>
#include <optional>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

using namespace bench;

struct Sample {
    double fromRequest = -1; // first REGISTER written -> registered
    double fromEnable = -1;  // Kirrow only: EnableProfile call -> registered
    double fromStart = -1;   // new client / process start -> registered
};

// The profile the login makes of the server entry for the transport.
QString profileText(const Exchange &exchange, const QString &transport, const Account &account) {
    if (transport == QLatin1String("udp"))
        return account::BuildProfileText(account.user, account.user, account.password,
                                         exchange.address());
    const account::ServerEntry entry = account::parseServerEntry(exchange.serverEntry(transport));
    return account::BuildProfileText(account.user, account.user, account.password, entry.address(),
                                     entry.address(),
                                     account::transportName(entry.transportOrUdp()));
}

std::optional<Sample> registerKirrow(const Exchange &exchange, const QString &transport,
                                     const Account &account, int timeoutMs, QString *error) {
    QTemporaryDir home(QDir::tempPath() + QStringLiteral("/kirrow-bench-XXXXXX"));
    if (!home.isValid()) {
        *error = QStringLiteral("cannot create a temporary folder");
        return std::nullopt;
    }
    usePrivateFolders(home);
    exchange.forget(account.user);

    Sample sample;
    long finalState = -1;
    long statusCode = 0;
    QString statusText;
    Clock::time_point registeredAt{};
    std::optional<Clock::time_point> sentAt;
    QEventLoop loop;
    const auto started = Clock::now();
    try {
        auto client = std::make_unique<rtc::LinphoneClient>();
        QObject::connect(
            client.get(), &rtc::IRTCClient::Event, &loop,
            [&](long type, const rtc::IRTCEventPtr &event) {
                if (type != rtc::RTCE_REGISTRATION_STATE_CHANGE)
                    return;
                auto view = std::dynamic_pointer_cast<rtc::IRTCRegistrationStateChangeEvent>(event);
                if (!view)
                    return;
                const long state = view->State();
                if (state == rtc::RTCRS_REGISTERING && !sentAt)
                    sentAt = Clock::now();
                if (state == rtc::RTCRS_REGISTERED || state == rtc::RTCRS_REJECTED ||
                    state == rtc::RTCRS_ERROR) {
                    registeredAt = Clock::now();
                    finalState = state;
                    statusCode = view->StatusCode();
                    statusText = view->StatusText();
                    loop.quit();
                }
            });
        setUpAsTheWindowDoes(*client);
        rtc::IRTCProfilePtr profile =
            client->provisioning()->CreateProfile(profileText(exchange, transport, account));

        const auto enabled = Clock::now();
        client->provisioning()->EnableProfile(profile, rtc::RTCRF_REGISTER_ALL);
        QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
        if (finalState < 0)
            loop.exec();
        if (finalState != rtc::RTCRS_REGISTERED) {
            *error = finalState < 0
                         ? QStringLiteral("Kirrow: no registration within %1 ms").arg(timeoutMs)
                         : QStringLiteral("Kirrow: registration ended in state %1 (%2 %3)")
                               .arg(finalState)
                               .arg(statusCode)
                               .arg(statusText);
            return std::nullopt;
        }
        sample.fromEnable = msBetween(enabled, registeredAt);
        if (sentAt)
            sample.fromRequest = msBetween(*sentAt, registeredAt);
        sample.fromStart = msBetween(started, registeredAt);
        // Not timed: the exchange must hold the contact the event announced.
        if (exchange.liveContacts(account.user) < 1) {
            *error = QStringLiteral("Kirrow: REGISTERED, but the exchange has no contact");
            return std::nullopt;
        }
        client.reset(); // stops the engine
    } catch (const rtc::RtcError &e) {
        *error = QStringLiteral("Kirrow: %1").arg(e.description());
        return std::nullopt;
    }
    exchange.forget(account.user);
    return sample;
}

bool writeFile(const QString &path, const QString &text) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(text.toUtf8()) >= 0;
}

// baresip's configuration for one run: a listener on loopback, G.711 and Opus, ALSA for audio,
// one account registering over the transport, trusting the exchange's CA, no console or video
// modules.
bool writeBaresipConfig(const QString &dir, quint16 sipPort, const Exchange &exchange,
                        const QString &transport, const Account &account) {
    const QString config =
        QStringLiteral("poll_method\t\tepoll\n"
                       "sip_listen\t\t127.0.0.1:%1\n"
                       "audio_player\t\talsa,default\n"
                       "audio_source\t\talsa,default\n"
                       "audio_alert\t\talsa,default\n"
                       "module_path\t\t/usr/lib/baresip/modules\n"
                       "module\t\t\tg711.so\n"
                       "module\t\t\topus.so\n"
                       "module\t\t\talsa.so\n"
                       "module_tmp\t\tuuid.so\n"
                       "module_tmp\t\taccount.so\n"
                       "module_app\t\tcontact.so\n"
                       "module_app\t\tmenu.so\n")
            .arg(sipPort) +
        (exchange.caFile().isEmpty() ? QString()
                                     : QStringLiteral("sip_cafile\t\t%1\n").arg(exchange.caFile()));
    const QString server =
        transport == QLatin1String("udp")
            ? exchange.address()
            : account::parseServerEntry(exchange.serverEntry(transport)).address();
    const QString accounts = QStringLiteral("<sip:%1@%2;transport=%3>;auth_pass=%4;regint=600\n")
                                 .arg(account.user, server, transport, account.password);
    return writeFile(dir + QStringLiteral("/config"), config) &&
           writeFile(dir + QStringLiteral("/accounts"), accounts) &&
           writeFile(dir + QStringLiteral("/contacts"), QString());
}

std::optional<Sample> registerBaresip(const QString &baresip, const Exchange &exchange,
                                      const QString &transport, const Account &account,
                                      int timeoutMs, QString *error) {
    QTemporaryDir dir(QDir::tempPath() + QStringLiteral("/kirrow-bench-baresip-XXXXXX"));
    const quint16 port = freeLoopbackUdpPort();
    if (!dir.isValid() || port == 0 ||
        !writeBaresipConfig(dir.path(), port, exchange, transport, account)) {
        *error = QStringLiteral("baresip: cannot prepare its configuration");
        return std::nullopt;
    }
    exchange.forget(account.user);

    // "1002@127.0.0.1:5070: {0/UDP/v4} 200 OK (kirrow-test-exchange) [1 binding]"
    static const QRegularExpression statusLine(QStringLiteral("\\{[^}]*\\} (\\d{3}) "));
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.setStandardInputFile(QProcess::nullDevice());
    process.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
    QEventLoop loop;
    QByteArray pending;
    QStringList lines;
    std::optional<Clock::time_point> firstRegister, registeredAt;
    QString failure;
    QObject::connect(&process, &QProcess::readyReadStandardOutput, &loop, [&] {
        const auto seen = Clock::now();
        pending += process.readAllStandardOutput();
        qsizetype newline;
        while ((newline = pending.indexOf('\n')) >= 0) {
            const QString line = QString::fromUtf8(pending.left(newline)).trimmed();
            pending.remove(0, newline + 1);
            lines << line;
            if (!firstRegister && line.startsWith(QLatin1String("REGISTER sip:")))
                firstRegister = seen;
            const auto match = statusLine.match(line);
            if (match.hasMatch() && !registeredAt) {
                if (match.captured(1) == QLatin1String("200")) {
                    registeredAt = seen;
                    loop.quit();
                } else {
                    failure = line;
                    loop.quit();
                }
            }
        }
    });
    QObject::connect(&process, &QProcess::finished, &loop, &QEventLoop::quit);
    QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);

    // `timeout` bounds its life whatever happens here; -s prints the SIP trace.
    const auto started = Clock::now();
    process.start(QStringLiteral("timeout"),
                  {QStringLiteral("--kill-after=5"), QString::number(timeoutMs / 1000 + 30),
                   baresip, QStringLiteral("-s"), QStringLiteral("-f"), dir.path()});
    loop.exec();

    std::optional<Sample> result;
    if (registeredAt) {
        Sample sample;
        sample.fromStart = msBetween(started, *registeredAt);
        if (firstRegister)
            sample.fromRequest = msBetween(*firstRegister, *registeredAt);
        if (exchange.liveContacts(account.user) < 1)
            *error = QStringLiteral("baresip: registered, but the exchange has no contact");
        else
            result = sample;
    } else {
        *error = !failure.isEmpty() ? QStringLiteral("baresip: %1").arg(failure)
                 : process.state() == QProcess::NotRunning
                     ? QStringLiteral("baresip exited: %1").arg(lines.join(QLatin1Char('\n')))
                     : QStringLiteral("baresip: no registration within %1 ms").arg(timeoutMs);
    }
    // SIGTERM to `timeout`, which passes it on; baresip then unregisters and exits.
    if (process.state() != QProcess::NotRunning) {
        const qint64 pid = process.processId();
        process.terminate();
        if (!process.waitForFinished(5000) && pid > 0) {
            ::kill(-static_cast<pid_t>(pid), SIGKILL);
            process.waitForFinished(5000);
        }
    }
    exchange.forget(account.user);
    return result;
}

struct Series {
    QString client;
    QString measure;
    QList<double> values;
};

QString number(double value) {
    return value < 0 ? QStringLiteral("-") : QString::number(value, 'f', 1);
}

} // namespace

int main(int argc, char *argv[]) {
    QCoreApplication app(argc, argv);
    // The engine's folders are found the way the program finds them.
    QCoreApplication::setApplicationName(QStringLiteral("Kirrow"));
    QCoreApplication::setOrganizationName(QStringLiteral("Kirrow"));

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Registration time of Kirrow's engine and of baresip, side by side."));
    parser.addHelpOption();
    const bench::CommonOptions common;
    common.addTo(parser, true);
    const QCommandLineOption baresipOption(
        QStringLiteral("baresip"), QStringLiteral("The baresip program; \"none\" to leave it out."),
        QStringLiteral("program"), QStringLiteral("baresip"));
    const QCommandLineOption timeoutOption(
        QStringLiteral("timeout"), QStringLiteral("Longest wait for one registration, in ms."),
        QStringLiteral("ms"), QStringLiteral("20000"));
    const QCommandLineOption transportOption(
        QStringLiteral("transport"),
        QStringLiteral("udp, tcp or tls (these two at an exchange started here)."),
        QStringLiteral("name"), QStringLiteral("udp"));
    parser.addOptions({baresipOption, timeoutOption, transportOption});
    parser.process(app);
    const QString transport = parser.value(transportOption).toLower();
    if (!QStringList{"udp", "tcp", "tls"}.contains(transport)) {
        err() << "bench_register: --transport is udp, tcp or tls\n";
        return 2;
    }
    if (transport != QLatin1String("udp") && parser.isSet(common.server)) {
        err() << "bench_register: --transport " << transport
              << " needs an exchange started here (no --server)\n";
        return 2;
    }

    const int runs = common.runCount(parser);
    const int warmup = common.warmupCount(parser);
    const int timeoutMs = std::max(1000, parser.value(timeoutOption).toInt());
    const QString baresip = parser.value(baresipOption);
    const bool withBaresip = baresip != QLatin1String("none");
    if (parser.isSet(common.server) != parser.isSet(common.ctl)) {
        err() << "bench_register: --server and --ctl go together\n";
        return 2;
    }

    const Account kirrowAccount{QStringLiteral("1001"), QStringLiteral("kirrow1001")};
    const Account baresipAccount{QStringLiteral("1002"), QStringLiteral("kirrow1002")};
    Exchange exchange;
    if (transport != QLatin1String("udp"))
        exchange.listenOnStreams();
    QString error;
    if (!exchange.start(parser.value(common.server), parser.value(common.ctl),
                        {kirrowAccount, baresipAccount}, &error)) {
        err() << "bench_register: " << error << "\n";
        return 1;
    }
    // The engine reads the trust store when it starts, as OpenSSL programs do.
    if (!exchange.caFile().isEmpty())
        qputenv("SSL_CERT_FILE", QFile::encodeName(exchange.caFile()));

    // Rows of bench/run's table: the same measure for both clients, as near as each allows.
    const QString over = transport == QLatin1String("udp")
                             ? QString()
                             : QStringLiteral(" over ") + transport.toUpper();
    const QString request = QStringLiteral("request -> registered") + over;
    const QString start = QStringLiteral("start -> registered") + over;
    Series kirrowRequest{QStringLiteral("Kirrow"), request, {}};
    Series kirrowEnable{
        QStringLiteral("Kirrow"), QStringLiteral("EnableProfile -> registered") + over, {}};
    Series kirrowStart{QStringLiteral("Kirrow"), start, {}};
    Series baresipRequest{QStringLiteral("baresip"), request, {}};
    Series baresipStart{QStringLiteral("baresip"), start, {}};

    out() << "exchange " << exchange.serverEntry(transport) << ", " << warmup << " warm-up and "
          << runs << " measured runs (ms)\n";
    out() << QStringLiteral("%1 %2 %3 %4 %5 %6\n")
                 .arg(QStringLiteral("run"), -8)
                 .arg(QStringLiteral("Kirrow REG"), 15)
                 .arg(QStringLiteral("Kirrow enable"), 15)
                 .arg(QStringLiteral("Kirrow client"), 15)
                 .arg(QStringLiteral("baresip REG"), 15)
                 .arg(QStringLiteral("baresip start"), 15);
    out().flush();

    int failures = 0;
    for (int i = 0; i < warmup + runs; ++i) {
        const bool counted = i >= warmup;
        Sample k, b;
        auto kirrowRun = [&] {
            QString why;
            if (auto s = registerKirrow(exchange, transport, kirrowAccount, timeoutMs, &why))
                k = *s;
            else {
                err() << "run " << i + 1 << ": " << why << "\n";
                ++failures;
            }
        };
        auto baresipRun = [&] {
            if (!withBaresip)
                return;
            QString why;
            if (auto s =
                    registerBaresip(baresip, exchange, transport, baresipAccount, timeoutMs, &why))
                b = *s;
            else {
                err() << "run " << i + 1 << ": " << why << "\n";
                ++failures;
            }
        };
        if (i % 2 == 0) {
            kirrowRun();
            baresipRun();
        } else {
            baresipRun();
            kirrowRun();
        }
        err().flush();
        if (counted) {
            for (auto [series, value] :
                 {std::pair{&kirrowRequest, k.fromRequest}, std::pair{&kirrowEnable, k.fromEnable},
                  std::pair{&kirrowStart, k.fromStart}, std::pair{&baresipRequest, b.fromRequest},
                  std::pair{&baresipStart, b.fromStart}}) {
                if (value >= 0)
                    series->values << value;
            }
        }
        out() << QStringLiteral("%1 %2 %3 %4 %5 %6\n")
                     .arg(counted ? QString::number(i - warmup + 1) : QStringLiteral("warm-up"), -8)
                     .arg(number(k.fromRequest), 15)
                     .arg(number(k.fromEnable), 15)
                     .arg(number(k.fromStart), 15)
                     .arg(number(b.fromRequest), 15)
                     .arg(number(b.fromStart), 15);
        out().flush();
    }

    const QList<const Series *> all{&kirrowRequest, &kirrowEnable, &kirrowStart, &baresipRequest,
                                    &baresipStart};
    for (const auto &[label, pick] : {std::pair<QString, int>{QStringLiteral("median"), 0},
                                      {QStringLiteral("min"), 1},
                                      {QStringLiteral("max"), 2}}) {
        QString line = QStringLiteral("%1").arg(label, -8);
        for (const Series *series : all) {
            double value = -1;
            if (!series->values.isEmpty()) {
                value = pick == 0 ? median(series->values)
                        : pick == 1
                            ? *std::min_element(series->values.begin(), series->values.end())
                            : *std::max_element(series->values.begin(), series->values.end());
            }
            line += QStringLiteral(" %1").arg(number(value), 15);
        }
        out() << line << "\n";
    }
    out() << "Kirrow REG: first REGISTER written (REGISTERING event) -> REGISTERED event; "
             "Kirrow enable: EnableProfile call -> REGISTERED; Kirrow client: new LinphoneClient "
             "-> REGISTERED\n"
             "baresip REG: first REGISTER in its SIP trace -> its 200 OK line; baresip start: "
             "process start -> its 200 OK line\n";
    out().flush();

    if (parser.isSet(common.samples)) {
        QList<bench::TableSample> samples;
        for (const Series *series : all)
            for (double value : series->values)
                samples << bench::TableSample{QStringLiteral("registration"),
                                              series->measure + QStringLiteral(" (ms)"),
                                              series->client, value};
        if (!bench::appendSamples(parser.value(common.samples), samples,
                                  QStringLiteral("bench_register")))
            return 1;
    }
    return failures == 0 ? 0 : 1;
}
