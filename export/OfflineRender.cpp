#include "OfflineRender.h"

#include "Engine.h"
#include "FluidSynthSink.h"
#include "RecordingSink.h"
#include "Sequencer.h"
#include "SmfTimeline.h"

#include <algorithm>
#include <cmath>
#include <thread>
#include <vector>

namespace tonelark {

using namespace brisola;

namespace {

constexpr float kSilence = 3.1623e-5f;                                  // -90 dBFS
constexpr std::int64_t kSilentTail = OfflineRender::kRate / 20;         // this long below it ends the render
constexpr std::int64_t kLongestTail = 15 * std::int64_t(OfflineRender::kRate);
constexpr std::int64_t kExpectedTail = 2 * std::int64_t(OfflineRender::kRate);
// FluidSynth hands each thread a share of the voices; past a few, waking them costs more
// than they save on a song's few dozen voices.
constexpr int kMostCpuCores = 4;

// The player's mixer decisions go straight to the sequencer, as the engine's calls do.
struct SequencerMixer final : MixerOutput {
    Sequencer &sequencer;
    MidiSink &sink;
    SequencerMixer(Sequencer &s, MidiSink &k) : sequencer(s), sink(k) {}
    void setChannelMute(int ch, bool muted) override { sequencer.setChannelMute(ch, muted); }
    void setChannelSolo(int ch, bool soloed) override { sequencer.setChannelSolo(ch, soloed); }
    void setChannelLevel(int ch, int percent) override { sequencer.setChannelLevel(ch, percent); }
    void setMasterVolume(int percent) override
    {
        sink.setMasterGain(Engine::gainOfVolume(ChannelMixer::engineVolumeOfPercent(percent)));
    }
};

// Clock frames from the start tick to `tick` at the tempo ratio.
std::int64_t framesBetween(const SmfTimeline &timeline, std::int64_t from, std::int64_t to, int percent)
{
    const double units = double(timeline.timeOfTick(to)) - double(timeline.timeOfTick(from));
    const double seconds = units / (1e6 * std::max(1, timeline.facts().timeBase));
    return std::max<std::int64_t>(0, std::llround(seconds * OfflineRender::kRate * 100.0 / percent));
}

// The fade's gain at `x` (0 … 1 through it): a squared ramp, which the ear hears as an even
// fall rather than a level held long and dropped at the end.
float fadeGain(double x)
{
    const double left = std::clamp(1.0 - x, 0.0, 1.0);
    return float(left * left);
}

} // namespace

struct OfflineRender::Parts {
    std::shared_ptr<const SmfTimeline> timeline;
    std::unique_ptr<FluidSynthInstance> synth;
    std::unique_ptr<FluidSynthSink> sink;
    std::unique_ptr<TeeSink> tee;
    Sequencer sequencer{kRate};
    std::unique_ptr<SequencerMixer> output;
    std::unique_ptr<ChannelMixer> mixer;
    std::vector<float> left = std::vector<float>(kBlockFrames);
    std::vector<float> right = std::vector<float>(kBlockFrames);
};

int OfflineRender::defaultCpuCores()
{
    return std::clamp(int(std::thread::hardware_concurrency()), 1, kMostCpuCores);
}

std::unique_ptr<OfflineRender> OfflineRender::create(const std::uint8_t *smf, std::size_t size,
                                                     const RenderSettings &settings, std::string &message)
{
    std::unique_ptr<OfflineRender> render(new OfflineRender);
    render->m_settings = settings;
    render->m_parts = std::make_unique<Parts>();
    Parts &p = *render->m_parts;
    BrsError error = BRSERROR_NOERROR;
    p.timeline = SmfTimeline::read(smf, size, error);
    if (!p.timeline) {
        switch (error) {
        case BRSERROR_NOSMF: message = "BRSERROR_NOSMF: not a Standard MIDI File"; break;
        case BRSERROR_BADSMF: message = "BRSERROR_BADSMF: the file is damaged"; break;
        case BRSERROR_UNMATCHED_SMF: message = "BRSERROR_UNMATCHED_SMF: format 2 or time-code division is not supported"; break;
        default: message = "BRSERROR_FAILED"; break;
        }
        return nullptr;
    }
    render->m_cpuCores = settings.cpuCores > 0 ? settings.cpuCores : defaultCpuCores();
    const std::string soundFont = settings.soundFont.empty() ? defaultSoundFont() : settings.soundFont;
    p.synth = FluidSynthInstance::create(soundFont, kRate, false, message, 16, render->m_cpuCores);
    if (!p.synth)
        return nullptr;
    p.sink = std::make_unique<FluidSynthSink>(p.synth->synth());
    MidiSink *sink = p.sink.get();
    if (settings.observer) {
        p.tee = std::make_unique<TeeSink>(*p.sink, *settings.observer);
        sink = p.tee.get();
    }
    p.sequencer.setKeyShift(settings.keyShift);
    p.sequencer.setTempoRatio(settings.tempoPercent);
    p.sequencer.setTimeline(p.timeline);
    p.output = std::make_unique<SequencerMixer>(p.sequencer, *p.sink);
    p.mixer = std::make_unique<ChannelMixer>(*p.output);
    p.mixer->setChannels(settings.channels);
    p.mixer->setMelodyChannels(settings.melodyChannels);
    p.mixer->setGuideMelody(settings.guideMelody);
    p.mixer->setMasterVolume(settings.masterVolume);
    p.mixer->applyAll();

    const SongFacts &facts = p.timeline->facts();
    const int percent = std::clamp(settings.tempoPercent, 50, 200);
    std::int32_t option = settings.playOption;
    render->m_looping = settings.seconds <= 0 && settings.loops > 0 && facts.loopTick >= 0;
    if (render->m_looping)
        option |= BRSPLAY_LOOP;
    else if (settings.seconds <= 0)
        option &= ~BRSPLAY_LOOP;
    render->m_fadeFrames = std::max<std::int64_t>(0, std::llround(settings.fadeSeconds * kRate));
    render->m_limit = settings.seconds > 0 ? std::int64_t(std::llround(settings.seconds * kRate)) : INT64_MAX;
    const std::int64_t start = std::clamp<std::int64_t>(settings.startTick, 0, facts.totalTick);
    if (settings.seconds > 0) {
        render->m_expected = render->m_limit;
    } else if (render->m_looping) {
        const std::int64_t once = framesBetween(*p.timeline, start, facts.totalTick, percent);
        const std::int64_t loop = framesBetween(*p.timeline, facts.loopTick, facts.totalTick, percent);
        render->m_expected = once + (settings.loops - 1) * loop
            + (render->m_fadeFrames > 0 ? render->m_fadeFrames : kExpectedTail);
    } else {
        render->m_expected = framesBetween(*p.timeline, start, facts.totalTick, percent) + kExpectedTail;
    }
    render->m_expected = std::max<std::int64_t>(1, render->m_expected);

    p.sequencer.setSink(sink, kRate);
    p.sequencer.play(option, settings.startTick);
    return render;
}

OfflineRender::~OfflineRender()
{
    if (m_parts)
        m_parts->sequencer.stop();
}

double OfflineRender::progress() const
{
    if (m_done)
        return 1.0;
    return std::min(0.99, double(m_rendered) / double(m_expected));
}

int OfflineRender::next(std::int16_t *pcm)
{
    if (m_done)
        return 0;
    Parts &p = *m_parts;
    const bool timed = m_settings.seconds > 0;
    if (!timed && m_fadeStart < 0 && p.sequencer.state() != BRSSTATE_PLAY
        && (m_silentFor >= kSilentTail || m_tail >= kLongestTail)) {
        m_done = true;
        return 0;
    }
    std::int64_t frames64 = std::min<std::int64_t>(kBlockFrames, m_limit - m_rendered);
    if (m_fadeStart >= 0)
        frames64 = std::min(frames64, m_fadeStart + m_fadeFrames - m_rendered);
    if (frames64 <= 0) {
        p.sequencer.stop();
        m_done = true;
        return 0;
    }
    int frames = int(frames64);
    std::fill(p.left.begin(), p.left.end(), 0.0f);
    std::fill(p.right.begin(), p.right.end(), 0.0f);
    float *buffers[2] = {p.left.data(), p.right.data()};
    p.sink->beginBlock(p.sequencer.clock(), frames, 2, buffers);
    int stoppedIn = -1; // the step in which the song stopped sounding on (its tail counts from there)
    for (int at = 0; at < frames; at += kStepFrames) {
        const int step = std::min(kStepFrames, frames - at);
        const bool wasPlaying = p.sequencer.state() == BRSSTATE_PLAY;
        p.sequencer.advance(step);
        if (m_looping && m_fadeStart < 0 && p.sequencer.status().LoopCount >= m_settings.loops) {
            // Back at the loop point for the last time: fade from here, or let the notes ring out.
            if (m_fadeFrames > 0)
                m_fadeStart = m_rendered + at + step;
            else
                p.sequencer.stop();
        }
        if (stoppedIn < 0 && p.sequencer.state() != BRSSTATE_PLAY)
            stoppedIn = wasPlaying ? at : 0;
    }
    p.sink->finishBlock();
    if (m_fadeStart >= 0) {
        frames = int(std::min<std::int64_t>(frames, m_fadeStart + m_fadeFrames - m_rendered));
        for (int i = int(std::max<std::int64_t>(0, m_fadeStart - m_rendered)); i < frames; ++i) {
            const float gain = fadeGain(double(m_rendered + i - m_fadeStart) / double(m_fadeFrames));
            p.left[std::size_t(i)] *= gain;
            p.right[std::size_t(i)] *= gain;
        }
    } else if (!timed && stoppedIn >= 0) {
        // The tail ends after the first step that completes 50 ms below -90 dBFS.
        for (int at = stoppedIn; at < frames; at += kStepFrames) {
            const int step = std::min(kStepFrames, frames - at);
            float peak = 0;
            for (int i = at; i < at + step; ++i)
                peak = std::max({peak, std::fabs(p.left[std::size_t(i)]), std::fabs(p.right[std::size_t(i)])});
            m_tail += step;
            m_silentFor = peak < kSilence ? m_silentFor + step : 0;
            if (m_silentFor >= kSilentTail || m_tail >= kLongestTail) {
                frames = at + step;
                break;
            }
        }
    }
    for (int i = 0; i < frames; ++i) {
        pcm[2 * i] = std::int16_t(std::lrint(std::clamp(p.left[std::size_t(i)], -1.0f, 1.0f) * 32767.0f));
        pcm[2 * i + 1] = std::int16_t(std::lrint(std::clamp(p.right[std::size_t(i)], -1.0f, 1.0f) * 32767.0f));
    }
    m_rendered += frames;
    return frames;
}

} // namespace tonelark
