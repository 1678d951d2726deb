// bench_callsetup: what encrypting a call adds to its set-up. Two of Kirrow's engines in this
// process, each registered at the same kamailio exchange, one calling the other, which answers as
// soon as it rings; the time is taken on the caller's side from AddParticipant to the session
// event with state CONNECTED. Three kinds of call, alternating which goes first in every run:
//   plain      encryption off at both ends: RTP, over UDP
//   SRTP       the default ("when possible" at both ends): SRTP agreed through capability
//              negotiation, over UDP
//   SRTP, TLS  the same with both registered over TLS (sips:), the keys travelling encrypted
// Each pair of engines is started once and kept registered, as running phones are; only the
// calls are timed. Prints numbers; never judges them.
//
// The exchange is started here (tests/support's KamailioServer), listening on UDP and TLS. The
// engines need a sound server for their calls (bench/run runs this in its test environment).

#include "benchcommon.h"
#include "benchengine.h"
#include "linphoneclient.h"
#include "profiletext.h"
#include "serverentry.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <functional>
#include <memory>
#include <optional>

namespace {

using namespace bench;

// Runs the event loop until done() or ms have passed; done() as it stands then.
bool waitUntil(const std::function<bool()> &done, int ms) {
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (done())
            loop.quit();
    });
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    poll.start(1);
    if (!done())
        loop.exec();
    return done();
}

// One of Kirrow's engines with folders of its own, registered as account, answering every call
// at once.
class Engine {
public:
    bool start(const Exchange &exchange, const QString &transport, const Account &account,
               rtc::RTC_ENCRYPTION encryption, QString *error) {
        m_account = account;
        if (!m_home.isValid())
            return *error = QStringLiteral("cannot create a temporary folder"), false;
        usePrivateFolders(m_home); // the engine finds its folders when it starts
        exchange.forget(account.user);
        const account::ServerEntry entry =
            account::parseServerEntry(exchange.serverEntry(transport));
        m_domain = entry.address();
        try {
            m_client = std::make_unique<rtc::LinphoneClient>();
            QObject::connect(
                m_client.get(), &rtc::IRTCClient::Event, m_client.get(),
                [this](long type, const rtc::IRTCEventPtr &event) { onEvent(type, event); });
            setUpAsTheWindowDoes(*m_client);
            rtc::ConnectionOptions options;
            options.encryption = encryption;
            m_client->SetConnectionOptions(options);
            m_profile = m_client->provisioning()->CreateProfile(account::BuildProfileText(
                account.user, account.user, account.password, m_domain, m_domain,
                account::transportName(entry.transportOrUdp())));
            m_client->provisioning()->EnableProfile(m_profile, rtc::RTCRF_REGISTER_ALL);
        } catch (const rtc::RtcError &e) {
            *error = QStringLiteral("%1: %2").arg(account.user, e.description());
            return false;
        }
        if (!waitUntil([this] { return m_registration >= 0; }, 20000) ||
            m_registration != rtc::RTCRS_REGISTERED) {
            *error = QStringLiteral("%1: not registered (state %2)")
                         .arg(account.user)
                         .arg(m_registration);
            return false;
        }
        return true;
    }

    // Calls the other engine; the set-up time in ms, to the call connected, or, when encrypted,
    // to its media encrypted (agreed by a second offer and answer after it connected, when the
    // first offered SRTP as a capability); nothing when it did not get there.
    std::optional<double> call(Engine &callee, bool encrypted, QString *error) {
        m_state = callee.m_state = -1;
        m_encryptedAt.reset();
        std::optional<double> setup;
        try {
            auto session = m_client->CreateSession(rtc::RTCST_PC_TO_PHONE, QString(), m_profile,
                                                   rtc::RTCCS_FORCE_PROFILE);
            const auto placed = Clock::now();
            session->AddParticipant(
                QStringLiteral("sip:%1@%2").arg(callee.m_account.user, m_domain), QString());
            const auto there = [&] {
                return encrypted ? m_encryptedAt.has_value() : m_state == rtc::RTCSS_CONNECTED;
            };
            if (waitUntil([&] { return there() || m_state > rtc::RTCSS_CONNECTED; }, 20000) &&
                there())
                setup = msBetween(placed, encrypted ? *m_encryptedAt : m_connectedAt);
            else
                *error = QStringLiteral("the call did not %1 (state %2)")
                             .arg(encrypted ? "get encrypted" : "connect")
                             .arg(m_state);
            session->Terminate(rtc::RTCTR_NORMAL);
        } catch (const rtc::RtcError &e) {
            *error = e.description();
        }
        if (!waitUntil(
                [&] {
                    return m_state == rtc::RTCSS_DISCONNECTED &&
                           callee.m_state == rtc::RTCSS_DISCONNECTED;
                },
                20000))
            err() << "the call did not end at both ends\n";
        return setup;
    }

