#pragma once

#include "mixerdevice.h"

#include <array>
#include <functional>
#include <memory>
#include <optional>

namespace audio {

// The six mixer lines, in their fixed order; line n is bit 2^n of the availability sets.
enum MixerLine {
    Speakers,    // the master output level ("Wave" in the property names)
    Microphone,  // the recording level
    WaveOut,     // the level of sounds played by programs ("WaveIn" in the property names)
    LineIn,      // the line input, else the auxiliary input
    CompactDisc, // the CD player
    Synthesizer, // the MIDI synthesizer
    kMixerLineCount
};

// The mixer controller: opens the mixer once, finds each line's fader and mute switch, and
// offers per line its range, its level and its muting. Levels and muting are read from the mixer
// at every read, never kept here, so a change made elsewhere reads as it is.
class clsVolume {
public:
    // Opens the given mixer, or the one setMixerDeviceFactory makes (the system's mixer unless a
    // test said otherwise). A mixer that cannot be opened says "No mixer found!" once; the object
    // then has no lines.
    explicit clsVolume(std::unique_ptr<MixerDevice> device = nullptr);
    ~clsVolume();
    clsVolume(const clsVolume &) = delete;
    clsVolume &operator=(const clsVolume &) = delete;

    // Whether any of the given line bits has a fader (mute switch).
    bool HasVolumeControl(long lineBits) const { return (m_volumeSet & lineBits) != 0; }
    bool HasMuteControl(long lineBits) const { return (m_muteSet & lineBits) != 0; }

    // The fader's range; 0 and 0 for a line without one.
    long Minimum(MixerLine line) const { return m_range[line].first; }
    long Maximum(MixerLine line) const { return m_range[line].second; }
    // The level now; nothing for a line without a fader or when the mixer cannot tell.
    std::optional<long> ReadVolume(MixerLine line) const;
    // The level now, 0 when it cannot be read.
    long Volume(MixerLine line) const { return ReadVolume(line).value_or(0); }
    // Sets the level, brought into the line's range first. A line without a fader is left alone.
    void setVolume(MixerLine line, long NewVolume);
    // Non-zero while the line is muted; 0 when it sounds or cannot be read.
    long Mute(MixerLine line) const;
    // Any non-zero value (-1 for true) mutes the line, 0 lets it sound.
    void setMute(MixerLine line, long NewValue);

    // The same, line by line, under the names the window uses.
    long MinWaveVolume() const { return Minimum(Speakers); }
    long MaxWaveVolume() const { return Maximum(Speakers); }
    long MinMicVolume() const { return Minimum(Microphone); }
    long MaxMicVolume() const { return Maximum(Microphone); }
    long MinWavInVolume() const { return Minimum(WaveOut); }
    long MaxWavInVolume() const { return Maximum(WaveOut); }
    long MinLineInVolume() const { return Minimum(LineIn); }
    long MaxLineInVolume() const { return Maximum(LineIn); }
    long MinCDVolume() const { return Minimum(CompactDisc); }
    long MaxCDVolume() const { return Maximum(CompactDisc); }
    long MinMidVolume() const { return Minimum(Synthesizer); }
    long MaxMidVolume() const { return Maximum(Synthesizer); }

    long WaveVolume() const { return Volume(Speakers); }
    long MicroVolume() const { return Volume(Microphone); }
    long WaveInVolume() const { return Volume(WaveOut); }
    long LineInVolume() const { return Volume(LineIn); }
    long CD_Volume() const { return Volume(CompactDisc); }
    long MIDIVolume() const { return Volume(Synthesizer); }
    void setWaveVolume(long NewVolume) { setVolume(Speakers, NewVolume); }
    void setMicroVolume(long NewVolume) { setVolume(Microphone, NewVolume); }
    void setWaveInVolume(long NewVolume) { setVolume(WaveOut, NewVolume); }
    void setLineInVolume(long NewVolume) { setVolume(LineIn, NewVolume); }
    void setCD_Volume(long NewVolume) { setVolume(CompactDisc, NewVolume); }
    void setMIDIVolume(long NewVolume) { setVolume(Synthesizer, NewVolume); }

    long WaveMute() const { return Mute(Speakers); }
    long MicroMute() const { return Mute(Microphone); }
    long WaveInMute() const { return Mute(WaveOut); }
    long LineInMute() const { return Mute(LineIn); }
    long CD_Mute() const { return Mute(CompactDisc); }
    long MIDIMute() const { return Mute(Synthesizer); }
    void setWaveMute(long NewValue) { setMute(Speakers, NewValue); }
    void setMicroMute(long NewValue) { setMute(Microphone, NewValue); }
    void setWaveInMute(long NewValue) { setMute(WaveOut, NewValue); }
    void setLineInMute(long NewValue) { setMute(LineIn, NewValue); }
    void setCD_Mute(long NewValue) { setMute(CompactDisc, NewValue); }
    void setMIDIMute(long NewValue) { setMute(Synthesizer, NewValue); }

private:
    std::unique_ptr<MixerDevice> m_device;
    std::array<MixerControl, kMixerLineCount> m_volume{};
    std::array<MixerControl, kMixerLineCount> m_mute{};
    std::array<std::pair<long, long>, kMixerLineCount> m_range{};
    long m_volumeSet = 0;
    long m_muteSet = 0;
};

// Makes the mixer every clsVolume created without one opens; an empty factory restores the
// system's (ALSA's "default"). Returns the factory it replaces. For tests that must not depend on
// the machine's sound.
using MixerDeviceFactory = std::function<std::unique_ptr<MixerDevice>()>;
MixerDeviceFactory setMixerDeviceFactory(MixerDeviceFactory factory);

} // namespace audio
