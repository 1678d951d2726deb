#include "toneclips.h"

#include <QFile>
#include <QtEndian>

#include <algorithm>
#include <cmath>
#include <numbers>

// Outside any namespace, as resource registration requires.
static void registerSounds() {
    Q_INIT_RESOURCE(sounds);
}

namespace calls {

namespace {

constexpr int kToneRate = 8000;
constexpr int kToneSamples = kToneRate * 80 / 1000;
constexpr double kToneAmplitude = 32.0; // each of the two sines
constexpr double kSilence = 128.0;      // the midpoint of unsigned 8-bit samples

void appendLe16(QByteArray &out, quint16 value) {
    char bytes[2];
    qToLittleEndian(value, bytes);
    out.append(bytes, 2);
}

void appendLe32(QByteArray &out, quint32 value) {
    char bytes[4];
    qToLittleEndian(value, bytes);
    out.append(bytes, 4);
}

} // namespace

const QList<KeyTone> &keyTones() {
    static const QList<KeyTone> tones{
        {u'0', QStringLiteral("Tone0.wav"), 0, 941, 1336},
        {u'1', QStringLiteral("Tone1.wav"), 1, 697, 1209},
        {u'2', QStringLiteral("Tone2.wav"), 2, 697, 1336},
        {u'3', QStringLiteral("Tone3.wav"), 3, 697, 1477},
        {u'4', QStringLiteral("Tone4.wav"), 4, 770, 1209},
        {u'5', QStringLiteral("Tone5.wav"), 5, 770, 1336},
        {u'6', QStringLiteral("Tone6.wav"), 6, 770, 1477},
        {u'7', QStringLiteral("Tone7.wav"), 7, 852, 1209},
        {u'8', QStringLiteral("Tone8.wav"), 8, 852, 1336},
        {u'9', QStringLiteral("Tone9.wav"), 9, 852, 1477},
        {u'*', QStringLiteral("Tonestar.wav"), 10, 941, 1209},
        {u'#', QStringLiteral("Tonepnd.wav"), 11, 941, 1477},
    };
    return tones;
}

QByteArray pcmWaveFile(int sampleRate, int channels, int bitsPerSample, const QByteArray &samples) {
    const int blockAlign = channels * bitsPerSample / 8;
    const auto dataSize = static_cast<quint32>(samples.size());
    QByteArray file;
    file.reserve(44 + samples.size() + 1);
    file.append("RIFF", 4);
    appendLe32(file, 4 + (8 + 16) + (8 + dataSize + (dataSize & 1)));
    file.append("WAVE", 4);
    file.append("fmt ", 4);
    appendLe32(file, 16);
    appendLe16(file, 1); // PCM
    appendLe16(file, static_cast<quint16>(channels));
    appendLe32(file, static_cast<quint32>(sampleRate));
    appendLe32(file, static_cast<quint32>(sampleRate * blockAlign));
    appendLe16(file, static_cast<quint16>(blockAlign));
    appendLe16(file, static_cast<quint16>(bitsPerSample));
    file.append("data", 4);
    appendLe32(file, dataSize);
    file.append(samples);
    if (dataSize & 1)
        file.append('\0'); // chunks are padded to an even length
    return file;
}

QByteArray makeToneClip(int lowHz, int highHz) {
    QByteArray samples(kToneSamples, '\0');
    for (int n = 0; n < kToneSamples; ++n) {
        const double t = static_cast<double>(n) / kToneRate;
        const double value = kSilence +
                             kToneAmplitude * std::sin(2.0 * std::numbers::pi * lowHz * t) +
                             kToneAmplitude * std::sin(2.0 * std::numbers::pi * highHz * t);
        samples[n] = static_cast<char>(std::clamp(std::lround(value), 0L, 255L));
    }
    return pcmWaveFile(kToneRate, 1, 8, samples);
}

QByteArray toneClip(const QString &toneName) {
    // The clips are stored under upper-case names; only plain ASCII names can match one, and a
    // name must not reach outside the sounds folder.
    const bool plain =
        !toneName.isEmpty() && std::all_of(toneName.cbegin(), toneName.cend(), [](QChar c) {
            return c.unicode() > 0x20 && c.unicode() < 0x7f && c != u'/' && c != u'\\';
        });
    if (!plain)
        return {};
    initSoundResources();
    QFile file(QStringLiteral(":/sounds/") + toneName.toUpper());
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

void initSoundResources() {
    static const bool registered = (registerSounds(), true);
    Q_UNUSED(registered);
}

} // namespace calls
