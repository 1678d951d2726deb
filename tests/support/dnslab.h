#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>

// A network namespace of the test's own, with loopback alone, whose resolver configuration
// (/etc/netns/<name>/resolv.conf, which `ip netns exec` puts in place of /etc/resolv.conf) names
// a DNS server of the test's own there: dnsmasq on 127.0.0.1, answering for *.test from the
// records given and from nothing else.
//
//     DnsLab lab;
//     QVERIFY2(lab.start(&error), qPrintable(error));
//     ... start servers with NetLab::inNamespace(lab.name()) ...
//     QVERIFY2(lab.serve({"--srv-host=_sip._udp.example.test,sip.example.test,5060,0,0",
//                         "--host-record=sip.example.test,127.0.0.1"}, &error), qPrintable(error));
//     ... run what looks them up with NetLab::inNamespace(lab.name()) ...
//
// Needs root; unavailable() says why it cannot be made. dnsmasq lives 10 minutes at most; it is
// stopped, and the namespace and its folder removed, on destruction.
class DnsLab {
public:
    DnsLab();
    ~DnsLab();
    DnsLab(const DnsLab &) = delete;
    DnsLab &operator=(const DnsLab &) = delete;

    // Why the lab cannot be made here (not root, dnsmasq missing); empty when it can.
    static QString unavailable();

    // Makes the namespace and its resolver configuration.
    bool start(QString *error = nullptr);
    // Starts the DNS server there, with dnsmasq options that make the answers (--srv-host,
    // --host-record, ...); once.
    bool serve(const QStringList &records, QString *error = nullptr);
    QString name() const { return m_name; }
    // What dnsmasq has logged so far (its queries among it).
    QString log();

private:
    QString m_name;
    QProcess m_server;
    QString m_log;
    bool m_made = false;
};
