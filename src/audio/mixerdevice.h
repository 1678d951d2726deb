#pragma once

#include <QString>

#include <optional>
#include <utility>

namespace audio {

// Which way sound flows through a mixer line: out to the speakers, or in from a microphone.
enum class Flow { Playback, Capture };

// One control of a mixer line, as the device that found it numbers it: a fader or a mute switch.
struct MixerControl {
    int id = -1;
    bool valid() const { return id >= 0; }
};

// A sound mixer, seen as the volume control needs it: lines found by name, each with a fader and
// perhaps a mute switch. Every read asks the device at that moment; nothing is kept.
class MixerDevice {
public:
    virtual ~MixerDevice() = default;

    // Opens the device; false when there is no mixer to open.
    virtual bool open() = 0;
    // The fader of the named line; invalid when the line or its fader is missing. A line that
    // can be driven both ways is driven the way given.
    virtual MixerControl findVolume(const QString &line, Flow flow) = 0;
    // The mute switch of the line whose fader this is, the same way round; invalid when none.
    virtual MixerControl findMute(const MixerControl &volume) = 0;
    // The fader's lowest and highest position.
    virtual std::pair<long, long> range(const MixerControl &volume) = 0;
    // A fader's position, or for a mute switch non-zero while the line is muted; nothing when the
    // device cannot tell.
    virtual std::optional<long> read(const MixerControl &control) = 0;
    // Sets a fader's position, or mutes the line (non-zero) or lets it sound (0).
    virtual bool write(const MixerControl &control, long value) = 0;
};

} // namespace audio
