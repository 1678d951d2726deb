#pragma once

#include <QByteArray>
#include <QList>
#include <QProcess>
#include <QString>
#include <QStringList>

#include <utility>

// Hears what the program plays: records the default PulseAudio sink through its monitor and
// finds frequencies in the recording. Recordings are unsigned 8-bit mono samples (silence is 128)
// at kRate samples/s; the functions take any such samples.
namespace soundcheck {

constexpr int kRate = 8000;

class SinkRecorder {
public:
    // Records the named sink's monitor; the default sink's when none is named.
    explicit SinkRecorder(QString sink = {}) : m_sink(std::move(sink)) {}
    SinkRecorder(const SinkRecorder &) = delete;
    SinkRecorder &operator=(const SinkRecorder &) = delete;
    ~SinkRecorder();

    // Starts parec on the sink's monitor and waits, up to the deadline, until samples
    // come in. On failure, error() says why.
    bool start(int timeoutMs = 15000);
    void stop();
    QString error() const { return m_error; }

    // Everything recorded so far.
    const QByteArray &samples();
    qsizetype size() { return samples().size(); }
    // Waits until the recording holds at least `count` samples; false at the deadline or when
    // parec has stopped.
    bool waitForSize(qsizetype count, int timeoutMs = 10000);
    // Waits until `ms` more milliseconds have been recorded.
    bool waitForMore(int ms, int timeoutMs = 10000) {
        return waitForSize(size() + static_cast<qsizetype>(ms) * kRate / 1000, timeoutMs);
    }

private:
    QString m_sink;
    QProcess m_parec;
    QByteArray m_samples;
    QString m_error;
};

// The default sink's name, from pactl; empty when there is no PulseAudio to ask.
QString defaultSink();
QString defaultSource();
// Makes a sink and a source the sound server's defaults, as a desktop's volume control does;
// whether they now are.
bool setDefaults(const QString &sink, const QString &source);

// A PulseAudio module a test loads (a second sink or source, "pactl load-module"), unloaded
// again when the object goes or unload() is called.
class PulseModule {
public:
    PulseModule(const QString &module, const QStringList &arguments);
    PulseModule(const PulseModule &) = delete;
    PulseModule &operator=(const PulseModule &) = delete;
    ~PulseModule() { unload(); }
    bool isLoaded() const { return !m_index.isEmpty(); }
    QString error() const { return m_error; }
    void unload();

private:
    QString m_index;
    QString m_error;
};

// The names of the sources something records from now ("pactl list source-outputs").
QStringList recordedSources();
// The names of the sinks something plays to now ("pactl list sink-inputs").
QStringList playedSinks();
// The programs connected to the server now, by the names of their binaries.
QStringList clientPrograms();

// The amplitude squared, relative to full scale, of the sine at `hz` in the samples: a sine
// swinging over the whole 0..255 range gives 1, silence 0 (Goertzel's algorithm).
double tonePower(const QByteArray &samples, int rate, double hz);

// The power of the samples about their mean, relative to full scale (half a sine's tonePower).
double meanPower(const QByteArray &samples);

// A stretch of a recording: sample indexes [begin, end).
struct Span {
    qsizetype begin = 0;
    qsizetype end = 0;
    qsizetype length() const { return end - begin; }
};

// The loud stretches of a recording, to the nearest block of `blockMs`: blocks whose level is
// above about -30 dB of full scale, gaps shorter than two blocks bridged.
QList<Span> loudSpans(const QByteArray &samples, int rate, int blockMs = 20);

// The part of each frequency in the power of the recording's loud part, 0..1 (two sines of equal
// strength make 0.5 each). Measured over blocks of `blockMs` and weighted by their power.
QList<double> toneShares(const QByteArray &samples, int rate, const QList<double> &frequencies,
                         int blockMs = 40);

// Whether the recording has a loud part, made mostly of the two frequencies at about equal
// strength, with none of the `absent` frequencies in it to speak of.
bool containsTonePair(const QByteArray &samples, int rate, double lowHz, double highHz,
                      const QList<double> &absent = {});

// Whether none of the recording is loud.
bool isSilent(const QByteArray &samples, int rate);

// Tells what the recording has, for failure messages: the loud stretches and the shares of the
// frequencies.
QString describe(const QByteArray &samples, int rate, const QList<double> &frequencies);

} // namespace soundcheck
