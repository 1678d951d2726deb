#pragma once

#include <QString>

#include <optional>

// What the window shows for a registration state the engine reports: the state word the rest of
// the program tests ("REGISTERED" lets calls be placed) and the status line's text.
namespace account {

struct RegistrationShown {
    QString word;
    QString caption;
    // The longer form for the status line's tooltip, empty when the caption says it all.
    QString whole = QString();
};

// For the engine's state value and, for a failure, the SIP status code (0 when the server's
// name or address led nowhere; 408 when the request timed out) and phrase. States that change
// nothing the user sees (unregistering, ...) give nothing.
std::optional<RegistrationShown> registrationShown(long state, long code, const QString &phrase);

} // namespace account
