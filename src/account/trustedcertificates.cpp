#include "trustedcertificates.h"

#include "settingsstore.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QSslCertificate>

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

CertificateSummary summarizeCertificate(const QByteArray &der) {
    const QSslCertificate certificate(der, QSsl::Der);
    return {certificate.subjectDisplayName(), certificate.issuerDisplayName(),
            QString::fromLatin1(
                QCryptographicHash::hash(der, QCryptographicHash::Sha256).toHex(':').toUpper())};
}

} // namespace account
