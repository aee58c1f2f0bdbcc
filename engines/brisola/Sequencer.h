#pragma once

#include <array>
#include <atomic>
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

// A position in the song: song time × 100 × clock rate, in the tempo map's time units. A clock
// frame at a tempo ratio of p % moves it by p × (time units per second), so a ratio change keeps
// the position exact and rescales only what is still to come.
__extension__ typedef unsigned __int128 SongPosition;

// Plays a timeline into a sink. The sequencer has no clock of its own: the owner advances it
// by a number of clock frames (`rate` frames per second: audio samples for the synthesizer,
// microseconds for the real-time thread, any rate in tests). It is not thread-safe; the engine
// serialises every call.
//
// Timing rule: an event at tick t has the exact time T(t) by the tempo map and is sent at the
// first clock frame at or after it, frame = ceil(T(t) × rate). The position reported for a frame
// is the tick playing at that time (rounded down), so a tick turned into a frame and back is the
// same tick. At a tempo ratio of p %, song time runs p/100 times as fast as the clock from the
// position where the ratio was set; positions and the status stay in song time.
//
// Key shift: notes, note-offs and polyphonic pressure on melodic channels move by the shift;
// channel 10 and channels the song made drum parts (bank MSB 120/126/127 at a program change, or
// a GS rhythm-part / XG part-mode SysEx that was sent) keep their keys. A note-off goes to the
// key its note-on was sent to (after a key change: where the change struck it again); a note-off
// or key pressure for a key not sounding (its note began before a seek, or a silence released
// it) is not sent; a note pushed outside 0–127 is dropped together with its note-off.
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
    // -12 … +12 semitones (clamped). Notes sounding on melodic channels end and are struck again
    // at the new key with their velocity; later notes use the new key. Kept across songs, sinks,
    // seeks and loops.
    void setKeyShift(int semitones);
    int keyShift() const { return m_keyShift; }
    // 50 … 200 percent of the song's tempo (clamped), from the present position on.
    void setTempoRatio(int percent);
    int tempoRatio() const { return m_ratio; }
    // Whether the song has made this channel (0-based) a drum part, as far as sent messages tell.
    bool isDrumChannel(int channel) const;

    // The mixer, per channel (0-based), kept across songs, sinks, seeks and loops like the key
    // shift. A channel is silenced when muted, or when any channel is soloed and it is not: its
    // note-ons are not sent (every other message is, so its state stays the song's), and notes
    // sounding on it are released at once. When it becomes audible again, notes the song holds
    // on a melodic channel are struck anew; drums wait for their next note.
    void setChannelMute(int channel, bool muted);
    void setChannelSolo(int channel, bool soloed);
    // 0 … 100 percent of the song's volume (clamped): every CC 7 sent on the channel is scaled.
    // In the General MIDI volume curve 50 % is −12 dB.
    void setChannelLevel(int channel, int percent);
    bool channelMuted(int channel) const { return (m_muted >> channel) & 1; }
    bool channelSoloed(int channel) const { return (m_soloed >> channel) & 1; }
    int channelLevel(int channel) const { return m_level[std::size_t(channel)]; }
    // Bit n: channel n is silenced by the mute and solo settings.
    std::uint16_t silencedChannels() const
    {
        return std::uint16_t(m_muted | (m_soloed ? ~m_soloed : 0));
    }
    // What the meters show, readable from any thread without the engine's lock.
    TBrs4ChannelStatus channelStatus(int channel) const;

    // The A–B repeat, ticks A < B ≤ the song's end. While it is set, play never passes B: at B
    // it goes on from A with the loop's wrap (sounding notes released, pedals lifted, the state
    // at A chased) in the same audio block; the wrap does not count in LoopCount, so a queue
    // waiting for loop passes waits while the singer practises. A play starting at or after B
    // starts at A, and setting a range behind the playing position goes to A at once. Kept
    // across plays, seeks and sinks; a new song clears it. False (nothing changed) without a
    // song, for A < 0, B ≤ A, B past the end, or a range shorter than 10 ms (as a loop).
    bool setRepeat(std::int64_t startTick, std::int64_t endTick);
    void clearRepeat() { m_repeatEndTick = -1; }
    bool repeating() const { return m_repeatEndTick >= 0; }
    std::int64_t repeatStartTick() const { return m_repeatStartTick; }
    std::int64_t repeatEndTick() const { return m_repeatEndTick; }

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
    SongPosition positionOfTime(std::uint64_t time) const { return SongPosition(time) * 100 * m_rate; }
    SongPosition positionOfFrame(std::int64_t songFrame) const;
    SongPosition positionOfEvent(std::size_t index);
    // Clock frames from the position until `target` is reached at the present ratio (0 if passed).
    std::int64_t framesUntil(SongPosition target) const;
    std::uint64_t timeOfPosition(SongPosition position) const;
    void positionAt(std::int64_t tick);
    void dispatch(const TimelineEvent &event, std::int64_t clock);
    void sendChannel(std::uint8_t status, std::uint8_t data1, std::uint8_t data2, std::int64_t clock,
                     bool fromSong = true);
    void sendSongNote(std::uint8_t status, std::uint8_t key, std::uint8_t value, std::int64_t clock);
    void releaseStruck(int channel, int key, std::int64_t clock);
    void sendSysEx(const TimelineEvent &event, std::int64_t clock);
    void resetDrumParts();
    void publishChannel(int channel);
    void applySilence(std::uint16_t wasSilenced);
    std::uint8_t leveledVolume(int channel, std::uint8_t value) const;
    void sendChase(const ChaseState &state, std::int64_t clock);
    void silenceAt(std::int64_t clock, bool allNotesOff);
    std::uint8_t scaledVolume(std::uint8_t value) const;
    bool reachEnd(std::int64_t clock);
    // The state at A and the channels to cut at B, for the options of the present play.
    void prepareRepeat();
    void wrapToRepeatStart(std::int64_t clock);
    // Channels whose voices would get louder or change pitch going from one state to the other.
    std::uint16_t channelsChangingAudibly(const ChaseState &from, const ChaseState &to) const;

    std::shared_ptr<const SmfTimeline> m_timeline;
    MidiSink *m_sink = nullptr;
    std::uint32_t m_rate;
    TBrsPlayerState m_state = BRSSTATE_STOP;
    std::int32_t m_option = 0;
    std::int64_t m_clock = 0;
    SongPosition m_position = 0;
    SongPosition m_endPosition = 0;
    std::int64_t m_endFrame = 0;       // the end in song frames (clock frames at 100 %)
    SongPosition m_anchorPosition = 0; // a position whose tick is known exactly (the last seek)
    std::int64_t m_anchorTick = 0;
    int m_ratio = 100;
    int m_keyShift = 0;
    std::size_t m_next = 0;
    std::size_t m_segment = 0;
    std::int32_t m_loopCount = 0;
    std::int64_t m_loopTick = 0;
    std::int64_t m_loopFrame = 0;
    std::array<std::array<std::uint8_t, 128>, 16> m_notes{}; // note-ons per sent key not yet ended
    // Per channel and song key: where its sounding note-ons went (-1: dropped, outside 0-127),
    // how many, whether they were shifted (struck on a melodic channel), and whether they are
    // held silent by the mixer (not sent, or released at a mute) with the velocity to strike
    // them with when the channel is heard again.
    struct Struck {
        std::int8_t key = 0;
        std::uint8_t count = 0;
        bool shifted = false;
        bool silent = false;     // struck while its channel was muted: nothing was sent
        std::uint8_t velocity = 0; // of the last strike, for striking it again (key change, unmute)
    };
    std::array<std::array<Struck, 128>, 16> m_struck{};
    std::array<std::uint8_t, 16> m_bankMsb{}; // last bank select MSB sent per channel
    std::uint16_t m_drumByProgram = 0;        // drum kit chosen by bank at the last program change
    std::uint16_t m_drumBySysEx = 0;          // made a drum part by GS/XG SysEx
    std::uint16_t m_sustained = 0;
    std::uint16_t m_sostenuto = 0;
    std::uint16_t m_cutAtWrap = 0; // channels that get all-sound-off at the loop wrap
    std::uint16_t m_touchedChannels = 0;
    std::uint16_t m_muted = 0;
    std::uint16_t m_soloed = 0;
    std::uint16_t m_sustainLifted = 0;   // pedals the mixer lifted at a mute, pressed again at unmute
    std::uint16_t m_sostenutoLifted = 0;
    std::array<std::uint8_t, 16> m_level = filledLevels();
    std::array<std::int16_t, 16> m_volumeSent{}; // the song's CC 7 last sent, before the level; -1 none
    std::array<std::uint8_t, 16> m_bankLsb{};
    std::array<std::uint8_t, 16> m_program{};       // last program change sent
    std::array<std::uint16_t, 16> m_programBanks{}; // bank MSB << 8 | LSB at it
    std::uint16_t m_programSent = 0;
    std::array<std::uint8_t, 16> m_sounding{};
    std::array<std::uint32_t, 16> m_noteOns{};
    std::array<std::uint8_t, 16> m_lastVelocity{};
    // Published copies of the channel facts (two words each), for readers without the lock.
    std::array<std::atomic<std::uint64_t>, 32> m_published{};
    static std::array<std::uint8_t, 16> filledLevels()
    {
        std::array<std::uint8_t, 16> levels;
        levels.fill(100);
        return levels;
    }
    std::uint8_t m_scratch[3] = {0, 0, 0};
    ChaseState m_chase;     // scratch for seeks
    ChaseState m_loopChase; // the state at the loop point, prepared by play() for the audio thread
    std::int64_t m_repeatStartTick = 0;
    std::int64_t m_repeatEndTick = -1; // -1: no A–B repeat
    std::size_t m_repeatEndIndex = 0;  // the first event at or after B: never sent while repeating
    SongPosition m_repeatEndPosition = 0;
    std::uint16_t m_cutAtRepeat = 0;   // like m_cutAtWrap, for the wrap from B to A
    std::int32_t m_repeatOption = 0;   // the play options the two above were prepared for
    ChaseState m_repeatChase;          // the state at A, prepared for the audio thread
};

} // namespace brisola
