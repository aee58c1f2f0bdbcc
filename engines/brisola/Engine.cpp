#include "Engine.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <thread>

#include "FluidSynthSink.h"
#include "MidiPortSink.h"
#include "RealtimeClock.h"

namespace brisola {

namespace {

constexpr int kEarlySeconds = 3;

TBrs4SmfInformation emptyInformation()
{
    TBrs4SmfInformation info{};
    info.LoopTick = -1;
    info.LoopTime = -1;
    return info;
}

} // namespace

Engine::Engine() : m_information(emptyInformation()) { m_core.publish(); }

Engine::~Engine() { closeDevice(); }

Engine &Engine::instance()
{
    static Engine engine;
    return engine;
}

void Engine::detachOutput(std::unique_lock<std::mutex> &)
{
    if (!m_output)
        return;
    {
        std::lock_guard lock(m_core.mutex);
        m_output->syncClock();
        m_output->deactivate();
        m_core.sequencer.detachSink();
        m_core.publish();
    }
    // Joining the driver's thread happens without the core lock: that thread may be waiting on it.
    m_output->stop();
    m_output.reset();
}

void Engine::attachOutput(std::unique_ptr<Output> output)
{
    {
        std::lock_guard lock(m_core.mutex);
        output->sink().setMasterGain(gainOfVolume(m_volume.load()));
        m_core.sequencer.setSink(&output->sink(), output->rate());
        m_core.publish();
    }
    m_output = std::move(output);
    m_output->preparePrograms(m_programs, m_earlyPrograms);
    m_output->start();
}

void Engine::ensureOutput()
{
    if (!m_output)
        attachOutput(std::make_unique<RealtimeClock>(m_core, std::make_unique<NullSink>(), false));
}

namespace {

// Stands in for a device while it opens: the song's clock stands still, so a play meanwhile
// starts on the device from where it was asked to.
class HeldClock final : public Output {
public:
    MidiSink &sink() override { return m_sink; }
    std::uint32_t rate() const override { return 1000000; }
    void start() override {}
    void deactivate() override {}
    void stop() override {}

private:
    NullSink m_sink;
};

} // namespace

std::uint64_t Engine::beginOpen(std::unique_lock<std::mutex> &deviceLock, std::string &soundFont,
                                std::unique_ptr<FluidSynthInstance> &checked)
{
    const std::uint64_t generation = ++m_openGeneration;
    detachOutput(deviceLock);
    m_core.report.forgetReplacement();
    soundFont = m_soundFont;
    checked = std::move(m_checkedSynth); // one open takes it, whichever device it opens
    attachOutput(std::make_unique<HeldClock>());
    return generation;
}

// The device opens outside the device lock: a sound server may take seconds to answer (a
// stalled JACK server holds every new client), and meanwhile every other call goes on.
std::int32_t Engine::finishOpen(std::int32_t deviceId, std::uint64_t generation, const std::string &soundFont,
                               std::unique_ptr<FluidSynthInstance> checked)
{
    std::unique_ptr<Output> output;
    std::int32_t result = BRSERROR_NOERROR;
    std::string message;
    bool synthesizer = false;
    if (deviceId == BRSDEVICE_BUILTIN_SYNTH) {
        // Without a sound server the synthesizer plays silently and connects once one answers.
        bool waiting = false;
        output = FluidSynthOutput::open(m_core, soundFont.empty() ? defaultSoundFont() : soundFont, message, waiting,
                                        std::move(checked));
        synthesizer = output != nullptr;
        if (waiting)
            result = BRSERROR_CANNOT_OPENDEVICE;
    } else if (deviceId >= 0) {
        output = openMidiPortOutput(m_core, deviceId, message);
    } else {
        message = "unknown device id " + std::to_string(deviceId);
        result = BRSERROR_UNDEFINED_ID;
    }
    if (!output) {
        // Keep playing silently in real time, so that state and position behave as with sound.
        if (result == BRSERROR_NOERROR)
            result = BRSERROR_CANNOT_OPENDEVICE;
        output = std::make_unique<RealtimeClock>(m_core, std::make_unique<NullSink>(), false);
    }
    std::unique_lock deviceLock(m_deviceMutex);
    if (generation != m_openGeneration) {
        // A later open or a close came meanwhile: this device is no longer wanted.
        deviceLock.unlock();
        output.reset();
        return result;
    }
    if (!synthesizer)
        m_core.report.setServer(BRSSERVER_NOTUSED);
    m_deviceMessage = message;
    detachOutput(deviceLock);
    attachOutput(std::move(output));
    return result;
}

std::int32_t Engine::openDevice(std::int32_t deviceId)
{
    std::string soundFont;
    std::unique_ptr<FluidSynthInstance> checked;
    std::uint64_t generation;
    {
        std::unique_lock deviceLock(m_deviceMutex);
        generation = beginOpen(deviceLock, soundFont, checked);
    }
    return finishOpen(deviceId, generation, soundFont, std::move(checked));
}

std::int32_t Engine::openDeviceInBackground(std::int32_t deviceId)
{
    std::string soundFont;
    std::unique_ptr<FluidSynthInstance> checked;
    std::uint64_t generation;
    {
        std::unique_lock deviceLock(m_deviceMutex);
        generation = beginOpen(deviceLock, soundFont, checked);
    }
    // Detached: a stalled server may hold the open for as long as it likes, and the program
    // must be able to end meanwhile (it ends without waiting; see deviceOpening).
    m_opening.fetch_add(1);
    try {
        std::thread([this, deviceId, generation, soundFont, checked = std::move(checked)]() mutable {
            finishOpen(deviceId, generation, soundFont, std::move(checked));
            m_opening.fetch_sub(1);
        }).detach();
    } catch (...) {
        m_opening.fetch_sub(1);
        throw;
    }
    return BRSERROR_NOERROR;
}

bool Engine::deviceOpening() const { return m_opening.load() > 0; }

std::int32_t Engine::closeDevice()
{
    std::unique_lock deviceLock(m_deviceMutex);
    ++m_openGeneration; // a device still opening is dropped once it is open
    if (m_output) {
        std::lock_guard lock(m_core.mutex);
        m_output->syncClock();
        m_core.sequencer.stop();
        m_core.publish();
    }
    detachOutput(deviceLock);
    m_core.report.setServer(BRSSERVER_NOTUSED);
    m_core.report.forgetReplacement();
    return BRSERROR_NOERROR;
}

std::int32_t Engine::clearList()
{
    std::lock_guard deviceLock(m_deviceMutex);
    {
        std::lock_guard lock(m_core.mutex);
        m_core.sequencer.setTimeline(nullptr);
        m_core.publish();
    }
    std::lock_guard infoLock(m_infoMutex);
    m_information = emptyInformation();
    return BRSERROR_NOERROR;
}

std::int32_t Engine::addList(const void *data, std::int32_t size)
{
    if (!data)
        return BRSERROR_ILLEGAL_POINTER;
    if (size <= 0)
        return BRSERROR_BADFILESIZE;
    BrsError error = BRSERROR_NOERROR;
    // Read before taking any lock: a large song takes a while and playback goes on meanwhile.
    auto timeline = SmfTimeline::read(static_cast<const std::uint8_t *>(data), std::size_t(size), error);
    if (!timeline)
        return error;
    const TBrs4SmfInformation info = timeline->information();
    // The instruments of the song's first seconds must be ready before it starts; the rest load
    // while it plays.
    std::vector<ProgramUse> programs = timeline->programUses();
    const std::uint64_t earlyUntil = timeline->timeOfTick(timeline->facts().firstNoteTick)
                                     + std::uint64_t(kEarlySeconds) * 1000000 * std::uint64_t(info.TimeBase);
    std::size_t early = 0;
    while (early < programs.size() && timeline->timeOfTick(programs[early].firstTick) <= earlyUntil)
        ++early;
    std::lock_guard deviceLock(m_deviceMutex);
    {
        std::lock_guard lock(m_core.mutex);
        if (m_output)
            m_output->syncClock();
        // The list holds one song: a new registration replaces the previous one.
        m_core.sequencer.setTimeline(std::move(timeline));
        m_core.publish();
    }
    m_programs = std::move(programs);
    m_earlyPrograms = early;
    if (m_output)
        m_output->preparePrograms(m_programs, m_earlyPrograms);
    std::lock_guard infoLock(m_infoMutex);
    m_information = info;
    return BRSERROR_NOERROR;
}

std::int32_t Engine::play(std::int32_t option, std::int32_t startTick)
{
    std::lock_guard deviceLock(m_deviceMutex);
    {
        std::lock_guard lock(m_core.mutex);
        if (!m_core.sequencer.timeline())
            return BRSERROR_NOTREADY;
    }
    ensureOutput();
    {
        std::lock_guard lock(m_core.mutex);
        m_output->syncClock();
        m_core.sequencer.play(option, startTick);
        m_core.publish();
    }
    m_output->wake();
    return BRSERROR_NOERROR;
}

std::int32_t Engine::pause()
{
    std::lock_guard deviceLock(m_deviceMutex);
    std::lock_guard lock(m_core.mutex);
    if (m_output)
        m_output->syncClock();
    m_core.sequencer.pause();
    m_core.publish();
    return BRSERROR_NOERROR;
}

std::int32_t Engine::stop()
{
    std::lock_guard deviceLock(m_deviceMutex);
    std::lock_guard lock(m_core.mutex);
    if (m_output)
        m_output->syncClock();
    m_core.sequencer.stop();
    m_core.publish();
    return BRSERROR_NOERROR;
}

std::int32_t Engine::setMasterVolume(std::int32_t volume)
{
    m_volume = std::clamp(volume, -127, 0);
    std::lock_guard deviceLock(m_deviceMutex);
    if (m_output) {
        std::lock_guard lock(m_core.mutex);
        m_output->sink().setMasterGain(gainOfVolume(m_volume.load()));
    }
    return BRSERROR_NOERROR;
}

std::int32_t Engine::setSoundFont(const char *path)
{
    if (!path)
        return BRSERROR_ILLEGAL_POINTER;
    const std::string chosen = path;
    std::unique_ptr<FluidSynthInstance> checked;
    if (!chosen.empty()) {
        // Checked now, outside every lock (a load takes a while): a file that does not load
        // leaves the previous choice in place. The check's synthesizer is kept for the next open.
        std::string message;
        if (const BrsError error = checkSoundFont(chosen, message, &checked); error != BRSERROR_NOERROR)
            return error;
    }
    std::unique_lock deviceLock(m_deviceMutex);
    m_soundFont = chosen;
    std::swap(m_checkedSynth, checked);
    deviceLock.unlock(); // the one replaced is freed outside the lock
    return BRSERROR_NOERROR;
}

std::int32_t Engine::setKeyShift(std::int32_t semitones)
{
    if (semitones < -12 || semitones > 12)
        return BRSERROR_FAILED;
    std::lock_guard deviceLock(m_deviceMutex);
    std::lock_guard lock(m_core.mutex);
    // The notes the change releases go out at the present moment.
    if (m_output)
        m_output->syncClock();
    m_core.sequencer.setKeyShift(semitones);
    m_keyShift = semitones;
    return BRSERROR_NOERROR;
}

template <typename F>
std::int32_t Engine::changeMixer(std::int32_t channel, F &&change)
{
    if (channel < 0 || channel > 15)
        return BRSERROR_FAILED;
    std::lock_guard deviceLock(m_deviceMutex);
    std::lock_guard lock(m_core.mutex);
    // Notes the change releases or strikes go out at the present moment.
    if (m_output)
        m_output->syncClock();
    change(m_core.sequencer);
    return BRSERROR_NOERROR;
}

std::int32_t Engine::setChannelMute(std::int32_t channel, bool muted)
{
    return changeMixer(channel, [&](Sequencer &s) { s.setChannelMute(channel, muted); });
}

std::int32_t Engine::setChannelSolo(std::int32_t channel, bool soloed)
{
    return changeMixer(channel, [&](Sequencer &s) { s.setChannelSolo(channel, soloed); });
}

std::int32_t Engine::setChannelLevel(std::int32_t channel, std::int32_t percent)
{
    return changeMixer(channel, [&](Sequencer &s) { s.setChannelLevel(channel, percent); });
}

std::int32_t Engine::setRepeat(std::int32_t startTick, std::int32_t endTick)
{
    std::lock_guard deviceLock(m_deviceMutex);
    bool playing;
    {
        std::lock_guard lock(m_core.mutex);
        // A range behind the position wraps now: its chase goes out at the present moment.
        if (m_output)
            m_output->syncClock();
        if (startTick == -1 && endTick == -1)
            m_core.sequencer.clearRepeat();
        else if (!m_core.sequencer.setRepeat(startTick, endTick))
            return BRSERROR_FAILED;
        m_core.publish();
        playing = m_core.sequencer.state() == BRSSTATE_PLAY;
    }
    // What comes next changed (B is the new end, or the position jumped to A).
    if (m_output && playing)
        m_output->wake();
    return BRSERROR_NOERROR;
}

std::int32_t Engine::setTempoRatio(std::int32_t percent)
{
    if (percent < 50 || percent > 200)
        return BRSERROR_FAILED;
    std::lock_guard deviceLock(m_deviceMutex);
    bool playing;
    {
        std::lock_guard lock(m_core.mutex);
        // Up to now at the old ratio; what is still to come at the new one.
        if (m_output)
            m_output->syncClock();
        m_core.sequencer.setTempoRatio(percent);
        m_tempoRatio = percent;
        m_core.publish();
        playing = m_core.sequencer.state() == BRSSTATE_PLAY;
    }
    // The timing thread re-plans its sleep until the next event (a stopped song has none, and
    // a paused audio stream stays paused).
    if (m_output && playing)
        m_output->wake();
    return BRSERROR_NOERROR;
}

std::string Engine::soundFont() const
{
    // The open synthesizer may have refused the chosen one as damaged and play another.
    if (std::string replacement = m_core.report.replacement(); !replacement.empty())
        return replacement;
    std::lock_guard lock(m_deviceMutex);
    return m_soundFont.empty() ? defaultSoundFont() : m_soundFont;
}

TBrs4SmfInformation Engine::information() const
{
    std::lock_guard lock(m_infoMutex);
    return m_information;
}

std::string Engine::lastDeviceMessage() const
{
    std::lock_guard lock(m_deviceMutex);
    return m_deviceMessage;
}

} // namespace brisola

