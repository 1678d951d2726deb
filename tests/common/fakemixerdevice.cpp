#include "fakemixerdevice.h"

FakeMixerDevice::Line *FakeMixerDevice::State::line(const QString &name) {
    for (Line &l : lines)
        if (l.name == name)
            return &l;
    return nullptr;
}

std::shared_ptr<FakeMixerDevice::State> FakeMixerDevice::speakersAndMicrophone() {
    auto state = std::make_shared<State>();
    state->lines = {{QStringLiteral("Master"), 0, 65536, 32768, true, false},
                    {QStringLiteral("Capture"), 0, 65536, 32768, true, false}};
    return state;
}

audio::MixerControl FakeMixerDevice::findVolume(const QString &line, audio::Flow) {
    for (qsizetype i = 0; i < m_state->lines.size(); ++i)
        if (m_state->lines[i].name == line)
            return {static_cast<int>(2 * i)};
    return {};
}

audio::MixerControl FakeMixerDevice::findMute(const audio::MixerControl &volume) {
    const Line *line = lineOf(volume);
    if (!line || volume.id % 2 != 0 || !line->hasMute)
        return {};
    return {volume.id + 1};
}

std::pair<long, long> FakeMixerDevice::range(const audio::MixerControl &volume) {
    const Line *line = lineOf(volume);
    return line ? std::pair{line->minimum, line->maximum} : std::pair{0L, 0L};
}

std::optional<long> FakeMixerDevice::read(const audio::MixerControl &control) {
    const Line *line = lineOf(control);
    if (!line)
        return std::nullopt;
    return control.id % 2 ? long(line->muted) : line->level;
}

bool FakeMixerDevice::write(const audio::MixerControl &control, long value) {
    Line *line = lineOf(control);
    if (!line)
        return false;
    ++m_state->writes;
    if (control.id % 2)
        line->muted = value != 0;
    else
        line->level = value;
    return true;
}

FakeMixerDevice::Line *FakeMixerDevice::lineOf(const audio::MixerControl &control) const {
    if (!control.valid() || control.id / 2 >= m_state->lines.size())
        return nullptr;
    return &m_state->lines[control.id / 2];
}
