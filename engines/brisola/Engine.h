#pragma once

#include <algorithm>
#include <atomic>
#include <memory>
#include <mutex>
#include <string>

#include "Output.h"

namespace brisola {

class FluidSynthInstance;

// The one engine behind the C functions. Lock order: m_deviceMutex, then core.mutex; the
// status and information are read under neither, so polling never waits for the audio thread
// or a device change.
class Engine {
public:
    Engine();
    ~Engine();

    static Engine &instance();

    // Opens the device and returns when it is open; other calls meanwhile do not wait for it,
    // and the song's clock stands still until it is open. Of opens that overlap, the last
    // one called wins; a close drops every open still under way.
    std::int32_t openDevice(std::int32_t deviceId);
    // The same without waiting: returns at once and opens on a thread of its own.
    std::int32_t openDeviceInBackground(std::int32_t deviceId);
    // Whether a background open is under way.
    bool deviceOpening() const;
    std::int32_t closeDevice();
    std::int32_t clearList();
    std::int32_t addList(const void *data, std::int32_t size);
    std::int32_t play(std::int32_t option, std::int32_t startTick);
    std::int32_t pause();
    std::int32_t stop();
    std::int32_t setMasterVolume(std::int32_t volume);
    std::int32_t setSoundFont(const char *path);
    std::int32_t setKeyShift(std::int32_t semitones);
    std::int32_t setTempoRatio(std::int32_t percent);
    std::int32_t setChannelMute(std::int32_t channel, bool muted);
    std::int32_t setChannelSolo(std::int32_t channel, bool soloed);
    std::int32_t setChannelLevel(std::int32_t channel, std::int32_t percent);
    std::int32_t setRepeat(std::int32_t startTick, std::int32_t endTick);
    // Read without the lock: the sequencer publishes these for the meters.
    TBrs4ChannelStatus channelStatus(int channel) const { return m_core.sequencer.channelStatus(channel); }
    std::int32_t keyShift() const { return m_keyShift.load(); }
    std::int32_t tempoRatio() const { return m_tempoRatio.load(); }
    // The SoundFont device -1100 plays: the one the open synthesizer put in place of a refused
    // one, else the one the next open loads.
    std::string soundFont() const;
    TBrs4PlayerStatus status() const { return m_core.board.read(); }
    TBrs4SmfInformation information() const;
    TBrs4OutputStatus outputStatus() const { return m_core.report.status(); }
    // The SoundFont last refused as damaged.
    std::string refusedSoundFont() const { return m_core.report.refusedSoundFont(); }

    // Why the last device open failed (empty after a success).
    std::string lastDeviceMessage() const;
    // Master volume -127 … 0 as an amplitude 0 … 1: a squared ramp, which sounds smoother than a
    // linear one and reaches silence exactly at -127.
    // Inline, so the offline renderer has it without the engine's C functions.
    static double gainOfVolume(std::int32_t volume)
    {
        const double level = double(std::clamp(volume, -127, 0) + 127) / 127.0;
        return level * level;
    }

private:
    // Drops the current device and holds the song's clock until finishOpen; returns the open's
    // number, which a later open or a close makes stale.
    // `checked`: the synthesizer setSoundFont's check left with that SoundFont in, if any.
    std::uint64_t beginOpen(std::unique_lock<std::mutex> &deviceLock, std::string &soundFont,
                            std::unique_ptr<FluidSynthInstance> &checked);
    std::int32_t finishOpen(std::int32_t deviceId, std::uint64_t generation, const std::string &soundFont,
                            std::unique_ptr<FluidSynthInstance> checked);
    void detachOutput(std::unique_lock<std::mutex> &deviceLock);
    void attachOutput(std::unique_ptr<Output> output);
    void ensureOutput();
    template <typename F>
    std::int32_t changeMixer(std::int32_t channel, F &&change);

    EngineCore m_core;
    mutable std::mutex m_deviceMutex;
    std::unique_ptr<Output> m_output; // guarded by m_deviceMutex
    std::string m_deviceMessage;      // guarded by m_deviceMutex
    std::uint64_t m_openGeneration = 0; // counts opens and closes; guarded by m_deviceMutex
    std::string m_soundFont;          // guarded by m_deviceMutex; empty: the system's GM SoundFont
    // The check's synthesizer with m_soundFont loaded, for the next open of the built-in one to
    // take rather than load the file again; guarded by m_deviceMutex.
    std::unique_ptr<FluidSynthInstance> m_checkedSynth;
    std::vector<ProgramUse> m_programs; // the song's instruments; guarded by m_deviceMutex
    std::size_t m_earlyPrograms = 0;    // how many of them its first seconds need
    mutable std::mutex m_infoMutex;
    TBrs4SmfInformation m_information;
    std::atomic<std::int32_t> m_volume{0};
    std::atomic<int> m_opening{0}; // background opens under way
    std::atomic<std::int32_t> m_keyShift{0};     // semitones
    std::atomic<std::int32_t> m_tempoRatio{100}; // percent of the song's tempo
};

} // namespace brisola
