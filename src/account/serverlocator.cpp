#include "serverlocator.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QPointer>

#include <algorithm>
#include <thread>
#include <utility>

#include <arpa/nameser.h>
#include <netinet/in.h>
#include <resolv.h>

namespace account {

namespace {

bool g_lookupsEnabled = true;

// Long enough for a resolver to try a second server; short enough that a login to a domain
// whose DNS is down still goes ahead while the user waits.
constexpr int kLookupTimeoutMs = 6000;

// The SRV records of name, as the system's resolver (and its /etc/resolv.conf) gives them; none
// when it has none or cannot answer. Blocks: run on a thread of its own.
QList<ServiceRecord> serviceRecords(const QByteArray &name) {
    QList<ServiceRecord> records;
    struct __res_state state {};
    if (res_ninit(&state) != 0)
        return records;
    unsigned char answer[NS_PACKETSZ * 4];
    const int length =
        res_nquery(&state, name.constData(), ns_c_in, ns_t_srv, answer, sizeof answer);
    ns_msg message;
    if (length > 0 && ns_initparse(answer, length, &message) == 0) {
        for (int i = 0; i < ns_msg_count(message, ns_s_an); ++i) {
            ns_rr record;
            if (ns_parserr(&message, ns_s_an, i, &record) != 0 || ns_rr_type(record) != ns_t_srv ||
                ns_rr_rdlen(record) < 7)
                continue;
            const unsigned char *data = ns_rr_rdata(record);
            char target[NS_MAXDNAME];
            if (dn_expand(ns_msg_base(message), ns_msg_end(message), data + 6, target,
                          sizeof target) < 0)
                continue;
            records.append({quint16(ns_get16(data)), quint16(ns_get16(data + 2)),
                            quint16(ns_get16(data + 4)), QString::fromLatin1(target)});
        }
    }
    res_nclose(&state);
    return records;
}

} // namespace

QString LocatedServer::address() const {
    return host + QLatin1Char(':') + QString::number(port);
}

const QList<ServiceQuery> &serviceQueries() {
    static const QList<ServiceQuery> queries{
        {QStringLiteral("_sips._tcp."), Transport::Tls},
        {QStringLiteral("_sip._tcp."), Transport::Tcp},
        {QStringLiteral("_sip._udp."), Transport::Udp},
    };
    return queries;
}

QList<LocatedServer> orderServers(const QList<QList<ServiceRecord>> &answers) {
    const QList<ServiceQuery> &queries = serviceQueries();
    QList<LocatedServer> servers;
    for (qsizetype i = 0; i < std::min(answers.size(), queries.size()); ++i) {
        QList<ServiceRecord> usable;
        for (ServiceRecord record : answers.at(i)) {
            if (record.target.endsWith(QLatin1Char('.')))
                record.target.chop(1);
            if (!record.target.isEmpty() && record.port != 0)
                usable.append(record);
        }
        std::stable_sort(usable.begin(), usable.end(),
                         [](const ServiceRecord &a, const ServiceRecord &b) {
                             if (a.priority != b.priority)
                                 return a.priority < b.priority;
                             return a.weight > b.weight;
                         });
        for (const ServiceRecord &record : usable)
            servers.append(LocatedServer{queries.at(i).transport, record.target, record.port});
    }
    return servers;
}

std::optional<LocatedServer> chooseServer(const QList<QList<ServiceRecord>> &answers) {
    const QList<LocatedServer> servers = orderServers(answers);
    return servers.isEmpty() ? std::nullopt : std::optional(servers.first());
}

ServerLocator::ServerLocator(QObject *parent) : QObject(parent) {
    m_timeout.setSingleShot(true);
    m_timeout.setInterval(kLookupTimeoutMs);
    connect(&m_timeout, &QTimer::timeout, this, [this] {
        m_current.reset();
        finish({});
    });
}

ServerLocator::~ServerLocator() = default;

void ServerLocator::setLookupsEnabled(bool enabled) {
    g_lookupsEnabled = enabled;
}

bool ServerLocator::lookupsEnabled() {
    return g_lookupsEnabled;
}

void ServerLocator::locate(const QString &domain) {
    m_timeout.stop();
    m_domain = domain;
    m_current = std::make_shared<int>();
    if (!g_lookupsEnabled) {
        finish({});
        return;
    }
    m_timeout.start();
    std::thread([current = std::weak_ptr<int>(m_current), locator = QPointer<ServerLocator>(this),
                 name = domain.toUtf8()] {
        QList<QList<ServiceRecord>> answers;
        for (const ServiceQuery &query : serviceQueries())
            answers.append(serviceRecords(query.prefix.toUtf8() + name));
        // Handed to the locator's thread, where it is asked whether it still waits for them.
        QMetaObject::invokeMethod(QCoreApplication::instance(), [current, locator, answers] {
            if (locator && !current.expired() && current.lock() == locator->m_current)
                locator->finish(answers);
        });
    }).detach();
}

void ServerLocator::finish(const QList<QList<ServiceRecord>> &answers) {
    m_timeout.stop();
    m_current.reset();
    const QString domain = m_domain;
    m_servers = orderServers(answers);
    emit located(domain, chooseServer(answers));
}

} // namespace account
