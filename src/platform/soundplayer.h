#pragma once

#include <QByteArray>
#include <QString>

// Plays the program's sounds (key tones, the ring) through the system's default sound device,
// the way the Windows sound call the program was first written against did: one sound at a
// time, a new one cutting off the one before, playback on a thread of its own.
//
// Called from the GUI thread only. Nothing is printed and nothing fails loudly when the machine
// has no sound device: the calls just return false.
namespace platform {

enum SoundFlag : unsigned {
    SND_SYNC = 0,        // return when the sound has played (never with SND_LOOP)
    SND_ASYNC = 0x1,     // return at once; the sound plays on
    SND_NODEFAULT = 0x2, // when the file cannot be played, play nothing instead of the default
    SND_LOOP = 0x8,      // repeat until stopSound() or another sound; needs SND_ASYNC
    SND_NOSTOP = 0x10,   // while another sound is playing, play nothing and return false
};

// Plays a WAV file (a path, or a Qt resource path such as ":/sounds/RING.WAV"): PCM, 8-bit
// unsigned or 16-bit signed, mono or stereo, any sample rate. A file that cannot be read or
// played gives the default sound unless SND_NODEFAULT is set. An empty name stops whatever is
// playing. Returns whether a sound started (with SND_SYNC: whether one played).
bool playSound(const QString &fileName, unsigned flags);

// The same for a WAV file already in memory.
bool playSoundData(const QByteArray &wav, unsigned flags);

// Cuts off the sound that is playing, if any.
void stopSound();

// Whether a sound of the program is still playing (a looping one until it is stopped).
bool isSoundPlaying();

// The WAV file played in place of one that cannot be played. Until one is set, there is none,
// and such a file plays nothing.
void setDefaultSound(const QByteArray &wav);

} // namespace platform
