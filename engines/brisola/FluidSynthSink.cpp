#include "FluidSynthSink.h"

#include "PulseStream.h"

#include <jack/jack.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <iterator>
#include <utility>

namespace brisola {

namespace {

// FluidSynth's own default gain; master volume 0 (full) keeps it, so our output matches the
// fluidsynth command line's level.
constexpr double kBaseGain = 0.2;
constexpr int kMaxOutputs = 16;
// Only the samples of the instruments in use are read: the whole FluidR3_GM takes ~0.9 s to
// load and ~140 MB, its headers and one instrument ~0.1 s.
constexpr bool kDynamicSampleLoading = true;
// Channels of both synthesizers (FluidSynth wants a multiple of 16): the song's 16, and one
// spare channel per instrument held.
constexpr int kSynthChannels = 256;
constexpr int kSongChannels = 16;

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

std::string fluidSynthVersion()
{
    return std::string("FluidSynth ") + fluid_version_str();
}

std::unique_ptr<FluidSynthInstance> FluidSynthInstance::create(const std::string &soundFont, double sampleRate,
                                                               bool dynamicSampleLoading, std::string &message,
                                                               int midiChannels, int cpuCores)
{
    std::unique_ptr<FluidSynthInstance> instance(new FluidSynthInstance);
    instance->m_settings = new_fluid_settings();
    if (!instance->m_settings) {
        message = "cannot create FluidSynth settings";
        return nullptr;
    }
    fluid_settings_setnum(instance->m_settings, "synth.sample-rate", sampleRate);
    fluid_settings_setint(instance->m_settings, "synth.dynamic-sample-loading", dynamicSampleLoading ? 1 : 0);
    fluid_settings_setint(instance->m_settings, "synth.midi-channels", midiChannels);
    if (cpuCores > 1) {
        fluid_settings_setint(instance->m_settings, "synth.cpu-cores", cpuCores);
        // FluidSynth gives its extra threads real-time priority by default: an offline render
        // would then take cores from the desktop and the live synthesizer.
        fluid_settings_setint(instance->m_settings, "audio.realtime-prio", 0);
    }
    instance->m_synth = new_fluid_synth(instance->m_settings);
    if (!instance->m_synth) {
        message = "cannot create the FluidSynth synthesizer";
        return nullptr;
    }
    if (!soundFont.empty() && !instance->loadSoundFont(soundFont, message))
        return nullptr;
    return instance;
}

bool FluidSynthInstance::loadSoundFont(const std::string &soundFont, std::string &message)
{
    if (soundFont.empty()) {
        message = "no General MIDI SoundFont found (install fluid-soundfont-gm)";
        return false;
    }
    if (fluid_synth_sfload(m_synth, soundFont.c_str(), 1) == FLUID_FAILED) {
        message = "cannot load the SoundFont \"" + soundFont + "\"";
        return false;
    }
    return true;
}

namespace {

// The built-in output's synthesizer; the SoundFont, when given, loaded into it.
std::unique_ptr<FluidSynthInstance> createOutputSynth(const std::string &soundFont, std::string &message)
{
    return FluidSynthInstance::create(soundFont, 44100.0, kDynamicSampleLoading, message, kSynthChannels);
}

} // namespace

BrsError checkSoundFont(const std::string &path, std::string &message, std::unique_ptr<FluidSynthInstance> *loaded)
{
    std::error_code ec;
    if (!std::filesystem::exists(path, ec)) {
        message = "no such file: \"" + path + "\"";
        return BRSERROR_FILENOTFOUND;
    }
    if (!std::filesystem::is_regular_file(path, ec) || !fluid_is_soundfont(path.c_str())) {
        message = "not a SoundFont: \"" + path + "\"";
        return BRSERROR_CANNOT_OPENFILE;
    }
    // A real load (headers and the start-up instruments) finds damage the header check cannot.
    auto instance = loaded ? createOutputSynth(path, message) : FluidSynthInstance::create(path, 44100.0, true, message);
    if (!instance)
        return BRSERROR_CANNOT_OPENFILE;
    // Presets are tried until one sounds: a sound font's first one does, a damaged font's
    // samples are each refused at once, so this stays short either way.
    fluid_synth_t *synth = instance->synth();
    fluid_sfont_t *font = fluid_synth_get_sfont(synth, 0);
    if (!font)
        return BRSERROR_CANNOT_OPENFILE;
    fluid_sfont_iteration_start(font);
    while (fluid_preset_t *preset = fluid_sfont_iteration_next(font)) {
        if (fluid_synth_program_select(synth, 0, fluid_sfont_get_id(font), fluid_preset_get_banknum(preset),
                                       fluid_preset_get_num(preset))
                == FLUID_OK
            && channelSounds(synth, 0)) {
            if (loaded) {
                // Every channel on its default instrument again, as a fresh load leaves them.
                fluid_synth_system_reset(synth);
                *loaded = std::move(instance);
            }
            return BRSERROR_NOERROR;
        }
    }
    message = "no instrument of the SoundFont \"" + path + "\" can sound (damaged sample headers?)";
    return BRSERROR_DAMAGED_SOUNDFONT;
}

bool channelSounds(fluid_synth_t *synth, int channel)
{
    for (int key : {60, 36, 38, 42, 48, 72, 84, 24, 96}) {
        const int before = fluid_synth_get_active_voice_count(synth);
        fluid_synth_noteon(synth, channel, key, 100);
        const bool started = fluid_synth_get_active_voice_count(synth) > before;
        fluid_synth_all_sounds_off(synth, channel);
        if (started)
            return true;
    }
    return false;
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
        // GM, GS and XG resets reset every channel, as on the devices they were written for
        // (FluidSynth itself leaves its channels alone at a GS or XG reset); the chase counts on
        // it.
        if (isResetSysEx(m.data, m.size)) {
            resetSongChannels(m_synth);
        } else if (m.data[0] == 0xF0 && m.size >= 2) {
            const int length = int(m.size) - 1 - (m.data[m.size - 1] == 0xF7 ? 1 : 0);
            fluid_synth_sysex(m_synth, reinterpret_cast<const char *>(m.data + 1), length, nullptr, nullptr, nullptr, 0);
        }
        break;
    default:
        break;
    }
}

void FluidSynthSink::resetSongChannels(fluid_synth_t *synth)
{
    // What a system reset does to a channel; FluidSynth's own would reset the spare channels too
    // and drop the instruments they hold.
    for (int ch = 0; ch < kSongChannels; ++ch) {
        fluid_synth_all_sounds_off(synth, ch);
        fluid_synth_cc(synth, ch, 121, 0);
        // Every controller to its power-on value (data entry and the parameter selection,
        // which reset-all-controllers has set, aside; portamento control's "no note" cannot be
        // sent as a value).
        for (int cc = 0; cc < 120; ++cc) {
            if (cc == 6 || cc == 38 || cc == 84 || (cc >= 96 && cc <= 101))
                continue;
            const int value = cc == 7 ? 100
                              : (cc == 11 || cc == 43) ? 127
                              : (cc == 8 || cc == 10 || (cc >= 70 && cc <= 79)) ? 64
                                                                                 : 0;
            // Each change walks every voice; this runs inside one audio callback.
            int current = -1;
            fluid_synth_get_cc(synth, ch, cc, &current);
            if (current != value)
                fluid_synth_cc(synth, ch, cc, value);
        }
        fluid_synth_program_change(synth, ch, 0);
        fluid_synth_pitch_wheel_sens(synth, ch, 2);
        fluid_synth_channel_pressure(synth, ch, 0);
        fluid_synth_deactivate_tuning(synth, ch, 0);
        for (int g = 0; g < GEN_LAST; ++g)
            if (fluid_synth_get_gen(synth, ch, g) != 0.0f)
                fluid_synth_set_gen(synth, ch, g, 0.0f);
    }
}

void FluidSynthSink::setMasterGain(double gain)
{
    fluid_synth_set_gain(m_synth, float(kBaseGain * std::clamp(gain, 0.0, 1.0)));
}

bool jackServerRunning()
{
    // JACK 2 serves its clients on a socket named after the server and the user: a connection
    // to it answers in microseconds, where opening a client takes 50-150 ms.
    const char *name = std::getenv("JACK_DEFAULT_SERVER");
    const std::string socketPath = std::string("/dev/shm/jack_") + (name && *name ? name : "default") + "_"
                                   + std::to_string(::getuid()) + "_0";
    std::error_code ec;
    if (std::filesystem::exists(socketPath, ec)) {
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        if (socketPath.size() < sizeof address.sun_path) {
            std::copy(socketPath.begin(), socketPath.end(), address.sun_path);
            const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
            const bool answers = fd >= 0 && ::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0;
            if (fd >= 0)
                ::close(fd);
            if (answers)
                return true;
        }
    }
    // Other JACK versions and layouts: ask the library, never starting a server.
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
                                                         std::string &message, bool &waiting,
                                                         std::unique_ptr<FluidSynthInstance> loaded)
{
    waiting = false;
    if (soundFont.empty()) {
        message = "no General MIDI SoundFont found (install fluid-soundfont-gm)";
        return nullptr;
    }
    const bool alreadyLoaded = loaded != nullptr;
    auto instance = alreadyLoaded ? std::move(loaded) : createOutputSynth({}, message);
    if (!instance)
        return nullptr;
    double rate = 44100.0;
    fluid_settings_getnum(instance->settings(), "synth.sample-rate", &rate);
    std::unique_ptr<FluidSynthOutput> output(new FluidSynthOutput(core, std::move(instance), std::uint32_t(rate)));
    const std::string driver = availableAudioDriver();
    if (driver.empty() || driver == "pulseaudio") {
        // Our own stream rather than FluidSynth's driver: it can pause while the player is quiet,
        // and it can be made again when the server comes (back).
        output->m_usesPulse = true;
        if (driver.empty())
            message = "no audio server or sound device";
        else
            output->m_pulse = output->openStream(message);
        waiting = !output->m_pulse;
        output->m_streamUp = !waiting;
        core.report.setServer(waiting ? BRSSERVER_WAITING : BRSSERVER_CONNECTED);
        output->m_loader = std::thread(&FluidSynthOutput::runLoader, output.get(), soundFont, alreadyLoaded);
        output->m_watcher = std::thread(&FluidSynthOutput::runWatcher, output.get());
        return output;
    }
    core.report.setServer(BRSSERVER_NOTUSED);
    output->m_streamUp = true;
    fluid_settings_setstr(output->m_instance->settings(), "audio.driver", driver.c_str());
    if (driver == "jack")
        fluid_settings_setint(output->m_instance->settings(), "audio.jack.autoconnect", 1);
    // The driver runs from here on, rendering silence until the SoundFont is in and start()
    // hands it the sequencer.
    output->m_driver = new_fluid_audio_driver2(output->m_instance->settings(), &FluidSynthOutput::audioCallback,
                                               output.get());
    if (!output->m_driver) {
        message = "cannot start the \"" + driver + "\" audio driver";
        return nullptr;
    }
    // Loading alongside the driver's start was slower than one after the other: on two loaded
    // cores they only took turns (bench/engine_first_sound).
    output->m_loader = std::thread(&FluidSynthOutput::runLoader, output.get(), soundFont, alreadyLoaded);
    return output;
}

std::unique_ptr<PulseStream> FluidSynthOutput::openStream(std::string &message)
{
    return PulseStream::open(
        m_rate,
        [this](int frames, float *left, float *right) {
            float *out[2] = {left, right};
            audioCallback(this, frames, 0, nullptr, 2, out);
        },
        [this] { return quiet(); },
        [this] {
            {
                std::lock_guard lock(m_watchMutex);
                m_watchLost = true;
            }
            m_watchChanged.notify_all();
        },
        message);
}

void FluidSynthOutput::advanceSilently()
{
    const auto elapsed = std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now()
                                                                               - m_silentSince);
    const std::int64_t due = m_silentClockAtStart + elapsed.count() * std::int64_t(m_rate) / 1000000;
    const std::int64_t behind = due - m_core.sequencer.clock();
    if (behind > 0)
        m_core.sequencer.advance(behind);
}

