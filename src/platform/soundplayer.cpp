#include "soundplayer.h"

#include <QFile>

#include <alsa/asoundlib.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <optional>
#include <thread>

namespace platform {

namespace {

using namespace std::chrono_literals;

constexpr qsizetype kMaxFileBytes = 64 * 1024 * 1024;
constexpr unsigned kLatencyUs = 100'000; // the device buffer: how late a sound may start
constexpr unsigned kMinRate = 1000;
constexpr unsigned kMaxRate = 192'000;

// A WAV file's samples, as the device is to be set up for them.
struct Clip {
    QByteArray file; // the whole file, which holds the samples
    qsizetype offset = 0;
    snd_pcm_uframes_t frames = 0;
    snd_pcm_format_t format = SND_PCM_FORMAT_U8;
    unsigned channels = 0;
    unsigned rate = 0;
    unsigned frameBytes = 0;

    const char *frame(snd_pcm_uframes_t index) const {
        return file.constData() + offset + static_cast<qsizetype>(index * frameBytes);
    }
};

// Byte by byte: the compiler then sees each read inside the array (callers check the size), where
// an unaligned word read from an array it cannot size made it warn in sanitized builds.
quint16 le16(const QByteArray &bytes, qsizetype at) {
    return quint16(uchar(bytes.at(at)) | uchar(bytes.at(at + 1)) << 8);
}

quint32 le32(const QByteArray &bytes, qsizetype at) {
    return quint32(le16(bytes, at)) | quint32(le16(bytes, at + 2)) << 16;
}

// WAVE_FORMAT_EXTENSIBLE names its sample format by a GUID whose first two bytes are the plain
// format tag and whose other fourteen are always these.
constexpr char kGuidTail[] = "\x00\x00\x00\x00\x10\x00\x80\x00\x00\xaa\x00\x38\x9b\x71";

// Reads the RIFF chunks of a WAV file. Only uncompressed PCM is accepted: 8-bit unsigned or
// 16-bit signed samples, one or two channels. Chunks other than "fmt " and "data" are skipped;
// a "data" chunk cut short by the end of the file plays what there is.
std::optional<Clip> parseWave(const QByteArray &file) {
    if (file.size() < 12 || !file.startsWith("RIFF") || file.mid(8, 4) != "WAVE")
        return std::nullopt;
    Clip clip;
    bool haveFormat = false;
    qint64 at = 12;
    while (file.size() - at >= 8) {
        const QByteArray id = file.mid(at, 4);
        const qint64 size = le32(file, at + 4);
        const qint64 body = at + 8;
        const qint64 available = file.size() - body;
        if (id == "fmt ") {
            if (size < 16 || size > available)
                return std::nullopt;
            unsigned tag = le16(file, body);
            const unsigned channels = le16(file, body + 2);
            const unsigned rate = le32(file, body + 4);
            const unsigned blockAlign = le16(file, body + 12);
            const unsigned bits = le16(file, body + 14);
            if (tag == 0xfffe) {
                if (size < 40 || std::memcmp(file.constData() + body + 26, kGuidTail, 14) != 0)
                    return std::nullopt;
                tag = le16(file, body + 24);
            }
            if (tag != 1 || channels < 1 || channels > 2 || (bits != 8 && bits != 16) ||
                blockAlign != channels * bits / 8 || rate < kMinRate || rate > kMaxRate)
                return std::nullopt;
            clip.format = bits == 8 ? SND_PCM_FORMAT_U8 : SND_PCM_FORMAT_S16_LE;
            clip.channels = channels;
            clip.rate = rate;
            clip.frameBytes = blockAlign;
            haveFormat = true;
        } else if (id == "data") {
            if (!haveFormat)
                return std::nullopt;
            clip.frames =
                static_cast<snd_pcm_uframes_t>(std::min(size, available)) / clip.frameBytes;
            if (clip.frames == 0)
                return std::nullopt;
            clip.file = file;
            clip.offset = body;
            return clip;
        }
        at = body + size + (size & 1); // chunks are padded to an even length
    }
    return std::nullopt;
}

// ALSA reports every failure on stderr itself (a machine without a sound card would print a few
// lines for each key press); the player tells its callers by its return values instead.
void ignoreAlsaError(const char *, int, const char *, int, const char *, ...) {}

// The default device set up for the clip, or null when there is none that can play it.
snd_pcm_t *openDevice(const Clip &clip) {
    static const bool quiet = (snd_lib_error_set_handler(ignoreAlsaError), true);
    Q_UNUSED(quiet);
    snd_pcm_t *pcm = nullptr;
    // Opened without waiting for a device that another program holds; written to waiting.
    if (snd_pcm_open(&pcm, "default", SND_PCM_STREAM_PLAYBACK, SND_PCM_NONBLOCK) < 0)
        return nullptr;
    if (snd_pcm_nonblock(pcm, 0) < 0 ||
        snd_pcm_set_params(pcm, clip.format, SND_PCM_ACCESS_RW_INTERLEAVED, clip.channels,
                           clip.rate, 1, kLatencyUs) < 0) {
        snd_pcm_close(pcm);
        return nullptr;
    }
    return pcm;
}

// One sound at a time, played on a thread of its own. The GUI thread opens the device (so it can
// tell at once whether the sound plays) and hands it over; the thread writes the samples and
// closes it. Every play or stop request counts up a generation: the thread plays a sound only
// while it is of the latest one, and checks between writes of a few milliseconds each.
class Player {
public:
    Player() = default;
    Player(const Player &) = delete;
    Player &operator=(const Player &) = delete;
    ~Player();

