// A level set through the mixer controller, to the sound server holding it: clsVolume writes the
// speakers' level on ALSA's "default" mixer (the sound server's), and a second ALSA mixer handle
// of its own, a separate client of the server, waits until the server reports the new level.
//
//     bench_mixer [--runs N] [--warmup N] [--samples FILE]
//
// Needs a sound server behind ALSA's default device (bench/run starts the test environment's
// PulseAudio). Prints one line per run and the medians.

#include "benchcommon.h"
#include "clsvolume.h"
#include "messagebox.h"

#include <QCommandLineParser>
#include <QCoreApplication>

#include <alsa/asoundlib.h>
#include <poll.h>

#include <vector>

using bench::Clock;
using bench::err;
using bench::msBetween;
using bench::out;

namespace {

struct Run {
    double write = 0; // clsVolume's write, which returns once the server has taken it
    double read = 0;  // clsVolume's read of the level, asked of the server
    double seen = 0;  // from the write to the other client told of the new level
};

// Another client's view of the speakers' level: its own mixer handle, told of changes by the
// server.
class Watcher {
public:
    ~Watcher() {
        if (m_mixer)
            snd_mixer_close(m_mixer);
    }
    bool open() {
        if (snd_mixer_open(&m_mixer, 0) < 0 || snd_mixer_attach(m_mixer, "default") < 0 ||
            snd_mixer_selem_register(m_mixer, nullptr, nullptr) < 0 || snd_mixer_load(m_mixer) < 0)
            return false;
        snd_mixer_selem_id_t *id = nullptr;
        snd_mixer_selem_id_alloca(&id);
        snd_mixer_selem_id_set_name(id, "Master");
        m_master = snd_mixer_find_selem(m_mixer, id);
        return m_master != nullptr;
    }
    // Waits, sleeping in poll(), until the level reads `level`; false after timeoutMs.
    bool waitFor(long level, int timeoutMs) {
        const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
        std::vector<pollfd> fds(static_cast<size_t>(snd_mixer_poll_descriptors_count(m_mixer)));
        snd_mixer_poll_descriptors(m_mixer, fds.data(), static_cast<unsigned>(fds.size()));
        for (;;) {
            snd_mixer_handle_events(m_mixer);
            long now = -1;
            snd_mixer_selem_get_playback_volume(m_master, SND_MIXER_SCHN_FRONT_LEFT, &now);
            if (now == level)
                return true;
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            if (left.count() <= 0)
                return false;
            poll(fds.data(), fds.size(), static_cast<int>(left.count()));
        }
    }

private:
    snd_mixer_t *m_mixer = nullptr;
    snd_mixer_elem_t *m_master = nullptr;
};

} // namespace

int main(int argc, char *argv[]) {
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addHelpOption();
    const bench::CommonOptions common;
    common.addTo(parser, false);
    parser.process(app);
    const int runs = common.runCount(parser);
    const int warmup = common.warmupCount(parser);

    bool noMixer = false;
    platform::setMessageHandler(
        [&noMixer](const QString &text, const QString &, platform::MessageIcon) {
            err() << "bench_mixer: " << text << "\n";
            noMixer = true;
        });
    audio::clsVolume volume;
    Watcher watcher;
    if (noMixer || !volume.HasVolumeControl(1) || !watcher.open()) {
        err() << "bench_mixer: no speakers' level on ALSA's default mixer (no sound server?)\n";
        return 1;
    }
    const long minimum = volume.MinWaveVolume();
    const long span = volume.MaxWaveVolume() - minimum;
    out() << "speakers' level " << minimum << ".." << minimum + span << "; " << warmup
          << " warm-up and " << runs << " measured runs (ms)\n";
    out() << "run       write     read   write->seen\n";

    QList<double> writes, reads, seen;
    for (int i = 0; i < warmup + runs; ++i) {
        // Every run a level the server does not hold yet: alternately low and high.
        const long level = minimum + (i % 2 ? span / 4 : 3 * span / 4) + i;
        const auto start = Clock::now();
        volume.setWaveVolume(level);
        const auto written = Clock::now();
        if (!watcher.waitFor(level, 5000)) {
            err() << "bench_mixer: run " << i + 1 << ": the server never reported " << level
                  << "\n";
            return 1;
        }
        const auto arrived = Clock::now();
        const auto readStart = Clock::now();
        const long read = volume.WaveVolume();
        const auto readEnd = Clock::now();
        if (read != level) {
            err() << "bench_mixer: run " << i + 1 << ": read " << read << ", not " << level << "\n";
            return 1;
        }
        const bool counted = i >= warmup;
        const Run run{msBetween(start, written), msBetween(readStart, readEnd),
                      msBetween(start, arrived)};
        out() << QStringLiteral("%1 %2 %3 %4\n")
                     .arg(counted ? QString::number(i - warmup + 1) : QStringLiteral("warm-up"), -8)
                     .arg(run.write, 7, 'f', 2)
                     .arg(run.read, 8, 'f', 3)
                     .arg(run.seen, 13, 'f', 2);
        out().flush();
        if (counted) {
            writes << run.write;
            reads << run.read;
            seen << run.seen;
        }
    }
    out() << QStringLiteral("median   %1 %2 %3\n")
                 .arg(bench::median(writes), 7, 'f', 2)
                 .arg(bench::median(reads), 8, 'f', 3)
                 .arg(bench::median(seen), 13, 'f', 2);

    if (parser.isSet(common.samples)) {
        const QString section = QStringLiteral("mixer");
        const QString kirrow = QStringLiteral("Kirrow");
        QList<bench::TableSample> samples;
        for (int i = 0; i < runs; ++i)
            samples << bench::TableSample{section, QStringLiteral("level write (ms)"), kirrow,
                                          writes[i], 2}
                    << bench::TableSample{section, QStringLiteral("level read (ms)"), kirrow,
                                          reads[i], 3}
                    << bench::TableSample{section, QStringLiteral("write -> server reports (ms)"),
                                          kirrow, seen[i], 2};
        if (!bench::appendSamples(parser.value(common.samples), samples,
                                  QStringLiteral("bench_mixer")))
            return 1;
    }
    return 0;
}