void FluidSynthOutput::syncClock()
{
    if (!m_streamUp.load() && m_active.load())
        advanceSilently();
}

void FluidSynthOutput::streamLost()
{
    {
        std::lock_guard lock(m_core.mutex);
        // From the last block the stream rendered on, the song goes on in real time.
        m_silentSince = std::chrono::steady_clock::now();
        m_silentClockAtStart = m_core.sequencer.clock();
        m_streamUp = false;
        m_core.publish();
    }
    m_core.report.setServer(BRSSERVER_WAITING);
    std::unique_ptr<PulseStream> dead;
    {
        std::lock_guard lock(m_pulseMutex);
        dead = std::move(m_pulse);
    }
    dead.reset(); // joins the dead stream's thread
    fluid_synth_all_sounds_off(m_instance->synth(), -1);
}

bool FluidSynthOutput::reconnect()
{
    std::string message;
    std::unique_ptr<PulseStream> stream = openStream(message);
    if (!stream)
        return false;
    // Voices the loss froze would sound on; what the song struck meanwhile never reached the
    // synthesizer. Its callbacks render the synthesizer alone until m_streamUp is set.
    fluid_synth_all_sounds_off(m_instance->synth(), -1);
    {
        std::lock_guard lock(m_core.mutex);
        if (m_active.load())
            advanceSilently();
        m_streamUp = true;
        if (m_active.load() && m_synthReady.load() && m_core.sequencer.sink() == &m_gate) {
            m_core.sequencer.silence();
            m_core.sequencer.chaseAgain();
        }
        m_core.publish();
    }
    {
        std::lock_guard lock(m_pulseMutex);
        m_pulse = std::move(stream);
    }
    m_core.report.setServer(BRSSERVER_CONNECTED);
    return true;
}

