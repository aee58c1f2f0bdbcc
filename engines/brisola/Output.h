#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "MidiSink.h"
#include "Sequencer.h"
#include "StatusBoard.h"

namespace brisola {

// What the outputs tell the window about themselves (TBrs4OutputStatus); any thread, no lock
// but its own.
class OutputReport {
public:
    void setServer(std::int32_t server)
    {
        std::lock_guard lock(m_mutex);
        if (m_status.Server == server)
            return;
        m_status.Server = server;
        ++m_status.ServerChanges;
    }
    // `instead`: the SoundFont used in its place (empty: none).
    void refuseSoundFont(const std::string &path, const std::string &instead)
    {
        std::lock_guard lock(m_mutex);
        m_refused = path + '\n' + instead;
        m_replacement = instead;
        ++m_status.SoundFontRefusals;
    }
    // The SoundFont the open synthesizer plays in place of a refused one (empty: none); an open
    // or close of the device forgets it.
    std::string replacement() const
    {
        std::lock_guard lock(m_mutex);
        return m_replacement;
    }
    void forgetReplacement()
    {
        std::lock_guard lock(m_mutex);
        m_replacement.clear();
    }
    TBrs4OutputStatus status() const
    {
        std::lock_guard lock(m_mutex);
        return m_status;
    }
    // The refused SoundFont and the one used instead, one per line.
    std::string refusedSoundFont() const
    {
        std::lock_guard lock(m_mutex);
        return m_refused;
    }

private:
    mutable std::mutex m_mutex;
    TBrs4OutputStatus m_status{BRSSERVER_NOTUSED, 0, 0, 0};
    std::string m_refused;
    std::string m_replacement;
};

// What every thread of the engine shares. `mutex` guards `sequencer` (and the sink it drives);
// the status board is read without it.
struct EngineCore {
    std::mutex mutex;
    Sequencer sequencer;
    StatusBoard board;
    OutputReport report;

    void publish() { board.publish(sequencer.status()); }
};

// A device together with the clock that drives the sequencer into it: the audio callback of
// the synthesizer, or a timing thread for MIDI ports and the silent output.
class Output {
public:
    virtual ~Output() = default;
    virtual MidiSink &sink() = 0;
    // Clock frames per second of this output.
    virtual std::uint32_t rate() const = 0;
    // Begins advancing the sequencer. Called without the core lock held.
    virtual void start() = 0;
    // With the core lock held: from now on the clock no longer touches the sequencer.
    virtual void deactivate() = 0;
    // Stops advancing; when it returns, no callback runs or will run. Called without the lock.
    virtual void stop() = 0;
    // With the core lock held: bring the sequencer's clock up to now, so that a command takes
    // effect at the present moment.
    virtual void syncClock() {}
    // A command changed what comes next: re-plan the next wake-up.
    virtual void wake() {}
    // A new song was registered: get its instruments ready (the synthesizer loads their samples
    // off the audio thread); the song's clock waits for the first `early` of them. Called with
    // neither lock held.
    virtual void preparePrograms(std::vector<ProgramUse> uses, std::size_t early)
    {
        (void)uses;
        (void)early;
    }
};

} // namespace brisola
