#include "clsvolume.h"

#include "alsamixer.h"
#include "messagebox.h"

#include <QStringList>

#include <algorithm>

namespace audio {

namespace {

// Each line under the names mixers give it, the first one with a fader taking it: a mixer that
// has no line input has its auxiliary input stand in, one without a capture level its microphone.
struct LineNames {
    QStringList names;
    Flow flow;
};

const std::array<LineNames, kMixerLineCount> &lineNames() {
    static const std::array<LineNames, kMixerLineCount> table{{
        {{QStringLiteral("Master")}, Flow::Playback},
        {{QStringLiteral("Capture"), QStringLiteral("Mic")}, Flow::Capture},
        {{QStringLiteral("PCM")}, Flow::Playback},
        {{QStringLiteral("Line"), QStringLiteral("Aux")}, Flow::Playback},
        {{QStringLiteral("CD")}, Flow::Playback},
        {{QStringLiteral("Synth")}, Flow::Playback},
    }};
    return table;
}

MixerDeviceFactory &deviceFactory() {
    static MixerDeviceFactory factory;
    return factory;
}

std::unique_ptr<MixerDevice> defaultDevice() {
    if (deviceFactory())
        return deviceFactory()();
    if (auto opening = takeOpeningMixer())
        return opening;
    return std::make_unique<AlsaMixer>();
}

} // namespace

MixerDeviceFactory setMixerDeviceFactory(MixerDeviceFactory factory) {
    return std::exchange(deviceFactory(), std::move(factory));
}

clsVolume::clsVolume(std::unique_ptr<MixerDevice> device)
    : m_device(device ? std::move(device) : defaultDevice()) {
    if (!m_device->open()) {
        platform::showMessage(QStringLiteral("No mixer found!"));
        return;
    }
    for (int line = 0; line < kMixerLineCount; ++line) {
        const LineNames &candidates = lineNames()[static_cast<size_t>(line)];
        for (const QString &name : candidates.names) {
            const MixerControl volume = m_device->findVolume(name, candidates.flow);
            if (!volume.valid())
                continue;
            m_volume[line] = volume;
            m_volumeSet |= 1L << line;
            m_range[line] = m_device->range(volume);
            m_mute[line] = m_device->findMute(volume);
            if (m_mute[line].valid())
                m_muteSet |= 1L << line;
            break;
        }
    }
}

clsVolume::~clsVolume() = default;

std::optional<long> clsVolume::ReadVolume(MixerLine line) const {
    if (!m_volume[line].valid())
        return std::nullopt;
    return m_device->read(m_volume[line]);
}

void clsVolume::setVolume(MixerLine line, long NewVolume) {
    if (!m_volume[line].valid())
        return;
    const auto [minimum, maximum] = m_range[line];
    m_device->write(m_volume[line], std::min(std::max(NewVolume, minimum), maximum));
}

long clsVolume::Mute(MixerLine line) const {
    if (!m_mute[line].valid())
        return 0;
    return m_device->read(m_mute[line]).value_or(0);
}

void clsVolume::setMute(MixerLine line, long NewValue) {
    if (m_mute[line].valid())
        m_device->write(m_mute[line], NewValue);
}

} // namespace audio
