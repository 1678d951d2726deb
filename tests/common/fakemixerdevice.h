#pragma once

#include "mixerdevice.h"

#include <QList>
#include <QString>

#include <memory>

// A scripted mixer for tests of the volume control and of windows that must not depend on the
// machine's sound. Its lines live in a shared state, so a test keeps a hand on them after the
// device has gone to a clsVolume.
class FakeMixerDevice final : public audio::MixerDevice {
public:
    struct Line {
        QString name;
        long minimum = 0;
        long maximum = 65536;
        long level = 0;
        bool hasMute = true;
        bool muted = false;
    };
    struct State {
        bool opens = true;
        QList<Line> lines;
        int writes = 0; // fader and switch writes the device took
        Line *line(const QString &name);
    };

    explicit FakeMixerDevice(std::shared_ptr<State> state) : m_state(std::move(state)) {}
    // A device with a speakers' and a microphone line, both 0..65536 at half way.
    static std::shared_ptr<State> speakersAndMicrophone();

    bool open() override { return m_state->opens; }
    audio::MixerControl findVolume(const QString &line, audio::Flow flow) override;
    audio::MixerControl findMute(const audio::MixerControl &volume) override;
    std::pair<long, long> range(const audio::MixerControl &volume) override;
    std::optional<long> read(const audio::MixerControl &control) override;
    bool write(const audio::MixerControl &control, long value) override;

private:
    // Control ids: the line's index times two, plus one for its mute switch.
    Line *lineOf(const audio::MixerControl &control) const;

    std::shared_ptr<State> m_state;
};
