#pragma once

#include <atomic>
#include <memory>
#include <string>

#include "Output.h"

#include <fluidsynth.h>

namespace brisola {

// The system's General MIDI SoundFont: the first of the usual places that exists, or empty.
std::string defaultSoundFont();

// A FluidSynth settings object, synthesizer and loaded SoundFont, owned together.
class FluidSynthInstance {
public:
    // Null with `message` set when the synthesizer or the SoundFont cannot be had.
    static std::unique_ptr<FluidSynthInstance> create(const std::string &soundFont, double sampleRate,
                                                      bool dynamicSampleLoading, std::string &message);
    ~FluidSynthInstance();
    FluidSynthInstance(const FluidSynthInstance &) = delete;
    FluidSynthInstance &operator=(const FluidSynthInstance &) = delete;

    fluid_settings_t *settings() const { return m_settings; }
    fluid_synth_t *synth() const { return m_synth; }

private:
    FluidSynthInstance() = default;
    fluid_settings_t *m_settings = nullptr;
    fluid_synth_t *m_synth = nullptr;
};

// Feeds the synthesizer sample-accurately. Between beginBlock() and finishBlock() the sequencer
// is advanced over the block; each message renders the audio up to its frame first, so it takes
// effect where it belongs in the block (to the synthesizer's own 64-frame granularity) rather
// than at the block's start. Messages outside a block apply at once.
class FluidSynthSink final : public MidiSink {
public:
    explicit FluidSynthSink(fluid_synth_t *synth);

    void send(const MidiMessage &message, std::int64_t frame) override;
    void setMasterGain(double gain) override;

    // `out` has `outCount` buffers of `frames` floats that the synthesizer mixes into; effects
    // go into the same buffers.
    void beginBlock(std::int64_t clockAtStart, int frames, int outCount, float **out);
    void finishBlock();

    // Renders `frames` frames of the synthesizer alone (no sequencer), mixing into `out`.
    static void renderPlain(fluid_synth_t *synth, int frames, int outCount, float **out);

private:
    void renderTo(std::int64_t offset);
    void apply(const MidiMessage &message);

    fluid_synth_t *m_synth;
    bool m_inBlock = false;
    std::int64_t m_blockClock = 0;
    std::int64_t m_rendered = 0;
    int m_blockFrames = 0;
    int m_outCount = 0;
    float **m_out = nullptr;
};

// Device -1100: the synthesizer playing through the desktop's audio server, the sequencer
// advanced from the audio callback.
class FluidSynthOutput final : public Output {
public:
    static std::unique_ptr<FluidSynthOutput> open(EngineCore &core, const std::string &soundFont, std::string &message);
    ~FluidSynthOutput() override;

    MidiSink &sink() override { return m_sink; }
    std::uint32_t rate() const override { return m_rate; }
    void start() override;
    void deactivate() override { m_active = false; }
    void stop() override;

private:
    FluidSynthOutput(EngineCore &core, std::unique_ptr<FluidSynthInstance> instance, std::uint32_t rate);
    static int audioCallback(void *data, int len, int nfx, float *fx[], int nout, float *out[]);

    EngineCore &m_core;
    std::unique_ptr<FluidSynthInstance> m_instance;
    FluidSynthSink m_sink;
    std::uint32_t m_rate;
    fluid_audio_driver_t *m_driver = nullptr;
    std::atomic<bool> m_active{false};
};

// The audio driver FluidSynth can use on this machine now ("pulseaudio", "alsa", "jack"), or
// empty when none: probing a driver without a server could start one or hang.
std::string availableAudioDriver();
// Whether a JACK server answers (without starting one).
bool jackServerRunning();

} // namespace brisola
