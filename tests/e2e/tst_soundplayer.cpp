#include "soundcheck.h"
#include "soundplayer.h"
#include "testdesktop.h"
#include "toneclips.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QtEndian>
#include <QtTest>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <iostream>
#include <numbers>
#include <string>

// The sound player on the PulseAudio null sink of scripts/test-env, heard through the sink's
// monitor: what plays, what cuts off what, what plays instead of a bad file, looping, and how it
// behaves with no sound device at all and at exit.

using namespace platform;
using soundcheck::kRate;

namespace {

constexpr double kDefaultHz = 880; // the beep in resources/sounds/DEFAULT.WAV
const QList<double> kKeyFrequencies{697, 770, 852, 941, 1209, 1336, 1477};

// The key frequencies other than the pair: none of them may be heard with it.
QList<double> othersThan(double lowHz, double highHz) {
    QList<double> others;
    for (const double hz : kKeyFrequencies) {
        if (hz != lowHz && hz != highHz)
            others.append(hz);
    }
    return others;
}

// Samples of `ms` of the sines at `hz` (0.25 of full scale each) followed by `silenceMs` of
// nothing, 8-bit unsigned or 16-bit signed, every channel alike.
QByteArray toneSamples(const QList<double> &hz, int ms, int rate, int channels, int bits,
                       int silenceMs = 0) {
    const int frames = rate * ms / 1000;
    const int quiet = rate * silenceMs / 1000;
    QByteArray samples;
    for (int n = 0; n < frames + quiet; ++n) {
        double value = 0;
        for (const double f : hz)
            value += n < frames ? 0.25 * std::sin(2 * std::numbers::pi * f * n / rate) : 0.0;
        for (int c = 0; c < channels; ++c) {
            if (bits == 8) {
                samples.append(static_cast<char>(std::lround(128 + 127 * value)));
            } else {
                char bytes[2];
                qToLittleEndian(static_cast<qint16>(std::lround(32767 * value)), bytes);
                samples.append(bytes, 2);
            }
        }
    }
    return samples;
}

QByteArray toneWave(const QList<double> &hz, int ms, int rate = 8000, int channels = 1,
                    int bits = 16, int silenceMs = 0) {
    return calls::pcmWaveFile(rate, channels, bits,
                              toneSamples(hz, ms, rate, channels, bits, silenceMs));
}

QByteArray le16(quint16 value) {
    char bytes[2];
    qToLittleEndian(value, bytes);
    return QByteArray(bytes, 2);
}

QByteArray le32(quint32 value) {
    char bytes[4];
    qToLittleEndian(value, bytes);
    return QByteArray(bytes, 4);
}

QByteArray chunk(const char *id, const QByteArray &body) {
    QByteArray bytes = QByteArray(id, 4) + le32(static_cast<quint32>(body.size())) + body;
    if (body.size() % 2)
        bytes.append('\0');
    return bytes;
}

QByteArray riff(const QByteArray &chunks) {
    return "RIFF" + le32(static_cast<quint32>(4 + chunks.size())) + "WAVE" + chunks;
}

QByteArray formatBody(quint16 tag, quint16 channels, quint32 rate, quint16 bits) {
    const quint16 align = static_cast<quint16>(channels * bits / 8);
    return le16(tag) + le16(channels) + le32(rate) + le32(rate * align) + le16(align) + le16(bits);
}

// The program run again as a child: with no sound device, and exiting while a sound loops.
int childMain(const QByteArray &mode) {
    setDefaultSound(calls::toneClip(QStringLiteral("DEFAULT.WAV")));
    const QByteArray tone = calls::toneClip(QStringLiteral("Tone1.wav"));
    if (mode == "nodevice") {
        const bool file = playSound(QStringLiteral(":/sounds/TONE1.WAV"), SND_ASYNC);
        const bool data = playSoundData(tone, SND_ASYNC);
        const bool loop = playSoundData(tone, SND_ASYNC | SND_LOOP);
        const bool fallback = playSound(QStringLiteral("/nonexistent/Tone1.wav"), SND_ASYNC);
        const bool sync = playSoundData(tone, SND_SYNC);
        std::printf("%d %d %d %d %d %d\n", file, data, loop, fallback, sync, isSoundPlaying());
        return 0;
    }
    if (mode == "exit") {
        if (!playSound(QStringLiteral(":/sounds/RING.WAV"), SND_ASYNC | SND_LOOP))
            return 3;
        std::printf("ringing\n");
        std::fflush(stdout);
        std::string line;
        std::getline(std::cin, line); // until the test closes our input
        return 0;
    }
    return 2;
}

} // namespace

