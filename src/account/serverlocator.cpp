#include "serverlocator.h"

#include <QDnsLookup>

#include <algorithm>
#include <utility>

namespace account {

namespace {

bool g_lookupsEnabled = true;

// Long enough for a resolver to try a second server; short enough that a login to a domain
// whose DNS is down still goes ahead while the user waits.
constexpr int kLookupTimeoutMs = 6000;

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

std::optional<LocatedServer> chooseServer(const QList<QList<QDnsServiceRecord>> &answers) {
    const QList<ServiceQuery> &queries = serviceQueries();
    for (qsizetype i = 0; i < std::min(answers.size(), queries.size()); ++i) {
        QList<QDnsServiceRecord> usable;
        for (const QDnsServiceRecord &record : answers.at(i)) {
            QString target = record.target();
            if (target.endsWith(QLatin1Char('.')))
                target.chop(1);
            if (!target.isEmpty() && record.port() != 0)
                usable.append(record);
        }
        if (usable.isEmpty())
            continue;
        const auto best =
            std::min_element(usable.cbegin(), usable.cend(),
                             [](const QDnsServiceRecord &a, const QDnsServiceRecord &b) {
                                 if (a.priority() != b.priority())
                                     return a.priority() < b.priority();
                                 return a.weight() > b.weight();
                             });
        QString host = best->target();
        if (host.endsWith(QLatin1Char('.')))
            host.chop(1);
        return LocatedServer{queries.at(i).transport, host, best->port()};
    }
    return std::nullopt;
}

ServerLocator::ServerLocator(QObject *parent) : QObject(parent) {
    m_timeout.setSingleShot(true);
    m_timeout.setInterval(kLookupTimeoutMs);
    connect(&m_timeout, &QTimer::timeout, this, [this] {
        dropLookups();
        finish();
    });
}

ServerLocator::~ServerLocator() {
    dropLookups();
}

// A lookup may be dropped while it raises its finished(): it goes once that returns.
void ServerLocator::dropLookups() {
    for (QDnsLookup *lookup : std::exchange(m_lookups, {})) {
        lookup->disconnect(this);
        lookup->abort();
        lookup->deleteLater();
    }
}

void ServerLocator::setLookupsEnabled(bool enabled) {
    g_lookupsEnabled = enabled;
}

bool ServerLocator::lookupsEnabled() {
    return g_lookupsEnabled;
}

void ServerLocator::locate(const QString &domain) {
    dropLookups();
    m_timeout.stop();
    m_domain = domain;
    if (!g_lookupsEnabled) {
        finish();
        return;
    }
    for (const ServiceQuery &query : serviceQueries()) {
        auto *lookup = new QDnsLookup(QDnsLookup::SRV, query.prefix + domain, this);
        connect(lookup, &QDnsLookup::finished, this, &ServerLocator::finishWhenAnswered);
        m_lookups.push_back(lookup);
    }
    m_timeout.start();
    for (QDnsLookup *lookup : m_lookups)
        lookup->lookup();
}

void ServerLocator::finishWhenAnswered() {
    if (std::all_of(m_lookups.cbegin(), m_lookups.cend(),
                    [](const QDnsLookup *lookup) { return lookup->isFinished(); }))
        finish();
}

void ServerLocator::finish() {
    m_timeout.stop();
    QList<QList<QDnsServiceRecord>> answers;
    for (const QDnsLookup *lookup : m_lookups)
        answers.append(lookup->error() == QDnsLookup::NoError ? lookup->serviceRecords()
                                                              : QList<QDnsServiceRecord>());
    dropLookups();
    const QString domain = m_domain;
    emit located(domain, chooseServer(answers));
}

} // namespace account
