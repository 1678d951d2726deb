#pragma once

// What the benchmarks share: clocks and output, free loopback ports, the kamailio exchange they
// measure against (started here, or one already running), and the median.

#include <QCommandLineOption>
#include <QList>
#include <QString>
#include <QTextStream>

class QCommandLineParser;
class QProcess;
class QTemporaryDir;

#include <chrono>
#include <memory>

#ifdef KIRROW_BENCH_OWN_EXCHANGE
class KamailioServer;
class SippPeer;
#endif

namespace bench {

using Clock = std::chrono::steady_clock;

double msBetween(Clock::time_point from, Clock::time_point to);
QTextStream &out();
QTextStream &err();

// Points this process's XDG folders (config, data, cache) into home, as bench/run does for the
// whole program: the engine and the program find their folders there, never the user's.
void usePrivateFolders(const QTemporaryDir &home);

// Waits 5 s for a program started under `timeout` to end by itself (asked to by the caller),
// then terminates it (`timeout` passes that on), then kills its process group.
void endProcess(QProcess &process);

// A UDP port on 127.0.0.1 that nothing is bound to right now.
quint16 freeLoopbackUdpPort();

// The options every benchmark takes: --runs, --warmup and --samples; and, for those measured
// against an exchange, --server and --ctl (a running one; without them the benchmark starts its
// own).
struct CommonOptions {
    CommonOptions();
    void addTo(QCommandLineParser &parser, bool withExchange) const;
    int runCount(const QCommandLineParser &parser) const;    // at least 1
    int warmupCount(const QCommandLineParser &parser) const; // at least 0

    QCommandLineOption runs;
    QCommandLineOption warmup;
    QCommandLineOption samples;
    QCommandLineOption server;
    QCommandLineOption ctl;
};

struct Account {
    QString user;
    QString password;
};

// The exchange: either one this program starts, or one given on the command line.
class Exchange {
public:
    Exchange();
    ~Exchange();
    bool start(const QString &server, const QString &ctl, const QList<Account> &accounts,
               QString *error);
    QString address() const { return m_address; }
    // An exchange started here also listens on TCP and TLS (asked before start()); the server as
    // a user types it for "udp", "tcp" or "tls" ("sips:127.0.0.1:5061"), and the CA that signed
    // its TLS certificate. Empty when it does not listen so.
    void listenOnStreams() { m_streams = true; }
    QString serverEntry(const QString &transport) const;
    QString caFile() const;
    // kamcmd on the control socket; stdout, empty when it cannot connect.
    QString rpc(const QStringList &args) const;
    int liveContacts(const QString &user) const;
    void forget(const QString &user) const;

private:
    QString m_address;
    QString m_ctl;
    bool m_streams = false;
#ifdef KIRROW_BENCH_OWN_EXCHANGE
    std::unique_ptr<KamailioServer> m_own;
#endif
};

#ifdef KIRROW_BENCH_OWN_EXCHANGE
// sipp answering as account (at once, echoing RTP), registered on the exchange with its own port;
// it gives up after lifetimeMs.
std::unique_ptr<SippPeer> answeringPeer(const Exchange &exchange, const Account &account,
                                        int lifetimeMs, QString *error);
#endif

// One measured value, as bench/run's table reads it: section, measure, client, value.
struct TableSample {
    QString section;
    QString measure;
    QString client;
    double value;
    int decimals = 1;
};
// Appends the samples to the file, one tab-separated line each. When it cannot, says so on
// stderr with the program's name and returns false.
bool appendSamples(const QString &path, const QList<TableSample> &samples, const QString &program);

// The middle value (the mean of the two middle ones for an even count); -1 for none.
double median(QList<double> values);

} // namespace bench
