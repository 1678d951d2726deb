#include "keytone.h"

#include "soundplayer.h"
#include "toneclips.h"

#include <stdexcept>

namespace calls {

namespace {
std::function<void(const QString &)> &localPlayer() {
    static std::function<void(const QString &)> player;
    return player;
}
} // namespace

void playKeyToneLocally(const QString &toneName) {
    if (localPlayer()) {
        localPlayer()(toneName);
        return;
    }
    // From memory: nothing is written to a folder another user could plant a link in.
    const QByteArray clip = toneClip(toneName);
    if (!clip.isEmpty() &&
        !platform::playSoundData(clip, platform::SND_ASYNC | platform::SND_NODEFAULT))
        throw std::runtime_error(
            QStringLiteral("the key tone %1 could not be played on the sound device")
                .arg(toneName)
                .toStdString());
}

rtc::RingSounds ringSounds() {
    rtc::RingSounds sounds;
    sounds.ring = toneClip(QStringLiteral("RING.WAV"));
    sounds.ringback = toneClip(QStringLiteral("RINGBACK.WAV"));
    sounds.playRing = [](const QByteArray &wav) {
        return platform::playSoundData(wav, platform::SND_ASYNC | platform::SND_LOOP |
                                                platform::SND_NODEFAULT);
    };
    sounds.stopRing = [] { platform::stopSound(); };
    return sounds;
}

void setLocalTonePlayer(std::function<void(const QString &)> player) {
    localPlayer() = std::move(player);
}

} // namespace calls
