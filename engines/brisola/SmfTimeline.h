#pragma once

#include <algorithm>
#include <cstdint>
#include <memory>
#include <new>
#include <vector>

#include "../Brisola.h"

namespace brisola {

// One event of the merged song. Channel messages keep their bytes inline; SysEx refers to the
// timeline's byte pool; tempo changes carry their microseconds per quarter note in `value`.
struct TimelineEvent {
    enum Kind : std::uint8_t { Channel, SysEx, Tempo };

    std::uint32_t tick = 0;
    std::uint32_t value = 0;  // SysEx: offset in the pool; Tempo: µs per quarter note
    std::uint32_t length = 0; // SysEx: byte count; Channel: 2 or 3
    std::uint8_t bytes[3] = {0, 0, 0};
    Kind kind = Channel;
};
static_assert(sizeof(TimelineEvent) == 16, "keep events small: a 10 MB song holds millions");

// The merged events: an array written once by the reader, then only read. Its storage is left
// uninitialised until the reader writes every element (a std::vector would zero the tens of MB
// of a large song first, only for them to be overwritten).
class EventList {
public:
    std::size_t size() const { return m_size; }
    bool empty() const { return m_size == 0; }
    const TimelineEvent &operator[](std::size_t index) const { return m_data[index]; }
    const TimelineEvent *data() const { return m_data.get(); }
    const TimelineEvent *begin() const { return m_data.get(); }
    const TimelineEvent *end() const { return m_data.get() + m_size; }

private:
    friend class SmfTimeline;
    struct Release {
        std::size_t alignment; // non-zero: the storage was allocated with this alignment (0 when value-initialised)
        void operator()(TimelineEvent *events) const
        {
            if (alignment)
                ::operator delete(events, std::align_val_t(alignment));
            else
                ::operator delete(events);
        }
    };
    // Raw storage for `size` events: TimelineEvent is an aggregate, so the events exist as soon
    // as the storage does and each is assigned before anything reads it.
    explicit EventList(std::size_t size);
    EventList() = default;

    std::unique_ptr<TimelineEvent[], Release> m_data;
    std::size_t m_size = 0;
};

// Tempo change with the exact time it starts at, in units of 1/timeBase µs (an integer, so
// that tick-to-time conversions never accumulate rounding).
struct TempoSegment {
    std::uint32_t tick = 0;
    std::uint32_t usPerQuarter = 500000;
    std::uint64_t startTime = 0; // µs × timeBase
};

struct SongFacts {
    std::int32_t timeBase = 0;
    std::int32_t totalTick = 0;
    std::int32_t firstNoteTick = 0;
    std::int32_t lastNoteTick = 0;
    std::int32_t loopTick = -1;
    std::uint8_t largestVolume = 0; // largest CC 7 value anywhere, 0 when the song has none
    std::uint16_t usedChannels = 0; // bit n: channel n carries at least one event
};

// An instrument a song plays: the bank select and program in effect on a channel when it changes
// program (or the channel's start-up program 0 on bank 0), first at `firstTick`.
struct ProgramUse {
    std::uint8_t channel = 0;
    std::uint8_t bankMsb = 0;
    std::uint8_t bankLsb = 0;
    std::uint8_t program = 0;
    std::uint32_t firstTick = 0;
};

// Whether a complete SysEx message (F0 … F7) resets a device to its power-on state: GM System
// On/Off, GM2 System On, GS Reset, GS System Mode Set, XG System On.
bool isResetSysEx(const std::uint8_t *data, std::uint32_t size);

// A Standard MIDI File read into one tick-ordered event list (tracks merged; events of equal
// tick keep file order: earlier track first, then their order in the track, except that the
// resets of a tick come first) and one merged tempo map. Immutable once read, so the audio
// thread may walk it without locks.
class SmfTimeline {
public:
    // Reads `size` bytes. On failure returns null and sets `error` to BRSERROR_NOSMF (not an
    // SMF), BRSERROR_BADSMF (header cut or malformed, division 0, format above 2, or not one
    // track chunk where the header announces tracks) or BRSERROR_UNMATCHED_SMF (format 2,
    // time-code division). Damage inside tracks is passed over (see walkTracks). Never reads
    // outside the bytes.
    static std::shared_ptr<const SmfTimeline> read(const std::uint8_t *data, std::size_t size,
                                                   BrsError &error);

    const EventList &events() const { return m_events; }
    const std::uint8_t *pool() const { return m_pool.data(); }
    const std::vector<TempoSegment> &tempoMap() const { return m_tempo; }
    const SongFacts &facts() const { return m_facts; }
    // Indices of the SysEx events in event order, so that a chase replays them without a scan.
    const std::vector<std::uint32_t> &sysExIndices() const { return m_sysEx; }

    // Exact time of a tick in µs × timeBase; ticks past the last tempo change extrapolate.
    std::uint64_t timeOfTick(std::int64_t tick) const;
    // Index of the tempo segment holding `tick` (the last one starting at or before it).
    std::size_t segmentOfTick(std::int64_t tick) const;
    // The tick playing at a time in µs × timeBase (rounded down).
    std::int64_t tickOfTime(std::uint64_t time) const;
    std::uint32_t tempoAtTick(std::int64_t tick) const { return m_tempo[segmentOfTick(tick)].usPerQuarter; }
    // Milliseconds of a tick by the tempo map (rounded down); -1 stays -1.
    std::int32_t millisecondsOfTick(std::int32_t tick) const;
    // Index of the first event at or after `tick`.
    std::size_t firstEventAtOrAfter(std::int64_t tick) const;

    TBrs4SmfInformation information() const;
    // Every distinct instrument the song selects, in the order of first use.
    const std::vector<ProgramUse> &programUses() const { return m_programUses; }

private:
    EventList m_events;
    std::vector<std::uint8_t> m_pool;
    std::vector<TempoSegment> m_tempo;
    std::vector<std::uint32_t> m_sysEx;
    std::vector<ProgramUse> m_programUses;
    SongFacts m_facts;
};

} // namespace brisola
