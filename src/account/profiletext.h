#pragma once

#include <QString>

namespace account {

// The fixed key every provisioning profile of this program carries.
QString profileKey();

// Makes a value safe inside a double-quoted XML attribute. Text without & < > " TAB CR LF is
// unchanged. TAB, CR and LF go as character references: any XML reader turns them into spaces
// when they stand as themselves in an attribute.
QString escapeAttribute(const QString &value);

// Whether every character of value can travel in a profile: XML carries no other control
// characters, nor U+FFFE, U+FFFF or half a surrogate pair.
bool fitsProfile(const QString &value);

// The provisioning profile text for account A, display name N, password P and server S: one
// line, no XML declaration, exactly as the registration has always been handed it.
QString BuildProfileText(const QString &account, const QString &displayName,
                         const QString &password, const QString &server);
// The same for an account whose address of record is at domain, registered at server
// ("host[:port]") over protocol ("UDP", "TCP" or "TLS"); with domain == server and UDP, the text
// above.
QString BuildProfileText(const QString &account, const QString &displayName,
                         const QString &password, const QString &domain, const QString &server,
                         const QString &protocol);

} // namespace account
