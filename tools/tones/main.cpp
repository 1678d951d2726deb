// kirrow_tones: writes Kirrow's sounds and the Qt resource file that lists them.
//
//   kirrow_tones --out <resources folder>
//
// Writes sounds/TONE0.WAV..TONE9.WAV, TONESTAR.WAV, TONEPND.WAV (the keypad's touch tones),
// sounds/RING.WAV (one cycle of the telephone ring, played in a loop while a call comes in),
// sounds/DEFAULT.WAV (the short beep played when a sound file cannot be played), the call
// progress tones sounds/RINGBACK.WAV (the far end rings), sounds/BUSY.WAV (the far end is busy)
// and sounds/WAITING.WAV (a second caller waits), and sounds.qrc;
// and sounds/ding.wav (the speakers' slider's confirmation), which is not built into the program
// but put beside it, so it is not in sounds.qrc. Everything is computed, so running it again gives
// the same files.

#include "toneclips.h"

#include <QCoreApplication>
#include <QDir>
#include <QSaveFile>
#include <QTextStream>
#include <QtEndian>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <numbers>
#include <utility>
#include <vector>

// The generator links the clip code of the program but not the clips it is about to write: this
// stands in for the registration of the compiled-in resource file.
int qInitResources_sounds() {
    return 1;
}

namespace {

constexpr int kRate = 8000;

// 16-bit samples from values in -1..1, with raised-cosine edges of `rampMs` at both ends of every
// burst so that no burst starts or stops with a click.
struct Burst {
    int startMs;
    int lengthMs;
};

QByteArray render16(int totalMs, const std::vector<Burst> &bursts, int rampMs,
                    const std::vector<std::pair<double, double>> &partials /* Hz, amplitude */) {
    const int total = kRate * totalMs / 1000;
    std::vector<double> signal(static_cast<size_t>(total), 0.0);
    const int ramp = kRate * rampMs / 1000;
    for (const Burst &burst : bursts) {
        const int begin = kRate * burst.startMs / 1000;
        const int length = kRate * burst.lengthMs / 1000;
        for (int n = 0; n < length && begin + n < total; ++n) {
            const double t = static_cast<double>(n) / kRate;
            double value = 0.0;
            for (const auto &[hz, amplitude] : partials)
                value += amplitude * std::sin(2.0 * std::numbers::pi * hz * t);
            const int edge = std::min(n, length - 1 - n);
            if (edge < ramp)
                value *= 0.5 - 0.5 * std::cos(std::numbers::pi * edge / ramp);
            signal[static_cast<size_t>(begin + n)] = value;
        }
    }
    QByteArray samples(total * 2, '\0');
    for (int n = 0; n < total; ++n) {
        const double scaled = std::clamp(signal[static_cast<size_t>(n)], -1.0, 1.0) * 32767.0;
        qToLittleEndian(static_cast<qint16>(std::lround(scaled)), samples.data() + 2 * n);
    }
    return samples;
}

// The classic two-tone warble: 400 and 450 Hz together, twice 0.4 s with 0.2 s between, then a
// second of quiet, so that played in a loop it rings "brr-brr ... brr-brr". Peaks at 0.6 of full
// scale.
QByteArray ringClip() {
    return calls::pcmWaveFile(kRate, 1, 16,
                              render16(2000, {{0, 400}, {600, 400}}, 10, {{400, 0.3}, {450, 0.3}}));
}

// A soft 150 ms beep at 880 Hz, a little under half of full scale.
QByteArray defaultClip() {
    return calls::pcmWaveFile(kRate, 1, 16, render16(150, {{0, 150}}, 15, {{880, 0.35}}));
}

// A small bell struck once: E6 (1318.5 Hz) with a quieter octave that dies away sooner, gone in
// half a second. 16 kHz, so the octave lies well below the top of the band. Peaks a little over
// half of full scale.
QByteArray dingClip() {
    constexpr int rate = 16000;
    constexpr int total = rate * 600 / 1000;
    constexpr int attack = rate * 3 / 1000; // soft enough not to click, short enough to strike
    constexpr int fade = rate * 20 / 1000;  // the last of the ring taken down to silence
    QByteArray samples(total * 2, '\0');
    for (int n = 0; n < total; ++n) {
        const double t = static_cast<double>(n) / rate;
        double value = 0.45 * std::exp(-t / 0.15) * std::sin(2.0 * std::numbers::pi * 1318.5 * t) +
                       0.12 * std::exp(-t / 0.06) * std::sin(2.0 * std::numbers::pi * 2637.0 * t);
        if (n < attack)
            value *= 0.5 - 0.5 * std::cos(std::numbers::pi * n / attack);
        if (total - 1 - n < fade)
            value *= 0.5 - 0.5 * std::cos(std::numbers::pi * (total - 1 - n) / fade);
        qToLittleEndian(static_cast<qint16>(std::lround(value * 32767.0)), samples.data() + 2 * n);
    }
    return calls::pcmWaveFile(rate, 1, 16, samples);
}

// Ringback, as North American exchanges give it: 440 and 480 Hz together for 2 s, then 2 s of
// quiet. The engine plays it in a loop with a pause of its own (2 s) after each play, which makes
// the usual 2 s on, 4 s off. Peaks at 0.4 of full scale: heard, not loud.
QByteArray ringbackClip() {
    return calls::pcmWaveFile(kRate, 1, 16,
                              render16(4000, {{0, 2000}}, 10, {{440, 0.2}, {480, 0.2}}));
}

// Busy: 480 and 620 Hz together, 0.5 s on and 0.5 s off, three times.
QByteArray busyClip() {
    return calls::pcmWaveFile(
        kRate, 1, 16,
        render16(3000, {{0, 500}, {1000, 500}, {2000, 500}}, 10, {{480, 0.2}, {620, 0.2}}));
}

// Call waiting: one short 440 Hz beep (300 ms), played every few seconds while a caller waits.
// Softer than the other tones: it sounds over the call.
QByteArray waitingClip() {
    return calls::pcmWaveFile(kRate, 1, 16, render16(300, {{0, 300}}, 15, {{440, 0.3}}));
}

bool writeFile(const QString &path, const QByteArray &bytes) {
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit()) {
        std::fprintf(stderr, "kirrow_tones: cannot write %s\n", qPrintable(path));
        return false;
    }
    return true;
}

} // namespace

