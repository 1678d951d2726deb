#pragma once

#include <QString>
#include <QStringList>

#include <memory>

class QProcess;
class QTemporaryDir;

// Homes behind NAT routers, and a public network beside them, made of network namespaces of the
// test's own, for tests of what a phone behind a home router does:
//
//     public  203.0.113.0/24   203.0.113.10 for servers (publicAddress())
//        |-- router 1: 203.0.113.1  masquerade  192.0.2.1    -- home 1: 192.0.2.10
//        |-- router 2: 203.0.113.2  masquerade  198.51.100.1 -- home 2: 198.51.100.10
//
// Each router forwards from its home to the public network only, rewriting the source to its
// own public address and a port of its choosing (nft masquerade random), and lets back only
// what answers that (conntrack), as a home router does; its UDP mappings expire after udpTimeout()
// seconds of quiet (nf_conntrack_udp_timeout and nf_conntrack_udp_timeout_stream), so a phone that
// does not keep its mapping alive cannot be reached for long. The public network has no route to
// the homes.
//
//     NetLab lab;
//     if (const QString why = NetLab::unavailable(); !why.isEmpty())
//         QSKIP(qPrintable(why));
//     QVERIFY2(lab.start(&error), qPrintable(error));
//     ... start a server with NetLab::inNamespace(lab.publicNamespace()) in front ...
//
// Needs root (CAP_NET_ADMIN), ip and nft (coturn for the STUN server). Everything is made in the
// namespaces themselves, named "kirrow-<pid>-<lab>-<role>", so nothing touches the host's own
// interfaces, routes or firewall; stop() (also on destruction, and when start() fails half-way)
// deletes them, which takes their links and rules with them. Namespaces left by a test process that
// died are deleted by the next start(). Processes a test starts in a namespace must be stopped
// before stop(). Every command runs under `timeout`. Not thread-safe.
class NetLab {
public:
    static constexpr auto kPublicAddress = "203.0.113.10";

    // homes: 1 or 2. udpTimeoutS: the routers' UDP conntrack timeout. routersPickPorts: each
    // connection leaves from a port the router picks at random (masquerade random), as a
    // "symmetric" NAT does; otherwise it keeps the home's own port where it can, so that what a
    // STUN server sees is what every peer sees, as ICE needs from routers without TURN.
    explicit NetLab(int homes = 1, int udpTimeoutS = 20, bool routersPickPorts = true);
    ~NetLab();
    NetLab(const NetLab &) = delete;
    NetLab &operator=(const NetLab &) = delete;

    // Why the lab cannot be made here (not root, a tool missing); empty when it can.
    static QString unavailable();

    bool start(QString *error = nullptr);
    void stop();

    int homes() const { return m_homes; }
    int udpTimeout() const { return m_udpTimeoutS; }

    QString publicNamespace() const;
    QString publicAddress() const { return QString::fromLatin1(kPublicAddress); }
    // Home 1 or 2: its namespace, its own address there, and its router's namespace and public
    // address (what the public network sees its traffic come from).
    QString homeNamespace(int home) const;
    QString homeAddress(int home) const;
    QString routerNamespace(int home) const;
    QString routerAddress(int home) const;

    // The command that runs what follows it in a namespace: {"ip", "netns", "exec", name}.
    static QStringList inNamespace(const QString &name);

    // Runs command in a namespace within timeoutMs; true when it exits 0. Its output goes to
    // *output, and what went wrong to *error.
    static bool run(const QString &name, const QStringList &command, QString *output = nullptr,
                    QString *error = nullptr, int timeoutMs = 10000);

    // coturn as a STUN server on the public network (after start()), stopped with the lab.
    bool startStunServer(QString *error = nullptr);
    // Its address, "203.0.113.10:3478".
    QString stunServer() const;

    // The UDP connections the home's router tracks, as `conntrack -L -p udp -o extended` prints
    // them (with packet counts), or "" when conntrack is missing.
    QString routerConnections(int home) const;

private:
    bool build(QString *error);
    QString name(const QString &part) const;

    int m_homes;
    int m_udpTimeoutS;
    bool m_routersPickPorts;
    int m_serial;
    std::unique_ptr<QTemporaryDir> m_stunDir;
    std::unique_ptr<QProcess> m_stun;
    QStringList m_made; // namespaces made so far
};