class TestSoundPlayer : public QObject {
    Q_OBJECT
    soundcheck::SinkRecorder m_recorder;
    QTemporaryDir m_dir;

    static bool quiet() {
        return QTest::qWaitFor([] { return !isSoundPlaying(); }, 10000);
    }

    // The recording from `from` on, once nothing plays and `tailMs` more has come in.
    bool heardSince(qsizetype from, QByteArray &heard, int tailMs = 300) {
        if (!quiet() || !m_recorder.waitForMore(tailMs))
            return false;
        heard = m_recorder.samples().mid(from);
        return true;
    }

    static qsizetype loudMs(const QByteArray &heard) {
        qsizetype loud = 0;
        for (const soundcheck::Span &span : soundcheck::loudSpans(heard, kRate))
            loud += span.length();
        return loud * 1000 / kRate;
    }

    QString describe(const QByteArray &heard, const QList<double> &frequencies) const {
        return soundcheck::describe(heard, kRate, frequencies);
    }

    QString writeFile(const QString &name, const QByteArray &bytes) {
        const QString path = m_dir.filePath(name);
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
            return {};
        return path;
    }

    // Runs this test program as a child in `mode`; its environment plus `environment`.
    static void startChild(QProcess &child, const QByteArray &mode,
                           const QStringList &environment = {}) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("KIRROW_SOUNDPLAYER_CHILD"), QString::fromLatin1(mode));
        for (const QString &setting : environment)
            env.insert(setting.section(u'=', 0, 0), setting.section(u'=', 1));
        child.setProcessEnvironment(env);
        child.start(QCoreApplication::applicationFilePath(), {});
    }

