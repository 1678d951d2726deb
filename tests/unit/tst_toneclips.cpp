#include "soundcheck.h"
#include "toneclips.h"

#include <QtEndian>
#include <QtTest>

// The clips built into the program: the twelve key tones as the keypad sounds them, and the ring
// and default sounds the player falls back on.
class TestToneClips : public QObject {
    Q_OBJECT

    static constexpr int kRows[] = {697, 770, 852, 941};
    static constexpr int kColumns[] = {1209, 1336, 1477};

    // 16-bit samples as unsigned 8-bit ones, which is what the frequency measures take.
    static QByteArray to8Bit(const QByteArray &samples16) {
        QByteArray samples(samples16.size() / 2, '\0');
        for (qsizetype i = 0; i < samples.size(); ++i) {
            const qint16 value = qFromLittleEndian<qint16>(samples16.constData() + 2 * i);
            samples[i] = static_cast<char>((value >> 8) + 128);
        }
        return samples;
    }

    static quint16 le16(const QByteArray &bytes, int at) {
        return qFromLittleEndian<quint16>(bytes.constData() + at);
    }
    static quint32 le32(const QByteArray &bytes, int at) {
        return qFromLittleEndian<quint32>(bytes.constData() + at);
    }

private slots:
    void initTestCase() { calls::initSoundResources(); }

    // Laid out as on a telephone keypad: 1 2 3 / 4 5 6 / 7 8 9 / * 0 #, a row frequency for each
    // line and a column frequency for each column.
    void keysFollowTheKeypad() {
        const QString keypad = QStringLiteral("123456789*0#");
        const QList<calls::KeyTone> &tones = calls::keyTones();
        QCOMPARE(tones.size(), 12);
        const QString order = QStringLiteral("0123456789*#");
        for (int i = 0; i < 12; ++i) {
            const calls::KeyTone &tone = tones[i];
            QCOMPARE(tone.key, order[i]);
            QCOMPARE(tone.dtmf, i);
            const auto at = keypad.indexOf(tone.key);
            QCOMPARE(tone.lowHz, kRows[at / 3]);
            QCOMPARE(tone.highHz, kColumns[at % 3]);
        }
        QCOMPARE(tones[10].toneName, QStringLiteral("Tonestar.wav"));
        QCOMPARE(tones[11].toneName, QStringLiteral("Tonepnd.wav"));
        for (int digit = 0; digit < 10; ++digit)
            QCOMPARE(tones[digit].toneName, QStringLiteral("Tone%1.wav").arg(digit));
    }

    void keyClips_data() {
        QTest::addColumn<QString>("toneName");
        QTest::addColumn<int>("lowHz");
        QTest::addColumn<int>("highHz");
        for (const calls::KeyTone &tone : calls::keyTones())
            QTest::newRow(qPrintable(tone.toneName)) << tone.toneName << tone.lowHz << tone.highHz;
    }

    // Each clip is an 80 ms, 8-bit, 8000 samples/s WAV file holding its key's two frequencies at
    // equal strength and nothing else.
    void keyClips() {
        QFETCH(QString, toneName);
        QFETCH(int, lowHz);
        QFETCH(int, highHz);
        const QByteArray clip = calls::toneClip(toneName);
        QCOMPARE(clip.size(), 684);
        QCOMPARE(clip.left(44).toHex(' '), QByteArray("52 49 46 46 a4 02 00 00 57 41 56 45 "
                                                      "66 6d 74 20 10 00 00 00 01 00 01 00 "
                                                      "40 1f 00 00 40 1f 00 00 01 00 08 00 "
                                                      "64 61 74 61 80 02 00 00"));
        const QByteArray samples = clip.mid(44);
        for (const char sample : samples) {
            const int value = static_cast<unsigned char>(sample);
            QVERIFY2(value >= 64 && value <= 192, qPrintable(QString::number(value)));
        }
        // Both sines start at phase zero: the first sample is the midpoint.
        QCOMPARE(static_cast<unsigned char>(samples[0]), 128);

        // Each sine swings 32 of the 128 steps either side: 0.25 of full scale.
        const double expected = 0.25 * 0.25;
        const double low = soundcheck::tonePower(samples, 8000, lowHz);
        const double high = soundcheck::tonePower(samples, 8000, highHz);
        QVERIFY2(qAbs(low - expected) < 0.05 * expected, qPrintable(QString::number(low)));
        QVERIFY2(qAbs(high - expected) < 0.05 * expected, qPrintable(QString::number(high)));
        for (const int hz : {697, 770, 852, 941, 1209, 1336, 1477}) {
            if (hz == lowHz || hz == highHz)
                continue;
            const double other = soundcheck::tonePower(samples, 8000, hz);
            QVERIFY2(other < 0.01 * expected,
                     qPrintable(QStringLiteral("%1 Hz: %2").arg(hz).arg(other)));
        }
        // The clips in the tree are what the generator makes (scripts/make-tones was run).
        QCOMPARE(clip, calls::makeToneClip(lowHz, highHz));
    }

