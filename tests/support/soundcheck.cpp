#include "soundcheck.h"

#include <QDeadlineTimer>
#include <QMap>

#include <algorithm>
#include <cmath>
#include <numbers>

namespace soundcheck {

namespace {

constexpr double kLoudPower = 0.001; // -30 dB of full scale; silence in 8 bits is far below
constexpr double kStrongShare = 0.3;
constexpr double kAbsentShare = 0.05;

double level(char sample) {
    return (static_cast<unsigned char>(sample) - 128.0) / 128.0;
}

int blockSize(int rate, int blockMs) {
    return std::max(1, rate * blockMs / 1000);
}

} // namespace

SinkRecorder::~SinkRecorder() {
    stop();
}

namespace {

// What pactl prints for these arguments; nothing when it fails (*error says why, when given).
QString pactl(const QStringList &arguments, QString *error = nullptr) {
    QProcess pactl;
    pactl.start(QStringLiteral("pactl"), arguments);
    if (!pactl.waitForFinished(10000) || pactl.exitStatus() != QProcess::NormalExit ||
        pactl.exitCode() != 0) {
        if (error)
            *error = QStringLiteral("pactl %1: %2 %3")
                         .arg(arguments.join(QLatin1Char(' ')), pactl.errorString(),
                              QString::fromLocal8Bit(pactl.readAllStandardError()));
        return {};
    }
    return QString::fromUtf8(pactl.readAllStandardOutput()).trimmed();
}

} // namespace

QString defaultSink() {
    return pactl({QStringLiteral("get-default-sink")});
}

QString defaultSource() {
    return pactl({QStringLiteral("get-default-source")});
}

bool setDefaults(const QString &sink, const QString &source) {
    QString error;
    pactl({QStringLiteral("set-default-sink"), sink}, &error);
    if (error.isEmpty())
        pactl({QStringLiteral("set-default-source"), source}, &error);
    return error.isEmpty() && defaultSink() == sink && defaultSource() == source;
}

PulseModule::PulseModule(const QString &module, const QStringList &arguments) {
    m_index = pactl(QStringList{QStringLiteral("load-module"), module} + arguments, &m_error);
}

void PulseModule::unload() {
    if (!m_index.isEmpty())
        pactl({QStringLiteral("unload-module"), m_index});
    m_index.clear();
}

namespace {

// The names of the devices of a kind ("sources", "sinks") that the streams of a kind
// ("source-outputs", "sink-inputs") use now. Short lists: "index<TAB>name..." of the devices,
// "index<TAB>device index..." of the streams.
QStringList devicesInUse(const QString &devices, const QString &streams) {
    QMap<QString, QString> names;
    for (const QString &line : pactl({QStringLiteral("list"), QStringLiteral("short"), devices})
                                   .split(QLatin1Char('\n'), Qt::SkipEmptyParts))
        names.insert(line.section(QLatin1Char('\t'), 0, 0), line.section(QLatin1Char('\t'), 1, 1));
    QStringList used;
    for (const QString &line : pactl({QStringLiteral("list"), QStringLiteral("short"), streams})
                                   .split(QLatin1Char('\n'), Qt::SkipEmptyParts))
        used << names.value(line.section(QLatin1Char('\t'), 1, 1));
    return used;
}

} // namespace

QStringList recordedSources() {
    return devicesInUse(QStringLiteral("sources"), QStringLiteral("source-outputs"));
}

QStringList playedSinks() {
    return devicesInUse(QStringLiteral("sinks"), QStringLiteral("sink-inputs"));
}

QStringList clientPrograms() {
    QStringList programs;
    for (const QString &line :
         pactl({QStringLiteral("list"), QStringLiteral("short"), QStringLiteral("clients")})
             .split(QLatin1Char('\n'), Qt::SkipEmptyParts))
        programs << line.section(QLatin1Char('\t'), 2, 2);
    return programs;
}

bool SinkRecorder::start(int timeoutMs) {
    stop();
    m_samples.clear();
    m_error.clear();
    const QString sink = m_sink.isEmpty() ? defaultSink() : m_sink;
    if (sink.isEmpty()) {
        m_error = QStringLiteral("no default sink (is PulseAudio running?)");
        return false;
    }
    // A short latency makes the monitor hand over samples as they are played, not in seconds-long
    // blocks, so the recording keeps time with the playing.
    m_parec.start(QStringLiteral("parec"),
                  {QStringLiteral("--device=%1.monitor").arg(sink), QStringLiteral("--format=u8"),
                   QStringLiteral("--rate=%1").arg(kRate), QStringLiteral("--channels=1"),
                   QStringLiteral("--raw"), QStringLiteral("--latency-msec=20")});
    if (!m_parec.waitForStarted(timeoutMs)) {
        m_error = QStringLiteral("parec did not start: ") + m_parec.errorString();
        return false;
    }
    // The monitor takes a moment to come up: wait for its first tenth of a second.
    if (!waitForSize(kRate / 10, timeoutMs)) {
        m_error = QStringLiteral("parec records nothing: ") +
                  QString::fromLocal8Bit(m_parec.readAllStandardError());
        stop();
        return false;
    }
    return true;
}

void SinkRecorder::stop() {
    if (m_parec.state() == QProcess::NotRunning)
        return;
    m_parec.terminate();
    if (!m_parec.waitForFinished(5000)) {
        m_parec.kill();
        m_parec.waitForFinished(5000);
    }
    m_samples += m_parec.readAllStandardOutput();
}

const QByteArray &SinkRecorder::samples() {
    m_samples += m_parec.readAllStandardOutput();
    return m_samples;
}

bool SinkRecorder::waitForSize(qsizetype count, int timeoutMs) {
    const QDeadlineTimer deadline(timeoutMs);
    while (samples().size() < count) {
        if (m_parec.state() != QProcess::Running || deadline.hasExpired())
            return false;
        m_parec.waitForReadyRead(static_cast<int>(std::max<qint64>(1, deadline.remainingTime())));
    }
    return true;
}

double tonePower(const QByteArray &samples, int rate, double hz) {
    const qsizetype n = samples.size();
    if (n == 0)
        return 0.0;
    const double coefficient = 2.0 * std::cos(2.0 * std::numbers::pi * hz / rate);
    double previous = 0.0;
    double beforePrevious = 0.0;
    for (const char sample : samples) {
        const double current = level(sample) + coefficient * previous - beforePrevious;
        beforePrevious = previous;
        previous = current;
    }
    // |X(hz)|^2; a sine of amplitude a over n samples gives (a n / 2)^2.
    const double magnitude2 = previous * previous + beforePrevious * beforePrevious -
                              coefficient * previous * beforePrevious;
    return 4.0 * magnitude2 / (static_cast<double>(n) * static_cast<double>(n));
}

double meanPower(const QByteArray &samples) {
    if (samples.isEmpty())
        return 0.0;
    double sum = 0.0;
    double sum2 = 0.0;
    for (const char sample : samples) {
        const double value = level(sample);
        sum += value;
        sum2 += value * value;
    }
    const double mean = sum / samples.size();
    return sum2 / samples.size() - mean * mean;
}

QList<Span> loudSpans(const QByteArray &samples, int rate, int blockMs) {
    const int block = blockSize(rate, blockMs);
    QList<Span> spans;
    for (qsizetype at = 0; at + block <= samples.size(); at += block) {
        if (meanPower(samples.mid(at, block)) < kLoudPower)
            continue;
        if (!spans.isEmpty() && at - spans.last().end < 2 * block)
            spans.last().end = at + block;
        else
            spans.append({at, at + block});
    }
    return spans;
}

QList<double> toneShares(const QByteArray &samples, int rate, const QList<double> &frequencies,
                         int blockMs) {
    // Block by block, so that the phase of a sound starting and stopping between blocks does not
    // cancel a frequency out; a block too short to tell neighbouring keys apart is left out.
    const int block = blockSize(rate, blockMs);
    QList<double> tones(frequencies.size(), 0.0);
    double total = 0.0;
    for (qsizetype at = 0; at + block <= samples.size(); at += block) {
        const QByteArray part = samples.mid(at, block);
        const double power = meanPower(part);
        if (power < kLoudPower)
            continue;
        total += power;
        for (qsizetype i = 0; i < frequencies.size(); ++i)
            tones[i] += tonePower(part, rate, frequencies[i]) / 2.0;
    }
    for (double &tone : tones)
        tone = total > 0.0 ? tone / total : 0.0;
    return tones;
}

bool containsTonePair(const QByteArray &samples, int rate, double lowHz, double highHz,
                      const QList<double> &absent) {
    QList<double> frequencies{lowHz, highHz};
    frequencies += absent;
    const QList<double> shares = toneShares(samples, rate, frequencies);
    const double low = shares[0];
    const double high = shares[1];
    if (low < kStrongShare || high < kStrongShare || low > 2.0 * high || high > 2.0 * low)
        return false;
    for (qsizetype i = 2; i < shares.size(); ++i) {
        if (shares[i] >= kAbsentShare)
            return false;
    }
    return true;
}

bool isSilent(const QByteArray &samples, int rate) {
    return loudSpans(samples, rate).isEmpty();
}

QString describe(const QByteArray &samples, int rate, const QList<double> &frequencies) {
    QString text = QStringLiteral("%1 ms recorded; loud:").arg(samples.size() * 1000 / rate);
    for (const Span &span : loudSpans(samples, rate))
        text +=
            QStringLiteral(" %1-%2 ms").arg(span.begin * 1000 / rate).arg(span.end * 1000 / rate);
    text += QStringLiteral("; shares:");
    const QList<double> shares = toneShares(samples, rate, frequencies);
    for (qsizetype i = 0; i < frequencies.size(); ++i)
        text += QStringLiteral(" %1 Hz %2").arg(frequencies[i]).arg(shares[i], 0, 'f', 3);
    return text;
}

} // namespace soundcheck
