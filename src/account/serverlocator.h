#pragma once

#include "serverentry.h"

#include <QList>
#include <QObject>
#include <QTimer>

#include <memory>
#include <optional>

namespace account {

// Where a domain's SIP server is, as DNS names it.
struct LocatedServer {
    Transport transport = Transport::Udp;
    QString host; // the SRV target, without the final dot
    quint16 port = 0;
    // "host:port" as it goes into a SIP address.
    QString address() const;
};

// One SRV record of a service.
struct ServiceRecord {
    quint16 priority = 0;
    quint16 weight = 0;
    quint16 port = 0;
    QString target; // as DNS gives it, "." when the service is not offered
};

// The SRV services asked for a domain, in the order of preference: SIP over TLS, over TCP, over
// UDP (RFC 3263, without its NAPTR step).
struct ServiceQuery {
    QString prefix; // "_sips._tcp."
    Transport transport;
};
const QList<ServiceQuery> &serviceQueries();

// The server of the first service (in the order above) with usable records: its record of the
// lowest priority and, among those, the greatest weight. answers[i] are the records of
// serviceQueries()[i]. None when no service has one (a target "." says the service is not
// offered).
std::optional<LocatedServer> chooseServer(const QList<QList<ServiceRecord>> &answers);
// Every usable server, the one chooseServer() gives first, then the others in the order in which
// they are tried when one before does not answer (RFC 3263: the next record of the service, then
// the next service).
QList<LocatedServer> orderServers(const QList<QList<ServiceRecord>> &answers);

// Looks a domain's SIP server up in DNS without blocking: the system's resolver on a thread of its
// own (Qt's DNS lookup would load Qt's network library at every start), answered by located()
// once it has answered or the wait is over (a domain whose DNS is slow or down is reached as it
// is, rather than not at all).
class ServerLocator : public QObject {
    Q_OBJECT
public:
    explicit ServerLocator(QObject *parent = nullptr);
    ~ServerLocator() override;

    // Starts looking domain up; a lookup still running is dropped.
    void locate(const QString &domain);
    // How long the lookups may take together.
    void setTimeout(int ms) { m_timeout.setInterval(ms); }

    // Whether domains are looked up at all; when not, locate() answers at once with none. The
    // unit tests' servers are made-up names, whose DNS is not to be asked.
    static void setLookupsEnabled(bool enabled);
    static bool lookupsEnabled();

    // Every server the last lookup found, in the order to try them (orderServers()).
    QList<LocatedServer> servers() const { return m_servers; }

signals:
    // The server found for domain, or none (no records, DNS failing or too slow).
    void located(const QString &domain, const std::optional<account::LocatedServer> &server);

private:
    void finish(const QList<QList<ServiceRecord>> &answers);

    QString m_domain;
    QList<LocatedServer> m_servers;
    // Shared with the lookup's thread: a new lookup or the locator's end makes it stale, and a
    // stale lookup's answer is dropped.
    std::shared_ptr<int> m_current;
    QTimer m_timeout;
};

} // namespace account
