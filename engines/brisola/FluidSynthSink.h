#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "Output.h"
#include "PulseStream.h"

#include <fluidsynth.h>

namespace brisola {

// The system's General MIDI SoundFont: the first of the usual places that exists, or empty.
std::string defaultSoundFont();
// "FluidSynth" and the version of the library loaded at run time.
std::string fluidSynthVersion();

// A FluidSynth settings object, synthesizer and loaded SoundFont, owned together.
class FluidSynthInstance {
public:
    // Null with `message` set when the synthesizer or the SoundFont cannot be had. An empty
    // `soundFont` leaves the synthesizer without one (load it later with loadSoundFont).
    // `cpuCores` above 1 renders the voices on that many threads (same output, sample for
    // sample): worth it offline, where the render waits for nothing else.
    static std::unique_ptr<FluidSynthInstance> create(const std::string &soundFont, double sampleRate,
                                                      bool dynamicSampleLoading, std::string &message,
                                                      int midiChannels = 16, int cpuCores = 1);
    bool loadSoundFont(const std::string &soundFont, std::string &message);
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

    // Resets the 16 song channels as a GM System On would, leaving the other channels alone.
    static void resetSongChannels(fluid_synth_t *synth);
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

// Whether `path` loads as a SoundFont (the whole file is checked, not only its header) and can
// sound: BRSERROR_NOERROR, _FILENOTFOUND, _CANNOT_OPENFILE, or _DAMAGED_SOUNDFONT for a file that
// loads but of whose presets not one starts a voice (FluidSynth takes a file whose sample
// headers point outside its sample data and then plays nothing).
// With `loaded`, the synthesizer the check made is made as the built-in output's and handed over,
// its channels as after a load: an open of the output then takes it instead of loading the file
// a second time.
BrsError checkSoundFont(const std::string &path, std::string &message,
                        std::unique_ptr<FluidSynthInstance> *loaded = nullptr);
// Whether a note with the instrument selected on `channel` starts a voice, trying a few keys (a
// drum kit maps only some). Leaves the channel silent; the synthesizer must not be rendering
// the channel meanwhile, or it must be inaudible (volume 0).
bool channelSounds(fluid_synth_t *synth, int channel);

// Instruments kept selected on channels that play nothing, so that FluidSynth's dynamic sample
// loading keeps their samples in memory. Channels [first, last) of one synthesizer.
class ProgramHolds {
public:
    ProgramHolds(fluid_synth_t *synth, int first, int last) : m_synth(synth), m_first(first), m_last(last) {}
    // Selects the instrument (loading its samples) unless held already; false when full.
    bool hold(const ProgramUse &use);
    // Lets go of every instrument not in `uses`.
    void keepOnly(const std::vector<ProgramUse> &uses);
    // The channel holding the instrument, or -1.
    int channelOf(const ProgramUse &use) const;

private:
    using Key = std::tuple<bool, int, int, int>; // drum kit?, bank MSB, bank LSB, program
    static Key keyOf(const ProgramUse &use);
    fluid_synth_t *m_synth;
    int m_first, m_last;
    std::map<Key, int> m_channels;
    std::vector<int> m_free;
    bool m_started = false;
};

// Device -1100: the synthesizer playing through the desktop's audio server, the sequencer
// advanced from the audio callback.
//
// Opening returns as soon as the audio driver runs: the SoundFont loads on a loader thread, with
// FluidSynth's dynamic sample loading (only the instruments in use are read). Until it has
// loaded, messages to the synthesizer are dropped and the song's clock stands still; then the
// state is chased again.
//
// A program change whose samples are not in memory reads them inside the audio callback (it held
// the callback up to ~180 ms), and even samples FluidSynth has cached cost ~1 ms per instrument
// to select. So the synthesizer has spare channels beyond the song's 16 on which the loader
// selects every instrument the song uses: the song's program changes then only switch between
// loaded instruments. The clock waits until the instruments of the song's first seconds are in;
// the rest are read by a second, silent synthesizer (its own lock, so the playing one is never
// held up by file reads; the sample cache is shared) and then selected on a spare channel.
// Resets (GM/GS/XG SysEx) reset only the 16 song channels, so the spare ones keep their hold.
//
// On a PulseAudio server the output outlives the server. When the server goes away (killed,
// restarted by the desktop) or is not there at the open, the song goes on in real time on a
// silent clock of the output's own, with messages to the synthesizer dropped; a watcher thread
// tries to connect again, with a growing pause between tries. Once a new stream runs, every
// voice is cut, the state at the present position is chased and the audio callback takes the
// clock over again: the song sounds on from where it has got to, with no note left hanging.
class FluidSynthOutput final : public Output {
public:
    // `waiting` is set when no server answers now: the output plays silently until one does.
    // `loaded`: the synthesizer of a check of `soundFont` (checkSoundFont), taken as it is.
    static std::unique_ptr<FluidSynthOutput> open(EngineCore &core, const std::string &soundFont, std::string &message,
                                                  bool &waiting, std::unique_ptr<FluidSynthInstance> loaded = nullptr);
    ~FluidSynthOutput() override;

