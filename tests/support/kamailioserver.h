#pragma once

#include <QList>
#include <QString>
#include <QStringList>

#include <memory>

class QProcess;
class QTemporaryDir;

// A private kamailio SIP exchange (registrar + proxy with digest auth) on
// 127.0.0.1, made from tests/fixtures/kamailio.cfg.in, for end-to-end tests.
//
//     KamailioServer server({{"1001", "secret"}, {"1002", "other"}});
//     QVERIFY2(server.start(&error), qPrintable(error));
//     ... point the phone at server.address() ...
//     QTRY_COMPARE(server.contacts("1001").size(), 1);
//
// Runs `timeout 600 kamailio -DD -E` in the foreground of its own process
// group; its log goes to a file in a private temporary folder (see log()).
// Stopped by pid on stop() or destruction, and also when the test process
// dies (parent-death signal), so no exchange outlives its test.
// Not thread-safe; use from one thread.
class KamailioServer {
public:
    struct Account {
        QString user;     // letters, digits and . _ ~ + -
        QString password; // anything but control characters
    };

    struct Contact {
        QString uri;      // as registered, e.g. "sip:1001@127.0.0.1:40312"
        int expires = -1; // seconds left; -1 for a permanent contact
    };

    explicit KamailioServer(QList<Account> accounts);
    ~KamailioServer();

    KamailioServer(const KamailioServer &) = delete;
    KamailioServer &operator=(const KamailioServer &) = delete;

    // Picks a free UDP port, writes the config and starts kamailio; returns
    // once it answers on its control socket (20 s at most). On failure,
    // *error says why (including the end of kamailio's log).
    bool start(QString *error = nullptr);
    // Registrations last at most this many seconds (before start()), so that clients refresh
    // them soon.
    void setMaxExpires(int seconds) { m_maxExpires = seconds; }
    // Runs it through commandPrefix (before start()), e.g. NetLab::inNamespace(name) for a
    // network namespace of the test's own, listening on listenAddress there instead of
    // 127.0.0.1, as an exchange on the public network that phones reach from behind their home
    // routers (NAT).
    void setNetwork(const QStringList &commandPrefix, const QString &listenAddress) {
        m_commandPrefix = commandPrefix;
        m_listenAddress = listenAddress;
    }
    // More ways in besides UDP on 127.0.0.1 (before start()), each on a free port of its own:
    // TCP and TLS on 127.0.0.1, UDP on [::1]. TLS shows a certificate made at start in the
    // server's temporary folder, for tlsName (its subject's CN and a DNS name of its own, which
    // the engine's TLS library checks even for an address), signed by a test CA (caFile()).
    // logRequests logs every request that arrives ("request REGISTER from 127.0.0.1 over tls");
    // logSdp every SDP body that passes, requests' and replies' ("sdp of INVITE over tls [...]",
    // "sdp of 200 INVITE over tls [...]"), which is how a test reads what went over TLS.
    struct Listeners {
        bool tcp = false;
        bool tls = false;
        bool udp6 = false;
        QString tlsName = QStringLiteral("127.0.0.1");
        bool logRequests = false;
        bool logSdp = false;
        // A domain the exchange takes as its own besides its addresses, e.g. "example.test".
        QString domain;
    };
    void setListeners(const Listeners &listeners) { m_listeners = listeners; }
    quint16 tcpPort() const { return m_tcpPort; }
    quint16 tlsPort() const { return m_tlsPort; }
    quint16 udp6Port() const { return m_udp6Port; }
    // The CA that signed the TLS certificate, and one that signed nothing (PEM files).
    QString caFile() const;
    QString otherCaFile() const;
    // The next start() shows a new TLS certificate (a new key, the same name and CA).
    void renewCertificate();
    void stop();
    bool isRunning() const;

    quint16 port() const;
    QString address() const; // "127.0.0.1:<port>" (or the address given to setNetwork())

    // kamcmd on the control socket, e.g. rpc({"ul.dump"}); returns stdout
    // (kamcmd prints RPC errors there too), empty when it cannot connect.
    // Arguments that look like numbers are sent as numbers; prefix "s:" to
    // send them as strings.
    QString rpc(const QStringList &args) const;

    // Current registrations of an account; empty when none.
    QList<Contact> contacts(const QString &user) const;

    // Everything kamailio has printed so far (across restarts).
    QString log() const;

    QString configPath() const;
    QString controlSocket() const; // "unix:<path>" as kamcmd -s takes it

private:
    bool startOnce(const QString &templateText, quint16 port, bool *portTaken, QString *error);
    bool makeCertificates(QString *error);
    QString addListeners(QString config) const;

    QList<Account> m_accounts;
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<QProcess> m_process;
    quint16 m_port = 0;
    int m_maxExpires = 0;
    QStringList m_commandPrefix;
    QString m_listenAddress = QStringLiteral("127.0.0.1");
    Listeners m_listeners;
    quint16 m_tcpPort = 0;
    quint16 m_tlsPort = 0;
    quint16 m_udp6Port = 0;
};
