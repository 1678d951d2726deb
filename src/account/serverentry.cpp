#include "serverentry.h"

#include <QStringList>

#include <arpa/inet.h>
#include <netinet/in.h>

namespace account {

namespace {

ServerEntry refused(const QString &why) {
    ServerEntry entry;
    entry.error = why;
    return entry;
}

// Letters, digits, dots, hyphens and underscores: what DNS names and IPv4 addresses are made of.
bool isHostName(const QString &host) {
    for (const QChar c : host) {
        if (!(c.isLetterOrNumber() || c == QLatin1Char('.') || c == QLatin1Char('-') ||
              c == QLatin1Char('_')))
            return false;
    }
    return !host.startsWith(QLatin1Char('.')) && !host.contains(QLatin1String(".."));
}

std::optional<quint16> readPort(const QString &text) {
    bool ok = false;
    const uint value = text.toUInt(&ok);
    // toUInt takes a leading "+"; a port is digits only.
    if (!ok || value == 0 || value > 65535 || !text.front().isDigit())
        return std::nullopt;
    return quint16(value);
}

} // namespace

QString transportName(Transport transport) {
    switch (transport) {
    case Transport::Tcp:
        return QStringLiteral("TCP");
    case Transport::Tls:
        return QStringLiteral("TLS");
    case Transport::Udp:
        break;
    }
    return QStringLiteral("UDP");
}

QString ServerEntry::address() const {
    QString text = isIpv6() ? QLatin1Char('[') + host + QLatin1Char(']') : host;
    if (port)
        text += QLatin1Char(':') + QString::number(*port);
    return text;
}

namespace {
// Whether text is an address of that family (AF_INET or AF_INET6), written as such.
bool isAddress(const QString &text, int family) {
    unsigned char address[sizeof(in6_addr)];
    return inet_pton(family, text.toLatin1().constData(), address) == 1;
}
} // namespace

bool ServerEntry::isBareDomain() const {
    // A single label (a host of the local network) is no domain with servers of its own in DNS.
    return isValid() && !port && !transport && host.contains(QLatin1Char('.')) &&
           !isAddress(host, AF_INET) && !isAddress(host, AF_INET6);
}

ServerEntry parseServerEntry(const QString &typed) {
    QString text = typed.trimmed();
    if (text.isEmpty())
        return refused(QStringLiteral("Sip IP/Domain must not be blank"));
    for (const QChar c : text) {
        if (c.isSpace())
            return refused(QStringLiteral("Sip IP/Domain must not contain spaces."));
    }
    if (text.contains(QLatin1Char('@')))
        return refused(QStringLiteral("Sip IP/Domain takes the server only: the account goes in "
                                      "Account/Pin."));

    ServerEntry entry;
    if (text.startsWith(QLatin1String("sips:"), Qt::CaseInsensitive)) {
        entry.transport = Transport::Tls;
        text.remove(0, 5);
    } else if (text.startsWith(QLatin1String("sip:"), Qt::CaseInsensitive)) {
        text.remove(0, 4);
    }

    const qsizetype semicolon = text.indexOf(QLatin1Char(';'));
    if (semicolon >= 0) {
        const QStringList parameters = text.mid(semicolon + 1).split(QLatin1Char(';'));
        text.truncate(semicolon);
        for (const QString &parameter : parameters) {
            const QString name = parameter.section(QLatin1Char('='), 0, 0);
            const QString value = parameter.section(QLatin1Char('='), 1);
            if (name.compare(QLatin1String("transport"), Qt::CaseInsensitive) != 0)
                return refused(QStringLiteral("Sip IP/Domain: \"%1\" is not understood; only "
                                              ";transport=udp, tcp or tls may follow the server.")
                                   .arg(parameter));
            Transport asked;
            if (value.compare(QLatin1String("udp"), Qt::CaseInsensitive) == 0)
                asked = Transport::Udp;
            else if (value.compare(QLatin1String("tcp"), Qt::CaseInsensitive) == 0)
                asked = Transport::Tcp;
            else if (value.compare(QLatin1String("tls"), Qt::CaseInsensitive) == 0)
                asked = Transport::Tls;
            else
                return refused(QStringLiteral("Sip IP/Domain: the transport \"%1\" is unknown; "
                                              "it is udp, tcp or tls.")
                                   .arg(value));
            if (entry.transport && *entry.transport != asked)
                return refused(QStringLiteral("Sip IP/Domain: sips: goes over TLS only, not %1.")
                                   .arg(transportName(asked)));
            entry.transport = asked;
        }
    }

    QString portText;
    bool hasPort = false;
    if (text.startsWith(QLatin1Char('['))) {
        const qsizetype close = text.indexOf(QLatin1Char(']'));
        if (close < 0)
            return refused(QStringLiteral("Sip IP/Domain: the bracket around the IPv6 address "
                                          "is not closed."));
        entry.host = text.mid(1, close - 1);
        const QString rest = text.mid(close + 1);
        if (!rest.isEmpty()) {
            if (!rest.startsWith(QLatin1Char(':')))
                return refused(
                    QStringLiteral("Sip IP/Domain: only \":port\" may follow the IPv6 address."));
            hasPort = true;
            portText = rest.mid(1);
        }
        if (!isAddress(entry.host, AF_INET6))
            return refused(
                QStringLiteral("Sip IP/Domain: \"%1\" is not an IPv6 address.").arg(entry.host));
    } else {
        const qsizetype colon = text.indexOf(QLatin1Char(':'));
        if (colon >= 0 && text.indexOf(QLatin1Char(':'), colon + 1) >= 0)
            return refused(QStringLiteral("Sip IP/Domain: an IPv6 address goes in brackets, as "
                                          "[2001:db8::1]:5060."));
        entry.host = text.left(colon);
        if (colon >= 0) {
            hasPort = true;
            portText = text.mid(colon + 1);
        }
        if (entry.host.isEmpty())
            return refused(QStringLiteral("Sip IP/Domain names no server."));
        if (!isHostName(entry.host))
            return refused(QStringLiteral("Sip IP/Domain: \"%1\" is not a server's name or "
                                          "address.")
                               .arg(entry.host));
    }
    if (hasPort) {
        entry.port = portText.isEmpty() ? std::nullopt : readPort(portText);
        if (!entry.port)
            return refused(QStringLiteral("Sip IP/Domain: the port \"%1\" is not a number from 1 "
                                          "to 65535.")
                               .arg(portText));
    }
    return entry;
}

} // namespace account