    MidiSink &sink() override { return m_gate; }
    std::uint32_t rate() const override { return m_rate; }
    void start() override;
    void deactivate() override { m_active = false; }
    void stop() override;
    void preparePrograms(std::vector<ProgramUse> uses, std::size_t early) override;
    // Resumes a PulseAudio stream that paused while the player was quiet.
    void wake() override;
    // Without a stream: the silent clock up to now.
    void syncClock() override;

    // Pauses between two tries to reach a server that went away: the first try at once, then
    // doubling up to the last, so a server back within seconds is found within a second.
    static constexpr std::chrono::milliseconds kRetryPauses[] = {std::chrono::milliseconds(100),
                                                                 std::chrono::milliseconds(250),
                                                                 std::chrono::milliseconds(500),
                                                                 std::chrono::milliseconds(1000)};

    // Waits until the SoundFont has loaded (true) or failed (false, with the reason).
    bool waitUntilLoaded(std::string &message);

private:
    // Passes messages to the synthesizer once it has its SoundFont; drops them before.
    class Gate final : public MidiSink {
    public:
        explicit Gate(FluidSynthOutput &owner) : m_owner(owner) {}
        void send(const MidiMessage &message, std::int64_t frame) override;
        void setMasterGain(double gain) override;

    private:
        FluidSynthOutput &m_owner;
    };

    FluidSynthOutput(EngineCore &core, std::unique_ptr<FluidSynthInstance> instance, std::uint32_t rate);
    static int audioCallback(void *data, int len, int nfx, float *fx[], int nout, float *out[]);
    std::unique_ptr<PulseStream> openStream(std::string &message);
    void runWatcher();
    void streamLost();
    bool reconnect();
    // With the core lock held and no stream: advance the song to now on the silent clock.
    void advanceSilently();
    void runLoader(std::string soundFont, bool alreadyLoaded);
    // Whether one of the song's first instruments, held on spare channels, starts a voice.
    bool songCanSound(const ProgramHolds &spare, const std::vector<ProgramUse> &uses, std::size_t early);
    // Replaces the playing synthesizer's SoundFont; the song's clock stands still meanwhile.
    bool replaceSoundFont(const std::string &soundFont, ProgramHolds &spare);
    // Not playing and no voice sounding: the PulseAudio stream may pause.
    bool quiet() const;

    EngineCore &m_core;
    std::unique_ptr<FluidSynthInstance> m_instance;
    FluidSynthSink m_sink;
    Gate m_gate{*this};
    std::uint32_t m_rate;
    fluid_audio_driver_t *m_driver = nullptr; // JACK or ALSA
    std::mutex m_pulseMutex;                  // guards m_pulse (replaced by the watcher)
    std::unique_ptr<PulseStream> m_pulse;     // or this, on a PulseAudio server
    // The stream's audio callback drives the song; otherwise (PulseAudio only) the silent clock
    // does, and the synthesizer gets nothing. Changed under the core lock.
    std::atomic<bool> m_streamUp{false};
    bool m_usesPulse = false;
    std::chrono::steady_clock::time_point m_silentSince; // core lock: the silent clock's origin
    std::int64_t m_silentClockAtStart = 0;               // and the song clock then
    std::thread m_watcher;
    std::mutex m_watchMutex; // guards the three below
    std::condition_variable m_watchChanged;
    bool m_watchQuit = false;
    bool m_watchLost = false;
    bool m_watchWake = false;
    std::atomic<bool> m_active{false};
    std::atomic<bool> m_synthReady{false}; // the SoundFont has loaded (set under the core lock)
    std::atomic<bool> m_songReady{true};   // the song's first instruments are held
    std::atomic<bool> m_loadFailed{false};
    double m_gain = 1.0;                   // guarded by the core lock; applied once ready

    std::thread m_loader;
    std::mutex m_loadMutex; // guards everything below
    std::condition_variable m_loadChanged;
    std::vector<ProgramUse> m_pending;
    std::size_t m_pendingEarly = 0;
    std::uint64_t m_request = 0; // counts preparePrograms calls
    bool m_quit = false;
    bool m_loadDone = false;
    std::string m_loadError;
};

// The audio driver FluidSynth can use on this machine now ("pulseaudio", "alsa", "jack"), or
// empty when none: probing a driver without a server could start one or hang.
std::string availableAudioDriver();
// Whether a JACK server answers (without starting one).
bool jackServerRunning();

} // namespace brisola
