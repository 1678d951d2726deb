#pragma once

#include <QString>

#include <optional>

namespace rtc {

// The sound server's default output and input as its clients list them: the description
// ("Built-in Audio Analog Stereo"), which is also the name the engine gives the card for it.
struct SoundServerDefaults {
    QString sink;
    QString source;
};

// Asks the desktop's sound server (PulseAudio, or PipeWire's pulse server) which output and input
// are its defaults now, or those this program is given as its own (PULSE_SINK, PULSE_SOURCE);
// none when there is no server or it does not answer within timeoutMs. Blocks that long at most.
std::optional<SoundServerDefaults> askSoundServerDefaults(int timeoutMs);

} // namespace rtc
