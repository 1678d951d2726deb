#include "provisioningprofile.h"

#include "rtcclient.h"

#include <QXmlStreamReader>

namespace rtc {

namespace {

[[noreturn]] void refuse(const QString &why) {
    throw RtcError(RTC_E_INVALID_PROFILE,
                   QStringLiteral("The provisioning profile is not valid: ") + why);
}

void readServer(const QXmlStreamAttributes &attrs, ProvisioningProfile &profile) {
    const QString role = attrs.value(QLatin1String("role")).toString();
    const QString protocol = attrs.value(QLatin1String("protocol")).toString();
    const QString transport = protocol.toUpper();
    if (transport != QLatin1String("UDP") && transport != QLatin1String("TCP") &&
        transport != QLatin1String("TLS"))
        refuse(QStringLiteral("server protocol \"%1\" is not supported, only UDP, TCP and TLS.")
                   .arg(protocol));
    const QString addr = attrs.value(QLatin1String("addr")).toString();
    if (role == QLatin1String("registrar")) {
        profile.registrar = addr;
        profile.transport = transport;
    } else if (role == QLatin1String("proxy")) {
        profile.proxy = addr;
        profile.proxyTransport = transport;
    }
}

// "sip:user@host" with both parts present; the host may carry a port.
bool isSipAddressOfRecord(const QString &uri) {
    if (!uri.startsWith(QLatin1String("sip:")))
        return false;
    const int at = uri.indexOf(QLatin1Char('@'));
    return at > 4 && at < uri.size() - 1;
}

} // namespace

ProvisioningProfile parseProvisioningProfile(const QString &xml) {
    ProvisioningProfile profile;
    bool sawRoot = false;
    bool sawUser = false;
    QXmlStreamReader reader(xml);
    while (!reader.atEnd()) {
        if (reader.readNext() != QXmlStreamReader::StartElement)
            continue;
        const QXmlStreamAttributes attrs = reader.attributes();
        const auto name = reader.name();
        if (!sawRoot) {
            if (name != QLatin1String("provision"))
                refuse(QStringLiteral("the document is not a provisioning profile."));
            sawRoot = true;
            profile.key = attrs.value(QLatin1String("key")).toString();
            profile.name = attrs.value(QLatin1String("name")).toString();
            bool ok = true;
            const auto expires = attrs.value(QLatin1String("expires"));
            profile.expires = expires.isEmpty() ? 3600 : expires.toInt(&ok);
            if (!ok || profile.expires <= 0)
                refuse(QStringLiteral("expires \"%1\" is not a number of seconds.").arg(expires));
        } else if (name == QLatin1String("user")) {
            sawUser = true;
            profile.account = attrs.value(QLatin1String("account")).toString();
            profile.userName = attrs.value(QLatin1String("name")).toString();
            profile.password = attrs.value(QLatin1String("password")).toString();
            profile.userUri = attrs.value(QLatin1String("uri")).toString();
        } else if (name == QLatin1String("sipsrv")) {
            readServer(attrs, profile);
        } else if (name == QLatin1String("provider")) {
            profile.callDisplay = attrs.value(QLatin1String("calldisplay")).toString();
        }
    }
    if (reader.hasError())
        refuse(QStringLiteral("line %1, column %2: %3.")
                   .arg(reader.lineNumber())
                   .arg(reader.columnNumber())
                   .arg(reader.errorString()));
    if (!sawUser)
        refuse(QStringLiteral("it names no user."));
    if (profile.account.isEmpty())
        refuse(QStringLiteral("the user has no account."));
    if (!isSipAddressOfRecord(profile.userUri))
        refuse(
            QStringLiteral("the user's address \"%1\" is not a SIP address.").arg(profile.userUri));
    if (profile.registrar.isEmpty())
        refuse(QStringLiteral("it names no registrar."));
    if (profile.proxy.isEmpty()) {
        profile.proxy = profile.registrar;
        profile.proxyTransport = profile.transport;
    }
    return profile;
}

} // namespace rtc