    void namesIgnoreCase_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("stored");
        QTest::newRow("as the program writes it") << "Tone5.wav"
                                                  << "TONE5.WAV";
        QTest::newRow("upper case") << "TONE5.WAV"
                                    << "TONE5.WAV";
        QTest::newRow("lower case") << "tone5.wav"
                                    << "TONE5.WAV";
        QTest::newRow("mixed") << "tOnEsTaR.wAv"
                               << "TONESTAR.WAV";
        QTest::newRow("pound") << "Tonepnd.wav"
                               << "TONEPND.WAV";
        QTest::newRow("ring") << "Ring.wav"
                              << "RING.WAV";
    }

    void namesIgnoreCase() {
        QFETCH(QString, name);
        QFETCH(QString, stored);
        QFile file(QStringLiteral(":/sounds/") + stored);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray clip = calls::toneClip(name);
        QVERIFY(!clip.isEmpty());
        QCOMPARE(clip, file.readAll());
    }

    void unknownNamesGiveNothing_data() {
        QTest::addColumn<QString>("name");
        QTest::newRow("empty") << "";
        QTest::newRow("no such key") << "Tone10.wav";
        QTest::newRow("no extension") << "Tone5";
        QTest::newRow("trailing space") << "Tone5.wav ";
        QTest::newRow("the folder") << ".";
        QTest::newRow("the folder above") << "..";
        QTest::newRow("a path") << "../sounds/TONE5.WAV";
        QTest::newRow("a resource path") << ":/sounds/TONE5.WAV";
        QTest::newRow("backslash") << "sounds\\TONE5.WAV";
        // U+017F LATIN SMALL LETTER LONG S becomes "S" in upper case.
        QTest::newRow("look-alike letter") << QStringLiteral("Tone\u017Ftar.wav");
    }

    void unknownNamesGiveNothing() {
        QFETCH(QString, name);
        QVERIFY(calls::toneClip(name).isEmpty());
    }

    // The ring: one cycle of "brr-brr" and a pause, 400 and 450 Hz together, clear of clipping.
    // The default beep: 150 ms of a soft 880 Hz. The call progress tones: ringback (2 s of 440
    // and 480 Hz, then quiet), busy (480 and 620 Hz, three bursts), call waiting (one 440 Hz
    // beep). All 16-bit mono at 8000 samples/s.
    void ringAndDefault_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("lengthMs");
        QTest::addColumn<QList<double>>("frequencies");
        QTest::addColumn<int>("bursts");
        QTest::newRow("ring") << "RING.WAV" << 2000 << QList<double>{400, 450} << 2;
        QTest::newRow("default") << "DEFAULT.WAV" << 150 << QList<double>{880} << 1;
        QTest::newRow("ringback") << "RINGBACK.WAV" << 4000 << QList<double>{440, 480} << 1;
        QTest::newRow("busy") << "BUSY.WAV" << 3000 << QList<double>{480, 620} << 3;
        QTest::newRow("waiting") << "WAITING.WAV" << 300 << QList<double>{440} << 1;
    }

    void ringAndDefault() {
        QFETCH(QString, name);
        QFETCH(int, lengthMs);
        QFETCH(QList<double>, frequencies);
        QFETCH(int, bursts);
        const QByteArray clip = calls::toneClip(name);
        QVERIFY(clip.size() > 44);
        QCOMPARE(clip.left(4), QByteArray("RIFF"));
        QCOMPARE(qsizetype(le32(clip, 4)), clip.size() - 8);
        QCOMPARE(clip.mid(8, 8), QByteArray("WAVEfmt "));
        QCOMPARE(le32(clip, 16), 16u);
        QCOMPARE(le16(clip, 20), 1);     // PCM
        QCOMPARE(le16(clip, 22), 1);     // mono
        QCOMPARE(le32(clip, 24), 8000u); // samples/s
        QCOMPARE(le32(clip, 28), 16000u);
        QCOMPARE(le16(clip, 32), 2);
        QCOMPARE(le16(clip, 34), 16);
        QCOMPARE(clip.mid(36, 4), QByteArray("data"));
        QCOMPARE(qsizetype(le32(clip, 40)), clip.size() - 44);
        QCOMPARE(int((clip.size() - 44) / 2), 8000 * lengthMs / 1000);

        int peak = 0;
        for (qsizetype at = 44; at + 1 < clip.size(); at += 2)
            peak = qMax(peak, qAbs(int(qFromLittleEndian<qint16>(clip.constData() + at))));
        QVERIFY2(peak > 8000 && peak < 30000, qPrintable(QString::number(peak)));

        const QByteArray samples = to8Bit(clip.mid(44));
        QCOMPARE(soundcheck::loudSpans(samples, 8000).size(), bursts);
        const QList<double> shares = soundcheck::toneShares(samples, 8000, frequencies);
        double total = 0;
        for (const double share : shares) {
            QVERIFY2(share > 0.8 / frequencies.size(), qPrintable(QString::number(share)));
            total += share;
        }
        QVERIFY2(total > 0.95, qPrintable(QString::number(total)));
    }
};

QTEST_GUILESS_MAIN(TestToneClips)
#include "tst_toneclips.moc"
