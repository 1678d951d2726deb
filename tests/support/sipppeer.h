#pragma once

#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>

#include <memory>

class QProcess;
class QRegularExpression;
class QTemporaryDir;

// One sipp process on 127.0.0.1 playing a scenario from tests/fixtures/sipp,
// as the far end of the phone's calls in end-to-end tests.
//
//     // a callee reached through the exchange as 1002
//     SippPeer callee({.scenario = "answer.xml", .service = "1002"});
//     QVERIFY2(callee.start(&error), qPrintable(error));
//     SippPeer registration({.scenario = "register.xml",
//                            .remote = server.address(),
//                            .service = "1002",
//                            .authUser = "1002",
//                            .authPassword = "secret",
//                            .keys = {{"expires", "600"},
//                                     {"contact_port", QString::number(callee.port())}}});
//     QVERIFY(registration.start(&error) && registration.waitForExit(20000));
//     QCOMPARE(registration.exitCode(), 0);
//     ... the phone calls 1002, sends tones, hangs up ...
//     QVERIFY2(callee.waitForExit(30000) && callee.exitCode() == 0,
//              qPrintable(callee.report()));
//
// The SIP port, the media port (and the one two above it, which sipp binds
// for video) and sipp's control port are free ports on 127.0.0.1, and sipp
// binds nothing else (-bind_local, -mi, -ci). Runs under
// `timeout` in a process group of its own; stopped by pid on stop() or
// destruction, and also when the test process dies (parent-death signal).
// sipp's screen, its message trace (-trace_msg) and its list of unexpected
// messages (-trace_err) go to files in a private temporary folder, so nothing
// has to drain a pipe. Not thread-safe; use from one thread.
class SippPeer {
public:
    // Every member has a default, so designated initializers may leave
    // any of them out without -Wmissing-field-initializers complaining.
    struct Options {
        // File name in tests/fixtures/sipp (or an absolute path).
        QString scenario{};
        // Where requests go, "127.0.0.1:<port>" (the exchange); empty for a
        // peer that only answers.
        QString remote{};
        // -s: the user part of the Request-URI ([service]).
        QString service{};
        // -au / -ap: digest credentials for [authentication].
        QString authUser{};
        QString authPassword{};
        // -key name value: [name] in the scenario (e.g. caller, expires).
        QList<QPair<QString, QString>> keys{};
        // -rtp_echo: send every RTP packet back to where it came from.
        bool rtpEcho = false;
        // -d: how long a <pause/> without its own duration lasts; -1 leaves
        // sipp's default (0).
        int pauseMs = -1;
        // -m: calls to make or answer before exiting; 0 for no limit (it
        // then runs until stop() or timeoutMs).
        int calls = 1;
        // -timeout with -timeout_error: sipp gives up (and fails) after this.
        int timeoutMs = 60000;
        // Anything else, appended as is.
        QStringList extraArguments{};
        // Run through this command, e.g. NetLab::inNamespace(name) for a network namespace of
        // the test's own, with every socket on localAddress there; empty: 127.0.0.1 here.
        QStringList commandPrefix{};
        QString localAddress{};
    };

    explicit SippPeer(Options options);
    ~SippPeer();

    SippPeer(const SippPeer &) = delete;
    SippPeer &operator=(const SippPeer &) = delete;

    // Picks free ports and starts sipp; returns once it has bound its SIP
    // port (10 s at most). On failure *error says why (with sipp's output).
    bool start(QString *error = nullptr);
    // Ends sipp now (SIGTERM through `timeout`, then SIGKILL to its group).
    void stop();
    bool isRunning() const;

    // Waits until sipp has exited; false if it still runs after ms.
    bool waitForExit(int ms);
    // sipp's exit code once it has exited: 0 when every call passed the
    // scenario, 1 when one failed (or -timeout ran out), 99 when no call
    // was made, 124 when `timeout` ended it, 255/254 on a fatal (binding)
    // error; -1 while it runs, when it never started, when stop() ended it
    // or when a signal did.
    int exitCode() const;

    // The SIP messages sipp sent and received so far, as its -trace_msg
    // file shows them (each after a line "UDP message sent/received ...").
    QString messages() const;
    // Waits until messages() matches re (true at once if it already does);
    // false after ms, or when sipp exits without a match.
    bool waitForMessage(const QRegularExpression &re, int ms);
    // The same trace cut into messages, in order: those sipp sent, and
    // those it received (retransmissions included, CRLF line ends kept).
    QStringList sentMessages() const;
    QStringList receivedMessages() const;
    // Messages sipp did not expect and other call events (-trace_err;
    // also notes such as a scenario's optional wait that timed out).
    QString errors() const;
    // What sipp printed (its last screen and any error).
    QString log() const;
    // Exit code, errors and the ends of the trace and log, for a failing
    // test to print.
    QString report() const;

    // Picked free when the peer is made, so they can be handed out (to a
    // registration, a capture) before start(); start() picks new ones only
    // if another process took one meanwhile.
    quint16 port() const;      // SIP port
    QString address() const;   // "127.0.0.1:<port>" (or localAddress's)
    quint16 mediaPort() const; // RTP port in its SDP ([media_port])
    const Options &options() const { return m_options; }

private:
    void pickPorts();
    QString localAddress() const;
    bool startOnce(const QString &scenarioPath, bool *portTaken, QString *error);
    QString readFile(const QString &name) const;
    QStringList tracedMessages(bool sent) const;

    Options m_options;
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<QProcess> m_process;
    quint16 m_port = 0;
    quint16 m_mediaPort = 0;
    quint16 m_controlPort = 0;
    bool m_stopped = false; // ended by stop(), not by itself
};

// Registers (or, with expires 0, removes) a contact at port on 127.0.0.1 for account at the
// exchange (its "127.0.0.1:port"), with sipp and register.xml, as a far end that answers there is
// reached through the exchange. Ends the test process when that fails: nothing after it could
// mean anything.
void registerSippContact(const QString &exchange, const QString &account, const QString &password,
                         quint16 port, int expires);