void FluidSynthOutput::runWatcher()
{
    using Clock = std::chrono::steady_clock;
    constexpr auto kSilentTick = std::chrono::milliseconds(5); // as the silent output publishes
    constexpr std::size_t kPauses = std::size(kRetryPauses);
    std::size_t tries = 0;
    Clock::time_point nextTry = Clock::now();
    for (;;) {
        bool waitForever = m_streamUp.load();
        Clock::time_point until = nextTry;
        if (!waitForever) {
            bool playing = false;
            {
                std::lock_guard lock(m_core.mutex);
                if (m_active.load()) {
                    advanceSilently();
                    m_core.publish();
                    playing = m_core.sequencer.state() == BRSSTATE_PLAY;
                }
            }
            if (Clock::now() >= nextTry) {
                if (PulseStream::serverMayBeThere() && reconnect()) {
                    tries = 0;
                    continue;
                }
                nextTry = Clock::now() + kRetryPauses[std::min(tries, kPauses - 1)];
                ++tries;
            }
            until = playing ? std::min(nextTry, Clock::now() + kSilentTick) : nextTry;
        }
        std::unique_lock lock(m_watchMutex);
        const auto woken = [this] { return m_watchQuit || m_watchLost || m_watchWake; };
        if (waitForever)
            m_watchChanged.wait(lock, woken);
        else
            m_watchChanged.wait_until(lock, until, woken);
        if (m_watchQuit)
            return;
        m_watchWake = false;
        if (std::exchange(m_watchLost, false)) {
            lock.unlock();
            streamLost();
            tries = 0;
            nextTry = Clock::now() + kRetryPauses[0];
        }
    }
}

