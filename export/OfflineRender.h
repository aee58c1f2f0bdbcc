#pragma once

#include "ChannelMixer.h"

#include <cstdint>
#include <memory>
#include <string>

namespace brisola {
class MidiSink;
}

// A song rendered offline the way device -1100 plays it: the engine's sequencer and
// synthesizer sink driven by a sample clock instead of the audio callback, as fast as the
// machine allows. Shared by tonelark-render and the window's 「音声ファイルに保存…」.
namespace tonelark {

struct RenderSettings {
    std::string soundFont;            // empty: the system's General MIDI SoundFont
    int keyShift = 0;                 // -12 … 12 semitones
    int tempoPercent = 100;           // 50 … 200
    std::int32_t playOption = 0;      // the engine's play option word
    std::int32_t startTick = 0;
    ChannelMixer::Channels channels{};
    quint16 melodyChannels = 0;
    GuideMelody guideMelody = GuideMelody::Normal;
    int masterVolume = 100;           // per cent, as the mixer's slider
    // Exactly this long when positive. Otherwise the song to its end and then until the sound
    // has died away; with `loops` and a loop point, until the song went back to it `loops`
    // times, then `fadeSeconds` of fade-out (or, without a fade, the notes released and their
    // tail).
    double seconds = -1;
    int loops = 0;
    double fadeSeconds = 0;
    int cpuCores = 0;                 // synthesis threads; 0: the machine's cores (capped)
    brisola::MidiSink *observer = nullptr; // sees every message the synthesizer gets
};

class OfflineRender {
public:
    static constexpr std::uint32_t kRate = 44100;
    static constexpr int kChannels = 2;
    // The synthesizer renders up to this much at a time (between the song's events): with
    // several threads each call is one hand-over to them, so fewer, longer calls render faster.
    static constexpr int kBlockFrames = 4096;
    // The sequencer advances, and the loop's return and the tail's end are found, in steps of
    // this many frames.
    static constexpr int kStepFrames = 512;

    // Null with `message` set (English, for the tool; the window words its own) when the song
    // cannot be read or the synthesizer or SoundFont cannot be had. `smf` is copied.
    static std::unique_ptr<OfflineRender> create(const std::uint8_t *smf, std::size_t size,
                                                 const RenderSettings &settings, std::string &message);
    ~OfflineRender();
    OfflineRender(const OfflineRender &) = delete;
    OfflineRender &operator=(const OfflineRender &) = delete;

    // Renders the next block (at most kBlockFrames) as interleaved 16-bit stereo into `pcm`
    // (room for kBlockFrames × kChannels); returns its frames, 0 once the render is complete.
    int next(std::int16_t *pcm);
    std::int64_t renderedFrames() const { return m_rendered; }
    // 0 … 1: the share of the song, its loops and its fade rendered so far; the tail after the
    // end is not known in advance, so 1 only once complete.
    double progress() const;
    // The synthesis threads in use.
    int cpuCores() const { return m_cpuCores; }
    // Whether the render plays the loop (a loop point, and loops asked for).
    bool looping() const { return m_looping; }

    // The synthesis threads for offline work on this machine.
    static int defaultCpuCores();

private:
    OfflineRender() = default;
    struct Parts;
    std::unique_ptr<Parts> m_parts;
    RenderSettings m_settings;
    bool m_looping = false;
    bool m_done = false;
    int m_cpuCores = 1;
    std::int64_t m_rendered = 0;
    std::int64_t m_limit = 0;          // exact length, or INT64_MAX
    std::int64_t m_expected = 1;       // the estimate behind progress()
    std::int64_t m_tail = 0;
    std::int64_t m_silentFor = 0;
    std::int64_t m_fadeFrames = 0;
    std::int64_t m_fadeStart = -1;     // frame the fade began at
};

} // namespace tonelark