    bool play(Clip clip, unsigned flags);
    void stop();
    bool playing();

    QByteArray defaultSound; // used by the GUI thread only

private:
    struct Job {
        snd_pcm_t *pcm = nullptr;
        Clip clip;
        bool loop = false;
        quint64 generation = 0;
    };

    void run();
    void perform(const Job &job);
    bool isLatest(quint64 generation);

    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::optional<Job> m_next; // handed over, not yet taken by the thread
    quint64 m_generation = 0;
    bool m_playing = false; // a sound was started and has neither ended nor been stopped
    bool m_quit = false;
    std::thread m_thread;
};

Player::~Player() {
    {
        std::lock_guard lock(m_mutex);
        m_quit = true;
    }
    stop();
    if (m_thread.joinable())
        m_thread.join();
}

bool Player::play(Clip clip, unsigned flags) {
    const bool async = flags & SND_ASYNC;
    const bool loop = flags & SND_LOOP;
    if (loop && !async)
        return false; // would never return
    {
        std::lock_guard lock(m_mutex);
        if ((flags & SND_NOSTOP) && m_playing)
            return false;
    }
    snd_pcm_t *pcm = openDevice(clip);
    if (!pcm)
        return false;

    quint64 generation = 0;
    snd_pcm_t *unplayed = nullptr;
    {
        std::lock_guard lock(m_mutex);
        generation = ++m_generation;
        if (m_next)
            unplayed = m_next->pcm;
        m_next = Job{pcm, std::move(clip), loop, generation};
        m_playing = true;
        if (!m_thread.joinable())
            m_thread = std::thread(&Player::run, this);
    }
    m_changed.notify_all();
    if (unplayed)
        snd_pcm_close(unplayed);

    if (!async) {
        std::unique_lock lock(m_mutex);
        m_changed.wait(lock, [&] { return m_generation != generation || !m_playing; });
    }
    return true;
}

void Player::stop() {
    snd_pcm_t *unplayed = nullptr;
    {
        std::lock_guard lock(m_mutex);
        ++m_generation;
        m_playing = false;
        if (m_next) {
            unplayed = m_next->pcm;
            m_next.reset();
        }
    }
    m_changed.notify_all();
    if (unplayed)
        snd_pcm_close(unplayed);
}

bool Player::playing() {
    std::lock_guard lock(m_mutex);
    return m_playing;
}

bool Player::isLatest(quint64 generation) {
    std::lock_guard lock(m_mutex);
    return generation == m_generation;
}

void Player::run() {
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_changed.wait(lock, [this] { return m_quit || m_next.has_value(); });
        if (m_quit)
            return; // stop() has closed any sound not yet started
        const Job job = std::move(*m_next);
        m_next.reset();
        lock.unlock();
        perform(job);
        snd_pcm_drop(job.pcm); // cuts off whatever is still queued
        snd_pcm_close(job.pcm);
        lock.lock();
        if (job.generation == m_generation) {
            m_playing = false;
            m_changed.notify_all();
        }
    }
}

// Writes the clip (over and over for a loop) and waits until the device has played it out,
// returning early when a newer request comes in or the device fails.
void Player::perform(const Job &job) {
    const Clip &clip = job.clip;
    const snd_pcm_uframes_t chunk = std::max(clip.rate / 100, 16u); // 10 ms
    snd_pcm_uframes_t done = 0;
    for (;;) {
        if (!isLatest(job.generation))
            return;
        if (done == clip.frames) {
            if (!job.loop)
                break;
            done = 0;
        }
        const snd_pcm_sframes_t written =
            snd_pcm_writei(job.pcm, clip.frame(done), std::min(chunk, clip.frames - done));
        if (written < 0) {
            // An underrun (this thread was held up) or a suspended device: carry on from here.
            if (snd_pcm_recover(job.pcm, static_cast<int>(written), 1) < 0)
                return;
            continue;
        }
        done += static_cast<snd_pcm_uframes_t>(written);
    }

    // A clip shorter than the device buffer has not started by itself.
    if (snd_pcm_state(job.pcm) == SND_PCM_STATE_PREPARED && snd_pcm_start(job.pcm) < 0)
        return;
    // The device's delay counts down to nothing as the last samples are heard (snd_pcm_drain
    // would wait for that too, but could not be cut short). The deadline only guards against a
    // device that stops counting.
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(kLatencyUs / 1000) + 2s;
    for (;;) {
        snd_pcm_sframes_t delay = 0;
        if (snd_pcm_state(job.pcm) != SND_PCM_STATE_RUNNING || snd_pcm_delay(job.pcm, &delay) < 0 ||
            delay <= 0 || std::chrono::steady_clock::now() > deadline)
            return;
        const auto left = std::chrono::milliseconds(delay * 1000 / clip.rate + 1);
        std::unique_lock lock(m_mutex);
        if (m_changed.wait_for(lock, std::min(left, std::chrono::milliseconds(50)),
                               [&] { return m_generation != job.generation; }))
            return;
    }
}

Player &player() {
    // Destroyed at exit, which stops the sound and joins the thread.
    static Player instance;
    return instance;
}

} // namespace

bool playSound(const QString &fileName, unsigned flags) {
    if (fileName.isEmpty()) {
        stopSound();
        return true;
    }
    QByteArray bytes;
    QFile file(fileName);
    if (file.open(QIODevice::ReadOnly)) {
        bytes = file.read(kMaxFileBytes + 1);
        if (bytes.size() > kMaxFileBytes)
            bytes.clear(); // not a sound the program would play
    }
    return playSoundData(bytes, flags);
}

bool playSoundData(const QByteArray &wav, unsigned flags) {
    Player &sounds = player();
    std::optional<Clip> clip = parseWave(wav);
    if (!clip) {
        if (flags & SND_NODEFAULT)
            return false;
        clip = parseWave(sounds.defaultSound);
        if (!clip)
            return false;
    }
    return sounds.play(std::move(*clip), flags);
}

void stopSound() {
    player().stop();
}

bool isSoundPlaying() {
    return player().playing();
}

void setDefaultSound(const QByteArray &wav) {
    player().defaultSound = wav;
}

} // namespace platform
