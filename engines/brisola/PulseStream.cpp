#include "PulseStream.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>

#include <pulse/pulseaudio.h>
#include <pulse/rtclock.h>

namespace brisola {

namespace {

constexpr std::uint32_t kChannels = 2;
constexpr std::uint32_t kFrameBytes = kChannels * sizeof(float);
// The server keeps this much queued (the latency the listener hears) and asks for more in
// steps of the request size: one synthesizer block per wake-up of the stream's thread.
constexpr std::uint32_t kTargetFrames = 1024;
constexpr std::uint32_t kRequestFrames = 256;
// Largest piece rendered at once; a request for more is rendered in pieces.
constexpr int kMaxRenderFrames = 1024;
// A server that takes the connection but does not get the stream going within this is taken
// for none (it may be starting, stopped or wedged); the caller tries again later.
constexpr pa_usec_t kOpenTimeoutUsec = 5 * PA_USEC_PER_SEC;

} // namespace

PulseStream::PulseStream(std::uint32_t rate, Render render, Quiet quiet, Lost lost)
    : m_rate(rate), m_render(std::move(render)), m_quiet(std::move(quiet)), m_lost(std::move(lost)),
      m_left(kMaxRenderFrames), m_right(kMaxRenderFrames)
{
}

bool PulseStream::serverMayBeThere()
{
    const char *server = std::getenv("PULSE_SERVER");
    if (server && *server)
        return true;
    const char *runtime = std::getenv("XDG_RUNTIME_DIR");
    std::error_code ec;
    return runtime && *runtime && std::filesystem::exists(std::filesystem::path(runtime) / "pulse" / "native", ec);
}

std::unique_ptr<PulseStream> PulseStream::open(std::uint32_t rate, Render render, Quiet quiet, Lost lost,
                                               std::string &message)
{
    std::unique_ptr<PulseStream> self(new PulseStream(rate, std::move(render), std::move(quiet), std::move(lost)));
    self->m_loop = pa_threaded_mainloop_new();
    if (!self->m_loop) {
        message = "cannot create the PulseAudio main loop";
        return nullptr;
    }
    self->m_context = pa_context_new(pa_threaded_mainloop_get_api(self->m_loop), "Tonelark");
    if (!self->m_context) {
        message = "cannot create a PulseAudio context";
        return nullptr;
    }
    pa_context_set_state_callback(self->m_context, &PulseStream::contextState, self.get());
    // No autospawn: probing must never start a server the desktop does not run.
    if (pa_context_connect(self->m_context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
        message = std::string("cannot connect to the PulseAudio server: ") + pa_strerror(pa_context_errno(self->m_context));
        return nullptr;
    }
    pa_threaded_mainloop_lock(self->m_loop);
    if (pa_threaded_mainloop_start(self->m_loop) < 0) {
        pa_threaded_mainloop_unlock(self->m_loop);
        message = "cannot start the PulseAudio main loop";
        return nullptr;
    }
    pa_time_event *timeout = pa_context_rttime_new(
        self->m_context, pa_rtclock_now() + kOpenTimeoutUsec,
        [](pa_mainloop_api *, pa_time_event *, const struct timeval *, void *data) {
            auto *stream = static_cast<PulseStream *>(data);
            stream->m_timedOut = true;
            pa_threaded_mainloop_signal(stream->m_loop, 0);
        },
        self.get());
    const auto fail = [&](const std::string &text) {
        message = text;
        if (timeout)
            pa_threaded_mainloop_get_api(self->m_loop)->time_free(timeout);
        pa_threaded_mainloop_unlock(self->m_loop);
        return nullptr;
    };
    for (;;) {
        const pa_context_state_t state = pa_context_get_state(self->m_context);
        if (state == PA_CONTEXT_READY)
            break;
        if (self->m_timedOut)
            return fail("the PulseAudio server does not answer");
        if (!PA_CONTEXT_IS_GOOD(state)) {
            return fail(std::string("cannot connect to the PulseAudio server: ")
                        + pa_strerror(pa_context_errno(self->m_context)));
        }
        pa_threaded_mainloop_wait(self->m_loop);
    }

    const pa_sample_spec spec{PA_SAMPLE_FLOAT32NE, rate, std::uint8_t(kChannels)};
    self->m_stream = pa_stream_new(self->m_context, "Tonelark", &spec, nullptr);
    if (!self->m_stream)
        return fail(std::string("cannot create a PulseAudio stream: ") + pa_strerror(pa_context_errno(self->m_context)));
    pa_stream_set_state_callback(self->m_stream, &PulseStream::streamState, self.get());
    pa_stream_set_write_callback(self->m_stream, &PulseStream::writeRequest, self.get());
    pa_buffer_attr attr;
    attr.maxlength = std::uint32_t(-1);
    attr.tlength = kTargetFrames * kFrameBytes;
    attr.prebuf = std::uint32_t(-1);
    attr.minreq = kRequestFrames * kFrameBytes;
    attr.fragsize = std::uint32_t(-1);
    const auto flags = pa_stream_flags_t(PA_STREAM_ADJUST_LATENCY);
    if (pa_stream_connect_playback(self->m_stream, nullptr, &attr, flags, nullptr, nullptr) < 0)
        return fail(std::string("cannot start a PulseAudio stream: ") + pa_strerror(pa_context_errno(self->m_context)));
    for (;;) {
        const pa_stream_state_t state = pa_stream_get_state(self->m_stream);
        if (state == PA_STREAM_READY)
            break;
        if (self->m_timedOut)
            return fail("the PulseAudio server does not start the stream");
        if (!PA_STREAM_IS_GOOD(state))
            return fail(std::string("cannot start a PulseAudio stream: ") + pa_strerror(pa_context_errno(self->m_context)));
        pa_threaded_mainloop_wait(self->m_loop);
    }
    if (timeout)
        pa_threaded_mainloop_get_api(self->m_loop)->time_free(timeout);
    self->m_opened = true;
    // A loss between the last state change and now is seen here, not missed.
    self->checkAlive(PA_CONTEXT_IS_GOOD(pa_context_get_state(self->m_context))
                     && PA_STREAM_IS_GOOD(pa_stream_get_state(self->m_stream)));
    pa_threaded_mainloop_unlock(self->m_loop);
    return self;
}

PulseStream::~PulseStream() { close(); }

void PulseStream::close()
{
    if (m_loop)
        pa_threaded_mainloop_stop(m_loop); // joins the thread: no callback runs after this
    if (m_stream) {
        pa_stream_set_write_callback(m_stream, nullptr, nullptr);
        pa_stream_set_state_callback(m_stream, nullptr, nullptr);
        pa_stream_disconnect(m_stream);
        pa_stream_unref(m_stream);
        m_stream = nullptr;
    }
    if (m_context) {
        pa_context_set_state_callback(m_context, nullptr, nullptr);
        pa_context_disconnect(m_context);
        pa_context_unref(m_context);
        m_context = nullptr;
    }
    if (m_loop) {
        pa_threaded_mainloop_free(m_loop);
        m_loop = nullptr;
    }
}

void PulseStream::checkAlive(bool good)
{
    if (good || !m_opened || m_reportedLost)
        return;
    m_reportedLost = true;
    if (m_lost)
        m_lost();
}

void PulseStream::contextState(pa_context *context, void *data)
{
    auto *self = static_cast<PulseStream *>(data);
    self->checkAlive(PA_CONTEXT_IS_GOOD(pa_context_get_state(context)));
    pa_threaded_mainloop_signal(self->m_loop, 0);
}

void PulseStream::streamState(pa_stream *stream, void *data)
{
    auto *self = static_cast<PulseStream *>(data);
    self->checkAlive(PA_STREAM_IS_GOOD(pa_stream_get_state(stream)));
    pa_threaded_mainloop_signal(self->m_loop, 0);
}

void PulseStream::writeRequest(pa_stream *, std::size_t bytes, void *data)
{
    static_cast<PulseStream *>(data)->fill(bytes);
}

void PulseStream::fill(std::size_t bytes)
{
    while (bytes >= kFrameBytes) {
        void *buffer = nullptr;
        std::size_t size = bytes;
        if (pa_stream_begin_write(m_stream, &buffer, &size) < 0 || !buffer)
            return;
        const int frames = int(std::min<std::size_t>(size / kFrameBytes, kMaxRenderFrames));
        std::fill_n(m_left.data(), frames, 0.0f);
        std::fill_n(m_right.data(), frames, 0.0f);
        m_render(frames, m_left.data(), m_right.data());
        auto *out = static_cast<float *>(buffer);
        for (int i = 0; i < frames; ++i) {
            out[2 * i] = m_left[std::size_t(i)];
            out[2 * i + 1] = m_right[std::size_t(i)];
        }
        if (pa_stream_write(m_stream, buffer, std::size_t(frames) * kFrameBytes, nullptr, 0, PA_SEEK_RELATIVE) < 0)
            return;
        bytes -= std::size_t(frames) * kFrameBytes;
        m_quietFrames = m_quiet() ? m_quietFrames + frames : 0;
    }
    if (!m_paused && m_quietFrames >= std::int64_t(kQuietSecondsBeforePause * m_rate)) {
        // What is queued is silence, so pausing loses nothing and resuming plays on seamlessly.
        if (pa_operation *op = pa_stream_cork(m_stream, 1, nullptr, nullptr))
            pa_operation_unref(op);
        m_paused = true;
    }
}

void PulseStream::wake()
{
    // Always under the loop's lock: the stream's thread decides to pause under it too, so a
    // pause decided on an old quiet state cannot land after this resume.
    pa_threaded_mainloop_lock(m_loop);
    m_quietFrames = 0;
    if (m_paused) {
        if (pa_operation *op = pa_stream_cork(m_stream, 0, nullptr, nullptr))
            pa_operation_unref(op);
        m_paused = false;
    }
    pa_threaded_mainloop_unlock(m_loop);
}

} // namespace brisola