// The C functions: argument checks, then the engine; no exception crosses this line.

using brisola::Engine;

namespace {

template <typename F>
std::int32_t guarded(F &&f)
{
    try {
        return f();
    } catch (...) {
        return BRSERROR_FAILED;
    }
}

template <typename Record>
std::int32_t copyRecord(const Record &record, void *target, std::int32_t size)
{
    if (!target)
        return BRSERROR_ILLEGAL_POINTER;
    if (size <= 0)
        return BRSERROR_FAILED;
    std::memcpy(target, &record, std::min<std::size_t>(std::size_t(size), sizeof(Record)));
    return BRSERROR_NOERROR;
}

} // namespace

extern "C" {

std::int32_t BRS4OpenDevice(std::int32_t deviceId, void *)
{
    return guarded([&] { return Engine::instance().openDevice(deviceId); });
}

std::int32_t BRS4OpenDeviceInBackground(std::int32_t deviceId)
{
    return guarded([&] { return Engine::instance().openDeviceInBackground(deviceId); });
}

std::int32_t BRS4IsDeviceOpening(void)
{
    return guarded([&] { return Engine::instance().deviceOpening() ? 1 : 0; });
}

std::int32_t BRS4CloseDevice(void)
{
    return guarded([&] { return Engine::instance().closeDevice(); });
}

std::int32_t BRS4ClearList(void)
{
    return guarded([&] { return Engine::instance().clearList(); });
}

std::int32_t BRS4AddListFromMemory(const void *data, std::int32_t size, std::int32_t, std::int32_t)
{
    return guarded([&] { return Engine::instance().addList(data, size); });
}

std::int32_t BRS4Play(std::int32_t option, std::int32_t, std::int32_t startTick, std::int32_t, std::int32_t)
{
    return guarded([&] { return Engine::instance().play(option, startTick); });
}

std::int32_t BRS4Pause(void)
{
    return guarded([&] { return Engine::instance().pause(); });
}

std::int32_t BRS4Stop(std::int32_t)
{
    return guarded([&] { return Engine::instance().stop(); });
}

std::int32_t BRS4SetMasterVolume(std::int32_t volume)
{
    return guarded([&] { return Engine::instance().setMasterVolume(volume); });
}

std::int32_t BRS4SetSoundFont(const char *path)
{
    return guarded([&] { return Engine::instance().setSoundFont(path); });
}

std::int32_t BRS4SetKeyShift(std::int32_t semitones)
{
    return guarded([&] { return Engine::instance().setKeyShift(semitones); });
}

std::int32_t BRS4SetTempoRatio(std::int32_t percent)
{
    return guarded([&] { return Engine::instance().setTempoRatio(percent); });
}

std::int32_t BRS4SetRepeat(std::int32_t startTick, std::int32_t endTick)
{
    return guarded([&] { return Engine::instance().setRepeat(startTick, endTick); });
}

std::int32_t BRS4SetChannelMute(std::int32_t channel, std::int32_t muted)
{
    return guarded([&] { return Engine::instance().setChannelMute(channel, muted != 0); });
}

std::int32_t BRS4SetChannelSolo(std::int32_t channel, std::int32_t soloed)
{
    return guarded([&] { return Engine::instance().setChannelSolo(channel, soloed != 0); });
}

std::int32_t BRS4SetChannelLevel(std::int32_t channel, std::int32_t percent)
{
    return guarded([&] { return Engine::instance().setChannelLevel(channel, percent); });
}

std::int32_t BRS4GetChannelStatus(TBrs4ChannelStatus *channels, std::int32_t count)
{
    return guarded([&]() -> std::int32_t {
        if (count <= 0)
            return 0;
        if (!channels)
            return -BRSERROR_ILLEGAL_POINTER;
        const int n = std::min(count, 16);
        for (int ch = 0; ch < n; ++ch)
            channels[ch] = Engine::instance().channelStatus(ch);
        return n;
    });
}

std::int32_t BRS4GetPlayerStatus(TBrs4PlayerStatus *status, std::int32_t size)
{
    return guarded([&] { return copyRecord(Engine::instance().status(), status, size); });
}

std::int32_t BRS4GetSmfInformation(TBrs4SmfInformation *info, std::int32_t size, std::int32_t)
{
    return guarded([&] { return copyRecord(Engine::instance().information(), info, size); });
}

std::int32_t BRS4GetOutputStatus(TBrs4OutputStatus *status, std::int32_t size)
{
    return guarded([&] { return copyRecord(Engine::instance().outputStatus(), status, size); });
}

} // extern "C"
