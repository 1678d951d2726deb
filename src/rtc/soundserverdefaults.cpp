#include "soundserverdefaults.h"

#include <QElapsedTimer>
#include <QtGlobal>

#include <pulse/pulseaudio.h>

namespace rtc {

namespace {

// What the server's answers fill in, and how many are still to come.
struct Asking {
    pa_context *context = nullptr;
    SoundServerDefaults found;
    int pending = 0;
    bool failed = false;
};

void sinkAnswered(pa_context *, const pa_sink_info *info, int last, void *data) {
    auto *asking = static_cast<Asking *>(data);
    if (last < 0)
        asking->failed = true;
    if (info && info->description)
        asking->found.sink = QString::fromUtf8(info->description);
    if (last)
        --asking->pending;
}

void sourceAnswered(pa_context *, const pa_source_info *info, int last, void *data) {
    auto *asking = static_cast<Asking *>(data);
    if (last < 0)
        asking->failed = true;
    if (info && info->description)
        asking->found.source = QString::fromUtf8(info->description);
    if (last)
        --asking->pending;
}

void serverAnswered(pa_context *context, const pa_server_info *info, void *data) {
    auto *asking = static_cast<Asking *>(data);
    --asking->pending;
    if (!info || !info->default_sink_name || !info->default_source_name) {
        asking->failed = true;
        return;
    }
    // A program may be given defaults of its own, as every client of the server may.
    const QByteArray sink = qEnvironmentVariableIsEmpty("PULSE_SINK")
                                ? QByteArray(info->default_sink_name)
                                : qgetenv("PULSE_SINK");
    const QByteArray source = qEnvironmentVariableIsEmpty("PULSE_SOURCE")
                                  ? QByteArray(info->default_source_name)
                                  : qgetenv("PULSE_SOURCE");
    for (pa_operation *operation :
         {pa_context_get_sink_info_by_name(context, sink.constData(), sinkAnswered, data),
          pa_context_get_source_info_by_name(context, source.constData(), sourceAnswered, data)}) {
        if (!operation) {
            asking->failed = true;
            continue;
        }
        ++asking->pending;
        pa_operation_unref(operation);
    }
}

} // namespace

std::optional<SoundServerDefaults> askSoundServerDefaults(int timeoutMs) {
    pa_mainloop *loop = pa_mainloop_new();
    if (!loop)
        return std::nullopt;
    Asking asking;
    asking.context = pa_context_new(pa_mainloop_get_api(loop), "Kirrow");
    std::optional<SoundServerDefaults> result;
    QElapsedTimer clock;
    clock.start();
    // One turn of the loop, never waiting past the deadline; false once it has passed.
    const auto turn = [&] {
        const qint64 left = timeoutMs - clock.elapsed();
        if (left <= 0 || pa_mainloop_prepare(loop, int(left * 1000)) < 0 ||
            pa_mainloop_poll(loop) < 0 || pa_mainloop_dispatch(loop) < 0)
            return false;
        return true;
    };
    if (asking.context &&
        pa_context_connect(asking.context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) >= 0) {
        pa_context_state_t state;
        while ((state = pa_context_get_state(asking.context)) != PA_CONTEXT_READY &&
               PA_CONTEXT_IS_GOOD(state) && turn()) {
        }
        if (state == PA_CONTEXT_READY) {
            if (pa_operation *operation =
                    pa_context_get_server_info(asking.context, serverAnswered, &asking)) {
                asking.pending = 1;
                pa_operation_unref(operation);
                while (asking.pending > 0 && !asking.failed && turn()) {
                }
                if (asking.pending == 0 && !asking.failed)
                    result = asking.found;
            }
        }
        pa_context_disconnect(asking.context);
    }
    if (asking.context)
        pa_context_unref(asking.context);
    pa_mainloop_free(loop);
    return result;
}

} // namespace rtc
