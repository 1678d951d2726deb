// The provisioning profile, made by the account's core and read by the client's: any account,
// display name, password and server that fit a profile come back from it as they went in (and the
// profile is refused exactly when no address of record can be made of them); any other text is
// read or refused with RtcError, and nothing else.
//
// Input: its first byte chooses. Odd: the rest is the text handed to the reader. Even: four
// strings of any UTF-16, each preceded by its length in code units (one byte).

#include "fuzzsupport.h"
#include "profiletext.h"
#include "provisioningprofile.h"
#include "rtcclient.h"

#include <cstdint>
#include <optional>

namespace {

std::optional<rtc::ProvisioningProfile> read(const QString &xml) {
    try {
        return rtc::parseProvisioningProfile(xml);
    } catch (const rtc::RtcError &error) {
        FUZZ_CHECK(!error.description().isEmpty());
        return std::nullopt;
    } catch (...) {
        FUZZ_CHECK(!"the profile reader threw something other than RtcError");
    }
    return std::nullopt;
}

void checkRoundTrip(const QString &account, const QString &name, const QString &password,
                    const QString &server) {
    if (!account::fitsProfile(account) || !account::fitsProfile(name) ||
        !account::fitsProfile(password) || !account::fitsProfile(server))
        return;
    const std::optional<rtc::ProvisioningProfile> profile =
        read(account::BuildProfileText(account, name, password, server));
    // "sip:account@server" is an address of record when both parts are there and the first '@'
    // stands after the account's first character.
    const bool addressable =
        !account.isEmpty() && !server.isEmpty() && !account.startsWith(QLatin1Char('@'));
    FUZZ_CHECK(profile.has_value() == addressable);
    if (!profile)
        return;
    FUZZ_CHECK(profile->key == account::profileKey());
    FUZZ_CHECK(profile->name == account);
    FUZZ_CHECK(profile->account == account);
    FUZZ_CHECK(profile->userName == name);
    FUZZ_CHECK(profile->password == password);
    FUZZ_CHECK(profile->userUri == QLatin1String("sip:") + account + QLatin1Char('@') + server);
    FUZZ_CHECK(profile->registrar == server);
    FUZZ_CHECK(profile->proxy == server);
    FUZZ_CHECK(profile->callDisplay == profile->userUri);
    FUZZ_CHECK(profile->expires == 600);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size == 0)
        return 0;
    const char *bytes = reinterpret_cast<const char *>(data) + 1;
    size_t left = size - 1;
    if (data[0] & 1) {
        read(QString::fromUtf8(bytes, qsizetype(left)));
        return 0;
    }
    QString values[4];
    fuzz::takeTexts(bytes, left, values);
    checkRoundTrip(values[0], values[1], values[2], values[3]);
    return 0;
}
