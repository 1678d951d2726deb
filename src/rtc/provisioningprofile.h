#pragma once

#include <QString>

namespace rtc {

// What a provisioning profile tells the client: who registers, with which credentials, where.
struct ProvisioningProfile {
    QString key;
    QString name;
    int expires = 0;
    QString account;  // digest user name
    QString userName; // display name
    QString password;
    QString userUri;   // the address of record, "sip:user@domain"
    QString registrar; // "host[:port]", "[IPv6 address][:port]"
    QString proxy;
    QString transport = QStringLiteral("UDP"); // the registrar's: "UDP", "TCP" or "TLS"
    QString proxyTransport = QStringLiteral("UDP");
    QString callDisplay;
};

// Reads a profile text. Text that is not well-formed XML, or that lacks the user's address, the
// account or a registrar reached over UDP, TCP or TLS, throws RtcError with a description of what
// is wrong.
ProvisioningProfile parseProvisioningProfile(const QString &xml);

} // namespace rtc
