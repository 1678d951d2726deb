#include "trustedcertificates.h"

#include "settingsstore.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>

#include <optional>
#include <stdexcept>

namespace account {

namespace {

constexpr QFileDevice::Permissions kOwnerOnly = QFileDevice::ReadOwner | QFileDevice::WriteOwner;

// "host:port" as a key of its own: QSettings takes "/" and "\" for groups.
QString keyOf(const QString &server) {
    return QStringLiteral("Servers/") + QString::fromLatin1(server.toUtf8().toPercentEncoding());
}

} // namespace

QString trustedCertificatesPath() {
    return QFileInfo(settingsFilePath())
        .absoluteDir()
        .filePath(QStringLiteral("TrustedCertificates.ini"));
}

QByteArray trustedCertificate(const QString &server) {
    if (!QFile::exists(trustedCertificatesPath()))
        return {};
    const QSettings file(trustedCertificatesPath(), QSettings::IniFormat);
    return QByteArray::fromHex(file.value(keyOf(server)).toByteArray());
}

void trustCertificate(const QString &server, const QByteArray &sha256) {
    const QString path = trustedCertificatesPath();
    QFileInfo(path).absoluteDir().mkpath(QStringLiteral("."));
    // Made the user's alone before anything is in it; the file written over it keeps that.
    if (!QFile::exists(path)) {
        QFile made(path);
        if (!made.open(QIODevice::WriteOnly) || !made.setPermissions(kOwnerOnly))
            throw std::runtime_error(
                QStringLiteral("%1 cannot be written.").arg(path).toStdString());
    }
    QSettings file(path, QSettings::IniFormat);
    file.setValue(keyOf(server), QString::fromLatin1(sha256.toHex()));
    file.sync();
    if (file.status() != QSettings::NoError || !QFile::setPermissions(path, kOwnerOnly))
        throw std::runtime_error(QStringLiteral("%1 cannot be written.").arg(path).toStdString());
}

namespace {

// A DER element: its tag, and where its contents lie in the certificate.
struct Element {
    unsigned char tag = 0;
    qsizetype start = 0; // first byte of the contents
    qsizetype end = 0;   // one past the last
};

// The element at at, within [at, limit); none when it does not fit (a certificate is the
// server's word, and read with care).
std::optional<Element> elementAt(const QByteArray &der, qsizetype at, qsizetype limit) {
    if (at + 2 > limit)
        return std::nullopt;
    Element element;
    element.tag = uchar(der[at]);
    qsizetype length = uchar(der[at + 1]);
    at += 2;
    if (length & 0x80) {
        const int bytes = int(length & 0x7f);
        if (bytes == 0 || bytes > 4 || at + bytes > limit)
            return std::nullopt;
        length = 0;
        for (int i = 0; i < bytes; ++i)
            length = (length << 8) | uchar(der[at++]);
    }
    if (length > limit - at)
        return std::nullopt;
    element.start = at;
    element.end = at + length;
    return element;
}

// The children of a constructed element, in order.
QList<Element> childrenOf(const QByteArray &der, const Element &parent) {
    QList<Element> children;
    for (qsizetype at = parent.start; at < parent.end;) {
        const std::optional<Element> child = elementAt(der, at, parent.end);
        if (!child)
            break;
        children.append(*child);
        at = child->end;
    }
    return children;
}

// A name as people read it: its common name, else its organisation, else empty.
QString displayName(const QByteArray &der, const Element &name) {
    static const QByteArray commonName("\x55\x04\x03", 3);
    static const QByteArray organisation("\x55\x04\x0a", 3);
    QString organisationValue;
    for (const Element &set : childrenOf(der, name)) {
        for (const Element &pair : childrenOf(der, set)) {
            const QList<Element> parts = childrenOf(der, pair);
            if (parts.size() != 2 || parts[0].tag != 0x06)
                continue;
            const QByteArray oid = der.mid(parts[0].start, parts[0].end - parts[0].start);
            const QString value =
                QString::fromUtf8(der.mid(parts[1].start, parts[1].end - parts[1].start));
            if (oid == commonName)
                return value;
            if (oid == organisation)
                organisationValue = value;
        }
    }
    return organisationValue;
}

} // namespace

CertificateSummary summarizeCertificate(const QByteArray &der) {
    CertificateSummary summary;
    summary.fingerprint = QString::fromLatin1(
        QCryptographicHash::hash(der, QCryptographicHash::Sha256).toHex(':').toUpper());
    // Certificate { tbsCertificate { [0] version, serial, signature, issuer, validity, subject } }
    const std::optional<Element> certificate = elementAt(der, 0, der.size());
    const QList<Element> parts = certificate ? childrenOf(der, *certificate) : QList<Element>();
    QList<Element> fields = parts.isEmpty() ? QList<Element>() : childrenOf(der, parts[0]);
    if (!fields.isEmpty() && fields[0].tag == 0xa0)
        fields.removeFirst();
    if (fields.size() >= 5) {
        summary.issuer = displayName(der, fields[2]);
        summary.subject = displayName(der, fields[4]);
    }
    return summary;
}

} // namespace account
