#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

struct pa_context;
struct pa_stream;
struct pa_threaded_mainloop;

namespace brisola {

// A stereo float playback stream on the PulseAudio server that pauses (corks) itself while the
// player is quiet. A running stream costs a fifth of a core in the client library's threads even
// when it carries only silence; a corked one costs nothing. wake() resumes it at once.
class PulseStream {
public:
    // Mixes `frames` frames into two zeroed buffers (left, right). Runs on the stream's thread.
    using Render = std::function<void(int frames, float *left, float *right)>;
    // Asked after each rendered request: whether nothing sounds and nothing is about to.
    using Quiet = std::function<bool()>;
    // Called once when the server goes away or drops the stream (it was killed, restarted, or
    // refused us), on the stream's thread with its lock held: only note it and return. The
    // stream is dead from then on; destroy it from another thread.
    using Lost = std::function<void()>;

    // Null with `message` set when there is no server or the stream cannot start (a server
    // that does not answer within a few seconds counts as none).
    static std::unique_ptr<PulseStream> open(std::uint32_t rate, Render render, Quiet quiet, Lost lost,
                                             std::string &message);
    // Whether a server may be listening for this process (PULSE_SERVER is set, or the
    // runtime folder holds the server's socket): cheap enough to ask every half second.
    static bool serverMayBeThere();
    ~PulseStream();
    PulseStream(const PulseStream &) = delete;
    PulseStream &operator=(const PulseStream &) = delete;

    // Resumes a paused stream. Any thread but the stream's own; never with a lock the renderer takes.
    void wake();

    // Frames of quiet after which the stream pauses: long enough that a quick Stop-Play or a
    // seek never waits for a resume, short enough that an idle player is idle at once.
    static constexpr double kQuietSecondsBeforePause = 1.0;

private:
    PulseStream(std::uint32_t rate, Render render, Quiet quiet, Lost lost);
    void checkAlive(bool good);
    static void contextState(pa_context *context, void *data);
    static void streamState(pa_stream *stream, void *data);
    static void writeRequest(pa_stream *stream, std::size_t bytes, void *data);
    void fill(std::size_t bytes);
    void close();

    std::uint32_t m_rate;
    Render m_render;
    Quiet m_quiet;
    Lost m_lost;
    pa_threaded_mainloop *m_loop = nullptr;
    pa_context *m_context = nullptr;
    pa_stream *m_stream = nullptr;
    // Below: only with the main loop's lock held.
    bool m_opened = false; // open() has returned it: a failure from now on is a loss
    bool m_reportedLost = false;
    bool m_timedOut = false;
    bool m_paused = false;
    std::int64_t m_quietFrames = 0;
    std::vector<float> m_left, m_right;
};

} // namespace brisola
