#include "devicechoice.h"

namespace audio {

QString &deviceOf(account::AudioDeviceChoice &choice, rtc::RTC_AUDIO_DEVICE part) {
    switch (part) {
    case rtc::RTCAD_SPEAKER:
        return choice.speaker;
    case rtc::RTCAD_RINGER:
        return choice.ringer;
    case rtc::RTCAD_MICROPHONE:
        break;
    }
    return choice.microphone;
}

void applySavedDevices(rtc::IRTCClient &client) {
    account::AudioDeviceChoice saved = account::readAudioDevices();
    for (const rtc::RTC_AUDIO_DEVICE part : kParts)
        if (!deviceOf(saved, part).isEmpty())
            client.SetPreferredAudioDevice(part, deviceOf(saved, part));
    client.SetEchoCancelling(saved.echoCancelling);
}

} // namespace audio
