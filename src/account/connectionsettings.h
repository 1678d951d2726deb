#pragma once

#include "rtcclient.h"

#include <QString>

// How the telephone reaches the network and the far ends (the STUN server, ICE, call encryption,
// IPv6), kept in the settings' own section [Connection], between the settings and the client.
namespace account {

// The options the settings hold; a missing entry, or one that does not read as a value of its
// kind (a hand-edited file), is the default.
rtc::ConnectionOptions readConnectionOptions();
// Writes the entries in one write. Throws std::runtime_error as SaveSetting does.
void saveConnectionOptions(const rtc::ConnectionOptions &options);

// What is wrong with a STUN server typed as "host[:port]", in a sentence for the user; empty when
// nothing is (an empty entry is no STUN server).
QString stunServerProblem(const QString &entry);

// The settings' words for the encryption choices: "Off", "WhenPossible", "Always".
QString encryptionWord(rtc::RTC_ENCRYPTION encryption);

// Gives a client that has just started the options the settings hold.
void applySavedConnection(rtc::IRTCClient &client);

} // namespace account
