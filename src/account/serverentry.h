#pragma once

#include <QString>

#include <optional>

namespace account {

// How SIP messages travel to the server.
enum class Transport { Udp, Tcp, Tls };

// The profile's word for a transport: "UDP", "TCP" or "TLS".
QString transportName(Transport transport);

// What the login's server field holds, taken apart. The field takes
//     host   host:port                      (UDP, as it always has)
//     sips:host[:port]                      (TLS)
//     host[:port];transport=udp|tcp|tls     (any case)
//     [2001:db8::1]   [2001:db8::1]:5060    (an IPv6 address; UDP unless a transport is given)
// and a domain alone, which may name its servers in DNS (see serverlocator.h).
struct ServerEntry {
    QString host; // a name, an IPv4 address or an IPv6 address (without brackets)
    std::optional<quint16> port;
    std::optional<Transport> transport;
    // What is wrong with the entry, in a sentence for the user; empty when it is good.
    QString error;

    bool isValid() const { return error.isEmpty(); }
    bool isIpv6() const { return host.contains(QLatin1Char(':')); }
    // The host as it goes into a SIP address ("[2001:db8::1]" for IPv6), with ":port" when given.
    QString address() const;
    // The transport the entry asks for, or UDP.
    Transport transportOrUdp() const { return transport.value_or(Transport::Udp); }
    // A domain alone (no port, no transport, not an address): its servers may be looked up.
    bool isBareDomain() const;
};

ServerEntry parseServerEntry(const QString &text);

} // namespace account
