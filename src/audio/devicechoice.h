#pragma once

#include "rtcclient.h"
#include "settingsstore.h"

// The sound devices chosen for the telephone's parts, between the settings and the client.
namespace audio {

// The parts a device is chosen for, in the order the tuning wizard asks for them.
inline constexpr rtc::RTC_AUDIO_DEVICE kParts[] = {rtc::RTCAD_SPEAKER, rtc::RTCAD_RINGER,
                                                   rtc::RTCAD_MICROPHONE};

// One part's device in a choice.
QString &deviceOf(account::AudioDeviceChoice &choice, rtc::RTC_AUDIO_DEVICE part);

// Gives a client that has just started the devices kept in the settings. A part whose device is
// not there is left on the default device (the tuning wizard says so when it opens); the saved
// choice stays, for when the device is back.
void applySavedDevices(rtc::IRTCClient &client);

} // namespace audio