FluidSynthOutput::~FluidSynthOutput()
{
    stop();
    {
        std::lock_guard lock(m_loadMutex);
        m_quit = true;
    }
    m_loadChanged.notify_all();
    if (m_loader.joinable())
        m_loader.join();
}

void FluidSynthOutput::start()
{
    {
        std::lock_guard lock(m_core.mutex);
        m_silentSince = std::chrono::steady_clock::now();
        m_silentClockAtStart = m_core.sequencer.clock();
        m_active = true;
    }
    wake();
}

void FluidSynthOutput::stop()
{
    m_active = false;
    if (m_watcher.joinable()) {
        {
            std::lock_guard lock(m_watchMutex);
            m_watchQuit = true;
        }
        m_watchChanged.notify_all();
        m_watcher.join();
    }
    std::unique_ptr<PulseStream> stream;
    {
        std::lock_guard lock(m_pulseMutex);
        stream = std::move(m_pulse);
    }
    stream.reset();
    if (m_driver) {
        delete_fluid_audio_driver(m_driver);
        m_driver = nullptr;
    }
}

void FluidSynthOutput::wake()
{
    {
        std::lock_guard lock(m_pulseMutex);
        if (m_pulse)
            m_pulse->wake();
    }
    if (m_usesPulse) {
        // Without a stream the silent clock re-plans its next step (a play after a stop).
        {
            std::lock_guard lock(m_watchMutex);
            m_watchWake = true;
        }
        m_watchChanged.notify_all();
    }
}

