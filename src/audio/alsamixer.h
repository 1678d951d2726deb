#pragma once

#include "mixerdevice.h"

#include <QByteArray>

#include <memory>
#include <vector>

typedef struct _snd_mixer snd_mixer_t;

namespace audio {

// The ALSA simple mixer of a device, by default "default": the sound server's mixer where there
// is one (PulseAudio's or PipeWire's ALSA plugin gives "Master" and "Capture"), else the first
// card's. ALSA's mute is a switch that is on while sound passes; here it reads and writes as
// "muted" (non-zero) or not.
class AlsaMixer final : public MixerDevice {
public:
    explicit AlsaMixer(QByteArray device = "default");
    ~AlsaMixer() override;
    AlsaMixer(const AlsaMixer &) = delete;
    AlsaMixer &operator=(const AlsaMixer &) = delete;

    bool open() override;
    MixerControl findVolume(const QString &line, Flow flow) override;
    MixerControl findMute(const MixerControl &volume) override;
    std::pair<long, long> range(const MixerControl &volume) override;
    std::optional<long> read(const MixerControl &control) override;
    bool write(const MixerControl &control, long value) override;

private:
    // Controls are kept by element name, not by ALSA's element pointers: an element that goes
    // away (a device unplugged, the sound server restarted) frees its pointer.
    struct Control {
        QByteArray element;
        Flow flow;
        bool mute;
    };
    const Control *control(const MixerControl &id) const;

    QByteArray m_device;
    snd_mixer_t *m_mixer = nullptr;
    std::vector<Control> m_controls;
};

// Starts opening the default mixer on a thread of its own: through the sound server's ALSA plugin
// that takes 10 to 20 ms (loading the server's client library, connecting, listing its
// controls), which then passes while the program builds its main window. The next mixer
// controller made without a device of its own takes this one, waiting for the opening to end.
void startOpeningMixer();
// The mixer startOpeningMixer began to open, once; nothing when none was begun or it was taken.
std::unique_ptr<MixerDevice> takeOpeningMixer();
// Whether the mixer startOpeningMixer began to open could not be opened, waiting for the opening
// to end; false when none was begun or it was taken.
bool openingMixerFailed();

} // namespace audio
