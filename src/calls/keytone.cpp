#include "keytone.h"

#include "soundplayer.h"
#include "toneclips.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

namespace calls {

namespace {
std::function<void(const QString &)> &localPlayer() {
    static std::function<void(const QString &)> player;
    return player;
}
} // namespace

QString scratchFilePath() {
    const QString here = QDir::current().filePath(QStringLiteral("DTMF.WAV"));
    if (QFileInfo(QDir::currentPath()).isWritable())
        return here;
    const QString temp = QStandardPaths::writableLocation(QStandardPaths::TempLocation);
    return QDir(temp).filePath(QStringLiteral("DTMF.WAV"));
}

void playKeyToneLocally(const QString &toneName) {
    if (localPlayer()) {
        localPlayer()(toneName);
        return;
    }
    const QString path = scratchFilePath();
    // An unknown name leaves the scratch file as it was, so the previous tone sounds again.
    const QByteArray clip = toneClip(toneName);
    if (!clip.isEmpty()) {
        QFile scratch(path);
        if (scratch.open(QIODevice::WriteOnly))
            scratch.write(clip);
    }
    platform::playSound(path, platform::SND_ASYNC | platform::SND_NODEFAULT);
}

void setLocalTonePlayer(std::function<void(const QString &)> player) {
    localPlayer() = std::move(player);
}

} // namespace calls
