#include "FluidSynthSink.h"

#include <jack/jack.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>

namespace brisola {

namespace {

// FluidSynth's own default gain; master volume 0 (full) keeps it, so our output matches the
// fluidsynth command line's level.
constexpr double kBaseGain = 0.2;
constexpr int kMaxOutputs = 16;
// Whole SoundFont loaded when the device opens. With dynamic sample loading the device opens
// about 5x sooner (FluidR3_GM: ~0.15 s instead of ~0.9 s), but each program first used during
// a song then reads its samples inside the audio callback, holding it up to 85-170 ms (15-30
// blocks): audible dropouts mid-song, against a one-time wait at open (bench/engine_first_sound).
constexpr bool kDynamicSampleLoading = false;

void ignoreJackMessage(const char *) {}

} // namespace

std::string defaultSoundFont()
{
    for (const char *path : {"/usr/share/sounds/sf2/default-GM.sf2", "/usr/share/sounds/sf2/FluidR3_GM.sf2",
                             "/usr/share/soundfonts/default.sf2", "/usr/share/soundfonts/FluidR3_GM.sf2"}) {
        std::error_code ec;
        if (std::filesystem::is_regular_file(path, ec))
            return path;
    }
    return {};
}

std::unique_ptr<FluidSynthInstance> FluidSynthInstance::create(const std::string &soundFont, double sampleRate,
                                                               bool dynamicSampleLoading, std::string &message)
{
    std::unique_ptr<FluidSynthInstance> instance(new FluidSynthInstance);
    instance->m_settings = new_fluid_settings();
    if (!instance->m_settings) {
        message = "cannot create FluidSynth settings";
        return nullptr;
    }
    fluid_settings_setnum(instance->m_settings, "synth.sample-rate", sampleRate);
    fluid_settings_setint(instance->m_settings, "synth.dynamic-sample-loading", dynamicSampleLoading ? 1 : 0);
    instance->m_synth = new_fluid_synth(instance->m_settings);
    if (!instance->m_synth) {
        message = "cannot create the FluidSynth synthesizer";
        return nullptr;
    }
    if (soundFont.empty()) {
        message = "no General MIDI SoundFont found (install fluid-soundfont-gm)";
        return nullptr;
    }
    if (fluid_synth_sfload(instance->m_synth, soundFont.c_str(), 1) == FLUID_FAILED) {
        message = "cannot load the SoundFont \"" + soundFont + "\"";
        return nullptr;
    }
    return instance;
}

FluidSynthInstance::~FluidSynthInstance()
{
    if (m_synth)
        delete_fluid_synth(m_synth);
    if (m_settings)
        delete_fluid_settings(m_settings);
}

FluidSynthSink::FluidSynthSink(fluid_synth_t *synth) : m_synth(synth) {}

void FluidSynthSink::renderPlain(fluid_synth_t *synth, int frames, int outCount, float **out)
{
    if (frames <= 0)
        return;
    // Drivers other than JACK's multi-channel mode give no effect buffers: mix reverb and chorus
    // into the dry outputs, as the fluidsynth command line does.
    float *fx[kMaxOutputs];
    const int fxCount = std::min(outCount, kMaxOutputs / 2) * 2;
    for (int i = 0; i < fxCount; ++i)
        fx[i] = out[i % outCount];
    fluid_synth_process(synth, frames, fxCount, fx, outCount, out);
}

void FluidSynthSink::beginBlock(std::int64_t clockAtStart, int frames, int outCount, float **out)
{
    m_inBlock = true;
    m_blockClock = clockAtStart;
    m_blockFrames = frames;
    m_rendered = 0;
    m_outCount = std::min(outCount, kMaxOutputs);
    m_out = out;
}

void FluidSynthSink::renderTo(std::int64_t offset)
{
    offset = std::clamp<std::int64_t>(offset, m_rendered, m_blockFrames);
    if (offset == m_rendered)
        return;
    float *shifted[kMaxOutputs];
    for (int i = 0; i < m_outCount; ++i)
        shifted[i] = m_out[i] + m_rendered;
    renderPlain(m_synth, int(offset - m_rendered), m_outCount, shifted);
    m_rendered = offset;
}

void FluidSynthSink::finishBlock()
{
    renderTo(m_blockFrames);
    m_inBlock = false;
}

void FluidSynthSink::send(const MidiMessage &message, std::int64_t frame)
{
    if (m_inBlock)
        renderTo(frame - m_blockClock);
    apply(message);
}

void FluidSynthSink::apply(const MidiMessage &m)
{
    if (m.size == 0)
        return;
    const int channel = m.data[0] & 0x0F;
    const int d1 = m.size > 1 ? m.data[1] : 0;
    const int d2 = m.size > 2 ? m.data[2] : 0;
    switch (m.data[0] & 0xF0) {
    case 0x80:
        fluid_synth_noteoff(m_synth, channel, d1);
        break;
    case 0x90:
        if (d2 == 0)
            fluid_synth_noteoff(m_synth, channel, d1);
        else
            fluid_synth_noteon(m_synth, channel, d1, d2);
        break;
    case 0xA0:
        fluid_synth_key_pressure(m_synth, channel, d1, d2);
        break;
    case 0xB0:
        fluid_synth_cc(m_synth, channel, d1, d2);
        break;
    case 0xC0:
        fluid_synth_program_change(m_synth, channel, d1);
        break;
    case 0xD0:
        fluid_synth_channel_pressure(m_synth, channel, d1);
        break;
    case 0xE0:
        fluid_synth_pitch_bend(m_synth, channel, d1 | (d2 << 7));
        break;
    case 0xF0:
        // A complete F0 … F7 message: FluidSynth wants the bytes between the two. Escaped F7
        // packets cannot be told apart from fragments and are not interpreted.
        if (m.data[0] == 0xF0 && m.size >= 2) {
            const int length = int(m.size) - 1 - (m.data[m.size - 1] == 0xF7 ? 1 : 0);
            fluid_synth_sysex(m_synth, reinterpret_cast<const char *>(m.data + 1), length, nullptr, nullptr, nullptr, 0);
        }
        break;
    default:
        break;
    }
}

void FluidSynthSink::setMasterGain(double gain)
{
    fluid_synth_set_gain(m_synth, float(kBaseGain * std::clamp(gain, 0.0, 1.0)));
}

bool jackServerRunning()
{
    jack_set_error_function(ignoreJackMessage);
    jack_set_info_function(ignoreJackMessage);
    jack_status_t status;
    jack_client_t *client = jack_client_open("tonelark-probe", JackNoStartServer, &status);
    if (!client)
        return false;
    jack_client_close(client);
    return true;
}

std::string availableAudioDriver()
{
    std::error_code ec;
    const char *pulseServer = std::getenv("PULSE_SERVER");
    const char *runtime = std::getenv("XDG_RUNTIME_DIR");
    if ((pulseServer && *pulseServer)
        || (runtime && std::filesystem::exists(std::filesystem::path(runtime) / "pulse" / "native", ec)))
        return "pulseaudio";
    if (std::filesystem::exists("/dev/snd", ec))
        return "alsa";
    if (jackServerRunning())
        return "jack";
    return {};
}

FluidSynthOutput::FluidSynthOutput(EngineCore &core, std::unique_ptr<FluidSynthInstance> instance, std::uint32_t rate)
    : m_core(core), m_instance(std::move(instance)), m_sink(m_instance->synth()), m_rate(rate)
{
}

std::unique_ptr<FluidSynthOutput> FluidSynthOutput::open(EngineCore &core, const std::string &soundFont,
                                                         std::string &message)
{
    const std::string driver = availableAudioDriver();
    if (driver.empty()) {
        message = "no audio server or sound device";
        return nullptr;
    }
    auto instance = FluidSynthInstance::create(soundFont, 44100.0, kDynamicSampleLoading, message);
    if (!instance)
        return nullptr;
    fluid_settings_setstr(instance->settings(), "audio.driver", driver.c_str());
    if (driver == "jack")
        fluid_settings_setint(instance->settings(), "audio.jack.autoconnect", 1);
    double rate = 44100.0;
    fluid_settings_getnum(instance->settings(), "synth.sample-rate", &rate);
    std::unique_ptr<FluidSynthOutput> output(new FluidSynthOutput(core, std::move(instance), std::uint32_t(rate)));
    // The driver runs from here on, rendering the idle synthesizer until start() hands it the
    // sequencer.
    output->m_driver = new_fluid_audio_driver2(output->m_instance->settings(), &FluidSynthOutput::audioCallback,
                                               output.get());
    if (!output->m_driver) {
        message = "cannot start the \"" + driver + "\" audio driver";
        return nullptr;
    }
    return output;
}

FluidSynthOutput::~FluidSynthOutput() { stop(); }

void FluidSynthOutput::start() { m_active = true; }

void FluidSynthOutput::stop()
{
    m_active = false;
    if (m_driver) {
        delete_fluid_audio_driver(m_driver);
        m_driver = nullptr;
    }
}

int FluidSynthOutput::audioCallback(void *data, int len, int nfx, float *fx[], int nout, float *out[])
{
    auto *self = static_cast<FluidSynthOutput *>(data);
    (void)nfx;
    (void)fx;
    // Never wait for the lock here: a command holding it delays the song by one block at most,
    // while waiting would make the audio drop out.
    if (self->m_active.load(std::memory_order_acquire) && self->m_core.mutex.try_lock()) {
        // Checked again under the lock: the engine deactivates an output while holding it.
        if (self->m_active.load(std::memory_order_acquire)) {
            self->m_sink.beginBlock(self->m_core.sequencer.clock(), len, nout, out);
            self->m_core.sequencer.advance(len);
            self->m_sink.finishBlock();
            self->m_core.publish();
            self->m_core.mutex.unlock();
            return FLUID_OK;
        }
        self->m_core.mutex.unlock();
    }
    FluidSynthSink::renderPlain(self->m_instance->synth(), len, nout, out);
    return FLUID_OK;
}

} // namespace brisola
