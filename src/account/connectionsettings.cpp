#include "connectionsettings.h"

#include "settingsstore.h"

#include <QRegularExpression>
#include <QUrl>

namespace account {

namespace {

const QString kStunServerKey = QStringLiteral("Connection/StunServer");
const QString kIceKey = QStringLiteral("Connection/Ice");
const QString kEncryptionKey = QStringLiteral("Connection/Encryption");
const QString kIpv6Key = QStringLiteral("Connection/IPv6");
const QString kDirectCallsKey = QStringLiteral("Connection/DirectCalls");

constexpr rtc::RTC_ENCRYPTION kEncryptions[] = {rtc::RTCEN_OFF, rtc::RTCEN_WHEN_POSSIBLE,
                                                rtc::RTCEN_ALWAYS};

QString boolWord(bool value) {
    return value ? QStringLiteral("true") : QStringLiteral("false");
}

// "true" or "false", as QSettings writes them, in any case; anything else is the default.
bool readBool(const QString &text, bool defaultValue) {
    const QString word = text.trimmed().toLower();
    if (word == QLatin1String("true"))
        return true;
    if (word == QLatin1String("false"))
        return false;
    return defaultValue;
}

// Whether host is a name of letters, digits and hyphens between dots, or an IPv4 address.
bool isHostName(const QString &host) {
    static const QRegularExpression label(
        QStringLiteral("^[A-Za-z0-9]([A-Za-z0-9-]{0,61}[A-Za-z0-9])?$"));
    static const QRegularExpression dotsAndDigits(QStringLiteral("^[0-9.]+$"));
    if (host.size() > 253)
        return false;
    const QStringList labels =
        host.endsWith(QLatin1Char('.')) ? host.chopped(1).split('.') : host.split('.');
    for (const QString &part : labels)
        if (!label.match(part).hasMatch())
            return false;
    if (!dotsAndDigits.match(host).hasMatch())
        return true;
    // All digits: an IPv4 address, four numbers up to 255.
    if (labels.size() != 4)
        return false;
    for (const QString &part : labels)
        if (part.toUInt() > 255)
            return false;
    return true;
}

} // namespace

QString encryptionWord(rtc::RTC_ENCRYPTION encryption) {
    switch (encryption) {
    case rtc::RTCEN_OFF:
        return QStringLiteral("Off");
    case rtc::RTCEN_ALWAYS:
        return QStringLiteral("Always");
    case rtc::RTCEN_WHEN_POSSIBLE:
        break;
    }
    return QStringLiteral("WhenPossible");
}

rtc::ConnectionOptions readConnectionOptions() {
    const QStringList values =
        readKeys({kStunServerKey, kIceKey, kEncryptionKey, kIpv6Key, kDirectCallsKey});
    rtc::ConnectionOptions options;
    // A server that could not be typed in the dialog is none: the engine would be given nonsense.
    if (stunServerProblem(values[0]).isEmpty())
        options.stunServer = values[0].trimmed();
    options.ice = readBool(values[1], options.ice);
    for (const rtc::RTC_ENCRYPTION encryption : kEncryptions)
        if (values[2].trimmed().compare(encryptionWord(encryption), Qt::CaseInsensitive) == 0)
            options.encryption = encryption;
    options.ipv6 = readBool(values[3], options.ipv6);
    options.directCalls = readBool(values[4], options.directCalls);
    return options;
}

void saveConnectionOptions(const rtc::ConnectionOptions &options) {
    saveKeys({{kStunServerKey, options.stunServer.trimmed()},
              {kIceKey, boolWord(options.ice)},
              {kEncryptionKey, encryptionWord(options.encryption)},
              {kIpv6Key, boolWord(options.ipv6)},
              {kDirectCallsKey, boolWord(options.directCalls)}});
}

QString stunServerProblem(const QString &entry) {
    const QString text = entry.trimmed();
    if (text.isEmpty())
        return {};
    if (text.contains(QRegularExpression(QStringLiteral("\\s"))))
        return QStringLiteral("The STUN server may not contain spaces.");
    if (text.contains(QLatin1String("://")) ||
        text.startsWith(QLatin1String("stun:"), Qt::CaseInsensitive) ||
        text.startsWith(QLatin1String("stuns:"), Qt::CaseInsensitive))
        return QStringLiteral("Give the STUN server as host or host:port, without \"stun:\" or "
                              "any other prefix.");
    QString host = text;
    QString port;
    if (text.startsWith(QLatin1Char('['))) {
        const qsizetype close = text.indexOf(QLatin1Char(']'));
        const QString after = close < 0 ? QString() : text.mid(close + 1);
        if (close < 0 || (!after.isEmpty() && !after.startsWith(QLatin1Char(':'))))
            return QStringLiteral("\"%1\" is not an IPv6 address in brackets, such as "
                                  "[2001:db8::1]:3478.")
                .arg(text);
        host = text.mid(1, close - 1);
        if (!after.isEmpty())
            port = after.mid(1);
        QUrl url;
        url.setHost(host, QUrl::StrictMode);
        if (host.isEmpty() || !host.contains(QLatin1Char(':')) || !url.isValid() ||
            url.host().isEmpty())
            return QStringLiteral("\"%1\" is not an IPv6 address.").arg(host);
    } else {
        const qsizetype colons = text.count(QLatin1Char(':'));
        if (colons > 1)
            return QStringLiteral("Write an IPv6 address in brackets, such as [%1]:3478.")
                .arg(text);
        if (colons == 1) {
            host = text.section(QLatin1Char(':'), 0, 0);
            port = text.section(QLatin1Char(':'), 1);
        }
        if (host.isEmpty())
            return QStringLiteral("The STUN server's name or address is missing before the "
                                  "port.");
        if (!isHostName(host))
            return QStringLiteral("\"%1\" is not a host name or address.").arg(host);
    }
    if (!port.isNull()) {
        bool number = false;
        const uint value = port.toUInt(&number);
        if (!number || value == 0 || value > 65535 || port.startsWith(QLatin1Char('+')))
            return QStringLiteral("The port \"%1\" is not a number from 1 to 65535.").arg(port);
    }
    return {};
}

void applySavedConnection(rtc::IRTCClient &client) {
    client.SetConnectionOptions(readConnectionOptions());
}

} // namespace account