int main(int argc, char *argv[]) {
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    const qsizetype at = args.indexOf(QStringLiteral("--out"));
    if (at < 0 || at + 1 >= args.size()) {
        std::fprintf(stderr, "usage: kirrow_tones --out <resources folder>\n");
        return 2;
    }
    const QDir out(args[at + 1]);
    if (!out.mkpath(QStringLiteral("sounds"))) {
        std::fprintf(stderr, "kirrow_tones: cannot create %s/sounds\n", qPrintable(out.path()));
        return 1;
    }

    std::vector<std::pair<QString, QByteArray>> sounds;
    for (const calls::KeyTone &tone : calls::keyTones())
        sounds.emplace_back(tone.toneName.toUpper(), calls::makeToneClip(tone.lowHz, tone.highHz));
    sounds.emplace_back(QStringLiteral("RING.WAV"), ringClip());
    sounds.emplace_back(QStringLiteral("DEFAULT.WAV"), defaultClip());
    sounds.emplace_back(QStringLiteral("RINGBACK.WAV"), ringbackClip());
    sounds.emplace_back(QStringLiteral("BUSY.WAV"), busyClip());
    sounds.emplace_back(QStringLiteral("WAITING.WAV"), waitingClip());

    QString qrc;
    QTextStream list(&qrc);
    list << "<!DOCTYPE RCC>\n<RCC version=\"1.0\">\n    <qresource prefix=\"/sounds\">\n";
    for (const auto &[name, bytes] : sounds) {
        if (!writeFile(out.filePath(QStringLiteral("sounds/") + name), bytes))
            return 1;
        list << "        <file alias=\"" << name << "\">sounds/" << name << "</file>\n";
    }
    list << "    </qresource>\n</RCC>\n";
    list.flush();
    if (!writeFile(out.filePath(QStringLiteral("sounds.qrc")), qrc.toUtf8()))
        return 1;
    if (!writeFile(out.filePath(QStringLiteral("sounds/ding.wav")), dingClip()))
        return 1;
    std::printf("kirrow_tones: %zu sounds in %s\n", sounds.size() + 1,
                qPrintable(out.filePath(QStringLiteral("sounds"))));
    return 0;
}
