#include "alsamixer.h"

#include <alsa/asoundlib.h>

#include <future>
#include <utility>

namespace audio {

namespace {

// ALSA prints every failure on stderr itself (a machine without a sound server would print a few
// lines at each start); the mixer tells its caller by its return values instead.
void ignoreAlsaError(const char *, int, const char *, int, const char *, ...) {}

snd_mixer_elem_t *findElement(snd_mixer_t *mixer, const QByteArray &name) {
    snd_mixer_selem_id_t *id = nullptr;
    snd_mixer_selem_id_alloca(&id);
    snd_mixer_selem_id_set_index(id, 0);
    snd_mixer_selem_id_set_name(id, name.constData());
    return snd_mixer_find_selem(mixer, id);
}

// Every channel is set alike; the first one stands for the line when read.
constexpr snd_mixer_selem_channel_id_t kReadChannel = SND_MIXER_SCHN_FRONT_LEFT;

} // namespace

AlsaMixer::AlsaMixer(QByteArray device) : m_device(std::move(device)) {}

AlsaMixer::~AlsaMixer() {
    if (m_mixer)
        snd_mixer_close(m_mixer);
}

bool AlsaMixer::open() {
    snd_lib_error_set_handler(ignoreAlsaError);
    if (m_mixer) {
        snd_mixer_close(m_mixer);
        m_mixer = nullptr;
        m_controls.clear();
    }
    snd_mixer_t *mixer = nullptr;
    if (snd_mixer_open(&mixer, 0) < 0)
        return false;
    if (snd_mixer_attach(mixer, m_device.constData()) < 0 ||
        snd_mixer_selem_register(mixer, nullptr, nullptr) < 0 || snd_mixer_load(mixer) < 0) {
        snd_mixer_close(mixer);
        return false;
    }
    // A mixer's first look for changes asks the sound server again (about 1.5 ms; later looks
    // cost nothing): done here, where the mixer is opened, on a thread of its own at start-up,
    // rather than at the first reading of the levels on the GUI thread.
    snd_mixer_handle_events(mixer);
    m_mixer = mixer;
    return true;
}

MixerControl AlsaMixer::findVolume(const QString &line, Flow flow) {
    if (!m_mixer)
        return {};
    const QByteArray name = line.toLatin1();
    snd_mixer_elem_t *element = findElement(m_mixer, name);
    if (!element)
        return {};
    const bool playback = snd_mixer_selem_has_playback_volume(element);
    const bool capture = snd_mixer_selem_has_capture_volume(element);
    if (!playback && !capture)
        return {};
    // An element with faders both ways (a microphone with a loop-back to the speakers) is driven
    // the way asked; one with a single fader, through that one.
    const Flow used = playback && capture ? flow : playback ? Flow::Playback : Flow::Capture;
    m_controls.push_back({name, used, false});
    return {static_cast<int>(m_controls.size() - 1)};
}

MixerControl AlsaMixer::findMute(const MixerControl &volume) {
    const Control *fader = control(volume);
    if (!fader || fader->mute)
        return {};
    snd_mixer_elem_t *element = findElement(m_mixer, fader->element);
    if (!element)
        return {};
    const bool hasSwitch = fader->flow == Flow::Capture
                               ? snd_mixer_selem_has_capture_switch(element)
                               : snd_mixer_selem_has_playback_switch(element);
    if (!hasSwitch)
        return {};
    m_controls.push_back({fader->element, fader->flow, true});
    return {static_cast<int>(m_controls.size() - 1)};
}

std::pair<long, long> AlsaMixer::range(const MixerControl &volume) {
    const Control *fader = control(volume);
    snd_mixer_elem_t *element = fader ? findElement(m_mixer, fader->element) : nullptr;
    long minimum = 0;
    long maximum = 0;
    if (!element || fader->mute)
        return {0, 0};
    const int result = fader->flow == Flow::Capture
                           ? snd_mixer_selem_get_capture_volume_range(element, &minimum, &maximum)
                           : snd_mixer_selem_get_playback_volume_range(element, &minimum, &maximum);
    if (result < 0)
        return {0, 0};
    return {minimum, maximum};
}

std::optional<long> AlsaMixer::read(const MixerControl &id) {
    const Control *c = control(id);
    if (!c)
        return std::nullopt;
    // ALSA keeps its own copy of the values and learns of changes made elsewhere (another
    // program, the sound server) from events: take them in, so the value read is today's.
    if (snd_mixer_handle_events(m_mixer) < 0)
        return std::nullopt;
    snd_mixer_elem_t *element = findElement(m_mixer, c->element);
    if (!element)
        return std::nullopt;
    const bool capture = c->flow == Flow::Capture;
    if (c->mute) {
        int on = 0;
        const int result = capture
                               ? snd_mixer_selem_get_capture_switch(element, kReadChannel, &on)
                               : snd_mixer_selem_get_playback_switch(element, kReadChannel, &on);
        if (result < 0)
            return std::nullopt;
        return on ? 0 : 1; // the switch is on while sound passes
    }
    long value = 0;
    const int result = capture ? snd_mixer_selem_get_capture_volume(element, kReadChannel, &value)
                               : snd_mixer_selem_get_playback_volume(element, kReadChannel, &value);
    if (result < 0)
        return std::nullopt;
    return value;
}

bool AlsaMixer::write(const MixerControl &id, long value) {
    const Control *c = control(id);
    // ALSA writes only what differs from its copy: a copy behind the times would drop a write of
    // the value it still holds.
    if (!c || snd_mixer_handle_events(m_mixer) < 0)
        return false;
    snd_mixer_elem_t *element = findElement(m_mixer, c->element);
    if (!element)
        return false;
    const bool capture = c->flow == Flow::Capture;
    if (c->mute) {
        const int on = value ? 0 : 1;
        return (capture ? snd_mixer_selem_set_capture_switch_all(element, on)
                        : snd_mixer_selem_set_playback_switch_all(element, on)) >= 0;
    }
    return (capture ? snd_mixer_selem_set_capture_volume_all(element, value)
                    : snd_mixer_selem_set_playback_volume_all(element, value)) >= 0;
}

const AlsaMixer::Control *AlsaMixer::control(const MixerControl &id) const {
    if (!m_mixer || !id.valid() || static_cast<size_t>(id.id) >= m_controls.size())
        return nullptr;
    return &m_controls[static_cast<size_t>(id.id)];
}

namespace {

// The default mixer while it is being opened elsewhere: its first open() waits for that opening
// and gives its result; everything else goes to the mixer itself.
class OpeningMixer final : public MixerDevice {
public:
    OpeningMixer() : m_mixer(std::make_unique<AlsaMixer>()) {
        m_opened = std::async(std::launch::async, [mixer = m_mixer.get()] {
                       return mixer->open();
                   }).share();
    }
    bool opened() const { return m_opened.get(); }
    bool open() override { return std::exchange(m_firstOpen, false) ? opened() : m_mixer->open(); }
    MixerControl findVolume(const QString &line, Flow flow) override {
        return m_mixer->findVolume(line, flow);
    }
    MixerControl findMute(const MixerControl &volume) override { return m_mixer->findMute(volume); }
    std::pair<long, long> range(const MixerControl &volume) override {
        return m_mixer->range(volume);
    }
    std::optional<long> read(const MixerControl &control) override {
        return m_mixer->read(control);
    }
    bool write(const MixerControl &control, long value) override {
        return m_mixer->write(control, value);
    }

private:
    std::unique_ptr<AlsaMixer> m_mixer;
    std::shared_future<bool> m_opened;
    bool m_firstOpen = true;
};

std::unique_ptr<OpeningMixer> &openingMixer() {
    static std::unique_ptr<OpeningMixer> mixer;
    return mixer;
}

} // namespace

void startOpeningMixer() {
    if (!openingMixer())
        openingMixer() = std::make_unique<OpeningMixer>();
}

std::unique_ptr<MixerDevice> takeOpeningMixer() {
    return std::move(openingMixer());
}

bool openingMixerFailed() {
    return openingMixer() && !openingMixer()->opened();
}

} // namespace audio
