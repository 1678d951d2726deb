#pragma once

#include <QByteArray>
#include <QString>

// Server certificates the user chose to trust although they did not verify, each for the server
// it was shown by: a file of the user's beside the settings, readable by the user alone.
namespace account {

QString trustedCertificatesPath();

// The SHA-256 digest of the certificate trusted for server ("host:port"); empty when none.
QByteArray trustedCertificate(const QString &server);
// Trusts the certificate of that digest for server from now on, in place of any before. Throws
// std::runtime_error when the file cannot be written.
void trustCertificate(const QString &server, const QByteArray &sha256);

// What the user is shown of a certificate (DER) before trusting it.
struct CertificateSummary {
    QString subject;
    QString issuer;
    QString fingerprint; // SHA-256, "AB:CD:..."
};
CertificateSummary summarizeCertificate(const QByteArray &der);

} // namespace account