bool FluidSynthOutput::quiet() const
{
    // Read on the audio thread between blocks: the published state is the sequencer's after the
    // block just rendered, and the voice count includes notes still releasing.
    return m_core.board.read().State != BRSSTATE_PLAY && fluid_synth_get_active_voice_count(m_instance->synth()) == 0;
}

void FluidSynthOutput::Gate::send(const MidiMessage &message, std::int64_t frame)
{
    // Without a stream nothing is heard: the state is chased again when one runs.
    if (m_owner.m_synthReady.load(std::memory_order_acquire) && m_owner.m_streamUp.load(std::memory_order_acquire))
        m_owner.m_sink.send(message, frame);
}

void FluidSynthOutput::Gate::setMasterGain(double gain)
{
    m_owner.m_gain = gain;
    if (m_owner.m_synthReady.load(std::memory_order_acquire))
        m_owner.m_sink.setMasterGain(gain);
}

bool FluidSynthOutput::waitUntilLoaded(std::string &message)
{
    std::unique_lock lock(m_loadMutex);
    m_loadChanged.wait(lock, [this] { return m_loadDone; });
    message = m_loadError;
    return m_loadError.empty();
}

void FluidSynthOutput::preparePrograms(std::vector<ProgramUse> uses, std::size_t early)
{
    {
        std::lock_guard lock(m_loadMutex);
        m_pending = std::move(uses);
        m_pendingEarly = std::min(early, m_pending.size());
        ++m_request;
        // Cleared under the loader's lock, so that the loader cannot mark an older request ready
        // after this one.
        m_songReady = m_pendingEarly == 0;
    }
    m_loadChanged.notify_all();
}

ProgramHolds::Key ProgramHolds::keyOf(const ProgramUse &use)
{
    // FluidSynth plays channel 10 as a drum kit: the hold asks for the instrument the same way,
    // so that it resolves (and falls back) as on the song's channel.
    return {use.channel == 9, use.bankMsb, use.bankLsb, use.program};
}

bool ProgramHolds::hold(const ProgramUse &use)
{
    if (!m_started) {
        // The SoundFont's load selected default instruments everywhere: let go of those.
        for (int c = m_last - 1; c >= m_first; --c) {
            fluid_synth_unset_program(m_synth, c);
            m_free.push_back(c);
        }
        m_started = true;
    }
    const Key key = keyOf(use);
    if (m_channels.count(key))
        return true;
    if (m_free.empty())
        return false; // more instruments than channels: the rest load when first played
    const int channel = m_free.back();
    m_free.pop_back();
    fluid_synth_set_channel_type(m_synth, channel, std::get<0>(key) ? CHANNEL_TYPE_DRUM : CHANNEL_TYPE_MELODIC);
    // Silent, so that a check may strike a note there while the synthesizer plays.
    fluid_synth_cc(m_synth, channel, 7, 0);
    fluid_synth_cc(m_synth, channel, 0, use.bankMsb);
    fluid_synth_cc(m_synth, channel, 32, use.bankLsb);
    fluid_synth_program_change(m_synth, channel, use.program);
    m_channels[key] = channel;
    return true;
}