private slots:
    void initTestCase() {
        REQUIRE_TEST_DESKTOP();
        QVERIFY(m_dir.isValid());
        QVERIFY2(m_recorder.start(), qPrintable(m_recorder.error()));
        setDefaultSound(calls::toneClip(QStringLiteral("DEFAULT.WAV")));
    }

    void cleanup() {
        stopSound();
        QVERIFY(quiet());
    }

    void cleanupTestCase() { m_recorder.stop(); }

    void keyTonesAreHeard_data() {
        QTest::addColumn<QString>("toneName");
        QTest::addColumn<int>("lowHz");
        QTest::addColumn<int>("highHz");
        for (const calls::KeyTone &tone : calls::keyTones())
            QTest::newRow(qPrintable(QString(tone.key)))
                << tone.toneName << tone.lowHz << tone.highHz;
    }

    // Each key's clip is heard as its two frequencies, whole (80 ms) and only once.
    void keyTonesAreHeard() {
        QFETCH(QString, toneName);
        QFETCH(int, lowHz);
        QFETCH(int, highHz);
        const qsizetype from = m_recorder.size();
        QVERIFY(playSoundData(calls::toneClip(toneName), SND_ASYNC | SND_NODEFAULT));
        QByteArray heard;
        QVERIFY(heardSince(from, heard));
        QVERIFY2(
            soundcheck::containsTonePair(heard, kRate, lowHz, highHz, othersThan(lowHz, highHz)),
            qPrintable(describe(heard, kKeyFrequencies)));
        const QList<soundcheck::Span> spans = soundcheck::loudSpans(heard, kRate, 10);
        QCOMPARE(spans.size(), 1);
        const qsizetype ms = spans[0].length() * 1000 / kRate;
        QVERIFY2(ms >= 60 && ms <= 120, qPrintable(describe(heard, kKeyFrequencies)));
    }

    void formats_data() {
        QTest::addColumn<QByteArray>("wav");
        QTest::addColumn<int>("lowHz");
        QTest::addColumn<int>("highHz");
        const QList<double> pair{770, 1477};
        QTest::newRow("8-bit stereo 11025") << toneWave(pair, 300, 11025, 2, 8) << 770 << 1477;
        QTest::newRow("16-bit mono 16000") << toneWave(pair, 300, 16000, 1, 16) << 770 << 1477;
        QTest::newRow("16-bit stereo 44100") << toneWave(pair, 300, 44100, 2, 16) << 770 << 1477;

        // Other chunks before and between, one of odd length with its pad byte.
        const QByteArray samples = toneSamples({852, 1209}, 300, 22050, 1, 16);
        QTest::newRow("list chunks") << riff(chunk("LIST", "INFOISFT\x03\0\0kw") +
                                             chunk("fmt ", formatBody(1, 1, 22050, 16)) +
                                             chunk("fact", le32(6615)) + chunk("data", samples))
                                     << 852 << 1209;
        // WAVE_FORMAT_EXTENSIBLE with the PCM sub-format, as many editors write 16-bit files.
        const QByteArray extensible = formatBody(0xfffe, 1, 48000, 16) + le16(22) + le16(16) +
                                      le32(4) + le16(1) +
                                      QByteArray::fromHex("000000001000800000aa00389b71");
        QTest::newRow("extensible")
            << riff(chunk("fmt ", extensible) +
                    chunk("data", toneSamples({697, 1336}, 300, 48000, 1, 16)))
            << 697 << 1336;
        // A download cut short: the data chunk says more than there is.
        QByteArray cut = toneWave({941, 1209}, 600);
        cut.chop(cut.size() / 2);
        QTest::newRow("cut short") << cut << 941 << 1209;
    }

    // PCM files of the kinds the player understands are heard as what they hold.
    void formats() {
        QFETCH(QByteArray, wav);
        QFETCH(int, lowHz);
        QFETCH(int, highHz);
        const qsizetype from = m_recorder.size();
        QVERIFY(playSoundData(wav, SND_ASYNC | SND_NODEFAULT));
        QByteArray heard;
        QVERIFY(heardSince(from, heard));
        QVERIFY2(
            soundcheck::containsTonePair(heard, kRate, lowHz, highHz, othersThan(lowHz, highHz)),
            qPrintable(describe(heard, kKeyFrequencies)));
    }

    // A long sound cut off by a short one: first only the long one, then only the short one,
    // then nothing; the long one does not come back or play on under the short one.
    void newSoundCutsOffTheOnePlaying() {
        const QList<double> first{770, 1209};
        const QList<double> second{852, 1477};
        const QList<double> all = first + second;
        const qsizetype from = m_recorder.size();
        QVERIFY(playSoundData(toneWave(first, 3000), SND_ASYNC));
        // Cut it off once it has been heard for a while.
        QTRY_VERIFY_WITH_TIMEOUT(loudMs(m_recorder.samples().mid(from)) >= 200, 5000);
        QVERIFY(playSoundData(toneWave(second, 300), SND_ASYNC));
        QByteArray heard;
        QVERIFY(heardSince(from, heard, 500));

        // Block by block: which of the two is in it.
        struct Block {
            qsizetype at;
            bool loud;
            QList<double> shares;
        };
        const int block = kRate * 40 / 1000;
        QList<Block> blocks;
        for (qsizetype at = 0; at + block <= heard.size(); at += block) {
            const QByteArray part = heard.mid(at, block);
            blocks.append(
                {at, !soundcheck::isSilent(part, kRate), soundcheck::toneShares(part, kRate, all)});
        }
        const auto secondStarts = std::find_if(blocks.cbegin(), blocks.cend(), [](const Block &b) {
            return b.loud && b.shares[2] > 0.2 && b.shares[3] > 0.2;
        });
        QVERIFY2(secondStarts != blocks.cend(), qPrintable(describe(heard, all)));
        const qsizetype change = secondStarts->at;
        // The long one was cut off, not played out before the short one got its turn.
        const qsizetype firstMs =
            (change - soundcheck::loudSpans(heard, kRate)[0].begin) * 1000 / kRate;
        QVERIFY2(firstMs < 1500, qPrintable(describe(heard, all)));
        qsizetype lastLoud = 0;
        for (const Block &b : blocks) {
            if (!b.loud)
                continue;
            lastLoud = b.at + block;
            const QString where = QStringLiteral("at %1 ms: ").arg(b.at * 1000 / kRate) +
                                  describe(heard.mid(b.at, block), all) +
                                  QStringLiteral("\nwhole: ") + describe(heard, all);
            // The block on either side of the change may hold a little of both.
            if (b.at < change - block)
                QVERIFY2(b.shares[0] > 0.2 && b.shares[1] > 0.2 && b.shares[2] < 0.05 &&
                             b.shares[3] < 0.05,
                         qPrintable(where));
            else if (b.at > change + block)
                QVERIFY2(b.shares[0] < 0.05 && b.shares[1] < 0.05, qPrintable(where));
        }
        // The short sound runs its 300 ms and then all is quiet.
        const qsizetype tailMs = (lastLoud - change) * 1000 / kRate;
        QVERIFY2(tailMs <= 400, qPrintable(describe(heard.mid(change), all)));
    }

    // With SND_NOSTOP nothing starts while a sound plays, and the playing one goes on to its end;
    // once all is quiet, it plays.
    void noStopLeavesThePlayingSound() {
        const QByteArray first = toneWave({697, 1209}, 800);
        const QByteArray second = toneWave({941, 1477}, 200);
        const QString secondFile = writeFile(QStringLiteral("second.wav"), second);
        QVERIFY(!secondFile.isEmpty());
        qsizetype from = m_recorder.size();
        QVERIFY(playSoundData(first, SND_ASYNC));
        QVERIFY(!playSoundData(second, SND_ASYNC | SND_NOSTOP));
        QVERIFY(!playSound(secondFile, SND_ASYNC | SND_NOSTOP));
        QVERIFY(!playSound(QStringLiteral("/nonexistent.wav"), SND_ASYNC | SND_NOSTOP));
        QVERIFY(isSoundPlaying());
        QByteArray heard;
        QVERIFY(heardSince(from, heard));
        QVERIFY2(soundcheck::containsTonePair(heard, kRate, 697, 1209, othersThan(697, 1209)),
                 qPrintable(describe(heard, kKeyFrequencies)));
        const QList<soundcheck::Span> spans = soundcheck::loudSpans(heard, kRate);
        QCOMPARE(spans.size(), 1);
        QVERIFY2(spans[0].length() * 1000 / kRate >= 740,
                 qPrintable(describe(heard, kKeyFrequencies)));

        from = m_recorder.size();
        QVERIFY(playSound(secondFile, SND_ASYNC | SND_NOSTOP));
        QVERIFY(heardSince(from, heard));
        QVERIFY2(soundcheck::containsTonePair(heard, kRate, 941, 1477, othersThan(941, 1477)),
                 qPrintable(describe(heard, kKeyFrequencies)));
    }

    void unplayable_data() {
        QTest::addColumn<QByteArray>("file"); // written to disk unless null: a missing file
        const QByteArray samples = toneSamples({697, 1209}, 200, 8000, 1, 16);
        QTest::newRow("missing file") << QByteArray();
        QTest::newRow("empty file") << QByteArray("");
        QTest::newRow("not a WAV") << QByteArray("Tone5.wav\n");
        QTest::newRow("RIFF but not WAVE") << riff("").replace(8, 4, "AVI ");
        QTest::newRow("ADPCM") << riff(chunk("fmt ", formatBody(2, 1, 8000, 4)) +
                                       chunk("data", samples));
        QTest::newRow("24-bit") << riff(chunk("fmt ", formatBody(1, 1, 8000, 24)) +
                                        chunk("data", samples + samples.left(samples.size() / 2)));
        QTest::newRow("three channels") << riff(chunk("fmt ", formatBody(1, 3, 8000, 16)) +
                                                chunk("data", samples + samples + samples));
        QTest::newRow("no data chunk") << riff(chunk("fmt ", formatBody(1, 1, 8000, 16)));
        QTest::newRow("data before format")
            << riff(chunk("data", samples) + chunk("fmt ", formatBody(1, 1, 8000, 16)));
        QTest::newRow("no samples")
            << riff(chunk("fmt ", formatBody(1, 1, 8000, 16)) + chunk("data", ""));
        QTest::newRow("format chunk too short")
            << riff(chunk("fmt ", formatBody(1, 1, 8000, 16).left(14)) + chunk("data", samples));
    }

    // A file the player cannot play: with SND_NODEFAULT nothing plays at all; without it the
    // default beep plays in its place.
    void unplayable() {
        QFETCH(QByteArray, file);
        const QString path = file.isNull()
                                 ? m_dir.filePath(QStringLiteral("missing.wav"))
                                 : writeFile(QString::fromLatin1(QTest::currentDataTag()), file);
        QVERIFY(!path.isEmpty());

        qsizetype from = m_recorder.size();
        QVERIFY(!playSound(path, SND_ASYNC | SND_NODEFAULT));
        QVERIFY(!isSoundPlaying());
        QByteArray heard;
        QVERIFY(heardSince(from, heard, 250));
        QVERIFY2(soundcheck::isSilent(heard, kRate), qPrintable(describe(heard, {kDefaultHz})));

        from = m_recorder.size();
        QVERIFY(playSound(path, SND_ASYNC));
        QVERIFY(heardSince(from, heard));
        const double share = soundcheck::toneShares(heard, kRate, {kDefaultHz})[0];
        QVERIFY2(share > 0.8, qPrintable(describe(heard, {kDefaultHz})));
    }

    // The ring loops: one cycle is two bursts and a pause, so a third burst means it went round
    // again. Stopped, it goes quiet and stays so for longer than a cycle.
    void loopRepeatsUntilStopped() {
        const qsizetype from = m_recorder.size();
        QVERIFY(playSound(QStringLiteral(":/sounds/RING.WAV"), SND_ASYNC | SND_LOOP));
        QTRY_VERIFY_WITH_TIMEOUT(
            soundcheck::loudSpans(m_recorder.samples().mid(from), kRate).size() >= 3, 10000);
        QVERIFY(isSoundPlaying());
        stopSound();
        QVERIFY(!isSoundPlaying());
        const qsizetype stoppedAt = m_recorder.size();
        QVERIFY(m_recorder.waitForMore(2500));
        const QByteArray heard = m_recorder.samples();
        const QByteArray ringing = heard.mid(from, stoppedAt - from);
        QVERIFY2(soundcheck::containsTonePair(ringing, kRate, 400, 450, kKeyFrequencies),
                 qPrintable(describe(ringing, {400, 450})));
        const QByteArray after = heard.mid(stoppedAt + kRate * 300 / 1000);
        QVERIFY2(soundcheck::isSilent(after, kRate), qPrintable(describe(after, {400, 450})));
    }

    void stopping_data() {
        QTest::addColumn<bool>("byEmptyName");
        QTest::newRow("stopSound") << false;
        QTest::newRow("empty file name") << true;
    }

    // A long sound stops at once, and playing is over.
    void stopping() {
        QFETCH(bool, byEmptyName);
        const qsizetype from = m_recorder.size();
        QVERIFY(playSoundData(toneWave({852, 1336}, 3000), SND_ASYNC));
        QTRY_VERIFY_WITH_TIMEOUT(!soundcheck::isSilent(m_recorder.samples().mid(from), kRate),
                                 5000);
        if (byEmptyName)
            QVERIFY(playSound(QString(), SND_ASYNC));
        else
            stopSound();
        QVERIFY(!isSoundPlaying());
        const qsizetype stoppedAt = m_recorder.size();
        QVERIFY(m_recorder.waitForMore(800));
        const QByteArray after = m_recorder.samples().mid(stoppedAt + kRate * 300 / 1000);
        QVERIFY2(soundcheck::isSilent(after, kRate), qPrintable(describe(after, {852, 1336})));
    }

    // SND_SYNC returns once the sound has played; a loop cannot be waited for and is refused.
    void synchronous() {
        const QByteArray clip = toneWave({697, 1477}, 200);
        QVERIFY(!playSoundData(clip, SND_SYNC | SND_LOOP));
        QVERIFY(!isSoundPlaying());
        const qsizetype from = m_recorder.size();
        QVERIFY(playSoundData(clip, SND_SYNC));
        QVERIFY(!isSoundPlaying());
        QVERIFY(m_recorder.waitForMore(300));
        const QByteArray heard = m_recorder.samples().mid(from);
        QVERIFY2(soundcheck::containsTonePair(heard, kRate, 697, 1477, othersThan(697, 1477)),
                 qPrintable(describe(heard, kKeyFrequencies)));
        QVERIFY2(loudMs(heard) >= 160, qPrintable(describe(heard, kKeyFrequencies)));
    }

    void withoutSoundDevice_data() {
        QTest::addColumn<QStringList>("environment");
        // As on a desktop without PulseAudio and without a sound card: ALSA's default device is
        // the first card, which is not there (ALSA says so on stderr unless told not to).
        QTest::newRow("no sound server, no card")
            << QStringList{QStringLiteral("PULSE_SERVER=unix:") + m_dir.filePath("no-server"),
                           QStringLiteral("ALSA_CARD=31"), QStringLiteral("ALSA_PCM_CARD=31"),
                           QStringLiteral("HOME=") + m_dir.path(),
                           QStringLiteral("XDG_CONFIG_HOME=") + m_dir.path()};
        const QString config =
            writeFile(QStringLiteral("asound.conf"), "pcm.!default { type hw card 31 device 0 }\n");
        QTest::newRow("configured device missing")
            << QStringList{QStringLiteral("ALSA_CONFIG_PATH=") + config};
    }

    // With no sound device every call says so by returning false, and nothing is printed or
    // crashes.
    void withoutSoundDevice() {
        QFETCH(QStringList, environment);
        QProcess child;
        startChild(child, "nodevice", environment);
        QVERIFY(child.waitForFinished(30000));
        QCOMPARE(child.exitStatus(), QProcess::NormalExit);
        QCOMPARE(child.exitCode(), 0);
        QCOMPARE(child.readAllStandardError(), QByteArray());
        QCOMPARE(child.readAllStandardOutput(), QByteArray("0 0 0 0 0 0\n"));
    }

    // A program that ends while its ring loops stops the ring and exits normally.
    void exitWhilePlaying() {
        const qsizetype from = m_recorder.size();
        QProcess child;
        startChild(child, "exit");
        QVERIFY(child.waitForStarted(10000));
        QByteArray said;
        QTRY_VERIFY_WITH_TIMEOUT((said += child.readAllStandardOutput()).contains("ringing") ||
                                     child.state() == QProcess::NotRunning,
                                 10000);
        QCOMPARE(child.state(), QProcess::Running);
        QTRY_VERIFY_WITH_TIMEOUT(!soundcheck::isSilent(m_recorder.samples().mid(from), kRate),
                                 5000);
        child.closeWriteChannel();
        QVERIFY(child.waitForFinished(10000));
        QCOMPARE(child.exitStatus(), QProcess::NormalExit);
        QCOMPARE(child.exitCode(), 0);
        QCOMPARE(child.readAllStandardError(), QByteArray());
        const qsizetype endedAt = m_recorder.size();
        QVERIFY(m_recorder.waitForMore(2500));
        const QByteArray after = m_recorder.samples().mid(endedAt + kRate * 300 / 1000);
        QVERIFY2(soundcheck::isSilent(after, kRate), qPrintable(describe(after, {400, 450})));
    }
};

int main(int argc, char *argv[]) {
    const QByteArray child = qgetenv("KIRROW_SOUNDPLAYER_CHILD");
    if (!child.isEmpty())
        return childMain(child);
    QCoreApplication app(argc, argv);
    TestSoundPlayer test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_soundplayer.moc"
