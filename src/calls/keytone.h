#pragma once

#include <QString>

#include <functional>

namespace calls {

// Plays a key's tone clip here, through the scratch file "DTMF.WAV": asynchronous, cutting off
// the previous key's tone, silent when the clip cannot be played.
void playKeyToneLocally(const QString &toneName);

// Where the scratch file goes: the current folder, or the user's temporary folder when the
// current one cannot be written.
QString scratchFilePath();

// Replaces the local playback (tests see which tones would sound); empty restores it.
void setLocalTonePlayer(std::function<void(const QString &toneName)> player);

} // namespace calls