    void stop(const Exchange &exchange) {
        m_client.reset();
        exchange.forget(m_account.user);
    }

private:
    void onEvent(long type, const rtc::IRTCEventPtr &event) {
        if (type == rtc::RTCE_REGISTRATION_STATE_CHANGE) {
            auto view = std::dynamic_pointer_cast<rtc::IRTCRegistrationStateChangeEvent>(event);
            if (view && (view->State() == rtc::RTCRS_REGISTERED ||
                         view->State() == rtc::RTCRS_REJECTED || view->State() == rtc::RTCRS_ERROR))
                m_registration = view->State();
            return;
        }
        if (type != rtc::RTCE_SESSION_STATE_CHANGE)
            return;
        auto view = std::dynamic_pointer_cast<rtc::IRTCSessionStateChangeEvent>(event);
        if (!view)
            return;
        if (view->State() == rtc::RTCSS_INCOMING)
            view->Session()->Answer();
        if (view->State() == rtc::RTCSS_CONNECTED && m_state != rtc::RTCSS_CONNECTED)
            m_connectedAt = Clock::now();
        if (view->State() == rtc::RTCSS_CONNECTED && !view->MediaEncryption().isEmpty() &&
            !m_encryptedAt)
            m_encryptedAt = Clock::now();
        m_state = view->State();
    }

    QTemporaryDir m_home{QDir::tempPath() + QStringLiteral("/kirrow-bench-XXXXXX")};
    std::unique_ptr<rtc::LinphoneClient> m_client;
    rtc::IRTCProfilePtr m_profile;
    Account m_account;
    QString m_domain;
    long m_registration = -1;
    long m_state = -1;
    Clock::time_point m_connectedAt{};
    std::optional<Clock::time_point> m_encryptedAt;
};

struct Kind {
    QString name;
    QString transport;
    rtc::RTC_ENCRYPTION encryption;
    Engine caller, callee;
    QList<double> values;
};

} // namespace

int main(int argc, char *argv[]) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("Kirrow"));
    QCoreApplication::setOrganizationName(QStringLiteral("Kirrow"));

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Call set-up between two of Kirrow's engines, plain and encrypted."));
    parser.addHelpOption();
    const bench::CommonOptions common;
    common.addTo(parser, false);
    parser.process(app);
    const int runs = common.runCount(parser);
    const int warmup = common.warmupCount(parser);

    const QList<Account> accounts{{"1001", "kirrow1001"}, {"1002", "kirrow1002"},
                                  {"1003", "kirrow1003"}, {"1004", "kirrow1004"},
                                  {"1005", "kirrow1005"}, {"1006", "kirrow1006"}};
    Exchange exchange;
    exchange.listenOnStreams();
    QString error;
    if (!exchange.start(QString(), QString(), accounts, &error)) {
        err() << "bench_callsetup: " << error << "\n";
        return 1;
    }
    qputenv("SSL_CERT_FILE", QFile::encodeName(exchange.caFile()));

    Kind kinds[] = {
        {QStringLiteral("plain"), QStringLiteral("udp"), rtc::RTCEN_OFF, {}, {}, {}},
        {QStringLiteral("SRTP"), QStringLiteral("udp"), rtc::RTCEN_WHEN_POSSIBLE, {}, {}, {}},
        {QStringLiteral("SRTP, TLS"), QStringLiteral("tls"), rtc::RTCEN_WHEN_POSSIBLE, {}, {}, {}}};
    int next = 0;
    for (Kind &kind : kinds) {
        if (!kind.caller.start(exchange, kind.transport, accounts[next], kind.encryption, &error) ||
            !kind.callee.start(exchange, kind.transport, accounts[next + 1], kind.encryption,
                               &error)) {
            err() << "bench_callsetup: " << kind.name << ": " << error << "\n";
            return 1;
        }
        next += 2;
    }

    out() << warmup << " warm-up and " << runs << " measured calls of each kind (ms)\n";
    out() << QStringLiteral("%1 %2 %3 %4\n")
                 .arg(QStringLiteral("run"), -8)
                 .arg(kinds[0].name, 12)
                 .arg(kinds[1].name, 12)
                 .arg(kinds[2].name, 12);
    int failures = 0;
    for (int i = 0; i < warmup + runs; ++i) {
        double row[3] = {-1, -1, -1};
        for (int k = 0; k < 3; ++k) {
            const int which = i % 2 == 0 ? k : 2 - k;
            Kind &kind = kinds[which];
            const std::optional<double> setup =
                kind.caller.call(kind.callee, kind.encryption != rtc::RTCEN_OFF, &error);
            if (!setup) {
                err() << "run " << i + 1 << ", " << kind.name << ": " << error << "\n";
                ++failures;
                continue;
            }
            row[which] = *setup;
            if (i >= warmup)
                kind.values << *setup;
        }
        QString line = QStringLiteral("%1").arg(
            i >= warmup ? QString::number(i - warmup + 1) : QStringLiteral("warm-up"), -8);
        for (double value : row)
            line += QStringLiteral(" %1").arg(
                value < 0 ? QStringLiteral("-") : QString::number(value, 'f', 1), 12);
        out() << line << "\n";
        out().flush();
    }
    QString line = QStringLiteral("%1").arg(QStringLiteral("median"), -8);
    for (const Kind &kind : kinds)
        line += QStringLiteral(" %1").arg(QString::number(median(kind.values), 'f', 1), 12);
    out() << line << "\n";

    if (parser.isSet(common.samples)) {
        QList<bench::TableSample> samples;
        for (const Kind &kind : kinds)
            for (double value : kind.values)
                samples << bench::TableSample{
                    QStringLiteral("calls"),
                    QStringLiteral("engine call set-up, %1 (ms)").arg(kind.name),
                    QStringLiteral("Kirrow"), value};
        if (!bench::appendSamples(parser.value(common.samples), samples,
                                  QStringLiteral("bench_callsetup")))
            return 1;
    }
    for (Kind &kind : kinds) {
        kind.caller.stop(exchange);
        kind.callee.stop(exchange);
    }
    return failures == 0 ? 0 : 1;
}