int ProgramHolds::channelOf(const ProgramUse &use) const
{
    const auto it = m_channels.find(keyOf(use));
    return it == m_channels.end() ? -1 : it->second;
}

bool FluidSynthOutput::songCanSound(const ProgramHolds &spare, const std::vector<ProgramUse> &uses, std::size_t early)
{
    bool checked = false;
    for (std::size_t i = 0; i < early; ++i) {
        const int channel = spare.channelOf(uses[i]);
        if (channel < 0)
            continue;
        checked = true;
        if (channelSounds(m_instance->synth(), channel))
            return true;
    }
    return !checked; // nothing held to check (more instruments than channels): no verdict
}

bool FluidSynthOutput::replaceSoundFont(const std::string &soundFont, ProgramHolds &spare)
{
    {
        std::lock_guard lock(m_core.mutex);
        m_synthReady.store(false, std::memory_order_release);
    }
    fluid_synth_t *synth = m_instance->synth();
    spare.keepOnly({});
    fluid_synth_all_sounds_off(synth, -1);
    while (fluid_sfont_t *font = fluid_synth_get_sfont(synth, 0))
        if (fluid_synth_sfunload(synth, fluid_sfont_get_id(font), 1) != FLUID_OK)
            break;
    std::string message;
    if (!m_instance->loadSoundFont(soundFont, message)) {
        m_loadFailed = true; // silent from now on, keeping time, as after a failed open
        return false;
    }
    std::lock_guard lock(m_core.mutex);
    m_synthReady.store(true, std::memory_order_release);
    m_sink.setMasterGain(m_gain);
    if (m_core.sequencer.sink() == &m_gate)
        m_core.sequencer.chaseAgain();
    return true;
}

void ProgramHolds::keepOnly(const std::vector<ProgramUse> &uses)
{
    std::vector<Key> wanted;
    for (const ProgramUse &u : uses)
        wanted.push_back(keyOf(u));
    for (auto it = m_channels.begin(); it != m_channels.end();) {
        if (std::find(wanted.begin(), wanted.end(), it->first) == wanted.end()) {
            fluid_synth_unset_program(m_synth, it->second);
            m_free.push_back(it->second);
            it = m_channels.erase(it);
        } else {
            ++it;
        }
    }
}

