#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <unordered_map>
#include <vector>

#include "../Brisola.h"
#include "MidiSink.h"
#include "SmfTimeline.h"

namespace brisola {

// Each channel's state at one tick of the song, as a chase sends it to a device.
struct ChaseState {
    struct Parameter {
        std::uint16_t number = 0; // 14-bit parameter number
        bool nrpn = false;
        bool lsbLast = false; // the song's last data entry for it was the LSB (sent in that order)
        std::int16_t msb = -1;
        std::int16_t lsb = -1;
        std::uint32_t lastWrite = 0; // event index of its last data entry
    };
    struct Channel {
        std::array<std::int16_t, 128> controller; // -1: never set before the tick
        std::int16_t program = -1;
        // Bank select in effect at the last program change: a bank select alone changes nothing
        // until the next program change, so the chase sends this one before the program.
        std::int16_t programBankMsb = -1;
        std::int16_t programBankLsb = -1;
        std::int32_t pitchBend = -1; // 14-bit value
        std::int16_t pressure = -1;
        std::vector<Parameter> parameters; // every RPN/NRPN written, in the order of their last write
        bool selectedNrpn = false;         // whether CC 99/98 or CC 101/100 were sent last
    };

    std::array<Channel, 16> channels;
    std::uint16_t usedChannels = 0;
    std::size_t endIndex = 0; // events before this index are folded in

    // Folds the events before `endIndex`. With `sysExResets` (the song's SysEx is sent), a GM,
    // GS or XG reset message wipes the channel state folded so far, as it does on the device.
    // Allocates: called on command threads only, never in the audio callback.
    void collect(const SmfTimeline &timeline, std::size_t endIndex, bool sysExResets);

private:
    std::unordered_map<std::uint32_t, std::uint32_t> m_parameterSlots; // (channel, kind, number) → index
};

// Whether a complete SysEx message (F0 … F7) resets a device to its power-on state: GM System
// On/Off, GM2 System On, GS Reset, XG System On.
bool isResetSysEx(const std::uint8_t *data, std::uint32_t size);

// Plays a timeline into a sink. The sequencer has no clock of its own: the owner advances it
// by a number of clock frames (`rate` frames per second: audio samples for the synthesizer,
// microseconds for the real-time thread, any rate in tests). It is not thread-safe; the engine
// serialises every call.
//
// Timing rule: an event at tick t has the exact time T(t) by the tempo map and is sent at the
// first clock frame at or after it, frame = ceil(T(t) × rate). The position reported for a frame
// is the tick playing at that time (rounded down), so a tick turned into a frame and back is the
// same tick.
class Sequencer {
public:
    explicit Sequencer(std::uint32_t rate = 1000000);

    // Replaces the song; silences the old one and stops. Null clears it.
    void setTimeline(std::shared_ptr<const SmfTimeline> timeline);
    const std::shared_ptr<const SmfTimeline> &timeline() const { return m_timeline; }

    // Changes the output. The old sink is silenced first; when playing or paused, the new sink
    // is brought to the current position by a chase. `rate` is the new clock's rate; the
    // position keeps its time.
    void setSink(MidiSink *sink, std::uint32_t rate);
    // Silences the current sink and lets go of it; the song stays where it is.
    void detachSink();
    MidiSink *sink() const { return m_sink; }
    // Sends the chase for the current position again (when playing or paused): for a sink that
    // could not take messages for a while.
    void chaseAgain();
    std::uint32_t rate() const { return m_rate; }

    // Silences, chases to `startTick` and plays from there (see Brisola.h for the option bits).
    // Returns false when no song is set.
    bool play(std::int32_t option, std::int32_t startTick);
    void pause();
    void stop();
    // Silences all sounding notes now (note-offs, sustain and sostenuto lifted, all-notes-off on
    // used channels).
    void silence();

    // Moves the clock forward by `frames`, sending every event that falls inside.
    void advance(std::int64_t frames);
    // Clock frames from now until the next event or the end of the song; -1 when not playing.
    std::int64_t framesUntilNextEvent();
    std::int64_t clock() const { return m_clock; }

    TBrsPlayerState state() const { return m_state; }
    TBrs4PlayerStatus status() const;
    // Notes the sink has received a note-on for and no note-off yet.
    int soundingNotes() const;


private:
    std::int64_t frameOfTime(std::uint64_t time) const;
    std::int64_t frameOfTick(std::int64_t tick) const;
    std::int64_t frameOfEvent(std::size_t index);
    void positionAt(std::int64_t tick);
    void dispatch(const TimelineEvent &event, std::int64_t clock);
    void sendChannel(std::uint8_t status, std::uint8_t data1, std::uint8_t data2, std::int64_t clock,
                     bool fromSong = true);
    void sendChase(const ChaseState &state, std::int64_t clock);
    void silenceAt(std::int64_t clock, bool allNotesOff);
    std::uint8_t scaledVolume(std::uint8_t value) const;
    bool reachEnd(std::int64_t clock);
    // Channels whose voices would get louder or change pitch going from one state to the other.
    std::uint16_t channelsChangingAudibly(const ChaseState &from, const ChaseState &to) const;

    std::shared_ptr<const SmfTimeline> m_timeline;
    MidiSink *m_sink = nullptr;
    std::uint32_t m_rate;
    TBrsPlayerState m_state = BRSSTATE_STOP;
    std::int32_t m_option = 0;
    std::int64_t m_clock = 0;
    std::int64_t m_songFrame = 0;
    std::int64_t m_endFrame = 0;
    std::int64_t m_anchorFrame = 0; // a frame whose tick is known exactly (the last seek)
    std::int64_t m_anchorTick = 0;
    std::size_t m_next = 0;
    std::size_t m_segment = 0;
    std::int32_t m_loopCount = 0;
    std::int64_t m_loopTick = 0;
    std::int64_t m_loopFrame = 0;
    std::array<std::array<std::uint8_t, 128>, 16> m_notes{};
    std::uint16_t m_sustained = 0;
    std::uint16_t m_sostenuto = 0;
    std::uint16_t m_cutAtWrap = 0; // channels that get all-sound-off at the loop wrap
    std::uint16_t m_touchedChannels = 0;
    std::uint8_t m_scratch[3] = {0, 0, 0};
    ChaseState m_chase;     // scratch for seeks
    ChaseState m_loopChase; // the state at the loop point, prepared by play() for the audio thread
};

} // namespace brisola
