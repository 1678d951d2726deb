#pragma once

#include <QByteArray>
#include <QChar>
#include <QList>
#include <QString>

namespace calls {

// One key of the telephone keypad: the clip that sounds while it is pressed and the DTMF event it
// sends into a call.
struct KeyTone {
    QChar key;        // '0'..'9', '*', '#'
    QString toneName; // the clip's name: "Tone0.wav".."Tone9.wav", "Tonestar.wav", "Tonepnd.wav"
    int dtmf;         // 0..9, 10 for '*', 11 for '#'
    int lowHz;        // the touch-tone row frequency
    int highHz;       // the touch-tone column frequency
};

// The twelve keys in the order 0..9, *, #.
const QList<KeyTone> &keyTones();

// A complete RIFF WAVE file holding PCM samples as they are given (interleaved, little-endian).
QByteArray pcmWaveFile(int sampleRate, int channels, int bitsPerSample, const QByteArray &samples);

// A key clip: 80 ms of the two frequencies at equal strength, both starting at phase zero, as
// unsigned 8-bit mono samples at 8000 samples/s swinging about 64 either side of 128. The result
// is a 684-byte WAV file.
QByteArray makeToneClip(int lowHz, int highHz);

// The clip built into the program under this name ("Tone5.wav", "TONESTAR.WAV", "Ring.wav"...),
// whatever the case of its letters; empty when there is none.
QByteArray toneClip(const QString &toneName);

// Registers the clips built into the program. Safe to call often; toneClip() calls it itself.
void initSoundResources();

} // namespace calls