void FluidSynthOutput::runLoader(std::string soundFont, bool alreadyLoaded)
{
    std::string message;
    const bool loaded = alreadyLoaded || m_instance->loadSoundFont(soundFont, message);
    if (loaded) {
        std::lock_guard lock(m_core.mutex);
        m_synthReady.store(true, std::memory_order_release);
        m_sink.setMasterGain(m_gain);
        // Whatever was sent before went nowhere: bring the synthesizer to the song's state.
        if (m_core.sequencer.sink() == &m_gate)
            m_core.sequencer.chaseAgain();
    }
    {
        std::lock_guard lock(m_loadMutex);
        m_loadDone = true;
        m_loadError = message;
        if (!loaded) {
            m_songReady = true; // nothing to wait for: the output stays silent
            m_loadFailed = true;
        }
    }
    m_loadChanged.notify_all();
    if (!loaded)
        return;

    ProgramHolds spare(m_instance->synth(), kSongChannels, kSynthChannels);
    std::unique_ptr<FluidSynthInstance> reader; // the silent synthesizer, made when first needed
    bool firstSong = true;
    std::unique_ptr<ProgramHolds> readerHolds;
    std::uint64_t done = 0;
    for (;;) {
        std::vector<ProgramUse> uses;
        std::size_t early = 0;
        std::uint64_t request = 0;
        {
            std::unique_lock lock(m_loadMutex);
            m_loadChanged.wait(lock, [&] { return m_quit || m_request != done; });
            if (m_quit)
                return;
            uses = m_pending;
            early = m_pendingEarly;
            request = done = m_request;
        }
        const auto superseded = [&] {
            std::lock_guard lock(m_loadMutex);
            return m_quit || m_request != request;
        };
        const auto makeReader = [&] {
            if (reader)
                return;
            std::string readerMessage;
            reader = FluidSynthInstance::create({}, 44100.0, true, readerMessage, kSynthChannels);
            if (!reader)
                return;
            // No sound comes from it; reverb and chorus are not needed.
            fluid_synth_reverb_on(reader->synth(), -1, 0);
            fluid_synth_chorus_on(reader->synth(), -1, 0);
            if (reader->loadSoundFont(soundFont, readerMessage))
                readerHolds = std::make_unique<ProgramHolds>(reader->synth(), 0, kSynthChannels);
        };
        // The song's clock stands still meanwhile. From the second song on the silent
        // synthesizer reads the files, so that the playing one (still rendering the last song's
        // release) only takes instruments from the cache; the first song's it reads itself,
        // sooner than the second synthesizer could load its SoundFont.
        if (!firstSong)
            makeReader();
        firstSong = false;
        spare.keepOnly(uses);
        if (readerHolds)
            readerHolds->keepOnly(uses);
        for (std::size_t i = 0; i < early; ++i) {
            if (readerHolds)
                readerHolds->hold(uses[i]);
            spare.hold(uses[i]);
        }
        {
            std::lock_guard lock(m_loadMutex);
            if (m_request == request)
                m_songReady = true;
        }
        // A SoundFont that loads but cannot sound one of the song's instruments (its sample
        // headers damaged) is refused: the system's one takes its place where there is another.
        if (!songCanSound(spare, uses, early)) {
            const std::string fallback = defaultSoundFont();
            const bool replace = !fallback.empty() && fallback != soundFont
                                 && checkSoundFont(fallback, message) == BRSERROR_NOERROR;
            m_core.report.refuseSoundFont(soundFont, replace ? fallback : std::string());
            if (replace) {
                if (!replaceSoundFont(fallback, spare))
                    return;
                soundFont = fallback;
                readerHolds.reset();
                reader.reset();
                done = request - 1; // the same song again, on the new SoundFont
                continue;
            }
        }
        if (early == uses.size())
            continue;
        if (!reader) {
            makeReader();
            for (std::size_t i = 0; readerHolds && i < early; ++i)
                readerHolds->hold(uses[i]);
        }
        for (std::size_t i = early; i < uses.size() && !superseded(); ++i) {
            // Read by the silent synthesizer; selected on the playing one from the cache.
            if (readerHolds)
                readerHolds->hold(uses[i]);
            spare.hold(uses[i]);
        }
    }
}

int FluidSynthOutput::audioCallback(void *data, int len, int nfx, float *fx[], int nout, float *out[])
{
    auto *self = static_cast<FluidSynthOutput *>(data);
    (void)nfx;
    (void)fx;
    // Before the SoundFont is in, the synthesizer is busy loading it under its own lock: the
    // driver gets silence.
    if (!self->m_synthReady.load(std::memory_order_acquire)) {
        for (int i = 0; i < nout; ++i)
            std::fill(out[i], out[i] + len, 0.0f);
        // A SoundFont that failed to load leaves a silent output that still keeps time.
        if (self->m_loadFailed.load(std::memory_order_acquire) && self->m_active.load(std::memory_order_acquire)
            && self->m_streamUp.load(std::memory_order_acquire) && self->m_core.mutex.try_lock()) {
            if (self->m_active.load(std::memory_order_acquire) && self->m_streamUp.load(std::memory_order_acquire)) {
                self->m_core.sequencer.advance(len);
                self->m_core.publish();
            }
            self->m_core.mutex.unlock();
        }
        return FLUID_OK;
    }
    // Never wait for the lock here: a command holding it delays the song by one block at most,
    // while waiting would make the audio drop out. Until the song's first instruments are held
    // the synthesizer renders alone and the song waits.
    if (self->m_songReady.load(std::memory_order_acquire) && self->m_active.load(std::memory_order_acquire)
        && self->m_streamUp.load(std::memory_order_acquire) && self->m_core.mutex.try_lock()) {
        // Checked again under the lock: the engine deactivates an output, and the watcher hands
        // the clock over, while holding it.
        if (self->m_active.load(std::memory_order_acquire) && self->m_streamUp.load(std::memory_order_acquire)) {
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
