#include "registrationstate.h"

#include "rtcvalues.h"

namespace account {

namespace {

// A failed registration in a few words: the user can tell a typing mistake in the server's name
// from a server that is down from one that said no. The status line gets the short form, its
// tooltip the sentence with the server's own words.
RegistrationShown failure(long code, const QString &phrase) {
    const QString word = QStringLiteral("NOTREGISTERED");
    if (code == 0)
        return {word, QStringLiteral("Failed: server not reachable"),
                QStringLiteral("Registration failed: server not found or not reachable")};
    // Accepted for no time at all: nothing is bound, so no call reaches the phone.
    if (code >= 200 && code < 300)
        return {word, QStringLiteral("Failed: not kept by server"),
                QStringLiteral("Registration failed: the server kept the registration for no "
                               "time (%1)")
                    .arg(phrase.trimmed())};
    if (code == rtc::RTC_STATUS_CERTIFICATE_REFUSED)
        return {word, QStringLiteral("Failed: certificate not trusted"),
                QStringLiteral("Registration failed: certificate not trusted")};
    if (code == 408 || code == 504)
        return {word, QStringLiteral("Failed: no answer from server"),
                QStringLiteral("Registration failed: no answer from the server")};
    const QString said = phrase.trimmed();
    return {word, QStringLiteral("Failed: refused (%1)").arg(code),
            said.isEmpty()
                ? QStringLiteral("Registration failed: refused (%1)").arg(code)
                : QStringLiteral("Registration failed: refused (%1 %2)").arg(code).arg(said)};
}

} // namespace

std::optional<RegistrationShown> registrationShown(long state, long code, const QString &phrase) {
    switch (state) {
    case rtc::RTCRS_NOT_REGISTERED:
        return RegistrationShown{QStringLiteral("NOTREGISTERED"), QStringLiteral("Not Registered")};
    case rtc::RTCRS_REGISTERING:
        return RegistrationShown{QStringLiteral("REGISTERING"), QStringLiteral("Registering")};
    case rtc::RTCRS_REGISTERED:
        return RegistrationShown{QStringLiteral("REGISTERED"),
                                 QStringLiteral("Registered and Ready...")};
    case rtc::RTCRS_REJECTED:
        return RegistrationShown{QStringLiteral("REJECTED"), QStringLiteral("Rejected")};
    case rtc::RTCRS_LOGGED_OFF:
        return RegistrationShown{QStringLiteral("LOGGEDOFF"), QStringLiteral("Logged off.")};
    case rtc::RTCRS_ERROR:
        // Not registered any more (a refresh failed) or not at all: no call may be placed, and
        // the user is told why rather than left reading "Registering".
        return failure(code, phrase);
    default:
        return std::nullopt;
    }
}

} // namespace account
