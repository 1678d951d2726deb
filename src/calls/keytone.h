#pragma once

#include "rtcclient.h"

#include <QString>

#include <functional>

namespace calls {

// Plays a key's tone clip here, straight from the program's own clips: asynchronous, cutting off
// the previous key's tone. Throws std::runtime_error when no sound device plays it.
void playKeyToneLocally(const QString &toneName);

// The call progress tones (busy, a caller waiting) sound here the same way, from the program's
// own clips ("BUSY.WAV", "WAITING.WAV").
inline void playCallToneLocally(const QString &clipName) {
    playKeyToneLocally(clipName);
}

// The ring and the ringback the client rings with, the program's own clips, and the player of the
// program's sounds for the ring on the default device.
rtc::RingSounds ringSounds();

// Replaces the local playback (tests see which tones would sound); empty restores it.
void setLocalTonePlayer(std::function<void(const QString &toneName)> player);

} // namespace calls
